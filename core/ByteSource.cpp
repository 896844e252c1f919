#include "core/ByteSource.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "core/Limits.h"

namespace kiv {

size_t findBytes(const void* hay, size_t size, const void* needle, size_t n) {
    return findBytes(hay, size, Needle(needle, n));
}

size_t rfindBytes(const void* hay, size_t size, const Needle& needle) {
    const size_t n = needle.size;
    if (n > size) return SIZE_MAX;
    if (n == 0) return size;
    const auto* h = static_cast<const uint8_t*>(hay);
    // From the top: the places of the rare byte, in the reverse order of the matches.
    const size_t k = needle.rare;
    for (size_t limit = size - n + k + 1; limit > k;) {
        const void* hit = memrchr(h + k, needle.at(k), limit - k);
        if (hit == nullptr) return SIZE_MAX;
        const size_t at = static_cast<size_t>(static_cast<const uint8_t*>(hit) - h) - k;
        if (std::memcmp(h + at, needle.bytes, n) == 0) return at;
        limit = at + k;
    }
    return SIZE_MAX;
}

size_t rfindBytes(const void* hay, size_t size, const void* needle, size_t n) {
    return rfindBytes(hay, size, Needle(needle, n));
}

namespace {

constexpr uint64_t kEachByte = 0x0101010101010101ull;
constexpr uint64_t kHighBits = 0x8080808080808080ull;
constexpr uint64_t kCaseBits = 0x2020202020202020ull;

constexpr uint8_t lowerAscii(uint8_t c) { return c >= 'A' && c <= 'Z' ? static_cast<uint8_t>(c + 32) : c; }

// Eight bytes from p, the first in the lowest bits.
uint64_t load8(const uint8_t* p) {
    uint64_t v;
    std::memcpy(&v, p, sizeof v);
#if __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
    v = __builtin_bswap64(v);
#endif
    return v;
}

// One byte of a case-blind needle as eight-byte lanes: a letter is compared with the case bit
// set on both sides (exact for letters: only its two cases give its lower case then), any
// other byte as it is.
struct Lane {
    uint64_t fold, want;
    explicit Lane(uint8_t c)
        : fold(lowerAscii(c) >= 'a' && lowerAscii(c) <= 'z' ? kCaseBits : 0), want(lowerAscii(c) * kEachByte) {}
    // 0x80 in each byte of the eight at p that is this byte in either case, and perhaps in a
    // byte after such a byte (a borrow); 0 where none of them is.
    uint64_t marks(const uint8_t* p) const {
        const uint64_t v = (load8(p) | fold) ^ want;
        return (v - kEachByte) & ~v & kHighBits;
    }
};

}  // namespace

size_t findBytesIgnoringAsciiCase(const void* hay, size_t size, const void* needle, size_t n) {
    if (n == 0) return 0;
    if (n > size) return SIZE_MAX;
    const auto* h = static_cast<const uint8_t*>(hay);
    const auto* w = static_cast<const uint8_t*>(needle);
    // The rarest byte and the rarest of the others, the last of equals (a needle of one byte
    // uses it twice); a letter ranks by its lower case, the more common of its two.
    auto rank = [&](size_t i) { return detail::kByteRanks.of[lowerAscii(w[i])]; };
    size_t k1 = n - 1;
    for (size_t i = k1; i-- > 0;) {
        if (rank(i) < rank(k1)) k1 = i;
    }
    size_t k2 = k1 == n - 1 ? (n > 1 ? n - 2 : k1) : n - 1;
    for (size_t i = n; i-- > 0;) {
        if (i != k1 && rank(i) < rank(k2)) k2 = i;
    }
    auto matchesAt = [&](size_t at) {
        for (size_t j = 0; j < n; ++j) {
            if (lowerAscii(h[at + j]) != lowerAscii(w[j])) return false;
        }
        return true;
    };
    // Eight places at a time: only those where both rare bytes fit are compared whole, so a
    // text full of one of them costs no more than one without.
    const Lane first(w[k1]), second(w[k2]);
    const size_t places = size - n + 1;
    size_t at = 0;
    for (; places - at >= 8; at += 8) {
        for (uint64_t hits = first.marks(h + at + k1) & second.marks(h + at + k2); hits != 0; hits &= hits - 1) {
            const size_t place = at + static_cast<size_t>(__builtin_ctzll(hits)) / 8;
            if (matchesAt(place)) return place;
        }
    }
    for (; at < places; ++at) {
        if (matchesAt(at)) return at;
    }
    return SIZE_MAX;
}

bool ByteView::startsWithAt(size_t off, const void* pattern, size_t n) const {
    return has(off, n) && (n == 0 || std::memcmp(data + off, pattern, n) == 0);
}

size_t ByteView::find(const void* needle, size_t n, size_t from) const {
    if (from > size || n > size - from) return npos;
    const size_t k = findBytes(data + from, size - from, needle, n);
    return k == SIZE_MAX ? npos : from + k;
}

size_t ByteSource::readAt(uint64_t off, void* dst, size_t n) const {
    if (off >= size_ || n == 0) return 0;
    uint64_t avail = size_ - off;
    if (n > avail) n = static_cast<size_t>(avail);
    // Serve from the cached windows when they cover the request.
    if (off + n <= head_.size()) {
        std::memcpy(dst, head_.data() + off, n);
        return n;
    }
    if (!tail_.empty() && off >= size_ - tail_.size()) {
        std::memcpy(dst, tail_.data() + (off - (size_ - tail_.size())), n);
        return n;
    }
    return doRead(off, dst, n);
}

std::vector<uint8_t> ByteSource::read(uint64_t off, size_t n) const {
    std::vector<uint8_t> out;
    if (off >= size_) return out;
    uint64_t avail = size_ - off;
    out.resize(static_cast<size_t>(std::min<uint64_t>(n, avail)));
    out.resize(readAt(off, out.data(), out.size()));
    return out;
}

ByteView ByteSource::head(size_t n) const {
    uint64_t want = std::min<uint64_t>(n, size_);
    if (head_.size() < want && !headFull_) {
        // Read at least a default window so that the many small head probes share one read.
        size_t target = static_cast<size_t>(std::max<uint64_t>(want, std::min<uint64_t>(limits::kHeadCache, size_)));
        size_t have = head_.size();
        head_.resize(target);
        size_t got = doRead(have, head_.data() + have, target - have);
        head_.resize(have + got);
        if (head_.size() < target) headFull_ = true;  // short read: nothing more to get
        if (head_.size() == size_) headFull_ = true;
    }
    return ByteView{head_.data(), static_cast<size_t>(std::min<uint64_t>(want, head_.size()))};
}

ByteView ByteSource::tail(size_t n) const {
    uint64_t want = std::min<uint64_t>(n, size_);
    if (tail_.size() < want) {
        uint64_t start = size_ - want;
        std::vector<uint8_t> buf(static_cast<size_t>(want));
        size_t got = doRead(start, buf.data(), buf.size());
        // A file that shrank since it was opened has no trustworthy tail.
        if (got < buf.size()) return ByteView{};
        tail_.swap(buf);
    }
    return ByteView{tail_.data() + (tail_.size() - want), static_cast<size_t>(want)};
}

WindowReader::WindowReader(const ByteSource& src, size_t window, uint64_t end)
    : src_(src), window_(window), end_(std::min(end, src.size())), buf_(1, 0) {}

const uint8_t* WindowReader::refill(uint64_t off, size_t n, size_t& got) {
    if (off >= end_ || n == 0) {
        got = 0;
        return buf_.data() + have_;  // the zero byte
    }
    const uint64_t avail = end_ - off;
    const size_t want = static_cast<size_t>(std::min<uint64_t>(n, avail));
    size_t keep = 0;
    const uint8_t* kept = held(off, keep);
    if (want > keep) {
        // A whole window from off, or more for a record that is larger. The bytes held from
        // off on stay; only the rest is read.
        const size_t fill = static_cast<size_t>(std::min<uint64_t>(std::max(window_, want), avail));
        if (buf_.size() < fill + 1) {
            std::vector<uint8_t> bigger(fill + 1);
            std::memcpy(bigger.data(), kept, keep);
            buf_.swap(bigger);
        } else if (keep > 0 && kept != buf_.data()) {
            std::memmove(buf_.data(), kept, keep);
        }
        start_ = off;
        have_ = keep + src_.readAt(off + keep, buf_.data() + keep, fill - keep);
        buf_[have_] = 0;
    }
    const size_t at = static_cast<size_t>(off - start_);
    got = std::min(want, have_ - at);
    return buf_.data() + at;
}

size_t WindowReader::readZ(uint64_t off, void* dst, size_t n) {
    if (n == 0) return 0;
    size_t got = 0;
    const uint8_t* p = view(off, n, got);
    if (got > 0) std::memcpy(dst, p, got);
    std::memset(static_cast<uint8_t*>(dst) + got, 0, n - got);
    return got;
}

bool WindowReader::readOn(uint64_t hold, uint64_t kept, uint64_t to, bool growing, size_t overlap) {
    const uint64_t more = std::max<uint64_t>({window_, growing ? kept : 0, uint64_t{overlap} + 1});
    size_t got = 0;
    view(hold, static_cast<size_t>(std::min(to - hold, kept + more)), got);
    return got > kept;
}

uint64_t WindowReader::find(const Needle& needle, uint64_t from, uint64_t to, uint64_t keep) {
    const size_t n = needle.size;
    if (from > std::min(to, end_) || std::min(to, end_) - from < n) return npos;
    if (n == 0) return from;
    uint64_t found = npos;
    walk(from, to, n - 1, keep, [&](const uint8_t* p, size_t count, uint64_t at) {
        const size_t k = findBytes(p, count, needle);
        if (k != SIZE_MAX) found = at + k;
        return k == SIZE_MAX;
    });
    return found;
}

uint64_t WindowReader::rfind(const Needle& needle, uint64_t from, uint64_t to) {
    const size_t n = needle.size;
    to = std::min(to, end_);
    if (from > to || to - from < n) return npos;
    if (n == 0) return to;
    // Windows from the top down, overlapping by n - 1 bytes.
    const uint64_t chunk = std::max<uint64_t>(window_, 2 * uint64_t{n});
    for (uint64_t hi = to;;) {
        const uint64_t lo = hi - std::min(hi - from, chunk);
        size_t got = 0;
        const uint8_t* p = view(lo, static_cast<size_t>(hi - lo), got);
        const size_t k = rfindBytes(p, got, needle);
        if (k != SIZE_MAX) return lo + k;
        if (lo == from || got < hi - lo) return npos;
        hi = lo + n - 1;
    }
}

FileByteSource::FileByteSource(const std::string& path) {
    path_ = path;
    fd_ = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd_ < 0) return;
    struct stat st;
    if (fstat(fd_, &st) != 0 || !S_ISREG(st.st_mode) || st.st_size < 0) {
        size_ = 0;  // pipes, devices and directories have no bytes for the probes
        return;
    }
    size_ = static_cast<uint64_t>(st.st_size);
    regular_ = true;
}

FileByteSource::~FileByteSource() {
    if (fd_ >= 0) ::close(fd_);
}

size_t FileByteSource::doRead(uint64_t off, void* dst, size_t n) const {
    if (fd_ < 0) return 0;
    size_t done = 0;
    while (done < n) {
        ssize_t r = ::pread(fd_, static_cast<uint8_t*>(dst) + done, n - done, static_cast<off_t>(off + done));
        if (r < 0) {
            if (errno == EINTR) continue;
            break;
        }
        if (r == 0) break;
        done += static_cast<size_t>(r);
    }
    return done;
}

MemoryByteSource::MemoryByteSource(std::vector<uint8_t> bytes, std::string path) : bytes_(std::move(bytes)) {
    size_ = bytes_.size();
    path_ = std::move(path);
}

MemoryByteSource::MemoryByteSource(const void* data, size_t n)
    : bytes_(static_cast<const uint8_t*>(data), static_cast<const uint8_t*>(data) + n) {
    size_ = bytes_.size();
}

size_t MemoryByteSource::doRead(uint64_t off, void* dst, size_t n) const {
    if (off >= bytes_.size()) return 0;
    size_t k = static_cast<size_t>(std::min<uint64_t>(n, bytes_.size() - off));
    std::memcpy(dst, bytes_.data() + off, k);
    return k;
}

}  // namespace kiv
