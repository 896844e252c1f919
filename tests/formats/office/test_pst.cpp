// Outlook store header check on headers written byte by byte.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "core/ByteSource.h"
#include "formats/office/PSTFTAUtils.h"

namespace {

// A store header: ANSI (wVer 14) puts the sentinel at 460, Unicode (wVer 23) at 512.
std::vector<uint8_t> pstHeader(uint16_t wVer, size_t fileSize, uint8_t crypt = 0) {
    std::vector<uint8_t> b(fileSize, 0);
    const bool unicode = wVer != 14 && wVer != 15;
    const uint8_t head[] = {'!', 'B', 'D', 'N', 0xAA, 0xBB, 0xCC, 0xDD, 'S', 'M'};
    for (size_t i = 0; i < sizeof(head) && i < b.size(); ++i) b[i] = head[i];
    if (b.size() > 15) {
        b[10] = static_cast<uint8_t>(wVer);
        b[11] = static_cast<uint8_t>(wVer >> 8);
        b[12] = 19;
        b[14] = 1;
        b[15] = 1;
    }
    size_t sentinel = unicode ? 512 : 460;
    if (b.size() > sentinel + 1) {
        b[sentinel] = 0x80;
        b[sentinel + 1] = crypt;
    }
    return b;
}

bool isPst(const std::vector<uint8_t>& b) { return PSTFTAUtils::isPSTFileBased(kiv::MemoryByteSource(b)); }

}  // namespace

TEST(PstHeader, LayoutsSizesAndFields) {
    struct Case {
        const char* what;
        std::vector<uint8_t> bytes;
        bool expected;
    };
    std::vector<Case> cases = {
        {"ANSI 512", pstHeader(14, 512), true},
        {"ANSI wVer 15", pstHeader(15, 600), true},
        {"ANSI 511", pstHeader(14, 511), false},
        {"Unicode 563", pstHeader(23, 563), false},
        {"Unicode 564", pstHeader(23, 564), true},
        {"crypt 0x10", pstHeader(23, 564, 0x10), true},
        {"crypt 2", pstHeader(14, 512, 2), true},
        {"crypt 3", pstHeader(23, 564, 3), false},
        {"empty", {}, false},
    };
    auto edit = [&](const char* what, std::vector<uint8_t> b, size_t off, uint8_t v) {
        b[off] = v;
        cases.push_back({what, std::move(b), false});
    };
    edit("platform access 0", pstHeader(23, 564), 15, 0);
    edit("platform create 2", pstHeader(14, 512), 14, 2);
    edit("client magic", pstHeader(14, 512), 9, 'X');
    edit("magic", pstHeader(14, 512), 0, '?');
    edit("ANSI sentinel", pstHeader(14, 512), 460, 0x81);
    // The Unicode sentinel sits at 512, not at 460.
    edit("Unicode sentinel", pstHeader(23, 564), 512, 0);
    for (const Case& c : cases) EXPECT_EQ(isPst(c.bytes), c.expected) << c.what;

    PSTHeader h;
    ASSERT_TRUE(PSTFTAUtils::readPSTHeader(kiv::MemoryByteSource(pstHeader(23, 600, 1)), h));
    EXPECT_TRUE(h.unicode);
    EXPECT_EQ(h.wVer, 23);
    EXPECT_EQ(h.wVerClient, 19);
    EXPECT_EQ(h.dwCRCPartial, 0xDDCCBBAAu);
    EXPECT_EQ(h.bCryptMethod, 1);
    EXPECT_FALSE(PSTFTAUtils::readPSTHeader(kiv::MemoryByteSource(pstHeader(14, 20)), h));
}

TEST(PstHeader, FromPath) {
    std::string path = ::testing::TempDir() + "kiv_store.pst";
    std::vector<uint8_t> b = pstHeader(23, 1024);
    FILE* fp = fopen(path.c_str(), "wb");
    ASSERT_NE(fp, nullptr);
    fwrite(b.data(), 1, b.size(), fp);
    fclose(fp);
    EXPECT_TRUE(PSTFTAUtils::isPSTFileBased(path, b.size()));
    std::remove(path.c_str());
    EXPECT_FALSE(PSTFTAUtils::isPSTFileBased(path, 1024));
    EXPECT_FALSE(PSTFTAUtils::isPSTFileBased(::testing::TempDir(), 4096));  // a directory
}
