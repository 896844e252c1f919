// Every archive probe on truncated, corrupted, empty and uniform files: answers may be
// anything, but nothing reads out of bounds (run under the sanitizer build) or loops.
#include "ArchiveTestKit.h"
#include "formats/archive/PEFile.h"

using namespace kit;

namespace {

void probeAll(const Bytes& b) {
    auto src = mem(b);
    ArchiveFTAUtils::isArchive(src);
    ArchiveFTAUtils::ignoreDetectionFiletype(src);
    ArchiveFTAUtils::checkArchiveSignBytes(b.data(), b.size());
    // The probes reached only through other codes, called directly.
    for (ArchiveType code : {ARCHIVE_ZIP, ARCHIVE_RAR, ARCHIVE_IMG, ARCHIVE_BZ2, ARCHIVE_MBR, ARCHIVE_BIN_MDF,
                             ARCHIVE_MZ, ARCHIVE_SAR, ARCHIVE_PIM_CANDIDATE, ARCHIVE_PIM2_CANDIDATE})
        ArchiveFTAUtils::postHandlingArchive(src, b.size(), code);
    ZipArchive::checkFileNameExistInZip(src, b.size(), "META-INF/MANIFEST.MF", 20);
    ZipArchive::findEndCentralDirFromTop(src, b.size());
    for (uint64_t overlay : {uint64_t(0), uint64_t(1), uint64_t(b.size() / 2), uint64_t(b.size()), ~uint64_t(0)}) {
        ArchiveFTAUtils::isWinRarSfx(src, overlay, b.size());
        ArchiveFTAUtils::is7zSfx(src, overlay, b.size());
        ArchiveFTAUtils::isZipSfx(src, overlay, b.size());
    }
    PEFileParser(src, b.size()).getListResourceObjects();
    // A caller's size larger than the bytes held behaves like a file that shrank.
    ArchiveFTAUtils::postHandlingArchive(src, b.size() + 4096, ARCHIVE_MZ);
    ArchiveFTAUtils::checkArchiveMagicNumber(src, b.size() + 100000);
}

std::vector<Bytes> seeds() {
    std::vector<Bytes> out;
    // ZIP with a central directory and a manifest.
    ByteBuilder z;
    const std::string n = "META-INF/MANIFEST.MF";
    z.le32(0, 0x04034B50).le16(26, uint16_t(n.size())).str(30, n);
    size_t cd = z.size();
    z.le32(cd, 0x02014B50).le16(cd + 28, uint16_t(n.size())).str(cd + 46, n);
    size_t end = z.size();
    z.le32(end, 0x06054B50).le16(end + 10, 1).le32(end + 16, uint32_t(cd)).pad(end + 22);
    out.push_back(z.b);
    out.push_back(ByteBuilder(24).str(0, std::string("Rar!\x1A\x07\x01\0", 8)).u8(12, 0xFF).u8(13, 0xFF).b);
    out.push_back(ByteBuilder(20).str(0, std::string("Rar!\x1A\x07\0", 7)).u8(10, 1).b);
    out.push_back(ByteBuilder(600).str(0, "f").str(124, "00000000012 ").u8(156, '0').b);
    out.push_back(ByteBuilder(48).str(0, "CAR 2.01RG").b);
    out.push_back(ByteBuilder(40).str(0, std::string("\x02PIM", 4)).str(6, "nm").le32(9, 9).le32(13, 3).b);
    // Executable with a resource tree and a ZIP behind it.
    Bytes rsrc = rcdataSection(0x2000, {'M', 'S', 'C', 'F', 1, 2, 3, 4});
    Bytes pe = makePE({{".text", 0x1000, 0x200, 0x200, {}}, {".rsrc", 0x2000, 0x400, uint32_t(rsrc.size()), rsrc}});
    pe.insert(pe.end(), out[0].begin(), out[0].end());
    out.push_back(pe);
    Bytes sector(2352 * 2, 0);
    std::fill(sector.begin() + 1, sector.begin() + 11, 0xFF);
    out.push_back(sector);
    return out;
}

}  // namespace

TEST(ArchiveHostile, TruncatedAndCorrupted) {
    uint32_t rng = 12345;
    auto next = [&] { return rng = rng * 1103515245u + 12345u; };
    for (const Bytes& seed : seeds()) {
        for (size_t cut = 0; cut <= seed.size(); cut += (cut < 700 ? 1 : 97))
            probeAll(Bytes(seed.begin(), seed.begin() + long(cut)));
        for (int round = 0; round < 300; ++round) {
            Bytes b = seed;
            // About 1% of the bytes, at least one, set to random values or to 0xFF.
            for (size_t k = 0; k <= b.size() / 100; ++k)
                b[next() % b.size()] = (next() & 1) ? uint8_t(next() >> 16) : 0xFF;
            probeAll(b);
        }
    }
}

TEST(ArchiveHostile, UniformFiles) {
    for (size_t size : {0u, 1u, 21u, 22u, 63u, 64u, 511u, 512u, 513u, 2352u, 32774u, 40000u, 70000u}) {
        probeAll(Bytes(size, 0x00));
        probeAll(Bytes(size, 0xFF));
        probeAll(Bytes(size, 'P'));
    }
}
