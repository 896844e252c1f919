#include "formats/archive/ZipFormat.h"

#include "engine/Limits.h"
#include "formats/archive/ArchiveRead.h"

namespace kiv::zip {

using archive::getLE16;
using archive::getLE32;

void LocalFileHeader::parse(const uint8_t* b) {
    signature = getLE32(b);
    versionNeeded = getLE16(b + 4);
    flags = getLE16(b + 6);
    compression = getLE16(b + 8);
    modTime = getLE16(b + 10);
    modDate = getLE16(b + 12);
    crc32 = getLE32(b + 14);
    compressedSize = getLE32(b + 18);
    uncompressedSize = getLE32(b + 22);
    fileNameLength = getLE16(b + 26);
    extraFieldLength = getLE16(b + 28);
}

void CentralDirFileHeader::parse(const uint8_t* b) {
    signature = getLE32(b);
    versionMadeBy = getLE16(b + 4);
    versionNeeded = getLE16(b + 6);
    flags = getLE16(b + 8);
    compression = getLE16(b + 10);
    modTime = getLE16(b + 12);
    modDate = getLE16(b + 14);
    crc32 = getLE32(b + 16);
    compressedSize = getLE32(b + 20);
    uncompressedSize = getLE32(b + 24);
    fileNameLength = getLE16(b + 28);
    extraFieldLength = getLE16(b + 30);
    fileCommentLength = getLE16(b + 32);
    diskNumberStart = getLE16(b + 34);
    internalAttributes = getLE16(b + 36);
    externalAttributes = getLE32(b + 38);
    localHeaderOffset = getLE32(b + 42);
}

void EndRecord::parse(const uint8_t* b) {
    signature = getLE32(b);
    diskNumber = getLE16(b + 4);
    directoryDisk = getLE16(b + 6);
    recordsOnDisk = getLE16(b + 8);
    records = getLE16(b + 10);
    directorySize = getLE32(b + 12);
    directoryOffset = getLE32(b + 16);
    commentLength = getLE16(b + 20);
}

uint64_t findEndRecord(const ByteSource& src, uint64_t size) {
    const uint64_t windowStart = size > limits::kZipEndRecordWindow ? size - limits::kZipEndRecordWindow : 0;
    const uint64_t lastCandidate = size > kEndRecordLen ? size - kEndRecordLen : 0;
    src.tail(static_cast<size_t>(limits::kZipEndRecordWindow));  // cached: later name tests reread it
    // One window holds every candidate, lastCandidate down to windowStart, with its 4 bytes.
    WindowReader in(src, static_cast<size_t>(limits::kZipEndRecordWindow));
    return in.rfind(kEndRecordBytes, sizeof kEndRecordBytes, windowStart, lastCandidate + sizeof kEndRecordBytes);
}

}  // namespace kiv::zip
