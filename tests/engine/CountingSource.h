// Test helper: bytes in memory that count what the detectors read from them, so that a test
// can show a walk reads each window once instead of once per record.
#pragma once

#include <cstdint>
#include <vector>

#include "engine/ByteSource.h"

namespace kivtest {

class CountingSource : public kiv::MemoryByteSource {
public:
    explicit CountingSource(std::vector<uint8_t> bytes) : kiv::MemoryByteSource(std::move(bytes)) {}
    mutable uint64_t reads = 0;  // calls that reached the bytes (cached windows excluded)
    mutable uint64_t bytesRead = 0;

protected:
    size_t doRead(uint64_t off, void* dst, size_t n) const override {
        ++reads;
        const size_t got = kiv::MemoryByteSource::doRead(off, dst, n);
        bytesRead += got;
        return got;
    }
};

}  // namespace kivtest
