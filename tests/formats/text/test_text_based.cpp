// Text stage: markup classification, the order of the three checks, result rows, and files
// that are large, oddly encoded, unreadable or not regular.

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <random>

#include "TextTestUtil.h"
#include "core/ByteUtils.h"
#include "core/TypeTables.h"
#include "formats/text/TextBasedFTAUtils.h"

namespace {

using S = std::vector<std::string>;

struct ClassCase {
    const char* what;
    std::string text;
    int code;
};

void PrintTo(const ClassCase& c, std::ostream* os) { *os << c.what; }

class TextClassification : public testing::TestWithParam<ClassCase> {};

TEST_P(TextClassification, Code) {
    auto src = texttest::mem(GetParam().text);
    EXPECT_EQ(static_cast<int>(TextBasedFTAUtils::isTextBased(src)), GetParam().code);
}

const std::string kXhtml =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
    "<!DOCTYPE html PUBLIC \"-//W3C//DTD XHTML 1.0 Strict//EN\" "
    "\"http://www.w3.org/TR/xhtml1/DTD/xhtml1-strict.dtd\">\n"
    "<html xmlns=\"http://www.w3.org/1999/xhtml\"><head><title>t</title></head>\n"
    "<body><p>x</p></body></html>\n";

INSTANTIATE_TEST_SUITE_P(
    Markup, TextClassification,
    testing::Values(
        ClassCase{"two tags are too few", "<html></html>", 0},
        ClassCase{"html page", "<!DOCTYPE html>\n<html><head><title>x</title></head><body></body></html>", 4},
        ClassCase{"xhtml falls to the share test", kXhtml, 4},
        ClassCase{"declaration makes xml", "<?xml version=\"1.0\"?>\n<root><item/></root>", 11},
        ClassCase{"declaration then html tags is still xml",
                  "<?xml version=\"1.0\"?><html><body><p>x</p></body></html>", 11},
        ClassCase{"svg without prolog", "<svg xmlns=\"http://www.w3.org/2000/svg\"><rect/></svg>", 9},
        ClassCase{"svg:svg after doctype", "<!DOCTYPE svg><svg:svg><svg:g/></svg:svg>", 9},
        ClassCase{"aiml", "<?xml version=\"1.0\"?><aiml><category/></aiml>", 1},
        ClassCase{"atom", "<?xml version=\"1.0\"?><feed xmlns=\"http://www.w3.org/2005/Atom\"><id/></feed>", 2},
        ClassCase{"gpx", "<gpx version=\"1.1\"><trk></trk></gpx>", 3},
        ClassCase{"rdf", "<rdf:RDF><rdf:Description/></rdf:RDF>", 6},
        ClassCase{"relationships", "<?xml version=\"1.0\"?><Relationships><Relationship Id=\"rId1\"/></Relationships>", 7},
        ClassCase{"rss", "<rss version=\"2.0\"><channel></channel></rss>", 8},
        ClassCase{"zir", "<car><construction/></car>", 12},
        ClassCase{"collada", "<?xml version=\"1.0\"?><COLLADA><asset/></COLLADA>", 17},
        ClassCase{"lower-case collada is plain xml", "<collada><asset/></collada>", 11},
        ClassCase{"visio drawing", "<VisioDocument><DocumentProperties/></VisioDocument>", 18},
        ClassCase{"visio root judged by the next tag", "<visiodocument><svg></svg></visiodocument>", 9},
        ClassCase{"three fifths html is html", "<html><p><b><zz></zz>", 4},
        ClassCase{"two fifths html is xml", "<html><p><zz></zz><qq>", 11},
        ClassCase{"one-letter names count neither way", "<x><y><z></z>", 0},
        ClassCase{"vml fragment", "<xml><v:shapetype/><o:p/><zz/></xml>", 10},
        ClassCase{"vml under another root", "<w><v:shapetype/><o:p/><zz/></w>", 11},
        ClassCase{"vml with declaration", "<?xml version=\"1.0\"?><xml><v:shapetype/><zz/></xml>", 11},
        ClassCase{"php page", "<html><body><?php echo 1; ?></body></html>", 0},
        ClassCase{"plain text", "Just some words.\nAnd more.\n", 0}));

TEST(TextBased, RootDecisionHelpers) {
    EXPECT_EQ(TextBasedFTAUtils::isXMLBased(S{"!DOCTYPE", "!ENTITY", "VisioDocument"}, S{"a", "b", "c"}), 0);
    EXPECT_EQ(TextBasedFTAUtils::isXMLBased(S{"?xml", "a", "b"}, S{"?xml", "!DOCTYPE html", "b"}), 0);
    EXPECT_EQ(TextBasedFTAUtils::isXMLBased(S{"?xml", "a", "b"}, S{"?xml", "a", "b"}), 11);
    EXPECT_EQ(TextBasedFTAUtils::isXMLBased(S{"?xml", "a"}, S{"?xml", "a"}), 0);

    EXPECT_EQ(TextBasedFTAUtils::getRootElement(S{"?xml", "a", "b", "a"}), "a");
    EXPECT_EQ(TextBasedFTAUtils::getRootElement(S{"?xml", "!DOCTYPE", "a"}), "");
    EXPECT_EQ(TextBasedFTAUtils::getRootElement(S{"a", "b", "A"}), "");
    EXPECT_EQ(TextBasedFTAUtils::getRootElement(S{"?xml"}), "");

    struct {
        const char* fullTag;
        bool change;
    } doctypes[] = {{"!DOCTYPE html", false},       {"!doctype  HTML PUBLIC \"x\"", false},
                    {"  !doctype\thtml\n", false},  {"!DOCTYPE", true},
                    {"!DOCTYPE ", true},            {"!DOCTYPE svg", true},
                    {"!DOCTYPEhtml", true},         {"", true},
                    {"html !DOCTYPE", true}};
    for (const auto& d : doctypes) EXPECT_EQ(TextBasedFTAUtils::shouldChangeToXML(d.fullTag), d.change) << d.fullTag;
}

TEST(TextBased, ConstantSets) {
    EXPECT_EQ(TextBasedFTAUtils::setHtmlTag.size(), 125u);
    EXPECT_EQ(TextBasedFTAUtils::setXMLBasedExt.size(), 59u);
    // Lookups lower-case their key, so an upper-case row could never be found.
    for (const auto* set : {&TextBasedFTAUtils::setHtmlTag, &TextBasedFTAUtils::setVMLTag,
                            &TextBasedFTAUtils::setXMLBasedExt})
        for (const std::string& row : *set)
            for (char c : row) EXPECT_FALSE(c >= 'A' && c <= 'Z') << row;
    EXPECT_TRUE(TextBasedFTAUtils::isHTMLTag("B:IF"));
    EXPECT_FALSE(TextBasedFTAUtils::isHTMLTag("v:shapetype"));
    // The lookup is a hashed index of the rows: every row is found in any case, and a name
    // one byte off (longer, shorter, another letter, a NUL) is not.
    for (const std::string& row : TextBasedFTAUtils::setHtmlTag) {
        EXPECT_TRUE(TextBasedFTAUtils::isHTMLTag(row)) << row;
        EXPECT_TRUE(TextBasedFTAUtils::isHTMLTag(kiv::asciiUpperCopy(row))) << row;
        for (const std::string& near : {row + "x", row.substr(1), row + std::string(1, '\0'), "x" + row,
                                        row.substr(0, row.size() - 1) + "#"})
            if (!TextBasedFTAUtils::setHtmlTag.count(near)) {
                EXPECT_FALSE(TextBasedFTAUtils::isHTMLTag(near)) << near;
            }
    }
    EXPECT_FALSE(TextBasedFTAUtils::isHTMLTag(""));
    EXPECT_FALSE(TextBasedFTAUtils::isHTMLTag("blockquoteblockquote"));
}

TEST(TextBased, ResultRows) {
    struct Row {
        int code;
        const char* type;
        const char* mime;
        const char* ext;
        const char* description;
    } rows[] = {
        {0, "TXT", "text/plain", "txt", "ASCII Text"},
        {1, "AIML", "application/aiml+xml", "aiml,xml", "Artificial Intelligence Markup Language"},
        {2, "ATOM", "application/atom+xml", "atom,xml", "Atom web feed"},
        {3, "GPX", "application/gpx+xml", "gpx,xml", "GPS eXchange Format"},
        {4, "HTML", "text/html", "htm,html", "Hypertext Markup Language"},
        {5, "TXT", "text/plain", "txt", "ASCII Text"},
        {6, "RDF", "application/rdf+xml", "rdf,xml", "Resource Description Framework"},
        {7, "RELS", "application/rels+xml", "rels,xml", "Open Office XML Relationships"},
        {8, "RSS", "application/rss+xml", "rss,xml", "RSS web feed"},
        {9, "SVG", "text/svg", "svg", "Scalable Vector Graphics"},
        {10, "VML", "application/vnd.openxmlformats-officedocument.vmlDrawing", "vml", "Vector Markup Language"},
        {11, "XML", "text/xml", "xml", "Extensible Markup Language"},
        {12, "ZIR", "application/zir+xml", "zir,xml", "Compass and Ruler geometry"},
        {13, "ICS", "text/calendar", "ical,ifb,icalendar,vcs,ics", "Electronic Calendaring and Scheduling (v2.0)"},
        {14, "VCS", "text/calendar", "ical,ifb,icalendar,vcs,ics", "Electronic Calendaring and Scheduling (v1.0)"},
        {15, "EML", "message/rfc822", "eml", "Electronic Mail"},
        {16, "MHT", "application/x-mimearchive", "mht,mhtml", "MIME HTML"},
        {17, "DAE", "model/vnd.collada+xml", "dae", "Digital Asset Exchange"},
        {18, "VDX", "application/visio", "vdx", "Microsoft Visio XML Drawing"},
        {19, "TXT", "text/plain", "txt", "ASCII Text"},
        {255, "TXT", "text/plain", "txt", "ASCII Text"},
    };
    for (const Row& r : rows) {
        std::string type, mime, ext, description;
        TextBasedFTAUtils::adjustTextBasedTypes(static_cast<TextBasedType>(r.code), type, mime, ext, description);
        EXPECT_EQ(type, r.type) << r.code;
        EXPECT_EQ(mime, r.mime) << r.code;
        EXPECT_EQ(ext, r.ext) << r.code;
        EXPECT_EQ(description, r.description) << r.code;
    }
}

// The markup check runs before the calendar check, which runs before the mail check.
TEST(TextBased, OrderOfChecks) {
    const std::string both =
        "BEGIN:VCALENDAR\nVERSION:2.0\nPRODID:x\nFrom: a@example.org\nTo: b@example.org\nSubject: s\n"
        "Date: Mon, 1 Jan 2024 10:00:00 +0000\nMessage-ID: <1@example.org>\nReceived: by host\n"
        "END:VCALENDAR\n\nbody\n";
    auto src = texttest::mem(both);
    EXPECT_EQ(TextBasedFTAUtils::checkTextMIMEComponent(src), TEXT_EML);
    EXPECT_EQ(TextBasedFTAUtils::isTextBased(src), TEXT_ICS);

    auto page = texttest::mem("<html><head></head><body>From: a\nTo: b\n\nx</body></html>");
    EXPECT_EQ(TextBasedFTAUtils::isTextBased(page), TEXT_HTML);
}

TEST(TextBased, EncodingsAndNulBytes) {
    const std::string page = "<html><head><title>t</title></head><body><p>x</p></body></html>\n";
    texttest::TempDir dir;
    auto code = [&](const std::string& name, const std::string& bytes) {
        return static_cast<int>(TextBasedFTAUtils::isTextBased(dir.write(name, bytes)));
    };
    EXPECT_EQ(code("utf8.html", page), 4);
    EXPECT_EQ(code("bom.html", "\xEF\xBB\xBF" + page), 4);
    EXPECT_EQ(code("latin1.html", "<html><body><p>caf\xE9 \xFC</p></body></html>"), 4);
    EXPECT_EQ(code("nul-inside.html", "<html><body>" + std::string(2, '\0') + "<p>x</p></body></html>"), 4);
    EXPECT_EQ(code("nul-first.html", std::string("\0", 1) + page), 0);

    // UTF-16 text of any kind is none of these formats (no byte pattern matches).
    std::string utf16 = "\xFF\xFE";
    for (char c : page) utf16 += std::string{c, '\0'};
    EXPECT_EQ(code("utf16.html", utf16), 0);
    std::string cal16;
    for (char c : std::string("BEGIN:VCALENDAR\r\nVERSION:2.0\r\nPRODID:x\r\nEND:VCALENDAR\r\n"))
        cal16 += std::string{c, '\0'};
    EXPECT_EQ(code("utf16.ics", cal16), 0);
}

// 50 MB without a line break, starting like each kind of text: every check gives up early.
TEST(TextBased, HugeSingleLine) {
    texttest::TempDir dir;
    const std::string filler(50u * 1000 * 1000, 'a');
    for (const char* start : {"", "From: x", "BEGIN:VCALENDAR", "<r>"}) {
        std::string path = dir.write("line.txt", start + filler);
        EXPECT_EQ(TextBasedFTAUtils::isTextBased(path), TEXT_NONE) << start;
    }
}

TEST(TextBased, UnreadableAndIrregularFiles) {
    texttest::TempDir dir;
    EXPECT_EQ(TextBasedFTAUtils::isTextBased(dir.path() + "/missing"), TEXT_NONE);
    EXPECT_EQ(TextBasedFTAUtils::isTextBased(dir.path()), TEXT_NONE);
    std::string fifo = dir.path() + "/fifo";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    EXPECT_EQ(TextBasedFTAUtils::isTextBased(fifo), TEXT_NONE);
    EXPECT_EQ(TextBasedFTAUtils::isTextBased(dir.write("empty", "")), TEXT_NONE);

    // Sources that fail after their first bytes: no answer from half a file, and no endless loop.
    const std::string starts[] = {
        "<html><head><title>t</title></head><body>",
        "BEGIN:VCALENDAR\nVERSION:2.0\nPRODID:x\n",
        "From: a@example.org\nTo: b@example.org\nSubject: s\n",
    };
    for (const std::string& start : starts) {
        texttest::FailingSource src(start, 1 << 20);
        EXPECT_EQ(TextBasedFTAUtils::isTextBased(src), TEXT_NONE) << start;
    }
}

// Corrupting valid texts at random must never crash or read out of bounds (the sanitizer
// build checks the latter); every answer must be a code the stage can give.
TEST(TextBased, CorruptedInputs) {
    const std::string seeds[] = {
        kXhtml,
        "<svg xmlns=\"http://www.w3.org/2000/svg\"><!-- c --><script>a<b</script><rect x=\"1\"/></svg>",
        "BEGIN:VCALENDAR\r\nVERSION:2.0\r\nPRODID:x\r\nBEGIN:VEVENT\r\nUID:1\r\nDTSTART;TZID=A/B:20200101T1"
        "00000\r\nEND:VEVENT\r\nEND:VCALENDAR\r\n",
        "From: a@example.org\nTo: b@example.org\nContent-Type: multipart/related; boundary=\"b1\"\n\n--b1\n"
        "Content-Type: text/html; charset=\"a;b\"\n\n<html></html>\n--b1--\n",
    };
    std::mt19937 rng(1234);
    for (const std::string& seed : seeds) {
        for (int round = 0; round < 300; ++round) {
            std::string text = seed;
            size_t flips = 1 + text.size() / 100;
            for (size_t i = 0; i < flips; ++i) text[rng() % text.size()] = static_cast<char>(rng() & 0xFF);
            if (round % 3 == 0) text.resize(rng() % text.size());
            auto src = texttest::mem(text);
            int code = TextBasedFTAUtils::isTextBased(src);
            EXPECT_TRUE(code <= 18 && code != 5) << code;
        }
    }
}

}  // namespace
