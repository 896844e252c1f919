// RC4, SHA-1 and MD5 against published test vectors and constants made with Python's hashlib
// (python3 -c "import hashlib; print(hashlib.md5(b'a' * n).hexdigest())").
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "formats/office/MD5.h"
#include "formats/office/RC4.h"
#include "formats/office/SHA1.h"

namespace {

std::string hex(const unsigned char* p, size_t n) {
    static const char* digits = "0123456789abcdef";
    std::string s;
    for (size_t i = 0; i < n; ++i) {
        s.push_back(digits[p[i] >> 4]);
        s.push_back(digits[p[i] & 15]);
    }
    return s;
}

std::string md5Hex(const std::string& msg, size_t chunk = 0) {
    md5_context ctx;
    md5_starts(&ctx);
    const auto* p = reinterpret_cast<const unsigned char*>(msg.data());
    if (chunk == 0) chunk = msg.size() ? msg.size() : 1;
    for (size_t off = 0; off < msg.size(); off += chunk)
        md5_update(&ctx, p + off, static_cast<int>(std::min(chunk, msg.size() - off)));
    unsigned char d[16];
    md5_finish(&ctx, d);
    return hex(d, 16);
}

std::string sha1Hex(const std::string& msg, size_t chunk = 0) {
    kiv::CSHA1 sha;
    const auto* p = reinterpret_cast<const unsigned char*>(msg.data());
    if (chunk == 0) chunk = msg.size() ? msg.size() : 1;
    for (size_t off = 0; off < msg.size(); off += chunk)
        sha.Update(p + off, static_cast<unsigned int>(std::min(chunk, msg.size() - off)));
    sha.Final();
    unsigned char d[20];
    EXPECT_TRUE(sha.GetHash(d));
    return hex(d, 20);
}

struct DigestCase {
    size_t length;  // of a message of 'a's
    const char* md5;
    const char* sha1;
};

// Lengths around the 56-byte padding boundary and the 64-byte block.
const DigestCase kCases[] = {
    {0, "d41d8cd98f00b204e9800998ecf8427e", "da39a3ee5e6b4b0d3255bfef95601890afd80709"},
    {55, "ef1772b6dff9a122358552954ad0df65", "c1c8bbdc22796e28c0e15163d20899b65621d65a"},
    {56, "3b0c8ac703f828b04c6c197006d17218", "c2db330f6083854c99d4b5bfb6e8f29f201be699"},
    {63, "b06521f39153d618550606be297466d5", "03f09f5b158a7a8cdad920bddc29b81c18a551f5"},
    {64, "014842d480b571495a4a0363793f7367", "0098ba824b5c16427bd7a1122a5a442a25ec644d"},
    {65, "c743a45e0d2e6a95cb859adae0248435", "11655326c708d70319be2610e8a57d9a5b959d3b"},
    {119, "8a7bd0732ed6a28ce75f6dabc90e1613", "ee971065aaa017e0632a8ca6c77bb3bf8b1dfc56"},
    {120, "5f61c0ccad4cac44c75ff505e1f1e537", "f34c1488385346a55709ba056ddd08280dd4c6d6"},
    {1000000, "7707d6ae4e027c70eea2a935c2296f21", "34aa973cd4c4daa4f61eeb2bdbad27316534016f"},
};

}  // namespace

TEST(Digest, PublishedVectors) {
    EXPECT_EQ(md5Hex(""), "d41d8cd98f00b204e9800998ecf8427e");
    EXPECT_EQ(md5Hex("abc"), "900150983cd24fb0d6963f7d28e17f72");
    EXPECT_EQ(sha1Hex("abc"), "a9993e364706816aba3e25717850c26c9cd0d89d");
    EXPECT_EQ(sha1Hex("abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq"),
              "84983e441c3bd26ebaae4aa1f95129e5e54670f1");
}

TEST(Digest, BlockBoundariesWholeAndInOddChunks) {
    for (const DigestCase& c : kCases) {
        std::string msg(c.length, 'a');
        EXPECT_EQ(md5Hex(msg), c.md5) << c.length;
        EXPECT_EQ(sha1Hex(msg), c.sha1) << c.length;
        // Feeding 31 bytes at a time crosses every block edge at a different offset.
        EXPECT_EQ(md5Hex(msg, 31), c.md5) << c.length;
        EXPECT_EQ(sha1Hex(msg, 31), c.sha1) << c.length;
    }
}

TEST(Digest, EmptyUpdatesChangeNothingAndFinalKeepsTheDigest) {
    md5_context ctx;
    md5_starts(&ctx);
    const unsigned char byte = 'x';
    md5_update(&ctx, &byte, 0);
    md5_update(&ctx, &byte, -5);
    unsigned char d[20];
    md5_finish(&ctx, d);
    EXPECT_EQ(hex(d, 16), "d41d8cd98f00b204e9800998ecf8427e");

    kiv::CSHA1 sha;
    sha.Update(reinterpret_cast<const unsigned char*>("abc"), 3);
    sha.Final();
    ASSERT_TRUE(sha.GetHash(d));
    EXPECT_EQ(hex(d, 20), "a9993e364706816aba3e25717850c26c9cd0d89d");  // state wiped, digest kept
    EXPECT_FALSE(sha.GetHash(nullptr));
}

TEST(RC4Cipher, PublishedKeystreams) {
    unsigned char text[] = "Plaintext";
    unsigned char out[9];
    RC4 a(reinterpret_cast<const unsigned char*>("Key"), -1);
    a.process(text, 9, out);
    EXPECT_EQ(hex(out, 9), "bbf316e8d940af0ad3");

    // RFC 6229: keystream bytes 0-15 for 40-bit and 128-bit keys.
    const unsigned char key40[] = {1, 2, 3, 4, 5};
    unsigned char zeros[16] = {};
    RC4 b(key40, 5);
    b.process(zeros, 16, nullptr);  // in place
    EXPECT_EQ(hex(zeros, 16), "b2396305f03dc027ccc3524a0a1118a8");

    unsigned char key128[16];
    for (int i = 0; i < 16; ++i) key128[i] = static_cast<unsigned char>(i + 1);
    unsigned char once[32] = {}, twice[32] = {};
    RC4 c(key128, 16);
    c.process(once, 32, nullptr);
    EXPECT_EQ(hex(once, 16), "9ac7cc9a609d1ef7b2932899cde41b97");
    // The keystream carries over between calls.
    RC4 d(key128, 16);
    d.process(twice, 16, nullptr);
    d.process(twice + 16, 16, nullptr);
    EXPECT_EQ(hex(once, 32), hex(twice, 32));
}

TEST(RC4Cipher, EmptyKeyIsDefined) {
    unsigned char a[8] = {}, b[8] = {};
    RC4 x(reinterpret_cast<const unsigned char*>(""), -1);
    RC4 y(nullptr, 0);
    x.process(a, 8, nullptr);
    y.process(b, 8, nullptr);
    EXPECT_EQ(hex(a, 8), hex(b, 8));
}
