// Writes definitions packages for libQrixLib: a RIFF form "QRIX" holding a "HEAD" chunk
// with the definition count and a "DEFS" chunk with one "DEF " record per definition.
// Shared by the definitions compiler and the tests, which also use the low-level pieces to
// build malformed packages.
//
// All integers are little-endian and signed. There is no RIFF padding anywhere: the reader
// advances by exactly the stored lengths, so a pad byte after an odd-sized chunk would
// misalign every chunk after it.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace qrix::pack {

inline void putI16(std::string& out, int32_t v) {
    const auto u = static_cast<uint16_t>(v);
    out.push_back(static_cast<char>(u & 0xFF));
    out.push_back(static_cast<char>(u >> 8));
}

inline void putI32(std::string& out, int64_t v) {
    const auto u = static_cast<uint32_t>(v);
    for (int shift = 0; shift < 32; shift += 8) out.push_back(static_cast<char>((u >> shift) & 0xFF));
}

// id (4 bytes) + int32 length + data. declaredLength overrides the stored length (tests).
inline std::string chunk(const std::string& id, const std::string& data, int64_t declaredLength = -1) {
    std::string out = id.substr(0, 4);
    out.resize(4, ' ');
    putI32(out, declaredLength < 0 ? static_cast<int64_t>(data.size()) : declaredLength);
    out += data;
    return out;
}

// One "PATT" entry: int16 offset, int16 length, the pattern bytes.
inline std::string patternEntry(int32_t offset, const std::string& bytes) {
    std::string out;
    putI16(out, offset);
    putI16(out, static_cast<int32_t>(bytes.size()));
    return out + bytes;
}

// One "STRN" entry: int32 length, the string bytes.
inline std::string stringEntry(const std::string& bytes) {
    std::string out;
    putI32(out, static_cast<int64_t>(bytes.size()));
    return out + bytes;
}

// One "INFO" entry: 4-character id, int16 length, the value.
inline std::string infoEntry(const std::string& id, const std::string& value) {
    std::string out = id.substr(0, 4);
    out.resize(4, ' ');
    putI16(out, static_cast<int32_t>(value.size()));
    return out + value;
}

inline std::string int32Value(int32_t v) {
    std::string out;
    putI32(out, v);
    return out;
}

struct Pattern {
    int32_t offset = 0;
    std::string bytes;
};

struct Definition {
    std::vector<Pattern> patterns;
    std::vector<std::string> strings;
    // INFO entries in order: identifier ("TYPE", "EXT ", "TAG ", ...) and raw value.
    std::vector<std::pair<std::string, std::string>> info;
};

// The data of a "PATT" or "STRN" sub-chunk: the entry count in the two leading bytes
// (which the reader skips), then the entries.
inline std::string countedEntries(const std::vector<std::string>& entries) {
    std::string out;
    putI16(out, static_cast<int32_t>(entries.size()));
    for (const auto& e : entries) out += e;
    return out;
}

// "DEF " record: "DATA" (with "PATT" and, when there are strings, "STRN"), then "INFO".
inline std::string definitionRecord(const Definition& def) {
    std::vector<std::string> patterns;
    for (const auto& p : def.patterns) patterns.push_back(patternEntry(p.offset, p.bytes));
    std::string data = chunk("PATT", countedEntries(patterns));
    if (!def.strings.empty()) {
        std::vector<std::string> strings;
        for (const auto& s : def.strings) strings.push_back(stringEntry(s));
        data += chunk("STRN", countedEntries(strings));
    }
    std::string info;
    for (const auto& [id, value] : def.info) info += infoEntry(id, value);
    return chunk("DEF ", chunk("DATA", data) + chunk("INFO", info));
}

// The whole package around a definitions area; n is the count written to the header.
inline std::string package(const std::string& area, int32_t n) {
    std::string head;
    putI32(head, n);
    std::string body = "QRIX" + chunk("HEAD", head) + chunk("DEFS", area);
    return chunk("RIFF", body);
}

inline std::string package(const std::vector<Definition>& defs) {
    std::string area;
    for (const auto& d : defs) area += definitionRecord(d);
    return package(area, static_cast<int32_t>(defs.size()));
}

}  // namespace qrix::pack
