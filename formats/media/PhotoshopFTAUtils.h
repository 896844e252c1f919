// Photoshop documents (PSD) and large documents (PSB), by a plausibility check of the
// 26-byte big-endian file header.
#pragma once

#include <cstdint>
#include <string>

#include "core/ByteSource.h"

enum PhotoshopType : uint8_t {
    PHOTOSHOP_NONE = 0,
    PHOTOSHOP_PSD = 1,
    PHOTOSHOP_PSB = 2,
};

class PhotoshopFTAUtils {
public:
    static PhotoshopType isPTSFileBased(const std::string& path, unsigned long size);
    static PhotoshopType isPTSFileBased(const kiv::ByteSource& src);

    // Codes 1 and 2 fill the result; any other code leaves it unchanged.
    static void adjustPTSBasedTypes(const PhotoshopType& code, std::string& typeId, std::string& mime,
                                    std::string& extensions, std::string& description);
};
