#include "engine/Result.h"

#include <cstdint>

#include "core/ResultRow.h"
#include "core/TypeTables.h"
#include "engine/TypeCatalogue.h"

namespace kiv {

namespace {

// Indexed by FixedRow; only the encrypted PDF row sets the encrypted flag.
constexpr ResultRow<FixedRow> kFixedRows[] = {
    {FixedRow::Data, "data", "application/octet-stream", ""},
    {FixedRow::PdfEncrypted, "PDF-ENCRYPTED", "application/pdf", "pdf,ai"},
    {FixedRow::Pdf, "PDF", "application/pdf", "pdf"},
    {FixedRow::Ai, "AI", "application/postscript", "pdf,ai"},
    {FixedRow::Rtf, "RTF", "text/rtf", "rtf"},
    {FixedRow::Amr, "AMR", "audio/amr", "amr"},
    {FixedRow::XexExe, "XEX/EXE", "application/x-dosdriver", "xex,exe"},
    {FixedRow::Pst, "PST", "application/vnd.ms-outlook", "pst"},
    {FixedRow::Tnef, "TNEF", "application/ms-tnef", "tnef,dat"},
    {FixedRow::Wav, "WAV", "audio/wav", "wav"},
    {FixedRow::Mp3, "MP3", "audio/mp3", "mp3"},
};
static_assert(sizeof kFixedRows / sizeof kFixedRows[0] == static_cast<size_t>(FixedRow::Mp3) + 1,
              "one text row per FixedRow");

void appendQuoted(std::string& out, const std::string& text) {
    out += '"';
    out += escapeJsonString(text);
    out += '"';
}

// Length of the well-formed UTF-8 sequence at text[i], or 0 when none starts there: no
// overlong form, no surrogate (ED A0-BF), nothing above U+10FFFF.
size_t utf8SequenceLength(const std::string& text, size_t i) {
    const auto at = [&](size_t k) { return static_cast<unsigned char>(text[k]); };
    const unsigned char lead = at(i);
    if (lead < 0x80) return 1;
    size_t n = 0;
    unsigned char low = 0x80, high = 0xBF;  // the second byte's range
    if (lead >= 0xC2 && lead <= 0xDF) {
        n = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        n = 3;
        if (lead == 0xE0) low = 0xA0;   // overlong below U+0800
        if (lead == 0xED) high = 0x9F;  // surrogates
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        n = 4;
        if (lead == 0xF0) low = 0x90;   // overlong below U+10000
        if (lead == 0xF4) high = 0x8F;  // above U+10FFFF
    } else {
        return 0;  // a continuation byte, C0/C1 (overlong) or F5-FF
    }
    if (text.size() - i < n || at(i + 1) < low || at(i + 1) > high) return 0;
    for (size_t k = 2; k < n; ++k)
        if (at(i + k) < 0x80 || at(i + k) > 0xBF) return 0;
    return n;
}

void appendMember(std::string& out, const std::string& key, const std::string& value) {
    out += '"';
    out += key;
    out += "\":";
    appendQuoted(out, value);
}

}  // namespace

void writeFixedRow(FixedRow row, DetectionResult& result) {
    writeRow(kFixedRows[static_cast<size_t>(row)], result.typeId, result.mime, result.extensions, result.description);
    result.encrypted = row == FixedRow::PdfEncrypted;
}

}  // namespace kiv

std::string escapeJsonString(const std::string& text) {
    static const char kHex[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(text.size() + 8);
    for (size_t i = 0; i < text.size(); ++i) {
        const char ch = text[i];
        const unsigned char c = static_cast<unsigned char>(ch);
        if (c >= 0x80) {
            // Descriptions copy bytes out of files (volume labels, comments) in whatever
            // encoding they had; the answer must stay UTF-8 for a strict parser.
            const size_t n = kiv::utf8SequenceLength(text, i);
            if (n == 0) {
                out += "\\uFFFD";
            } else {
                out.append(text, i, n);
                i += n - 1;
            }
            continue;
        }
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
