// The archive family's post-rule probes: JAR, ISO 9660, Apple disk image and Atari ATR, at
// the edges of the windows and sizes they test.
#include "formats/archive/ArchiveProbes.h"
#include "tests/core/CoreTestKit.h"
#include "tests/formats/archive/ArchiveTestKit.h"

using namespace kit;

TEST(ArchiveProbes, JarIsoDmgAtr) {
    kivtest::buildSignatureTables();
    // "META-INF/" ending at byte 200 at the latest.
    for (size_t end = 198; end <= 202; ++end)
        EXPECT_EQ(isJAR(mem(bytes("PK\x03\x04" + std::string(end - 13, 'x') + "META-INF/"))), end <= 200) << end;
    EXPECT_FALSE(isJAR(mem(bytes("META-INF"))));

    for (uint32_t off : {32769u, 34817u, 36865u}) {
        ByteBuilder iso;
        iso.str(off, "CD001");
        EXPECT_TRUE(isISO(mem(iso.b))) << off;  // exactly off + 5 bytes long
        iso.b.pop_back();
        EXPECT_FALSE(isISO(mem(iso.b))) << off;
    }

    // The trailer fills the last 512 bytes: a shorter file that starts like one is no disk image.
    const Bytes trailer = ByteBuilder().str(0, "koly").put(8, "\x00\x00\x02\x00", 4).pad(512).b;
    for (size_t size : {12, 511, 512, 4096}) {
        Bytes b(size > 512 ? size - 512 : 0, 0);
        b.insert(b.end(), trailer.begin(), trailer.begin() + long(std::min<size_t>(size, 512)));
        EXPECT_EQ(isDMG(mem(b)), size >= 512) << size;
    }
    Bytes otherVersion = trailer;
    otherVersion[11] = 0x01;
    EXPECT_FALSE(isDMG(mem(otherVersion)));

    // The paragraph count agrees with the size, the 16-byte header included.
    for (size_t size : {3, 143, 144, 145}) {
        Bytes b = ByteBuilder().u8(0, 0x96).u8(1, 0x02).le16(2, 8).b;
        b.resize(size);
        EXPECT_EQ(isATR(mem(b)), size == 144) << size;
    }
}
