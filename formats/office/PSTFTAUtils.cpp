#include "formats/office/PSTFTAUtils.h"

#include <cstring>

#include "core/ByteUtils.h"

namespace {
constexpr unsigned char kMagic[4] = {0x21, 0x42, 0x44, 0x4E};  // "!BDN"
constexpr unsigned char kMagicClient[2] = {0x53, 0x4D};        // "SM"
constexpr size_t kAnsiHeaderSize = 512;
constexpr size_t kUnicodeHeaderSize = 564;
}  // namespace

bool PSTFTAUtils::isPSTFileBased(const std::string& path, unsigned long) {
    return isPSTFileBased(kiv::FileByteSource(path));
}

bool PSTFTAUtils::readPSTHeader(const std::string& path, unsigned long, PSTHeader& header) {
    return readPSTHeader(kiv::FileByteSource(path), header);
}

bool PSTFTAUtils::isPSTFileBased(const kiv::ByteSource& src) {
    if (src.size() <= 511) return false;
    kiv::ByteView head = src.head(4);
    if (!head.startsWith(kMagic, sizeof(kMagic))) return false;
    PSTHeader header;
    if (!readPSTHeader(src, header)) return false;
    const uint8_t crypt = header.bCryptMethod;
    return std::memcmp(header.wMagicClient, kMagicClient, 2) == 0 && header.bPlatformCreate == 1 &&
           header.bPlatformAccess == 1 && header.bSentinel == 0x80 &&
           (crypt == 0 || crypt == 1 || crypt == 2 || crypt == 0x10);
}

bool PSTFTAUtils::readPSTHeader(const kiv::ByteSource& src, PSTHeader& header) {
    header = PSTHeader();
    unsigned char raw[kUnicodeHeaderSize] = {};
    if (src.readAt(0, raw, 24) != 24) return false;
    const uint16_t version = kiv::le16(raw, sizeof(raw), 10).value_or(0);
    header.unicode = version != 14 && version != 15;
    const size_t total = header.unicode ? kUnicodeHeaderSize : kAnsiHeaderSize;
    // A file shorter than its header layout is no store, whatever its size claimed.
    if (src.size() < total || src.readAt(24, raw + 24, total - 24) != total - 24) return false;

    std::memcpy(header.dwMagic, raw, 4);
    header.dwCRCPartial = kiv::le32(raw, total, 4).value_or(0);
    std::memcpy(header.wMagicClient, raw + 8, 2);
    header.wVer = version;
    header.wVerClient = kiv::le16(raw, total, 12).value_or(0);
    header.bPlatformCreate = raw[14];
    header.bPlatformAccess = raw[15];
    header.dwReserved1 = kiv::le32(raw, total, 16).value_or(0);
    header.dwReserved2 = kiv::le32(raw, total, 20).value_or(0);
    // ANSI / Unicode: next ids 8/16 bytes, node ids 132, root 40/84, then rgbFM, rgbFP,
    // sentinel, crypt method and 2 reserved bytes (260), then 12 and 36 bytes.
    size_t pos = 24;
    const size_t idBytes = header.unicode ? 16 : 8;
    const size_t rootBytes = header.unicode ? 84 : 40;
    std::memcpy(header.nextIds, raw + pos, idBytes);
    pos += idBytes;
    std::memcpy(header.nodeIds, raw + pos, 132);
    pos += 132;
    std::memcpy(header.root, raw + pos, rootBytes);
    pos += rootBytes;
    std::memcpy(header.rgbFM, raw + pos, 128);
    std::memcpy(header.rgbFP, raw + pos + 128, 128);
    header.bSentinel = raw[pos + 256];
    header.bCryptMethod = raw[pos + 257];
    std::memcpy(header.rgbReserved, raw + pos + 258, 2);
    pos += 260;
    std::memcpy(header.rest, raw + pos, 48);
    return true;
}
