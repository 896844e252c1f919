#include "formats/office/SHA1.h"

#include <cstring>

namespace kiv {

namespace {
inline uint32_t rol(uint32_t v, unsigned n) { return (v << n) | (v >> (32 - n)); }
}  // namespace

CSHA1::CSHA1() {
    std::memset(m_digest, 0, sizeof(m_digest));
    Reset();
}

CSHA1::~CSHA1() {
    Reset();
    std::memset(m_digest, 0, sizeof(m_digest));
}

void CSHA1::Reset() {
    m_state[0] = 0x67452301u;
    m_state[1] = 0xEFCDAB89u;
    m_state[2] = 0x98BADCFEu;
    m_state[3] = 0x10325476u;
    m_state[4] = 0xC3D2E1F0u;
    m_count[0] = m_count[1] = 0;
    std::memset(m_buffer, 0, sizeof(m_buffer));
}

void CSHA1::Transform(uint32_t* state, const unsigned char* block) {
    uint32_t w[80];
    for (int i = 0; i < 16; ++i) {
        // SHA-1 reads its message words big-endian.
        w[i] = (static_cast<uint32_t>(block[4 * i]) << 24) | (static_cast<uint32_t>(block[4 * i + 1]) << 16) |
               (static_cast<uint32_t>(block[4 * i + 2]) << 8) | static_cast<uint32_t>(block[4 * i + 3]);
    }
    for (int i = 16; i < 80; ++i) w[i] = rol(w[i - 3] ^ w[i - 8] ^ w[i - 14] ^ w[i - 16], 1);
    uint32_t a = state[0], b = state[1], c = state[2], d = state[3], e = state[4];
    for (int i = 0; i < 80; ++i) {
        uint32_t f, k;
        if (i < 20) {
            f = (b & c) | (~b & d);
            k = 0x5A827999u;
        } else if (i < 40) {
            f = b ^ c ^ d;
            k = 0x6ED9EBA1u;
        } else if (i < 60) {
            f = (b & c) | (b & d) | (c & d);
            k = 0x8F1BBCDCu;
        } else {
            f = b ^ c ^ d;
            k = 0xCA62C1D6u;
        }
        uint32_t t = rol(a, 5) + f + e + k + w[i];
        e = d;
        d = c;
        c = rol(b, 30);
        b = a;
        a = t;
    }
    state[0] += a;
    state[1] += b;
    state[2] += c;
    state[3] += d;
    state[4] += e;
    std::memset(w, 0, sizeof(w));
}

void CSHA1::Update(const unsigned char* data, unsigned int length) {
    if (data == nullptr || length == 0) return;
    uint32_t used = (m_count[0] >> 3) & 63;
    uint32_t bitsLow = length << 3;
    m_count[0] += bitsLow;
    if (m_count[0] < bitsLow) ++m_count[1];  // carry into the high word
    m_count[1] += length >> 29;
    unsigned int i = 0;
    if (used + length >= 64) {
        i = 64 - used;
        std::memcpy(m_buffer + used, data, i);
        Transform(m_state, m_buffer);
        for (; i + 63 < length; i += 64) Transform(m_state, data + i);
        used = 0;
    }
    std::memcpy(m_buffer + used, data + i, length - i);
}

void CSHA1::Final() {
    unsigned char lengthBytes[8];
    for (int i = 0; i < 4; ++i) {
        lengthBytes[i] = static_cast<unsigned char>(m_count[1] >> (24 - 8 * i));
        lengthBytes[4 + i] = static_cast<unsigned char>(m_count[0] >> (24 - 8 * i));
    }
    static const unsigned char pad[64] = {0x80};
    uint32_t used = (m_count[0] >> 3) & 63;
    // One 0x80 byte, then zeros up to 56 mod 64; 56 to 63 bytes already used spill into a
    // second block.
    uint32_t padLen = used < 56 ? 56 - used : 120 - used;
    Update(pad, padLen);
    Update(lengthBytes, 8);
    for (int i = 0; i < 20; ++i) m_digest[i] = static_cast<unsigned char>(m_state[i >> 2] >> (24 - 8 * (i & 3)));
    Reset();
}

bool CSHA1::GetHash(unsigned char* out) const {
    if (out == nullptr) return false;
    std::memcpy(out, m_digest, 20);
    return true;
}

}  // namespace kiv
