// Mapping rules: each rule reached by its own inputs, precedence, templates, extension
// lists, failures, long inputs on a small stack, and agreement with an ECMAScript matcher.
#include <gtest/gtest.h>
#include <pthread.h>

#include <atomic>
#include <iterator>
#include <random>
#include <regex>
#include <thread>

#include "engine/mapping/regexptable.h"

namespace {

struct Case {
    int rule;
    const char* in1;
    const char* in2;
    const char* in3;
    const char* in4;
    const char* typeId;
    const char* mime;
    const char* desc;
    const char* ext;
};

const char* const kDocxMime = "application/vnd.openxmlformats-officedocument.wordprocessingml.document";
const char* const kXlsxMime = "application/vnd.openxmlformats-officedocument.spreadsheetml.sheet";
const char* const kPptxMime = "application/vnd.openxmlformats-officedocument.presentationml.presentation";

// One case per rule, in rule order: inputs that the rule, and no rule before it, accepts.
const Case kCases[] = {
    {1, "PNG", "Portable Network Graphics", "image/png", "PNG image data, 1 x 1", "PNG", "image/png",
     "Portable Network Graphics", "png"},
    {2, "JPG", "JPEG image", "image/jpeg", "JPEG image data, JFIF standard 1.01", "JPG", "image/jpeg", "JPEG Image",
     "jpg,jpeg"},
    {3, "GIF", "GIF image", "image/gif", "GIF image data, version 89a", "GIF", "image/gif",
     "Graphics Interchange Format", "gif"},
    {4, "TIFF", "TIFF image", "image/tiff", "TIFF image data, little-endian", "TIFF", "image/tiff",
     "Tagged Image File Format", "tif,tiff"},
    // UTF-16 with a byte-order mark and no declaration: plain text to libmagic, SVG's type here.
    {5, "SVG", "Scalable Vector Graphics image", "text/plain", "Unicode text, UTF-16, little-endian text", "SVG",
     "image/svg+xml", "Scalable Vector Graphics", "svg"},
    {6, "AI", "Adobe Illustrator graphics", "application/pdf", "PDF document, version 1.5", "AI",
     "application/illustrator", "Adobe Illustrator graphics", "ai"},
    {7, "DOC", "Microsoft Word document", "application/msword", "Composite Document File V2 Document, Little Endian",
     "DOC", "application/msword", "Microsoft Word 97-2003 Document", "doc"},
    {8, "DOC", "Microsoft Word 2003 XML Document", "text/xml", "XML 1.0 document, ASCII text", "XML-DOC", kDocxMime,
     "Microsoft Word 2003 XML Document", "xml,doc"},
    {9, "XLS", "Microsoft Excel sheet", "application/vnd.ms-excel", "Composite Document File V2 Document", "XLS",
     "application/vnd.ms-excel", "Microsoft Excel 97-2003 Workbook", "xls,xla"},
    {10, "XLS", "Microsoft Excel 2003 XML Spreadsheet", "text/xml", "XML 1.0 document", "XML-XLS", kXlsxMime,
     "Microsoft XML Spreadsheet 2003", "xml,xls"},
    {11, "PPT", "Microsoft PowerPoint document", "application/vnd.ms-powerpoint", "CDF V2 Document, corrupt", "PPT",
     "application/vnd.ms-powerpoint", "Microsoft PowerPoint 97-2003 Presentation", "ppt"},
    {12, "DOCX/DOCM", "Word Microsoft Office Open XML Format document", kDocxMime, "Microsoft Word 2007+", "DOCX",
     kDocxMime, "Microsoft Word Document", "docm,docx"},
    {13, "DOCX", "Microsoft Word XML Document", "text/xml", "XML 1.0 document", "XML-DOCX", kDocxMime,
     "Microsoft Word XML Document", "xml,docx"},
    {14, "XLSX", "Excel Microsoft Office Open XML Format document", kXlsxMime, "Microsoft Excel 2007+", "XLSX",
     kXlsxMime, "Microsoft Excel Workbook", "xlsm,xlsx"},
    {15, "PPTX", "PowerPoint Microsoft Office Open XML Format document", "application/octet-stream", "Microsoft OOXML",
     "PPTX", kPptxMime, "Microsoft PowerPoint Presentation", "pptm,pptx"},
    {16, "PPTX", "Microsoft Powerpoint XML Presentation", "text/xml", "XML 1.0 document", "XML-PPTX", kPptxMime,
     "Microsoft PowerPoint XML Presentation", "xml,pptx"},
    {17, "BMP", "Windows Bitmap", "image/bmp", "PC bitmap, Windows 3.x format", "data", "application/octet-stream",
     "data", "data"},
    {18, "ICO", "Windows Icon", "image/vnd.microsoft.icon", "MS Windows icon resource - 1 icon", "ICO",
     "image/vnd.microsoft.icon", "Windows Icon", "ico"},
    {19, "PDF", "Adobe Portable Document Format", "application/pdf", "PDF document, version 1.4", "PDF",
     "application/pdf", "Adobe Portable Document Format", "pdf,ai"},
    // The post-rules decide HTML on libmagic's description, and write their own.
    {20, "HTML", "HyperText Markup Language", "text/html", "HTML document, ASCII text", "HTML", "text/html",
     "HTML document, ASCII text", "htm,html"},
    {21, "RTF", "Rich Text Format", "text/rtf", "Rich Text Format data, version 1", "RTF", "text/rtf",
     "Microsoft Rich Text Format", "rtf"},
    {22, "EXE", "Windows executable", "application/vnd.microsoft.portable-executable",
     "PE32 executable (DLL) (GUI) Intel 80386, for MS Windows", "DLL", "application/vnd.microsoft.portable-executable",
     "Dynamic Link Library", "dll,ocx,ax"},
    {23, "EXE", "Windows executable", "application/x-dosexec",
     "PE32 executable (GUI) Intel 80386, for MS Windows, Nullsoft Installer self-extracting archive", "EXE_SFX",
     "application/x-dosexec", "Self-extracting Executable File", "exe"},
    {24, "EXE", "Windows executable", "application/x-dosexec", "MS-DOS executable, MZ for MS-DOS", "EXE",
     "application/x-dosexec", "Executable File", "exe,com,dll,sys"},
    {25, "MSI", "Microsoft Windows Installer", "application/x-msi",
     "Composite Document File V2 Document, MSI Installer", "MSI", "application/x-msi", "Microsoft Windows Installer",
     "msi"},
    {26, "XML", "Generic XML document", "text/xml", "XML 1.0 document, ASCII text", "XML", "text/xml",
     "Extensible Markup Language", "xml"},
    {27, "MSG", "Outlook Message", "application/vnd.ms-outlook", "CDFV2 Microsoft Outlook Message", "MSG",
     "application/vnd.ms-outlook", "Outlook Message", "msg"},
    {28, "CDR", "CorelDraw Document", "application/vnd.corel-draw", "RIFF (little-endian) data, Corel Draw Picture",
     "CDR", "application/vnd.corel-draw", "CorelDraw Document", "cdr"},
    {29, "PSD", "Adobe Photoshop image", "image/vnd.adobe.photoshop", "Adobe Photoshop Image, 1 x 1", "PSD",
     "image/vnd.adobe.photoshop", "Adobe Photoshop Document", "psd"},
    {30, "DWG", "AutoCAD 2004 Drawing", "image/vnd.dwg", "DWG AutoDesk AutoCAD 2004/2005/2006", "DWG", "image/vnd.dwg",
     "AutoCAD 2004 Drawing", "dwg"},
    {31, "SLN", "Microsoft Visual Studio Solution", "text/plain",
     "Unicode text, UTF-8 (with BOM) text, with CRLF line terminators", "SLN", "text/plain",
     "Microsoft Visual Studio Solution", "sln"},
    {32, "SUO", "Microsoft VisualStudio Solution User Options", "application/CDFV2",
     "Composite Document File V2 Document", "SUO", "application/CDFV2", "Microsoft Visual Studio Solution User Options",
     "suo"},
    {33, "TORRENT", "Torrent file", "application/x-bittorrent", "BitTorrent file", "TORRENT",
     "application/x-bittorrent", "BitTorrent file", "torrent"},
    {34, "MP3", "MPEG-1 Layer 3 (MP3 audio)", "audio/mpeg", "Audio file with ID3 version 2.3.0", "MP3", "audio/mpeg",
     "MP3 Audio", "mp3"},
    {35, "FLV", "Flash Video", "video/x-flv", "Macromedia Flash Video", "FLV", "video/x-flv", "Macromedia Flash Video",
     "flv"},
    {36, "MOV", "QuickTime Movie", "video/quicktime", "ISO Media, Apple QuickTime movie, Apple QuickTime (.MOV/QT)",
     "MOV", "video/quicktime", "Apple QuickTime movie", "mov"},
    {37, "MPG/MPEG", "MPEG Video", "video/mpeg", "MPEG sequence, v2, program multiplex", "MPG/MPEG", "video/mpeg",
     "MPEG Video", "mpg,mpeg"},
    {38, "M4V", "MPEG-4 Video", "video/x-m4v", "ISO Media, Apple iTunes Video (.M4V) Video", "M4V", "video/x-m4v",
     "MPEG-4 Video", "mp4,m4v"},
    {39, "M4A/MP4", "AAC Audio in MP4", "audio/x-m4a", "ISO Media, Apple iTunes ALAC/AAC-LC (.M4A) Audio", "M4A/MP4",
     "audio/x-m4a", "AAC Audio in MP4", "m4a,m4r"},
    {40, "AVI", "AVI Audio Video Interleaved", "video/x-msvideo", "RIFF (little-endian) data, AVI, 320 x 240", "AVI",
     "video/x-msvideo", "AVI Audio Video Interleaved", "avi"},
    {41, "WAV", "RIFF/WAVe standard Audio", "audio/x-wav", "RIFF (little-endian) data, WAVE audio, Microsoft PCM",
     "WAV", "audio/x-wav", "RIFF/WAVe Standard Audio", "wav"},
    {42, "3G2", "3GPP2 multimedia", "video/3gpp2", "ISO Media, MPEG v4 system, 3GPP2 C.S0050-0 V1.0", "3G2",
     "video/3gpp2", "3GPP2 multimedia", "3gp,3g2"},
    {43, "DAT", "VideoCD MPEG", "video/x-cdxa", "RIFF (little-endian) data, wrapped MPEG-1 (CDXA)", "DAT",
     "video/x-mpeg", "VideoCD MPEG", "mpg,dat"},
    {44, "SWF", "Macromedia Flash Player", "application/x-shockwave-flash",
     "Macromedia Flash data (compressed), version 10", "SWF", "application/x-shockwave-flash",
     "Macromedia Flash Player", "swf"},
    {45, "RM", "Real Media stream", "application/vnd.rn-realmedia", "RealMedia file", "RM",
     "application/vnd.rn-realmedia", "Real Media stream", "rm"},
    {46, "VMDK", "VMware 4 Virtual Disk", "application/octet-stream", "VMware4 disk image", "VMDK",
     "application/octet-stream", "VMware Virtual Disk", "vmdk"},
    {47, "VMX", "VMware configuration", "text/plain", "ASCII text", "VMX", "text/plain", "VMware Configuration", "vmx"},
    {48, "JTD", "Ichitaro document", "application/vnd.ms-office", "Composite Document File V2 Document", "JTD",
     "application/vnd.ms-office", "Ichitaro Document", "jtd"},
    {49, "HWP", "Hangul (Korean) Word Processor document", "application/x-hwp",
     "Hangul (Korean) Word Processor File 3.0", "HWP", "application/x-hwp", "Hangul Word Processor", "hwp"},
    {50, "WMF", "Windows Metafile", "image/wmf", "Windows metafile", "WMF", "application/octet-stream",
     "Windows Metafile", "wmf"},
    {51, "DMG", "Macintosh Disk image", "application/x-bzip2", "bzip2 compressed data, block size = 900k", "DMG",
     "application/x-apple-diskimage", "Macintosh Disk image", "dmg"},
    {52, "RDF", "W3C Resource Description Framework", "application/rdf+xml", "XML 1.0 document", "RDF",
     "application/rdf+xml", "Resource Description Framework", "rdf"},
    {53, "GPX", "GPS eXchange format", "text/xml", "XML 1.0 document", "GPX", "text/xml", "GPS eXchange Format",
     "xml,gpx"},
    {54, "DB", "Windows Thumbnail Database", "application/CDFV2", "Microsoft Thumbs.db [Windows Explorer]", "DB",
     "application/CDFV2", "Windows Thumbnail Database", "db"},
    {55, "XEX/EXE", "Atari XE Executable", "application/x-dosdriver", "DOS executable (device driver)", "XEX/EXE",
     "application/x-dosdriver", "Atari XE Executable", "xex,exe"},
    {56, "PUB", "Microsoft Publisher document", "application/vnd.ms-office", "Composite Document File V2 Document",
     "PUB", "application/vnd.ms-office", "Publisher Files", "pub"},
    {57, "ATOM", "Atom feed", "text/xml", "XML 1.0 document", "ATOM", "text/xml", "Atom web feed", "atom,xml"},
    {58, "RELS", "Relationships", "text/xml", "XML 1.0 document", "RELS", "text/xml", "Open Office XML Relationships",
     "rels,xml"},
    {59, "RSS", "RSS feed", "text/xml", "XML 1.0 document", "RSS", "text/xml", "RSS web feed", "rss,xml"},
    {60, "AIML", "AIML bot", "text/xml", "XML 1.0 document", "AIML", "text/xml",
     "Artificial Intelligence Markup Language", "aiml,xml"},
    {61, "GLADE", "Glade interface", "text/xml", "XML 1.0 document", "GLADE", "text/xml", "Glade interface",
     "glade,xml"},
    {62, "ZIR", "Compass and Ruler", "text/xml", "XML 1.0 document", "ZIR", "text/xml", "Compass and Ruler geometry",
     "zir,xml"},
    {63, "SMI", "SMIL presentation", "application/smil+xml", "XML 1.0 document", "SMI", "text/xml", "SMIL presentation",
     "smi,xml"},
    {64, "XAML", "XAML document", "text/xml", "XML 1.0 document", "XAML", "text/xml", "XAML document", "xaml,xml"},
    {65, "PHP", "PHP script", "text/x-php", "PHP script, ASCII text", "PHP", "text/x-php", "PHP Hypertext Preprocessor",
     "php"},
    {66, "XSD", "XML Schema", "text/xml", "XML 1.0 document", "XSD", "text/xml", "XML Schema Definition", "xsd,xml"},
    {67, "KML", "Keyhole Markup Language", "application/vnd.google-earth.kml+xml", "XML 1.0 document", "KML",
     "text/xml", "Keyhole Markup Language", "kml,xml"},
    {68, "MATHML", "Mathematical Markup Language", "text/xml", "XML 1.0 document", "MATHML", "text/xml",
     "Mathematical Markup Language", "mathml,xml"},
    {69, "MML", "Aleph One Marathon Markup Language", "text/xml", "XML 1.0 document", "MML", "text/xml",
     "Aleph One Marathon Markup Language", "mml,xml"},
    {70, "POM", "Maven Project Object Model", "text/xml", "XML 1.0 document", "POM", "text/xml",
     "Maven Project Object Model", "pom"},
    {71, "RNG", "RELAX NG schema", "text/xml", "XML 1.0 document", "RNG", "text/xml", "RELAX NG", "rng,xml"},
    {72, "XSPF", "XML Shareable Playlist Format", "application/xspf+xml", "XML 1.0 document", "XSPF", "text/xml",
     "XML Shareable Playlist Format", "xspf,xml"},
    {73, "WSDL", "Web Services Description Language", "text/xml", "XML 1.0 document", "WSDL", "application/wsdl+xml",
     "Web Services Description Language", "wsdl,xml"},
    {74, "VBS", "Microsoft Visual Basic Script", "text/plain", "ASCII text", "VBS", "text/vbs", "Visual Basic Script",
     "vbs"},
    {75, "ASPX", "Microsoft ASP.NET Web Form", "text/html", "HTML document, ASCII text", "ASPX", "text/html",
     "Microsoft ASP.NET Web Form", "asp,aspx"},
    {76, "PS1", "Windows PowerShell Script", "text/plain", "ASCII text", "PS1", "text/powershell-script",
     "PowerShell Script", "ps1"},
    {77, "", "", "text/plain", "ASCII text", "TXT", "text/plain", "ASCII Text", "txt"},
    {78, "", "", "application/json", "JSON text data", "TXT", "application/json", "ASCII Text", "txt"},
    {79, "", "", "application/octet-stream", "data", "data", "application/octet-stream", "data", ""},
    {80, "FOO/BAR", "Some format", "", "", "data", "FOO/BAR", "Some format", "foo,bar"},
};

struct Result {
    int rc;
    std::string typeId, mime, desc, ext;
};

Result run(const RegexpTable& t, const char* a, const char* b, const char* c, const char* d) {
    Result r{0, "<id>", "<mime>", "<desc>", "<ext>"};
    r.rc = t.check(a, b, c, d, r.typeId, r.mime, r.desc, r.ext);
    return r;
}

const RegexpTable& engineTable() {
    static RegexpTable* t = [] {
        auto* table = new RegexpTable;
        table->init();
        return table;
    }();
    return *t;
}

TypeMatch rule(const char* p1, const char* p2, const char* p3, const char* p4, const char* id, const char* mime,
               const char* desc, const char* ext) {
    return TypeMatch{p1, p2, p3, p4, id, mime, desc, ext};
}

void expectUntouched(const Result& r) {
    EXPECT_EQ(r.rc, 1);
    EXPECT_EQ(r.typeId, "<id>");
    EXPECT_EQ(r.mime, "<mime>");
    EXPECT_EQ(r.desc, "<desc>");
    EXPECT_EQ(r.ext, "<ext>");
}

}  // namespace

TEST(RegexpTable, EmptyUntilInitAndInitReplacesTheRules) {
    RegexpTable t;
    EXPECT_TRUE(t.rules().empty());
    expectUntouched(run(t, "PNG", "x", "image/png", "PNG image data"));
    t.init();
    EXPECT_EQ(t.rules().size(), 80u);
    t.init();
    EXPECT_EQ(t.rules().size(), 80u);
    EXPECT_EQ(run(t, "PNG", "x", "image/png", "PNG image data").typeId, "PNG");
}

// Each case must be decided by its own rule: the rules before it turn the inputs down, and
// the whole table gives that rule's outputs.
TEST(RegexpTable, EveryRuleIsReachedByItsOwnInputs) {
    ASSERT_EQ(std::size(kCases), 80u);
    const std::list<TypeMatch>& all = engineTable().rules();
    for (const Case& c : kCases) {
        SCOPED_TRACE("rule " + std::to_string(c.rule));
        ASSERT_EQ(&c - kCases + 1, c.rule);
        std::list<TypeMatch> before(all.begin(), std::next(all.begin(), c.rule - 1));
        RegexpTable earlier;
        earlier.assign(before);
        EXPECT_EQ(run(earlier, c.in1, c.in2, c.in3, c.in4).rc, 1);

        Result r = run(engineTable(), c.in1, c.in2, c.in3, c.in4);
        EXPECT_EQ(r.rc, 0);
        EXPECT_EQ(r.typeId, c.typeId);
        EXPECT_EQ(r.mime, c.mime);
        EXPECT_EQ(r.desc, c.desc);
        EXPECT_EQ(r.ext, c.ext);
    }
}

TEST(RegexpTable, PrecedenceBetweenOverlappingRules) {
    const RegexpTable& t = engineTable();
    // DOCX holds DOC, but rule 7 wants a Word 97-2003 type text; the Open XML rule takes it.
    EXPECT_EQ(run(t, "DOCX/DOCM", "Word Microsoft Office Open XML Format document", "application/octet-stream",
                  "Microsoft OOXML")
                  .typeId,
              "DOCX");
    EXPECT_EQ(
        run(t, "DOCX", "Microsoft Word document", "application/msword", "Composite Document File V2 Document").typeId,
        "DOC");
    // DLL before installer before plain executable.
    const char* pe = "application/vnd.microsoft.portable-executable";
    EXPECT_EQ(run(t, "X", "Y", pe, "PE32+ executable (DLL) (console) x86-64, for MS Windows").typeId, "DLL");
    EXPECT_EQ(run(t, "X", "Y", pe, "PE32 executable (GUI), Nullsoft Installer self-extracting archive").typeId,
              "EXE_SFX");
    EXPECT_EQ(run(t, "X", "Y", pe, "PE32+ executable (console) x86-64, for MS Windows").typeId, "EXE");
    // The executable rules need some matcher answer.
    EXPECT_EQ(run(t, "", "", pe, "PE32 executable (GUI) Intel 80386").typeId, "data");
    // The generic XML rule comes before the dialects: an extension text holding XML wins it.
    EXPECT_EQ(run(t, "RSS/XML", "Generic XML", "text/xml", "XML 1.0 document").typeId, "XML");
    // Short tokens match inside longer ones: SMIL fires the SMI rule whatever the type text.
    Result smil = run(t, "SMIL", "anything", "", "");
    EXPECT_EQ(smil.typeId, "SMI");
    EXPECT_EQ(smil.ext, "smi,xml");
}

TEST(RegexpTable, CaseIsIgnoredButCapturesKeepTheInputCase) {
    const RegexpTable& t = engineTable();
    Result r = run(t, "png", "Portable Network Graphics", "IMAGE/PNG", "png IMAGE data");
    EXPECT_EQ(r.rc, 0);
    EXPECT_EQ(r.typeId, "png");
    EXPECT_EQ(r.mime, "IMAGE/PNG");
    EXPECT_EQ(r.ext, "png");
    // Only ASCII letters fold, whatever the process locale: bytes above 0x7F match themselves.
    RegexpTable bytes;
    bytes.assign({rule("\xE9(.)", ".*", ".*", ".*", "%1:$1", "m", "d", "")});
    EXPECT_EQ(run(bytes, "\xC9x", "", "", "").rc, 1);
    EXPECT_EQ(run(bytes, "\xE9\xFF", "", "", "").typeId, "\xFF");
}

TEST(RegexpTable, CapturesFollowLeftmostGreedyMatching) {
    const RegexpTable& t = engineTable();
    // The leading ".*" is greedy: the token that starts last is captured.
    Result a = run(t, "MOV/3G2", "QuickTime Movie", "video/quicktime", "ISO Media, Apple QuickTime movie");
    EXPECT_EQ(a.typeId, "3G2");
    EXPECT_EQ(a.ext, "3g2");
    Result b = run(t, "3G2/mov", "3GPP2 multimedia", "video/quicktime", "ISO Media, Apple QuickTime movie");
    EXPECT_EQ(b.typeId, "mov");
    EXPECT_EQ(b.ext, "mov");
    Result c =
        run(t, "M4A/MP4/M4R", "iPhone Ringtone", "audio/x-m4a", "ISO Media, Apple iTunes ALAC/AAC-LC (.M4A) Audio");
    EXPECT_EQ(c.typeId, "M4R");
    EXPECT_EQ(c.desc, "iPhone Ringtone");
}

TEST(RegexpTable, ExtensionListsFoldSlashRunsAndLowerCase) {
    const RegexpTable& t = engineTable();
    EXPECT_EQ(run(t, "MPG//MPEG", "", "video/mpeg", "MPEG sequence").ext, "mpg,mpeg");
    EXPECT_EQ(run(t, "A///B/", "", "application/octet-stream", "data").ext, "a,b,");
    EXPECT_EQ(run(t, "", "", "application/octet-stream", "data").ext, "");
    // Rule 79 keeps libmagic's texts; "$" sequences in them are not substitution syntax.
    Result r = run(t, "Zz", "", "application/x-thing", "data $1 $& $$ text");
    EXPECT_EQ(r.desc, "data $1 $& $$ text");
    EXPECT_EQ(r.mime, "application/x-thing");
    EXPECT_EQ(r.ext, "zz");
}

TEST(RegexpTable, LineBreaksAndEmptyInputs) {
    const RegexpTable& t = engineTable();
    expectUntouched(run(t, "", "", "", ""));
    expectUntouched(run(t, nullptr, nullptr, nullptr, nullptr));
    // "." stops at LF and CR, and every rule has a pattern for every input, so a line break
    // in any of the four texts leaves the file without a mapping.
    expectUntouched(run(t, "TXT", "Text file", "text/plain", "ASCII text\nsecond line"));
    expectUntouched(run(t, "TXT", "Text file", "text/plain\r", "ASCII text"));
    expectUntouched(run(t, "PNG\n", "x", "image/png", "PNG image data"));
    expectUntouched(run(t, "", "a\rb", "text/plain", "ASCII text"));
    // With libmagic silent the matcher's texts decide.
    Result fb = run(t, "TXT", "Text file", "", "");
    EXPECT_EQ(fb.typeId, "data");
    EXPECT_EQ(fb.mime, "TXT");
    EXPECT_EQ(fb.desc, "Text file");
    // Rule 80 needs both matcher texts.
    expectUntouched(run(t, "PNG", "", "", ""));
}

TEST(RegexpTable, BadTemplatesEndTheCallWithoutTryingLaterRules) {
    const char* refs[] = {"%5:$1", "%0:$0", "%1:$2", "%1:$99999999999999999999999999", "%99999999999999999999:$1"};
    for (const char* ref : refs) {
        SCOPED_TRACE(ref);
        RegexpTable t;
        t.assign({rule("(a)", ".*", ".*", ".*", ref, "m", "d", ""), rule(".*", ".*", ".*", ".*", "x", "m", "d", "")});
        expectUntouched(run(t, "a", "", "", ""));
        EXPECT_EQ(run(t, "b", "", "", "").typeId, "x");
    }
    // Group 0 is the whole input; a group that took no part is empty; near-misses are literal.
    RegexpTable t;
    t.assign({rule("(a)|(b)", ".*", ".*", ".*", "%1:$0", "%1:$2", "%1:$1x", "")});
    Result r = run(t, "a", "", "", "");
    EXPECT_EQ(r.typeId, "a");
    EXPECT_EQ(r.mime, "");
    EXPECT_EQ(r.desc, "%1:$1x");
    EXPECT_EQ(r.ext, "a");
}

TEST(RegexpTable, PatternThatDoesNotCompileIsReportedWhenReached) {
    RegexpTable t;
    t.assign({rule("(A)", ".*", ".*", ".*", "first", "m", "d", ""),
              rule("B", ".*", "(unclosed", ".*", "second", "m", "d", ""),
              rule(".*", ".*", ".*", ".*", "third", "m", "d", "")});
    ASSERT_EQ(t.rules().size(), 3u);

    testing::internal::CaptureStdout();
    Result first = run(t, "A", "", "", "");
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    EXPECT_EQ(first.typeId, "first");

    // Pattern 1 of the broken rule would not match, but the rule's patterns are all checked
    // before any is tried, and the call fails instead of reaching the third rule.
    testing::internal::CaptureStdout();
    Result r = run(t, "C", "", "", "");
    std::string out = testing::internal::GetCapturedStdout();
    expectUntouched(r);
    EXPECT_EQ(out.rfind("EXCEPTION: ", 0), 0u) << out;
    EXPECT_NE(out.find(" : 5\nerror_paren\n"), std::string::npos) << out;

    testing::internal::CaptureStdout();
    RegexpTable u;
    u.assign({rule("[z-a]", ".*", ".*", ".*", "x", "m", "d", "")});
    expectUntouched(run(u, "a", "", "", ""));
    EXPECT_NE(testing::internal::GetCapturedStdout().find(" : 8\nerror_range\n"), std::string::npos);
}

// Scans call check from many threads at once, without a lock.
TEST(RegexpTable, ConcurrentChecksAgree) {
    const RegexpTable& t = engineTable();
    std::vector<std::thread> threads;
    std::atomic<int> wrong{0};
    for (int n = 0; n < 4; ++n) {
        threads.emplace_back([&t, &wrong] {
            for (int round = 0; round < 20; ++round) {
                for (const Case& c : kCases) {
                    Result r = run(t, c.in1, c.in2, c.in3, c.in4);
                    if (r.rc != 0 || r.typeId != c.typeId || r.desc != c.desc || r.ext != c.ext) ++wrong;
                }
            }
        });
    }
    for (auto& th : threads) th.join();
    EXPECT_EQ(wrong.load(), 0);
}

namespace {

struct LongInputJob {
    std::string longText;
    int failures = 0;
    std::string firstFailure;
};

void* runLongInputs(void* arg) {
    auto* job = static_cast<LongInputJob*>(arg);
    const RegexpTable& t = engineTable();
    for (const Case& c : kCases) {
        std::string in2 = c.in2, in4 = c.in4;
        (c.rule == 80 ? in2 : in4) += job->longText;
        std::string id, mime, desc, ext;
        if (t.check(c.in1, in2.c_str(), c.in3, in4.c_str(), id, mime, desc, ext) != 0 || id != c.typeId) {
            if (job->failures++ == 0) job->firstFailure = "rule " + std::to_string(c.rule) + " gave " + id;
        }
    }
    return nullptr;
}

}  // namespace

// libmagic descriptions can carry long strings taken from the file; scans run on host
// threads whose stacks may be small.
TEST(RegexpTable, LongDescriptionsOnASmallStack) {
    engineTable();
    LongInputJob job;
    std::string piece = " Unicode, PE32 (x) data, UTF-8, \xE9\xFF,";
    while (job.longText.size() < 100000) job.longText += piece;
    job.longText.resize(100000);

    pthread_attr_t attr;
    pthread_attr_init(&attr);
    ASSERT_EQ(pthread_attr_setstacksize(&attr, 256 * 1024), 0);
    pthread_t th;
    ASSERT_EQ(pthread_create(&th, &attr, runLongInputs, &job), 0);
    pthread_join(th, nullptr);
    pthread_attr_destroy(&attr);
    EXPECT_EQ(job.failures, 0) << job.firstFailure;
}

namespace {

// The rules' matching, written with the standard ECMAScript matcher, for short inputs.
struct Reference {
    struct Rule {
        const TypeMatch* source;
        std::regex patterns[4];
    };
    std::vector<Rule> rules;

    explicit Reference(const std::list<TypeMatch>& table) {
        for (const TypeMatch& r : table) {
            Rule c{&r, {}};
            const std::string* pats[4] = {&r.extPattern, &r.descPattern, &r.mimePattern, &r.magicPattern};
            for (int k = 0; k < 4; ++k)
                c.patterns[k] = std::regex(*pats[k], std::regex::ECMAScript | std::regex::icase);
            rules.push_back(std::move(c));
        }
    }

    int check(const std::string in[4], std::string out[4]) const {
        const std::regex ref("%([0-9]+):\\$([0-9]+)");
        for (const Rule& c : rules) {
            std::smatch m[4];
            bool all = true;
            for (int k = 0; k < 4 && all; ++k) all = std::regex_match(in[k], m[k], c.patterns[k]);
            if (!all) continue;
            const TypeMatch& r = *c.source;
            const std::string* tpl[3] = {&r.typeIdTemplate, &r.mimeTemplate, &r.descriptionTemplate};
            for (int i = 0; i < 3; ++i) {
                std::smatch rm;
                if (!std::regex_match(*tpl[i], rm, ref)) {
                    out[i] = *tpl[i];
                    continue;
                }
                size_t n = std::stoul(rm[1]), g = std::stoul(rm[2]);
                if (n == 0 || n > 4 || m[n - 1].size() <= g) return 1;
                out[i] = m[n - 1][g].str();
            }
            out[3] = r.extensionSpec == "*" ? in[0] : r.extensionSpec.empty() ? out[0] : r.extensionSpec;
            out[3] = std::regex_replace(out[3], std::regex("(/)+"), ",");
            for (char& ch : out[3])
                if (ch >= 'A' && ch <= 'Z') ch = static_cast<char>(ch + 32);
            return 0;
        }
        return 1;
    }
};

}  // namespace

// Random inputs built from the rules' own fragments, line breaks and high bytes; the
// engine must agree with the ECMAScript reference on the answer and every output.
TEST(RegexpTable, AgreesWithTheEcmaScriptReference) {
    const char* fragments[] = {
        "PNG",
        "png",
        "JPG",
        "DOC",
        "DOCX",
        "XLS",
        "PPT",
        "MOV",
        "3G2",
        "3GP/3GPP",
        "M4A/MP4",
        "M4R",
        "RM",
        "AI",
        "XML",
        "SMI",
        "MPG/MPEG",
        "XEX/EXE",
        "DB",
        "/",
        "//",
        " ",
        "\r",
        "\n",
        "\xE9",
        "\xFF",
        "$1",
        "%1:$1",
        "image/png",
        "image/jpeg",
        "text/plain",
        "text/html",
        "text/xml",
        "application/octet-stream",
        "application/x-dosexec",
        "application/vnd.microsoft.portable-executable",
        "video/quicktime",
        "audio/x-m4a",
        "PNG image",
        "JPEG image",
        "ASCII text",
        " text",
        "UTF-8",
        "UTF-16",
        " Unicode",
        "Unicode text, UTF-8",
        "ISO",
        "-8859",
        "EBCDIC",
        "data",
        "PE32",
        "MS-DOS",
        " executable",
        " (DLL)",
        "Nullsoft Installer",
        "ISO Media",
        ", Apple QuickTime movie",
        " ALAC/AAC-LC (.M4A) Audio",
        "QuickTime Movie",
        "3GPP2 multimedia",
        "iPhone Ringtone",
        "AAC Audio in MP4",
        "Windows Bitmap",
        "Microsoft Word document",
        "Generic XML",
        "Composite Document File V2 Document",
        "XML 1.0 document",
        "HTML document",
        "RIFF (little-endian) data",
        "Scalable Vector Graphics",
        "SVG",
        "Resource Description Framework",
        "(with BOM)",
    };
    std::mt19937 rng(20240607);
    std::uniform_int_distribution<size_t> pick(0, std::size(fragments) - 1);
    std::uniform_int_distribution<int> len(0, 4);
    const RegexpTable& t = engineTable();
    const Reference reference(t.rules());
    int matched = 0;
    for (int i = 0; i < 1500; ++i) {
        std::string in[4];
        for (auto& s : in)
            for (int n = len(rng); n > 0; --n) s += fragments[pick(rng)];
        std::string want[4] = {"<id>", "<mime>", "<desc>", "<ext>"};
        int wantRc = reference.check(in, want);
        Result got = run(t, in[0].c_str(), in[1].c_str(), in[2].c_str(), in[3].c_str());
        ASSERT_EQ(got.rc, wantRc) << in[0] << " | " << in[1] << " | " << in[2] << " | " << in[3];
        EXPECT_EQ(got.typeId, want[0]);
        EXPECT_EQ(got.mime, want[1]);
        EXPECT_EQ(got.desc, want[2]);
        EXPECT_EQ(got.ext, want[3]);
        matched += wantRc == 0;
    }
    EXPECT_GT(matched, 500);  // the inputs exercise the rules, not only the fall-through
}
