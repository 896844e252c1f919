// Image probes: PNG (and its stereo variant), BMP, EMF, TIFF and EXIF JPEG, from their headers.
#pragma once

#include <cstdint>
#include <string>

#include "core/ByteSource.h"

enum ImageType : uint8_t {
    IMAGE_NONE = 0,
    IMAGE_PNG_DAMAGED = 1,  // PNG signature with a broken chunk structure; reported as data
    IMAGE_BMP = 2,
    IMAGE_EMF = 3,
    IMAGE_PNG = 6,
    IMAGE_PNS = 7,  // stereo PNG (sTER chunk)
    IMAGE_TIFF = 8,
    IMAGE_JPG = 9,  // JPEG whose first segment is EXIF
};

class ImageFTAUtils {
public:
    // Tries PNG, BMP, EMF, TIFF and JPEG in that order; the first non-zero code answers.
    static ImageType isImage(const std::string& path, unsigned long size);
    static ImageType isImage(const kiv::ByteSource& src);

    static ImageType isPNG(const kiv::ByteSource& src);
    static ImageType isBMP(const kiv::ByteSource& src);
    static ImageType isEMF(const kiv::ByteSource& src);
    static ImageType isTIFF(const kiv::ByteSource& src);
    static ImageType isJPGEXIF(const kiv::ByteSource& src);

    // The PDF classifier asks this before trusting "%PDF-": EMF files may embed PDF text.
    static bool isEMF(const std::string& path, unsigned long size);
};

// The result of an image code: BMP, EMF, PNG, PNS, TIFF or JPG; any other code gives "data".
void adjustImageTypes(uint8_t code, std::string& typeId, std::string& mime, std::string& extensions,
                      std::string& description);
