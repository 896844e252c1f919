// Archive detection: an ordered table of byte signatures gives a provisional code, post-rules
// look deeper where the first bytes say too little (ZIP packages, RAR volumes, disk images,
// self-extracting executables), and a tar-header test catches tar files without "ustar".
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "core/ByteSource.h"
#include "formats/archive/ZipArchive.h"

// Archive codes; 0 = no archive. 38, 43 and 44 only live between the signature walk and the
// post-rules.
enum ArchiveType : uint8_t {
    ARCHIVE_NONE = 0,
    ARCHIVE_ZIP = 1,
    ARCHIVE_EXE_PKLITE = 2,
    ARCHIVE_7Z = 3,
    ARCHIVE_EXE_WINZIP = 4,
    ARCHIVE_JAR = 5,
    ARCHIVE_JARCS = 6,
    ARCHIVE_RAR = 7,
    ARCHIVE_TAR = 8,
    ARCHIVE_TAZ = 9,
    ARCHIVE_ISO = 10,
    ARCHIVE_UDF_ISO = 11,
    ARCHIVE_IMG = 12,
    ARCHIVE_GZ = 13,
    ARCHIVE_CAB = 14,
    ARCHIVE_ARC = 15,
    ARCHIVE_ARJ = 16,
    ARCHIVE_LHA = 17,
    ARCHIVE_LZH = 18,
    ARCHIVE_RPM = 19,
    ARCHIVE_DEB = 20,
    ARCHIVE_LZMA = 21,
    ARCHIVE_WIM = 22,
    ARCHIVE_XZ = 23,
    ARCHIVE_CPIO = 24,
    ARCHIVE_CHM = 25,
    ARCHIVE_APK = 26,
    ARCHIVE_XAR = 27,
    ARCHIVE_XPI = 28,
    ARCHIVE_CDR = 29,
    ARCHIVE_DMG = 30,
    ARCHIVE_BZ2 = 31,
    ARCHIVE_MBR = 32,
    ARCHIVE_HFS = 33,
    ARCHIVE_ZLIB = 34,
    ARCHIVE_VDI = 35,
    ARCHIVE_VHD = 36,
    ARCHIVE_BIN_MDF = 37,
    ARCHIVE_MZ = 38,
    ARCHIVE_EXE_SFX = 39,
    ARCHIVE_SAR = 40,
    ARCHIVE_SPLIT_ARC = 41,
    ARCHIVE_PIM = 42,
    ARCHIVE_PIM_CANDIDATE = 43,   // starts 02 "PIM"
    ARCHIVE_PIM2_CANDIDATE = 44,  // starts "PIM2"
};

// One signature row: bytes at offset, counted from the start (mode 0) or back from the end
// (mode 2).
struct ArchiveSignature {
    static constexpr int fromStart = 0;
    static constexpr int fromEnd = 2;

    std::vector<char> bytes;
    uint32_t offset;
    ArchiveType type;
    int mode;

    // text lists the bytes as hexadecimal tokens separated by commas or blanks ("0x50, 0x4B").
    ArchiveSignature(std::string text, unsigned offset, ArchiveType type, int mode);
};

// The 58 signature rows in match order (the order is the priority), built once.
const std::vector<ArchiveSignature>& GetArchiveSignatures();
// Archive type id -> code, for isArchiveFileType.
const std::map<std::string, ArchiveType>& GetArchiveFileTypeMap();

class ArchiveFTAUtils {
public:
    // Builds the tables; they are also built on first use, so calling this again is harmless.
    static void init();

    // True for a compound-document or gzip start with the "!NOT MSG FILE!" marker at the end:
    // such a file is plain data.
    static bool ignoreDetectionFiletype(const std::string& path, unsigned long size);
    static bool ignoreDetectionFiletype(const kiv::ByteSource& src);

    // Signature walk, post-rules, then the tar-header test; 0 = no archive.
    static ArchiveType isArchive(std::string path, unsigned long size);
    static ArchiveType isArchive(const kiv::ByteSource& src);
    static ArchiveType checkArchiveMagicNumber(const kiv::ByteSource& src, uint64_t size);
    // The same walk over memory, raw codes (no post-rules).
    static ArchiveType checkArchiveSignBytes(const unsigned char* data, const unsigned long& size);
    static void adjustArchiveTypes(ArchiveType code, std::string& typeId, std::string& mime, std::string& extensions,
                                   std::string& description);
    static bool isArchiveFileType(const std::string& typeId);

    // Confirms, refines or revokes the walk's code.
    static ArchiveType postHandlingArchive(const kiv::ByteSource& src, uint64_t size, ArchiveType code);

    // Self-extracting executables: an archive behind the last section, or a cabinet resource.
    static bool checkIsSfxArchive(const kiv::ByteSource& src, uint64_t size);
    static bool isWinRarSfx(const kiv::ByteSource& src, uint64_t overlay, uint64_t size);
    static bool is7zSfx(const kiv::ByteSource& src, uint64_t overlay, uint64_t size);
    static bool isZipSfx(const kiv::ByteSource& src, uint64_t overlay, uint64_t size);
    static bool checkPErsrc(const kiv::ByteSource& src, uint64_t size);
};

// One tar header block.
class TarArchive {
public:
    static constexpr uint16_t blockSize = 512;
    static constexpr uint16_t sizeFieldLength = 12;
    static constexpr uint16_t nameFieldLength = 100;
    static constexpr uint16_t checksumOffset = 148;
    static constexpr uint16_t checksumFieldLength = 8;

    // True when the first block is a header, its checksum right, of a directory, a link or a
    // regular file.
    bool isTAR(const kiv::ByteSource& src, uint64_t size);
    // On the header read by isTAR.
    bool isValidFileName() const;
    bool hasValidChecksum() const;
    char getTypeFlag() const;
    bool getFileSize(unsigned long& out) const;

private:
    uint8_t header_[blockSize] = {};
};

// SAP archive header: "CAR" version, then the first entry's kind.
class SARArchive {
public:
    static const char* const archiveMark;    // "CAR"
    static const char* const lowestVersion;  // "2.00"
    static const char* const entryKinds[5];  // "RG", "DR", "SC", "LK", "SV"

    bool isSAR(const kiv::ByteSource& src, uint64_t size);

private:
    uint8_t head_[8] = {};
    uint8_t rest_[34] = {};
};

// Variable-length integer of RAR 5: 7 bits per byte, low group first, top bit = more follow.
class VInt {
public:
    static constexpr int maxByteCount = 10;
    // Reads from position (advanced past the bytes used) while position < limit.
    void ReadVIntValue(const kiv::ByteSource* src, uint64_t& position, uint64_t limit);
    uint64_t GetVIntValue() const { return value_; }

private:
    uint64_t value_ = 0;
};

class RARHeaderParser {
public:
    static const unsigned char RARSignature[8];   // "Rar!" 1A 07 01 00, RAR 5
    static const unsigned char RAR4Signature[7];  // "Rar!" 1A 07 00, RAR 1.5 to 4

    struct RAR5Header {
        uint8_t crc32[4] = {};
        VInt headerSize, headerType, headerFlags, extraAreaSize, archiveFlags, volumeNumber;
    };

    explicit RARHeaderParser(const kiv::ByteSource* src = nullptr) { open(src); }
    bool open(const kiv::ByteSource* src);
    // Forgets the source; never closes it.
    void close();
    // True when a RAR 4 or RAR 5 main header was read; isVolume from its volume flag.
    bool parseRARHeader(bool& isVolume);

private:
    const kiv::ByteSource* src_ = nullptr;
    uint64_t size_ = 0;
};

class PIMArchive {
public:
    static bool isPIM(const kiv::ByteSource& src, const uint64_t& size, const ArchiveType& candidate);
};
