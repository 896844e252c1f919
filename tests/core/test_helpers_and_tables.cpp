// The byte helpers and the shared tables every reader looks things up in.
#include <gtest/gtest.h>

#include "core/ByteSignatures.h"
#include "core/ByteUtils.h"
#include "core/TypeTables.h"
#include "tests/core/CoreTestKit.h"

TEST(ByteUtils, EndianReadsRefusePastTheEnd) {
    const uint8_t b[] = {0x12, 0x34, 0x56, 0x78};
    EXPECT_EQ(ByteUtils::bytesToUInt32BE(b), 0x12345678u);
    EXPECT_EQ(ByteUtils::bytesToUInt24BE(b), 0x123456u);
    EXPECT_EQ(ByteUtils::bytesToUInt16BE(b), 0x1234u);
    EXPECT_EQ(*kiv::le32(b, 4, 0), 0x78563412u);
    EXPECT_EQ(*kiv::be16(b, 4, 2), 0x5678u);
    EXPECT_FALSE(kiv::le32(b, 4, 1));
    EXPECT_FALSE(kiv::le16(b, 4, SIZE_MAX));
    const uint8_t z[4] = {};
    EXPECT_TRUE(ByteUtils::compareArrayValue(z, 0, 4));
    EXPECT_FALSE(ByteUtils::compareArrayValue(z, 0, 0));
    uint8_t fifty[50];
    EXPECT_EQ(getArraySize(fifty), 50u);
}

TEST(TypeTables, FirstPairOfAKeyWins) {
    // Rows of every table, a key given twice counted once.
    EXPECT_EQ((std::vector<size_t>{FileTypeDescription.size(), MisMatchExtensions.size(), DXFVersion.size(),
                                   DWFVersion.size(), DWGVersionDescription.size(), DXFVersionDescription.size(),
                                   DWFVersionDescription.size()}),
              (std::vector<size_t>{197, 65, 13, 22, 19, 14, 23}));
    EXPECT_EQ(FileTypeDescription.at("M4V"), "MPEG-4 Video");
    EXPECT_EQ(FileTypeDescription.at("data"), "data");
    EXPECT_THROW(FileTypeDescription.at("DATA"), std::out_of_range);
    EXPECT_EQ(FileTypeDescription.at("ZIP-ENCRYPTED"), FileTypeDescription.at("ZIP"));
    EXPECT_EQ(MisMatchExtensions.front(), "DOC");
    EXPECT_EQ(MisMatchExtensions.back(), "ZIP");
    EXPECT_EQ(DXFVersion.count("AC1001"), 0u);
    EXPECT_EQ(DWFVersion.at("06.20"), 59);
}

TEST(SignatureTables, HexTextAndRows) {
    using V = std::vector<uint8_t>;
    EXPECT_EQ(FileSignature::parseHexText("0x43 0x44 0x30 0x30 0x31"), (V{0x43, 0x44, 0x30, 0x30, 0x31}));
    EXPECT_EQ(FileSignature::parseHexText("0x43, 0x44,0x30 ,0x30\t0x31"), (V{0x43, 0x44, 0x30, 0x30, 0x31}));
    EXPECT_EQ(FileSignature::parseHexText("0xFD 0xxx 0X0e ff 0x123 7g zz 0x"), (V{0xFD, 0x0E, 0xFF, 0x23, 0x07}));
    EXPECT_TRUE(FileSignature::parseHexText(" ,, ").empty());

    kivtest::buildSignatureTables();
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
