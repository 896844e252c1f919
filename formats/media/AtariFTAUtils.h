// Atari 8-bit binary load files: an FF FF marker, then segments of start address, end
// address (inclusive, both little-endian u16) and data; a later segment may repeat the marker.
#pragma once

#include <cstdint>
#include <string>

#include "core/ByteSource.h"

enum AtariType : uint8_t {
    ATARI_NONE = 0,      // no FF FF marker
    ATARI_ACCEPTED = 1,  // load file
    ATARI_DAMAGED = 2,   // marker present, segment structure broken; the cascade goes on
};

class AtariFTAUtils {
public:
    static AtariType isAtariFileBased(const std::string& path, unsigned long size);
    static AtariType isAtariFileBased(const kiv::ByteSource& src);
};
