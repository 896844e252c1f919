#include "formats/text/HTMLReader.h"

#include <algorithm>
#include <cstring>

#include "engine/ByteSource.h"
#include "engine/ByteUtils.h"
#include "engine/Limits.h"

namespace {

constexpr unsigned long kNotFound = ~0UL;
constexpr unsigned char kUtf8Bom[3] = {0xEF, 0xBB, 0xBF};
// Bytes looked at in place, before a library search: most tags are short and most gaps
// between tags are too, and a search call costs more than such a scan. Answers do not depend
// on it.
constexpr uint64_t kNearScan = 256;

// What each byte may be in a tag's name: one table look-up per byte of every tag.
enum NameClass : uint8_t {
    kNameStart = 1,  // after the '<' of an opening tag: a letter, '?' or '!'
    kNameByte = 2,   // in a name: letters, digits and - : _ . ? !
    kNameEnd = 4,    // accepted right after a name: 0x80 and above, NUL, blanks, '>' and '='
};
struct NameClasses {
    uint8_t of[256];
    constexpr NameClasses() : of{} {
        for (int i = 0; i < 256; ++i) {
            const unsigned char c = static_cast<unsigned char>(i);
            const bool mark = c == '?' || c == '!';
            if (kiv::isAsciiAlpha(c) || mark) of[i] |= kNameStart;
            if (kiv::isAsciiAlnum(c) || mark || c == '-' || c == ':' || c == '_' || c == '.') of[i] |= kNameByte;
            if (c >= 0x80 || c == 0 || kiv::isAsciiSpace(c) || c == '>' || c == '=') of[i] |= kNameEnd;
        }
    }
};
constexpr NameClasses kNameClasses;

// Angle-bracketed links ("<http://host/>") read like tags but name no element.
bool isLinkName(std::string_view name) {
    if (name.empty() || name.back() != ':') return false;
    return kiv::equalsIgnoringAsciiCase(name, "http:") || kiv::equalsIgnoringAsciiCase(name, "https:") ||
           kiv::equalsIgnoringAsciiCase(name, "ftp:") || kiv::equalsIgnoringAsciiCase(name, "file:");
}

// Reads the name of the tag whose '<' is at text (NUL-terminated) without a copy: the view of
// its name as written, and whether it closes.
inline bool scanTagName(const char* text, bool inScript, std::string_view& nameOut, bool& closing) {
    const auto& cls = kNameClasses.of;
    if (text[0] != '<') return false;
    const unsigned char c = static_cast<unsigned char>(text[1]);
    // '?' and '!' stay part of the name ("?xml", "!DOCTYPE").
    const bool isClosing = c == '/';
    if (!isClosing && !(cls[c] & kNameStart)) return false;
    const char* name = isClosing ? text + 2 : text + 1;
    const char* end = name;
    while (cls[static_cast<unsigned char>(*end)] & kNameByte) ++end;

    const unsigned char after = static_cast<unsigned char>(*end);
    if (!(cls[after] & kNameEnd) && !(after == '/' && !isClosing)) return false;

    const std::string_view tagName(name, static_cast<size_t>(end - name));
    // Inside a script only its own end may start a tag, so "a<b" in code yields nothing.
    if (inScript && !isClosing && tagName != "script") return false;

    nameOut = tagName;
    closing = isClosing;
    return true;
}

}  // namespace

// ---- HTMLTag ----

bool HTMLTag::isValidCharacter(const char* c) { return static_cast<unsigned char>(*c) < 0x80; }

unsigned long HTMLTag::searchInBinary(const char* data, unsigned long dataLen, const char* pattern,
                                      unsigned long patternLen) {
    if (patternLen == 0) return 0;
    if (data == nullptr || pattern == nullptr || patternLen > dataLen) return kNotFound;
    // memchr to each candidate last byte, then a compare of the bytes before it: the walk calls
    // this from every tag over the whole rest of the text, and memchr stops at the match (the
    // sanitizer's memmem checks the whole haystack on every call, which made the walk quadratic
    // there). Matches of one length end in the order they start, so the first end found is the
    // first match. The last byte is the rare one of the walk's patterns ("-->", "?>").
    const unsigned long lead = patternLen - 1;
    for (unsigned long from = lead; from < dataLen;) {
        const void* hit = std::memchr(data + from, pattern[lead], dataLen - from);
        if (hit == nullptr) return kNotFound;
        const unsigned long at = static_cast<unsigned long>(static_cast<const char*>(hit) - data) - lead;
        if (lead == 0 || std::memcmp(data + at, pattern, lead) == 0) return at;
        from = at + lead + 1;
    }
    return kNotFound;
}

bool HTMLTag::parseFromStr(const char* text, bool& opening, bool& closing, bool& inScript, bool) {
    tagStart_ = text;
    std::string_view name;
    bool isClosing = false;
    if (!scanTagName(text, inScript, name, isClosing)) return false;
    closing = isClosing;
    opening = !isClosing;
    tagName_.assign(name.data(), name.size());
    tagEnd_ = name.data() + name.size();
    return true;
}

// ---- HTMLReader ----

void HTMLReader::startText(size_t n) {
    size_ = n + 1;
    pos_ = 0;
    nextGt_ = NextMatch{};
    nextPiEnd_ = NextMatch{};
    quoteGt_ = QuoteScan{};
    quotePiEnd_ = QuoteScan{};
}

bool HTMLReader::readFromString(const std::string& text) {
    // The copy stops at the first NUL; the buffer keeps the full length, zero-filled.
    buffer_.reset(new char[text.size() + 1]);
    const size_t n = std::strlen(text.c_str());
    std::memcpy(buffer_.get(), text.c_str(), n);
    std::memset(buffer_.get() + n, 0, text.size() + 1 - n);
    startText(text.size());
    return parseDocument();
}

bool HTMLReader::readFile(std::string path) {
    kiv::FileByteSource src(path);
    if (!src.isOpen()) return false;
    return readFile(src);
}

bool HTMLReader::readFile(const kiv::ByteSource& src) {
    const uint64_t limit = std::min<uint64_t>(src.size(), kiv::limits::kMarkupReadCap);

    // Markup starts with '<' after an optional byte order mark and blanks. Look at that byte
    // before reading the file whole, so that media and other binaries cost one small read.
    uint64_t pos = 0;
    kiv::ByteView head = src.head(sizeof kUtf8Bom);
    if (head.startsWith(kUtf8Bom, sizeof kUtf8Bom)) pos = sizeof kUtf8Bom;
    int first = -1;
    std::vector<uint8_t> chunk(std::min<uint64_t>(64 * 1024, limit));
    while (pos < limit && first < 0) {
        size_t want = static_cast<size_t>(std::min<uint64_t>(chunk.size(), limit - pos));
        size_t got = src.readAt(pos, chunk.data(), want);
        if (got == 0) return false;
        for (size_t i = 0; i < got; ++i) {
            if (!kiv::isAsciiSpace(chunk[i])) {
                first = chunk[i];
                break;
            }
        }
        pos += got;
    }
    if (first != '<') return false;

    // Read straight into the walk's buffer: a large markup file is held once, not twice.
    const size_t n = static_cast<size_t>(limit);
    buffer_.reset(new char[n + 1]);
    if (src.readAt(0, buffer_.get(), n) != n) {
        buffer_.reset();
        size_ = 0;
        return false;
    }
    buffer_[n] = '\0';
    startText(n);
    return parseDocument();
}

bool HTMLReader::isHTMLXMLBased() {
    if (!buffer_ || size_ == 0) return false;
    const char* buf = buffer_.get();
    if (pos_ == 0 && size_ >= 5 && std::memcmp(buf, "{\\rtf", 5) == 0) return false;
    if (pos_ == 0 && size_ >= sizeof kUtf8Bom && std::memcmp(buf, kUtf8Bom, sizeof kUtf8Bom) == 0)
        pos_ = sizeof kUtf8Bom;

    unsigned long lt = HTMLTag::searchInBinary(buf, size_, "<", 1);
    if (lt == kNotFound || lt < pos_) return false;
    for (uint64_t i = pos_; i < lt; ++i) {
        if (!kiv::isAsciiSpace(static_cast<unsigned char>(buf[i]))) return false;
    }

    uint64_t saved = pos_;
    pos_ = lt;
    HTMLTag tag;
    bool opening = false, closing = false, inScript = false;
    if (!parseTag(tag, opening, closing, inScript)) return false;
    pos_ = saved;
    return true;
}

inline uint64_t HTMLReader::commentEnd(uint64_t at) const {
    if (at > size_ || size_ - at < 4 || std::memcmp(buffer_.get() + at, "<!--", 4) != 0) return kNotFound;
    // The search starts at the '<', so "<!-->" is a whole comment.
    unsigned long k = HTMLTag::searchInBinary(buffer_.get() + at, size_ - at, "-->", 3);
    return k == kNotFound ? size_ : at + k;
}

inline bool HTMLReader::nearTagEnd(uint64_t from, uint64_t& endAt, bool& refused) const {
    // The bytes before from (the '<', a '/' and the name) hold no '>', quote or byte of 0x80 or
    // above, so the scan can start there with the quote state of the '<'.
    const char* buf = buffer_.get();
    const uint64_t stop = std::min(size_, from + kNearScan);
    bool quoted = false, high = false;
    for (uint64_t q = from; q < stop; ++q) {
        const unsigned char c = static_cast<unsigned char>(buf[q]);
        if (c == '>') {
            endAt = q;
            refused = high;
            return true;
        }
        if (c == '"')
            quoted = !quoted;
        else if (c >= 0x80 && !quoted)
            high = true;
    }
    return false;
}

// Inlined into the walk, which calls it once per '<' of the text.
[[gnu::always_inline]] inline HTMLReader::TagRead HTMLReader::readTag(uint64_t at, bool inScript, TagView& tag) {
    if (at >= size_) return TagRead::NoTag;
    const char* buf = buffer_.get();
    if (!scanTagName(buf + at, inScript, tag.name, tag.closing)) return TagRead::NoTag;
    if (kiv::equalsIgnoringAsciiCase(tag.name, "?php")) return TagRead::Php;

    // A bare "<?" instruction ends at "?>"; every other tag at the first '>', quoted or not.
    // Bytes of 0x80 or above are accepted inside double quotes only.
    const bool instruction = tag.name.size() == 1 && tag.name[0] == '?';
    const uint64_t nameEnd = static_cast<uint64_t>(tag.name.data() + tag.name.size() - buf);
    uint64_t endAt = kNotFound;
    bool refused = false;
    if (instruction || nextGt_.covers(at) || !nearTagEnd(nameEnd, endAt, refused)) {
        endAt = instruction ? findFrom(nextPiEnd_, at, "?>", 2) : findFrom(nextGt_, at, ">", 1);
        if (endAt == kNotFound) return TagRead::NoEnd;
        refused = refusedBeforeEnd(instruction ? quotePiEnd_ : quoteGt_, at, endAt);
    }
    if (refused) return TagRead::Refused;

    tag.elementLen = endAt - at;
    tag.fullTag = std::string_view(buf + at + 1, static_cast<size_t>(tag.elementLen - 1));
    tag.endAt = endAt;
    return TagRead::Tag;
}

bool HTMLReader::parseDocument() {
    if (!buffer_ || size_ == 0) return false;
    resetSeekPointer();
    if (!isHTMLXMLBased()) return false;

    const char* const buf = buffer_.get();
    const uint64_t size = size_;
    bool inScript = false;
    for (uint64_t pos = 0; pos < size;) {
        // Only a '<' starts a comment or a tag; every other byte is passed over.
        const uint64_t near = std::min(size, pos + kNearScan);
        while (pos < near && buf[pos] != '<') ++pos;
        if (pos == near) {
            const void* lt = std::memchr(buf + pos, '<', static_cast<size_t>(size - pos));
            if (lt == nullptr) break;
            pos = static_cast<uint64_t>(static_cast<const char*>(lt) - buf);
        }
        // The text ends in a NUL, so a '<' is never its last byte.
        if (buf[pos + 1] == '!') {
            const uint64_t next = commentEnd(pos);
            if (next != kNotFound) {
                pos = next + 1;
                continue;
            }
        }
        TagView tag;
        const TagRead read = readTag(pos, inScript, tag);
        // Server-side script and Office's XML processing instruction are not plain markup.
        if (read == TagRead::Php) return false;
        if (read == TagRead::NoEnd) break;
        if (read != TagRead::Tag) {
            ++pos;
            continue;
        }
        const std::string_view name = tag.name;
        bool collect = !name.empty() && !isLinkName(name);
        if (!name.empty() && name[0] == '?') {
            if (kiv::equalsIgnoringAsciiCase(name, "?mso-application")) return false;
            if (name.size() == 1) {
                if (tag.elementLen > 2) return false;
                collect = false;
            }
        }
        if (collect) collectTag(name, tag.fullTag);
        if (kiv::equalsIgnoringAsciiCase(name, "script")) {
            if (!tag.closing && !inScript) inScript = true;
            if (tag.closing && inScript) inScript = false;
        }
        // The character that ends the tag is passed over as an ordinary byte.
        pos = tag.endAt + 1;
    }
    pos_ = size_;
    return true;
}

bool HTMLReader::parseComment(std::string&) {
    const uint64_t next = commentEnd(pos_);
    if (next == kNotFound) return false;
    pos_ = next;
    return true;
}

bool HTMLReader::NextMatch::covers(uint64_t pos) const {
    // A match found from an earlier position is still the first one if it lies ahead.
    return valid && from <= pos && (at == kNotFound || at >= pos);
}

uint64_t HTMLReader::findFrom(NextMatch& cache, uint64_t at, const char* needle, size_t n) {
    if (cache.covers(at)) return cache.at;
    unsigned long k = HTMLTag::searchInBinary(buffer_.get() + at, size_ - at, needle, n);
    cache.valid = true;
    cache.from = at;
    cache.at = k == kNotFound ? kNotFound : at + k;
    return cache.at;
}

bool HTMLReader::refusedBeforeEnd(QuoteScan& scan, uint64_t at, uint64_t end) {
    const char* buf = buffer_.get();
    if (!(scan.valid && scan.end == end && scan.cursor <= at)) {
        // One forward pass serves every '<' between here and end.
        scan = QuoteScan{};
        scan.valid = true;
        scan.end = end;
        scan.cursor = at;
        bool parity = false;
        for (uint64_t q = at; q < end; ++q) {
            const unsigned char c = static_cast<unsigned char>(buf[q]);
            if (c == '"')
                parity = !parity;
            else if (c >= 0x80)
                scan.highEnd[parity] = q + 1;
        }
    }
    for (; scan.cursor < at; ++scan.cursor)
        if (buf[scan.cursor] == '"') scan.parity = !scan.parity;
    return scan.highEnd[scan.parity] > at;
}


bool HTMLReader::parseTag(HTMLTag& tag, bool& opening, bool& closing, bool& inScript) {
    if (pos_ >= size_) return false;
    if (!tag.parseFromStr(buffer_.get() + pos_, opening, closing, inScript, true)) return false;
    TagView view;
    switch (readTag(pos_, inScript, view)) {
        case TagRead::Php: return true;
        case TagRead::Tag:
            tag.setFullTag(std::string(view.fullTag));
            tag.setElementLen(static_cast<unsigned long>(view.elementLen));
            pos_ = view.endAt;
            return true;
        case TagRead::NoEnd: pos_ = size_; return false;
        default: return false;
    }
}

void HTMLReader::collectTag(std::string_view name, std::string_view fullTag) {
    tags_.emplace_back(name);
    fullTags_.emplace_back(fullTag);
}
