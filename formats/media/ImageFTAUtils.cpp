#include "formats/media/ImageFTAUtils.h"

#include <cstring>

#include "core/ByteUtils.h"
#include "core/Limits.h"
#include "core/ResultRow.h"

namespace {

constexpr uint8_t kPngSignature[8] = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
constexpr uint8_t kEmfSignature[4] = {' ', 'E', 'M', 'F'};
constexpr uint8_t kTiffBigEndian[4] = {'M', 'M', 0x00, 0x2A};
constexpr uint8_t kTiffLittleEndian[4] = {'I', 'I', 0x2A, 0x00};
constexpr uint8_t kJpegExifMarker[4] = {0xFF, 0xD8, 0xFF, 0xE1};
constexpr uint8_t kExifId[6] = {'E', 'x', 'i', 'f', 0x00, 0x00};
constexpr uint8_t kJpegEndOfImage[2] = {0xFF, 0xD9};

}  // namespace

ImageType ImageFTAUtils::isImage(const std::string& path, unsigned long /*size*/) {
    kiv::FileByteSource src(path);
    return isImage(src);
}

bool ImageFTAUtils::isEMF(const std::string& path, unsigned long /*size*/) {
    kiv::FileByteSource src(path);
    return isEMF(src) != IMAGE_NONE;
}

ImageType ImageFTAUtils::isImage(const kiv::ByteSource& src) {
    for (auto probe : {&ImageFTAUtils::isPNG, &ImageFTAUtils::isBMP, &ImageFTAUtils::isEMF, &ImageFTAUtils::isTIFF,
                       &ImageFTAUtils::isJPGEXIF}) {
        ImageType code = probe(src);
        if (code != IMAGE_NONE) return code;
    }
    return IMAGE_NONE;
}

ImageType ImageFTAUtils::isPNG(const kiv::ByteSource& src) {
    const uint64_t size = src.size();
    if (size < sizeof(kPngSignature) ||
        !src.head(sizeof(kPngSignature)).startsWith(kPngSignature, sizeof(kPngSignature)))
        return IMAGE_NONE;

    bool seenIHDR = false;
    bool seenSTER = false;
    uint64_t pos = sizeof(kPngSignature);
    // Zero-length unknown chunks advance only 12 bytes each, so the walk is capped.
    for (uint32_t chunks = 0; chunks < kiv::limits::kPngMaxChunksBeforeImage; ++chunks) {
        // A file that ends before the first IDAT is truncated, not a broken PNG.
        if (pos > size || size - pos < 4) return IMAGE_NONE;
        uint8_t head[8];
        if (src.readAt(pos, head, 4) != 4) return IMAGE_NONE;
        const uint32_t length = *kiv::be32(head, 4, 0);
        if (length & 0x80000000u) return IMAGE_PNG_DAMAGED;  // lengths are limited to 2^31 - 1
        if (size - pos - 4 < 4) return IMAGE_NONE;
        if (src.readAt(pos + 4, head + 4, 4) != 4) return IMAGE_NONE;
        const uint8_t* type = head + 4;

        if (std::memcmp(type, "IHDR", 4) == 0) {
            if (seenIHDR) return IMAGE_PNG_DAMAGED;  // IHDR must come first, and once
            seenIHDR = true;
        } else if (std::memcmp(type, "sTER", 4) == 0) {
            if (!seenIHDR || length != 1) return IMAGE_PNG_DAMAGED;
            seenSTER = true;
        } else if (std::memcmp(type, "IDAT", 4) == 0) {
            if (!seenIHDR) return IMAGE_PNG_DAMAGED;
            return seenSTER ? IMAGE_PNS : IMAGE_PNG;
        }
        // length field + type + data + CRC; 64-bit so a multi-GiB file cannot wrap it.
        pos += static_cast<uint64_t>(length) + 12;
    }
    return IMAGE_PNG_DAMAGED;
}

ImageType ImageFTAUtils::isBMP(const kiv::ByteSource& src) {
    if (src.size() < 18) return IMAGE_NONE;
    kiv::ByteView h = src.head(18);
    if (h.size < 18 || h.data[0] != 'B' || h.data[1] != 'M') return IMAGE_NONE;
    // Info-header sizes of the core, v3, v4 and v5 headers.
    switch (*kiv::le32(h.data, h.size, 14)) {
        case 12:
        case 40:
        case 108:
        case 124:
            return IMAGE_BMP;
        default:
            return IMAGE_NONE;
    }
}

ImageType ImageFTAUtils::isEMF(const kiv::ByteSource& src) {
    if (src.size() < 44) return IMAGE_NONE;
    kiv::ByteView h = src.head(44);
    if (h.size < 44) return IMAGE_NONE;
    // The first record is EMR_HEADER (type 1), whose signature field sits at 40.
    if (*kiv::le32(h.data, h.size, 0) != 1) return IMAGE_NONE;
    return h.startsWithAt(40, kEmfSignature, sizeof(kEmfSignature)) ? IMAGE_EMF : IMAGE_NONE;
}

ImageType ImageFTAUtils::isTIFF(const kiv::ByteSource& src) {
    if (src.size() < 4) return IMAGE_NONE;
    kiv::ByteView h = src.head(4);
    if (h.startsWith(kTiffBigEndian, 4) || h.startsWith(kTiffLittleEndian, 4)) return IMAGE_TIFF;
    return IMAGE_NONE;
}

ImageType ImageFTAUtils::isJPGEXIF(const kiv::ByteSource& src) {
    const uint64_t size = src.size();
    if (size < 12) return IMAGE_NONE;
    kiv::ByteView h = src.head(12);
    if (!h.startsWith(kJpegExifMarker, 4) || !h.startsWithAt(6, kExifId, sizeof(kExifId))) return IMAGE_NONE;
    // The APP1 length counts from its own first byte (offset 4); an embedded thumbnail
    // is stored last, so its end-of-image marker closes the segment.
    const uint64_t length = *kiv::be16(h.data, h.size, 4);
    if (length + 4 > size) return IMAGE_NONE;
    uint8_t tail[2];
    if (src.readAt(length + 2, tail, 2) != 2) return IMAGE_NONE;
    return std::memcmp(tail, kJpegEndOfImage, 2) == 0 ? IMAGE_JPG : IMAGE_NONE;
}

namespace {
constexpr kiv::ResultRow<uint8_t> kImageRows[] = {
    {IMAGE_BMP, "BMP", "image/bmp", "bmp"},         {IMAGE_EMF, "EMF", "image/x-emf", "emf"},
    {IMAGE_PNG, "PNG", "image/png", "png"},         {IMAGE_PNS, "PNS", "image/png", "pns"},
    {IMAGE_TIFF, "TIFF", "image/tiff", "tif,tiff"}, {IMAGE_JPG, "JPG", "image/jpeg", "jpg"},
};
constexpr kiv::ResultRow<uint8_t> kNoImage = {IMAGE_NONE, "data", "application/octet-stream", ""};
}  // namespace

void adjustImageTypes(uint8_t code, std::string& typeId, std::string& mime, std::string& extensions,
                      std::string& description) {
    kiv::writeRow(kiv::rowFor(kImageRows, code, kNoImage), typeId, mime, extensions, description);
}
