#include "tools/qrixc/DefsCompiler.h"

#include <algorithm>
#include <climits>
#include <map>
#include <sstream>

#include "core/Limits.h"

namespace qrixc {
namespace {

using kiv::limits::kQrixDefTextMax;
using kiv::limits::kQrixHeaderBytes;
using kiv::limits::kQrixPackMax;
using kiv::limits::kQrixTextMax;

bool isSpace(char c) { return c == ' ' || c == '\t' || c == '\r'; }
bool isHex(char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'); }
int hexValue(char c) { return c <= '9' ? c - '0' : (c | 0x20) - 'a' + 10; }
bool isUpperToken(char c) { return (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' || c == '-'; }

std::string trim(const std::string& s) {
    size_t b = 0, e = s.size();
    while (b < e && isSpace(s[b])) ++b;
    while (e > b && isSpace(s[e - 1])) --e;
    return s.substr(b, e - b);
}

// Decimal or 0x-prefixed integer filling the whole token.
bool parseInteger(const std::string& token, int64_t& value) {
    if (token.empty()) return false;
    size_t i = 0;
    bool negative = false;
    if (token[0] == '-') negative = true, i = 1;
    int base = 10;
    if (token.compare(i, 2, "0x") == 0 || token.compare(i, 2, "0X") == 0) base = 16, i += 2;
    if (i >= token.size()) return false;
    int64_t v = 0;
    for (; i < token.size(); ++i) {
        const char c = token[i];
        int digit;
        if (base == 16 && isHex(c))
            digit = hexValue(c);
        else if (c >= '0' && c <= '9')
            digit = c - '0';
        else
            return false;
        if (v > (INT64_MAX - digit) / base) return false;
        v = v * base + digit;
    }
    value = negative ? -v : v;
    return true;
}

// Parses BYTES: hex tokens and quoted texts. Returns false with a message on bad syntax.
bool parseBytes(const std::string& s, size_t pos, std::string& out, std::string& error) {
    out.clear();
    while (true) {
        while (pos < s.size() && isSpace(s[pos])) ++pos;
        if (pos >= s.size()) break;
        bool wide = false, bigEndian = false;
        if (s.compare(pos, 2, "u\"") == 0) wide = true, pos += 1;
        if (s.compare(pos, 4, "ube\"") == 0) wide = bigEndian = true, pos += 3;
        if (s[pos] == '"') {
            std::string text;
            ++pos;
            bool closed = false;
            while (pos < s.size()) {
                char c = s[pos++];
                if (c == '"') {
                    closed = true;
                    break;
                }
                if (c == '\\') {
                    if (pos >= s.size()) break;
                    const char e = s[pos++];
                    switch (e) {
                        case '\\':
                            c = '\\';
                            break;
                        case '"':
                            c = '"';
                            break;
                        case '0':
                            c = '\0';
                            break;
                        case 'r':
                            c = '\r';
                            break;
                        case 'n':
                            c = '\n';
                            break;
                        case 't':
                            c = '\t';
                            break;
                        case 'x':
                            if (pos + 1 >= s.size() || !isHex(s[pos]) || !isHex(s[pos + 1])) {
                                error = "\\x needs two hex digits";
                                return false;
                            }
                            c = static_cast<char>(hexValue(s[pos]) * 16 + hexValue(s[pos + 1]));
                            pos += 2;
                            break;
                        default:
                            error = std::string("unknown escape \\") + e;
                            return false;
                    }
                }
                text.push_back(c);
            }
            if (!closed) {
                error = "unterminated quoted text";
                return false;
            }
            if (wide) {
                for (char c : text) {
                    if (static_cast<unsigned char>(c) >= 0x80) {
                        error = "u\"...\" and ube\"...\" take ASCII only";
                        return false;
                    }
                    if (bigEndian) out.push_back('\0');
                    out.push_back(c);
                    if (!bigEndian) out.push_back('\0');
                }
            } else {
                out += text;
            }
            continue;
        }
        size_t end = pos;
        while (end < s.size() && !isSpace(s[end])) ++end;
        const std::string token = s.substr(pos, end - pos);
        if (token.size() % 2 != 0 || !std::all_of(token.begin(), token.end(), isHex)) {
            error = "bad byte token '" + token + "' (hex pairs or a quoted text)";
            return false;
        }
        for (size_t i = 0; i < token.size(); i += 2)
            out.push_back(static_cast<char>(hexValue(token[i]) * 16 + hexValue(token[i + 1])));
        pos = end;
    }
    if (out.empty()) {
        error = "no bytes given";
        return false;
    }
    return true;
}

std::string* textField(SourceDefinition& d, const std::string& key) {
    static const std::map<std::string, std::string SourceDefinition::*> fields = {
        {"type", &SourceDefinition::type}, {"ext", &SourceDefinition::ext},   {"mime", &SourceDefinition::mime},
        {"name", &SourceDefinition::name}, {"user", &SourceDefinition::user}, {"mail", &SourceDefinition::mail},
        {"home", &SourceDefinition::home}, {"rurl", &SourceDefinition::rurl}, {"rem", &SourceDefinition::rem}};
    const auto it = fields.find(key);
    return it == fields.end() ? nullptr : &(d.*(it->second));
}

bool printableAscii(const std::string& s) {
    return std::all_of(s.begin(), s.end(), [](char c) { return c >= 0x20 && c <= 0x7E; });
}

// "PNG", "MPG/MPEG": the mapping rules capture an upper-case token of this text as the type id.
bool validExtText(const std::string& ext) {
    if (ext.empty() || ext.front() == '/' || ext.back() == '/') return false;
    for (size_t i = 0; i < ext.size(); ++i) {
        if (ext[i] == '/') {
            if (ext[i + 1] == '/') return false;
        } else if (!isUpperToken(ext[i])) {
            return false;
        }
    }
    return true;
}

std::string describe(const SourceDefinition& d) { return d.where + ": definition '" + d.label + "'"; }

}  // namespace

void parseSource(const std::string& text, const std::string& fileName, std::vector<SourceDefinition>& defs,
                 Diagnostics& diag) {
    std::istringstream in(text);
    std::string line;
    int lineNo = 0;
    SourceDefinition* open = nullptr;
    std::vector<std::string> seen;  // single-valued fields already given in the open definition
    auto fail = [&](const std::string& message) {
        diag.errors.push_back(fileName + ":" + std::to_string(lineNo) + ": " + message);
    };
    while (std::getline(in, line)) {
        ++lineNo;
        const std::string stripped = trim(line);
        if (stripped.empty() || stripped[0] == '#') continue;
        size_t keyEnd = 0;
        while (keyEnd < stripped.size() && !isSpace(stripped[keyEnd])) ++keyEnd;
        const std::string key = stripped.substr(0, keyEnd);
        const std::string rest = trim(stripped.substr(keyEnd));

        if (key == "def") {
            if (open != nullptr) fail("'def' inside definition '" + open->label + "' (missing 'end')");
            defs.emplace_back();
            open = &defs.back();
            open->label = rest.empty() ? "#" + std::to_string(defs.size()) : rest;
            open->where = fileName + ":" + std::to_string(lineNo);
            seen.clear();
            continue;
        }
        if (open == nullptr) {
            fail("'" + key + "' outside a definition");
            continue;
        }
        if (key == "end") {
            open = nullptr;
            continue;
        }
        if (key != "pattern" && key != "string") {
            if (std::find(seen.begin(), seen.end(), key) != seen.end()) {
                fail("'" + key + "' given twice");
                continue;
            }
            seen.push_back(key);
        }
        if (std::string* field = textField(*open, key)) {
            *field = rest;
        } else if (key == "tag" || key == "fnum") {
            int64_t v = 0;
            if (!parseInteger(rest, v) || v < INT32_MIN || v > INT32_MAX) {
                fail("'" + key + "' needs a 32-bit integer");
                continue;
            }
            (key == "tag" ? open->tag : open->fnum) = static_cast<int32_t>(v);
            (key == "tag" ? open->hasTag : open->hasFnum) = true;
        } else if (key == "pattern") {
            size_t offEnd = 0;
            while (offEnd < rest.size() && !isSpace(rest[offEnd])) ++offEnd;
            int64_t offset = 0;
            if (!parseInteger(rest.substr(0, offEnd), offset)) {
                fail("'pattern' needs an offset, then bytes");
                continue;
            }
            std::string bytes, error;
            if (!parseBytes(rest, offEnd, bytes, error)) {
                fail("pattern: " + error);
                continue;
            }
            if (offset < 0 || offset > INT16_MAX) {
                fail("pattern offset " + std::to_string(offset) + " is negative or too large");
                continue;
            }
            open->patterns.push_back({static_cast<int32_t>(offset), bytes});
        } else if (key == "string") {
            std::string bytes, error;
            if (!parseBytes(rest, 0, bytes, error)) {
                fail("string: " + error);
                continue;
            }
            open->strings.push_back(bytes);
        } else {
            fail("unknown statement '" + key + "'");
        }
    }
    if (open != nullptr) fail("definition '" + open->label + "' has no 'end' before the end of the file");
}

int64_t definitionPoints(const SourceDefinition& def) {
    int64_t points = 0;
    for (const auto& p : def.patterns)
        points += p.offset == 0 ? 1000 * static_cast<int64_t>(p.bytes.size()) : static_cast<int64_t>(p.bytes.size());
    for (const auto& s : def.strings) points += 500 * static_cast<int64_t>(s.size());
    return std::min<int64_t>(points, INT32_MAX);
}

namespace {

// The header bytes a definition's patterns fix, by offset; false when two of its own
// patterns demand different bytes at one offset.
bool fixedBytes(const SourceDefinition& def, std::map<int32_t, char>& fixed) {
    for (const auto& p : def.patterns) {
        for (size_t i = 0; i < p.bytes.size(); ++i) {
            const auto [it, inserted] = fixed.emplace(p.offset + static_cast<int32_t>(i), p.bytes[i]);
            if (!inserted && it->second != p.bytes[i]) return false;
        }
    }
    return true;
}

}  // namespace

bool patternsCompatible(const SourceDefinition& a, const SourceDefinition& b) {
    std::map<int32_t, char> fa, fb;
    if (!fixedBytes(a, fa) || !fixedBytes(b, fb)) return false;
    for (const auto& [off, byte] : fa) {
        const auto it = fb.find(off);
        if (it != fb.end() && it->second != byte) return false;
    }
    return true;
}

void checkDefinitions(const std::vector<SourceDefinition>& defs, Diagnostics& diag) {
    if (defs.empty())
        diag.errors.push_back("no definitions: the matcher would load nothing and the engine would not start");
    for (const auto& d : defs) {
        auto fail = [&](const std::string& message) { diag.errors.push_back(describe(d) + ": " + message); };
        if (d.type.empty()) fail("has no 'type'");
        if (d.ext.empty()) fail("has no 'ext'");
        if (d.type.size() > kQrixDefTextMax || d.ext.size() > kQrixDefTextMax)
            fail("'type' and 'ext' must stay within " + std::to_string(kQrixDefTextMax) + " bytes");
        if (!d.ext.empty() && !validExtText(d.ext)) fail("'ext' must be upper-case tokens joined by '/': " + d.ext);
        for (const std::string* t : {&d.type, &d.ext, &d.mime, &d.name, &d.user, &d.mail, &d.home, &d.rurl, &d.rem}) {
            if (!printableAscii(*t)) fail("texts must be printable ASCII: '" + *t + "'");
            if (t->size() > kQrixTextMax) fail("a text is longer than " + std::to_string(kQrixTextMax) + " bytes");
        }
        if (d.patterns.empty()) fail("has no pattern, so it can never match");
        for (const auto& p : d.patterns) {
            if (p.offset < 0 ||
                p.offset + static_cast<int64_t>(p.bytes.size()) > static_cast<int64_t>(kQrixHeaderBytes))
                fail("pattern at " + std::to_string(p.offset) + " ends beyond the first " +
                     std::to_string(kQrixHeaderBytes) + " bytes, so it can never match");
        }
        std::map<int32_t, char> fixed;
        if (!fixedBytes(d, fixed)) fail("two of its patterns demand different bytes at one offset");
        for (const auto& s : d.strings) {
            if (std::any_of(s.begin(), s.end(), [](char c) { return c >= 'a' && c <= 'z'; }))
                fail("string has lower-case letters, which the upper-cased search never finds: " + s);
            if (s.size() > static_cast<size_t>(INT32_MAX)) fail("string too long");
        }
    }
    if (!diag.errors.empty()) return;

    const std::string pack = buildPackage(defs);
    if (pack.size() > kQrixPackMax)
        diag.errors.push_back("package of " + std::to_string(pack.size()) + " bytes exceeds the loader's limit");

    // Only the highest points count; among equal points the winner follows the shell sort's
    // swaps and the caller's walk, which nobody should have to predict.
    for (size_t i = 0; i < defs.size(); ++i) {
        for (size_t j = i + 1; j < defs.size(); ++j) {
            const auto& a = defs[i];
            const auto& b = defs[j];
            if (a.type == b.type && a.ext == b.ext) continue;
            if (definitionPoints(a) != definitionPoints(b) || !patternsCompatible(a, b)) continue;
            diag.warnings.push_back(describe(a) + " and '" + b.label + "' (" + b.where + ") can tie at " +
                                    std::to_string(definitionPoints(a)) + " points");
        }
    }
}

qrix::pack::Definition toPackDefinition(const SourceDefinition& d) {
    qrix::pack::Definition out;
    out.patterns = d.patterns;
    out.strings = d.strings;
    const std::pair<const char*, const std::string*> texts[] = {{"TYPE", &d.type}, {"EXT ", &d.ext},  {"MIME", &d.mime},
                                                                {"NAME", &d.name}, {"USER", &d.user}, {"MAIL", &d.mail},
                                                                {"HOME", &d.home}, {"RURL", &d.rurl}, {"REM ", &d.rem}};
    for (const auto& [id, text] : texts)
        if (!text->empty()) out.info.emplace_back(id, *text);
    if (d.hasTag) out.info.emplace_back("TAG ", qrix::pack::int32Value(d.tag));
    if (d.hasFnum) out.info.emplace_back("FNUM", qrix::pack::int32Value(d.fnum));
    return out;
}

std::string buildPackage(const std::vector<SourceDefinition>& defs) {
    std::vector<qrix::pack::Definition> out;
    out.reserve(defs.size());
    for (const auto& d : defs) out.push_back(toPackDefinition(d));
    return qrix::pack::package(out);
}

}  // namespace qrixc
