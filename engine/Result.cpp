#include "engine/Result.h"

#include <cstdint>

#include "engine/TypeCatalogue.h"
#include "engine/TypeTables.h"

namespace kiv {

namespace {

struct FixedRowText {
    const char* typeId;
    const char* mime;
    const char* extensions;
    bool encrypted;
};

// Indexed by FixedRow.
constexpr FixedRowText kFixedRows[] = {
    {"data", "application/octet-stream", "", false},
    {"PDF-ENCRYPTED", "application/pdf", "pdf,ai", true},
    {"PDF", "application/pdf", "pdf", false},
    {"AI", "application/postscript", "pdf,ai", false},
    {"RTF", "text/rtf", "rtf", false},
    {"AMR", "audio/amr", "amr", false},
    {"XEX/EXE", "application/x-dosdriver", "xex,exe", false},
    {"PST", "application/vnd.ms-outlook", "pst", false},
    {"TNEF", "application/ms-tnef", "tnef,dat", false},
    {"WAV", "audio/wav", "wav", false},
    {"MP3", "audio/mp3", "mp3", false},
};
static_assert(sizeof kFixedRows / sizeof kFixedRows[0] == static_cast<size_t>(FixedRow::Mp3) + 1,
              "one text row per FixedRow");

void appendQuoted(std::string& out, const std::string& text) {
    out += '"';
    out += escapeJsonString(text);
    out += '"';
}

void appendMember(std::string& out, const std::string& key, const std::string& value) {
    out += '"';
    out += key;
    out += "\":";
    appendQuoted(out, value);
}

}  // namespace

void writeFixedRow(FixedRow row, DetectionResult& result) {
    const FixedRowText& r = kFixedRows[static_cast<size_t>(row)];
    result.typeId = r.typeId;
    result.mime = r.mime;
    result.extensions = r.extensions;
    result.description = FileTypeDescription.at(result.typeId);
    result.encrypted = r.encrypted;
}

}  // namespace kiv

std::string escapeJsonString(const std::string& text) {
    static const char kHex[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(text.size() + 8);
    for (char ch : text) {
        const unsigned char c = static_cast<unsigned char>(ch);
        switch (c) {
            case '"':
                out += "\\\"";
                break;
            case '\\':
                out += "\\\\";
                break;
            case 0x08:
                out += "\\b";
                break;
            case 0x09:
                out += "\\t";
                break;
            case 0x0A:
                out += "\\n";
                break;
            case 0x0C:
                out += "\\f";
                break;
            case 0x0D:
                out += "\\r";
                break;
            default:
                if (c < 0x20) {
                    // libmagic runs raw, so its descriptions can carry control bytes copied
                    // from the file; unescaped they would make the whole answer invalid JSON.
                    out += "\\u00";
                    out += kHex[c >> 4];
                    out += kHex[c & 0x0F];
                } else {
                    out += ch;
                }
        }
    }
    return out;
}

std::string createOutputJson(const std::string& typeId, const std::string& mime, const std::string& description,
                             const std::string& extensions, bool encrypted, const std::vector<std::string>& typeIds,
                             const std::map<std::string, std::vector<std::string>>& groups) {
    using kiv::appendMember;
    using kiv::appendQuoted;
    static const std::vector<std::string> kOther = {"O"};
    // find, never operator[]: scans run in parallel and must not insert into the lookup.
    auto g = groups.find(typeId);
    const std::vector<std::string>& groupIds = (g == groups.end() || g->second.empty()) ? kOther : g->second;

    std::string out = "{";
    appendMember(out, typeIDStr, typeId);
    out += ',';
    appendMember(out, mimeStr, mime);
    out += ",\"groupIDs\":[";
    for (size_t i = 0; i < groupIds.size(); ++i) {
        if (i) out += ',';
        appendQuoted(out, groupIds[i]);
    }
    out += "],\"groupID\":";
    appendQuoted(out, groupIds.back());
    out += ',';
    appendMember(out, descriptionStr, description);
    out += ',';
    appendMember(out, extensionsStr, extensions);
    out += ",\"";
    out += encryptedStr;
    out += encrypted ? "\":true" : "\":false";
    if (!typeIds.empty()) {
        // Escaped: kivFileType puts the host's extension text into this list.
        out += ",\"type_ids\":[";
        for (size_t i = 0; i < typeIds.size(); ++i) {
            if (i) out += ',';
            appendQuoted(out, typeIds[i]);
        }
        out += ']';
    }
    out += '}';
    return out;
}

std::string createOutputJson(const std::string& typeId, const std::string& mime, const std::string& description,
                             const std::string& extensions, bool encrypted, const std::vector<std::string>& typeIds) {
    return createOutputJson(typeId, mime, description, extensions, encrypted, typeIds, map_TypeToGroupId);
}
