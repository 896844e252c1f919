// Every size cap the engine applies to what it reads, in one place.
#pragma once

#include <cstddef>
#include <cstdint>

namespace kiv::limits {

// ByteSource: bytes read at once for the shared head window.
constexpr size_t kHeadCache = 64 * 1024;
// ByteSource::find reads in chunks of this size.
constexpr size_t kFindChunk = 64 * 1024;

// Output kept from an outside program (7za extracting one member).
constexpr size_t kCommandOutputCap = 16 * 1024 * 1024;

// Matcher: header bytes scored against byte patterns.
constexpr size_t kQrixHeaderBytes = 2048;
// Matcher: files above this are searched for strings in their head and tail only.
constexpr uint64_t kQrixWholeFileLimit = 10 * 1024 * 1024;
// Matcher: head and tail windows for large files.
constexpr uint64_t kQrixWindow = 5 * 1024 * 1024;

}  // namespace kiv::limits
