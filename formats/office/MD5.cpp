#include "formats/office/MD5.h"

#include <cstring>

namespace {

inline uint32_t rol(uint32_t v, unsigned n) { return (v << n) | (v >> (32 - n)); }

// Per-step shift amounts and sine-derived constants of RFC 1321.
constexpr unsigned kShift[64] = {7,  12, 17, 22, 7,  12, 17, 22, 7,  12, 17, 22, 7,  12, 17, 22, 5,  9,  14, 20, 5,  9,
                                 14, 20, 5,  9,  14, 20, 5,  9,  14, 20, 4,  11, 16, 23, 4,  11, 16, 23, 4,  11, 16, 23,
                                 4,  11, 16, 23, 6,  10, 15, 21, 6,  10, 15, 21, 6,  10, 15, 21, 6,  10, 15, 21};
constexpr uint32_t kSine[64] = {
    0xd76aa478, 0xe8c7b756, 0x242070db, 0xc1bdceee, 0xf57c0faf, 0x4787c62a, 0xa8304613, 0xfd469501,
    0x698098d8, 0x8b44f7af, 0xffff5bb1, 0x895cd7be, 0x6b901122, 0xfd987193, 0xa679438e, 0x49b40821,
    0xf61e2562, 0xc040b340, 0x265e5a51, 0xe9b6c7aa, 0xd62f105d, 0x02441453, 0xd8a1e681, 0xe7d3fbc8,
    0x21e1cde6, 0xc33707d6, 0xf4d50d87, 0x455a14ed, 0xa9e3e905, 0xfcefa3f8, 0x676f02d9, 0x8d2a4c8a,
    0xfffa3942, 0x8771f681, 0x6d9d6122, 0xfde5380c, 0xa4beea44, 0x4bdecfa9, 0xf6bb4b60, 0xbebfbc70,
    0x289b7ec6, 0xeaa127fa, 0xd4ef3085, 0x04881d05, 0xd9d4d039, 0xe6db99e5, 0x1fa27cf8, 0xc4ac5665,
    0xf4292244, 0x432aff97, 0xab9423a7, 0xfc93a039, 0x655b59c3, 0x8f0ccc92, 0xffeff47d, 0x85845dd1,
    0x6fa87e4f, 0xfe2ce6e0, 0xa3014314, 0x4e0811a1, 0xf7537e82, 0xbd3af235, 0x2ad7d2bb, 0xeb86d391};

}  // namespace

void md5_starts(md5_context* ctx) {
    std::memset(ctx, 0, sizeof(*ctx));
    ctx->state[0] = 0x67452301u;
    ctx->state[1] = 0xEFCDAB89u;
    ctx->state[2] = 0x98BADCFEu;
    ctx->state[3] = 0x10325476u;
}

void md5_process(md5_context* ctx, const unsigned char data[64]) {
    uint32_t x[16];
    // MD5 reads its message words little-endian.
    for (int i = 0; i < 16; ++i) {
        x[i] = static_cast<uint32_t>(data[4 * i]) | (static_cast<uint32_t>(data[4 * i + 1]) << 8) |
               (static_cast<uint32_t>(data[4 * i + 2]) << 16) | (static_cast<uint32_t>(data[4 * i + 3]) << 24);
    }
    uint32_t a = ctx->state[0], b = ctx->state[1], c = ctx->state[2], d = ctx->state[3];
    for (int i = 0; i < 64; ++i) {
        uint32_t f;
        int g;
        if (i < 16) {
            f = (b & c) | (~b & d);
            g = i;
        } else if (i < 32) {
            f = (d & b) | (~d & c);
            g = (5 * i + 1) & 15;
        } else if (i < 48) {
            f = b ^ c ^ d;
            g = (3 * i + 5) & 15;
        } else {
            f = c ^ (b | ~d);
            g = (7 * i) & 15;
        }
        uint32_t t = d;
        d = c;
        c = b;
        b = b + rol(a + f + kSine[i] + x[g], kShift[i]);
        a = t;
    }
    ctx->state[0] += a;
    ctx->state[1] += b;
    ctx->state[2] += c;
    ctx->state[3] += d;
}

void md5_update(md5_context* ctx, const unsigned char* input, int length) {
    if (input == nullptr || length <= 0) return;
    uint32_t n = static_cast<uint32_t>(length);
    uint32_t used = ctx->total[0] & 63;
    ctx->total[0] += n;
    if (ctx->total[0] < n) ++ctx->total[1];  // carry into the high word
    uint32_t i = 0;
    if (used + n >= 64) {
        i = 64 - used;
        std::memcpy(ctx->buffer + used, input, i);
        md5_process(ctx, ctx->buffer);
        for (; i + 63 < n; i += 64) md5_process(ctx, input + i);
        used = 0;
    }
    std::memcpy(ctx->buffer + used, input + i, n - i);
}

void md5_finish(md5_context* ctx, unsigned char digest[16]) {
    // Bit length, little-endian, from the byte count held in two words.
    uint32_t high = (ctx->total[0] >> 29) | (ctx->total[1] << 3);
    uint32_t low = ctx->total[0] << 3;
    unsigned char lengthBytes[8];
    for (int i = 0; i < 4; ++i) {
        lengthBytes[i] = static_cast<unsigned char>(low >> (8 * i));
        lengthBytes[4 + i] = static_cast<unsigned char>(high >> (8 * i));
    }
    static const unsigned char pad[64] = {0x80};
    uint32_t used = ctx->total[0] & 63;
    uint32_t padLen = used < 56 ? 56 - used : 120 - used;
    md5_update(ctx, pad, static_cast<int>(padLen));
    md5_update(ctx, lengthBytes, 8);
    for (int i = 0; i < 16; ++i) digest[i] = static_cast<unsigned char>(ctx->state[i >> 2] >> (8 * (i & 3)));
}
