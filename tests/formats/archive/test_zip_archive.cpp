// ZIP member access: end-record search both ways, the member-name test, and member
// extraction through 7za, on byte-written archives and on ones made by zip and python3.
#include "ArchiveTestKit.h"
#include "core/Limits.h"
#include "tests/core/CoreTestKit.h"

using namespace kit;

namespace {

// Stored members with empty bodies: local headers, central headers, end record, comment.
Bytes makeZip(const std::vector<std::string>& names, const std::string& comment = "") {
    ByteBuilder z;
    for (const std::string& n : names) {
        const size_t at = z.size();
        z.le32(at, 0x04034B50).le16(at + 26, uint16_t(n.size())).str(at + 30, n);
    }
    const size_t cd = z.size();
    for (const std::string& n : names) {
        const size_t at = z.size();
        z.le32(at, 0x02014B50).le16(at + 28, uint16_t(n.size())).str(at + 46, n);
    }
    const size_t end = z.size();
    z.le32(end, 0x06054B50).le16(end + 10, uint16_t(names.size())).le32(end + 16, uint32_t(cd));
    z.le16(end + 20, uint16_t(comment.size())).pad(end + 22).str(end + 22, comment);
    return z.b;
}

bool listed(const Bytes& zip, const std::string& name) {
    return ZipArchive::checkFileNameExistInZip(mem(zip), zip.size(), name.data(), uint16_t(name.size()));
}

}  // namespace

TEST(ZipEndRecord, SearchBothWays) {
    // Shorter than a record: only position 0 is looked at.
    EXPECT_EQ(ZipArchive::findEndCentralDirFromBot(mem({'P', 'K', 5, 6, 0, 0}), 6), 0u);
    EXPECT_EQ(ZipArchive::findEndCentralDirFromBot(mem({'P', 'K', 5}), 3), ZipArchive::notFound);
    EXPECT_EQ(ZipArchive::findEndCentralDirFromBot(mem({}), 0), ZipArchive::notFound);
    // Its count and offset would lie past the end: no directory.
    EXPECT_FALSE(listed({'P', 'K', 5, 6, 1, 0, 0, 0, 0, 0}, "a"));

    // A comment quoting the signature wins (the highest match) and its junk lists nothing;
    // within 22 bytes of the end a quoted signature is no candidate.
    const std::string sig("PK\x05\x06", 4);
    Bytes quoted = makeZip({"a.txt"}, "xx" + sig + std::string(30, 'y'));
    EXPECT_EQ(ZipArchive::findEndCentralDirFromBot(mem(quoted), quoted.size()), quoted.size() - 34);
    EXPECT_FALSE(listed(quoted, "a.txt"));
    EXPECT_TRUE(listed(makeZip({"a.txt"}, sig + "yy"), "a.txt"));

    // Junk beyond the window hides the record from the back; the forward walk finds it.
    Bytes junk = makeZip({"a.txt", "b.txt"});
    const size_t end = junk.size() - 22;
    junk.resize(junk.size() + 100 * 1024, 'j');
    EXPECT_EQ(ZipArchive::findEndCentralDirFromBot(mem(junk), junk.size()), ZipArchive::notFound);
    EXPECT_EQ(ZipArchive::findEndCentralDirFromTop(mem(junk), junk.size()), end);
    EXPECT_TRUE(listed(junk, "b.txt"));

    // Sizes pointing far past the end stop the walk.
    ByteBuilder huge;
    huge.le32(0, 0x04034B50).le32(18, 0xFFFFFFFF).le16(26, 0xFFFF).le16(28, 0xFFFF).pad(64);
    EXPECT_EQ(ZipArchive::findEndCentralDirFromTop(mem(huge.b), huge.size()), ZipArchive::notFound);
    // Empty local headers one after another: the walk gives up at its record cap.
    const uint32_t cap = kiv::limits::kZipForwardWalkMaxRecords;
    for (uint32_t records : {cap - 1, cap}) {
        Bytes b(size_t(records) * 30 + 22, 0);
        for (size_t i = 0; i <= records; ++i)
            std::copy_n(i < records ? "PK\3\4" : "PK\5\6", 4, b.begin() + long(i * 30));
        EXPECT_EQ(ZipArchive::findEndCentralDirFromTop(mem(b), b.size()),
                  records < cap ? b.size() - 22 : ZipArchive::notFound);
    }
}

TEST(ZipNames, ExactBytesOnly) {
    Bytes z = makeZip({"META-INF/manifest.mf", "word/document.xml", "[Content_Types].xml"});
    EXPECT_TRUE(listed(z, "META-INF/manifest.mf"));
    EXPECT_TRUE(listed(z, "[Content_Types].xml"));
    EXPECT_FALSE(listed(z, "META-INF/MANIFEST.MF"));
    EXPECT_FALSE(listed(z, "word/document"));
    EXPECT_FALSE(listed(z, "word/document.xml2"));
    // An entry with an empty name ends the walk.
    EXPECT_FALSE(listed(makeZip({"a", "", "c"}), "c"));
    // A directory offset past the end record lists nothing.
    Bytes bad = z;
    bad[bad.size() - 22 + 16] = 0xFF;
    EXPECT_FALSE(listed(bad, "word/document.xml"));

    // Real archives: plain, and streamed (sizes only in data descriptors, which the forward
    // walk cannot pass, but the directory is still found from the end).
    TempDir d;
    std::filesystem::create_directories(d / "META-INF");
    writeFile(d / "META-INF/MANIFEST.MF", {'M'});
    writeFile(d / "a b.txt", Bytes(5000, 'a'));
    ASSERT_TRUE(tool(d.path, {"zip", "-q", "plain.zip", "META-INF/MANIFEST.MF", "a b.txt"}));
    ASSERT_TRUE(
        tool(d.path, {"python3", "-c",
                      "import zipfile\n"
                      "class W:\n"
                      "  def __init__(s,f): s.f=f\n"
                      "  def write(s,b): return s.f.write(b)\n"
                      "  def flush(s): s.f.flush()\n"
                      "with zipfile.ZipFile(W(open('stream.zip','wb')),'w') as z: z.writestr('x/y.txt','d'*99)\n"}));
    kiv::FileByteSource plain(d / "plain.zip"), stream(d / "stream.zip");
    EXPECT_TRUE(ZipArchive::checkFileNameExistInZip(plain, plain.size(), "a b.txt", 7));
    EXPECT_TRUE(ZipArchive::checkFileNameExistInZip(plain, plain.size(), "META-INF/MANIFEST.MF", 20));
    EXPECT_TRUE(ZipArchive::checkFileNameExistInZip(stream, stream.size(), "x/y.txt", 7));
    EXPECT_EQ(ZipArchive::findEndCentralDirFromTop(stream, stream.size()), ZipArchive::notFound);
}

TEST(ZipCost, WalksReadWindowsAndTheEndRecordIsFoundOncePerScan) {
    // 100000 empty members, then the directory and its end record, then junk that hides the
    // record from the back: only the forward walk finds it.
    const size_t members = 100000;
    ByteBuilder z;
    for (size_t i = 0; i < members; ++i) z.le32(i * 30, 0x04034B50);
    z.pad(members * 30);
    // Directory names across window edges, the last one longer than a window.
    const std::vector<std::string> names = {std::string(60000, 'n'), "[Content_Types].xml", std::string(65535, 'm')};
    const size_t cd = z.size();
    for (const std::string& n : names) {
        const size_t at = z.size();
        z.le32(at, 0x02014B50).le16(at + 28, uint16_t(n.size())).str(at + 46, n);
    }
    const size_t end = z.size();
    z.le32(end, 0x06054B50).le16(end + 10, 3).le32(end + 16, uint32_t(cd)).pad(end + 22 + 70000);

    kivtest::CountingSource src(z.b);
    EXPECT_EQ(ZipArchive::findEndCentralDir(src, z.size()), end);
    const uint64_t walk = src.reads;
    EXPECT_LE(walk, z.size() / kiv::limits::kReadWindow + 8);  // before: two reads per member
    EXPECT_TRUE(ZipArchive::checkFileNameExistInZip(src, z.size(), "[Content_Types].xml", 19));
    EXPECT_TRUE(ZipArchive::checkFileNameExistInZip(src, z.size(), names[2].data(), 65535));
    EXPECT_FALSE(ZipArchive::checkFileNameExistInZip(src, z.size(), "_rels/.rels", 11));
    // Each name test reads the directory only: a few windows, never the walk again.
    EXPECT_LE(src.reads - walk, 3u * 8);
    // Another size is another question.
    EXPECT_EQ(ZipArchive::findEndCentralDir(src, cd), ZipArchive::notFound);
}

TEST(ZipExtract, MemberToMemoryWithoutShell) {
    SevenZipHome home;
    TempDir d;
    writeFile(d / "[Content_Types].xml", {'<', 'T', '/', '>'});
    writeFile(d / "bin.dat", {'a', 0, 'b', '\n', 0xFF});
    ASSERT_TRUE(tool(d.path, {"zip", "-q", "base.zip", "[Content_Types].xml", "bin.dat"}));
    ASSERT_TRUE(tool(d.path, {"zip", "-q", "-P", "pw", "enc.zip", "bin.dat"}));

    // Names a shell would read as commands, redirections, several words or switches.
    for (const std::string name : {"a b;touch PWNED;.zip", "x$(touch PWNED).zip", "y`touch PWNED`.zip", "q'\"z.zip",
                                   "n\nl>PWNED.zip", "-dash.zip", "@list.zip", "(p)[q]{r}.zip"}) {
        std::filesystem::copy_file(d / "base.zip", d / name);
        std::string text;
        EXPECT_EQ(ZipArchive::readFilesInsideArchiveWith7z(d / name, contentTypesXml, text), 1);
        EXPECT_EQ(text, "<T/>") << name;
    }
    EXPECT_FALSE(std::filesystem::exists(d / "PWNED"));
    EXPECT_FALSE(std::filesystem::exists(home.dir / "PWNED"));

    // The byte form keeps NULs and appends; the text form cuts each line piece at its NUL.
    std::vector<char> out = {'!'};
    ZipArchive::readFilesInsideArchiveWith7zChar(d / "base.zip", "bin.dat", out);
    EXPECT_EQ(out, (std::vector<char>{'!', 'a', 0, 'b', '\n', '\xFF'}));
    std::string text = "stale";
    ZipArchive::readFilesInsideArchiveWith7z(d / "base.zip", "bin.dat", text);
    EXPECT_EQ(text, "a\xFF");
    // Problems show only in 7za's own words.
    ZipArchive::readFilesInsideArchiveWith7z(d / "enc.zip", "bin.dat", text);
    EXPECT_NE(text.find("Wrong password"), std::string::npos) << text;
    ZipArchive::readFilesInsideArchiveWith7z(d / "base.zip", "nope", text);
    EXPECT_EQ(text.find("<T/>"), std::string::npos);
    currentDir.clear();  // no engine directory recorded: nothing is run
    EXPECT_EQ(ZipArchive::readFilesInsideArchiveWith7z(d / "base.zip", contentTypesXml, text), 1);
    EXPECT_EQ(text, "");
}

TEST(ZipExtract, OutputIsCapped) {
    SevenZipHome home;
    TempDir d;
    // 64 MiB of zeros deflate to about 64 KiB: only the cap reaches memory.
    ASSERT_TRUE(tool(d.path, {"python3", "-c",
                              "import zipfile\n"
                              "with zipfile.ZipFile('bomb.zip','w',zipfile.ZIP_DEFLATED) as z:\n"
                              "  with z.open('manifest.xml','w') as m:\n"
                              "    for i in range(64): m.write(bytes(1<<20))\n"}));
    std::vector<char> out;
    ZipArchive::readFilesInsideArchiveWith7zChar(d / "bomb.zip", "manifest.xml", out);
    EXPECT_EQ(out.size(), kiv::limits::kCommandOutputCap);
    // An archiver that never stops writing is stopped, not drained.
    std::ofstream(home.dir / "7za") << "#!/bin/sh\nexec yes\n";
    std::string text;
    ZipArchive::readFilesInsideArchiveWith7z(d / "bomb.zip", "manifest.xml", text);
    EXPECT_EQ(text.size(), kiv::limits::kCommandOutputCap);
    // One that hangs is ended by the run's time limit.
    int status = 0;
    std::vector<char> none;
    ASSERT_TRUE(CommonUtils::executeCommandAndGetOutputChar({"sleep", "600"}, none, 100, &status, 50));
    EXPECT_TRUE(WIFSIGNALED(status));
}

TEST(ZipExtract, OneScanAsksTheArchiverOncePerMember) {
    // A stand-in archiver that logs each run and prints a different answer every time.
    TempDir home;
    const std::string log = home / "runs";
    {
        std::ofstream script(home / "7za");
        script << "#!/bin/sh\necho run >> '" << log << "'\nwc -l < '" << log << "'\n";
    }
    chmod((home / "7za").c_str(), 0755);
    // Not a ZIP that the engine could read itself, so each member read starts the archiver.
    const std::string archive = home / "x.zip";
    std::ofstream(archive) << "not a zip";
    const std::string saved = currentDir;
    currentDir = home.path + "/";
    auto runs = [&] {
        std::ifstream in(log);
        return std::count(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>(), '\n');
    };
    std::string first, again, other;
    {
        const kiv::FileByteSource scanned(archive);
        ZipArchive::readFilesInsideArchiveWith7z(scanned, "a.xml", first);
        ZipArchive::readFilesInsideArchiveWith7z(scanned, "a.xml", again);
        ZipArchive::readFilesInsideArchiveWith7z(scanned, "b.xml", other);
        EXPECT_EQ(runs(), 2);
        EXPECT_EQ(first, again);
        EXPECT_NE(first, other);
    }
    // Another opening of the file is another question: it may have changed since.
    ZipArchive::readFilesInsideArchiveWith7z(archive, "a.xml", again);
    EXPECT_EQ(runs(), 3);
    EXPECT_NE(first, again);
    currentDir = saved;
}
