// The Office family's small probes: TNEF by its signature and version attribute, and the kind
// of a compound document by the signature rows of its first sector.
#include "formats/office/OfficeProbes.h"
#include "tests/core/CoreTestKit.h"
#include "tests/formats/archive/ArchiveTestKit.h"

using namespace kit;

namespace {

// A compound-file header and the given bytes at 512.
Bytes cfb(const std::string& at512, size_t size = 1024) {
    ByteBuilder b;
    b.str(0, std::string("\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1", 8)).str(512, at512).pad(size);
    return b.b;
}

Bytes tnef() {
    ByteBuilder b;
    b.le32(0, 0x223E9F78).le16(4, 0x0001).u8(6, 0x01).le32(7, 0x00089006).le32(11, 4).le32(15, 0x00010000);
    return b.pad(64).b;
}

}  // namespace

TEST(OfficeProbes, Tnef) {
    EXPECT_TRUE(isTNEF(mem(tnef())));
    Bytes shortTnef = tnef();
    shortTnef.resize(39);
    EXPECT_FALSE(isTNEF(mem(shortTnef)));
    for (size_t field : {0u, 7u, 15u}) {
        Bytes b = tnef();
        b[field + 1] ^= 0x40;
        EXPECT_FALSE(isTNEF(mem(b))) << field;
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
    };
    for (const auto& [pattern, typeId] : cases) {
        Result r;
        ASSERT_TRUE(findMagicSignatureFallback(mem(cfb(pattern)), r.typeId, r.mime, r.description, r.extensions))
            << typeId;
        EXPECT_EQ(r.typeId, typeId);
    }
    Result r{"keep", "keep", "keep", "keep"};
    // The thumbnail row is nine contiguous bytes, not a pattern with gaps.
    const std::string gapped = std::string("\xFD\xFF\xFF\xFF\x00", 5) + "1234567" + std::string("\x04\x00\x00\x00", 4);
    EXPECT_FALSE(findMagicSignatureFallback(mem(cfb(gapped)), r.typeId, r.mime, r.description, r.extensions));
    // No compound-file header, or the pattern cut by the end of the file.
    Bytes noHeader = cfb(std::string("\xEC\xA5\xC1\x00", 4));
    noHeader[0] = 0;
    EXPECT_FALSE(findMagicSignatureFallback(mem(noHeader), r.typeId, r.mime, r.description, r.extensions));
    Bytes cut = cfb(std::string("\xEC\xA5\xC1\x00", 4));
    cut.resize(515);
    EXPECT_FALSE(findMagicSignatureFallback(mem(cut), r.typeId, r.mime, r.description, r.extensions));
    EXPECT_EQ(r.typeId + r.mime + r.description + r.extensions, "keepkeepkeepkeep");
}
