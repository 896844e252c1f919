#include "formats/text/HTMLReader.h"

#include <algorithm>
#include <cstring>

#include "engine/ByteSource.h"
#include "engine/ByteUtils.h"
#include "engine/Limits.h"

namespace {

constexpr unsigned long kNotFound = ~0UL;
constexpr unsigned char kUtf8Bom[3] = {0xEF, 0xBB, 0xBF};

bool isNameChar(unsigned char c) {
    return kiv::isAsciiAlnum(c) || c == '-' || c == ':' || c == '_' || c == '.' || c == '?' || c == '!';
}

// Angle-bracketed links ("<http://host/>") read like tags but name no element.
bool isLinkName(const std::string& lc) {
    return lc == "http:" || lc == "https:" || lc == "ftp:" || lc == "file:";
}

}  // namespace

// ---- HTMLTag ----

bool HTMLTag::isValidCharacter(const char* c) { return static_cast<unsigned char>(*c) < 0x80; }

unsigned long HTMLTag::searchInBinary(const char* data, unsigned long dataLen, const char* pattern,
                                      unsigned long patternLen) {
    if (patternLen == 0) return 0;
    if (data == nullptr || pattern == nullptr || patternLen > dataLen) return kNotFound;
    // memchr to each candidate first byte, then a compare: the walk calls this from every tag
    // over the whole rest of the text, and memchr stops at the match (the sanitizer's memmem
    // checks the whole haystack on every call, which made the walk quadratic there).
    const unsigned long last = dataLen - patternLen;  // the last offset a match can start at
    for (unsigned long from = 0; from <= last;) {
        const void* hit = std::memchr(data + from, pattern[0], last - from + 1);
        if (hit == nullptr) return kNotFound;
        const unsigned long at = static_cast<unsigned long>(static_cast<const char*>(hit) - data);
        if (patternLen == 1 || std::memcmp(data + at + 1, pattern + 1, patternLen - 1) == 0) return at;
        from = at + 1;
    }
    return kNotFound;
}

bool HTMLTag::parseFromStr(const char* text, bool& opening, bool& closing, bool& inScript, bool) {
    tagStart_ = text;
    bool isClosing = false;
    if (text[0] != '<') return false;
    const unsigned char c = static_cast<unsigned char>(text[1]);
    if (c >= 0x80 || c == '>') return false;

    const char* name = text + 1;
    if (!kiv::isAsciiAlpha(c)) {
        if (c == '/') {
            isClosing = true;
            name = text + 2;
        } else if (c != '?' && c != '!') {
            return false;  // '?' and '!' stay part of the name ("?xml", "!DOCTYPE")
        }
    }
    const char* end = name;
    while (isNameChar(static_cast<unsigned char>(*end))) ++end;

    const unsigned char after = static_cast<unsigned char>(*end);
    bool accepted = after >= 0x80 || after == 0 || kiv::isAsciiSpace(after) || after == '>' || after == '=' ||
                    (after == '/' && !isClosing);
    if (!accepted) return false;

    std::string tagName(name, static_cast<size_t>(end - name));
    // Inside a script only its own end may start a tag, so "a<b" in code yields nothing.
    if (inScript && !isClosing && tagName != "script") return false;

    closing = isClosing;
    opening = !isClosing;
    tagName_ = std::move(tagName);
    tagEnd_ = end;
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
    buffer_.assign(text.size() + 1, '\0');
    std::memcpy(buffer_.data(), text.c_str(), std::strlen(text.c_str()));
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
    buffer_.assign(n + 1, '\0');
    if (src.readAt(0, buffer_.data(), n) != n) {
        buffer_.clear();
        size_ = 0;
        return false;
    }
    startText(n);
    return parseDocument();
}

bool HTMLReader::isHTMLXMLBased() {
    if (buffer_.empty() || size_ == 0) return false;
    const char* buf = buffer_.data();
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

bool HTMLReader::parseDocument() {
    if (buffer_.empty() || size_ == 0) return false;
    resetSeekPointer();
    if (!isHTMLXMLBased()) return false;

    bool inScript = false;
    while (pos_ < size_) {
        const unsigned char c = static_cast<unsigned char>(buffer_[pos_]);
        if (c != '<') {
            ++pos_;
            continue;
        }
        std::string comment;
        if (parseComment(comment)) {
            ++pos_;
            continue;
        }
        bool opening = false, closing = false;
        HTMLTag tag;
        if (!parseTag(tag, opening, closing, inScript)) {
            ++pos_;
            continue;
        }
        const std::string name = tag.getTagName();
        const std::string lc = kiv::asciiLowerCopy(name);
        // Server-side script and Office's XML processing instruction are not plain markup.
        if (lc == "?php" || lc == "?mso-application") return false;
        if (lc == "?") {
            if (tag.getElementLen() > 2) return false;
        } else if (!lc.empty() && !isLinkName(lc)) {
            collectTag(name, tag.getFullTag());
        }
        if (opening && !inScript && lc == "script") inScript = true;
        if (closing && inScript && lc == "script") inScript = false;
        // The position stands on the tag's last character, passed over as an ordinary byte.
    }
    return true;
}

bool HTMLReader::parseComment(std::string&) {
    if (pos_ > size_ || size_ - pos_ < 4 || std::memcmp(buffer_.data() + pos_, "<!--", 4) != 0) return false;
    // The search starts at the '<', so "<!-->" is a whole comment.
    unsigned long k = HTMLTag::searchInBinary(buffer_.data() + pos_, size_ - pos_, "-->", 3);
    pos_ = k == kNotFound ? size_ : pos_ + k;
    return true;
}

uint64_t HTMLReader::findFrom(NextMatch& cache, const char* needle, size_t n) {
    // A match found from an earlier position is still the first one if it lies ahead.
    if (cache.valid && cache.from <= pos_ && (cache.at == kNotFound || cache.at >= pos_)) return cache.at;
    unsigned long k = HTMLTag::searchInBinary(buffer_.data() + pos_, size_ - pos_, needle, n);
    cache.valid = true;
    cache.from = pos_;
    cache.at = k == kNotFound ? kNotFound : pos_ + k;
    return cache.at;
}

bool HTMLReader::refusedBeforeEnd(QuoteScan& scan, uint64_t end) {
    if (!(scan.valid && scan.end == end && scan.lo <= pos_)) {
        // One backward pass serves every '<' between here and end.
        scan.valid = true;
        scan.lo = pos_;
        scan.end = end;
        scan.refused.assign(static_cast<size_t>(end - pos_), false);
        bool outside = false, inside = false;  // answer from the next position, per quote state
        for (uint64_t q = end; q-- > pos_;) {
            const unsigned char c = static_cast<unsigned char>(buffer_[q]);
            if (c == '"')
                std::swap(outside, inside);
            else if (c >= 0x80)
                outside = true;
            scan.refused[static_cast<size_t>(q - scan.lo)] = outside;
        }
    }
    return scan.refused[static_cast<size_t>(pos_ - scan.lo)];
}

bool HTMLReader::parseTag(HTMLTag& tag, bool& opening, bool& closing, bool& inScript) {
    if (pos_ >= size_) return false;
    if (!tag.parseFromStr(buffer_.data() + pos_, opening, closing, inScript, true)) return false;
    const std::string lc = kiv::asciiLowerCopy(tag.getTagName());
    if (lc == "?php") return true;

    // A bare "<?" instruction ends at "?>"; every other tag at the first '>', quoted or not.
    const bool instruction = lc == "?";
    uint64_t endAt = instruction ? findFrom(nextPiEnd_, "?>", 2) : findFrom(nextGt_, ">", 1);
    if (endAt == kNotFound) {
        pos_ = size_;
        return false;
    }
    // Bytes of 0x80 or above are accepted inside double quotes only.
    if (refusedBeforeEnd(instruction ? quotePiEnd_ : quoteGt_, endAt)) return false;

    const uint64_t end = endAt - pos_;
    tag.setFullTag(std::string(buffer_.data() + pos_ + 1, static_cast<size_t>(end - 1)));
    tag.setElementLen(static_cast<unsigned long>(end));
    pos_ = endAt;
    return true;
}

void HTMLReader::collectTag(const std::string& name, const std::string& fullTag) {
    tags_.push_back(name);
    fullTags_.push_back(fullTag);
}
