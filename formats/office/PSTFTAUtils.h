// Outlook personal folder stores (PST), recognised by their file header alone.
#pragma once

#include <cstdint>
#include <string>

#include "core/ByteSource.h"

// The header as read, in either layout: ANSI (512 bytes, wVer 14 or 15) or Unicode (564).
struct PSTHeader {
    unsigned char dwMagic[4] = {};
    uint32_t dwCRCPartial = 0;
    unsigned char wMagicClient[2] = {};
    uint16_t wVer = 0;
    uint16_t wVerClient = 0;
    uint8_t bPlatformCreate = 0;
    uint8_t bPlatformAccess = 0;
    uint32_t dwReserved1 = 0;
    uint32_t dwReserved2 = 0;
    unsigned char nextIds[16] = {};   // 8 bytes ANSI, 16 Unicode
    unsigned char nodeIds[132] = {};  // dwUnique and the 32 node ids
    unsigned char root[84] = {};      // 40 bytes ANSI, 84 Unicode
    unsigned char rgbFM[128] = {};
    unsigned char rgbFP[128] = {};
    uint8_t bSentinel = 0;
    uint8_t bCryptMethod = 0;
    unsigned char rgbReserved[2] = {};
    unsigned char rest[12 + 36] = {};
    bool unicode = false;
};

class PSTFTAUtils {
public:
    static bool isPSTFileBased(const std::string& path, unsigned long size);
    static bool isPSTFileBased(const kiv::ByteSource& src);
    // True when the whole header of its layout could be read.
    static bool readPSTHeader(const std::string& path, unsigned long size, PSTHeader& header);
    static bool readPSTHeader(const kiv::ByteSource& src, PSTHeader& header);
};
