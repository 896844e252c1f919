// Split archive volumes: which extensions look like volume numbers, and the per-type volume
// tests on byte-written headers (pieces made by zip -s, 7za -v and split are scanned by the
// engine's end-to-end tests).
#include "ArchiveTestKit.h"
#include "formats/archive/SplitArchive.h"

using namespace kit;

namespace {

bool splitBy(bool (*test)(const kiv::ByteSource&, const unsigned long&), const Bytes& b) {
    return test(mem(b), b.size());
}

// A 7z start header whose next header lies at 32 + offset and is size bytes long.
Bytes sevenZip(uint64_t offset, uint64_t size, size_t fileSize) {
    ByteBuilder z(fileSize);
    z.put(0, "7z\xBC\xAF\x27\x1C", 6).u8(7, 4);
    z.le32(12, uint32_t(offset))
        .le32(16, uint32_t(offset >> 32))
        .le32(20, uint32_t(size))
        .le32(24, uint32_t(size >> 32));
    return z.b;
}

}  // namespace

TEST(SplitExtension, DigitsWithoutLaterLetters) {
    for (const char* yes : {"001", "R00", "Z01", "MP3", "A1", "0", "PART1", "1_2", "1\xE9",
                            "\xC3\xA9"
                            "1"})
        EXPECT_TRUE(SplitArchive::isSplitExtension(yes)) << yes;
    for (const char* no : {"", "1A", "7Z", "ZIP", "TAR", "Z01A", "\xC3\xA9"})
        EXPECT_FALSE(SplitArchive::isSplitExtension(no)) << no;
}

TEST(SplitVolumeTests, ByteWrittenHeaders) {
    // ZIP: only the last volume holds the end record.
    ByteBuilder zip;
    zip.le32(0, 0x04034B50).pad(200);
    EXPECT_TRUE(splitBy(SplitArchive::isSplitZip, zip.b));
    zip.le32(200, 0x06054B50).pad(222);
    EXPECT_FALSE(splitBy(SplitArchive::isSplitZip, zip.b));
    EXPECT_TRUE(splitBy(SplitArchive::isSplitZip, {}));

    // tar: up to 1024 bytes is always a piece; beyond, the two zero end blocks decide.
    EXPECT_TRUE(splitBy(SplitArchive::isSplitTar, Bytes(1024, 0)));
    EXPECT_FALSE(splitBy(SplitArchive::isSplitTar, Bytes(1025, 0)));
    Bytes tar(10240, 0);
    tar[0] = 'x';
    EXPECT_FALSE(splitBy(SplitArchive::isSplitTar, tar));
    tar[10240 - 1024] = 1;
    EXPECT_TRUE(splitBy(SplitArchive::isSplitTar, tar));
    // A size beyond the readable bytes leaves the whole-archive verdict.
    EXPECT_FALSE(SplitArchive::isSplitTar(mem(Bytes(100, 0)), 4096));

    // XZ: the footer magic "YZ" ends a whole stream.
    EXPECT_TRUE(splitBy(SplitArchive::isSplitXZ, {'Y', 'Z', 0, 0}));
    EXPECT_FALSE(splitBy(SplitArchive::isSplitXZ, {0xFD, '7', 'z', 'X', 'Z', 0, 0, 0, 'Y', 'Z'}));
    EXPECT_TRUE(splitBy(SplitArchive::isSplitXZ, {0xFD, '7', 'z', 'X', 'Z', 0, 0, 0, 0, 0}));
    // A mask test: any pair of bytes carrying all the bits of "YZ" passes as a footer.
    EXPECT_FALSE(splitBy(SplitArchive::isSplitXZ, {0xFD, '7', 'z', 'X', 'Z', 0, 0xFF, 0xFF, 0, 0}));

    // 7z: the start header points at the next header, which a first volume lacks.
    EXPECT_TRUE(splitBy(SplitArchive::isSplit7z, Bytes(32, 0)));
    EXPECT_FALSE(splitBy(SplitArchive::isSplit7z, sevenZip(100, 68, 200)));
    EXPECT_TRUE(splitBy(SplitArchive::isSplit7z, sevenZip(100, 69, 200)));
    // Offsets whose sum wraps around must not look complete.
    EXPECT_TRUE(splitBy(SplitArchive::isSplit7z, sevenZip(UINT64_MAX - 10, 20, 200)));
    EXPECT_TRUE(splitBy(SplitArchive::isSplit7z, sevenZip(100, UINT64_MAX - 120, 200)));
    EXPECT_TRUE(splitBy(SplitArchive::isSplit7z, sevenZip(UINT64_MAX, UINT64_MAX, 200)));

    EXPECT_TRUE(splitBy(SplitArchive::isSplitGZ, {0x1F, 0x8B, 8}));
    EXPECT_TRUE(splitBy(SplitArchive::isSplitGZ, {}));
}
