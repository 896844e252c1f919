// Archive signatures, detection end to end on archives made by Debian tools, the result
// mapping, and the plain-data marker.
#include "ArchiveTestKit.h"

using namespace kit;

namespace {

struct Row {
    std::string bytes;
    uint32_t offset;
    bool fromEnd;
    int code;
};

std::string s(const char* p, size_t n) { return std::string(p, n); }

// Written independently of the engine's table, in priority order.
// clang-format off
const std::vector<Row> kRows = {
    {"PK\x03\x04", 0, false, 1}, {"PKSpX", 0, false, 1}, {"PK\x05\x06", 0, false, 1}, {"PK\x07\x08", 0, false, 1},
    {"7z\xBC\xAF\x27\x1C", 0, false, 3}, {"_'\xA8\x89", 0, false, 5}, {s("JARCS\0", 6), 0, false, 6},
    {s("Rar!\x1A\x07\0", 7), 0, false, 7}, {"RE~^", 0, false, 7}, {s("Rar!\x1A\x07\x01\0", 8), 0, false, 7},
    {"\x1F\x9D\x90", 0, false, 9}, {"\x1F\xA0", 0, false, 9}, {"\x1F\x8B\x08", 0, false, 13},
    {"\x1F\xFF\xFF\xFF\x8B\x08", 0, false, 13}, {"BZh", 0, false, 31}, {"ISc(", 0, false, 14},
    {"MSCF", 0, false, 14}, {"\xC7q", 0, false, 24}, {"070701", 0, false, 24}, {"070702", 0, false, 24},
    {"070707", 0, false, 24}, {"\x1A\x02", 0, false, 15}, {"\x1A\x03", 0, false, 15}, {"\x1A\x04", 0, false, 15},
    {"\x1A\x08", 0, false, 15}, {"\x1A\x09", 0, false, 15}, {"`\xEA", 0, false, 16},
    {s("\0\xFF\xFF\xFF\xFF\xFF\xFF\xFF\xFF\xFF\xFF\0", 12), 0, false, 37}, {"-lh", 0, false, 17},
    {"\xED\xAB\xEE\xDB", 0, false, 19}, {"!<arch>\ndebian-binary   ", 0, false, 20}, {s("]\0\0", 3), 0, false, 21},
    {"MSWIM", 0, false, 22}, {s("\xFD" "7zXZ\0", 6), 0, false, 23}, {"ITSF", 0, false, 25}, {"xar!", 0, false, 27},
    {"x\x01", 0, false, 34}, {"x\x9C", 0, false, 34}, {"x\xDA", 0, false, 34}, {"MZ", 0, false, 38},
    {"CAR ", 0, false, 40}, {"\x02PIM", 0, false, 43}, {"PIM2", 0, false, 44}, {"-lh", 2, false, 18},
    {"Oracle VM VirtualBox Disk Image", 4, false, 35}, {"PKLITE", 30, false, 2}, {"ustar", 257, false, 8},
    {"BOOTMGR is compressed", 448, false, 12}, {"\x55\xAA", 510, false, 32}, {"conectix", 512, true, 36},
    {"PKSpX", 526, false, 1}, {s("H+\0\x04", 4), 1024, false, 33}, {s("HX\0\x05", 4), 1024, false, 33},
    {"WinZip", 29152, false, 4},
    {"CD001", 32769, false, 10}, {"BEA0", 32769, false, 11}, {"CD001", 34817, false, 10},
    {"CD001", 36865, false, 10},
};
// clang-format on

ArchiveType walk(const Bytes& b) { return ArchiveFTAUtils::checkArchiveMagicNumber(mem(b), b.size()); }
ArchiveType signBytes(const Bytes& b) { return ArchiveFTAUtils::checkArchiveSignBytes(b.data(), b.size()); }

}  // namespace

TEST(ArchiveSignatures, EveryRowAtItsPosition) {
    ArchiveFTAUtils::init();
    ArchiveFTAUtils::init();  // a second start-up must not repeat rows
    const auto& table = GetArchiveSignatures();
    ASSERT_EQ(table.size(), kRows.size());
    for (size_t i = 0; i < kRows.size(); ++i) {
        const Row& r = kRows[i];
        SCOPED_TRACE("row " + std::to_string(i + 1));
        EXPECT_EQ(std::string(table[i].bytes.begin(), table[i].bytes.end()), r.bytes);
        EXPECT_EQ(table[i].offset, r.offset);
        EXPECT_EQ(table[i].type, r.code);
        EXPECT_EQ(table[i].mode, r.fromEnd ? 2 : 0);
        // Smallest buffer the row may match in: offset + n + 1 bytes from the start.
        ByteBuilder b(r.offset + r.bytes.size() + 1);
        if (r.fromEnd) b.pad(r.offset + 1);
        b.str(r.fromEnd ? b.size() - r.offset : r.offset, r.bytes);
        EXPECT_EQ(signBytes(b.b), r.code);
        EXPECT_EQ(walk(b.b), r.code);
        if (!r.fromEnd) {
            // One byte shorter and the row no longer fits.
            Bytes shorter(b.b.begin(), b.b.end() - 1);
            EXPECT_EQ(signBytes(shorter), ARCHIVE_NONE);
        }
    }
    EXPECT_EQ(GetArchiveFileTypeMap().size(), 34u);
}

TEST(ArchiveSignatures, PriorityAndBoundaries) {
    // Offset-0 rows decide first: a real PKLITE or WinZip executable starts "MZ".
    EXPECT_EQ(walk(ByteBuilder(64).str(0, "MZ").str(30, "PKLITE").b), ARCHIVE_MZ);
    Bytes winzip = ByteBuilder(29200).str(0, "MZ").str(29152, "WinZip").b;
    EXPECT_EQ(walk(winzip), ARCHIVE_MZ);
    winzip[0] = 'N';
    EXPECT_EQ(walk(winzip), ARCHIVE_EXE_WINZIP);
    // "-lh" at 0 is LHA, at 2 LZH (where real LHA archives carry it).
    EXPECT_EQ(signBytes(ByteBuilder(8).str(0, "-lh5-").b), ARCHIVE_LHA);
    EXPECT_EQ(signBytes(ByteBuilder(8).str(2, "-lh5-").b), ARCHIVE_LZH);
    // Strictly longer than offset + length.
    EXPECT_EQ(walk({'P', 'K', 3, 4}), ARCHIVE_NONE);
    EXPECT_EQ(walk({'P', 'K', 3, 4, 0}), ARCHIVE_ZIP);
    EXPECT_EQ(walk({}), ARCHIVE_NONE);
    EXPECT_EQ(ArchiveFTAUtils::checkArchiveSignBytes(nullptr, 0), ARCHIVE_NONE);
    // The footer row counts back from the end, also in small files where the window read
    // just before it (at 510) ran past the end.
    for (size_t size : {512u, 513u, 573u})
        EXPECT_EQ(walk(ByteBuilder(size).str(size - 512, "conectix").b), ARCHIVE_VHD);
    EXPECT_EQ(walk(Bytes(511, 0)), ARCHIVE_NONE);
    EXPECT_EQ(detect(ByteBuilder(32800).str(32769, "CD001").b), ARCHIVE_ISO);
    EXPECT_EQ(detect(ByteBuilder(32800).str(32769, "BEA01").b), ARCHIVE_UDF_ISO);
}

TEST(ArchiveDetect, ArchivesMadeByTools) {
    TempDir d;
    std::filesystem::create_directories(d / "t/META-INF");
    std::filesystem::create_directories(d / "t/metadata");
    std::filesystem::create_directories(d / "pkg/DEBIAN");
    Bytes text(20000);
    for (size_t i = 0; i < text.size(); ++i) text[i] = uint8_t('a' + (i * 7919) % 26);
    writeFile(d / "t/f.txt", text);
    for (const char* m : {"META-INF/MANIFEST.MF", "AndroidManifest.xml", "manifest.json", "metadata/metadata.xml",
                          "metadata/textinfo.xml"})
        writeFile(d / (std::string("t/") + m), Bytes{'x'});
    std::ofstream(d / "pkg/DEBIAN/control") << "Package: kivtest\nVersion: 1\nArchitecture: all\n"
                                               "Maintainer: t <t@example.org>\nDescription: t\n";

    const std::string t = d / "t";
    struct Case {
        std::string file;
        std::vector<std::string> argv;  // run in t/
        std::string typeId;
    };
    const std::vector<Case> cases = {
        {"a.zip", {"zip", "-q", "../a.zip", "f.txt"}, "ZIP"},
        {"a.jar", {"zip", "-q", "../a.jar", "META-INF/MANIFEST.MF", "f.txt"}, "JAR"},
        {"a.apk", {"zip", "-q", "../a.apk", "META-INF/MANIFEST.MF", "AndroidManifest.xml"}, "APK"},
        {"a.xpi", {"zip", "-q", "../a.xpi", "META-INF/MANIFEST.MF", "manifest.json"}, "XPI"},
        {"a.cdr", {"zip", "-q", "../a.cdr", "metadata/metadata.xml", "metadata/textinfo.xml"}, "CDR"},
        {"half.cdr", {"zip", "-q", "../half.cdr", "metadata/metadata.xml"}, "ZIP"},
        {"android.zip", {"zip", "-q", "../android.zip", "AndroidManifest.xml"}, "ZIP"},
        {"a.7z", {"7za", "a", "-bd", "../a.7z", "f.txt"}, "7Z"},
        {"a.tar", {"tar", "-cf", "../a.tar", "f.txt"}, "TAR"},
        {"v7.tar", {"tar", "--format=v7", "-cf", "../v7.tar", "META-INF"}, "TAR"},
        {"f.txt.gz", {"gzip", "-k", "-S", ".gz", "f.txt"}, "GZ"},
        {"f.txt.bz2", {"bzip2", "-k", "f.txt"}, "BZ2"},
        {"f.txt.xz", {"xz", "-k", "f.txt"}, "XZ"},
        {"f.txt.lzma", {"xz", "-k", "--format=lzma", "f.txt"}, "LZMA"},
        {"a.cab", {"gcab", "-c", "../a.cab", "f.txt"}, "CAB"},
        {"a.iso", {"genisoimage", "-quiet", "-o", "../a.iso", "f.txt"}, "ISO"},
        {"a.zlib",
         {"python3", "-c", "import zlib;open('../a.zlib','wb').write(zlib.compress(open('f.txt','rb').read()))"},
         "ZLIB"},
        {"a.deb", {"dpkg-deb", "--build", "--root-owner-group", "../pkg", "../a.deb"}, "DEB"},
    };
    for (const Case& c : cases) {
        ASSERT_TRUE(tool(t, c.argv)) << c.file;
        std::string path = c.file.rfind("f.txt", 0) == 0 ? d / ("t/" + c.file) : d / c.file;
        EXPECT_EQ(typeIdOf(ArchiveFTAUtils::isArchive(path, 0)), c.typeId) << c.file;
    }
    // The text itself is no archive; a missing file is not an error.
    EXPECT_EQ(ArchiveFTAUtils::isArchive(d / "t/f.txt", 0), ARCHIVE_NONE);
    EXPECT_EQ(ArchiveFTAUtils::isArchive(d / "missing", 100), ARCHIVE_NONE);
    EXPECT_EQ(ArchiveFTAUtils::isArchive(d.path, 100), ARCHIVE_NONE);
}

TEST(ArchiveResults, MappingAndTypeIds) {
    std::string t, m, e, desc;
    ArchiveFTAUtils::adjustArchiveTypes(ARCHIVE_BZ2, t, m, e, desc);
    EXPECT_EQ(t + "|" + m + "|" + e, "BZ2|application/x-bzip2|BZ2");
    EXPECT_EQ(desc, FileTypeDescription.at("BZ2"));
    ArchiveFTAUtils::adjustArchiveTypes(ARCHIVE_SPLIT_ARC, t, m, e, desc);
    EXPECT_EQ(t + "|" + m + "|" + e, "SPLIT_ARC|application/vnd.rar|");
    ArchiveFTAUtils::adjustArchiveTypes(ARCHIVE_EXE_PKLITE, t, m, e, desc);
    EXPECT_EQ(t + "|" + m + "|" + e, "EXE|application/x-compressed|exe,sfx");
    // Every code names a catalogue entry; interim and unknown codes give "data".
    for (int code = 0; code < 256; ++code) {
        ArchiveFTAUtils::adjustArchiveTypes(ArchiveType(code), t, m, e, desc);
        EXPECT_EQ(desc, FileTypeDescription.at(t)) << code;
        if (code == 0 || code == 38 || code > 42) {
            EXPECT_EQ(t + "|" + m + "|" + e, "data|application/octet-stream|") << code;
        }
    }
    EXPECT_TRUE(ArchiveFTAUtils::isArchiveFileType("ZIP"));
    EXPECT_TRUE(ArchiveFTAUtils::isArchiveFileType("PIM"));
    EXPECT_FALSE(ArchiveFTAUtils::isArchiveFileType("EXE"));
    EXPECT_FALSE(ArchiveFTAUtils::isArchiveFileType("SPLIT_ARC"));
    EXPECT_FALSE(ArchiveFTAUtils::isArchiveFileType("zip"));
}

TEST(PlainDataMarker, StartAndEndMarker) {
    TempDir d;
    const std::string marker = "!NOT MSG FILE!";
    auto marked = [&](const std::string& start, size_t size) {
        ByteBuilder b(size);
        b.str(0, start).str(size - marker.size(), marker);
        writeFile(d / "m", b.b);
        return ArchiveFTAUtils::ignoreDetectionFiletype(d / "m", size);
    };
    EXPECT_FALSE(marked("\xD0\xCF\x11\xE0", 512));
    EXPECT_TRUE(marked("\xD0\xCF\x11\xE0", 513));
    EXPECT_TRUE(marked("\xA1\xB1\x1A\xE1", 600));
    EXPECT_TRUE(marked("\x1F\x8B\x00\x00", 600));
    EXPECT_FALSE(marked("\x1F\x8C\x08\x00", 600));
    EXPECT_FALSE(marked("PK\x03\x04", 600));
    // A real gzip stream with the marker appended.
    Bytes noise(4000);
    uint32_t x = 1;
    for (uint8_t& c : noise) c = uint8_t((x = x * 1103515245u + 12345u) >> 24);
    writeFile(d / "r", noise);
    ASSERT_TRUE(tool(d.path, {"gzip", "-n", "r"}));
    Bytes gz = readFile(d / "r.gz");
    gz.insert(gz.end(), marker.begin(), marker.end());
    writeFile(d / "r.gz", gz);
    EXPECT_TRUE(ArchiveFTAUtils::ignoreDetectionFiletype(d / "r.gz", gz.size()));
    gz.back() = '?';
    EXPECT_FALSE(ArchiveFTAUtils::ignoreDetectionFiletype(mem(gz)));
    EXPECT_FALSE(ArchiveFTAUtils::ignoreDetectionFiletype(d / "missing", 1000));
}
