// Every probe of the cascade and the post-rules on truncated and random input: none may read
// out of bounds or fail, whatever the bytes.
#include <random>

#include "engine/Families.h"
#include "tests/core/CoreTestKit.h"
#include "tests/formats/archive/ArchiveTestKit.h"

using namespace kit;

namespace {

Bytes tnef() {
    ByteBuilder b;
    b.le32(0, 0x223E9F78).le16(4, 0x0001).u8(6, 0x01).le32(7, 0x00089006).le32(11, 4).le32(15, 0x00010000);
    return b.pad(64).b;
}

Bytes cfb(const std::string& at512) {
    ByteBuilder b;
    b.str(0, std::string("\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1", 8)).str(512, at512).pad(1024);
    return b.b;
}

}  // namespace

TEST(Probes, TruncatedAndRandomInputNeverReadOutOfBounds) {
    kivtest::buildSignatureTables();
    std::vector<Bytes> seeds = {tnef(), cfb(std::string("\xEC\xA5\xC1\x00", 4)), bytes("{\\rtf1}"),
                                bytes("%PDF-1.7\n/AIMetaData"),
                                bytes("\0\0\0\x18"
                                      "ftypisom")};
    std::mt19937 rng(11);
    for (int i = 0; i < 200; ++i) {
        Bytes b(rng() % 2048);
        for (uint8_t& x : b) x = static_cast<uint8_t>(rng());
        seeds.push_back(b);
    }
    for (const Bytes& seed : seeds) {
        for (size_t len = 0; len <= std::min<size_t>(seed.size(), 64); ++len) {
            kiv::MemoryByteSource src(Bytes(seed.begin(), seed.begin() + static_cast<long>(len)));
            Result r;
            isRTF(src);
            isTNEF(src);
            isATR(src);
            isJAR(src);
            isDMG(src);
            isISO(src);
            detemineSVGorRDForHTML(src);
            determineMediaContainerType(src);
            classifyPDFType(src);
            findMagicSignatureFallback(src, r.typeId, r.mime, r.description, r.extensions);
            // Package probes stop before any member read: in-memory bytes have no path.
            isOpenOfficeDocument(src);
            isMSOffice2007Document(src);
            classifyOfficeFileType(src);
        }
    }
}
