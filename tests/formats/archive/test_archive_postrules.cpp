// Post-rules of the archive walk and their header parsers, on byte-written files (no free
// tool writes RAR, SAR or PIM) and on compressed data from bzip2.
#include <cstdio>
#include <cstring>

#include "ArchiveTestKit.h"

using namespace kit;

namespace {
Bytes rar4(uint8_t flagsLow, size_t size = 20) {
    return ByteBuilder(size).str(0, std::string("Rar!\x1A\x07\0", 7)).u8(9, 0x73).u8(10, flagsLow).b;
}
}  // namespace

TEST(ArchivePostRules, RarVolumes) {
    EXPECT_EQ(detect(rar4(0x00)), ARCHIVE_RAR);
    EXPECT_EQ(detect(rar4(0x01)), ARCHIVE_SPLIT_ARC);
    EXPECT_EQ(detect(rar4(0x01, 11)), ARCHIVE_SPLIT_ARC);  // the flag byte is all that is needed
    EXPECT_EQ(detect(ByteBuilder(40).str(0, "RE~^").b), ARCHIVE_RAR);

    // RAR 5 main header: CRC, size, type 1, flags, [extra size], archive flags.
    const std::string sig("Rar!\x1A\x07\x01\0", 8);
    auto rar5 = [&](std::vector<uint8_t> vints) {
        ByteBuilder b;
        b.str(0, sig).le32(8, 0xDEADBEEF).put(12, vints.data(), vints.size()).pad(40);
        return b.b;
    };
    EXPECT_EQ(detect(rar5({0x06, 0x01, 0x00, 0x00, 0x00})), ARCHIVE_RAR);
    EXPECT_EQ(detect(rar5({0x06, 0x01, 0x00, 0x01, 0x00})), ARCHIVE_SPLIT_ARC);
    // With bit 0 of the header flags an extra-area size comes first (here two bytes long).
    EXPECT_EQ(detect(rar5({0x08, 0x01, 0x01, 0x81, 0x01, 0x01, 0x02})), ARCHIVE_SPLIT_ARC);
    EXPECT_EQ(detect(rar5({0x08, 0x01, 0x01, 0x01, 0x00, 0x02})), ARCHIVE_RAR);

    // Ten continuation bytes (the last group shifts by 63), then a read stopped by the limit.
    kiv::MemoryByteSource ff(Bytes(30, 0xFF));
    uint64_t pos = 0, end = 28;
    VInt().ReadVIntValue(&ff, pos, 30);
    VInt().ReadVIntValue(&ff, end, 30);
    EXPECT_EQ(pos, 10u);
    EXPECT_EQ(end, 30u);
}

TEST(ArchivePostRules, DiskImages) {
    // A lone 512-byte boot sector quoting the loader message is no image; a longer file is.
    Bytes img = ByteBuilder(512).str(448, "BOOTMGR is compressed").u8(510, 0x55).u8(511, 0xAA).b;
    EXPECT_EQ(detect(img), ARCHIVE_NONE);
    img.push_back(0);
    EXPECT_EQ(detect(img), ARCHIVE_IMG);

    // Boot flag of the first partition: 0 or 0x80, else no MBR unless a CD mark follows.
    Bytes mbr = ByteBuilder(40000).u8(510, 0x55).u8(511, 0xAA).u8(446, 0x80).b;
    EXPECT_EQ(detect(mbr), ARCHIVE_MBR);
    mbr[446] = 0x01;
    EXPECT_EQ(detect(mbr), ARCHIVE_NONE);
    Bytes hybrid = ByteBuilder(40000).u8(510, 0x55).u8(511, 0xAA).u8(446, 0x01).str(34817, "CD001").b;
    EXPECT_EQ(detect(hybrid), ARCHIVE_ISO);
    hybrid.resize(34822);  // size <= position + 5 ends the search
    EXPECT_EQ(detect(hybrid), ARCHIVE_NONE);

    // bzip2 data with a "koly" trailer is a disk image.
    TempDir d;
    writeFile(d / "x", Bytes(3000, 'x'));
    ASSERT_TRUE(tool(d.path, {"bzip2", "x"}));
    Bytes dmg = readFile(d / "x.bz2");
    ByteBuilder trailer(512);
    trailer.str(0, "koly");
    dmg.insert(dmg.end(), trailer.b.begin(), trailer.b.end());
    EXPECT_EQ(detect(dmg), ARCHIVE_DMG);
    EXPECT_EQ(detect(ByteBuilder(512).str(0, "BZhkoly").b), ARCHIVE_BZ2);  // too short for a trailer
}

TEST(ArchivePostRules, CdSectorImages) {
    auto sectors = [](size_t count, uint8_t mode) {
        Bytes b(count * 2352, 0);
        for (size_t i = 0; i < count; ++i) {
            uint8_t* s = b.data() + i * 2352;
            std::fill(s + 1, s + 11, 0xFF);
            s[15] = mode;
        }
        return b;
    };
    EXPECT_EQ(detect(sectors(3, 2)), ARCHIVE_BIN_MDF);
    EXPECT_EQ(detect(sectors(3, 1)), ARCHIVE_BIN_MDF);
    EXPECT_EQ(detect(sectors(3, 3)), ARCHIVE_NONE);
    Bytes m1 = sectors(1, 1);
    m1[2070] = 1;  // reserved bytes of a mode-1 sector must be zero
    EXPECT_EQ(detect(m1), ARCHIVE_NONE);
    Bytes odd = sectors(2, 2);
    odd.push_back(0);
    EXPECT_EQ(detect(odd), ARCHIVE_NONE);
    // The last sector counts too, across the read blocks.
    for (size_t broken : {63u, 64u, 129u}) {
        Bytes b = sectors(130, 2);
        b[broken * 2352 + 5] = 0;
        EXPECT_EQ(detect(b), ARCHIVE_NONE) << broken;
    }
}

TEST(ArchivePostRules, TarHeaders) {
    // The checksum as GNU tar writes it (six octal digits, NUL, blank) unless a form is given;
    // signed sums the bytes as signed chars, as old writers did.
    auto seal = [](Bytes h, const char* form = "%06o", bool isSigned = false) {
        int sum = 8 * ' ';
        for (size_t i = 0; i < 512; ++i)
            if (i < 148 || i >= 156) sum += isSigned ? int(int8_t(h[i])) : int(h[i]);
        char field[16] = {};
        std::snprintf(field, sizeof field, form, sum);
        std::copy(field, field + 8, h.begin() + 148);
        if (std::strcmp(form, "%06o") == 0) h[155] = ' ';
        return h;
    };
    auto header = [&](char flag, const std::string& sizeField, const std::string& name = "f") {
        return seal(ByteBuilder(1024).str(0, name).str(124, sizeField).u8(156, uint8_t(flag)).b);
    };
    EXPECT_EQ(detect(header('0', std::string("00000000012\0", 12))), ARCHIVE_TAR);
    // With the checksum right, an empty regular file and V7's NUL type flag count too.
    EXPECT_EQ(detect(header('0', std::string("00000000000\0", 12))), ARCHIVE_TAR);
    EXPECT_EQ(detect(header('\0', std::string("00000000000\0", 12))), ARCHIVE_TAR);
    EXPECT_EQ(detect(header('5', std::string("00000000000\0", 12))), ARCHIVE_TAR);
    EXPECT_EQ(detect(header('5', std::string("00000000001\0", 12))), ARCHIVE_NONE);
    EXPECT_EQ(detect(header('2', "      0     ")), ARCHIVE_TAR);
    EXPECT_EQ(detect(header('0', std::string(12, ' '))), ARCHIVE_NONE);  // no number
    EXPECT_EQ(detect(header('0', std::string(1, '\0') + "1")), ARCHIVE_NONE);
    EXPECT_EQ(detect(header('0', "00000000008 ")), ARCHIVE_NONE);  // not octal
    EXPECT_EQ(detect(header('3', "00000000012 ")), ARCHIVE_NONE);
    EXPECT_EQ(detect(header('0', "00000000012 ", "a:b")), ARCHIVE_NONE);
    // Other written forms of the sum are read; a wrong or missing sum is text that only looks
    // like a header.
    const Bytes named = header('0', "00000000012 ", "caf\xE9");
    const std::tuple<const char*, bool, ArchiveType> sums[] = {
        {"  %05o ", false, ARCHIVE_TAR},   {"%07o ", false, ARCHIVE_TAR},     {"%07o", true, ARCHIVE_TAR},
        {"        ", false, ARCHIVE_NONE}, {"0001234 ", false, ARCHIVE_NONE}, {"00x     ", false, ARCHIVE_NONE}};
    for (const auto& [form, isSigned, type] : sums) EXPECT_EQ(detect(seal(named, form, isSigned)), type) << form;
    // The field is twelve digits without a NUL, with more digits in the next field.
    Bytes full = seal(ByteBuilder(1024).str(0, "f").str(124, std::string(24, '7')).u8(156, '0').b);
    TarArchive tar;
    kiv::MemoryByteSource src(full);
    ASSERT_TRUE(tar.isTAR(src, full.size()));
    unsigned long size = 0;
    ASSERT_TRUE(tar.getFileSize(size));
    EXPECT_EQ(size, 0777777777777ul);
    Bytes shortTar = header('0', "00000000012 ");
    shortTar.resize(511);
    EXPECT_EQ(detect(shortTar), ARCHIVE_NONE);
}

TEST(ArchivePostRules, SapArchives) {
    auto sar = [](const std::string& head, size_t size) { return ByteBuilder(size).str(0, head).b; };
    EXPECT_EQ(detect(sar("CAR 2.01RG", 42)), ARCHIVE_SAR);
    EXPECT_EQ(detect(sar("CAR 2.00LK", 42)), ARCHIVE_SAR);
    EXPECT_EQ(detect(sar("CAR 2.01RG", 41)), ARCHIVE_NONE);
    EXPECT_EQ(detect(sar("CAR 1.99RG", 42)), ARCHIVE_NONE);
    EXPECT_EQ(detect(sar("CAR 2.01XX", 42)), ARCHIVE_NONE);
}

TEST(ArchivePostRules, PimArchives) {
    auto pim = [](const std::string& sig, const std::string& name, uint32_t first, uint32_t second, size_t tail) {
        ByteBuilder b;
        b.str(0, sig).str(6, name).u8(6 + name.size(), 0);
        b.le32(7 + name.size(), first).le32(11 + name.size(), second);
        b.pad(b.size() + tail);
        return b.b;
    };
    const std::string p1("\x02PIM", 4);
    EXPECT_EQ(detect(pim(p1, "a", 10, 5, 5)), ARCHIVE_PIM);
    EXPECT_EQ(detect(pim(p1, "a", 10, 5, 4)), ARCHIVE_NONE);
    EXPECT_EQ(detect(pim(p1, "a", 4, 5, 5)), ARCHIVE_NONE);  // first below second
    Bytes next = pim(p1, "a", 10, 5, 9);
    std::copy(p1.begin(), p1.end(), next.end() - 4);
    EXPECT_EQ(detect(next), ARCHIVE_PIM);
    EXPECT_EQ(detect(pim("PIM2", "name", 9, 2, 6)), ARCHIVE_PIM);  // four more bytes after the data
    EXPECT_EQ(detect(pim("PIM2", "name", 9, 2, 2)), ARCHIVE_NONE);
    EXPECT_EQ(detect(pim(p1, std::string(254, 'n'), 1, 0, 0)), ARCHIVE_PIM);
    EXPECT_EQ(detect(pim(p1, std::string(255, 'n'), 1, 0, 0)), ARCHIVE_NONE);
    // A length near 2^32 reaches past the end; wrapped to 32 bits it would land on the
    // file's own start and find a "next record" there.
    Bytes wrap = pim(p1, "a", 0xFFFFFFFF, 0xFFFFFFF0, 64);
    EXPECT_EQ(detect(wrap), ARCHIVE_NONE);
}
