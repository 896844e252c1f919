// Test helpers of the pieces every reader uses: bytes in memory that count what is read from
// them, so that a test can show a walk reads each window once instead of once per record; a
// source that delivers fewer bytes than it claims; and the signature tables that init builds.
#pragma once

#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "core/ByteSignatures.h"
#include "core/ByteSource.h"

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

// Claims `claimed` bytes but can only deliver the first bytes of `readable`: a file that
// shrank under the scan, or a device that fails part way.
struct FailingSource : kiv::MemoryByteSource {
    FailingSource(const std::string& readable, uint64_t claimed) : MemoryByteSource(readable.data(), readable.size()) {
        size_ = claimed;
    }
};

// The signature tables are appended to, so they are built once per test program, as init does.
inline void buildSignatureTables() {
    static std::once_flag once;
    std::call_once(once, [] {
        initISOVecSignatures();
        initFallBackSignatures();
    });
}

}  // namespace kivtest
