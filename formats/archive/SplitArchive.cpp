#include "formats/archive/SplitArchive.h"

#include <cstdint>

#include "core/ArchiveRead.h"
#include "core/ByteUtils.h"
#include "formats/archive/ZipArchive.h"

using kiv::ByteSource;
using kiv::archive::getLE32;
using kiv::archive::readZ;

namespace {

// tar ends with two zero blocks of 512 bytes; a piece cut from the middle does not.
constexpr unsigned long kTarEndMarkerLen = 1024;
// xz stream footer: CRC32, backward size, stream flags, then the magic "YZ" as its last two bytes.
constexpr uint16_t kXzFooterMagic = 0x5A59;
constexpr unsigned long kXzFooterReadLen = 4;
// 7z start header: signature (6), version (2), CRC (4), then the next header's offset (8),
// size (8) and CRC (4); the next header sits at 32 + offset.
constexpr unsigned long kSevenZipStartHeaderLen = 32;
constexpr uint64_t kSevenZipNextOffsetAt = 12;
constexpr uint64_t kSevenZipNextSizeAt = 20;

}  // namespace

const std::map<std::string, SplitArchive::SplitTest> SplitArchive::splitFuntionHandler = {
    {"ZIP", &SplitArchive::isSplitZip}, {"TAR", &SplitArchive::isSplitTar}, {"XZ", &SplitArchive::isSplitXZ},
    {"7Z", &SplitArchive::isSplit7z},   {"GZ", &SplitArchive::isSplitGZ},
};

const std::map<std::string, std::string> SplitArchive::splitMimeType = {
    {"ZIP", "application/zip"},
    {"TAR", "application/x-tar"},
};

bool SplitArchive::isSplitExtension(const std::string& extension) {
    bool digitSeen = false;
    for (char ch : extension) {
        const unsigned char c = static_cast<unsigned char>(ch);
        if (kiv::isAsciiDigit(c))
            digitSeen = true;
        else if (digitSeen && kiv::isAsciiAlpha(c))
            return false;
    }
    return digitSeen;
}

bool SplitArchive::isSplitZip(const ByteSource& src, const unsigned long& size) {
    // Only the last volume carries the end-of-central-directory record.
    return ZipArchive::findEndCentralDirFromBot(src, size) == ZipArchive::notFound;
}

bool SplitArchive::isSplitTar(const ByteSource& src, const unsigned long& size) {
    if (size <= kTarEndMarkerLen) return true;
    uint8_t end[kTarEndMarkerLen];
    // Bytes that cannot be read leave the whole-archive verdict standing.
    if (readZ(src, size - kTarEndMarkerLen, end, sizeof end) != sizeof end) return false;
    return !ByteUtils::compareArrayValue(end, 0, static_cast<unsigned int>(sizeof end));
}

bool SplitArchive::isSplitXZ(const ByteSource& src, const unsigned long& size) {
    if (size <= kXzFooterReadLen) return true;
    uint8_t last[kXzFooterReadLen];
    if (readZ(src, size - kXzFooterReadLen, last, sizeof last) != sizeof last) return false;
    const uint32_t v = getLE32(last);
    // A mask test at three positions, not an equality test: "YZ" anywhere in the last four
    // bytes passes, and so does any pair with all of its bits set.
    const auto hasFooterBits = [](uint32_t x) { return (x & kXzFooterMagic) == kXzFooterMagic; };
    return !(hasFooterBits(v) || hasFooterBits(v >> 8) || hasFooterBits(static_cast<uint16_t>(v >> 16)));
}

bool SplitArchive::isSplit7z(const ByteSource& src, const unsigned long& size) {
    if (size <= kSevenZipStartHeaderLen) return true;
    uint8_t header[kSevenZipStartHeaderLen];
    if (readZ(src, 0, header, sizeof header) != sizeof header) return false;
    const uint64_t nextOffset = kiv::le64(header, sizeof header, kSevenZipNextOffsetAt).value_or(0);
    const uint64_t nextSize = kiv::le64(header, sizeof header, kSevenZipNextSizeAt).value_or(0);
    // The first volume's start header points at the next header in the last volume, past
    // this file's end. A sum that overflows lies past any end too.
    uint64_t end = 0;
    if (!kiv::checkedAdd(nextOffset, nextSize, end) || !kiv::checkedAdd(end, kSevenZipStartHeaderLen, end)) return true;
    return end > size;
}

bool SplitArchive::isSplitGZ(const ByteSource&, const unsigned long&) {
    // A gzip piece cannot be told from a whole stream without inflating it to the trailer;
    // any gzip file named like a volume counts as one.
    return true;
}
