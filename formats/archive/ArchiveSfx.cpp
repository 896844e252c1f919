// Self-extracting executables: an archive appended behind the last section (the overlay), or
// a cabinet stored as a raw-data resource.
#include <algorithm>
#include <cstring>
#include <vector>

#include "core/ArchiveRead.h"
#include "formats/archive/ArchiveFTAUtils.h"
#include "formats/archive/PEFile.h"
#include "formats/archive/ZipFormat.h"

using kiv::ByteSource;
using kiv::archive::getLE16;
using kiv::archive::getLE32;
using kiv::archive::readLE32;
using kiv::archive::readZ;

namespace {
// Stubs align the archive they carry; the 7z and ZIP starts are looked for this far in.
constexpr uint64_t kOverlaySearch = 1024;
constexpr uint32_t kRawDataResource = 10;
}  // namespace

bool ArchiveFTAUtils::checkIsSfxArchive(const ByteSource& src, uint64_t size) {
    const uint64_t peOffset = readLE32(src, 60);
    uint8_t fileHeader[24];
    readZ(src, peOffset, fileHeader, sizeof fileHeader);
    if (std::memcmp(fileHeader, "PE\0\0", 4) != 0) return false;
    const uint16_t sections = getLE16(fileHeader + 6);
    if (sections == 0) return false;
    const uint64_t table = peOffset + 24 + getLE16(fileHeader + 20);
    // The last header in table order, not the section that ends furthest.
    uint8_t last[24];
    readZ(src, table + 40ull * (sections - 1u), last, sizeof last);
    const uint64_t overlay = uint64_t{getLE32(last + 20)} + getLE32(last + 16);
    if (overlay == 0 || overlay >= size) return false;
    return isWinRarSfx(src, overlay, size) || is7zSfx(src, overlay, size) || isZipSfx(src, overlay, size);
}

bool ArchiveFTAUtils::isWinRarSfx(const ByteSource& src, uint64_t overlay, uint64_t) {
    uint8_t sig[8];
    readZ(src, overlay, sig, sizeof sig);
    return std::memcmp(sig, RARHeaderParser::RARSignature, 8) == 0 ||
           std::memcmp(sig, RARHeaderParser::RAR4Signature, 7) == 0;
}

bool ArchiveFTAUtils::is7zSfx(const ByteSource& src, uint64_t overlay, uint64_t size) {
    static const uint8_t k7z[6] = {0x37, 0x7A, 0xBC, 0xAF, 0x27, 0x1C};
    if (overlay >= size) return false;
    // The signature must start within the first 1024 bytes and lie wholly in what is read.
    const uint64_t n = std::min<uint64_t>(size - overlay, kOverlaySearch + sizeof k7z - 1);
    if (n < sizeof k7z) return false;
    std::vector<uint8_t> buf(static_cast<size_t>(n));
    readZ(src, overlay, buf.data(), buf.size());
    return std::search(buf.begin(), buf.end(), std::begin(k7z), std::end(k7z)) != buf.end();
}

bool ArchiveFTAUtils::isZipSfx(const ByteSource& src, uint64_t overlay, uint64_t size) {
    namespace zip = kiv::zip;
    if (size >= zip::kEndRecordLen && readLE32(src, size - zip::kEndRecordLen) == zip::kEndRecordSig) {
        // A stub that fixed the archive's offsets: end record -> first central header -> its
        // local header, all behind the stub.
        uint8_t b[zip::kCentralHeaderLen];
        readZ(src, size - zip::kEndRecordLen, b, zip::kEndRecordLen);
        zip::EndRecord end;
        end.parse(b);
        const uint64_t central = end.directoryOffset;
        if (central < overlay) return false;
        readZ(src, central, b, sizeof b);
        zip::CentralDirFileHeader first;
        first.parse(b);
        if (first.signature != zip::kCentralHeaderSig) return false;
        if (central + zip::kCentralHeaderLen > size) return false;
        const uint64_t local = first.localHeaderOffset;
        if (local < overlay || local + 4 > size) return false;
        return readLE32(src, local) == zip::kLocalHeaderSig;
    }
    // An archive with a comment, or none: a local header close behind the stub.
    uint8_t buf[kOverlaySearch + 3];
    readZ(src, overlay, buf, sizeof buf);
    for (uint64_t i = 0; i < kOverlaySearch; ++i) {
        if (overlay + i + 4 > size) return false;
        if (getLE32(buf + i) == zip::kLocalHeaderSig) return true;
    }
    return false;
}

bool ArchiveFTAUtils::checkPErsrc(const ByteSource& src, uint64_t size) {
    PEFileParser parser(src, size);
    for (const PEFileParser::DataRepresentStructure& r : parser.getListResourceObjects()) {
        if (r.typeId != kRawDataResource) continue;
        // A raw-data resource starting in the last 4 bytes or beyond ends the search.
        if (r.dataFileOffset >= size || size - r.dataFileOffset <= 4) return false;
        uint8_t magic[4];
        readZ(src, r.dataFileOffset, magic, sizeof magic);
        if (std::memcmp(magic, "MSCF", 4) == 0 || std::memcmp(magic, "ISc(", 4) == 0) return true;
    }
    return false;
}
