// SHA-1 (FIPS 180-1), used only by the CryptoAPI RC4 verifier checks of binary Office files.
#pragma once

#include <cstdint>

namespace kiv {

class CSHA1 {
public:
    CSHA1();
    ~CSHA1();

    void Reset();
    void Update(const unsigned char* data, unsigned int length);
    // Pads, appends the bit length, stores the digest and wipes the working state.
    void Final();
    // Copies the 20-byte digest of the last Final; false for a null out.
    bool GetHash(unsigned char* out) const;
    // Processes one 64-byte block.
    void Transform(uint32_t* state, const unsigned char* block);

private:
    uint32_t m_state[5];
    uint32_t m_count[2];  // message length in bits, low word first
    unsigned char m_buffer[64];
    unsigned char m_digest[20];
};

}  // namespace kiv
