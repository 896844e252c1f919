#include "engine/ByteSource.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "engine/Limits.h"

namespace kiv {

bool ByteView::startsWithAt(size_t off, const void* pattern, size_t n) const {
    return has(off, n) && (n == 0 || std::memcmp(data + off, pattern, n) == 0);
}

size_t ByteView::find(const void* needle, size_t n, size_t from) const {
    if (from > size || n > size - from) return npos;
    if (n == 0) return from;
    const void* p = memmem(data + from, size - from, needle, n);
    return p ? static_cast<size_t>(static_cast<const uint8_t*>(p) - data) : npos;
}

size_t ByteView::rfind(const void* needle, size_t n) const {
    if (n > size) return npos;
    if (n == 0) return size;
    const uint8_t* nd = static_cast<const uint8_t*>(needle);
    for (size_t i = size - n + 1; i-- > 0;) {
        if (data[i] == nd[0] && std::memcmp(data + i, nd, n) == 0) return i;
    }
    return npos;
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

uint64_t ByteSource::find(const void* needle, size_t n, uint64_t from, uint64_t window) const {
    if (from >= size_) return n == 0 && from == size_ ? from : npos;
    uint64_t end = window > size_ - from ? size_ : from + window;
    if (n == 0) return from;
    if (end - from < n) return npos;
    // Scan in chunks that overlap by n - 1 bytes so a match on a chunk edge is seen.
    const size_t chunk = std::max<size_t>(limits::kFindChunk, n * 2);
    std::vector<uint8_t> buf(chunk);
    uint64_t pos = from;
    while (pos + n <= end) {
        size_t want = static_cast<size_t>(std::min<uint64_t>(chunk, end - pos));
        size_t got = readAt(pos, buf.data(), want);
        if (got < n) return npos;
        const void* p = memmem(buf.data(), got, needle, n);
        if (p) return pos + static_cast<uint64_t>(static_cast<const uint8_t*>(p) - buf.data());
        if (got < want) return npos;
        pos += got - (n - 1);
    }
    return npos;
}

WindowReader::WindowReader(const ByteSource& src, size_t window) : src_(src), window_(window) {}

const uint8_t* WindowReader::refill(uint64_t off, size_t n, size_t& got) {
    const uint64_t size = src_.size();
    if (off >= size || n == 0) {
        got = 0;
        return buf_.data();
    }
    const uint64_t avail = size - off;
    const size_t want = static_cast<size_t>(std::min<uint64_t>(n, avail));
    if (!(off >= start_ && off - start_ <= have_ && want <= have_ - (off - start_))) {
        // Refill from off: a whole window, or more for a record that is larger.
        const size_t fill = static_cast<size_t>(std::min<uint64_t>(std::max(window_, want), avail));
        if (buf_.size() < fill) buf_.resize(fill);
        start_ = off;
        have_ = src_.readAt(off, buf_.data(), fill);
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
