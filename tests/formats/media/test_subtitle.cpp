// PAC and 890 subtitle probes, byte-built (no Debian tool writes these formats).
#include "MediaTestKit.h"
#include "formats/media/SubtitleFTAUtils.h"

using namespace mediatest;

TEST(Subtitle, PacHeadTrailerAndSize) {
    auto pac = [](size_t size, const std::string& text, uint8_t byte23 = 0x60) {
        ByteBuilder b;
        b.u8(0x01).padTo(23).u8(byte23).padTo(size - 31).u8(0xFF).fill(11).u8(0x11).u8(0x00).str(text);
        return SubtitleFTAUtils::isSubtitle(mem(b.bytes));
    };
    EXPECT_EQ(pac(66, "dummy end of file"), SUBTITLE_PAC);
    EXPECT_EQ(pac(65, "dummy end of file"), SUBTITLE_NONE);
    EXPECT_EQ(pac(66, "Dummy end of file"), SUBTITLE_NONE);
    EXPECT_EQ(pac(400, "dummy end of file", 0x61), SUBTITLE_NONE);
}

TEST(Subtitle, File890SizeAndMarkers) {
    auto s890 = [](size_t size, uint8_t third, uint8_t byte145 = 0) {
        ByteBuilder b;
        b.u8(0).u8(0).u8(third).padTo(144, 0x41).u8(0).u8(byte145).padTo(172, 0x41).u8(0x08).u8(0x90).padTo(size, 0x20);
        b.bytes[174] = b.bytes[175] = 0;
        return SubtitleFTAUtils::isSubtitle(mem(b.bytes));
    };
    EXPECT_EQ(s890(512, 0x00), SUBTITLE_890);
    EXPECT_EQ(s890(528, 0x20), SUBTITLE_890);
    EXPECT_EQ(s890(520, 0x00), SUBTITLE_NONE);
    EXPECT_EQ(s890(496, 0x00), SUBTITLE_NONE);
    EXPECT_EQ(s890(512, 0x10), SUBTITLE_NONE);
    EXPECT_EQ(s890(512, 0x00, 1), SUBTITLE_NONE);
}
