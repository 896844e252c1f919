// The definitions compiler and the project's own definitions: what the compiler refuses,
// and a round trip in which the compiled package, loaded by the library, ranks the right
// definition first for a small file of each format, with matcher texts that reach the
// mapping rule meant for that format.
#include <dirent.h>

#include <algorithm>
#include <regex>
#include <set>

#include "tests/qrixlib/QrixTestSupport.h"
#include "tools/qrixc/DefsCompiler.h"

namespace {

using namespace qrixtest;

// ---- the compiler ----

qrixc::Diagnostics compile(const std::string& source, std::vector<qrixc::SourceDefinition>* out = nullptr) {
    std::vector<qrixc::SourceDefinition> defs;
    qrixc::Diagnostics diag;
    qrixc::parseSource(source, "test.qdef", defs, diag);
    if (diag.errors.empty()) qrixc::checkDefinitions(defs, diag);
    if (out != nullptr) *out = defs;
    return diag;
}

std::string oneDef(const std::string& body) { return "def T\n  type Some type\n  ext SOM\n" + body + "end\n"; }

TEST(QrixCompiler, RefusesWhatCanNeverMatch) {
    const char* const refused[] = {
        "  string \"ABC\"\n",                       // no pattern at all
        "  pattern 2046 \"ABCD\"\n",                // ends beyond the 2048-byte header
        "  pattern 0 \"AB\"\n  pattern 1 \"C\"\n",  // its own patterns disagree
        "  pattern 0 \"A\"\n  string \"abc\"\n",    // lower case is never found
        "  pattern -1 \"A\"\n",
        "  pattern 40000 \"A\"\n",
    };
    for (const char* body : refused) EXPECT_FALSE(compile(oneDef(body)).errors.empty()) << body;
    EXPECT_FALSE(compile("# nothing but a comment\n").errors.empty());
    EXPECT_TRUE(compile(oneDef("  pattern 2044 \"ABCD\"\n  string \"A-Z 0\"\n")).errors.empty());
}

TEST(QrixCompiler, RefusesTextsTheRulesCannotRead) {
    auto withTexts = [](const std::string& type, const std::string& ext) {
        return compile("def T\n  type " + type + "\n  ext " + ext + "\n  pattern 0 \"A\"\nend\n");
    };
    EXPECT_TRUE(withTexts("Fine type", "AB/CD_1").errors.empty());
    for (const char* ext : {"png", "PNG//JPG", "PNG,JPG", "/PNG", "PNG/", "P NG"})
        EXPECT_FALSE(withTexts("Fine", ext).errors.empty()) << ext;
    for (const std::string& type : {std::string("tab\there"), std::string("caf\xC3\xA9"), std::string(1024, 'T')})
        EXPECT_FALSE(withTexts(type, "OK").errors.empty()) << type.size();
    EXPECT_TRUE(withTexts(std::string(1023, 'T'), "OK").errors.empty());
    EXPECT_FALSE(compile("def T\n  ext OK\n  pattern 0 \"A\"\nend\n").errors.empty());  // no type
}

TEST(QrixCompiler, SyntaxErrorsNameTheLine) {
    const auto diag = compile("def A\n  type X\n  ext X\n  pattern 0 \"A\"\n  frobnicate 1\nend\n");
    ASSERT_EQ(diag.errors.size(), 1u);
    EXPECT_NE(diag.errors[0].find("test.qdef:5:"), std::string::npos) << diag.errors[0];
    for (const char* bad : {"  pattern 0 4G\n", "  pattern 0 \"open\n", "  pattern 0 \"\\q\"\n", "  type again\n",
                            "  tag 99999999999\n", "  pattern x \"A\"\n"})
        EXPECT_FALSE(compile(oneDef(std::string("  pattern 0 \"A\"\n") + bad)).errors.empty()) << bad;
    EXPECT_FALSE(compile("def A\n  type X\n  ext X\n  pattern 0 \"A\"\n").errors.empty());  // no end
    EXPECT_FALSE(compile("  type X\n").errors.empty());                                     // outside a def
}

TEST(QrixCompiler, ByteNotation) {
    std::vector<qrixc::SourceDefinition> defs;
    ASSERT_TRUE(
        compile(oneDef("  pattern 0x10 u\"Ab\" 0d0A \"\\x41\\\"\\\\\" FF ube\"Cd\"\n  tag -5\n  fnum 0x7F\n"), &defs)
            .errors.empty());
    ASSERT_EQ(defs.size(), 1u);
    ASSERT_EQ(defs[0].patterns.size(), 1u);
    EXPECT_EQ(defs[0].patterns[0].offset, 16);
    EXPECT_EQ(defs[0].patterns[0].bytes, std::string("A\0b\0\r\nA\"\\\xFF\0C\0d", 14));
    EXPECT_EQ(defs[0].tag, -5);
    EXPECT_EQ(defs[0].fnum, 127);
}

TEST(QrixCompiler, WarnsOnlyWhereTwoDefinitionsCanTie) {
    auto warnings = [](const std::string& a, const std::string& b, const std::string& extB = "BBB") {
        return compile("def A\n  type A\n  ext AAA\n" + a + "end\ndef B\n  type B\n  ext " + extB + "\n" + b + "end\n")
            .warnings.size();
    };
    // Same points, and one file can satisfy both.
    EXPECT_EQ(warnings("  pattern 0 \"AB\"\n", "  pattern 0 \"AB\"\n"), 1u);
    EXPECT_EQ(warnings("  pattern 0 \"A\"\n  string \"XY\"\n", "  pattern 0 \"A\"\n  string \"ZW\"\n"), 1u);
    // Different bytes at the same offset: never both.
    EXPECT_EQ(warnings("  pattern 0 \"AB\"\n", "  pattern 0 \"AC\"\n"), 0u);
    // Different points.
    EXPECT_EQ(warnings("  pattern 0 \"AB\"\n", "  pattern 0 \"A\"\n  pattern 5 \"X\"\n"), 0u);
    // Same texts: a tie changes nothing.
    EXPECT_EQ(
        compile("def A\n  type T\n  ext E\n  pattern 0 \"A\"\nend\ndef B\n  type T\n  ext E\n  pattern 0 \"A\"\nend\n")
            .warnings.size(),
        0u);
}

TEST(QrixCompiler, PackageRoundTripsThroughTheLibrary) {
    std::vector<qrixc::SourceDefinition> defs;
    ASSERT_TRUE(compile("def One\n  type First\n  ext ONE\n  mime x/one\n  tag 3\n  pattern 0 \"ONE\"\n"
                        "  pattern 9 \"!\"\n  string \"TWO\"\nend\n",
                        &defs)
                    .errors.empty());
    TempDir dir;
    QrixLibrary lib(dir.file("lib.0"));
    ASSERT_EQ(lib.setPack(qrixc::buildPackage(defs)), 1);
    writeFile(dir.file("f"), "ONE two .!");
    ASSERT_EQ(lib.submitFileA(dir.file("f").c_str()), 1);
    ASSERT_EQ(lib.analyze(), 1);
    const auto hits = lib.hits();
    ASSERT_EQ(hits.size(), 1u);
    EXPECT_EQ(hits[0].points, qrixc::definitionPoints(defs[0]));
    EXPECT_EQ(hits[0].type, "First");
    EXPECT_EQ(hits[0].ext, "ONE");
    EXPECT_EQ(lib.text(109, 1), "x/one");
    EXPECT_EQ(lib.getInfo(108, 1, nullptr), 3);
}

// ---- the project's definitions ----

std::vector<std::string> sourceFiles() {
    std::vector<std::string> files;
    if (DIR* d = ::opendir(QRIX_DATA_DIR)) {
        while (dirent* e = ::readdir(d)) {
            const std::string name = e->d_name;
            if (name.size() > 5 && name.compare(name.size() - 5, 5, ".qdef") == 0)
                files.push_back(std::string(QRIX_DATA_DIR) + "/" + name);
        }
        ::closedir(d);
    }
    std::sort(files.begin(), files.end());
    return files;
}

TEST(ProjectDefinitions, CompileWithoutErrorsOrTies) {
    std::vector<qrixc::SourceDefinition> defs;
    qrixc::Diagnostics diag;
    const auto files = sourceFiles();
    ASSERT_FALSE(files.empty());
    for (const auto& f : files) qrixc::parseSource(readFile(f), f, defs, diag);
    qrixc::checkDefinitions(defs, diag);
    for (const auto& e : diag.errors) ADD_FAILURE() << e;
    for (const auto& w : diag.warnings) ADD_FAILURE() << w;
    EXPECT_EQ(qrixc::buildPackage(defs), readFile(QRIX_DEFS_PATH)) << "the built package is out of date";
}

// Extension and type patterns of the mapping rules that react to the matcher's texts.
struct Rule {
    int number;
    const char* ext;
    const char* type;
    bool matcherOnly;  // fires whatever libmagic says, so nothing before it may match by accident
};
const Rule kRules[] = {
    {1, ".*(PNG).*", "(.+)", false},
    {2, ".*(JPG).*", "(.+)", false},
    {3, ".*(GIF).*", "(.+)", false},
    {4, ".*(TIFF).*", "(.+)", false},
    {5, ".*(SVG).*", "(Scalable Vector Graphics).*", false},
    {6, ".*(AI).*", "(Adobe Illustrator graphics).*", true},
    {7, ".*(DOC).*", "(Microsoft Word document).*", false},
    {8, ".*(DOC).*", "(Microsoft Word 2003 XML Document.*)", true},
    {9, ".*(XLS).*", "(Microsoft Excel sheet).*", false},
    {10, ".*(XLS).*", "(Microsoft Excel 2003 XML Spreadsheet.*)", true},
    {11, ".*(PPT).*", "(Microsoft PowerPoint document).*", false},
    {12, ".*(DOCX|DOCM).*", "(Word Microsoft Office Open XML Format document.*)", false},
    {13, ".*(DOCX).*", "(Microsoft Word XML Document.*)", true},
    {14, ".*(XLSX|XLSM).*", "(Excel Microsoft Office Open XML Format document.*)", false},
    {15, ".*(PPTX|PPTM).*", "(PowerPoint Microsoft Office Open XML Format document.*)", false},
    {16, ".*(PPTX).*", "(Microsoft Powerpoint XML Presentation.*)", true},
    {17, ".*(BMP).*", "(Windows Bitmap).*", true},
    {18, ".*(ICO).*", "(Windows Icon).*", false},
    {19, ".*(PDF).*", "(Adobe Portable Document Format).*", false},
    {20, ".*(HTML).*", "(HyperText Markup Language.*)", false},
    {21, ".*(RTF).*", "(Rich Text Format).*", false},
    {24, ".+", "(.+)", false},
    {25, ".*(MSI).*", "(Microsoft Windows Installer).*", false},
    {26, ".*(XML).*", "((Generic XML|Microsoft Office XML Flat File Format|Android Manifest|XML sitemap).*)", false},
    {27, ".*(MSG).*", "(Outlook Message).*", false},
    {28, ".*(CDR).*", "(CorelDraw Document).*", false},
    {29, ".*(PSD).*", "(Adobe Photoshop image).*", false},
    {30, ".*(DWG).*", "(AutoCAD.* Drawing).*", false},
    {31, ".*(SLN).*", "(Microsoft Visual Studio Solution).*", false},
    {32, ".*(SUO).*", "(Microsoft VisualStudio Solution User Options).*", false},
    {33, ".*(TORRENT).*", "(Torrent.*)", false},
    {34, ".*(MP3).*", ".*(MP3 audio|MP3 Xing Encoder).*", false},
    {35, ".*(FLV).*", "(Flash Video).*", false},
    {36, ".*(MOV|3G2).*", "(QuickTime Movie|3GPP2 multimedia).*", false},
    {37, ".*(MPG/MPEG).*", "(MPEG Video).*", false},
    {38, ".*(M4V).*", "(MPEG-4 Video).*", false},
    {39, ".*(M4A/MP4|M4R).*", "(AAC Audio in MP4|iPhone Ringtone).*", false},
    {40, ".*(AVI).*", "(AVI Audio Video Interleaved).*", false},
    {41, ".*(WAV).*", "(RIFF/WAVe standard Audio).*", false},
    {42, ".*(3G2|3GP/3GPP).*", "(3GPP2 multimedia|Generic MP4 container|3GPP multimedia).*", false},
    {43, ".*(DAT).*", "(VideoCD MPEG).*", false},
    {44, ".*(SWF).*", "(Macromedia Flash Player).*", false},
    {45, ".*(RM).*", "(Real Media stream).*", false},
    {46, ".*(VMDK).*", "(VMware.* Virtual Disk).*", false},
    {47, ".*(VMX).*", "(VMware configuration).*", false},
    {48, ".*(JTD).*", "(Ichitaro document).*", false},
    {49, ".*(HWP).*", "(Hangul \\(Korean\\) Word Processor document).*", false},
    {50, ".*(WMF).*", "(Windows Metafile).*", false},
    {51, ".*(DMG).*", "(Macintosh Disk image).*", false},
    {52, ".*(RDF).*", ".*(Resource Description Framework).*", true},
    {53, ".*(GPX).*", "GPS eXchange format.*", true},
    {54, ".*(DB).*", "(Windows Thumbnail Database).*", false},
    {55, ".*(XEX/EXE).*", "(Atari XE Executable).*", false},
    {56, ".*(PUB).*", "(Microsoft Publisher document).*", false},
    {57, ".*(ATOM).*", "(.+)", true},
    {58, ".*(RELS).*", "(.+)", true},
    {59, ".*(RSS).*", "(.+)", true},
    {60, ".*(AIML).*", "(.+)", true},
    {61, ".*(GLADE).*", "(.+)", true},
    {62, ".*(ZIR).*", "(.+)", true},
    {63, ".*(SMI).*", "(.+)", true},
    {64, ".*(XAML).*", "(.+)", true},
    {65, ".*(PHP).*", "(.+)", true},
    {66, ".*(XSD).*", "(.+)", true},
    {67, ".*(KML).*", "(.+)", true},
    {68, ".*(MATHML).*", "(Mathematical Markup Language).*", true},
    {69, ".*(MML).*", "(Aleph One Marathon Markup Language).*", true},
    {70, ".*(POM).*", "(Maven Project Object Model).*", true},
    {71, ".*(RNG).*", "(RELAX NG).*", true},
    {72, ".*(XSPF).*", "(XML Shareable Playlist Format).*", true},
    {73, ".*(WSDL).*", "(Web Services Description Language).*", true},
    {74, ".*(VBS).*", ".*(Visual Basic Script).*", true},
    {75, ".*(ASPX).*", "(Microsoft ASP.NET Web Form).*", true},
    {76, ".*(PS1).*", ".*(PowerShell Script).*", true},
};

bool fullMatch(const std::string& text, const char* pattern) {
    return std::regex_match(text, std::regex(pattern, std::regex::ECMAScript | std::regex::icase));
}
bool ruleMatches(const Rule& r, const std::string& ext, const std::string& type) {
    return fullMatch(ext, r.ext) && fullMatch(type, r.type);
}

// ---- sample files, written byte by byte ----

std::string le16(uint32_t v) { return std::string{char(v & 0xFF), char(v >> 8 & 0xFF)}; }
std::string le32(uint32_t v) { return le16(v & 0xFFFF) + le16(v >> 16); }
std::string be32(uint32_t v) {
    return std::string{char(v >> 24), char(v >> 16 & 0xFF), char(v >> 8 & 0xFF), char(v & 0xFF)};
}
std::string utf16(const std::string& ascii) {
    std::string out;
    for (char c : ascii) out += std::string{c, '\0'};
    return out;
}
std::string utf16be(const std::string& ascii) {
    std::string out;
    for (char c : ascii) out += std::string{'\0', c};
    return out;
}

// A compound file: a 512-byte header and directory sectors whose entries carry the given
// names (UTF-16LE, as written by Office), followed by the stream bytes given.
std::string compoundFile(const std::vector<std::string>& names, const std::string& rootClsid = "",
                         const std::string& streams = "") {
    std::string h = std::string("\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1", 8) + std::string(16, '\0') + le16(0x3E) + le16(3) +
                    le16(0xFFFE) + le16(9) + le16(6);
    h.resize(76, '\0');
    h.resize(512, '\xFF');
    std::vector<std::string> all = {"Root Entry"};
    all.insert(all.end(), names.begin(), names.end());
    std::string dir;
    for (size_t i = 0; i < all.size(); ++i) {
        std::string e = utf16(all[i]);
        e.resize(64, '\0');
        e += le16(static_cast<uint32_t>(2 * all[i].size() + 2)) + std::string(1, i == 0 ? '\5' : '\2') + '\1';
        e += le32(0xFFFFFFFF) + le32(0xFFFFFFFF) + le32(i == 0 ? 1 : 0xFFFFFFFF);
        e += i == 0 && !rootClsid.empty() ? rootClsid : std::string(16, '\0');
        e.resize(128, '\0');
        dir += e;
    }
    dir.resize((dir.size() + 511) / 512 * 512, '\0');
    return h + dir + streams;
}

// A ZIP archive of stored members: local headers, then the central directory naming them
// again, then the end record.
std::string zipArchive(const std::vector<std::pair<std::string, std::string>>& members) {
    std::string local, central;
    for (const auto& [name, data] : members) {
        const uint32_t offset = static_cast<uint32_t>(local.size());
        const std::string common = le16(20) + le16(0) + le16(0) + le32(0) + le32(0) +
                                   le32(static_cast<uint32_t>(data.size())) + le32(static_cast<uint32_t>(data.size())) +
                                   le16(static_cast<uint32_t>(name.size())) + le16(0);
        local += std::string("PK\3\4") + common + name + data;
        central +=
            std::string("PK\1\2") + le16(20) + common + le16(0) + le16(0) + le16(0) + le32(0) + le32(offset) + name;
    }
    const std::string end = std::string("PK\5\6") + le16(0) + le16(0) + le16(static_cast<uint32_t>(members.size())) +
                            le16(static_cast<uint32_t>(members.size())) + le32(static_cast<uint32_t>(central.size())) +
                            le32(static_cast<uint32_t>(local.size())) + le16(0);
    return local + central + end;
}

std::string box(const std::string& type, const std::string& payload) {
    return be32(static_cast<uint32_t>(8 + payload.size())) + type + payload;
}
std::string isoMedia(const std::string& brand, const std::string& compatible) {
    return box("ftyp", brand + be32(0) + compatible) + box("free", "") + box("mdat", std::string(64, '\x11'));
}
std::string riff(const std::string& form, const std::string& chunks) {
    return "RIFF" + le32(static_cast<uint32_t>(4 + chunks.size())) + form + chunks;
}
std::string xmlDoc(const std::string& body) { return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n" + body + "\n"; }
std::string dmgTrailer() {
    std::string koly = "koly" + be32(4) + be32(512);
    koly.resize(512, '\0');
    return koly;
}

struct Sample {
    const char* name;
    std::string bytes;
    const char* ext;  // the winning definition's EXT text
    int rule;         // the mapping rule its texts are meant for; 0: none (taken by rule 79)
};

std::vector<Sample> samples() {
    const std::string svgNs = "xmlns=\"http://www.w3.org/2000/svg\"";
    const std::string xml16 = "<?xml version=\"1.0\" encoding=\"UTF-16\"?>\n<config><item/></config>\n";
    const std::string svgBare16 = "<svg " + svgNs + " width=\"1\"><rect/></svg>\n";
    const std::string svg16 = "<?xml version=\"1.0\" encoding=\"UTF-16\"?>\n" + svgBare16;
    const std::string bomLE = "\xFF\xFE", bomBE = "\xFE\xFF";
    auto mpeg25 = [](char second) {  // 12 frames, 16 kbit/s at 8 kHz: 288 bytes each
        std::string f;
        for (int i = 0; i < 12; ++i) f += std::string{'\xFF', second, '\x24', '\xC4'} + std::string(284, 'U');
        return f;
    };
    const std::string wordProps = std::string("\x05", 1) + "SummaryInformation";
    return {
        {"PNG",
         std::string("\x89PNG\r\n\x1A\n", 8) + be32(13) + "IHDR" + be32(1) + be32(1) + std::string("\x08\x02\0\0\0", 5),
         "PNG", 1},
        {"JPEG", std::string("\xFF\xD8\xFF\xE0\0\x10JFIF\0\x01\x01\0\0\x01\0\x01\0\0\xFF\xD9", 22), "JPG", 2},
        {"GIF", std::string("GIF89a\x01\0\x01\0\x80\0\0", 13) + std::string(6, '\0') + ";", "GIF", 3},
        {"TIFF LE", std::string("II*\0\x08\0\0\0", 8) + le16(0), "TIFF", 4},
        {"SVG", xmlDoc("<svg " + svgNs + " width=\"1\" height=\"1\"><rect/></svg>"), "SVG", 5},
        // UTF-16 in both byte orders, with and without a byte-order mark and an XML declaration.
        {"SVG UTF-16LE with BOM", bomLE + utf16(svg16), "SVG", 5},
        {"SVG UTF-16LE", utf16(svg16), "SVG", 5},
        {"SVG UTF-16BE with BOM", bomBE + utf16be(svg16), "SVG", 5},
        {"SVG UTF-16BE", utf16be(svg16), "SVG", 5},
        {"SVG UTF-16LE bare with BOM", bomLE + utf16(svgBare16), "SVG", 5},
        {"SVG UTF-16LE bare", utf16(svgBare16), "SVG", 5},
        {"SVG UTF-16BE bare with BOM", bomBE + utf16be(svgBare16), "SVG", 5},
        {"SVG UTF-16BE bare", utf16be(svgBare16), "SVG", 5},
        {"AI PostScript", "%!PS-Adobe-3.0\n%%Creator: Adobe Illustrator(R) 8.0\n%%EndComments\n", "AI", 6},
        {"AI PDF", "%PDF-1.5\n%\xE2\xE3\xCF\xD3\n1 0 obj\n<</AIPrivateData1 5 0 R/ContainerVersion 11>>\nendobj\n",
         "AI", 6},
        {"DOC", compoundFile({"WordDocument", "1Table", wordProps}), "DOC", 7},
        {"Word 2003 XML",
         xmlDoc("<?mso-application progid=\"Word.Document\"?>\n<w:wordDocument "
                "xmlns:w=\"http://schemas.microsoft.com/office/word/2003/wordml\"><w:body/></w:wordDocument>"),
         "XML/DOC", 8},
        {"XLS", compoundFile({"Workbook", wordProps}), "XLS", 9},
        {"Excel 2003 XML",
         xmlDoc("<Workbook xmlns=\"urn:schemas-microsoft-com:office:spreadsheet\"><Worksheet/></Workbook>"), "XML/XLS",
         10},
        {"PPT", compoundFile({"PowerPoint Document", "Current User", wordProps}), "PPT", 11},
        {"Word flat XML package",
         xmlDoc("<?mso-application progid=\"Word.Document\"?>\n<pkg:package "
                "xmlns:pkg=\"http://schemas.microsoft.com/office/2006/xmlPackage\"><pkg:part pkg:name=\"/_rels/.rels\">"
                "<Relationships xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\"/></pkg:part>"
                "<pkg:part pkg:name=\"/word/document.xml\"/></pkg:package>"),
         "XML/DOCX", 13},
        {"PowerPoint flat XML package",
         xmlDoc("<?mso-application progid=\"PowerPoint.Show\"?>\n<pkg:package "
                "xmlns:pkg=\"http://schemas.microsoft.com/office/2006/xmlPackage\">"
                "<pkg:part pkg:name=\"/ppt/presentation.xml\"/></pkg:package>"),
         "XML/PPTX", 16},
        {"BMP",
         "BM" + le32(58) + le32(0) + le32(54) + le32(40) + le32(1) + le32(1) + le16(1) + le16(24) +
             std::string(28, '\0'),
         "BMP", 17},
        {"ICO", std::string("\0\0\1\0\1\0\x10\x10\0\0\1\0\x20\0", 14) + le32(40) + le32(22) + std::string(40, '\0'),
         "ICO", 18},
        {"PDF", "%PDF-1.4\n1 0 obj\n<</Type/Catalog>>\nendobj\ntrailer\n<</Root 1 0 R>>\n%%EOF\n", "PDF", 19},
        {"HTML", "<!DOCTYPE html>\n<html><head><title>t</title></head><body></body></html>\n", "HTML", 20},
        {"HTML UTF-16", "\xFF\xFE" + utf16("<html><body>hi</body></html>"), "HTML", 20},
        {"HTML UTF-16BE", "\xFE\xFF" + utf16be("<!DOCTYPE html><html><body>hi</body></html>"), "HTML", 20},
        {"RTF", "{\\rtf1\\ansi\\deff0 {\\fonttbl {\\f0 Times;}}\\f0 Hello\\par}\n", "RTF", 21},
        {"EXE", std::string("MZ\x90\0\x03\0\0\0\x04\0\0\0\xFF\xFF", 14) + std::string(46, '\0') + le32(64) + "PE\0\0",
         "EXE/DLL", 24},
        {"MSI",
         compoundFile({wordProps, "\xE4\xA1\x80"}, std::string("\x84\x10\x0C\0\0\0\0\0\xC0\0\0\0\0\0\0\x46", 16)),
         "MSI", 25},
        {"XML", xmlDoc("<config><item/></config>"), "XML", 26},
        {"XML UTF-16LE with BOM", bomLE + utf16(xml16), "XML", 26},
        {"XML UTF-16LE", utf16(xml16), "XML", 26},
        {"XML UTF-16BE with BOM", bomBE + utf16be(xml16), "XML", 26},
        {"XML UTF-16BE", utf16be(xml16), "XML", 26},
        {"XML sitemap",
         xmlDoc("<urlset xmlns=\"http://www.sitemaps.org/schemas/sitemap/0.9\"><url><loc>x</loc></url></urlset>"),
         "XML", 26},
        {"Office flat file", xmlDoc("<?mso-application progid=\"Excel.Sheet\"?>\n<root/>"), "XML", 26},
        {"MSG", compoundFile({"__substg1.0_0037001F", "__properties_version1.0", "__nameid_version1.0"}), "MSG", 27},
        {"CDR", riff("CDR9", "vrsn" + le32(2) + le16(900)), "CDR", 28},
        {"PSD", std::string("8BPS\0\1\0\0\0\0\0\0\0\3", 14) + be32(1) + be32(1) + std::string("\0\x08\0\3", 4), "PSD",
         29},
        {"DWG", "AC1015" + std::string(20, '\0'), "DWG", 30},
        {"SLN", "\xEF\xBB\xBF\r\nMicrosoft Visual Studio Solution File, Format Version 12.00\r\n# Visual Studio 15\r\n",
         "SLN", 31},
        {"SUO", compoundFile({"SolutionConfiguration", "DebuggerWatches", "ClassViewContents"}), "SUO", 32},
        {"Torrent",
         "d8:announce31:http://tracker.example/announce4:infod6:lengthi1e4:name1:a12:piece lengthi16384e6:"
         "pieces20:01234567890123456789ee",
         "TORRENT", 33},
        {"Torrent without tracker",
         "d4:infod6:lengthi1e4:name1:a12:piece lengthi16384e6:pieces20:01234567890123456789ee", "TORRENT", 33},
        {"MP3 ID3", std::string("ID3\x04\0\0\0\0\0\0", 10) + std::string("\xFF\xFB\x90\x64", 4), "MP3", 34},
        {"MP3 MPEG-2.5", mpeg25('\xE3'), "MP3", 34},
        {"MP3 MPEG-2.5 with CRC", mpeg25('\xE2'), "MP3", 34},
        {"FLV", std::string("FLV\x01\x05\0\0\0\x09\0\0\0\0", 13), "FLV", 35},
        {"MOV", isoMedia("qt  ", "qt  "), "MOV", 36},
        {"MOV without ftyp", box("moov", box("mvhd", std::string(100, '\0'))), "MOV", 36},
        {"MPEG program stream", std::string("\0\0\x01\xBA\x44\0\x04\0\x04\x01\x01\x89\xC3\xF8", 14), "MPG/MPEG", 37},
        {"M4V", isoMedia("M4V ", "M4V M4A mp42isom"), "M4V", 38},
        {"M4A", isoMedia("M4A ", "M4A mp42isom"), "M4A/MP4", 39},
        {"AVI", riff("AVI ", "LIST" + le32(4) + "hdrl"), "AVI", 40},
        {"WAV",
         riff("WAVE",
              "fmt " + le32(16) + le16(1) + le16(1) + le32(8000) + le32(16000) + le16(2) + le16(16) + "data" + le32(0)),
         "WAV", 41},
        {"3GP", isoMedia("3gp4", "isom3gp4"), "3GP/3GPP", 42},
        {"3G2", isoMedia("3g2a", "3g2a"), "3G2", 36},
        {"MP4", isoMedia("isom", "isomiso2avc1mp41"), "MP4", 0},
        {"VideoCD", riff("CDXA", "fmt " + le32(16) + std::string(16, '\0')), "DAT", 43},
        {"SWF", "CWS\x0A" + le32(1000) + "x\x9C", "SWF", 44},
        {"RealMedia", std::string(".RMF\0\0\0\x12\0\0\0\0\0\0\0\0\0\x05", 18), "RM", 45},
        {"VMDK", "KDMV" + le32(1) + le32(3) + std::string(64, '\0'), "VMDK", 46},
        {"VMX", ".encoding = \"UTF-8\"\nconfig.version = \"8\"\nvirtualHW.version = \"19\"\n", "VMX", 47},
        {"Ichitaro", compoundFile({"\x04JSRV_SegmentInformation", "DocumentText"}), "JTD", 48},
        {"HWP 5", compoundFile({"FileHeader", "DocInfo", "BodyText"}, "", "HWP Document File" + std::string(15, '\0')),
         "HWP", 49},
        {"HWP 3", "HWP Document File V3.00 \x1A\x01\x02\x03\x04\x05", "HWP", 49},
        {"WMF", std::string("\xD7\xCD\xC6\x9A\0\0", 6) + std::string(16, '\0'), "WMF", 50},
        {"DMG", std::string("\x78\xDA\x63\x60\x18\x05\xA3\x60", 8) + std::string(600, '\x5A') + dmgTrailer(), "DMG",
         51},
        {"RDF",
         xmlDoc("<rdf:RDF xmlns:rdf=\"http://www.w3.org/1999/02/22-rdf-syntax-ns#\"><rdf:Description/></rdf:RDF>"),
         "RDF", 52},
        {"GPX",
         xmlDoc("<gpx version=\"1.1\" creator=\"t\" xmlns=\"http://www.topografix.com/GPX/1/1\"><wpt lat=\"0\" "
                "lon=\"0\"/></gpx>"),
         "GPX", 53},
        {"Thumbs.db", compoundFile({"Catalog", "1", "2"}), "DB", 54},
        {"Atari load file", std::string("\xFF\xFF\x00\x20\x03\x20\xA9\x00\x60\x00", 10), "XEX/EXE", 55},
        {"Publisher", compoundFile({"Quill", "QuillSub", "CONTENTS", "Escher"}), "PUB", 56},
        {"Atom", xmlDoc("<feed xmlns=\"http://www.w3.org/2005/Atom\"><title>t</title></feed>"), "ATOM", 57},
        {"Relationships",
         xmlDoc("<Relationships xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\"/>"), "RELS", 58},
        {"RSS", xmlDoc("<rss version=\"2.0\"><channel><title>t</title></channel></rss>"), "RSS", 59},
        {"RSS linking itself in Atom",
         xmlDoc("<rss version=\"2.0\" xmlns:atom=\"http://www.w3.org/2005/Atom\"><channel><title>t</title>"
                "<atom:link href=\"https://example.org/f.rss\" rel=\"self\"/></channel></rss>"),
         "RSS", 59},
        {"RSS 1.0",
         xmlDoc("<rdf:RDF xmlns:rdf=\"http://www.w3.org/1999/02/22-rdf-syntax-ns#\" "
                "xmlns=\"http://purl.org/rss/1.0/\"><channel/></rdf:RDF>"),
         "RSS", 59},
        {"AIML", xmlDoc("<aiml version=\"1.0\"><category><pattern>HI</pattern></category></aiml>"), "AIML", 60},
        {"Glade", xmlDoc("<glade-interface><widget class=\"GtkWindow\"/></glade-interface>"), "GLADE", 61},
        {"GtkBuilder",
         xmlDoc("<!-- Generated with glade 3.40.0 -->\n<interface>\n  <requires lib=\"gtk+\" version=\"3.24\"/>\n"
                "  <object class=\"GtkWindow\" id=\"w\"/>\n</interface>"),
         "GLADE", 61},
        {"Compass and Ruler", xmlDoc("<CaR>\n<Construction>\n</Construction>\n</CaR>"), "ZIR", 62},
        {"SMIL", xmlDoc("<smil xmlns=\"http://www.w3.org/ns/SMIL\"><body><seq/></body></smil>"), "SMI", 63},
        {"XAML",
         "<Window xmlns=\"http://schemas.microsoft.com/winfx/2006/xaml/presentation\" "
         "xmlns:x=\"http://schemas.microsoft.com/winfx/2006/xaml\"></Window>\n",
         "XAML", 64},
        {"PHP", "<?php\necho 'hi';\n", "PHP", 65},
        {"PHP after an interpreter line", "#!/usr/bin/env php\n<?php\necho 'hi';\n", "PHP", 65},
        {"XSD", xmlDoc("<xs:schema xmlns:xs=\"http://www.w3.org/2001/XMLSchema\"><xs:element name=\"a\"/></xs:schema>"),
         "XSD", 66},
        {"KML", xmlDoc("<kml xmlns=\"http://www.opengis.net/kml/2.2\"><Placemark/></kml>"), "KML", 67},
        {"MathML", xmlDoc("<math xmlns=\"http://www.w3.org/1998/Math/MathML\"><mi>x</mi></math>"), "MATHML", 68},
        {"Marathon markup", xmlDoc("<marathon>\n<stringset index=\"128\"/>\n</marathon>"), "MML", 69},
        {"Maven POM",
         xmlDoc("<project xmlns=\"http://maven.apache.org/POM/4.0.0\"><modelVersion>4.0.0</modelVersion></project>"),
         "POM", 70},
        {"RELAX NG", xmlDoc("<grammar xmlns=\"http://relaxng.org/ns/structure/1.0\"><start/></grammar>"), "RNG", 71},
        {"XSPF", xmlDoc("<playlist version=\"1\" xmlns=\"http://xspf.org/ns/0/\"><trackList/></playlist>"), "XSPF", 72},
        {"WSDL",
         xmlDoc("<definitions xmlns=\"http://schemas.xmlsoap.org/wsdl/\" "
                "xmlns:xsd=\"http://www.w3.org/2001/XMLSchema\"><types><xsd:schema/></types></definitions>"),
         "WSDL", 73},
        {"VBScript", "Option Explicit\r\nDim shell\r\nSet shell = WScript.CreateObject(\"WScript.Shell\")\r\n", "VBS",
         74},
        {"VBScript object first", "Set fso = CreateObject(\"Scripting.FileSystemObject\")\r\nfso.DeleteFile \"x\"\r\n",
         "VBS", 74},
        {"ASP.NET", "<%@ Page Language=\"C#\" AutoEventWireup=\"true\" %>\n<html></html>\n", "ASPX", 75},
        {"PowerShell", "#Requires -Version 5.1\nparam([string]$Name)\nWrite-Host $Name\n", "PS1", 76},
        {"PowerShell help", "<#\n.SYNOPSIS\n  Says hello.\n#>\nWrite-Output 'hello'\n", "PS1", 76},
        {"PowerShell comments and binding",
         "# Backup.ps1\n# copies logs\n[CmdletBinding()]\nparam (\n  [string]$S\n)\n", "PS1", 76},
        {"PowerShell comments and parameters", "# conformance script\nparam([string]$Name = 'world')\n", "PS1", 76},
        {"PowerShell block and parameters", "<#\n  Says hello.\n#>\nParam(\n  [string]$Name\n)\n", "PS1", 76},
        {"PowerShell parameters first", "param (\n    [string]$Name = 'World'\n)\nWrite-Host $Name\n", "PS1", 76},
        {"PowerShell capitalised parameters", "Param([string]$Name)\nWrite-Host $Name\n", "PS1", 76},
        {"PowerShell interpreter line", "#!/usr/bin/env pwsh\nWrite-Host 'hi'\n", "PS1", 76},
        {"ZIP", zipArchive({{"a.txt", "hello"}}), "ZIP", 0},
        {"JAR", zipArchive({{"META-INF/MANIFEST.MF", "Manifest-Version: 1.0\r\n"}, {"A.class", "\xCA\xFE\xBA\xBE"}}),
         "JAR", 0},
        // The engine folds exactly this text (and XLSX, PPTX) to ZIP before mapping.
        {"DOCX", zipArchive({{"[Content_Types].xml", "<Types/>"}, {"word/document.xml", "<w:document/>"}}), "DOCX", 0},
        // Files that carry a second vocabulary inside: the outer format must win.
        {"MSG with an attached document",
         compoundFile({"__substg1.0_3701000D", "WordDocument", "1Table", "__properties_version1.0"}), "MSG", 27},
        {"PPT with an embedded workbook", compoundFile({"PowerPoint Document", "Workbook"}), "PPT", 11},
    };
}

class ProjectPackageTest : public QrixTest {
protected:
    void SetUp() override {
        QrixTest::SetUp();
        writeFile(dir.file("QrixDefs.QXD"), readFile(QRIX_DEFS_PATH));
        declared = lib->loadDefsPack(const_cast<char*>(dir.path().c_str()));
    }
    int declared = 0;
};

TEST_F(ProjectPackageTest, EachFormatRanksItsDefinitionFirst) {
    ASSERT_GT(declared, 0);
    for (const Sample& s : samples()) {
        SCOPED_TRACE(s.name);
        ASSERT_EQ(submit(s.bytes), 1);
        ASSERT_EQ(lib->analyze(), 1);
        const auto chosen = lib->engineChoice();
        EXPECT_EQ(chosen.ext, s.ext);
        EXPECT_FALSE(chosen.type.empty());
        // No tie at the top: the walk's choice is also rank 1.
        const auto hits = lib->hits();
        ASSERT_FALSE(hits.empty());
        if (hits.size() > 1) {
            EXPECT_GT(hits[0].points, hits[1].points);
        }
        if (s.rule == 0) continue;
        // The texts reach the intended rule, and no rule that ignores libmagic takes them earlier.
        for (const Rule& r : kRules) {
            if (r.number == s.rule) {
                EXPECT_TRUE(ruleMatches(r, chosen.ext, chosen.type)) << chosen.ext << " / " << chosen.type;
                break;
            }
            EXPECT_FALSE(r.matcherOnly && ruleMatches(r, chosen.ext, chosen.type))
                << "rule " << r.number << " takes " << chosen.ext << " / " << chosen.type;
        }
    }
}

// Scripts of other languages that share a marker with the script definitions.
TEST_F(ProjectPackageTest, ScriptDefinitionsLeaveOtherScriptsAlone) {
    ASSERT_GT(declared, 0);
    const std::string others[] = {
        "#!/usr/bin/perl\n# form handler\nuse CGI;\nmy $q = CGI->new;\nprint $q->param('name');\n",
        "#!/bin/sh\n# settings\nSet=1\necho \"$Set\"\n",
        "Set WshShell = Nothing\n",
        "#!/usr/bin/env python3\n# tool\nprint('<?xml')\n",
        // A Perl script that writes PHP further down, as a metadata tool does.
        "#!/usr/bin/perl -w\nuse strict;\nprint \"<?php echo 1; ?>\\n\";\n",
    };
    for (const std::string& text : others) {
        ASSERT_EQ(submit(text), 1);
        ASSERT_EQ(lib->analyze(), 1);
        const std::string ext = lib->hits().empty() ? "" : lib->engineChoice().ext;
        EXPECT_TRUE(ext != "PS1" && ext != "VBS" && ext != "PHP" && ext != "XML") << ext << " for " << text;
    }
}

TEST_F(ProjectPackageTest, EveryMappingRuleIsReachable) {
    ASSERT_GT(declared, 0);
    std::set<int> reached;
    for (const Sample& s : samples()) reached.insert(s.rule);
    for (const Rule& r : kRules) {
        // Rules 12, 14 and 15 need texts that the engine folds to ZIP before mapping.
        if (r.number == 12 || r.number == 14 || r.number == 15) continue;
        EXPECT_TRUE(reached.count(r.number)) << "no sample reaches rule " << r.number;
    }
}

TEST_F(ProjectPackageTest, FilesMadeByRealTools) {
    ASSERT_GT(declared, 0);
    int status = 0;
    // A JAR as the zip tool writes it, with its manifest compressed.
    writeFile(dir.file("MANIFEST.MF"), "Manifest-Version: 1.0\nCreated-By: test\n\n" + std::string(300, 'x'));
    ASSERT_EQ(::mkdir(dir.file("META-INF").c_str(), 0700), 0);
    ASSERT_EQ(::rename(dir.file("MANIFEST.MF").c_str(), dir.file("META-INF/MANIFEST.MF").c_str()), 0);
    runProgram({"sh", "-c", "cd \"$0\" && zip -q -r app.jar META-INF", dir.path()}, status);
    if (status != 0) GTEST_SKIP() << "zip is not available";
    ASSERT_EQ(lib->submitFileA(dir.file("app.jar").c_str()), 1);
    ASSERT_EQ(lib->analyze(), 1);
    EXPECT_EQ(lib->engineChoice().ext, "JAR");

    // A WAV file from Python's wave module.
    const std::string wav = dir.file("tone.wav");
    runProgram({"python3", "-c",
                "import sys, wave\nw = wave.open(sys.argv[1], 'wb')\nw.setnchannels(1)\nw.setsampwidth(2)\n"
                "w.setframerate(8000)\nw.writeframes(b'\\0\\0' * 800)\nw.close()",
                wav},
               status);
    if (status != 0) GTEST_SKIP() << "python3 is not available";
    ASSERT_EQ(lib->submitFileA(wav.c_str()), 1);
    ASSERT_EQ(lib->analyze(), 1);
    EXPECT_EQ(lib->engineChoice().ext, "WAV");
}

}  // namespace
