// Byte helpers shared by every detector: big-endian reads of the old interface, the detectors'
// byte access (a pattern at an offset, a pattern anywhere, bytes as hex text), bounds-checked
// little/big-endian reads that answer nullopt instead of reading past the end, and ASCII classes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

class ByteUtils {
public:
    static uint32_t bytesToUInt32BE(const unsigned char* p);
    static uint32_t bytesToUInt24BE(const unsigned char* p);
    static uint16_t bytesToUInt16BE(const unsigned char* p);
    // True when all count bytes at p equal value; a count of 0 answers false.
    static bool compareArrayValue(const void* p, const unsigned char& value, const unsigned int& count);
};

namespace kiv {
class ByteSource;
}

// Byte access of the detectors.
// Copies min(n, size) bytes from the start (fromStart non-zero) or the end of the file into
// buffer; true when all of them were read.
bool readArbitraryBytesOfFile(const kiv::ByteSource& src, size_t n, unsigned char* buffer, int fromStart);
// 1 when the file holds the pattern at offset; 0 when it runs past the end or differs.
int checkBytesMatch(const kiv::ByteSource& src, const unsigned char* pattern, unsigned int length, unsigned int offset);
// 1 when the pattern occurs anywhere in the buffer, else 0.
int checkBytesMatchWithoutStaticOffset(const unsigned char* buffer, int bufferLength, const unsigned char* pattern,
                                       int patternLength);
// Two lower-case hex digits per byte, last byte first or first byte first.
std::string convertHexaBytesToStringWithLittleEndian(const unsigned char* bytes, size_t count);
std::string convertHexaBytesToStringWithBigEndian(const unsigned char* bytes, size_t count);

template <typename T, size_t N>
constexpr size_t getArraySize(const T (&)[N]) {
    return N;
}

namespace kiv {

template <typename T>
inline std::optional<T> readLE(const uint8_t* d, size_t size, size_t off) {
    if (off > size || sizeof(T) > size - off) return std::nullopt;
    T v = 0;
    for (size_t i = 0; i < sizeof(T); ++i) v |= static_cast<T>(static_cast<T>(d[off + i]) << (8 * i));
    return v;
}

template <typename T>
inline std::optional<T> readBE(const uint8_t* d, size_t size, size_t off) {
    if (off > size || sizeof(T) > size - off) return std::nullopt;
    T v = 0;
    for (size_t i = 0; i < sizeof(T); ++i) v = static_cast<T>((v << 8) | d[off + i]);
    return v;
}

inline std::optional<uint16_t> le16(const uint8_t* d, size_t n, size_t off) { return readLE<uint16_t>(d, n, off); }
inline std::optional<uint32_t> le32(const uint8_t* d, size_t n, size_t off) { return readLE<uint32_t>(d, n, off); }
inline std::optional<uint64_t> le64(const uint8_t* d, size_t n, size_t off) { return readLE<uint64_t>(d, n, off); }
inline std::optional<uint16_t> be16(const uint8_t* d, size_t n, size_t off) { return readBE<uint16_t>(d, n, off); }
inline std::optional<uint32_t> be32(const uint8_t* d, size_t n, size_t off) { return readBE<uint32_t>(d, n, off); }
inline std::optional<uint64_t> be64(const uint8_t* d, size_t n, size_t off) { return readBE<uint64_t>(d, n, off); }

// Overflow-checked arithmetic for offsets and sizes read from files.
inline bool checkedAdd(uint64_t a, uint64_t b, uint64_t& out) { return !__builtin_add_overflow(a, b, &out); }
inline bool checkedMul(uint64_t a, uint64_t b, uint64_t& out) { return !__builtin_mul_overflow(a, b, &out); }

// ASCII-only character classes: the locale is process-wide and set from the environment,
// so the <cctype> functions must not decide what a file's bytes mean.
constexpr bool isAsciiUpper(unsigned char c) { return c >= 'A' && c <= 'Z'; }
constexpr bool isAsciiLower(unsigned char c) { return c >= 'a' && c <= 'z'; }
constexpr bool isAsciiDigit(unsigned char c) { return c >= '0' && c <= '9'; }
constexpr bool isAsciiAlpha(unsigned char c) { return isAsciiUpper(c) || isAsciiLower(c); }
constexpr bool isAsciiSpace(unsigned char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }
constexpr bool isAsciiAlnum(unsigned char c) { return isAsciiAlpha(c) || isAsciiDigit(c); }
constexpr bool isAsciiPrint(unsigned char c) { return c >= 0x20 && c <= 0x7E; }
constexpr char asciiToUpper(unsigned char c) { return static_cast<char>(isAsciiLower(c) ? c - 32 : c); }
constexpr char asciiToLower(unsigned char c) { return static_cast<char>(isAsciiUpper(c) ? c + 32 : c); }
// The text with its ASCII letters in upper (lower) case; every other byte unchanged.
inline std::string asciiUpperCopy(std::string text) {
    for (char& c : text) c = asciiToUpper(static_cast<unsigned char>(c));
    return text;
}
inline std::string asciiLowerCopy(std::string text) {
    for (char& c : text) c = asciiToLower(static_cast<unsigned char>(c));
    return text;
}
// True when a and b are equal once their ASCII letters are lower-cased. Bytes that are already
// equal are not folded, so a name written in the case of the literal costs one compare a byte.
// It compares in place: hot walks need no lower-case copy of each name.
inline bool equalsIgnoringAsciiCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (a[i] != b[i] &&
            asciiToLower(static_cast<unsigned char>(a[i])) != asciiToLower(static_cast<unsigned char>(b[i])))
            return false;
    return true;
}
// True when needle occurs in text, ignoring the case of ASCII letters.
bool containsIgnoringAsciiCase(std::string_view text, std::string_view needle);

// The UTF-8 byte-order mark that may open a text file.
constexpr std::string_view kUtf8Bom = "\xEF\xBB\xBF";

}  // namespace kiv
