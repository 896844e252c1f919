#include "formats/archive/ZipFormat.h"

#include "core/Limits.h"

namespace kiv::zip {

uint64_t findEndRecord(const ByteSource& src, uint64_t size) {
    const uint64_t windowStart = size > limits::kZipEndRecordWindow ? size - limits::kZipEndRecordWindow : 0;
    const uint64_t lastCandidate = size > kEndRecordLen ? size - kEndRecordLen : 0;
    src.tail(static_cast<size_t>(limits::kZipEndRecordWindow));  // cached: later name tests reread it
    // One window holds every candidate, lastCandidate down to windowStart, with its 4 bytes.
    WindowReader in(src, static_cast<size_t>(limits::kZipEndRecordWindow));
    return in.rfind(kEndRecordBytes, sizeof kEndRecordBytes, windowStart, lastCandidate + sizeof kEndRecordBytes);
}

}  // namespace kiv::zip
