// Photoshop header plausibility check, byte-built and from imagemagick.
#include "MediaTestKit.h"
#include "formats/media/PhotoshopFTAUtils.h"

using namespace mediatest;

namespace {

PhotoshopType psd(uint16_t version, uint16_t channels, uint32_t width, uint16_t depth, uint16_t mode,
                  size_t size = 26) {
    ByteBuilder b;
    b.str("8BPS").be16(version).fill(6).be16(channels).be32(10).be32(width).be16(depth).be16(mode);
    b.bytes.resize(size);
    return PhotoshopFTAUtils::isPTSFileBased(mem(b.bytes));
}

}  // namespace

TEST(Photoshop, HeaderFieldLimits) {
    EXPECT_EQ(psd(1, 3, 30000, 8, 3), PHOTOSHOP_PSD);
    EXPECT_EQ(psd(1, 3, 30001, 8, 3), PHOTOSHOP_NONE);
    EXPECT_EQ(psd(2, 3, 30001, 8, 3), PHOTOSHOP_PSB);
    EXPECT_EQ(psd(2, 3, 300001, 8, 3), PHOTOSHOP_NONE);
    EXPECT_EQ(psd(1, 3, 0, 8, 3), PHOTOSHOP_NONE);
    EXPECT_EQ(psd(3, 3, 10, 8, 3), PHOTOSHOP_NONE);
    EXPECT_EQ(psd(1, 3, 10, 8, 3, 25), PHOTOSHOP_NONE);
    for (uint16_t mode : {0, 4, 7, 9}) EXPECT_EQ(psd(1, 3, 10, 8, mode), PHOTOSHOP_PSD) << mode;
    for (uint16_t mode : {5, 6, 10}) EXPECT_EQ(psd(1, 3, 10, 8, mode), PHOTOSHOP_NONE) << mode;
    EXPECT_EQ(psd(1, 56, 10, 32, 3), PHOTOSHOP_PSD);
    EXPECT_EQ(psd(1, 57, 10, 8, 3), PHOTOSHOP_NONE);
    EXPECT_EQ(psd(1, 0, 10, 8, 3), PHOTOSHOP_NONE);
    EXPECT_EQ(psd(1, 3, 10, 24, 3), PHOTOSHOP_NONE);
}

TEST(Photoshop, RealFilesAndAdjust) {
    TempDir dir;
    std::string a = dir.file("a.psd"), b = dir.file("a.psb");
    runTool({"convert", "-size", "20x10", "gradient:red-blue", a});
    runTool({"convert", "-size", "20x10", "gradient:red-blue", "PSB:" + b});
    EXPECT_EQ(PhotoshopFTAUtils::isPTSFileBased(a, 0), PHOTOSHOP_PSD);
    EXPECT_EQ(PhotoshopFTAUtils::isPTSFileBased(b, 0), PHOTOSHOP_PSB);

    std::string t = "x", m = "x", e = "x", d = "x";
    PhotoshopFTAUtils::adjustPTSBasedTypes(PHOTOSHOP_NONE, t, m, e, d);
    EXPECT_EQ(t + m + e + d, "xxxx");
    PhotoshopFTAUtils::adjustPTSBasedTypes(PHOTOSHOP_PSB, t, m, e, d);
    EXPECT_EQ(t + "|" + m + "|" + e, "PSB|image/vnd.adobe.photoshop|psb");
}
