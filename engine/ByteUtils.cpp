#include "engine/ByteUtils.h"

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
