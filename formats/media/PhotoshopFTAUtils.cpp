#include "formats/media/PhotoshopFTAUtils.h"

#include <cstring>

#include "core/ByteUtils.h"
#include "core/TypeTables.h"

namespace {

constexpr size_t kHeaderBytes = 26;
constexpr uint8_t kSignature[4] = {'8', 'B', 'P', 'S'};
constexpr uint16_t kMaxChannels = 56;
// Largest width and height of a version-1 (PSD) and a version-2 (PSB) document.
constexpr uint32_t kMaxPsdDimension = 30000;
constexpr uint32_t kMaxPsbDimension = 300000;

bool validDepth(uint16_t depth) { return depth == 1 || depth == 8 || depth == 16 || depth == 32; }

// Bitmap, grayscale, indexed, RGB, CMYK, multichannel, duotone, Lab; 5 and 6 are unused.
bool validColourMode(uint16_t mode) { return mode <= 4 || (mode >= 7 && mode <= 9); }

bool inRange(uint32_t value, uint32_t max) { return value >= 1 && value <= max; }

}  // namespace

PhotoshopType PhotoshopFTAUtils::isPTSFileBased(const std::string& path, unsigned long /*size*/) {
    kiv::FileByteSource src(path);
    return isPTSFileBased(src);
}

PhotoshopType PhotoshopFTAUtils::isPTSFileBased(const kiv::ByteSource& src) {
    if (src.size() < kHeaderBytes) return PHOTOSHOP_NONE;
    kiv::ByteView h = src.head(kHeaderBytes);
    if (h.size < kHeaderBytes || !h.startsWith(kSignature, sizeof(kSignature))) return PHOTOSHOP_NONE;

    const unsigned char* p = h.data;
    for (size_t i = 6; i < 12; ++i)
        if (p[i] != 0) return PHOTOSHOP_NONE;
    const uint16_t version = ByteUtils::bytesToUInt16BE(p + 4);
    const uint16_t channels = ByteUtils::bytesToUInt16BE(p + 12);
    const uint32_t height = ByteUtils::bytesToUInt32BE(p + 14);
    const uint32_t width = ByteUtils::bytesToUInt32BE(p + 18);
    const uint16_t depth = ByteUtils::bytesToUInt16BE(p + 22);
    const uint16_t colourMode = ByteUtils::bytesToUInt16BE(p + 24);

    if (channels < 1 || channels > kMaxChannels || !validDepth(depth) || !validColourMode(colourMode))
        return PHOTOSHOP_NONE;
    if (version == 1 && inRange(height, kMaxPsdDimension) && inRange(width, kMaxPsdDimension)) return PHOTOSHOP_PSD;
    if (version == 2 && inRange(height, kMaxPsbDimension) && inRange(width, kMaxPsbDimension)) return PHOTOSHOP_PSB;
    return PHOTOSHOP_NONE;
}

void PhotoshopFTAUtils::adjustPTSBasedTypes(const PhotoshopType& code, std::string& typeId, std::string& mime,
                                            std::string& extensions, std::string& description) {
    switch (code) {
        case PHOTOSHOP_PSD:
            typeId = "PSD";
            extensions = "psd";
            break;
        case PHOTOSHOP_PSB:
            typeId = "PSB";
            extensions = "psb";
            break;
        default:
            return;
    }
    mime = "image/vnd.adobe.photoshop";
    description = FileTypeDescription.at(typeId);
}
