#include "formats/office/RC4.h"

#include <cstring>

void swap_byte(unsigned char& a, unsigned char& b) {
    unsigned char t = a;
    a = b;
    b = t;
}

RC4::RC4(const unsigned char* key, int length) {
    if (length == -1 && key != nullptr) length = static_cast<int>(std::strlen(reinterpret_cast<const char*>(key)));
    if (key == nullptr || length < 0) length = 0;
    for (int i = 0; i < 256; ++i) S[i] = static_cast<unsigned char>(i);
    // An empty key would make the schedule take i mod 0; it mixes in nothing instead, so
    // the cipher stays defined (no caller passes one).
    unsigned char j = 0;
    for (int i = 0; i < 256; ++i) {
        unsigned char k = length > 0 ? key[i % length] : 0;
        j = static_cast<unsigned char>(j + S[i] + k);
        swap_byte(S[i], S[j]);
    }
}

void RC4::process(unsigned char* in, int length, unsigned char* out) {
    if (in == nullptr || length <= 0) return;
    if (out == nullptr) out = in;
    for (int i = 0; i < length; ++i) {
        x = static_cast<unsigned char>(x + 1);
        y = static_cast<unsigned char>(y + S[x]);
        swap_byte(S[x], S[y]);
        out[i] = static_cast<unsigned char>(in[i] ^ S[static_cast<unsigned char>(S[x] + S[y])]);
    }
}
