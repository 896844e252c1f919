// The ZIP record layout, named once: the record signatures and lengths, the flag bits and
// field values the readers test, the three records they decode (local file header, central
// directory file header, end of central directory) and the search for the end record. Every
// reader of ZIP files (member access, the in-process member reader, self-extractors, the
// package probes) takes the layout from here.
#pragma once

#include <cstdint>

#include "core/ArchiveRead.h"
#include "core/ByteSource.h"

namespace kiv::zip {

// Signatures, as the little-endian values the records start with and as their bytes.
constexpr uint32_t kLocalHeaderSig = 0x04034B50;    // "PK" 03 04
constexpr uint32_t kCentralHeaderSig = 0x02014B50;  // "PK" 01 02
constexpr uint32_t kEndRecordSig = 0x06054B50;      // "PK" 05 06
constexpr uint32_t kZip64LocatorSig = 0x07064B50;   // "PK" 06 07
inline constexpr unsigned char kLocalHeaderBytes[4] = {'P', 'K', 0x03, 0x04};
inline constexpr unsigned char kCentralHeaderBytes[4] = {'P', 'K', 0x01, 0x02};
inline constexpr unsigned char kEndRecordBytes[4] = {'P', 'K', 0x05, 0x06};

// Fixed lengths, before the variable-length name, extra field and comment.
constexpr uint16_t kLocalHeaderLen = 30;
constexpr uint16_t kCentralHeaderLen = 46;
constexpr uint16_t kEndRecordLen = 22;
constexpr uint16_t kZip64LocatorLen = 20;

// General-purpose flag bits.
constexpr uint16_t kFlagEncrypted = 0x0001;
constexpr uint16_t kFlagDeflateOptions = 0x0006;  // bits 1 and 2: the deflate level used
constexpr uint16_t kFlagDataDescriptor = 0x0008;  // CRC and sizes follow the data
constexpr uint16_t kFlagUtf8Names = 0x0800;

// Compression methods.
constexpr uint16_t kMethodStored = 0;
constexpr uint16_t kMethodDeflated = 8;

// A 32-bit size or offset (a 16-bit count) with all bits set stands for a value kept in the
// ZIP64 records.
constexpr uint32_t kZip64Marker = 0xFFFFFFFF;
constexpr uint16_t kZip64CountMarker = 0xFFFF;

// Extra-field block ids: ZIP64 sizes, and the Info-ZIP Unicode path that renames a member.
constexpr uint16_t kExtraZip64 = 0x0001;
constexpr uint16_t kExtraUnicodePath = 0x7075;

// External attributes: the MS-DOS directory bit, and the Unix file type in the high word.
constexpr uint32_t kDosDirectoryAttribute = 0x10;
constexpr uint32_t kUnixTypeMask = 0xF000;
constexpr uint32_t kUnixRegular = 0x8000;

// Offset answer meaning "no record".
constexpr uint64_t kNotFound = UINT64_MAX;

// The 30-byte local file header, little-endian on disk.
struct LocalFileHeader {
    uint32_t signature = 0;
    uint16_t versionNeeded = 0;
    uint16_t flags = 0;
    uint16_t compression = 0;
    uint16_t modTime = 0;
    uint16_t modDate = 0;
    uint32_t crc32 = 0;
    uint32_t compressedSize = 0;
    uint32_t uncompressedSize = 0;
    uint16_t fileNameLength = 0;
    uint16_t extraFieldLength = 0;
    // Decodes the 30 header bytes at b.
    void parse(const uint8_t* b) {
        signature = archive::getLE32(b);
        versionNeeded = archive::getLE16(b + 4);
        flags = archive::getLE16(b + 6);
        compression = archive::getLE16(b + 8);
        modTime = archive::getLE16(b + 10);
        modDate = archive::getLE16(b + 12);
        crc32 = archive::getLE32(b + 14);
        compressedSize = archive::getLE32(b + 18);
        uncompressedSize = archive::getLE32(b + 22);
        fileNameLength = archive::getLE16(b + 26);
        extraFieldLength = archive::getLE16(b + 28);
    }
};

// The 46-byte central directory file header, little-endian on disk.
struct CentralDirFileHeader {
    uint32_t signature = 0;
    uint16_t versionMadeBy = 0;
    uint16_t versionNeeded = 0;
    uint16_t flags = 0;
    uint16_t compression = 0;
    uint16_t modTime = 0;
    uint16_t modDate = 0;
    uint32_t crc32 = 0;
    uint32_t compressedSize = 0;
    uint32_t uncompressedSize = 0;
    uint16_t fileNameLength = 0;     // offset 28
    uint16_t extraFieldLength = 0;   // offset 30
    uint16_t fileCommentLength = 0;  // offset 32
    uint16_t diskNumberStart = 0;
    uint16_t internalAttributes = 0;
    uint32_t externalAttributes = 0;
    uint32_t localHeaderOffset = 0;
    // Decodes the 46 header bytes at b.
    void parse(const uint8_t* b) {
        signature = archive::getLE32(b);
        versionMadeBy = archive::getLE16(b + 4);
        versionNeeded = archive::getLE16(b + 6);
        flags = archive::getLE16(b + 8);
        compression = archive::getLE16(b + 10);
        modTime = archive::getLE16(b + 12);
        modDate = archive::getLE16(b + 14);
        crc32 = archive::getLE32(b + 16);
        compressedSize = archive::getLE32(b + 20);
        uncompressedSize = archive::getLE32(b + 24);
        fileNameLength = archive::getLE16(b + 28);
        extraFieldLength = archive::getLE16(b + 30);
        fileCommentLength = archive::getLE16(b + 32);
        diskNumberStart = archive::getLE16(b + 34);
        internalAttributes = archive::getLE16(b + 36);
        externalAttributes = archive::getLE32(b + 38);
        localHeaderOffset = archive::getLE32(b + 42);
    }
};

// The 22-byte end of central directory record, little-endian on disk.
struct EndRecord {
    uint32_t signature = 0;
    uint16_t diskNumber = 0;
    uint16_t directoryDisk = 0;
    uint16_t recordsOnDisk = 0;
    uint16_t records = 0;          // offset 10
    uint32_t directorySize = 0;    // offset 12
    uint32_t directoryOffset = 0;  // offset 16
    uint16_t commentLength = 0;    // offset 20
    // Decodes the 22 record bytes at b.
    void parse(const uint8_t* b) {
        signature = archive::getLE32(b);
        diskNumber = archive::getLE16(b + 4);
        directoryDisk = archive::getLE16(b + 6);
        recordsOnDisk = archive::getLE16(b + 8);
        records = archive::getLE16(b + 10);
        directorySize = archive::getLE32(b + 12);
        directoryOffset = archive::getLE32(b + 16);
        commentLength = archive::getLE16(b + 20);
    }
};

// The end record searched back from the end: the highest "PK" 05 06 that starts at least 22
// bytes before the end (a file shorter than that: at 0) within the last 65535 + 22 bytes, the
// record with the largest comment. Nothing else of the record is checked; kNotFound when none.
uint64_t findEndRecord(const ByteSource& src, uint64_t size);

}  // namespace kiv::zip
