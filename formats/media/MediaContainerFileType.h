// Engine-wide numbering of media container kinds, and the brand probe of the post-rules. The
// brand probe answers 1 to 12, the ASF probe 13 to 15 and the AMR probe 16; 0 means none.
#pragma once

#include <cstdint>
#include <string>

#include "core/ByteSource.h"

enum MediaContainerFileType : uint8_t {
    MEDIA_CONTAINER_NONE = 0,
    MEDIA_CONTAINER_3GP = 1,
    MEDIA_CONTAINER_3G2 = 2,
    MEDIA_CONTAINER_M4A = 4,
    MEDIA_CONTAINER_M4B = 5,
    MEDIA_CONTAINER_M4P = 6,
    MEDIA_CONTAINER_M4V = 8,
    MEDIA_CONTAINER_MOV = 9,
    MEDIA_CONTAINER_MP4 = 10,
    MEDIA_CONTAINER_MPG = 11,
    MEDIA_CONTAINER_MPEG = 12,
    MEDIA_CONTAINER_WMA = 13,
    MEDIA_CONTAINER_WMV = 14,
    MEDIA_CONTAINER_ASF = 15,
    MEDIA_CONTAINER_AMR = 16,
};

// MPEG and CD-XA streams by their first bytes, the MP4 family by the brand of its ftyp box.
// The path form is a thin wrapper that opens the file.
MediaContainerFileType determineMediaContainerType(const kiv::ByteSource& src);
MediaContainerFileType determineMediaContainerType(const std::string& path);
