// The Office family's small probes: TNEF by its signature and version attribute, and the kind
// of a compound document by the signature rows of its first sector.
#include "formats/office/OfficeProbes.h"
#include "tests/core/CoreTestKit.h"
#include "tests/formats/archive/ArchiveTestKit.h"

using namespace kit;

TEST(OfficeProbes, Tnef) {
    ByteBuilder head;
    head.le32(0, 0x223E9F78).le16(4, 0x0001).u8(6, 0x01).le32(7, 0x00089006).le32(11, 4).le32(15, 0x00010000).pad(64);
    // Forty bytes at least, and any byte flipped in the signature (0), the version attribute's
    // id (7) or the version (15) is no TNEF; the level and length bytes between do not count.
    for (size_t size = 0; size <= 64; ++size) {
        Bytes b = head.b;
        b.resize(size);
        EXPECT_EQ(isTNEF(mem(b)), size >= 40) << size;
    }
    for (size_t at = 0; at < 20; ++at) {
        Bytes b = head.b;
        b[at] ^= 0x40;
        EXPECT_EQ(isTNEF(mem(b)), !(at < 4 || (at >= 7 && at < 11) || (at >= 15 && at < 19))) << at;
    }
}

TEST(OfficeProbes, CompoundDocumentKindsByTheirFirstSector) {
    kivtest::buildSignatureTables();
    const std::pair<std::string, const char*> cases[] = {
        {std::string("\xEC\xA5\xC1\x00", 4), "DOC"},
        {std::string("\xA0\x46\x1D\xF0", 4), "PPT"},
        {std::string("\xFD\xFF\xFF\xFF\x1c\x00\x00\x00", 8), "PPT"},
        {std::string("\xFD\xFF\xFF\xFF\x02\x00", 6), "XLS"},
        {std::string("\xFD\xFF\xFF\xFF\x02\x02", 6), "XLS"},
        {std::string("\xFD\xFF\xFF\xFF\x02\x01", 6), "PUB"},
        {std::string("\xFD\xFF\xFF\xFF\x04", 5), "SUO"},
        {std::string("\xFD\xFF\xFF\xFF\x00\x04\x00\x00\x00\x99", 10), "DB"},
        {std::string("\x09\x08\x10\x00\x00\x06\x05\x00", 8), "XLS"},
        // The thumbnail row is nine contiguous bytes, not a pattern with gaps.
        {std::string("\xFD\xFF\xFF\xFF\x00", 5) + "1234567" + std::string("\x04\x00\x00\x00", 4), "none"},
    };
    // A row not found leaves the results alone.
    auto kind = [](const Bytes& b) {
        Result r{"keep", "keep", "keep", "keep"};
        if (findMagicSignatureFallback(mem(b), r.typeId, r.mime, r.description, r.extensions)) return r.typeId;
        EXPECT_EQ(r.typeId + r.mime + r.description + r.extensions, "keepkeepkeepkeep");
        return std::string("none");
    };
    const std::string header("\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1", 8);
    for (const auto& [pattern, typeId] : cases) {
        ByteBuilder file;
        file.str(0, header).str(512, pattern).pad(1024);
        EXPECT_EQ(kind(file.b), typeId);
        file.b[0] = 0;  // no compound-file header
        EXPECT_EQ(kind(file.b), "none") << typeId;
    }
    // The pattern cut by the end of the file.
    EXPECT_EQ(kind(ByteBuilder().str(0, header).str(512, std::string("\xEC\xA5\xC1", 3)).b), "none");
}
