// The text family's small probes: RTF by its opening control word, and SVG, RDF or HTML by
// the closing tag in the last 20 bytes.
#include <gtest/gtest.h>

#include "TextTestUtil.h"
#include "formats/text/TextProbes.h"

using texttest::mem;

TEST(TextProbes, RtfAndClosingTags) {
    EXPECT_TRUE(isRTF(mem("{\\rtf1\\ansi}")));
    EXPECT_TRUE(isRTF(mem("{\\rtf")));
    EXPECT_FALSE(isRTF(mem("{\\rt")));
    EXPECT_FALSE(isRTF(mem("{\\RTF1")));

    const std::pair<std::string, int> tags[] = {
        {"<svg>...</svg>\n", 1},
        {"<x/></rdf:RDF>\n", 2},
        {"</r:RDF>", 2},
        {"</RDF>\r\n", 2},
        {"<html></html>\n", 3},
        {"</svg></html>", 1},
        {"</svg>" + std::string(15, ' '), 0},  // further than 20 bytes from the end
        {"<a/>", 0},
        {"", 0},
    };
    for (const auto& [text, code] : tags) EXPECT_EQ(detemineSVGorRDForHTML(mem(text)), code) << text;
}
