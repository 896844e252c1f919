// Positioned reads shared by the archive probes. Every read zero-fills its buffer first and
// answers how many bytes the file really held, so a read past the end compares zeros and can
// never leave bytes of an earlier read behind.
#pragma once

#include <cstdint>
#include <cstring>

#include "core/ByteSource.h"

namespace kiv::archive {

inline size_t readZ(const ByteSource& src, uint64_t off, void* buf, size_t n) {
    if (n == 0) return 0;
    std::memset(buf, 0, n);
    return src.readAt(off, buf, n);
}

inline uint16_t getLE16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
inline uint32_t getLE32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) | (static_cast<uint32_t>(p[2]) << 16) |
           (static_cast<uint32_t>(p[3]) << 24);
}

// Little-endian values at off; 0 when the file does not hold all of their bytes.
inline uint16_t readLE16(const ByteSource& src, uint64_t off) {
    uint8_t b[2];
    return readZ(src, off, b, 2) == 2 ? getLE16(b) : 0;
}
inline uint32_t readLE32(const ByteSource& src, uint64_t off) {
    uint8_t b[4];
    return readZ(src, off, b, 4) == 4 ? getLE32(b) : 0;
}

// True when the n bytes at off are exactly pattern.
inline bool bytesAt(const ByteSource& src, uint64_t off, const void* pattern, size_t n) {
    uint8_t b[64];
    if (n > sizeof b) return false;
    return readZ(src, off, b, n) == n && std::memcmp(b, pattern, n) == 0;
}

}  // namespace kiv::archive
