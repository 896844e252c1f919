// Every media probe on truncated, corrupted, uniform and non-regular input: none may crash,
// read out of bounds (checked by the sanitizer build) or hang.
#include <sys/stat.h>

#include <random>

#include "MediaTestKit.h"
#include "formats/media/AMRFTAUtils.h"
#include "formats/media/ASFHandler.h"
#include "formats/media/AtariFTAUtils.h"
#include "formats/media/AudioFTAUtils.h"
#include "formats/media/AutoCADUtil.h"
#include "formats/media/ImageFTAUtils.h"
#include "formats/media/PhotoshopFTAUtils.h"
#include "formats/media/SubtitleFTAUtils.h"

using namespace mediatest;

namespace {

// Every probe's answer, joined; through a ByteSource, or through the path entry points.
std::string runAll(const kiv::ByteSource* src, const std::string& path = "") {
    AutoCADExts family = AUTOCAD_EXT_NONE;
    int v[] = {
        src ? ImageFTAUtils::isImage(*src) : ImageFTAUtils::isImage(path, 0),
        src ? SubtitleFTAUtils::isSubtitle(*src) : SubtitleFTAUtils::isSubtitle(path),
        src ? ASFHandler::isASFFileBased(*src) : ASFHandler::isASFFileBased(path),
        src ? PhotoshopFTAUtils::isPTSFileBased(*src) : PhotoshopFTAUtils::isPTSFileBased(path, 0),
        src ? AMRFTAUtils::isAMRFileBased(*src) : AMRFTAUtils::isAMRFileBased(path, 0),
        src ? AtariFTAUtils::isAtariFileBased(*src) : AtariFTAUtils::isAtariFileBased(path, 0),
        src ? AutoCADUtil::determineAutoCADType(*src, family) : AutoCADUtil::determineAutoCADType(path, 0, family),
        family,
        src ? AudioFTAUtils::isWAVFileBased(*src) : AudioFTAUtils::isWAVFileBased(path, 0),
        src ? AudioFTAUtils::isMP3FileBased(*src) : AudioFTAUtils::isMP3FileBased(path, 0)};
    std::string s;
    for (int x : v) s += std::to_string(x) + ",";
    return s;
}
std::string runAll(const Bytes& b) {
    kiv::MemoryByteSource src(b);
    return runAll(&src);
}

const std::string kNothing = "0,0,0,0,0,0,0,0,0,0,";

std::vector<Bytes> fixtures() {
    std::vector<ByteBuilder> f(18);
    f[0].raw("\x89PNG\r\n\x1a\n", 8)
        .be32(13)
        .str("IHDR")
        .fill(17)
        .be32(1)
        .str("sTER")
        .fill(5)
        .be32(2)
        .str("IDAT")
        .fill(6);
    f[1].str("BM").le32(70).le32(0).le32(54).le32(40).fill(60);
    f[2].le32(1).le32(108).padTo(40).str(" EMF").fill(60);
    f[3].u8(0xFF).u8(0xD8).u8(0xFF).u8(0xE1).be16(40).str(std::string("Exif\0\0", 6)).padTo(42).u8(0xFF).u8(0xD9);
    f[4].u8(1).padTo(23).u8(0x60).padTo(80).u8(0xFF).fill(11).u8(0x11).u8(0).str("dummy end of file");
    f[5].fill(172).u8(0x08).u8(0x90).padTo(512);
    f[6].raw(ASFHandler::ASF_Object_GUID::ASFSignature, 16).le64(100).le32(2).u8(1).u8(2).fill(16, 7).le64(24);
    f[6].raw(ASFHandler::ASF_Object_GUID::ASFCodecList, 16).le64(60).fill(16).le32(2);
    f[6].le16(2).le16(1).le16('a').le16(1).le16('b').le16(2).str("xy").le16(1).le16(1).le16('v').le16(0).le16(0).fill(
        8);
    f[7].str("8BPS").be16(1).fill(6).be16(3).be32(8).be32(8).be16(8).be16(3).fill(40);
    f[8].str("#!AMR_MC1.0\n").fill(20, 0x3C);
    f[9].le16(0xFFFF).le16(0x2000).le16(0x2003).fill(4).le16(0x2E0).le16(0x2E1).fill(2);
    f[10].str("AC1015").padTo(80);
    f[11].str(AutoCADUtil::fasASCIIHeader).padTo(80, 'f');
    f[12].str("(DWF V06.00)").padTo(80, 'w');
    f[13].str("  0\r\nSECTION\r\n  2\r\nHEADER\r\n  9\r\n$ACADVER\r\n  1\r\nAC1027\r\n  9\r\n$INSBASE\r\n");
    f[14].raw(AutoCADUtil::dxfBinaryHeader, AutoCADUtil::dxfBinaryHeaderSize).u8(0).u8(0).str("SECTION").u8(0).u8(2);
    f[14].u8(0).str("HEADER").u8(0).u8(9).u8(0).str("$ACADVER").u8(0).u8(1).u8(0).str("AC1024").u8(0).fill(10);
    f[15].str("RIFF").le32(36).str("WAVEfmt ").le32(16).fill(16).str("data").le32(0);
    for (int i = 0; i < 11; ++i) f[16].u8(0xFF).u8(0xFB).u8(0x90).u8(0x00).fill(413);
    f[17].str("ID3").u8(3).fill(5).u8(20).fill(20);
    std::vector<Bytes> out;
    for (auto& b : f) out.push_back(b.bytes);
    return out;
}

}  // namespace

TEST(MediaHostile, EveryPrefixAndCorruptionOfEveryFixture) {
    std::mt19937 rng(20240611);
    int index = 0;
    for (const Bytes& f : fixtures()) {
        EXPECT_NE(runAll(f), kNothing) << "fixture " << index++ << " is not recognised whole";
        for (size_t n = 0; n < f.size(); ++n) runAll(Bytes(f.begin(), f.begin() + n));
        for (int round = 0; round < 300; ++round) {
            Bytes b = f;
            for (size_t i = 0; i <= b.size() / 100; ++i) b[rng() % b.size()] = static_cast<uint8_t>(rng());
            if (round % 3 == 0) b.resize(rng() % (b.size() + 1));
            runAll(b);
        }
    }
}

TEST(MediaHostile, UniformAndNonRegularInput) {
    for (size_t n : {0, 1, 6, 12, 26, 30, 44, 64, 66, 512, 1030, 70000}) {
        EXPECT_EQ(runAll(Bytes(n, 0x00)), kNothing) << n;
        for (uint8_t v : {0xFF, 0x20, 0x0A}) runAll(Bytes(n, v));
    }
    TempDir dir;
    std::string fifo = dir.file("fifo"), sub = dir.file("subdir");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    ASSERT_EQ(mkdir(sub.c_str(), 0700), 0);
    for (const std::string& p : {fifo, sub, dir.file("missing")}) EXPECT_EQ(runAll(nullptr, p), kNothing) << p;
}
