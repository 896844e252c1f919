// One bounded reader per scan: every detector reads the file through it, so the file is
// opened once and the head and tail windows that most probes look at are read once.
// Reads never go past size() and never throw; a short read is the normal answer at the
// end of the file or on an I/O error.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "core/Limits.h"

namespace kiv {

namespace detail {
// How common a byte is in the files the engine searches (text, markup, documents), rarest
// lowest.
struct ByteRanks {
    uint8_t of[256];
    constexpr ByteRanks() : of{} {
        for (int i = 0; i < 256; ++i) {
            const char c = static_cast<char>(i);
            uint8_t r = 10;                      // control bytes and bytes of 0x80 and above
            if (i >= 0x21 && i <= 0x7E) r = 50;  // punctuation
            if (i >= 'A' && i <= 'Z') r = 60;
            if (i >= '0' && i <= '9') r = 80;
            if (c == '-' || c == '/' || c == '.' || c == ',' || c == '(' || c == ')' || c == '<' || c == '=' ||
                c == '"' || c == ':' || c == ';' || c == '_')
                r = 100;
            if (c == '\t' || c == '\n' || c == '\r') r = 120;
            if (i >= 'a' && i <= 'z') r = 150;
            if (c == 'e' || c == 't' || c == 'a' || c == 'o' || c == 'i' || c == 'n' || c == 's' || c == 'r') r = 180;
            if (i == 0) r = 200;
            if (c == ' ') r = 255;
            of[i] = r;
        }
    }
};
inline constexpr ByteRanks kByteRanks;
}  // namespace detail

// A needle for the byte search, with the byte the search looks for first: the last of its
// rarest, by a fixed ranking of how common bytes are in text, markup and documents. A search
// that runs often keeps its needle (as a constant, so that the compiler sees its bytes).
struct Needle {
    constexpr Needle(const char* text, size_t n) : bytes(text), size(n), rare(n > 0 ? n - 1 : 0) {
        for (size_t i = rare; i-- > 0;) {
            if (rank(bytes[i]) < rank(bytes[rare])) rare = i;
        }
    }
    Needle(const void* p, size_t n) : Needle(static_cast<const char*>(p), n) {}
    uint8_t at(size_t i) const { return static_cast<uint8_t>(bytes[i]); }

    const char* bytes;
    size_t size;
    size_t rare;

private:
    static constexpr uint8_t rank(char c) { return detail::kByteRanks.of[static_cast<unsigned char>(c)]; }
};

// The one byte search: the first occurrence of needle in hay, as an offset; SIZE_MAX when
// absent; an empty needle is found at 0. It looks for the rare byte with memchr and compares
// the rest there, so it stops at the match and reads nothing beyond it (a sanitizer's memmem
// checks the whole haystack on every call, which made the tag walk quadratic there) and hops
// over text that holds the needle's common letters. Inline: the tag walk searches from every
// tag, and most of those searches end a few bytes on.
inline size_t findBytes(const void* hay, size_t size, const Needle& needle) {
    const size_t n = needle.size;
    if (n == 0) return 0;
    if (n > size) return SIZE_MAX;
    const auto* h = static_cast<const uint8_t*>(hay);
    const size_t k = needle.rare;
    const size_t stop = size - n + k + 1;  // the rare byte of a match lies below this
    for (size_t from = k; from < stop;) {
        const void* hit = std::memchr(h + from, needle.at(k), stop - from);
        if (hit == nullptr) return SIZE_MAX;
        const size_t at = static_cast<size_t>(static_cast<const uint8_t*>(hit) - h) - k;
        size_t same = 0;
        while (same < n && h[at + same] == needle.at(same)) ++same;
        if (same == n) return at;
        from = at + k + 1;
    }
    return SIZE_MAX;
}
size_t findBytes(const void* hay, size_t size, const void* needle, size_t n);
// The last occurrence of needle in hay; SIZE_MAX when absent; an empty needle is found at the end.
size_t rfindBytes(const void* hay, size_t size, const Needle& needle);
size_t rfindBytes(const void* hay, size_t size, const void* needle, size_t n);

// The first occurrence of needle in hay when ASCII letters match in either case (every other
// byte only itself); SIZE_MAX when absent; an empty needle is found at 0. One pass, eight places
// a word: it marks where the needle's two rarest bytes (a letter in either case) both fit and
// compares the rest only there, so neither a text without them nor one full of one of them
// costs a fold and a compare of every byte.
size_t findBytesIgnoringAsciiCase(const void* hay, size_t size, const void* needle, size_t n);

// A bounded view of bytes; accessors answer false/nullopt instead of reading past the end.
struct ByteView {
    const uint8_t* data = nullptr;
    size_t size = 0;

    bool has(size_t off, size_t n) const { return off <= size && n <= size - off; }
    const uint8_t* at(size_t off) const { return data + off; }
    // True when the bytes at off equal the n bytes of pattern.
    bool startsWithAt(size_t off, const void* pattern, size_t n) const;
    bool startsWith(const void* pattern, size_t n) const { return startsWithAt(0, pattern, n); }
    // First occurrence of needle at or after from; npos when absent.
    size_t find(const void* needle, size_t n, size_t from = 0) const;
    static constexpr size_t npos = static_cast<size_t>(-1);
};

// A fact that several readers of one scan need and that costs a walk over the file (where an
// archive's end record lies, what a walk over a whole document found). A reader defines one
// static key per fact; the type says what is kept.
template <class T>
struct MemoKey {};

// The facts of one scan, kept by key for as long as the source lives. It knows none of them.
class ScanMemo {
public:
    // The fact kept under key, value-initialised on first use.
    template <class T>
    T& get(const MemoKey<T>& key) {
        for (const Entry& e : entries_) {
            if (e.key == &key) return *static_cast<T*>(e.value.get());
        }
        entries_.push_back(Entry{&key, std::make_shared<T>()});
        return *static_cast<T*>(entries_.back().value.get());
    }

private:
    struct Entry {
        const void* key;
        std::shared_ptr<void> value;
    };
    std::vector<Entry> entries_;
};

class ByteSource {
public:
    virtual ~ByteSource() = default;

    // Number of readable bytes; 0 for anything that is not a regular file.
    uint64_t size() const { return size_; }
    // The open file the bytes come from, for readers that need a descriptor (libmagic, qpdf,
    // the matcher, 7za); -1 for in-memory sources.
    virtual int descriptor() const { return -1; }
    // Path the bytes came from; empty for in-memory sources. Probes that need an outside
    // program (7za) use it and answer "no" when it is empty.
    const std::string& path() const { return path_; }

    // Copies up to n bytes from off into dst and answers how many were copied.
    size_t readAt(uint64_t off, void* dst, size_t n) const;
    // Reads up to n bytes at off into a fresh vector (shorter at end of file).
    std::vector<uint8_t> read(uint64_t off, size_t n) const;

    // The first min(n, size) bytes; cached, so repeated calls cost nothing. A view stays valid
    // until a longer head is asked for (the cache is then read again into a larger buffer).
    ByteView head(size_t n) const;
    // The last min(n, size) bytes; cached. A view stays valid until a longer tail is asked for.
    ByteView tail(size_t n) const;

    // What the readers of this scan found out about the file; it lives as long as the source.
    ScanMemo& memo() const { return memo_; }

protected:
    ByteSource() = default;
    virtual size_t doRead(uint64_t off, void* dst, size_t n) const = 0;

    uint64_t size_ = 0;
    std::string path_;

private:
    mutable std::vector<uint8_t> head_;
    mutable std::vector<uint8_t> tail_;
    mutable bool headFull_ = false;  // head_ holds the whole file
    mutable ScanMemo memo_;
};

// The read-ahead layer under every walk over a source: one buffer holding a window of its
// bytes. A record inside the window costs a copy at most, and moving past it one read of the
// bytes not yet held; bytes held from the requested offset on are kept, so a long tag or line
// grows the window instead of being read again. The answers are those of ByteSource::readAt.
class WindowReader {
public:
    // Reads at most up to end (the source's size when larger).
    explicit WindowReader(const ByteSource& src, size_t window = limits::kReadWindow, uint64_t end = UINT64_MAX);

    // Where the walk's bytes end.
    uint64_t end() const { return end_; }

    // The bytes from off: got says how many of the n asked for the source holds (fewer only
    // at the end, or where the source reads short). The pointer stays valid until the next
    // call that reads. A zero byte always follows the bytes the window holds.
    const uint8_t* view(uint64_t off, size_t n, size_t& got) {
        if (off >= start_ && off - start_ <= have_ && n <= have_ - (off - start_) && n > 0) {
            got = n;
            return buf_.data() + (off - start_);
        }
        return refill(off, n, got);
    }
    // The bytes from off that the window holds already, without reading: avail of them, 0
    // (and the zero byte) when off lies outside the window.
    const uint8_t* held(uint64_t off, size_t& avail) const {
        const bool inside = off >= start_ && off - start_ <= have_;
        avail = inside ? have_ - static_cast<size_t>(off - start_) : 0;
        return buf_.data() + (inside ? static_cast<size_t>(off - start_) : have_);
    }
    // As readAt, with the missing bytes of a short read zero-filled.
    size_t readZ(uint64_t off, void* dst, size_t n);

    static constexpr uint64_t npos = static_cast<uint64_t>(-1);

    // Hands [from, to) to visit(bytes, count, offset) a window at a time, until visit answers
    // false, the end, or a short read. Windows overlap by overlap bytes, so that a pattern of
    // up to overlap + 1 bytes lies whole in one of them. Given keep (at most from), the bytes
    // from keep on stay in the window as the walk reads on, so that afterwards view(keep, ...)
    // costs no read; the window then grows by as much again as it keeps, not a window at a time.
    template <class Visit>
    void walk(uint64_t from, uint64_t to, size_t overlap, uint64_t keep, Visit&& visit) {
        to = to < end_ ? to : end_;
        for (uint64_t pos = from; pos < to;) {
            size_t avail = 0;
            const uint8_t* p = held(pos, avail);
            const size_t span = avail < to - pos ? avail : static_cast<size_t>(to - pos);
            if (span > 0 && !visit(p, span, pos)) return;
            const uint64_t searched = pos + span;
            if (searched >= to) return;
            const uint64_t next = searched - (span < overlap ? span : overlap);
            const uint64_t hold = keep == npos || keep > next ? next : keep;
            if (!readOn(hold, searched - hold, to, keep != npos, overlap)) return;
            pos = next;
        }
    }
    // The first occurrence of needle lying wholly in [from, to); npos when there is none before
    // to, the end, or a short read. keep as for walk.
    uint64_t find(const Needle& needle, uint64_t from, uint64_t to, uint64_t keep = npos);
    uint64_t find(const void* needle, size_t n, uint64_t from, uint64_t to, uint64_t keep = npos) {
        return find(Needle(needle, n), from, to, keep);
    }
    // The last occurrence of needle lying wholly in [from, to); npos when none.
    uint64_t rfind(const Needle& needle, uint64_t from, uint64_t to);
    uint64_t rfind(const void* needle, size_t n, uint64_t from, uint64_t to) {
        return rfind(Needle(needle, n), from, to);
    }

private:
    const uint8_t* refill(uint64_t off, size_t n, size_t& got);
    // Extends the window from hold, which keeps kept bytes, towards to; false when the source
    // gives nothing more.
    bool readOn(uint64_t hold, uint64_t kept, uint64_t to, bool growing, size_t overlap);

    const ByteSource& src_;
    size_t window_;
    uint64_t end_;
    std::vector<uint8_t> buf_;  // the window, then its zero byte
    uint64_t start_ = 0;
    size_t have_ = 0;
};

// Reads a file with pread. Opened with O_CLOEXEC (7za children must not inherit it) and
// O_NONBLOCK (a FIFO must never block a scan); only regular files have a non-zero size.
class FileByteSource : public ByteSource {
public:
    explicit FileByteSource(const std::string& path);
    ~FileByteSource() override;
    FileByteSource(const FileByteSource&) = delete;
    FileByteSource& operator=(const FileByteSource&) = delete;

    // False when the file could not be opened; such a source has size 0.
    bool isOpen() const { return fd_ >= 0; }
    // True when the open file is a regular file (an empty one included).
    bool isRegular() const { return regular_; }
    int descriptor() const override { return fd_; }

protected:
    size_t doRead(uint64_t off, void* dst, size_t n) const override;

private:
    int fd_ = -1;
    bool regular_ = false;
};

// Bytes held in memory: tests, fuzz targets, and archive members read to memory.
class MemoryByteSource : public ByteSource {
public:
    explicit MemoryByteSource(std::vector<uint8_t> bytes, std::string path = std::string());
    MemoryByteSource(const void* data, size_t n);

protected:
    size_t doRead(uint64_t off, void* dst, size_t n) const override;

private:
    std::vector<uint8_t> bytes_;
};

}  // namespace kiv
