#include "formats/archive/ArchiveFTAUtils.h"

#include <cstring>

#include "core/ArchiveRead.h"
#include "core/ByteUtils.h"
#include "core/ResultRow.h"
#include "core/TypeTables.h"

using kiv::ByteSource;
using kiv::archive::readZ;

ArchiveSignature::ArchiveSignature(std::string text, unsigned off, ArchiveType t, int m)
    : offset(off), type(t), mode(m) {
    for (char& c : text)
        if (c == ',') c = ' ';
    size_t i = 0;
    while (i < text.size()) {
        while (i < text.size() && kiv::isAsciiSpace(static_cast<unsigned char>(text[i]))) ++i;
        size_t end = i;
        while (end < text.size() && !kiv::isAsciiSpace(static_cast<unsigned char>(text[end]))) ++end;
        if (end == i) break;
        std::string token = text.substr(i, end - i);
        i = end;
        size_t p = 0;
        if (token.size() > 2 && token[0] == '0' && (token[1] == 'x' || token[1] == 'X')) p = 2;
        uint32_t value = 0;
        size_t digits = 0;
        for (; p < token.size() && value <= 0xFFFF; ++p, ++digits) {
            const char c = kiv::asciiToLower(static_cast<unsigned char>(token[p]));
            if (kiv::isAsciiDigit(static_cast<unsigned char>(c)))
                value = value * 16 + static_cast<uint32_t>(c - '0');
            else if (c >= 'a' && c <= 'f')
                value = value * 16 + static_cast<uint32_t>(c - 'a' + 10);
            else
                break;
        }
        // A token that is no 16-bit hexadecimal number adds nothing.
        if (digits > 0 && value <= 0xFFFF) bytes.push_back(static_cast<char>(value & 0xFF));
    }
}

const std::vector<ArchiveSignature>& GetArchiveSignatures() {
    constexpr int S = ArchiveSignature::fromStart;
    constexpr int E = ArchiveSignature::fromEnd;
    // Match order is priority: every offset-0 row comes first, so a file that starts "MZ"
    // is sent to the self-extractor test before the PKLITE (30) or WinZip (29152) rows.
    static const std::vector<ArchiveSignature> rows = {
        {"0x50, 0x4B, 0x03, 0x04", 0, ARCHIVE_ZIP, S},
        {"0x50, 0x4B, 0x53, 0x70, 0x58", 0, ARCHIVE_ZIP, S},  // "PKSpX"
        {"0x50, 0x4B, 0x05, 0x06", 0, ARCHIVE_ZIP, S},
        {"0x50, 0x4B, 0x07, 0x08", 0, ARCHIVE_ZIP, S},
        {"0x37, 0x7A, 0xBC, 0xAF, 0x27, 0x1C", 0, ARCHIVE_7Z, S},
        {"0x5F, 0x27, 0xA8, 0x89", 0, ARCHIVE_JAR, S},
        {"0x4A, 0x41, 0x52, 0x43, 0x53, 0x00", 0, ARCHIVE_JARCS, S},  // "JARCS"
        {"0x52, 0x61, 0x72, 0x21, 0x1A, 0x07, 0x00", 0, ARCHIVE_RAR, S},
        {"0x52, 0x45, 0x7E, 0x5E", 0, ARCHIVE_RAR, S},  // "RE~^"
        {"0x52, 0x61, 0x72, 0x21, 0x1A, 0x07, 0x01, 0x00", 0, ARCHIVE_RAR, S},
        {"0x1F, 0x9D, 0x90", 0, ARCHIVE_TAZ, S},
        {"0x1F, 0xA0", 0, ARCHIVE_TAZ, S},
        {"0x1F, 0x8B, 0x08", 0, ARCHIVE_GZ, S},
        {"0x1F, 0xFF, 0xFF, 0xFF, 0x8B, 0x08", 0, ARCHIVE_GZ, S},
        {"0x42, 0x5A, 0x68", 0, ARCHIVE_BZ2, S},        // "BZh"
        {"0x49, 0x53, 0x63, 0x28", 0, ARCHIVE_CAB, S},  // "ISc("
        {"0x4D, 0x53, 0x43, 0x46", 0, ARCHIVE_CAB, S},  // "MSCF"
        {"0xC7, 0x71", 0, ARCHIVE_CPIO, S},
        {"0x30, 0x37, 0x30, 0x37, 0x30, 0x31", 0, ARCHIVE_CPIO, S},  // "070701"
        {"0x30, 0x37, 0x30, 0x37, 0x30, 0x32", 0, ARCHIVE_CPIO, S},  // "070702"
        {"0x30, 0x37, 0x30, 0x37, 0x30, 0x37", 0, ARCHIVE_CPIO, S},  // "070707"
        {"0x1A, 0x02", 0, ARCHIVE_ARC, S},
        {"0x1A, 0x03", 0, ARCHIVE_ARC, S},
        {"0x1A, 0x04", 0, ARCHIVE_ARC, S},
        {"0x1A, 0x08", 0, ARCHIVE_ARC, S},
        {"0x1A, 0x09", 0, ARCHIVE_ARC, S},
        {"0x60, 0xEA", 0, ARCHIVE_ARJ, S},
        {"0x00, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x00", 0, ARCHIVE_BIN_MDF, S},
        {"0x2D, 0x6C, 0x68", 0, ARCHIVE_LHA, S},  // "-lh"
        {"0xED, 0xAB, 0xEE, 0xDB", 0, ARCHIVE_RPM, S},
        {"0x21, 0x3C, 0x61, 0x72, 0x63, 0x68, 0x3E, 0x0A, 0x64, 0x65, 0x62, 0x69, 0x61, 0x6E, 0x2D, 0x62, 0x69, "
         "0x6E, 0x61, 0x72, 0x79, 0x20, 0x20, 0x20",
         0, ARCHIVE_DEB, S},  // "!<arch>\ndebian-binary   "
        {"0x5D, 0x00, 0x00", 0, ARCHIVE_LZMA, S},
        {"0x4D, 0x53, 0x57, 0x49, 0x4D", 0, ARCHIVE_WIM, S},  // "MSWIM"
        {"0xFD, 0x37, 0x7A, 0x58, 0x5A, 0x00", 0, ARCHIVE_XZ, S},
        {"0x49, 0x54, 0x53, 0x46", 0, ARCHIVE_CHM, S},  // "ITSF"
        {"0x78, 0x61, 0x72, 0x21", 0, ARCHIVE_XAR, S},  // "xar!"
        {"0x78, 0x01", 0, ARCHIVE_ZLIB, S},
        {"0x78, 0x9C", 0, ARCHIVE_ZLIB, S},
        {"0x78, 0xDA", 0, ARCHIVE_ZLIB, S},
        {"0x4D, 0x5A", 0, ARCHIVE_MZ, S},               // "MZ"
        {"0x43, 0x41, 0x52, 0x20", 0, ARCHIVE_SAR, S},  // "CAR "
        {"0x02, 0x50, 0x49, 0x4D", 0, ARCHIVE_PIM_CANDIDATE, S},
        {"0x50, 0x49, 0x4D, 0x32", 0, ARCHIVE_PIM2_CANDIDATE, S},  // "PIM2"
        {"0x2D, 0x6C, 0x68", 2, ARCHIVE_LZH, S},                   // "-lh" after the header size and sum
        {"0x4F, 0x72, 0x61, 0x63, 0x6C, 0x65, 0x20, 0x56, 0x4D, 0x20, 0x56, 0x69, 0x72, 0x74, 0x75, 0x61, 0x6C, "
         "0x42, 0x6F, 0x78, 0x20, 0x44, 0x69, 0x73, 0x6B, 0x20, 0x49, 0x6D, 0x61, 0x67, 0x65",
         4, ARCHIVE_VDI, S},                                                // "Oracle VM VirtualBox Disk Image"
        {"0x50, 0x4B, 0x4C, 0x49, 0x54, 0x45", 30, ARCHIVE_EXE_PKLITE, S},  // "PKLITE"
        {"0x75, 0x73, 0x74, 0x61, 0x72", 257, ARCHIVE_TAR, S},              // "ustar"
        {"0x42, 0x4F, 0x4F, 0x54, 0x4D, 0x47, 0x52, 0x20, 0x69, 0x73, 0x20, 0x63, 0x6F, 0x6D, 0x70, 0x72, 0x65, "
         "0x73, 0x73, 0x65, 0x64",
         448, ARCHIVE_IMG, S},  // "BOOTMGR is compressed"
        {"0x55, 0xAA", 510, ARCHIVE_MBR, S},
        {"0x63, 0x6F, 0x6E, 0x65, 0x63, 0x74, 0x69, 0x78", 512, ARCHIVE_VHD, E},  // "conectix" footer
        {"0x50, 0x4B, 0x53, 0x70, 0x58", 526, ARCHIVE_ZIP, S},                    // "PKSpX"
        // HFS+ and HFSX volume headers: the signature, then the big-endian version 4 or 5.
        {"0x48, 0x2B, 0x00, 0x04", 1024, ARCHIVE_HFS, S},                      // "H+"
        {"0x48, 0x58, 0x00, 0x05", 1024, ARCHIVE_HFS, S},                      // "HX"
        {"0x57, 0x69, 0x6E, 0x5A, 0x69, 0x70", 29152, ARCHIVE_EXE_WINZIP, S},  // "WinZip"
        {"0x43, 0x44, 0x30, 0x30, 0x31", 32769, ARCHIVE_ISO, S},               // "CD001"
        {"0x42, 0x45, 0x41, 0x30", 32769, ARCHIVE_UDF_ISO, S},                 // "BEA0"
        {"0x43, 0x44, 0x30, 0x30, 0x31", 34817, ARCHIVE_ISO, S},
        {"0x43, 0x44, 0x30, 0x30, 0x31", 36865, ARCHIVE_ISO, S},
    };
    return rows;
}

const std::map<std::string, ArchiveType>& GetArchiveFileTypeMap() {
    static const std::map<std::string, ArchiveType> map = {
        {"APK", ARCHIVE_APK},         {"ARC", ARCHIVE_ARC},         {"ARJ", ARCHIVE_ARJ}, {"BZ2", ARCHIVE_BZ2},
        {"CAB", ARCHIVE_CAB},         {"CPIO", ARCHIVE_CPIO},       {"DEB", ARCHIVE_DEB}, {"DMG", ARCHIVE_DMG},
        {"EXE_SFX", ARCHIVE_EXE_SFX}, {"GZ", ARCHIVE_GZ},           {"HFS", ARCHIVE_HFS}, {"IMG", ARCHIVE_IMG},
        {"ISO", ARCHIVE_ISO},         {"JAR", ARCHIVE_JAR},         {"LHA", ARCHIVE_LHA}, {"LZH", ARCHIVE_LZH},
        {"LZMA", ARCHIVE_LZMA},       {"MBR", ARCHIVE_MBR},         {"RAR", ARCHIVE_RAR}, {"RPM", ARCHIVE_RPM},
        {"SAR", ARCHIVE_SAR},         {"PIM", ARCHIVE_PIM},         {"7Z", ARCHIVE_7Z},   {"TAR", ARCHIVE_TAR},
        {"TAZ", ARCHIVE_TAZ},         {"UDF_ISO", ARCHIVE_UDF_ISO}, {"VDI", ARCHIVE_VDI}, {"VHD", ARCHIVE_VHD},
        {"WIM", ARCHIVE_WIM},         {"XAR", ARCHIVE_XAR},         {"XPI", ARCHIVE_XPI}, {"XZ", ARCHIVE_XZ},
        {"ZIP", ARCHIVE_ZIP},         {"ZLIB", ARCHIVE_ZLIB},
    };
    return map;
}

void ArchiveFTAUtils::init() {
    GetArchiveSignatures();
    GetArchiveFileTypeMap();
}

bool ArchiveFTAUtils::ignoreDetectionFiletype(const std::string& path, unsigned long) {
    return ignoreDetectionFiletype(kiv::FileByteSource(path));
}

bool ArchiveFTAUtils::ignoreDetectionFiletype(const ByteSource& src) {
    static const unsigned char kCompound[4] = {0xD0, 0xCF, 0x11, 0xE0};
    static const unsigned char kCompoundOld[4] = {0xA1, 0xB1, 0x1A, 0xE1};
    static const char kMarker[14] = {'!', 'N', 'O', 'T', ' ', 'M', 'S', 'G', ' ', 'F', 'I', 'L', 'E', '!'};
    const uint64_t size = src.size();
    if (size <= 512) return false;
    uint8_t head[4];
    readZ(src, 0, head, sizeof head);
    const bool gzip = head[0] == 0x1F && head[1] == 0x8B;
    if (!gzip && std::memcmp(head, kCompound, 4) != 0 && std::memcmp(head, kCompoundOld, 4) != 0) return false;
    uint8_t tail[14];
    readZ(src, size - sizeof tail, tail, sizeof tail);
    return std::memcmp(tail, kMarker, sizeof tail) == 0;
}

ArchiveType ArchiveFTAUtils::checkArchiveMagicNumber(const ByteSource& src, uint64_t size) {
    uint8_t window[64];
    uint64_t windowPos = UINT64_MAX;  // nothing read yet
    for (const ArchiveSignature& row : GetArchiveSignatures()) {
        const uint64_t n = row.bytes.size();
        uint64_t pos;
        if (row.mode == ArchiveSignature::fromEnd) {
            if (size < row.offset) continue;
            pos = size - row.offset;
        } else {
            if (uint64_t{row.offset} + n >= size) continue;
            pos = row.offset;
        }
        // Rows sharing a position share one read.
        if (pos != windowPos) {
            readZ(src, pos, window, sizeof window);
            windowPos = pos;
        }
        if (n <= sizeof window && std::memcmp(window, row.bytes.data(), n) == 0) return row.type;
    }
    return ARCHIVE_NONE;
}

ArchiveType ArchiveFTAUtils::checkArchiveSignBytes(const unsigned char* data, const unsigned long& size) {
    if (data == nullptr) return ARCHIVE_NONE;
    for (const ArchiveSignature& row : GetArchiveSignatures()) {
        const uint64_t n = row.bytes.size();
        uint64_t pos;
        if (row.mode == ArchiveSignature::fromEnd) {
            if (size < row.offset) continue;
            pos = size - row.offset;
            if (n > size - pos) continue;
        } else {
            if (uint64_t{row.offset} + n >= size) continue;
            pos = row.offset;
        }
        if (std::memcmp(data + pos, row.bytes.data(), n) == 0) return row.type;
    }
    return ARCHIVE_NONE;
}

ArchiveType ArchiveFTAUtils::isArchive(std::string path, unsigned long) {
    kiv::FileByteSource src(path);
    if (!src.isOpen()) return ARCHIVE_NONE;
    return isArchive(src);
}

ArchiveType ArchiveFTAUtils::isArchive(const ByteSource& src) {
    const uint64_t size = src.size();
    ArchiveType code = checkArchiveMagicNumber(src, size);
    code = postHandlingArchive(src, size, code);
    if (code == ARCHIVE_NONE && TarArchive().isTAR(src, size)) code = ARCHIVE_TAR;
    return code;
}

namespace {

constexpr kiv::ResultRow<ArchiveType> kResults[] = {
    {ARCHIVE_ZIP, "ZIP", "application/zip", "zip,zipx"},
    {ARCHIVE_EXE_PKLITE, "EXE", "application/x-compressed", "exe,sfx"},
    {ARCHIVE_7Z, "7Z", "application/x-7z-compressed", "7z"},
    {ARCHIVE_EXE_WINZIP, "EXE", "application/octet-stream", "exe,sfx"},
    {ARCHIVE_JAR, "JAR", "application/java-archive", "jar"},
    {ARCHIVE_JARCS, "JAR", "application/java-archive", "jar,jarcs"},
    {ARCHIVE_RAR, "RAR", "application/vnd.rar", "rar,rev,r00,r01"},
    {ARCHIVE_TAR, "TAR", "application/x-tar", "tar"},
    {ARCHIVE_TAZ, "TAZ", "application/x-taz", "taz,tz"},
    {ARCHIVE_ISO, "ISO", "application/x-iso9660-image", "iso,img,bin,mdf"},
    {ARCHIVE_UDF_ISO, "UDF_ISO", "application/octet-stream", "udf,iso,bin,mdf"},
    {ARCHIVE_IMG, "IMG", "application/octet-stream", "img"},
    {ARCHIVE_GZ, "GZ", "application/gzip", "gz,tgz"},
    {ARCHIVE_CAB, "CAB", "application/vnd.ms-cab-compressed", "cab"},
    {ARCHIVE_ARC, "ARC", "application/octet-stream", "arc,ark,sue"},
    {ARCHIVE_ARJ, "ARJ", "application/octet-stream", "arj"},
    {ARCHIVE_LHA, "LHA", "application/x-lzh-compressed", "lha,lzh"},
    {ARCHIVE_LZH, "LZH", "application/x-lzh-compressed", "lha,lzh"},
    {ARCHIVE_RPM, "RPM", "application/x-rpm", "rpm"},
    {ARCHIVE_DEB, "DEB", "application/vnd.debian.binary-package", "deb,udeb"},
    {ARCHIVE_LZMA, "LZMA", "application/x-lzma", "lzma"},
    {ARCHIVE_WIM, "WIM", "application/x-wim", "wim,swm,esd"},
    {ARCHIVE_XZ, "XZ", "application/x-xz", "xz"},
    {ARCHIVE_CPIO, "CPIO", "application/x-cpio", "cpio"},
    {ARCHIVE_CHM, "CHM", "application/vnd.ms-htmlhelp", "chm"},
    {ARCHIVE_APK, "APK", "application/vnd.android.package-archive", "apk,xapk"},
    {ARCHIVE_XAR, "XAR", "application/x-xar", "xar"},
    {ARCHIVE_XPI, "XPI", "application/x-xpinstall", "zip,xpi,jar"},
    {ARCHIVE_CDR, "CDR", "application/x-vnd.corel.zcf.draw.document+zip", "cdr"},
    {ARCHIVE_DMG, "DMG", "application/x-apple-diskimage", "dmg"},
    {ARCHIVE_BZ2, "BZ2", "application/x-bzip2", "BZ2"},  // upper case: the type id itself
    {ARCHIVE_MBR, "MBR", "application/octet-stream", "mbr,fat,ntfs"},
    {ARCHIVE_HFS, "HFS", "application/octet-stream", "hfs"},
    {ARCHIVE_ZLIB, "ZLIB", "application/zlib", ""},
    {ARCHIVE_VDI, "VDI", "application/x-virtualbox-vdi", "vdi"},
    {ARCHIVE_VHD, "VHD", "application/octet-stream", "vhd"},
    {ARCHIVE_BIN_MDF, "BIN/MDF", "application/octet-stream", "bin,mdf,img"},
    {ARCHIVE_EXE_SFX, "EXE_SFX", "application/vnd.microsoft.portable-executable", "exe"},
    {ARCHIVE_SAR, "SAR", "application/sapcar", "sar"},
    {ARCHIVE_SPLIT_ARC, "SPLIT_ARC", "application/vnd.rar", ""},
    {ARCHIVE_PIM, "PIM", "application/pim", "pim"},
};
// Interim and unknown codes.
constexpr kiv::ResultRow<ArchiveType> kNoArchive = {ARCHIVE_NONE, "data", "application/octet-stream", ""};

}  // namespace

void ArchiveFTAUtils::adjustArchiveTypes(ArchiveType code, std::string& typeId, std::string& mime,
                                         std::string& extensions, std::string& description) {
    kiv::writeRow(kiv::rowFor(kResults, code, kNoArchive), typeId, mime, extensions, description);
}

bool ArchiveFTAUtils::isArchiveFileType(const std::string& typeId) {
    const auto& map = GetArchiveFileTypeMap();
    auto it = map.find(typeId);
    return it != map.end() && it->second != ARCHIVE_NONE;
}
