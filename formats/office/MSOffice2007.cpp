#include "formats/office/MSOffice2007.h"

#include <cstring>

#include "core/ByteUtils.h"
#include "core/ResultRow.h"
#include "core/TypeTables.h"
#include "formats/archive/ZipArchive.h"
#include "formats/text/HTMLReader.h"

using kiv::ByteSource;

namespace {

// Relationship types of the main part: "officeDocument" for Word, Excel and PowerPoint,
// "document" (in Visio's own namespace) for Visio.
const char* const relMainType = "relationships/officeDocument";
const char* const relVisioMainType = "relationships/document";
const char* const mainRel = "_rels/.rels";

constexpr const char* mimeDOCX = "application/vnd.openxmlformats-officedocument.wordprocessingml.document";
constexpr const char* mimeDOCM = "application/vnd.ms-word.document.macroEnabled.12";
constexpr const char* mimeDOTM = "application/vnd.ms-word.template.macroEnabled.12";
constexpr const char* mimeDOTX = "application/vnd.openxmlformats-officedocument.wordprocessingml.template";
constexpr const char* mimePPTX = "application/vnd.openxmlformats-officedocument.presentationml.presentation";
constexpr const char* mimePPTM = "application/vnd.ms-powerpoint.presentation.macroEnabled.12";
constexpr const char* mimePPSX = "application/vnd.openxmlformats-officedocument.presentationml.slideshow";
constexpr const char* mimePPSM = "application/vnd.ms-powerpoint.slideshow.macroEnabled.12";
constexpr const char* mimePOTX = "application/vnd.openxmlformats-officedocument.presentationml.template";
constexpr const char* mimePOTM = "application/vnd.ms-powerpoint.template.macroEnabled.12";
constexpr const char* mimeXLSX = "application/vnd.openxmlformats-officedocument.spreadsheetml.sheet";
constexpr const char* mimeXLSM = "application/vnd.ms-excel.sheet.macroEnabled.12";
constexpr const char* mimeXLSB = "application/vnd.ms-excel.sheet.binary.macroEnabled.12";
constexpr const char* mimeXLAM = "application/vnd.ms-excel.addin.macroEnabled.12";
constexpr const char* mimeXLTX = "application/vnd.openxmlformats-officedocument.spreadsheetml.template";
constexpr const char* mimeXLTM = "application/vnd.ms-excel.template.macroEnabled.12";
constexpr const char* mimeXPS = "application/vnd.ms-xpsdocument";
constexpr const char* mimeOXPS = "application/oxps";
constexpr const char* mimeVSDX = "application/vnd.ms-visio.drawing";
constexpr const char* mimeVSDM = "application/vnd.ms-visio.drawing.macroEnabled";
constexpr const char* mimeVSSX = "application/vnd.ms-visio.stencil";
constexpr const char* mimeVSSM = "application/vnd.ms-visio.stencil.macroEnabled";
constexpr const char* mimeVSTX = "application/vnd.ms-visio.template";
constexpr const char* mimeVSTM = "application/vnd.ms-visio.template.macroEnabled";

constexpr kiv::ResultRow<MsOfficeTypes> kResults[] = {
    {MSOFFICE_DOCX, "DOCX", mimeDOCX, "docx"},
    {MSOFFICE_DOCM, "DOCM", mimeDOCM, "docm"},
    {MSOFFICE_DOTM, "DOTM", mimeDOTM, "dotm"},
    {MSOFFICE_DOTX, "DOTX", mimeDOTX, "dotx"},
    {MSOFFICE_PPTX, "PPTX", mimePPTX, "pptx"},
    {MSOFFICE_PPTM, "PPTM", mimePPTM, "pptm"},
    {MSOFFICE_PPSX, "PPSX", mimePPSX, "ppsx"},
    {MSOFFICE_PPSM, "PPSM", mimePPSM, "ppsm"},
    {MSOFFICE_POTX, "POTX", mimePOTX, "potx"},
    {MSOFFICE_POTM, "POTM", mimePOTM, "potm"},
    {MSOFFICE_XLSX, "XLSX", mimeXLSX, "xlsx"},
    {MSOFFICE_XLSM, "XLSM", mimeXLSM, "xlsm"},
    {MSOFFICE_XLSB, "XLSB", mimeXLSB, "xlsb"},
    {MSOFFICE_XLAM, "XLAM", mimeXLAM, "xlam"},
    {MSOFFICE_XLTX, "XLTX", mimeXLTX, "xltx"},
    {MSOFFICE_XLTM, "XLTM", mimeXLTM, "xltm"},
    {MSOFFICE_XPS, "XPS", mimeXPS, "xps"},
    {MSOFFICE_OXPS, "OXPS", mimeOXPS, "oxps"},
    {MSOFFICE_VSDX, "VSDX", mimeVSDX, "vsdx"},
    {MSOFFICE_VSDM, "VSDM", mimeVSDM, "vsdm"},
    {MSOFFICE_VSSX, "VSSX", mimeVSSX, "vssx"},
    {MSOFFICE_VSSM, "VSSM", mimeVSSM, "vssm"},
    {MSOFFICE_VSTX, "VSTX", mimeVSTX, "vstx"},
    {MSOFFICE_VSTM, "VSTM", mimeVSTM, "vstm"},
    {MSOFFICE_ZIP_ENCRYPTED, "ZIP-ENCRYPTED", "application/zip", "zip,zipx"},
};
// Codes without a row of their own: a plain ZIP archive.
constexpr kiv::ResultRow<MsOfficeTypes> kPlainZip = {MSOFFICE_NONE, "ZIP", "application/zip", "zip,zipx"};

struct ContentTypeRow {
    const char* contentType;
    MsOfficeTypes code;
};

// Main-part content types per family, in test order. Within Word the plain template is
// tested before the macro-enabled one; the binary workbook's type has no "+xml"; the
// PowerPoint add-in has no code of its own and counts as macro-enabled presentation.
constexpr ContentTypeRow kWordTypes[] = {
    {"application/vnd.openxmlformats-officedocument.wordprocessingml.document.main+xml", MSOFFICE_DOCX},
    {"application/vnd.ms-word.document.macroEnabled.main+xml", MSOFFICE_DOCM},
    {"application/vnd.openxmlformats-officedocument.wordprocessingml.template.main+xml", MSOFFICE_DOTX},
    {"application/vnd.ms-word.template.macroEnabledTemplate.main+xml", MSOFFICE_DOTM},
};
constexpr ContentTypeRow kExcelTypes[] = {
    {"application/vnd.openxmlformats-officedocument.spreadsheetml.sheet.main+xml", MSOFFICE_XLSX},
    {"application/vnd.ms-excel.sheet.macroEnabled.main+xml", MSOFFICE_XLSM},
    {"application/vnd.ms-excel.addin.macroEnabled.main+xml", MSOFFICE_XLAM},
    {"application/vnd.openxmlformats-officedocument.spreadsheetml.template.main+xml", MSOFFICE_XLTX},
    {"application/vnd.ms-excel.template.macroEnabled.main+xml", MSOFFICE_XLTM},
    {"application/vnd.ms-excel.sheet.binary.macroEnabled.main", MSOFFICE_XLSB},
};
constexpr ContentTypeRow kPowerPointTypes[] = {
    {"application/vnd.openxmlformats-officedocument.presentationml.presentation.main+xml", MSOFFICE_PPTX},
    {"application/vnd.ms-powerpoint.presentation.macroEnabled.main+xml", MSOFFICE_PPTM},
    {"application/vnd.openxmlformats-officedocument.presentationml.template.main+xml", MSOFFICE_POTX},
    {"application/vnd.ms-powerpoint.template.macroEnabled.main+xml", MSOFFICE_POTM},
    {"application/vnd.openxmlformats-officedocument.presentationml.slideshow.main+xml", MSOFFICE_PPSX},
    {"application/vnd.ms-powerpoint.slideshow.macroEnabled.main+xml", MSOFFICE_PPSM},
    {"application/vnd.ms-powerpoint.addin.macroEnabled.main+xml", MSOFFICE_PPTM},
};
constexpr ContentTypeRow kVisioTypes[] = {
    {"application/vnd.ms-visio.drawing.main+xml", MSOFFICE_VSDX},
    {"application/vnd.ms-visio.drawing.macroEnabled.main+xml", MSOFFICE_VSDM},
    {"application/vnd.ms-visio.stencil.main+xml", MSOFFICE_VSSX},
    {"application/vnd.ms-visio.stencil.macroEnabled.main+xml", MSOFFICE_VSSM},
    {"application/vnd.ms-visio.template.main+xml", MSOFFICE_VSTX},
    {"application/vnd.ms-visio.template.macroEnabled.main+xml", MSOFFICE_VSTM},
};

template <size_t N>
bool findFamilyType(const ContentTypeRow (&rows)[N], const std::string& contentTypes, MsOfficeTypes& type) {
    type = MSOFFICE_NONE;
    for (const ContentTypeRow& row : rows) {
        if (contentTypes.find(row.contentType) != std::string::npos) {
            type = row.code;
            return true;
        }
    }
    return false;
}

}  // namespace

std::string removeErrorFrom7z(const std::string& output) {
    if (output.empty() || output[0] != '\n') return output;
    const size_t errors = output.find("ERRORS:");
    if (errors == std::string::npos) return output;
    // "ERRORS:" and the line feed after it; near the end of the text nothing is left.
    const size_t cut = errors + 8;
    if (cut >= output.size()) return std::string();
    std::string rest = output.substr(cut);
    // Then the error lines, up to and including the empty line that ends the block.
    for (;;) {
        const size_t lf = rest.find('\n');
        if (lf == std::string::npos) return rest;
        rest.erase(0, lf + 1);
        if (lf == 0) return rest;
    }
}

std::string getMainFileName(const std::string& target) {
    for (size_t i = 0; i < target.size(); ++i) {
        if (kiv::isAsciiAlpha(static_cast<unsigned char>(target[i]))) return target.substr(i);
    }
    return target;
}

bool matchRelationshipTag(const std::string& tag, char quote, std::array<std::string, 7>& groups) {
    static constexpr char kPrefix[] = "relationship ";
    constexpr size_t kPrefixLen = sizeof kPrefix - 1;
    if (tag.size() < kPrefixLen) return false;
    for (size_t i = 0; i < kPrefixLen; ++i) {
        if (kiv::asciiToLower(static_cast<unsigned char>(tag[i])) != kPrefix[i]) return false;
    }
    const char* s = tag.data() + kPrefixLen;
    const size_t n = tag.size() - kPrefixLen;
    // Every later character is taken by a wildcard or a delimiter, and neither takes a line end.
    if (std::memchr(s, '\n', n) != nullptr || std::memchr(s, '\r', n) != nullptr) return false;

    // The delimiter after each of the six name and value groups.
    const char eq[2] = {'=', quote};
    const char close[2] = {quote, ' '};
    const char* const delim[6] = {eq, close, eq, close, eq, close};
    const size_t delimLen[6] = {2, 2, 2, 2, 2, 1};

    // Right to left: feasible[i] says whether groups k.. can match with group k starting at i
    // (for k = 6, the optional rest, always). Group k ends at a delimiter at some j > i, since
    // no group is empty. Backtracking gives each group the longest text that still lets the
    // rest match, so its end is the rightmost usable delimiter.
    std::vector<char> feasible(n + 1, 1), next(n + 1);
    size_t lastEnd[6];
    for (int k = 5; k >= 0; --k) {
        bool anyAfter = false;
        size_t last = SIZE_MAX;
        for (size_t j = n + 1; j-- > 0;) {
            next[j] = anyAfter;
            const size_t len = delimLen[k];
            if (j + len <= n && std::memcmp(s + j, delim[k], len) == 0 && feasible[j + len]) {
                if (last == SIZE_MAX) last = j;
                anyAfter = true;
            }
        }
        lastEnd[k] = last;
        feasible.swap(next);
    }
    if (!feasible[0]) return false;

    size_t start = 0;
    for (int k = 0; k < 6; ++k) {
        groups[k].assign(s + start, lastEnd[k] - start);
        start = lastEnd[k] + delimLen[k];
    }
    groups[6].assign(s + start, n - start);
    return true;
}

namespace {

bool isXmlSpace(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

// The tag with the white space XML allows inside a tag written the one way matchRelationshipTag
// reads: outside quoted text, each run of white space becomes one space, and none is left next
// to an '='. Quoted text (from a quote to the next of the same kind) is kept as it is.
std::string canonicalSpacing(const std::string& tag) {
    std::string out;
    out.reserve(tag.size());
    const size_t n = tag.size();
    for (size_t i = 0; i < n;) {
        const char c = tag[i];
        if (c == '"' || c == '\'') {
            const size_t close = tag.find(c, i + 1);
            const size_t end = close == std::string::npos ? n : close + 1;
            out.append(tag, i, end - i);
            i = end;
        } else if (isXmlSpace(c)) {
            while (i < n && isXmlSpace(tag[i])) ++i;
            if ((out.empty() || out.back() != '=') && (i == n || tag[i] != '=')) out += ' ';
        } else {
            out += c;
            ++i;
        }
    }
    return out;
}

std::string trimXmlSpace(const std::string& text) {
    size_t from = 0, to = text.size();
    while (from < to && isXmlSpace(text[from])) ++from;
    while (to > from && isXmlSpace(text[to - 1])) --to;
    return text.substr(from, to - from);
}

}  // namespace

bool readRelationshipTag(const std::string& tag, std::array<std::string, 7>& groups) {
    if (matchRelationshipTag(tag, '"', groups) || matchRelationshipTag(tag, '\'', groups)) return true;
    const std::string canonical = canonicalSpacing(tag);
    return canonical != tag &&
           (matchRelationshipTag(canonical, '"', groups) || matchRelationshipTag(canonical, '\'', groups));
}

bool MSOffice2007::checkRelTypeInsideList(const std::vector<std::string>& list, const std::string& value) {
    for (const std::string& entry : list) {
        if (value.find(entry) != std::string::npos) return true;
    }
    return false;
}

bool MSOffice2007::isDOCXFamilyType(const std::string& contentTypes, MsOfficeTypes& type) {
    return findFamilyType(kWordTypes, contentTypes, type);
}
bool MSOffice2007::isXLSXFamilyType(const std::string& contentTypes, MsOfficeTypes& type) {
    return findFamilyType(kExcelTypes, contentTypes, type);
}
bool MSOffice2007::isPPTXFamilyType(const std::string& contentTypes, MsOfficeTypes& type) {
    return findFamilyType(kPowerPointTypes, contentTypes, type);
}
bool MSOffice2007::isVisioFamilyType(const std::string& contentTypes, MsOfficeTypes& type) {
    return findFamilyType(kVisioTypes, contentTypes, type);
}

std::string MSOffice2007::findMainFileFromRels(const ByteSource& src, const std::vector<std::string>& relationTypes) {
    if (!ZipArchive::isMember(src, mainRel)) return std::string();
    std::string text;
    ZipArchive::readFilesInsideArchiveWith7z(src, mainRel, text);
    text = removeErrorFrom7z(text);
    if (text.empty()) return std::string();

    HTMLReader reader;
    reader.readFromString(text);
    for (const std::string& tag : reader.getListFullTag()) {
        std::array<std::string, 7> g;
        if (!readRelationshipTag(tag, g)) continue;
        // Pairs (1,2), (3,4), (5,6). A matching Type marks the tag and restarts the walk, so
        // a Target written before the Type is still seen. A name is read without the white
        // space the patterns leave around it (" Type" after two spaces, "Type " before '=').
        bool found = false;
        std::string result;
        for (int p = 0; p < 3;) {
            const std::string name = kiv::asciiLowerCopy(trimXmlSpace(g[2 * p]));
            const std::string& value = g[2 * p + 1];
            if (!found && name == "type" && checkRelTypeInsideList(relationTypes, value)) {
                found = true;
                p = 0;
                continue;
            }
            if (found && name == "target") {
                result = getMainFileName(value);
                break;
            }
            ++p;
        }
        if (found) return result;
    }
    return std::string();
}

MsOfficeTypes MSOffice2007::checkOfficeType(const std::string& path) {
    kiv::FileByteSource src(path);
    return checkOfficeType(src);
}

MsOfficeTypes MSOffice2007::checkOfficeType(const ByteSource& src) {
    if (src.path().empty() || src.size() == 0) return MSOFFICE_NONE;
    const std::string mainPart = findMainFileFromRels(src, {relMainType, relVisioMainType});
    if (mainPart.empty() || !ZipArchive::isMember(src, mainPart)) return MSOFFICE_NONE;

    std::string contentTypes;
    ZipArchive::readFilesInsideArchiveWith7z(src, contentTypesXml, contentTypes);
    MsOfficeTypes type = MSOFFICE_NONE;
    if (isDOCXFamilyType(contentTypes, type) || isXLSXFamilyType(contentTypes, type) ||
        isPPTXFamilyType(contentTypes, type) || isVisioFamilyType(contentTypes, type))
        return type;
    return MSOFFICE_NONE;
}

void MSOffice2007::adjustMsOfficeTypes(MsOfficeTypes type, std::string& typeId, std::string& mime,
                                       std::string& extensions, std::string& description, bool& encrypted) {
    kiv::writeRow(kiv::rowFor(kResults, type, kPlainZip), typeId, mime, extensions, description);
    if (type == MSOFFICE_ZIP_ENCRYPTED) encrypted = true;
}
