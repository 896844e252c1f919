#include "core/ByteUtils.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "core/ByteSource.h"

uint32_t ByteUtils::bytesToUInt32BE(const unsigned char* p) {
    return (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) | uint32_t(p[3]);
}

uint32_t ByteUtils::bytesToUInt24BE(const unsigned char* p) {
    return (uint32_t(p[0]) << 16) | (uint32_t(p[1]) << 8) | uint32_t(p[2]);
}

uint16_t ByteUtils::bytesToUInt16BE(const unsigned char* p) { return static_cast<uint16_t>((p[0] << 8) | p[1]); }

bool ByteUtils::compareArrayValue(const void* p, const unsigned char& value, const unsigned int& count) {
    if (count == 0) return false;
    const unsigned char* b = static_cast<const unsigned char*>(p);
    for (unsigned int i = 0; i < count; ++i)
        if (b[i] != value) return false;
    return true;
}

bool readArbitraryBytesOfFile(const kiv::ByteSource& src, size_t n, unsigned char* buffer, int fromStart) {
    const size_t want = static_cast<size_t>(std::min<uint64_t>(n, src.size()));
    const uint64_t off = fromStart ? 0 : src.size() - want;
    return src.readAt(off, buffer, want) == want;
}

int checkBytesMatch(const kiv::ByteSource& src, const unsigned char* pattern, unsigned int length,
                    unsigned int offset) {
    if (pattern == nullptr || length == 0) return 0;
    uint64_t end;
    if (!kiv::checkedAdd(offset, length, end) || end > src.size()) return 0;
    std::vector<uint8_t> bytes = src.read(offset, length);
    return bytes.size() == length && std::memcmp(bytes.data(), pattern, length) == 0 ? 1 : 0;
}

int checkBytesMatchWithoutStaticOffset(const unsigned char* buffer, int bufferLength, const unsigned char* pattern,
                                       int patternLength) {
    if (buffer == nullptr || pattern == nullptr || patternLength <= 0 || bufferLength < patternLength) return 0;
    return kiv::findBytes(buffer, static_cast<size_t>(bufferLength), pattern, static_cast<size_t>(patternLength)) !=
                   SIZE_MAX
               ? 1
               : 0;
}

namespace {
std::string hexBytes(const unsigned char* bytes, size_t count, bool lastFirst) {
    static const char kDigits[] = "0123456789abcdef";
    std::string out;
    out.reserve(count * 2);
    for (size_t i = 0; i < count; ++i) {
        const unsigned char b = bytes[lastFirst ? count - 1 - i : i];
        out += kDigits[b >> 4];
        out += kDigits[b & 0x0F];
    }
    return out;
}
}  // namespace

std::string convertHexaBytesToStringWithLittleEndian(const unsigned char* bytes, size_t count) {
    return hexBytes(bytes, count, true);
}
std::string convertHexaBytesToStringWithBigEndian(const unsigned char* bytes, size_t count) {
    return hexBytes(bytes, count, false);
}

namespace kiv {
bool containsIgnoringAsciiCase(std::string_view text, std::string_view needle) {
    return findBytesIgnoringAsciiCase(text.data(), text.size(), needle.data(), needle.size()) != SIZE_MAX;
}
}  // namespace kiv
