// The archive family's post-rule probes: JAR, ISO 9660, Apple disk image and Atari ATR, at
// the edges of the windows and sizes they test.
#include "formats/archive/ArchiveProbes.h"
#include "tests/core/CoreTestKit.h"
#include "tests/formats/archive/ArchiveTestKit.h"

using namespace kit;

TEST(ArchiveProbes, JarIsoDmgAtr) {
    kivtest::buildSignatureTables();
    EXPECT_TRUE(isJAR(mem(bytes("PK\x03\x04" + std::string(187, 'x') + "META-INF/"))));   // ends at byte 200
    EXPECT_FALSE(isJAR(mem(bytes("PK\x03\x04" + std::string(188, 'x') + "META-INF/"))));  // one byte later
    EXPECT_FALSE(isJAR(mem(bytes("META-INF"))));

    for (uint32_t off : {32769u, 34817u, 36865u}) {
        ByteBuilder iso;
        iso.str(off, "CD001");
        EXPECT_TRUE(isISO(mem(iso.b))) << off;  // exactly off + 5 bytes long
        iso.b.pop_back();
        EXPECT_FALSE(isISO(mem(iso.b))) << off;
    }

    ByteBuilder dmg;
    dmg.pad(4096).str(4096 - 512, "koly").put(4096 - 504, "\x00\x00\x02\x00", 4);
    EXPECT_TRUE(isDMG(mem(dmg.b)));
    dmg.u8(4096 - 501, 0x01);
    EXPECT_FALSE(isDMG(mem(dmg.b)));
    // A trailer needs 512 bytes: a short file that starts like one is not a disk image.
    EXPECT_FALSE(isDMG(mem(bytes(std::string("koly\0\0\0\0\0\0\x02\0", 12)))));
    EXPECT_FALSE(isDMG(mem(bytes(std::string("koly\0\0\0\0\0\0\x02\0", 12) + std::string(499, '\0')))));

    ByteBuilder atr;
    atr.u8(0, 0x96).u8(1, 0x02).le16(2, 8).pad(16 + 8 * 16);
    EXPECT_TRUE(isATR(mem(atr.b)));
    atr.pad(16 + 8 * 16 + 1);
    EXPECT_FALSE(isATR(mem(atr.b)));  // the paragraph count disagrees with the size
    EXPECT_FALSE(isATR(mem(bytes(std::string("\x96\x02\x00", 3)))));
}
