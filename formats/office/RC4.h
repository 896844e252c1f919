// RC4 stream cipher, used only to decrypt the password verifiers of binary Office files.
#pragma once

class RC4 {
public:
    // Key schedule over length key bytes; -1 takes the key as a zero-terminated text.
    RC4(const unsigned char* key, int length);
    // XORs length bytes with the keystream into out, or in place when out is null. The
    // state carries over, so consecutive calls continue one keystream.
    void process(unsigned char* in, int length, unsigned char* out);

private:
    unsigned char S[256];
    unsigned char x = 0;
    unsigned char y = 0;
};

void swap_byte(unsigned char& a, unsigned char& b);
