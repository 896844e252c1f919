// Media containers by their first bytes and ftyp brand, and the results of the image and
// subtitle codes.
#include <gtest/gtest.h>

#include "core/TypeTables.h"
#include "formats/media/ImageFTAUtils.h"
#include "formats/media/MediaContainerFileType.h"
#include "formats/media/SubtitleFTAUtils.h"

TEST(MediaContainer, FirstBytesAndBrands) {
    auto box = [](const std::string& brand, const std::string& type = "ftyp") {
        return std::string("\0\0\0\x18", 4) + type + brand + std::string(8, '\0');
    };
    const std::pair<std::string, MediaContainerFileType> cases[] = {
        {box("3gp5"), MEDIA_CONTAINER_3GP},
        {box("kddi"), MEDIA_CONTAINER_3GP},
        {box("3gp5", "moov"), MEDIA_CONTAINER_NONE},
        {box("3gp8"), MEDIA_CONTAINER_NONE},
        {box("3g2b"), MEDIA_CONTAINER_3G2},
        {box("qt  "), MEDIA_CONTAINER_MOV},
        {box("M4VH"), MEDIA_CONTAINER_M4V},
        {box(std::string("M4A\0", 4)), MEDIA_CONTAINER_M4A},
        {box("M4A "), MEDIA_CONTAINER_M4A},
        {box("M4AX"), MEDIA_CONTAINER_NONE},
        {box("M4B "), MEDIA_CONTAINER_M4B},
        {box(std::string("M4P\0", 4)), MEDIA_CONTAINER_M4P},
        {box("isom"), MEDIA_CONTAINER_MP4},
        {box("ndxs"), MEDIA_CONTAINER_MP4},
        {std::string("\0\0\x01\xBA", 4) + std::string(8, 'x'), MEDIA_CONTAINER_MPEG},
        {std::string("\0\0\x01\xB3", 4) + std::string(8, 'x'), MEDIA_CONTAINER_MPEG},
        {std::string("\0\0\x01\xC0", 4) + std::string(8, 'x'), MEDIA_CONTAINER_NONE},
        {std::string("RIFF\x10\0\0\0CDXA", 12), MEDIA_CONTAINER_MPG},
        {std::string("RIFF\x10\0\0\0CDX", 11), MEDIA_CONTAINER_NONE},  // 11 bytes
    };
    for (const auto& [head, code] : cases)
        EXPECT_EQ(determineMediaContainerType(kiv::MemoryByteSource(std::vector<uint8_t>(head.begin(), head.end()))),
                  code)
            << ::testing::PrintToString(head);
}

// Every code, known or not, gives a row whose type id has a description (a missing one would
// fail the whole scan).
TEST(MediaResultRows, EveryCodeGivesADescribedRow) {
    for (int code = 0; code <= 255; ++code) {
        const auto c = static_cast<uint8_t>(code);
        std::string t[2], m[2], e[2], d[2];
        adjustImageTypes(c, t[0], m[0], e[0], d[0]);
        adjustSubtitleTypes(c, t[1], m[1], e[1], d[1]);
        for (int i = 0; i < 2; ++i) EXPECT_EQ(d[i], FileTypeDescription.at(t[i])) << code;
        if (code == 1 || code > 9) {  // 1: a PNG with broken chunks
            EXPECT_EQ(t[0], "data") << code;
        }
        if (code == 0 || code > 2) {
            EXPECT_EQ(t[1], "data") << code;
        }
    }
}
