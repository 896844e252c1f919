#include "engine/PostRules.h"

#include <cstdint>

#include "core/ResultRow.h"
#include "core/TypeTables.h"
#include "engine/Families.h"

using kiv::ByteSource;

namespace {

struct Outcome {
    std::string typeId, mime, extensions, description;
    bool encrypted;
};

bool has(const std::string& text, const char* part) { return text.find(part) != std::string::npos; }

template <size_t N>
bool hasAny(const std::string& text, const char* const (&parts)[N]) {
    for (const char* p : parts) {
        if (has(text, p)) return true;
    }
    return false;
}

template <size_t N>
bool isOneOf(const std::string& text, const char* const (&values)[N]) {
    for (const char* v : values) {
        if (text == v) return true;
    }
    return false;
}

// A new type id with its MIME type and extensions; the description is the type id's own.
void set(Outcome& r, const char* typeId, const char* mime, const char* extensions) {
    r.typeId = typeId;
    r.mime = mime;
    r.extensions = extensions;
    r.description = FileTypeDescription.at(r.typeId);
}

void setData(Outcome& r) { set(r, "data", "application/octet-stream", ""); }

constexpr const char* kMsoEncryptedExtensions = "docx,docm,xlsx,xlsb,xlsm,xltx,xltm,pptx,pptm,ppsx,ppsm,potx,potm";

constexpr const char* kMediaTypeIds[] = {"3G2", "M4V", "M4R", "MOV", "M4A/MP4", "MPG/MPEG", "3GP/3GPP"};
constexpr const char* kMediaMimes[] = {"video/3gpp2", "video/3gpp",   "video/quicktime", "video/mp4",
                                       "audio/mp4",   "video/x-m4v",  "audio/x-m4a",     "video/mpeg",
                                       "audio/mpeg",  "video/x-mpeg", "audio/x-mpeg"};
// The MIME types the plain-text rule takes, CSV included, so that every text answer reads alike.
constexpr const char* kPlainTextMimes[] = {"text/plain", "text/html", "text/x-c",
                                           "text/x-tex", "text/csv",  "application/octet-stream"};

constexpr kiv::ResultRow<MediaContainerFileType> kMediaRows[] = {
    {MEDIA_CONTAINER_3GP, "3GP", "video/3gpp", "3gp"},
    {MEDIA_CONTAINER_3G2, "3G2", "video/3gpp2", "3g2"},
    {MEDIA_CONTAINER_M4A, "M4A/M4R", "audio/x-m4a", "m4a,m4r,mp4"},
    {MEDIA_CONTAINER_M4B, "M4B", "audio/mp4", "m4b,mp4"},
    {MEDIA_CONTAINER_M4P, "M4P", "audio/mp4", "m4p,mp4"},
    {MEDIA_CONTAINER_M4V, "M4V", "video/x-m4v", "m4v,mp4"},
    {MEDIA_CONTAINER_MOV, "MOV", "video/quicktime", "mov"},
    {MEDIA_CONTAINER_MP4, "MP4", "video/mp4", "mp4"},
    {MEDIA_CONTAINER_MPG, "MPG", "video/x-mpeg", "mpg,dat"},
    {MEDIA_CONTAINER_MPEG, "MPEG", "video/mpeg", "mpe,mpg,mpeg,m1v,m2v,m2p"},
};

// libmagic's description of HTML in UTF-16 with a byte-order mark, either byte order.
bool isUtf16HtmlDescription(const std::string& description) {
    return description.rfind("HTML document, Unicode text, UTF-16, ", 0) == 0;
}

bool isMediaAnswer(const Outcome& r) {
    if (isOneOf(r.typeId, kMediaTypeIds)) return true;
    if (r.typeId == "DAT" && has(r.mime, "video/x-mpeg")) return true;
    return r.typeId == "data" && hasAny(r.mime, kMediaMimes);
}

bool fallBackSignature(const ByteSource& src, Outcome& r) {
    return findMagicSignatureFallback(src, r.typeId, r.mime, r.description, r.extensions);
}

// PHP and PowerShell scripts by their head, in the shapes the definitions' fixed patterns
// cannot list, whatever libmagic made of the rest (text, or data such as a PHP archive's
// payload): the answers the mapping rules give the definitions' own.
bool scriptRule(const ByteSource& src, Outcome& r) {
    switch (scriptByHead(src)) {
        case ScriptHead::Php:
            set(r, "PHP", "text/x-php", "php");
            return true;
        case ScriptHead::PowerShell:
            set(r, "PS1", "text/powershell-script", "ps1");
            return true;
        case ScriptHead::None:
            break;
    }
    return false;
}

// The data rules: the first that holds decides; a failed JAR or RTF probe lets the next rule try.
void dataRules(const ByteSource& src, Outcome& r) {
    if (scriptRule(src, r)) return;
    if ((r.extensions == "jar" || r.extensions == "zip") && isJAR(src)) {
        set(r, "JAR", "application/java-archive", "jar");
        return;
    }
    if (isISO(src)) {
        set(r, "ISO", "application/x-iso9660-image", "iso");
        return;
    }
    if (r.extensions == "doc" || r.extensions == "flo") {
        fallBackSignature(src, r);
        return;
    }
    if (r.extensions == "pz2" && isRTF(src)) {
        set(r, "RTF", "text/rtf", "rtf");
        return;
    }
    if (has(r.description, "VAX COFF executable") ||
        (has(r.mime, "application/zlib") && has(r.description, "zlib compressed data")) ||
        (has(r.mime, "application/x-bzip2") && has(r.description, "bzip2 compressed data"))) {
        // A disk image's compressed blocks start the file; its trailer says what it is.
        if (isDMG(src)) set(r, "DMG", "application/x-apple-diskimage", "dmg");
        return;
    }
    if (has(r.mime, "text/plain") && has(r.description, "HIT archive data")) {
        r.typeId = "TXT";
        r.extensions = "";
        r.description = FileTypeDescription.at(r.typeId);
        return;
    }
    if (has(r.description, "Composite Document File V2 Document")) {
        setData(r);
        return;
    }
    if (has(r.description, "Atari ATR image")) {
        if (isATR(src))
            set(r, "ATR", "application/octet-stream", "atr");
        else
            setData(r);
        return;
    }
    r.mime = "application/octet-stream";
    r.extensions = "";
}

void applyRules(const ByteSource& src, Outcome& r) {
    if (r.typeId == "data" && has(r.mime, "application/encrypted") && has(r.description, "CDFV2 Encrypted")) {
        // Office keeps an encrypted Open XML package in a compound file; libmagic sees only that.
        r.typeId = "MSO-ENCRYPTED";
        r.extensions = kMsoEncryptedExtensions;
        r.description = FileTypeDescription.at(r.typeId);
        r.encrypted = true;
        return;
    }
    if (r.typeId == "PDF") {
        // The cascade's PDF classifier refused this file.
        setData(r);
        return;
    }
    if (r.typeId == "HTML") {
        // The text stage is the authority on HTML; only the UTF-16 form it cannot read stays.
        if (r.description == "HyperText Markup Language (UTF-16)" || isUtf16HtmlDescription(r.description))
            set(r, "HTML", "text/html", "htm,html");
        else
            set(r, "TXT", "text/plain", "");
        return;
    }
    if (has(r.mime, "image/svg") || r.typeId == "XML") {
        switch (detemineSVGorRDForHTML(src)) {
            case 1:
                set(r, "SVG", "image/svg+xml", "svg");
                break;
            case 2:
                set(r, "RDF", "text/xml", "rdf");
                break;
            case 3:
                set(r, "HTML", "text/html", "htm,html");
                break;
            default:
                break;
        }
        return;
    }
    if (r.typeId == "DB") {
        fallBackSignature(src, r);
        return;
    }
    if (isMediaAnswer(r)) {
        const auto* row = kiv::findRow(kMediaRows, determineMediaContainerType(src));
        if (row != nullptr) kiv::writeRow(*row, r.typeId, r.mime, r.extensions, r.description);
        return;
    }
    if (r.typeId == "TXT") {
        if (scriptRule(src, r)) return;
        // Other text (a script, JSON) keeps libmagic's own type; no text lists extensions.
        if (hasAny(r.mime, kPlainTextMimes)) r.mime = "text/plain";
        r.extensions = "";
        r.description = FileTypeDescription.at(r.typeId);
        return;
    }
    if (r.typeId == "data") dataRules(src, r);
}

}  // namespace

void adjustFileTypeDetection(const ByteSource& src, std::string& typeId, std::string& mime, std::string& extensions,
                             std::string& description, bool& encrypted) {
    Outcome r{typeId, mime, extensions, description, encrypted};
    applyRules(src, r);
    // Swaps cannot throw: the caller sees either the mapped result or the adjusted one.
    typeId.swap(r.typeId);
    mime.swap(r.mime);
    extensions.swap(r.extensions);
    description.swap(r.description);
    encrypted = r.encrypted;
}

void adjustFileTypeDetection(const std::string& path, unsigned long, std::string& typeId, std::string& mime,
                             std::string& extensions, std::string& description, bool& encrypted) {
    adjustFileTypeDetection(kiv::FileByteSource(path), typeId, mime, extensions, description, encrypted);
}
