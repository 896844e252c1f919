// AMR magic lines and Atari load-file segment walk, byte-built.
#include "MediaTestKit.h"
#include "formats/media/AMRFTAUtils.h"
#include "formats/media/AtariFTAUtils.h"

using namespace mediatest;

TEST(AMR, MagicLines) {
    auto probe = [](const std::string& s) { return AMRFTAUtils::isAMRFileBased(mem(Bytes(s.begin(), s.end()))); };
    EXPECT_EQ(probe("#!AMR\n"), 16);
    EXPECT_EQ(probe("#!AMR"), 0);
    EXPECT_EQ(probe("#!AMR_MC1.0\n"), 0);  // below 13 bytes only the first 6 are read
    EXPECT_EQ(probe("#!AMR_MC1.0\n\x01"), 16);
    EXPECT_EQ(probe("#!AMR-WB\n\x01\x02\x03\x04"), 0);
}

namespace {

// FF FF, then segments [start, end] with their data; marker before every segment when asked.
Bytes xex(std::initializer_list<std::pair<uint16_t, uint16_t>> segments, bool markers = false, int trim = 0) {
    ByteBuilder b;
    for (auto& s : segments) {
        if (b.bytes.empty() || markers) b.le16(0xFFFF);
        b.le16(s.first).le16(s.second).fill(static_cast<size_t>(s.second) - s.first + 1, 0xEA);
    }
    if (trim < 0) b.bytes.resize(b.bytes.size() + trim);
    if (trim > 0) b.fill(trim, 0x01);
    return b.bytes;
}

AtariType probe(const Bytes& b) { return AtariFTAUtils::isAtariFileBased(mem(b)); }

}  // namespace

TEST(Atari, SegmentWalk) {
    EXPECT_EQ(probe(xex({{0x2000, 0x20FF}})), ATARI_ACCEPTED);  // ends exactly at the end of the file
    EXPECT_EQ(probe(xex({{0x2000, 0x1FFF}})), ATARI_DAMAGED);
    EXPECT_EQ(probe(xex({{0x2000, 0x2009}}, false, -6)), ATARI_DAMAGED);  // length equals the size
    EXPECT_EQ(probe({0x00, 0x20, 0x00, 0x20}), ATARI_NONE);
    EXPECT_EQ(probe(xex({{0x2000, 0x2003}, {0x3000, 0x3003}}, true, 5)), ATARI_ACCEPTED);  // later marker
    EXPECT_EQ(probe(xex({{0x2000, 0x2003}, {0x3000, 0x30FF}}, false, -1)), ATARI_DAMAGED);
    // Six segments: the count reaches 5 after the first, whatever follows.
    EXPECT_EQ(
        probe(xex({{0, 1}, {2, 3}, {0x2200, 0x2201}, {0x2300, 0x2301}, {0x2400, 0x2401}, {0x2500, 0x2501}}, false, 1)),
        ATARI_ACCEPTED);
    // Reaching the run vector (0x2E0) or init vector (0x2E2) decides at once; the limits sit
    // one byte low, so a segment ending at 0x2DF counts.
    const std::pair<uint16_t, uint16_t> second[] = {
        {0x2E0, 0x2E1}, {0x2D0, 0x2DF}, {0x2E3, 0x2F0}, {0x2D0, 0x2DE}, {0x2E4, 0x2F0}};
    for (size_t i = 0; i < 5; ++i)
        EXPECT_EQ(probe(xex({{0x2000, 0x2001}, second[i]}, false, 1)), i < 3 ? ATARI_ACCEPTED : ATARI_DAMAGED) << i;
}
