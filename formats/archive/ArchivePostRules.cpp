// Post-rules of the archive walk and the small header parsers they use.
#include <algorithm>
#include <cstring>
#include <vector>

#include "core/ArchiveRead.h"
#include "core/Limits.h"
#include "formats/archive/ArchiveFTAUtils.h"

using kiv::ByteSource;
using kiv::archive::bytesAt;
using kiv::archive::readLE16;
using kiv::archive::readZ;

namespace {

// ZIP members that mark the packages built on ZIP.
enum ZipMember : unsigned {
    kManifestLower = 1u << 0,    // "META-INF/manifest.mf"
    kManifestUpper = 1u << 1,    // "META-INF/MANIFEST.MF"
    kAndroidManifest = 1u << 2,  // "AndroidManifest.xml"
    kManifestJson = 1u << 3,     // "manifest.json"
    kInstallRdf = 1u << 4,       // "install.rdf"
    kMetaInfMetadata = 1u << 5,  // "META-INF/metadata.xml"
    kMetaInfTextinfo = 1u << 6,  // "META-INF/textinfo.xml"
    kMetadata = 1u << 7,         // "metadata/metadata.xml"
    kTextinfo = 1u << 8,         // "metadata/textinfo.xml"
};

const char* const kZipMemberNames[] = {
    "META-INF/manifest.mf",  "META-INF/MANIFEST.MF",  "AndroidManifest.xml",   "manifest.json",         "install.rdf",
    "META-INF/metadata.xml", "META-INF/textinfo.xml", "metadata/metadata.xml", "metadata/textinfo.xml",
};

// One directory walk answers all nine name tests the ZIP rule asks.
unsigned listedZipMembers(const ByteSource& src, uint64_t size) {
    unsigned found = 0;
    ZipArchive::forEachCentralDirName(src, size, [&](const char* name, uint16_t len) {
        for (unsigned i = 0; i < sizeof kZipMemberNames / sizeof kZipMemberNames[0]; ++i) {
            const char* want = kZipMemberNames[i];
            if (std::strlen(want) == len && std::memcmp(want, name, len) == 0) found |= 1u << i;
        }
        return true;
    });
    return found;
}

ArchiveType refineZip(const ByteSource& src, uint64_t size) {
    const unsigned m = listedZipMembers(src, size);
    if (m & (kManifestLower | kManifestUpper)) {
        if (m & kAndroidManifest) return ARCHIVE_APK;
        if (m & (kManifestJson | kInstallRdf)) return ARCHIVE_XPI;
        return ARCHIVE_JAR;
    }
    const bool metaInfPair = (m & kMetaInfMetadata) && (m & kMetaInfTextinfo);
    const bool metadataPair = (m & kMetadata) && (m & kTextinfo);
    return metaInfPair || metadataPair ? ARCHIVE_CDR : ARCHIVE_ZIP;
}

// A boot sector may also open a CD image: look for the volume descriptor mark.
ArchiveType refineMbr(const ByteSource& src, uint64_t size) {
    uint8_t bootFlag = 0;
    readZ(src, 446, &bootFlag, 1);
    ArchiveType code = bootFlag == 0x00 || bootFlag == 0x80 ? ARCHIVE_MBR : ARCHIVE_NONE;
    for (uint64_t pos : {32769u, 34817u, 36865u}) {
        if (size <= pos + 5) break;
        if (bytesAt(src, pos, "CD001", 5)) return ARCHIVE_ISO;
    }
    return code;
}

// Raw CD sectors of 2352 bytes: 12-byte sync (00, ten FF, 00), then mode 0, 1 or 2; mode-1
// sectors carry 8 zero bytes at 2068 (the reserved field before the error-correction codes).
ArchiveType confirmCdSectors(const ByteSource& src, uint64_t size) {
    constexpr uint64_t kSector = 2352;
    constexpr uint64_t kSectorsPerRead = 64;
    static const uint8_t kSync[12] = {0x00, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x00};
    static const uint8_t kZero8[8] = {};
    if (size % kSector != 0) return ARCHIVE_NONE;
    const uint64_t sectors = size / kSector;
    if (sectors > kiv::limits::kCdSectorWalkMaxSectors) return ARCHIVE_NONE;
    std::vector<uint8_t> block(static_cast<size_t>(kSector * kSectorsPerRead));
    for (uint64_t first = 0; first < sectors; first += kSectorsPerRead) {
        const uint64_t count = std::min(kSectorsPerRead, sectors - first);
        readZ(src, first * kSector, block.data(), static_cast<size_t>(count * kSector));
        for (uint64_t i = 0; i < count; ++i) {
            const uint8_t* s = block.data() + i * kSector;
            if (std::memcmp(s, kSync, sizeof kSync) != 0) return ARCHIVE_NONE;
            const uint8_t mode = s[15];
            if (mode == 1) {
                if (std::memcmp(s + 2068, kZero8, 8) != 0) return ARCHIVE_NONE;
            } else if (mode != 0 && mode != 2) {
                return ARCHIVE_NONE;
            }
        }
    }
    return ARCHIVE_BIN_MDF;
}

}  // namespace

ArchiveType ArchiveFTAUtils::postHandlingArchive(const ByteSource& src, uint64_t size, ArchiveType code) {
    switch (code) {
        case ARCHIVE_ZIP:
            return refineZip(src, size);
        case ARCHIVE_RAR: {
            bool isVolume = false;
            RARHeaderParser parser(&src);
            return parser.parseRARHeader(isVolume) && isVolume ? ARCHIVE_SPLIT_ARC : ARCHIVE_RAR;
        }
        case ARCHIVE_IMG:
            // A lone boot sector quoting the loader message is no disk image.
            return readLE16(src, 510) == 0xAA55 && size <= 512 ? ARCHIVE_NONE : ARCHIVE_IMG;
        case ARCHIVE_BZ2:
        case ARCHIVE_ZLIB:
            // Disk images end in a 512-byte "koly" trailer behind compressed data.
            return size >= 513 && bytesAt(src, size - 512, "koly", 4) ? ARCHIVE_DMG : code;
        case ARCHIVE_MBR:
            return refineMbr(src, size);
        case ARCHIVE_BIN_MDF:
            return confirmCdSectors(src, size);
        case ARCHIVE_MZ:
            return checkIsSfxArchive(src, size) || checkPErsrc(src, size) ? ARCHIVE_EXE_SFX : ARCHIVE_NONE;
        case ARCHIVE_SAR:
            return SARArchive().isSAR(src, size) ? ARCHIVE_SAR : ARCHIVE_NONE;
        case ARCHIVE_PIM_CANDIDATE:
        case ARCHIVE_PIM2_CANDIDATE:
            return PIMArchive::isPIM(src, size, code) ? ARCHIVE_PIM : ARCHIVE_NONE;
        default:
            return code;
    }
}

// --- tar -------------------------------------------------------------------------------

bool TarArchive::isTAR(const ByteSource& src, uint64_t size) {
    if (size < blockSize) return false;
    if (readZ(src, 0, header_, blockSize) != blockSize) return false;
    if (!isValidFileName()) return false;
    unsigned long fileSize = 0;
    if (!getFileSize(fileSize)) return false;
    // Every tar writer fills the checksum; without it, any text with octal digits at 124 and a
    // '0' at 156 would pass.
    if (!hasValidChecksum()) return false;
    switch (getTypeFlag()) {
        case '5':  // directory
        case '1':  // hard link
        case '2':  // symbolic link
            return fileSize == 0;
        case '0':   // regular file
        case '\0':  // regular file in the V7 format, which GNU tar and bsdtar still write
            // The checksum vouches for the header, so an empty file counts too: a V7 archive
            // whose first member is empty opens exactly so.
            return true;
        default:
            return false;
    }
}

bool TarArchive::hasValidChecksum() const {
    // Octal text, blanks before it, ended by NUL or blank (writers differ in which).
    const uint8_t* field = header_ + checksumOffset;
    uint16_t i = 0;
    while (i < checksumFieldLength && field[i] == ' ') ++i;
    const uint16_t start = i;
    uint32_t stored = 0;
    for (; i < checksumFieldLength && field[i] >= '0' && field[i] <= '7'; ++i) stored = stored * 8 + (field[i] - '0');
    if (i == start) return false;
    if (i < checksumFieldLength && field[i] != '\0' && field[i] != ' ') return false;

    // The sum of the header's bytes with the checksum field counted as blanks; old writers
    // summed signed chars, and readers accept both.
    uint32_t unsignedSum = 0;
    int32_t signedSum = 0;
    for (uint16_t k = 0; k < blockSize; ++k) {
        const bool inField = k >= checksumOffset && k < checksumOffset + checksumFieldLength;
        const uint8_t b = inField ? uint8_t(' ') : header_[k];
        unsignedSum += b;
        signedSum += static_cast<int8_t>(b);
    }
    return stored == unsignedSum || static_cast<int64_t>(stored) == signedSum;
}

bool TarArchive::isValidFileName() const {
    static const char kForbidden[] = {':', '*', '?', '"', '<', '>', '|'};
    // All 100 bytes count, also those after a NUL.
    for (uint16_t i = 0; i < nameFieldLength; ++i) {
        if (std::find(std::begin(kForbidden), std::end(kForbidden), static_cast<char>(header_[i])) !=
            std::end(kForbidden))
            return false;
    }
    return true;
}

char TarArchive::getTypeFlag() const { return static_cast<char>(header_[156]); }

bool TarArchive::getFileSize(unsigned long& out) const {
    // The 12-byte octal field need not end in NUL: parse only its own bytes.
    const uint8_t* field = header_ + 124;
    for (uint16_t i = 0; i < sizeFieldLength; ++i) {
        const uint8_t c = field[i];
        if (!(c >= '0' && c <= '7') && c != '\0' && c != ' ') return false;
    }
    uint16_t i = 0;
    while (i < sizeFieldLength && field[i] == ' ') ++i;
    if (i == sizeFieldLength || field[i] < '0' || field[i] > '7') return false;
    unsigned long value = 0;
    for (; i < sizeFieldLength && field[i] >= '0' && field[i] <= '7'; ++i) value = value * 8 + (field[i] - '0');
    out = value;
    return true;
}

// --- SAP archive -------------------------------------------------------------------------

const char* const SARArchive::archiveMark = "CAR";
const char* const SARArchive::lowestVersion = "2.00";
const char* const SARArchive::entryKinds[5] = {"RG", "DR", "SC", "LK", "SV"};

bool SARArchive::isSAR(const ByteSource& src, uint64_t) {
    if (readZ(src, 0, head_, sizeof head_) != sizeof head_) return false;
    if (std::memcmp(head_, archiveMark, 3) != 0) return false;
    // Versions are "2.00", "2.01"...: the first three characters decide.
    if (std::memcmp(head_ + 4, lowestVersion, 3) < 0) return false;
    if (readZ(src, sizeof head_, rest_, sizeof rest_) != sizeof rest_) return false;
    for (const char* kind : entryKinds)
        if (std::memcmp(rest_, kind, 2) == 0) return true;
    return false;
}

// --- RAR ---------------------------------------------------------------------------------

const unsigned char RARHeaderParser::RARSignature[8] = {'R', 'a', 'r', '!', 0x1A, 0x07, 0x01, 0x00};
const unsigned char RARHeaderParser::RAR4Signature[7] = {'R', 'a', 'r', '!', 0x1A, 0x07, 0x00};

void VInt::ReadVIntValue(const ByteSource* src, uint64_t& position, uint64_t limit) {
    for (int i = 0; i < maxByteCount && position < limit; ++i) {
        uint8_t b = 0;
        if (src->readAt(position, &b, 1) != 1) return;
        ++position;
        value_ += static_cast<uint64_t>(b & 0x7F) << (7 * i);
        if ((b & 0x80) == 0) return;
    }
}

bool RARHeaderParser::open(const ByteSource* src) {
    src_ = src;
    size_ = src ? src->size() : 0;
    return src != nullptr;
}

void RARHeaderParser::close() {
    src_ = nullptr;
    size_ = 0;
}

bool RARHeaderParser::parseRARHeader(bool& isVolume) {
    isVolume = false;
    if (src_ == nullptr || size_ < 8) return false;
    uint8_t sig[8];
    readZ(*src_, 0, sig, sizeof sig);
    if (std::memcmp(sig, RARSignature, sizeof RARSignature) == 0) {
        // Main archive header: CRC, size, type, flags, [extra-area size], archive flags; bit 0
        // of the archive flags marks a volume.
        RAR5Header h;
        readZ(*src_, 8, h.crc32, sizeof h.crc32);
        uint64_t pos = 12;
        h.headerSize.ReadVIntValue(src_, pos, size_);
        h.headerType.ReadVIntValue(src_, pos, size_);
        h.headerFlags.ReadVIntValue(src_, pos, size_);
        if (h.headerFlags.GetVIntValue() & 0x1) h.extraAreaSize.ReadVIntValue(src_, pos, size_);
        h.archiveFlags.ReadVIntValue(src_, pos, size_);
        h.volumeNumber.ReadVIntValue(src_, pos, size_);
        isVolume = (h.archiveFlags.GetVIntValue() & 0x1) != 0;
        return true;
    }
    if (std::memcmp(sig, RAR4Signature, sizeof RAR4Signature) == 0) {
        // Main header at 7: CRC u16, type u8, flags u16; flag 0x0001 marks a volume.
        uint8_t mainHeader[13];
        readZ(*src_, 7, mainHeader, sizeof mainHeader);
        isVolume = (mainHeader[3] & 0x1) != 0;
        return true;
    }
    return false;
}

// --- PIM ---------------------------------------------------------------------------------

bool PIMArchive::isPIM(const ByteSource& src, const uint64_t& size, const ArchiveType& candidate) {
    constexpr size_t kNameMax = 255;  // the name and its NUL
    uint8_t name[kNameMax];
    const size_t got = readZ(src, 6, name, sizeof name);
    const void* nul = std::memchr(name, 0, got);
    if (nul == nullptr) return false;
    uint64_t pos = 6 + static_cast<uint64_t>(static_cast<const uint8_t*>(nul) - name) + 1;

    uint8_t sizes[8];
    if (readZ(src, pos, sizes, sizeof sizes) != sizeof sizes) return false;
    const uint32_t first = kiv::archive::getLE32(sizes);
    const uint32_t second = kiv::archive::getLE32(sizes + 4);
    if (first < second) return false;
    uint64_t end = pos + sizeof sizes + second;

    const char* next = "\x02PIM";
    if (candidate == ARCHIVE_PIM2_CANDIDATE) {
        end += 4;
        next = "PIM2";
    } else if (candidate != ARCHIVE_PIM_CANDIDATE) {
        return false;
    }
    if (end == size) return true;
    return end < size && bytesAt(src, end, next, 4);
}
