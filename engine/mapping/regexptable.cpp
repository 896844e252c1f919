// The mapping rules of the generic stage, and the matcher that applies them.
//
// Patterns run on PCRE2, compiled once when the rules are loaded: anchored at both ends (a
// rule must match its whole input), caseless in ASCII only, byte semantics (libmagic's raw
// descriptions may hold any byte), and "." stops at CR and LF. The interpreter keeps its
// backtracking state on the heap, so a long libmagic description cannot exhaust the stack
// of the scanning thread.
#include "engine/mapping/regexptable.h"

#define PCRE2_CODE_UNIT_WIDTH 8
#include <pcre2.h>

#include <cstdint>
#include <cstring>
#include <iostream>
#include <memory>

#include "core/ByteUtils.h"
#include "core/TypeTables.h"

RegexpTable regexpTable;

namespace {

// Patterns per rule: matcher extension text, matcher type text, MIME type, description.
constexpr int nrRegexps = 4;

// A runaway backtracking match ends with error_complexity instead of running on; legitimate
// inputs, even 100,000-character descriptions, stay far below this.
constexpr uint32_t kMatchLimit = 1000000000;

// Error numbering of the diagnostic: the values of std::regex_constants::error_type.
enum RegexErrorCode : int {
    error_collate = 0,
    error_ctype = 1,
    error_escape = 2,
    error_backref = 3,
    error_brack = 4,
    error_paren = 5,
    error_brace = 6,
    error_badbrace = 7,
    error_range = 8,
    error_space = 9,
    error_badrepeat = 10,
    error_complexity = 11,
    error_stack = 12,
};

const char* errorCodeName(int code) {
    switch (code) {
        case error_collate:
            return "error_collate";
        case error_ctype:
            return "error_ctype";
        case error_escape:
            return "error_escape";
        case error_backref:
            return "error_backref";
        case error_brack:
            return "error_brack";
        case error_paren:
            return "error_paren";
        case error_brace:
            return "error_brace";
        case error_badbrace:
            return "error_badbrace";
        case error_range:
            return "error_range";
        case error_space:
            return "error_space";
        case error_badrepeat:
            return "error_badrepeat";
        case error_complexity:
            return "error_complexity";
        case error_stack:
            return "error_stack";
        default:
            return "something happened. or didn't";
    }
}

// PCRE2 error number -> diagnostic code. Errors without a counterpart keep PCRE2's own
// number, which the diagnostic shows as an unnamed failure.
int diagnosticCode(int pcreError) {
    switch (pcreError) {
        case PCRE2_ERROR_END_BACKSLASH:
        case PCRE2_ERROR_END_BACKSLASH_C:
        case PCRE2_ERROR_UNKNOWN_ESCAPE:
        case PCRE2_ERROR_ESCAPE_INVALID_IN_CLASS:
        case PCRE2_ERROR_UNSUPPORTED_ESCAPE_SEQUENCE:
            return error_escape;
        case PCRE2_ERROR_QUANTIFIER_OUT_OF_ORDER:
        case PCRE2_ERROR_QUANTIFIER_TOO_BIG:
            return error_badbrace;
        case PCRE2_ERROR_MISSING_SQUARE_BRACKET:
            return error_brack;
        case PCRE2_ERROR_CLASS_RANGE_ORDER:
        case PCRE2_ERROR_CLASS_INVALID_RANGE:
            return error_range;
        case PCRE2_ERROR_QUANTIFIER_INVALID:
        case PCRE2_ERROR_INTERNAL_UNEXPECTED_REPEAT:
            return error_badrepeat;
        case PCRE2_ERROR_INVALID_AFTER_PARENS_QUERY:
        case PCRE2_ERROR_MISSING_CLOSING_PARENTHESIS:
        case PCRE2_ERROR_UNMATCHED_CLOSING_PARENTHESIS:
        case PCRE2_ERROR_MISSING_COMMENT_CLOSING:
        case PCRE2_ERROR_MISSING_CONDITION_CLOSING:
            return error_paren;
        case PCRE2_ERROR_POSIX_CLASS_NOT_IN_CLASS:
        case PCRE2_ERROR_UNKNOWN_POSIX_CLASS:
            return error_ctype;
        case PCRE2_ERROR_POSIX_NO_SUPPORT_COLLATING:
            return error_collate;
        case PCRE2_ERROR_BAD_SUBPATTERN_REFERENCE:
        case PCRE2_ERROR_ZERO_RELATIVE_REFERENCE:
        case PCRE2_ERROR_BAD_RELATIVE_REFERENCE:
            return error_backref;
        case PCRE2_ERROR_PATTERN_TOO_LARGE:
        case PCRE2_ERROR_HEAP_FAILED:
            return error_space;
        case PCRE2_ERROR_PARENTHESES_NEST_TOO_DEEP:
        case PCRE2_ERROR_PARENTHESES_STACK_CHECK:
        case PCRE2_ERROR_MATCHLIMIT:
        case PCRE2_ERROR_DEPTHLIMIT:
            return error_complexity;
        case PCRE2_ERROR_HEAPLIMIT:
        case PCRE2_ERROR_NOMEMORY:
            return error_stack;
        default:
            return pcreError;
    }
}

std::string pcreMessage(int pcreError) {
    PCRE2_UCHAR buf[256];
    int n = pcre2_get_error_message(pcreError, buf, sizeof buf);
    if (n < 0) return "regular expression error " + std::to_string(pcreError);
    return std::string(reinterpret_cast<const char*>(buf), static_cast<size_t>(n));
}

// The only diagnostic the engine writes.
void report(const std::string& message, int code) {
    std::cout << "EXCEPTION: " << message << " : " << code << std::endl;
    std::cout << errorCodeName(code) << std::endl;
}

struct CodeFree {
    void operator()(pcre2_code* c) const { pcre2_code_free(c); }
};
struct MatchDataFree {
    void operator()(pcre2_match_data* m) const { pcre2_match_data_free(m); }
};

struct MatchContextFree {
    void operator()(pcre2_match_context* c) const { pcre2_match_context_free(c); }
};

// Shared by every call; pcre2_match only reads it (its parameter is merely not const). Freed
// when the engine is unloaded, so that a host loading it again loses nothing.
pcre2_match_context* matchContext() {
    static const std::unique_ptr<pcre2_match_context, MatchContextFree> ctx = [] {
        pcre2_match_context* c = pcre2_match_context_create(nullptr);
        if (c) pcre2_set_match_limit(c, kMatchLimit);
        return std::unique_ptr<pcre2_match_context, MatchContextFree>(c);
    }();
    return ctx.get();
}

// A parsed output template: a literal, or a capture reference "%N:$M".
struct Template {
    bool isReference = false;
    std::string literal;
    uint64_t pattern = 0;  // N, 1-based; saturates, so an absurd number is simply out of range
    uint64_t group = 0;    // M
};

bool parseDigits(const std::string& s, size_t& pos, uint64_t& value) {
    constexpr uint64_t kSaturated = UINT64_MAX / 16;
    size_t start = pos;
    value = 0;
    while (pos < s.size() && kiv::isAsciiDigit(static_cast<unsigned char>(s[pos]))) {
        if (value < kSaturated) value = value * 10 + static_cast<uint64_t>(s[pos] - '0');
        ++pos;
    }
    return pos > start;
}

// Recognises exactly the whole-string form %([0-9]+):\$([0-9]+).
Template parseTemplate(const std::string& text) {
    Template t;
    t.literal = text;
    size_t pos = 0;
    if (text.empty() || text[pos++] != '%') return t;
    uint64_t n = 0, m = 0;
    if (!parseDigits(text, pos, n)) return t;
    if (pos + 2 > text.size() || text[pos] != ':' || text[pos + 1] != '$') return t;
    pos += 2;
    if (!parseDigits(text, pos, m) || pos != text.size()) return t;
    t.isReference = true;
    t.pattern = n;
    t.group = m;
    return t;
}

// One rule's row in the built-in table. The description is either a template or, for rows
// written D("key"), the FileTypeDescription text of that key, fetched when the rules load.
struct DescSpec {
    const char* text;
    bool isKey;
};
constexpr DescSpec T(const char* text) { return {text, false}; }
constexpr DescSpec D(const char* key) { return {key, true}; }

struct RuleRow {
    const char* extPattern;
    const char* descPattern;
    const char* mimePattern;
    const char* magicPattern;
    const char* typeIdTemplate;
    const char* mimeTemplate;
    DescSpec description;
    const char* extensionSpec;
};

// Matching order matters: the first rule whose four patterns match decides. Several rows
// carry extra alternatives for the texts the current libmagic writes (PE executables as
// application/vnd.microsoft.portable-executable, 16-bit NE programs as
// application/x-ms-ne-executable, icons as image/vnd.microsoft.icon, Corel drawings, CD-XA
// video, UTF-8 text with a BOM, Windows metafiles, HWP 3.0 as plain octets, CSV text, "C
// source, Unicode text, UTF-8 text"), next to the older texts.
const RuleRow kRules[] = {
    // Images and graphics.
    {".*(PNG).*", "(.+)", "(image/png.*)", "(PNG image).*", "%1:$1", "%3:$1", T("%2:$1"), ""},
    {".*(JPG).*", "(.+)", "(image/jpeg.*)", "(JPEG image).*", "%1:$1", "%3:$1", D("JPG"), "jpg,jpeg"},
    {".*(GIF).*", "(.+)", "(image/gif.*)", "(GIF image).*", "%1:$1", "%3:$1", D("GIF"), ""},
    {".*(TIFF).*", "(.+)", "(image/tiff.*)", "(TIFF image).*", "%1:$1", "%3:$1", D("TIFF"), "tif,tiff"},
    // UTF-16 without a byte-order mark is "data" to libmagic, and with one but without an XML
    // declaration plain UTF-16 text; the matcher still reads both. Whatever libmagic's type,
    // the answer carries SVG's own, as libmagic gives it to the SVG it reads and the post-rules
    // to SVG they find by the closing tag.
    {".*(SVG).*", "(Scalable Vector Graphics).*", "(image/svg.*|text/xml.*|application/octet-stream.*|text/plain)",
     "SVG.*image.*|.*XML.*|data|Unicode text, UTF-16, .*", "%1:$1", "image/svg+xml", D("SVG"), ""},
    {".*(AI).*", "(Adobe Illustrator graphics).*", "(.*)", "(.*)", "AI", "application/illustrator", D("AI"), "ai"},
    // Office documents: 97-2003 compound files, 2003 XML and Open XML.
    {".*(DOC).*", "(Microsoft Word document).*", "(application/.*(msword|ms-office|CDFV2-unknown).*)",
     "(Composite Document File V2 Document|CDF V2 Document).*", "%1:$1", "%3:$1", D("DOC"), ""},
    {".*(DOC).*", "(Microsoft Word 2003 XML Document.*)", "(.*)", "(.*)", "XML-DOC",
     "application/vnd.openxmlformats-officedocument.wordprocessingml.document", D("XML-DOC"), "xml,doc"},
    {".*(XLS).*", "(Microsoft Excel sheet).*", "(application/.*(ms-excel|ms-office|CDFV2-unknown).*)",
     "(Composite Document File V2 Document|CDF V2 Document).*", "%1:$1", "%3:$1", D("XLS"), "xls,xla"},
    {".*(XLS).*", "(Microsoft Excel 2003 XML Spreadsheet.*)", "(.*)", "(.*)", "XML-XLS",
     "application/vnd.openxmlformats-officedocument.spreadsheetml.sheet", D("XML-XLS"), "xml,xls"},
    {".*(PPT).*", "(Microsoft PowerPoint document).*", "(application/.*(ms-powerpoint|ms-office|CDFV2-unknown).*)",
     "(Composite Document File V2 Document|CDF V2 Document).*", "%1:$1", "%3:$1", D("PPT"), ""},
    {".*(DOCX|DOCM).*", "(Word Microsoft Office Open XML Format document.*)",
     "(application/vnd\\.openxmlformats-officedocument\\.wordprocessingml\\.document|application/octet-stream).*",
     "(Microsoft Word 2007+|Microsoft OOXML).*", "DOCX",
     "application/vnd.openxmlformats-officedocument.wordprocessingml.document", D("DOCX"), "docm,docx"},
    {".*(DOCX).*", "(Microsoft Word XML Document.*)", "(.*)", "(.*)", "XML-DOCX",
     "application/vnd.openxmlformats-officedocument.wordprocessingml.document", D("XML-DOCX"), "xml,docx"},
    {".*(XLSX|XLSM).*", "(Excel Microsoft Office Open XML Format document.*)",
     "(application/vnd\\.openxmlformats-officedocument\\.spreadsheetml\\.sheet|application/octet-stream).*",
     "(Microsoft Excel 2007+|Microsoft OOXML).*", "XLSX",
     "application/vnd.openxmlformats-officedocument.spreadsheetml.sheet", D("XLSX"), "xlsm,xlsx"},
    {".*(PPTX|PPTM).*", "(PowerPoint Microsoft Office Open XML Format document.*)",
     "(application/vnd\\.openxmlformats-officedocument\\.presentationml\\.presentation|application/octet-stream).*",
     "(Microsoft PowerPoint 2007+|Microsoft OOXML).*", "PPTX",
     "application/vnd.openxmlformats-officedocument.presentationml.presentation", D("PPTX"), "pptm,pptx"},
    {".*(PPTX).*", "(Microsoft Powerpoint XML Presentation.*)", "(.*)", "(.*)", "XML-PPTX",
     "application/vnd.openxmlformats-officedocument.presentationml.presentation", D("XML-PPTX"), "xml,pptx"},
    // A bitmap answer of the matcher alone is not trusted.
    {".*(BMP).*", "(Windows Bitmap).*", "(.*)", "(.*)", "data", "application/octet-stream", T("data"), ""},
    // Icon, PDF, HTML, RTF.
    {".*(ICO).*", "(Windows Icon).*", "(image/x-icon.*|image/vnd\\.microsoft\\.icon.*)", "(MS Windows icon resource).*",
     "%1:$1", "%3:$1", D("ICO"), ""},
    {".*(PDF).*", "(Adobe Portable Document Format).*", "(application/pdf.*)", "(PDF document).*", "%1:$1", "%3:$1",
     D("PDF"), "pdf,ai"},
    // libmagic's description goes on to the post-rules, which keep HTML only in UTF-16 and
    // write the description themselves.
    {".*(HTML).*", "(HyperText Markup Language.*)",
     "(text/html|application/octet-stream|text/plain|text/x-asm|text/xml).*", "(HTML document|data|.*text.*|XML.*).*",
     "%1:$1", "%3:$1", T("%4:$0"), "htm,html"},
    {".*(RTF).*", "(Rich Text Format).*", "(text/rtf.*)", "(Rich Text Format).*", "%1:$1", "%3:$1", D("RTF"), ""},
    // Executables, decided by libmagic once the matcher has any answer; DLL and installer first.
    {".+", "(.+)",
     "(application/x-dosexec.*|application/vnd\\.microsoft\\.portable-executable.*|application/x-ms-ne-executable.*)",
     "((PE32.*|MS-DOS) executable \\(DLL\\).*)", "DLL", "%3:$1", D("DLL"), "dll,ocx,ax"},
    {".+", "(.+)",
     "(application/x-dosexec.*|application/vnd\\.microsoft\\.portable-executable.*|application/x-ms-ne-executable.*)",
     "(.*Nullsoft Installer self-extracting archive.*)", "EXE_SFX", "%3:$1", D("EXE_SFX"), "exe"},
    {".+", "(.+)",
     "(application/x-dosexec.*|application/vnd\\.microsoft\\.portable-executable.*|application/x-ms-ne-executable.*)",
     "((PE32.*|MS-DOS) executable.*)", "EXE", "%3:$1", D("EXE"), "exe,com,dll,sys"},
    // Further formats.
    {".*(MSI).*", "(Microsoft Windows Installer).*", "(application/x-msi.*)", ".*(MSI Installer).*", "%1:$1", "%3:$1",
     D("MSI"), ""},
    {".*(XML).*", "((Generic XML|Microsoft Office XML Flat File Format|Android Manifest|XML sitemap).*)",
     "(text/xml.*|application/octet-stream.*)", "(XML .*document.*|data.*)", "%1:$1", "%3:$1", D("XML"), ""},
    {".*(MSG).*", "(Outlook Message).*", "(application/CDFV.*|application/vnd.ms-outlook.*)",
     "(Composite Document File V2 Document|CDFV2 Microsoft Outlook Message).*", "%1:$1", "%3:$1", D("MSG"), ""},
    {".*(CDR).*", "(CorelDraw Document).*", "(application/octet-stream.*|application/vnd\\.corel-draw.*)",
     "(RIFF \\(little-endian\\) data).*", "%1:$1", "%3:$1", D("CDR"), ""},
    {".*(PSD).*", "(Adobe Photoshop image).*", "(image/vnd\\.adobe\\.photoshop.*)", "(Adobe Photoshop Image).*",
     "%1:$1", "%3:$1", D("PSD"), ""},
    {".*(DWG).*", "(AutoCAD.* Drawing).*", "(image/vnd\\.dwg.*)", "(DWG AutoDesk AutoCAD).*", "%1:$1", "%3:$1",
     T("%2:$1"), ""},
    {".*(SLN).*", "(Microsoft Visual Studio Solution).*", "(text/plain.*)",
     "(UTF-8 Unicode \\(with BOM\\) text|Unicode text, UTF-8 \\(with BOM\\) text).*", "%1:$1", "%3:$1", T("%2:$1"), ""},
    {".*(SUO).*", "(Microsoft VisualStudio Solution User Options).*", "(application/CDFV2.*)",
     "(Composite Document File V2 Document).*", "%1:$1", "%3:$1", D("SUO"), ""},
    {".*(TORRENT).*", "(Torrent.*)", "(application/x-bittorrent.*)", "(BitTorrent file).*", "%1:$1", "%3:$1",
     T("%4:$1"), ""},
    {".*(MP3).*", ".*(MP3 audio|MP3 Xing Encoder).*", "(audio/mpeg.*)", "(Audio file with ID3|MPEG ADTS).*", "%1:$1",
     "%3:$1", D("MP3"), ""},
    {".*(FLV).*", "(Flash Video).*", "(video/x-flv.*)", "(Macromedia Flash Video).*", "%1:$1", "%3:$1", D("FLV"), ""},
    {".*(MOV|3G2).*", "(QuickTime Movie|3GPP2 multimedia).*", "(video/quicktime).*", ".*(Apple QuickTime movie).*",
     "%1:$1", "%3:$1", T("%4:$1"), ""},
    {".*(MPG/MPEG).*", "(MPEG Video).*", "(video/mpeg).*", "(MPEG sequence).*", "%1:$1", "%3:$1", D("MPG/MPEG"),
     "mpg,mpeg"},
    {".*(M4V).*", "(MPEG-4 Video).*", "(video/mp4|video/x-m4v).*", "(ISO Media.*MP4.*|ISO Media.*M4V.*)", "%1:$1",
     "%3:$1", D("M4V"), "mp4,m4v"},
    {".*(M4A/MP4|M4R).*", "(AAC Audio in MP4|iPhone Ringtone).*", "(audio/x-m4a).*",
     "(ISO Media.* ALAC/AAC-LC \\(.M4A\\) Audio).*", "%1:$1", "%3:$1", T("%2:$1"), "m4a,m4r"},
    {".*(AVI).*", "(AVI Audio Video Interleaved).*", "(video/x-msvideo.*)", "(RIFF \\(little-endian\\) data, AVI).*",
     "%1:$1", "%3:$1", D("AVI"), ""},
    {".*(WAV).*", "(RIFF/WAVe standard Audio).*", "(audio/x-wav.*)", "(RIFF.*WAVE audio.*)", "%1:$1", "%3:$1", D("WAV"),
     ""},
    {".*(3G2|3GP/3GPP).*", "(3GPP2 multimedia|Generic MP4 container|3GPP multimedia).*",
     "(application/octet-stream|video/3gpp2|video/3gpp).*", "(ISO Media.*3GPP).*", "%1:$1", "%3:$1", T("%2:$1"),
     "3gp,3g2"},
    {".*(DAT).*", "(VideoCD MPEG).*", "(application/octet-stream|video/x-cdxa).*", "(RIFF.*data).*", "%1:$1",
     "video/x-mpeg", T("%2:$1"), "mpg,dat"},
    {".*(SWF).*", "(Macromedia Flash Player).*", "(application/x-shockwave-flash.*)", "(Macromedia Flash).*", "%1:$1",
     "%3:$1", D("SWF"), ""},
    {".*(RM).*", "(Real Media stream).*", "(application/vnd\\.rn-realmedia.*)", "(RealMedia file).*", "%1:$1", "%3:$1",
     D("RM"), ""},
    {".*(VMDK).*", "(VMware.* Virtual Disk).*", "(application/octet-stream.*)", "(VMware.* disk image).*", "%1:$1",
     "%3:$1", D("VMDK"), ""},
    {".*(VMX).*", "(VMware configuration).*", "(text/plain.*)", "(ASCII text).*", "%1:$1", "%3:$1", D("VMX"), ""},
    {".*(JTD).*", "(Ichitaro document).*", "(application/vnd.ms-.*)", "(Composite Document File V2 Document).*",
     "%1:$1", "%3:$1", D("JTD"), ""},
    {".*(HWP).*", "(Hangul \\(Korean\\) Word Processor document).*", "(application/x-hwp.*|application/octet-stream.*)",
     "(Hangul \\(Korean\\) Word Processor File).*", "%1:$1", "%3:$1", D("HWP"), ""},
    {".*(WMF).*", "(Windows Metafile).*", "(application/octet-stream|image/x-tga|image/wmf).*",
     "(ms-windows metafont .wmf|Targa image data|Windows metafile).*", "%1:$1", "application/octet-stream", D("WMF"),
     ""},
    {".*(DMG).*", "(Macintosh Disk image).*",
     "(application/x-bzip2|application/octet-stream|application/x-apple-diskimage).*", ".+", "%1:$1",
     "application/x-apple-diskimage", D("DMG"), ""},
    {".*(RDF).*", ".*(Resource Description Framework).*", "(.*)", "(.*)", "%1:$1", "%3:$1", D("RDF"), ""},
    {".*(GPX).*", "GPS eXchange format.*", "(.*)", "(.*)", "%1:$1", "%3:$1", D("GPX"), "xml,gpx"},
    {".*(DB).*", "(Windows Thumbnail Database).*", "(application/CDFV2.*)",
     "(Composite Document File V2 Document|Microsoft Thumbs.db).*", "%1:$1", "%3:$1", T("%2:$1"), ""},
    {".*(XEX/EXE).*", "(Atari XE Executable).*", "(application/x-dosdriver).*", "(DOS executable).*", "%1:$1", "%3:$1",
     D("XEX/EXE"), ""},
    {".*(PUB).*", "(Microsoft Publisher document).*", "(application/vnd.ms-office).*",
     "(Composite Document File V2 Document).*", "%1:$1", "%3:$1", D("PUB"), ""},
    // XML dialects named by the matcher.
    {".*(ATOM).*", "(.+)", "(.*)", "(.*)", "%1:$1", "text/xml", D("ATOM"), "atom,xml"},
    {".*(RELS).*", "(.+)", "(.*)", "(.*)", "%1:$1", "text/xml", D("RELS"), "rels,xml"},
    {".*(RSS).*", "(.+)", "(.*)", "(.*)", "%1:$1", "text/xml", D("RSS"), "rss,xml"},
    {".*(AIML).*", "(.+)", "(.*)", "(.*)", "%1:$1", "text/xml", D("AIML"), "aiml,xml"},
    {".*(GLADE).*", "(.+)", "(.*)", "(.*)", "%1:$1", "text/xml", T("%2:$1"), "glade,xml"},
    {".*(ZIR).*", "(.+)", "(.*)", "(.*)", "%1:$1", "text/xml", D("ZIR"), "zir,xml"},
    {".*(SMI).*", "(.+)", "(.*)", "(.*)", "%1:$1", "text/xml", T("%2:$1"), "smi,xml"},
    {".*(XAML).*", "(.+)", "(.*)", "(.*)", "%1:$1", "text/xml", T("%2:$1"), "xaml,xml"},
    {".*(PHP).*", "(.+)", "(.*)", "(.*)", "%1:$1", "text/x-php", D("PHP"), ""},
    {".*(XSD).*", "(.+)", "(.*)", "(.*)", "%1:$1", "text/xml", D("XSD"), "xsd,xml"},
    {".*(KML).*", "(.+)", "(.*)", "(.*)", "%1:$1", "text/xml", T("%2:$1"), "kml,xml"},
    {".*(MATHML).*", "(Mathematical Markup Language).*", "(.*)", "(.*)", "%1:$1", "text/xml", T("%2:$1"), "mathml,xml"},
    {".*(MML).*", "(Aleph One Marathon Markup Language).*", "(.*)", "(.*)", "%1:$1", "text/xml", T("%2:$1"), "mml,xml"},
    {".*(POM).*", "(Maven Project Object Model).*", "(.*)", "(.*)", "%1:$1", "text/xml", T("%2:$1"), ""},
    {".*(RNG).*", "(RELAX NG).*", "(.*)", "(.*)", "%1:$1", "text/xml", T("%2:$1"), "rng,xml"},
    {".*(XSPF).*", "(XML Shareable Playlist Format).*", "(.*)", "(.*)", "%1:$1", "text/xml", T("%2:$1"), "xspf,xml"},
    {".*(WSDL).*", "(Web Services Description Language).*", "(.*)", "(.*)", "%1:$1", "application/wsdl+xml", T("%2:$1"),
     "wsdl,xml"},
    // Scripts and web forms.
    {".*(VBS).*", ".*(Visual Basic Script).*", "(.*)", "(.*)", "VBS", "text/vbs", D("VBS"), "vbs"},
    {".*(ASPX).*", "(Microsoft ASP.NET Web Form).*", "(.*)", "(.*)", "%1:$1", "text/html", D("ASPX"), "asp,aspx"},
    {".*(PS1).*", ".*(PowerShell Script).*", "(.*)", "(.*)", "PS1", "text/powershell-script", D("PS1"), "ps1"},
    // Plain text, by libmagic alone: the plain-text types with a text description (PostScript
    // only when libmagic calls it text, not the binary EPS it gives the same type)...
    {"(.*)", "(.*)",
     "(text/plain|text/html|text/x-c|text/x-tex|text/csv|application/octet-stream|application/postscript).*",
     "(.*ASCII text.*|.*UTF-\\d+ Unicode.* text.*|Unicode text, UTF-\\d+.*|.*Unicode text, UTF-\\d+.*|.*ISO.*. "
     "text.*|.*EBCDIC text.*|CSV text.*|PostScript document text.*)",
     "TXT", "%3:$1", D("TXT"), ""},
    // ... and whatever libmagic gives a text type, whatever it says of the text: scripts, JSON,
    // makefiles, troff, a calendar or card the text stage refused. The application and message
    // types are those libmagic 5.44 gives only to text.
    {"(.*)", "(.*)",
     "(text/.+|application/(json|x-ndjson|javascript|x-wine-extension-ini|x-subrip)|message/(rfc822|news))", "(.*)",
     "TXT", "%3:$1", D("TXT"), ""},
    // Fall-back: libmagic's answer, else the matcher's.
    {"(.*)", "(.*)", "(.+)", "(.+)", "data", "%3:$1", T("%4:$1"), "*"},
    {"(.+)", "(.+)", "(.*)", "(.*)", "data", "%1:$1", T("%2:$1"), "*"},
};

static_assert(sizeof(kRules) / sizeof(kRules[0]) == 80, "the engine has 80 mapping rules");

std::list<TypeMatch> builtInRules() {
    std::list<TypeMatch> rules;
    for (const RuleRow& r : kRules) {
        TypeMatch m;
        m.extPattern = r.extPattern;
        m.descPattern = r.descPattern;
        m.mimePattern = r.mimePattern;
        m.magicPattern = r.magicPattern;
        m.typeIdTemplate = r.typeIdTemplate;
        m.mimeTemplate = r.mimeTemplate;
        m.descriptionTemplate = r.description.isKey ? FileTypeDescription.at(r.description.text) : r.description.text;
        m.extensionSpec = r.extensionSpec;
        rules.push_back(std::move(m));
    }
    return rules;
}

// "/" runs become one ",", then ASCII lower case (extension texts are ASCII tokens; the
// process locale is the host's, so no locale-dependent folding).
std::string normaliseExtensions(const std::string& in) {
    std::string out;
    out.reserve(in.size());
    for (size_t i = 0; i < in.size(); ++i) {
        if (in[i] == '/') {
            while (i + 1 < in.size() && in[i + 1] == '/') ++i;
            out.push_back(',');
        } else {
            out.push_back(kiv::asciiToLower(static_cast<unsigned char>(in[i])));
        }
    }
    return out;
}

}  // namespace

struct RegexpTable::CompiledRule {
    struct Pattern {
        std::unique_ptr<pcre2_code, CodeFree> code;
        int error = 0;  // PCRE2 compile error, 0 when compiled
        uint32_t captures = 0;
    };
    Pattern patterns[nrRegexps];
    Template templates[3];  // type id, MIME type, description
};

namespace {

RegexpTable::CompiledRule::Pattern compilePattern(const std::string& text) {
    RegexpTable::CompiledRule::Pattern p;
    pcre2_compile_context* cctx = pcre2_compile_context_create(nullptr);
    if (!cctx) {
        p.error = PCRE2_ERROR_NOMEMORY;
        return p;
    }
    // "." must not cross a line break of either kind.
    pcre2_set_newline(cctx, PCRE2_NEWLINE_ANYCRLF);
    int err = 0;
    PCRE2_SIZE errOffset = 0;
    pcre2_code* code = pcre2_compile(reinterpret_cast<PCRE2_SPTR>(text.data()), text.size(),
                                     PCRE2_CASELESS | PCRE2_ANCHORED | PCRE2_ENDANCHORED, &err, &errOffset, cctx);
    pcre2_compile_context_free(cctx);
    if (!code) {
        p.error = err;
        return p;
    }
    p.code.reset(code);
    pcre2_pattern_info(code, PCRE2_INFO_CAPTURECOUNT, &p.captures);
    return p;
}

// Match data of one pattern during one call; the captures point into the caller's input.
struct Matcher {
    std::unique_ptr<pcre2_match_data, MatchDataFree> results;
    const char* subject = "";
    size_t length = 0;

    std::string group(uint64_t m) const {
        const PCRE2_SIZE* ov = pcre2_get_ovector_pointer(results.get());
        PCRE2_SIZE b = ov[2 * m], e = ov[2 * m + 1];
        if (b == PCRE2_UNSET || e == PCRE2_UNSET || e < b) return std::string();  // group took no part
        return std::string(subject + b, e - b);
    }
};

}  // namespace

RegexpTable::RegexpTable() = default;
RegexpTable::~RegexpTable() = default;

void RegexpTable::init() { assign(builtInRules()); }

void RegexpTable::assign(std::list<TypeMatch> rules) {
    std::vector<CompiledRule> built;
    built.reserve(rules.size());
    size_t most = 0;
    for (const TypeMatch& r : rules) {
        CompiledRule c;
        const std::string* pats[nrRegexps] = {&r.extPattern, &r.descPattern, &r.mimePattern, &r.magicPattern};
        for (int k = 0; k < nrRegexps; ++k) {
            c.patterns[k] = compilePattern(*pats[k]);
            if (c.patterns[k].captures > most) most = c.patterns[k].captures;
        }
        c.templates[0] = parseTemplate(r.typeIdTemplate);
        c.templates[1] = parseTemplate(r.mimeTemplate);
        c.templates[2] = parseTemplate(r.descriptionTemplate);
        built.push_back(std::move(c));
    }
    regexps = std::move(rules);
    compiled = std::move(built);
    maxCaptures = most;
}

int RegexpTable::check(const char* in1, const char* in2, const char* in3, const char* in4, std::string& typeId,
                       std::string& mime, std::string& desc, std::string& ext) const {
    if (compiled.empty()) return 1;
    const char* inputs[nrRegexps] = {in1, in2, in3, in4};
    Matcher matchers[nrRegexps];
    for (int k = 0; k < nrRegexps; ++k) {
        matchers[k].subject = inputs[k] ? inputs[k] : "";  // a missing text is an empty one
        matchers[k].length = std::strlen(matchers[k].subject);
        matchers[k].results.reset(pcre2_match_data_create(static_cast<uint32_t>(maxCaptures + 1), nullptr));
        if (!matchers[k].results) {
            report(pcreMessage(PCRE2_ERROR_NOMEMORY), diagnosticCode(PCRE2_ERROR_NOMEMORY));
            return 1;
        }
    }

    auto rule = regexps.begin();
    for (const CompiledRule& c : compiled) {
        const TypeMatch& source = *rule++;
        // All four patterns must have compiled before any is tried.
        for (const auto& p : c.patterns) {
            if (p.error != 0) {
                report(pcreMessage(p.error), diagnosticCode(p.error));
                return 1;
            }
        }
        bool all = true;
        for (int k = 0; k < nrRegexps && all; ++k) {
            const Matcher& m = matchers[k];
            int rc = pcre2_match(c.patterns[k].code.get(), reinterpret_cast<PCRE2_SPTR>(m.subject), m.length, 0, 0,
                                 m.results.get(), matchContext());
            if (rc == PCRE2_ERROR_NOMATCH) {
                all = false;
            } else if (rc < 0) {
                report(pcreMessage(rc), diagnosticCode(rc));
                return 1;
            }
        }
        if (!all) continue;

        // This rule decides; a bad capture reference ends the call without trying others.
        std::string values[3];
        for (int t = 0; t < 3; ++t) {
            const Template& tp = c.templates[t];
            if (!tp.isReference) {
                values[t] = tp.literal;
                continue;
            }
            if (tp.pattern == 0 || tp.pattern > nrRegexps) return 1;
            const size_t n = static_cast<size_t>(tp.pattern - 1);
            if (tp.group > c.patterns[n].captures) return 1;
            values[t] = matchers[n].group(tp.group);
        }
        typeId = std::move(values[0]);
        mime = std::move(values[1]);
        desc = std::move(values[2]);
        const std::string& spec = source.extensionSpec;
        if (spec == "*")
            ext = normaliseExtensions(matchers[0].subject);
        else if (spec.empty())
            ext = normaliseExtensions(typeId);
        else
            ext = normaliseExtensions(spec);
        return 0;
    }
    return 1;
}
