#include "formats/text/HTMLReader.h"

#include <algorithm>
#include <cstring>

#include "core/ByteSource.h"
#include "core/ByteUtils.h"
#include "core/Limits.h"

namespace {

constexpr unsigned long kNotFound = ~0UL;
// What the walk searches for: a tag's start, a comment's end, an instruction's end, a tag's end.
constexpr kiv::Needle kLt("<", 1), kCommentEnd("-->", 3), kPiEnd("?>", 2), kGt(">", 1);
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

// Angle-bracketed links ("<http://host/>") read like tags but name no element (name not empty).
bool isLinkName(std::string_view name) {
    if (name.back() != ':') return false;
    return kiv::equalsIgnoringAsciiCase(name, "http:") || kiv::equalsIgnoringAsciiCase(name, "https:") ||
           kiv::equalsIgnoringAsciiCase(name, "ftp:") || kiv::equalsIgnoringAsciiCase(name, "file:");
}

enum class NameScan { Refused, Name, NeedMore };

// Reads the name of the tag whose '<' is at text without a copy: the view of its name as
// written, and whether it closes. The text is NUL-terminated; a name that runs up to stop (the
// end of a window of the text, where a NUL stands) needs the bytes after it.
inline NameScan scanTagName(const char* text, const char* stop, bool inScript, std::string_view& nameOut,
                            bool& closing) {
    const auto& cls = kNameClasses.of;
    if (text[0] != '<') return NameScan::Refused;
    const unsigned char c = static_cast<unsigned char>(text[1]);
    // '?' and '!' stay part of the name ("?xml", "!DOCTYPE").
    const bool isClosing = c == '/';
    if (!isClosing && !(cls[c] & kNameStart)) return NameScan::Refused;
    const char* name = isClosing ? text + 2 : text + 1;
    const char* end = name;
    while (cls[static_cast<unsigned char>(*end)] & kNameByte) ++end;
    if (end == stop) return NameScan::NeedMore;

    const unsigned char after = static_cast<unsigned char>(*end);
    if (!(cls[after] & kNameEnd) && !(after == '/' && !isClosing)) return NameScan::Refused;

    const std::string_view tagName(name, static_cast<size_t>(end - name));
    // Inside a script only its own end may start a tag, so "a<b" in code yields nothing.
    if (inScript && !isClosing && tagName != "script") return NameScan::Refused;

    nameOut = tagName;
    closing = isClosing;
    return NameScan::Name;
}

}  // namespace

// ---- HTMLTag ----

bool HTMLTag::isValidCharacter(const char* c) { return static_cast<unsigned char>(*c) < 0x80; }

unsigned long HTMLTag::searchInBinary(const char* data, unsigned long dataLen, const char* pattern,
                                      unsigned long patternLen) {
    if (patternLen == 0) return 0;
    if (data == nullptr || pattern == nullptr || patternLen > dataLen) return kNotFound;
    const size_t at = kiv::findBytes(data, dataLen, pattern, patternLen);
    return at == SIZE_MAX ? kNotFound : static_cast<unsigned long>(at);
}

bool HTMLTag::parseFromStr(const char* text, bool& opening, bool& closing, bool& inScript, bool) {
    tagStart_ = text;
    std::string_view name;
    bool isClosing = false;
    if (scanTagName(text, nullptr, inScript, name, isClosing) != NameScan::Name) return false;
    closing = isClosing;
    opening = !isClosing;
    tagName_.assign(name.data(), name.size());
    tagEnd_ = name.data() + name.size();
    return true;
}

// ---- HTMLReader ----

void HTMLReader::startText(const kiv::ByteSource& text, uint64_t n) {
    size_ = n + 1;
    pos_ = 0;
    winStart_ = 0;
    winEnd_ = 0;
    firstTag_ = 0;
    readFailed_ = false;
    nextGt_ = NextMatch{};
    nextPiEnd_ = NextMatch{};
    quoteGt_ = QuoteScan{};
    quotePiEnd_ = QuoteScan{};
    in_.emplace(text, window_, n);
    held(0);
}

bool HTMLReader::readFromString(const std::string& text) {
    // The copy stops at the first NUL; the text keeps the full length, zero-filled.
    std::vector<uint8_t> bytes(text.size(), 0);
    const char* const copied = text.c_str();
    std::copy(copied, copied + std::strlen(copied), bytes.begin());
    copy_ = std::make_unique<kiv::MemoryByteSource>(std::move(bytes));
    capacity_ = text.size() + 1;
    startText(*copy_, text.size());
    extend(0);
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
    // before reading on, so that media and other binaries cost one small read.
    uint64_t pos = 0;
    kiv::ByteView head = src.head(kiv::kUtf8Bom.size());
    if (head.startsWith(kiv::kUtf8Bom.data(), kiv::kUtf8Bom.size())) pos = kiv::kUtf8Bom.size();
    int first = -1;
    kiv::WindowReader probe(src, kiv::limits::kReadWindow, limit);
    probe.walk(pos, limit, 0, kiv::WindowReader::npos, [&](const uint8_t* p, size_t n, uint64_t) {
        for (size_t i = 0; i < n; ++i) {
            if (!kiv::isAsciiSpace(p[i])) {
                first = p[i];
                return false;
            }
        }
        return true;
    });
    if (first != '<') return false;

    // The walk reads the text window by window: a large file costs one window (or its longest
    // tag), not its size.
    copy_.reset();
    capacity_ = static_cast<size_t>(std::min<uint64_t>(std::max<size_t>(window_, 1), limit + 1));
    startText(src, limit);
    extend(0);
    bool markup = parseDocument();
    // A text that cannot be read whole is not markup, and nothing of it is listed.
    if (readFailed_) {
        markup = false;
        tags_.clear();
        fullTags_.clear();
    }
    // The source is the caller's: nothing that reads it is kept.
    in_.reset();
    base_ = nullptr;
    capacity_ = 0;
    size_ = 0;
    winStart_ = winEnd_ = 0;
    return markup;
}

void HTMLReader::held(uint64_t keepFrom) {
    size_t avail = 0;
    base_ = reinterpret_cast<const char*>(in_->held(keepFrom, avail));
    winStart_ = keepFrom;
    winEnd_ = keepFrom + avail;
    if (winEnd_ == size_ - 1) ++winEnd_;  // the text's own NUL
}

void HTMLReader::endTextAtWindow() {
    readFailed_ = true;
    size_ = winEnd_ + 1;
    ++winEnd_;
}

void HTMLReader::beforeRead(uint64_t keepFrom) {
    flushTags();
    for (QuoteScan* scan : {&quoteGt_, &quotePiEnd_}) {
        if (!scan->valid || scan->cursor >= keepFrom) continue;
        if (keepFrom > scan->end) {
            scan->valid = false;
            continue;
        }
        for (; scan->cursor < keepFrom; ++scan->cursor)
            if (*at(scan->cursor) == '"') scan->parity = !scan->parity;
    }
}

bool HTMLReader::extend(uint64_t keepFrom) {
    if (!in_ || winEnd_ >= size_) return false;
    beforeRead(keepFrom);
    // A tag (or comment) that fills the room: twice the room, up to the rest of the text.
    const uint64_t keep = winEnd_ - keepFrom;
    if (keep >= capacity_) capacity_ = static_cast<size_t>(std::min<uint64_t>(2 * keep, size_ - keepFrom));
    const uint64_t textEnd = size_ - 1;  // where the terminating NUL stands
    const size_t want = static_cast<size_t>(std::min<uint64_t>(capacity_, textEnd - keepFrom));
    size_t got = 0;
    in_->view(keepFrom, want, got);
    held(keepFrom);
    if (got != want) endTextAtWindow();
    return true;
}

uint64_t HTMLReader::findOn(uint64_t pos, uint64_t keepFrom, const kiv::Needle& needle) {
    if (!in_ || winEnd_ >= size_) return kNotFound;
    // The window layer reads on, keeping the bytes from keepFrom; a match may straddle the end
    // of what was searched.
    beforeRead(keepFrom);
    const uint64_t from = std::max(pos, winEnd_ - std::min<uint64_t>(winEnd_, needle.size - 1));
    const uint64_t found = in_->find(needle, from, size_ - 1, keepFrom);
    held(keepFrom);
    if (found == kiv::WindowReader::npos && winEnd_ < size_) endTextAtWindow();
    return found == kiv::WindowReader::npos ? kNotFound : found;
}

bool HTMLReader::isHTMLXMLBased() {
    if (!in_ || size_ == 0 || winStart_ != 0) return false;
    reach(0, 5);
    if (pos_ == 0 && winEnd_ >= 5 && std::memcmp(at(0), "{\\rtf", 5) == 0) return false;
    const std::string_view bom = kiv::kUtf8Bom;
    if (pos_ == 0 && winEnd_ >= bom.size() && std::memcmp(at(0), bom.data(), bom.size()) == 0) pos_ = bom.size();

    const uint64_t lt = find(0, 0, kLt);
    if (lt == kNotFound || lt < pos_) return false;
    for (uint64_t i = pos_; i < lt; ++i) {
        if (!kiv::isAsciiSpace(static_cast<unsigned char>(*at(i)))) return false;
    }
    TagView tag{};
    reach(lt, kNearScan);
    const TagRead read = readTag(lt, false, tag);
    if (read != TagRead::Tag && read != TagRead::Php) return false;
    firstTag_ = lt;
    return true;
}

inline uint64_t HTMLReader::commentEnd(uint64_t pos) {
    if (pos < winStart_ || pos >= size_) return kNotFound;
    reach(pos, 4);
    if (winEnd_ - pos < 4 || std::memcmp(at(pos), "<!--", 4) != 0) return kNotFound;
    // The search starts at the '<', so "<!-->" is a whole comment.
    const uint64_t end = find(pos, pos, kCommentEnd);
    return end == kNotFound ? size_ : end;
}

// The first '>' from from, up to stop, and whether a byte of 0x80 or above lies outside quotes
// before it; null when none is there. The bytes before from (the '<', a '/' and the name) hold
// no '>', quote or such byte, so the scan starts with the quote state of the '<'.
inline const char* nearTagEnd(const char* from, const char* stop, bool& refused) {
    bool quoted = false, high = false;
    for (const char* q = from; q < stop; ++q) {
        const unsigned char c = static_cast<unsigned char>(*q);
        if (c == '>') {
            refused = high;
            return q;
        }
        if (c == '"')
            quoted = !quoted;
        else if (c >= 0x80 && !quoted)
            high = true;
    }
    return nullptr;
}

// Inlined into the walk, which calls it once per '<' of the text.
[[gnu::always_inline]] inline HTMLReader::TagRead HTMLReader::readTag(uint64_t pos, bool inScript, TagView& tag) {
    const char* p = at(pos);
    for (;;) {
        const NameScan scan = scanTagName(p, at(winEnd_), inScript, tag.name, tag.closing);
        if (scan == NameScan::Refused) return TagRead::NoTag;
        if (scan == NameScan::Name) break;
        // A name that runs past the window; the text's own NUL ends every name before its end.
        if (!extend(pos)) return TagRead::NoTag;
        p = at(pos);
    }
    if (kiv::equalsIgnoringAsciiCase(tag.name, "?php")) return TagRead::Php;

    // A bare "<?" instruction ends at "?>"; every other tag at the first '>', quoted or not.
    // Bytes of 0x80 or above are accepted inside double quotes only.
    const bool instruction = tag.name.size() == 1 && tag.name[0] == '?';
    const size_t nameEnd = static_cast<size_t>(tag.name.data() + tag.name.size() - p);
    uint64_t endAt = kNotFound;
    bool refused = false;
    const char* near = nullptr;
    if (!instruction && !nextGt_.covers(pos))
        near = nearTagEnd(p + nameEnd, at(std::min(winEnd_, pos + nameEnd + kNearScan)), refused);
    if (near != nullptr) {
        endAt = pos + static_cast<uint64_t>(near - p);
    } else {
        endAt = instruction ? findFrom(nextPiEnd_, pos, kPiEnd) : findFrom(nextGt_, pos, kGt);
        if (endAt == kNotFound) return TagRead::NoEnd;
        refused = refusedBeforeEnd(instruction ? quotePiEnd_ : quoteGt_, pos, endAt);
        // The search kept the bytes from the '<' on, so the views see the whole tag.
        p = at(pos);
        tag.name = std::string_view(p + nameEnd - tag.name.size(), tag.name.size());
    }
    if (refused) return TagRead::Refused;

    tag.elementLen = endAt - pos;
    tag.fullTag = std::string_view(p + 1, static_cast<size_t>(tag.elementLen - 1));
    tag.endAt = endAt;
    return TagRead::Tag;
}

// The usual tag, read in place: a name that starts with a letter (a closing tag's with any
// name byte but '?' and '!'), then a '>' within the resident run and no byte of 0x80 or above
// outside quotes before it. It answers what readTag would, without readTag's handling of names
// that run past the window, distant ends, instructions and scripts (which it leaves to readTag).
[[gnu::always_inline]] inline bool HTMLReader::readNearTag(uint64_t pos, TagView& tag) const {
    if (winEnd_ - pos <= kNearScan) return false;
    const auto& cls = kNameClasses.of;
    const char* const p = at(pos);
    const bool closing = p[1] == '/';
    const char* const name = p + 1 + (closing ? 1 : 0);
    const unsigned char first = static_cast<unsigned char>(name[0]);
    if (!(cls[first] & kNameByte) || first == '?' || first == '!') return false;
    if (!closing && !(cls[first] & kNameStart)) return false;
    const char* const stop = p + kNearScan;
    const char* end = name + 1;
    while (end < stop && (cls[static_cast<unsigned char>(*end)] & kNameByte)) ++end;
    const unsigned char after = static_cast<unsigned char>(*end);
    if (!(cls[after] & kNameEnd) && !(after == '/' && !closing)) return false;
    bool refused = false;
    const char* const gt = nearTagEnd(end, stop, refused);
    if (gt == nullptr || refused) return false;
    tag.name = std::string_view(name, static_cast<size_t>(end - name));
    tag.closing = closing;
    tag.elementLen = static_cast<uint64_t>(gt - p);
    tag.fullTag = std::string_view(p + 1, static_cast<size_t>(tag.elementLen - 1));
    tag.endAt = pos + tag.elementLen;
    return true;
}

bool HTMLReader::parseDocument() {
    if (!in_ || size_ == 0) return false;
    resetSeekPointer();
    if (!isHTMLXMLBased()) return false;

    bool inScript = false;
    // The probe saw nothing but blanks before its tag.
    for (uint64_t pos = firstTag_; pos < size_;) {
        // Only a '<' starts a comment or a tag; every other byte is passed over.
        if (*at(pos) != '<') {
            const char* const from = at(pos);
            const char* p = from;
            const char* near = from + std::min<uint64_t>(winEnd_ - pos, kNearScan);
            while (p < near && *p != '<') ++p;
            if (p == near) p = static_cast<const char*>(std::memchr(p, '<', static_cast<size_t>(at(winEnd_) - p)));
            if (p == nullptr) {
                pos = winEnd_;
                if (!extend(pos)) break;
                continue;
            }
            pos += static_cast<uint64_t>(p - from);
        }
        TagView tag;
        if (inScript || !readNearTag(pos, tag)) {
            reach(pos, kNearScan);
            // The text ends in a NUL, so a '<' is never its last byte.
            if (at(pos)[1] == '!') {
                const uint64_t next = commentEnd(pos);
                if (next != kNotFound) {
                    pos = next + 1;
                    continue;
                }
            }
            const TagRead read = readTag(pos, inScript, tag);
            // Server-side script and Office's XML processing instruction are not plain markup.
            if (read == TagRead::Php) {
                flushTags();
                return false;
            }
            if (read == TagRead::NoEnd) break;
            if (read != TagRead::Tag) {
                ++pos;
                continue;
            }
        }
        const std::string_view name = tag.name;
        bool collect = !name.empty();
        if (collect && name[0] == '?') {
            if (kiv::equalsIgnoringAsciiCase(name, "?mso-application") || (name.size() == 1 && tag.elementLen > 2)) {
                flushTags();
                return false;
            }
            collect = name.size() > 1;
        }
        if (collect && !isLinkName(name)) {
            pendingTags_[pending_++] = {name, tag.fullTag};
            if (pending_ == kTagBatch) flushTags();
        }
        if (kiv::equalsIgnoringAsciiCase(name, "script")) {
            if (!tag.closing && !inScript) inScript = true;
            if (tag.closing && inScript) inScript = false;
        }
        // The character that ends the tag is passed over as an ordinary byte.
        pos = tag.endAt + 1;
    }
    flushTags();
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

uint64_t HTMLReader::findFrom(NextMatch& cache, uint64_t pos, const kiv::Needle& needle) {
    if (cache.covers(pos)) return cache.at;
    cache.valid = true;
    cache.from = pos;
    cache.at = find(pos, pos, needle);
    return cache.at;
}

bool HTMLReader::refusedBeforeEnd(QuoteScan& scan, uint64_t pos, uint64_t end) {
    if (!(scan.valid && scan.end == end && scan.cursor <= pos)) {
        // One forward pass serves every '<' between here and end.
        scan = QuoteScan{};
        scan.valid = true;
        scan.end = end;
        scan.cursor = pos;
        bool parity = false;
        for (uint64_t q = pos; q < end; ++q) {
            const unsigned char c = static_cast<unsigned char>(*at(q));
            if (c == '"')
                parity = !parity;
            else if (c >= 0x80)
                scan.highEnd[parity] = q + 1;
        }
    }
    for (; scan.cursor < pos; ++scan.cursor)
        if (*at(scan.cursor) == '"') scan.parity = !scan.parity;
    return scan.highEnd[scan.parity] > pos;
}

bool HTMLReader::parseTag(HTMLTag& tag, bool& opening, bool& closing, bool& inScript) {
    if (pos_ < winStart_ || pos_ >= size_) return false;
    TagView view{};
    reach(pos_, kNearScan);
    const TagRead read = readTag(pos_, inScript, view);
    // readTag made the name resident; the tag keeps it as parseFromStr reads it.
    if (!tag.parseFromStr(at(pos_), opening, closing, inScript, true)) return false;
    switch (read) {
        case TagRead::Php:
            return true;
        case TagRead::Tag:
            tag.setFullTag(std::string(view.fullTag));
            tag.setElementLen(static_cast<unsigned long>(view.elementLen));
            pos_ = view.endAt;
            return true;
        case TagRead::NoEnd:
            pos_ = size_;
            return false;
        default:
            return false;
    }
}

void HTMLReader::collectTags(const Collected* tags, size_t n) {
    for (size_t i = 0; i < n; ++i) {
        tags_.emplace_back(tags[i].name);
        fullTags_.emplace_back(tags[i].fullTag);
    }
}
