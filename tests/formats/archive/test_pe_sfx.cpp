// PE resource reader and self-extracting executables, on executables written by the PE
// builder, with archives from 7za and zip appended.
#include "ArchiveTestKit.h"
#include "formats/archive/PEFile.h"

using namespace kit;

namespace {

constexpr uint32_t kVA = 0x2000;
const std::string kRar5("Rar!\x1A\x07\x01\0", 8);

// .text at 0x200, then a resource section at 0x400.
Bytes peWithRsrc(const Bytes& rsrc, const std::string& name = ".rsrc") {
    return makePE(
        {{".text", 0x1000, 0x200, 0x200, Bytes(0x200, 0xCC)}, {name, kVA, 0x400, uint32_t(rsrc.size()), rsrc}});
}
// One section ending at 0x400, then the overlay.
Bytes peWithOverlay(const Bytes& overlay) {
    Bytes pe = makePE({{".text", 0x1000, 0x200, 0x200, Bytes(0x200, 0xCC)}});
    pe.insert(pe.end(), overlay.begin(), overlay.end());
    return pe;
}
std::vector<PEFileParser::DataRepresentStructure> resources(const Bytes& b) {
    return PEFileParser(mem(b), b.size()).getListResourceObjects();
}
bool parses(const Bytes& b) {
    PEFileParser::ResDirTableStructure root;
    return PEFileParser(mem(b), b.size()).parseResourceSection(root);
}

}  // namespace

TEST(PeResources, TreesAndNames) {
    const Bytes cab = {'M', 'S', 'C', 'F', 0, 0, 0, 0};
    Bytes pe = peWithRsrc(rcdataSection(kVA, cab));
    auto list = resources(pe);
    ASSERT_EQ(list.size(), 1u);
    EXPECT_EQ(list[0].typeId, 10u);
    EXPECT_EQ(list[0].nameId, 1u);
    EXPECT_EQ(list[0].languageId, 0x409u);
    EXPECT_EQ(list[0].dataFileOffset, 0x500u);
    EXPECT_EQ(list[0].size, cab.size());
    EXPECT_EQ(detect(pe), ARCHIVE_EXE_SFX);
    EXPECT_EQ(detect(peWithRsrc(rcdataSection(kVA, {'I', 'S', 'c', '(', 0}))), ARCHIVE_EXE_SFX);
    EXPECT_EQ(detect(peWithRsrc(rcdataSection(kVA, cab, 3))), ARCHIVE_NONE);  // an icon, not raw data
    PEFileParser::SectionTable st;
    EXPECT_FALSE(PEFileParser(mem(pe), pe.size()).getSectionInformation(".rsr", st));

    // 2 named and 3 numbered entries; names are UTF-16 with a 0 appended.
    RsrcBuilder r(kVA);
    r.dir(0, 2, 3,
          {{kSubdir | 0x100, kSubdir | 0x80},
           {kSubdir | 0x110, kSubdir | 0x90},
           {7, kSubdir | 0xA0},
           {8, kSubdir | 0xB0},
           {9, kSubdir | 0xC0}});
    for (uint32_t off : {0x80u, 0x90u, 0xA0u, 0xB0u, 0xC0u}) r.dir(off, 0, 0, {});
    r.s.le16(0x100, 2).le16(0x102, 'A').le16(0x104, 'B').le16(0x110, 1).le16(0x112, 0xE9).pad(0x200);
    Bytes named = peWithRsrc(r.s.b);
    PEFileParser::ResDirTableStructure root;
    ASSERT_TRUE(PEFileParser(mem(named), named.size()).parseResourceSection(root));
    ASSERT_EQ(root.subdirectories.size(), 5u);
    EXPECT_EQ(root.subdirectories[0].name, std::wstring(L"AB") + L'\0');
    EXPECT_EQ(root.subdirectories[0].id, 0u);
    EXPECT_EQ(root.subdirectories[1].name, std::wstring(L"\u00e9") + L'\0');
    EXPECT_EQ(root.subdirectories[4].id, 9u);
    EXPECT_TRUE(root.subdirectories[4].name.empty());

    // No ".rsrc"; a section named ".rsrcXYZ" in its full 8 bytes is another section.
    EXPECT_TRUE(resources(peWithOverlay({})).empty());
    Bytes longer = peWithRsrc(rcdataSection(kVA, cab), ".rsrcXYZ");
    EXPECT_TRUE(resources(longer).empty());
    EXPECT_TRUE(PEFileParser(mem(longer), longer.size()).getSectionInformation(".rsrcXYZ", st));
    // From a path.
    TempDir d;
    writeFile(d / "a.exe", pe);
    EXPECT_EQ(PEFileParser(d / "a.exe").getListResourceObjects().size(), 1u);
    EXPECT_TRUE(PEFileParser(d / "missing.exe").getListResourceObjects().empty());
}

TEST(PeResources, BrokenTreesFail) {
    RsrcBuilder loop(kVA);  // a subdirectory pointing back at the root
    loop.dir(0, 0, 1, {{10, kSubdir | 0}});
    EXPECT_FALSE(parses(peWithRsrc(loop.s.b)));
    EXPECT_TRUE(resources(peWithRsrc(loop.s.b)).empty());
    RsrcBuilder out(kVA);  // a data entry beyond the end
    out.dir(0, 0, 1, {{10, 0x7FFFFF00}});
    EXPECT_FALSE(parses(peWithRsrc(out.s.b)));
    RsrcBuilder badName(kVA);  // a name beyond the end
    badName.dir(0, 1, 0, {{kSubdir | 0x7FFFFFF0, kSubdir | 0x20}}).dir(0x20, 0, 0, {});
    EXPECT_FALSE(parses(peWithRsrc(badName.s.b)));
    RsrcBuilder many(kVA);  // more entries than the file holds
    many.dir(0, 0, 100, {});
    EXPECT_FALSE(parses(peWithRsrc(many.s.b)));

    // Entry counts are capped: 65535 leaves are read, 131070 entries are refused.
    RsrcBuilder wide(kVA);
    const uint32_t leaf = 16 + 8 * 65535;
    wide.dir(0, 0, 65535, std::vector<std::pair<uint32_t, uint32_t>>(65535, {1, leaf})).dataEntry(leaf, 0, 0);
    EXPECT_TRUE(parses(peWithRsrc(wide.s.b)));
    RsrcBuilder wider(kVA);
    wider.dir(0, 65535, 65535, {}).s.pad(16 + 8 * 131070);
    EXPECT_FALSE(parses(peWithRsrc(wider.s.b)));

    // Entries sharing one name of 65535 units (65536 with the 0 kept): 16 fill the cap on
    // what the names hold, 17 are refused.
    for (uint16_t named : {16, 17}) {
        RsrcBuilder shared(kVA);
        const uint32_t nameAt = 16 + 8 * named + 16;
        shared.dir(0, named, 0, std::vector<std::pair<uint32_t, uint32_t>>(named, {kSubdir | nameAt, nameAt - 16}));
        shared.dataEntry(nameAt - 16, 0, 0).s.le16(nameAt, 0xFFFF).pad(nameAt + 2 + 2 * 0xFFFF + 8);
        EXPECT_EQ(parses(peWithRsrc(shared.s.b)), named == 16) << named;
    }
}

TEST(PeSfx, ResourceSearchStopsAtTheEnd) {
    // Two raw-data languages; the first one's data starts n bytes before the end of the file.
    auto twoLanguages = [](uint32_t n) {
        RsrcBuilder r(kVA);
        r.dir(0x00, 0, 1, {{10, kSubdir | 0x18}}).dir(0x18, 0, 1, {{1, kSubdir | 0x30}});
        r.dir(0x30, 0, 2, {{0x409, 0x50}, {0x407, 0x60}}).dataEntry(0x50, 0x200 - n, 4).dataEntry(0x60, 0x100, 8);
        r.s.str(0x100, "MSCF").pad(0x200);
        return peWithRsrc(r.s.b);
    };
    EXPECT_EQ(detect(twoLanguages(4)), ARCHIVE_NONE);
    EXPECT_EQ(detect(twoLanguages(5)), ARCHIVE_EXE_SFX);
    // A data address below the section's lands beyond 4 GiB: the search stops there.
    RsrcBuilder below(kVA);
    below.dir(0x00, 0, 1, {{10, kSubdir | 0x18}}).dir(0x18, 0, 1, {{1, kSubdir | 0x30}});
    below.dir(0x30, 0, 1, {{0x409, 0x48}}).dataEntry(0x48, uint32_t(-0x10), 4).s.pad(0x200);
    EXPECT_EQ(resources(peWithRsrc(below.s.b)).at(0).dataFileOffset, 0x400u + 0xFFFFFFF0ull);
    EXPECT_EQ(detect(peWithRsrc(below.s.b)), ARCHIVE_NONE);
}

TEST(PeSfx, ArchivesBehindTheLastSection) {
    EXPECT_EQ(detect(peWithOverlay(ByteBuilder(64).str(0, kRar5).b)), ARCHIVE_EXE_SFX);
    EXPECT_EQ(detect(peWithOverlay(ByteBuilder(64).str(0, std::string("Rar!\x1A\x07\0", 7)).b)), ARCHIVE_EXE_SFX);
    EXPECT_EQ(detect(peWithOverlay(ByteBuilder(64).str(16, kRar5).b)), ARCHIVE_NONE);  // only right at the start
    EXPECT_EQ(detect(peWithOverlay({})), ARCHIVE_NONE);
    Bytes junkSig = peWithOverlay(ByteBuilder(64).str(0, kRar5).b);
    junkSig[0x42] = 'X';  // "PE" followed by anything but two zero bytes
    EXPECT_EQ(detect(junkSig), ARCHIVE_NONE);

    TempDir d;
    writeFile(d / "f.txt", Bytes(3000, 'f'));
    ASSERT_TRUE(tool(d.path, {"7za", "a", "-bd", "f.7z", "f.txt"}));
    ASSERT_TRUE(tool(d.path, {"zip", "-q", "f.zip", "f.txt"}));
    const Bytes sevenZip = readFile(d / "f.7z"), zip = readFile(d / "f.zip");
    for (size_t pad : {0u, 1023u, 1024u}) {
        Bytes overlay(pad, 0);
        overlay.insert(overlay.end(), sevenZip.begin(), sevenZip.end());
        EXPECT_EQ(detect(peWithOverlay(overlay)), pad < 1024 ? ARCHIVE_EXE_SFX : ARCHIVE_NONE) << pad;
    }

    // zip -A fixes the offsets behind a stub: end record -> central -> local header.
    const Bytes plain = peWithOverlay(zip);
    writeFile(d / "sfx.exe", plain);
    ASSERT_TRUE(tool(d.path, {"zip", "-q", "-A", "sfx.exe"}));
    EXPECT_EQ(ArchiveFTAUtils::isArchive(d / "sfx.exe", 0), ARCHIVE_EXE_SFX);
    EXPECT_EQ(detect(plain), ARCHIVE_NONE);  // unfixed offsets point into the stub
    // With a comment the end record moves; a local header close behind the stub is enough.
    const std::string comment = "self-extracting";
    for (size_t pad : {0u, 1024u}) {
        Bytes padded(pad, 0);
        padded.insert(padded.end(), zip.begin(), zip.end());
        Bytes commented = peWithOverlay(padded);
        commented[commented.size() - 2] = uint8_t(comment.size());
        commented.insert(commented.end(), comment.begin(), comment.end());
        EXPECT_EQ(detect(commented), pad == 0 ? ARCHIVE_EXE_SFX : ARCHIVE_NONE) << pad;
    }
}

TEST(PeSfx, HostileHeaders) {
    const Bytes rar = peWithOverlay(ByteBuilder(64).str(0, kRar5).b);
    const size_t h = 0x40 + 24 + 0xE0;  // the only section header
    auto patched = [&](size_t off, uint32_t v) {
        ByteBuilder b;
        b.b = rar;
        return b.le32(off, v).b;
    };
    // Raw pointer + size wrapping in 32 bits onto the archive, or a pointer of 2^31 and more.
    Bytes wrap = patched(h + 20, 0xFFFFFF00u);
    wrap[h + 17] = 0x05;  // raw size 0x500
    EXPECT_EQ(detect(wrap), ARCHIVE_NONE);
    EXPECT_EQ(detect(patched(h + 20, 0x80000000u)), ARCHIVE_NONE);
    // e_lfanew past the end or on the last bytes; no sections; 65535 sections in a small file.
    EXPECT_EQ(detect(patched(60, 0xFFFFFFF0u)), ARCHIVE_NONE);
    EXPECT_EQ(detect(patched(60, uint32_t(rar.size() - 2))), ARCHIVE_NONE);
    EXPECT_EQ(detect(patched(0x44, 0x014C)), ARCHIVE_NONE);
    Bytes huge = patched(0x44, 0xFFFF014C);
    EXPECT_EQ(detect(huge), ARCHIVE_NONE);
    EXPECT_TRUE(resources(huge).empty());
}
