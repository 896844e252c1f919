// The single-type probes, the byte-signature tables and the result rows of the image,
// subtitle and OpenDocument codes, on bytes built here; every probe also on truncated and
// random input.
#include <random>

#include "tests/engine/detectors/DetectorTestKit.h"

using namespace dettest;

namespace {

kiv::MemoryByteSource mem(const Bytes& b) { return kiv::MemoryByteSource(b); }
kiv::MemoryByteSource mem(const std::string& s) { return kiv::MemoryByteSource(bytes(s)); }

const std::string kCfbHeader = std::string("\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1", 8);

// A compound-file header and the given bytes at 512.
Bytes cfb(const std::string& at512, size_t size = 1024) {
    ByteBuilder b;
    b.str(0, kCfbHeader).str(512, at512).pad(size);
    return b.b;
}

Bytes tnef() {
    ByteBuilder b;
    b.le32(0, 0x223E9F78).le16(4, 0x0001).u8(6, 0x01).le32(7, 0x00089006).le32(11, 4).le32(15, 0x00010000);
    return b.pad(64).b;
}

}  // namespace

TEST(SignatureTables, HexTextAndRows) {
    using V = std::vector<uint8_t>;
    EXPECT_EQ(FileSignature::parseHexText("0x43 0x44 0x30 0x30 0x31"), (V{0x43, 0x44, 0x30, 0x30, 0x31}));
    EXPECT_EQ(FileSignature::parseHexText("0x43, 0x44,0x30 ,0x30\t0x31"), (V{0x43, 0x44, 0x30, 0x30, 0x31}));
    EXPECT_EQ(FileSignature::parseHexText("0xFD 0xxx 0X0e ff 0x123 7g zz 0x"), (V{0xFD, 0x0E, 0xFF, 0x23, 0x07}));
    EXPECT_TRUE(FileSignature::parseHexText(" ,, ").empty());

    buildSignatureTables();
    ASSERT_EQ(isoSignatures.size(), 3u);
    EXPECT_EQ(isoSignatures[2].offset, 36865u);
    const std::vector<FileSignature>& rows = fallBackSignatures.at("MSOFFICE");
    ASSERT_EQ(rows.size(), 28u);
    EXPECT_EQ(rows[0].bytes.size(), 8u);
    EXPECT_EQ(rows[0].offset, 0u);
    EXPECT_EQ(rows[27].bytes, (V{0xFD, 0xFF, 0xFF, 0xFF, 0x00, 0x04, 0x00, 0x00, 0x00}));
    EXPECT_EQ(rows[27].description, "Windows Thumbnail Database");
    EXPECT_EQ(rows[1].description, FileTypeDescription.at("DOC"));
    for (size_t i = 1; i < rows.size(); ++i) {
        EXPECT_EQ(rows[i].offset, 512u) << i;
        EXPECT_FALSE(rows[i].bytes.empty()) << i;
        if (i < 27) {
            EXPECT_EQ(rows[i].description, FileTypeDescription.at(rows[i].typeId)) << i;
        }
    }
}

TEST(SignatureTables, CompoundDocumentKindsByTheirFirstSector) {
    buildSignatureTables();
    const std::pair<std::string, const char*> cases[] = {
        {std::string("\xEC\xA5\xC1\x00", 4), "DOC"},
        {std::string("\xA0\x46\x1D\xF0", 4), "PPT"},
        {std::string("\xFD\xFF\xFF\xFF\x1c\x00\x00\x00", 8), "PPT"},
        {std::string("\xFD\xFF\xFF\xFF\x02\x00", 6), "XLS"},
        {std::string("\xFD\xFF\xFF\xFF\x02\x02", 6), "XLS"},
        {std::string("\xFD\xFF\xFF\xFF\x02\x01", 6), "PUB"},
        {std::string("\xFD\xFF\xFF\xFF\x04", 5), "SUO"},
        {std::string("\xFD\xFF\xFF\xFF\x00\x04\x00\x00\x00\x99", 10), "DB"},
        {std::string("\x09\x08\x10\x00\x00\x06\x05\x00", 8), "XLS"},
    };
    for (const auto& [pattern, typeId] : cases) {
        Result r;
        ASSERT_TRUE(findMagicSignatureFallback(mem(cfb(pattern)), r.typeId, r.mime, r.description, r.extensions))
            << typeId;
        EXPECT_EQ(r.typeId, typeId);
    }
    Result r{"keep", "keep", "keep", "keep"};
    // The thumbnail row is nine contiguous bytes, not a pattern with gaps.
    const std::string gapped = std::string("\xFD\xFF\xFF\xFF\x00", 5) + "1234567" + std::string("\x04\x00\x00\x00", 4);
    EXPECT_FALSE(findMagicSignatureFallback(mem(cfb(gapped)), r.typeId, r.mime, r.description, r.extensions));
    // No compound-file header, or the pattern cut by the end of the file.
    Bytes noHeader = cfb(std::string("\xEC\xA5\xC1\x00", 4));
    noHeader[0] = 0;
    EXPECT_FALSE(findMagicSignatureFallback(mem(noHeader), r.typeId, r.mime, r.description, r.extensions));
    Bytes cut = cfb(std::string("\xEC\xA5\xC1\x00", 4));
    cut.resize(515);
    EXPECT_FALSE(findMagicSignatureFallback(mem(cut), r.typeId, r.mime, r.description, r.extensions));
    EXPECT_EQ(r.typeId + r.mime + r.description + r.extensions, "keepkeepkeepkeep");
}

TEST(SingleTypeProbes, RtfTnefAtrJarDmgIso) {
    buildSignatureTables();
    EXPECT_TRUE(isRTF(mem("{\\rtf1\\ansi}")));
    EXPECT_TRUE(isRTF(mem("{\\rtf")));
    EXPECT_FALSE(isRTF(mem("{\\rt")));
    EXPECT_FALSE(isRTF(mem("{\\RTF1")));

    EXPECT_TRUE(isTNEF(mem(tnef())));
    Bytes shortTnef = tnef();
    shortTnef.resize(39);
    EXPECT_FALSE(isTNEF(mem(shortTnef)));
    for (size_t field : {0u, 7u, 15u}) {
        Bytes b = tnef();
        b[field + 1] ^= 0x40;
        EXPECT_FALSE(isTNEF(mem(b))) << field;
    }

    ByteBuilder atr;
    atr.u8(0, 0x96).u8(1, 0x02).le16(2, 8).pad(16 + 8 * 16);
    EXPECT_TRUE(isATR(mem(atr.b)));
    atr.pad(16 + 8 * 16 + 1);
    EXPECT_FALSE(isATR(mem(atr.b)));  // the paragraph count disagrees with the size
    EXPECT_FALSE(isATR(mem(std::string("\x96\x02\x00", 3))));

    EXPECT_TRUE(isJAR(mem("PK\x03\x04" + std::string(187, 'x') + "META-INF/")));   // ends at byte 200
    EXPECT_FALSE(isJAR(mem("PK\x03\x04" + std::string(188, 'x') + "META-INF/")));  // one byte later
    EXPECT_FALSE(isJAR(mem("META-INF")));

    ByteBuilder dmg;
    dmg.pad(4096).str(4096 - 512, "koly").put(4096 - 504, "\x00\x00\x02\x00", 4);
    EXPECT_TRUE(isDMG(mem(dmg.b)));
    dmg.u8(4096 - 501, 0x01);
    EXPECT_FALSE(isDMG(mem(dmg.b)));
    // A trailer needs 512 bytes: a short file that starts like one is not a disk image.
    EXPECT_FALSE(isDMG(mem(std::string("koly\0\0\0\0\0\0\x02\0", 12))));
    EXPECT_FALSE(isDMG(mem(std::string("koly\0\0\0\0\0\0\x02\0", 12) + std::string(499, '\0'))));

    for (uint32_t off : {32769u, 34817u, 36865u}) {
        ByteBuilder iso;
        iso.str(off, "CD001");
        EXPECT_TRUE(isISO(mem(iso.b))) << off;  // exactly off + 5 bytes long
        iso.b.pop_back();
        EXPECT_FALSE(isISO(mem(iso.b))) << off;
    }
}

TEST(SingleTypeProbes, ClosingTagsAndMediaBrands) {
    const std::pair<std::string, int> tags[] = {
        {"<svg>...</svg>\n", 1},
        {"<x/></rdf:RDF>\n", 2},
        {"</r:RDF>", 2},
        {"</RDF>\r\n", 2},
        {"<html></html>\n", 3},
        {"</svg></html>", 1},
        {"</svg>" + std::string(15, ' '), 0},  // further than 20 bytes from the end
        {"<a/>", 0},
        {"", 0},
    };
    for (const auto& [text, code] : tags) EXPECT_EQ(detemineSVGorRDForHTML(mem(text)), code) << text;

    auto brand = [](const std::string& b, const std::string& box = "ftyp") {
        return determineMediaContainerType(mem(std::string("\0\0\0\x18", 4) + box + b + std::string(8, '\0')));
    };
    EXPECT_EQ(brand("3gp5"), MEDIA_CONTAINER_3GP);
    EXPECT_EQ(brand("kddi"), MEDIA_CONTAINER_3GP);
    EXPECT_EQ(brand("3gp5", "moov"), MEDIA_CONTAINER_NONE);
    EXPECT_EQ(brand("3gp8"), MEDIA_CONTAINER_NONE);
    EXPECT_EQ(brand("3g2b"), MEDIA_CONTAINER_3G2);
    EXPECT_EQ(brand("qt  "), MEDIA_CONTAINER_MOV);
    EXPECT_EQ(brand("M4VH"), MEDIA_CONTAINER_M4V);
    EXPECT_EQ(brand(std::string("M4A\0", 4)), MEDIA_CONTAINER_M4A);
    EXPECT_EQ(brand("M4A "), MEDIA_CONTAINER_M4A);
    EXPECT_EQ(brand("M4AX"), MEDIA_CONTAINER_NONE);
    EXPECT_EQ(brand("M4B "), MEDIA_CONTAINER_M4B);
    EXPECT_EQ(brand(std::string("M4P\0", 4)), MEDIA_CONTAINER_M4P);
    EXPECT_EQ(brand("isom"), MEDIA_CONTAINER_MP4);
    EXPECT_EQ(brand("ndxs"), MEDIA_CONTAINER_MP4);
    EXPECT_EQ(determineMediaContainerType(mem(std::string("\0\0\x01\xBA", 4) + std::string(8, 'x'))),
              MEDIA_CONTAINER_MPEG);
    EXPECT_EQ(determineMediaContainerType(mem(std::string("\0\0\x01\xB3", 4) + std::string(8, 'x'))),
              MEDIA_CONTAINER_MPEG);
    EXPECT_EQ(determineMediaContainerType(mem(std::string("\0\0\x01\xC0", 4) + std::string(8, 'x'))),
              MEDIA_CONTAINER_NONE);
    EXPECT_EQ(determineMediaContainerType(mem(std::string("RIFF\x10\0\0\0CDXA", 12))), MEDIA_CONTAINER_MPG);
    EXPECT_EQ(determineMediaContainerType(mem(std::string("RIFF\x10\0\0\0CDX", 11))),
              MEDIA_CONTAINER_NONE);  // 11 bytes
}

// Every code, known or not, gives a row whose type id has a description (a missing one would
// fail the whole scan), and only the encrypted OpenDocument codes set the flag.
TEST(ResultRows, EveryCodeGivesADescribedRow) {
    for (int code = 0; code <= 255; ++code) {
        const auto c = static_cast<uint8_t>(code);
        Result image, subtitle, odf;
        adjustImageTypes(c, image.typeId, image.mime, image.extensions, image.description);
        adjustSubtitleTypes(c, subtitle.typeId, subtitle.mime, subtitle.extensions, subtitle.description);
        adjustOpenDocumentTypes(c, odf.typeId, odf.mime, odf.extensions, odf.description, odf.encrypted);
        for (const Result* r : {&image, &subtitle, &odf}) EXPECT_EQ(r->description, FileTypeDescription.at(r->typeId));
        EXPECT_EQ(odf.encrypted, code >= 6 && code <= 10) << code;
        if (code == 1 || code > 10) {
            EXPECT_EQ(odf.typeId, "ODT/ODS/ODP/OTT") << code;
        }
        if (code == 1 || code > 9) {  // 1: a PNG with broken chunks
            EXPECT_EQ(image.typeId, "data") << code;
        }
    }
}

TEST(SingleTypeProbes, TruncatedAndRandomInputNeverReadOutOfBounds) {
    buildSignatureTables();
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
