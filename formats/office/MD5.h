// MD5 (RFC 1321), used only by the RC4 verifier check of binary Excel workbooks.
#pragma once

#include <cstdint>

struct md5_context {
    uint32_t total[2];  // bytes processed, low word first
    uint32_t state[4];
    unsigned char buffer[64];
    // Pad blocks of the keyed-hash variant; nothing here fills them.
    unsigned char ipad[64];
    unsigned char opad[64];
};

void md5_starts(md5_context* ctx);
// A length of 0 or less does nothing.
void md5_update(md5_context* ctx, const unsigned char* input, int length);
void md5_finish(md5_context* ctx, unsigned char digest[16]);
// Processes one 64-byte block.
void md5_process(md5_context* ctx, const unsigned char data[64]);
