// PDF: the header window and version test, the Illustrator marker, and the password test on
// documents written and encrypted by the qpdf command.
#include "formats/pdf/PdfProbe.h"
#include "tests/core/CoreTestKit.h"
#include "tests/formats/archive/ArchiveTestKit.h"

using namespace kit;

namespace {

int classify(const std::string& s) { return classifyPDFType(kiv::MemoryByteSource(bytes(s))); }
bool needsPassword(const std::string& s) { return isPDFPasswordProtection(kiv::MemoryByteSource(bytes(s))); }

}  // namespace

TEST(PdfClassifier, HeaderWindowVersionAndIllustratorMarker) {
    // 0: not a PDF, 1: a PDF, 2: an Illustrator document.
    std::vector<std::pair<std::string, int>> cases = {
        {"%PDF-1.7\n", 1},
        {"%PDF-2.0", 1},
        {"%PDF-1.7", 1},
        {"%PDF-1x7 the middle character is not checked", 1},
        {"%PDF-a.b letters for digits", 0},
        {"%PDF-1\n7 a line end in the middle", 0},
        {std::string("%PDF-1\0007 a NUL in the middle", 29), 0},
        {"%PDF-1.", 0},  // shorter than 8 bytes
        {std::string(100, ' ') + "%PDF-1.5\n", 1},
        {"xx%PDF-1.4", 1},  // in a short file the window ends three bytes before the end
        {"xxx%PDF-1.", 0},
        {"%PDF-1.5\n<< /AIMetaData 5 0 R >>", 2},
        {"%PDF-1.5\n<< /AIMetaDat", 1},
        {"%PDF-1.5\n" + std::string(300000, 'z') + "/AIMetaData", 2},
    };
    // In a 2000-byte file the marker may start at 1016 at the latest.
    for (size_t at : {1016u, 1017u})
        cases.push_back({std::string(at, ' ') + "%PDF-1.6" + std::string(1992 - at, ' '), at == 1016});
    // The Illustrator marker at every start across a read window's edge, and elsewhere.
    std::vector<size_t> marks = {1019, 1020, 200000};
    for (size_t at = 65536 - 11; at <= 65536; ++at) marks.push_back(at);
    for (size_t at : marks)
        cases.push_back({"%PDF-1.5\n" + std::string(at - 9, 'x') + "/AIMetaData" + std::string(40, 'y'), 2});
    for (const auto& [text, code] : cases)
        EXPECT_EQ(classify(text), code) << text.substr(0, 24) << ", " << text.size() << " bytes";

    // An EMF header first: its records may carry PDF text.
    ByteBuilder emf;
    emf.le32(0, 1).le32(4, 108).str(40, " EMF").str(108, "%PDF-1.4\n");
    EXPECT_EQ(classifyPDFType(kiv::MemoryByteSource(emf.b)), 0);
}

TEST(PdfPassword, QpdfDecidesWhetherAPasswordIsNeededAndRepairsOnlyWhenCheap) {
    TempDir dir;
    const std::string plain = dir / "plain.pdf";  // an empty page tree with a correct cross-reference table
    ASSERT_TRUE(tool(dir.path, {"qpdf", "--empty", plain}));
    ASSERT_EQ(classifyPDFType(plain, 0), 1);
    EXPECT_FALSE(isPDFPasswordProtection(plain));

    // qpdf's encryption arguments: user and owner password, key length, and more.
    const std::tuple<const char*, std::vector<std::string>, bool> cases[] = {
        {"user-aes256.pdf", {"u", "o", "256"}, true},
        {"user-aes128.pdf", {"u", "o", "128", "--use-aes=y"}, true},
        {"same-passwords.pdf", {"p", "p", "256"}, true},
        {"owner-only.pdf", {"", "o", "256"}, false},  // only an owner password: anyone may open it
    };
    for (const auto& [name, args, protectedDoc] : cases) {
        std::vector<std::string> argv = {"qpdf", "--encrypt"};
        argv.insert(argv.end(), args.begin(), args.end());
        argv.insert(argv.end(), {"--", plain, dir / name});
        ASSERT_TRUE(tool(dir.path, argv)) << name;
        EXPECT_EQ(classifyPDFType(dir / name, 0), 1) << name;
        EXPECT_EQ(isPDFPasswordProtection(dir / name), protectedDoc) << name;
        // The same bytes in memory.
        EXPECT_EQ(isPDFPasswordProtection(kiv::MemoryByteSource(readFile(dir / name))), protectedDoc) << name;
    }

    // Damage qpdf cannot get past is no password, nor is a broken cross-reference table, which
    // is repaired quietly; nor thousands of end-of-file markers, which would keep the repair
    // busy for minutes (the replayed fuzz regression holds the full-size case).
    const Bytes plainBytes = readFile(plain);
    std::string broken(plainBytes.begin(), plainBytes.end()), hostile = "%PDF-1.4\n/Encrypt\n";
    broken.replace(broken.find("startxref\n") + 10, 2, "99");
    for (int i = 0; i < 2000; ++i) hostile += "%%EOF\n";
    for (const std::string& text : {std::string("%PDF-1.7\ngarbage only\n"), std::string(), broken, hostile})
        EXPECT_FALSE(needsPassword(text)) << text.substr(0, 20);
    EXPECT_FALSE(isPDFPasswordProtection(dir / "missing.pdf"));

    // An encrypted file whose startxref points nowhere still needs its password after repair.
    const Bytes encrypted = readFile(dir / "user-aes256.pdf");
    std::string text(encrypted.begin(), encrypted.end());
    const size_t at = text.rfind("startxref");
    ASSERT_NE(at, std::string::npos);
    text.replace(at + 10, 1, "9");
    EXPECT_TRUE(needsPassword(text));
    // The cap counts every marker once, also those on a window edge: 1024 in all still
    // repair, 1025 do not.
    size_t have = 0;
    for (size_t p = text.find("%%EOF"); p != std::string::npos; p = text.find("%%EOF", p + 5)) ++have;
    for (size_t total : {1024u, 1025u}) {
        std::string padded = text + std::string(65533 - text.size(), ' ') + "%%EOF";  // across 65536
        for (size_t i = have + 1; i < total; ++i) padded += "\n%%EOF";
        EXPECT_EQ(needsPassword(padded), total == 1024) << total;
    }
}

TEST(PdfCost, OneWalkServesTheClassifierAndThePasswordTest) {
    // Damaged, naming an encryption dictionary, with too many markers for the repair, all at
    // the end: the Illustrator, "Encrypt" and "%%EOF" searches each used to read it all.
    std::string s = "%PDF-1.4\n" + std::string(1 << 20, 'x') + "/Encrypt\n";
    for (int i = 0; i < 1025; ++i) s += "%%EOF\n";
    kivtest::CountingSource src(bytes(s));
    EXPECT_EQ(classifyPDFType(src), 1);
    EXPECT_FALSE(isPDFPasswordProtection(src));
    // One walk, and the copy qpdf opens from memory.
    EXPECT_LE(src.bytesRead, 2 * s.size() + 2 * kiv::limits::kReadWindow);
}
