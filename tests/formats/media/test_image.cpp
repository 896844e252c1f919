// Image probes: PNG chunk walk, BMP/EMF/TIFF/EXIF heads, and files from imagemagick and exiftool.
#include "MediaTestKit.h"
#include "formats/media/ImageFTAUtils.h"

using namespace mediatest;

namespace {

ImageType probe(const Bytes& b) { return ImageFTAUtils::isImage(mem(b)); }

// PNG signature, then chunks (type, data length) with zero data and CRC, then 16 spare bytes.
Bytes png(std::initializer_list<std::pair<const char*, uint32_t>> chunks, size_t spare = 16) {
    ByteBuilder b;
    b.raw("\x89PNG\r\n\x1a\n", 8);
    for (auto& c : chunks) b.be32(c.second).str(c.first).fill(c.second + 4);
    return b.fill(spare).bytes;
}

}  // namespace

TEST(ImagePNG, ChunkStructure) {
    EXPECT_EQ(probe(png({{"IHDR", 13}, {"gAMA", 4}, {"IDAT", 20}})), IMAGE_PNG);
    EXPECT_EQ(probe(png({{"CgBI", 4}, {"IHDR", 13}, {"IDAT", 20}})), IMAGE_PNG);
    EXPECT_EQ(probe(png({{"IHDR", 13}, {"sTER", 1}, {"IDAT", 20}})), IMAGE_PNS);
    EXPECT_EQ(probe(png({{"IHDR", 13}, {"sTER", 2}, {"IDAT", 20}})), IMAGE_PNG_DAMAGED);
    EXPECT_EQ(probe(png({{"sTER", 1}, {"IHDR", 13}, {"IDAT", 20}})), IMAGE_PNG_DAMAGED);
    EXPECT_EQ(probe(png({{"IDAT", 20}})), IMAGE_PNG_DAMAGED);
    EXPECT_EQ(probe(png({{"IHDR", 13}, {"IHDR", 13}, {"IDAT", 20}})), IMAGE_PNG_DAMAGED);
    Bytes topBit = png({{"IHDR", 13}});
    topBit[8] = 0x80;
    EXPECT_EQ(probe(topBit), IMAGE_PNG_DAMAGED);
    // Truncated before IDAT: no image, and the later probes still run.
    EXPECT_EQ(probe(png({}, 10)), IMAGE_NONE);
    Bytes cut = png({{"IHDR", 13}, {"tEXt", 100000}, {"IDAT", 1}});
    cut.resize(200);
    EXPECT_EQ(probe(cut), IMAGE_NONE);
    // 70,000 empty chunks before IDAT stop the walk at its cap.
    ByteBuilder b;
    b.raw(png({{"IHDR", 13}}, 0).data(), 33);
    for (int i = 0; i < 70000; ++i) b.be32(0).str("zzZz").fill(4);
    b.be32(4).str("IDAT").fill(8);
    EXPECT_EQ(probe(b.bytes), IMAGE_PNG_DAMAGED);
}

TEST(ImageHeaders, BmpEmfTiffJpeg) {
    for (uint32_t info : {12u, 40u, 108u, 124u, 56u})
        EXPECT_EQ(probe(ByteBuilder().str("BM").fill(12).le32(info).fill(40).bytes),
                  info == 56 ? IMAGE_NONE : IMAGE_BMP);
    Bytes emf = ByteBuilder().le32(1).le32(108).padTo(40).str(" EMF").bytes;
    EXPECT_EQ(probe(emf), IMAGE_EMF);  // exactly 44 bytes
    EXPECT_EQ(probe(Bytes(emf.begin(), emf.end() - 1)), IMAGE_NONE);
    EXPECT_EQ(probe({'M', 'M', 0, 0x2A}), IMAGE_TIFF);
    EXPECT_EQ(probe({'I', 'I', 0x2A, 0}), IMAGE_TIFF);
    EXPECT_EQ(probe({'I', 'I', 0, 0x2A}), IMAGE_NONE);

    // EXIF APP1 of length 200 ends at 204 with the thumbnail's FF D9.
    auto jpeg = [](uint8_t marker, uint8_t last) {
        ByteBuilder b;
        b.u8(0xFF).u8(0xD8).u8(0xFF).u8(marker).be16(200).str(std::string("Exif\0\0", 6)).padTo(202);
        return b.u8(0xFF).u8(last).bytes;
    };
    Bytes exif = jpeg(0xE1, 0xD9);
    EXPECT_EQ(probe(exif), IMAGE_JPG);
    exif.pop_back();
    EXPECT_EQ(probe(exif), IMAGE_NONE);
    EXPECT_EQ(probe(jpeg(0xE1, 0xD8)), IMAGE_NONE);
    EXPECT_EQ(probe(jpeg(0xE0, 0xD9)), IMAGE_NONE);  // JFIF first
}

TEST(ImageTools, FilesWrittenByRealTools) {
    TempDir dir;
    const std::pair<const char*, ImageType> cases[] = {
        {"PNG", IMAGE_PNG}, {"BMP", IMAGE_BMP}, {"BMP3", IMAGE_BMP}, {"TIFF", IMAGE_TIFF}, {"JPEG", IMAGE_NONE}};
    for (auto& c : cases) {
        std::string p = dir.file(std::string("a.") + c.first);
        runTool({"convert", "-size", "16x16", "gradient:red-blue", std::string(c.first) + ":" + p});
        EXPECT_EQ(ImageFTAUtils::isImage(p, 0), c.second) << c.first;
    }
    // exiftool stores the thumbnail last in APP1; without JFIF the file starts with it.
    std::string jpg = dir.file("a.JPEG"), thumb = dir.file("t.jpg");
    runTool({"convert", "-size", "8x8", "xc:green", thumb});
    runTool({"exiftool", "-q", "-overwrite_original", "-JFIF:all=", "-ThumbnailImage<=" + thumb, jpg});
    EXPECT_EQ(ImageFTAUtils::isImage(jpg, 0), IMAGE_JPG);
    EXPECT_FALSE(ImageFTAUtils::isEMF(jpg, 0));
}
