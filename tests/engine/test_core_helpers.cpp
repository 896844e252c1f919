// The shared byte reader, helpers and tables every detector relies on.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>

#include "engine/ByteSignatures.h"
#include "engine/ByteSource.h"
#include "engine/ByteUtils.h"
#include "engine/CommonUtils.h"
#include "engine/TypeTables.h"
#include "tests/engine/CoreTestKit.h"

using kiv::ByteSource;
using kiv::FileByteSource;
using kiv::MemoryByteSource;

namespace {
std::vector<uint8_t> counting(size_t n) {
    std::vector<uint8_t> v(n);
    for (size_t i = 0; i < n; ++i) v[i] = static_cast<uint8_t>(i * 7 + 3);
    return v;
}
std::string tempPath(const char* name) {
    return std::string(::testing::TempDir()) + name + "-" + std::to_string(::getpid());
}
}  // namespace

TEST(ByteSource, ReadsAreBoundedAndShortAtEnd) {
    MemoryByteSource src(counting(100));
    uint8_t buf[64];
    EXPECT_EQ(src.readAt(90, buf, 64), 10u);
    EXPECT_EQ(buf[0], static_cast<uint8_t>(90 * 7 + 3));
    EXPECT_EQ(src.readAt(100, buf, 1), 0u);
    EXPECT_EQ(src.readAt(UINT64_MAX, buf, 8), 0u);
    EXPECT_EQ(src.read(95, 1000).size(), 5u);
    EXPECT_EQ(src.head(1000).size, 100u);
    EXPECT_EQ(src.tail(7).size, 7u);
    EXPECT_EQ(src.tail(7).data[6], static_cast<uint8_t>(99 * 7 + 3));
}

TEST(ByteSource, CachedWindowsAgreeWithDirectReads) {
    std::vector<uint8_t> bytes = counting(300000);
    MemoryByteSource src(bytes);
    src.head(10);
    src.tail(5000);
    // Reads inside, across and outside the cached windows give the file's own bytes.
    for (uint64_t off : {0ull, 65530ull, 100000ull, 294999ull, 299990ull}) {
        std::vector<uint8_t> got = src.read(off, 31);
        ASSERT_EQ(got.size(), std::min<size_t>(31, 300000 - off));
        EXPECT_TRUE(std::equal(got.begin(), got.end(), bytes.begin() + off)) << off;
    }
}

TEST(ByteSearch, FindAndRfindAgreeWithAPlainSearchAtEveryWindowEdge) {
    // One needle at every position of a few small windows (so at, across and just inside each
    // edge, from either end), in bounds that end one byte short of it, at its end or further;
    // every answer is checked against std::search.
    const std::string needles[] = {"x", std::string("PK\x05\x06", 4), "/AIMetaData"};
    for (const std::string& needle : needles) {
        for (size_t window : {size_t(7), size_t(25)}) {
            std::vector<uint8_t> bytes(4 * window + needle.size(), 'a');
            for (size_t at = 0; at + needle.size() <= bytes.size(); ++at) {
                std::vector<uint8_t> hay = bytes;
                std::copy(needle.begin(), needle.end(), hay.begin() + long(at));
                MemoryByteSource src(hay);
                for (uint64_t from : {uint64_t(0), uint64_t(at), uint64_t(at + 1)}) {
                    for (uint64_t to : {uint64_t(at + needle.size() - 1), uint64_t(at + needle.size()),
                                        uint64_t(at + needle.size() + window / 2), uint64_t(hay.size() + 9)}) {
                        const auto first = hay.begin() + long(std::min<uint64_t>(from, hay.size()));
                        const auto last = hay.begin() + long(std::min<uint64_t>(to, hay.size()));
                        const bool inside =
                            first <= last && std::search(first, last, needle.begin(), needle.end()) != last;
                        const uint64_t want = inside ? at : kiv::WindowReader::npos;
                        const std::string where = needle + " at " + std::to_string(at) + " in [" +
                                                  std::to_string(from) + "," + std::to_string(to) + ") window " +
                                                  std::to_string(window);
                        kiv::WindowReader in(src, window);
                        EXPECT_EQ(in.find(needle.data(), needle.size(), from, to), want) << where;
                        EXPECT_EQ(in.rfind(needle.data(), needle.size(), from, to), want) << where;
                        // Kept from where the search starts, the bytes up to the match stay held.
                        kiv::WindowReader kept(src, window);
                        EXPECT_EQ(kept.find(needle.data(), needle.size(), from, to, from), want) << where;
                        size_t avail = 0;
                        kept.held(from, avail);
                        if (inside) {
                            EXPECT_GE(avail, at + needle.size() - from) << where;
                        }
                    }
                }
                const kiv::ByteView v{hay.data(), hay.size()};
                EXPECT_EQ(v.find(needle.data(), needle.size()), at) << needle;
                EXPECT_EQ(v.find(needle.data(), needle.size(), at + 1), kiv::ByteView::npos) << needle;
            }
        }
    }
}

TEST(ByteSource, WindowReaderAnswersAsReadAtWithOneReadPerWindow) {
    const std::vector<uint8_t> bytes = counting(300000);
    kivtest::CountingSource src(bytes);
    kiv::WindowReader in(src);
    // Small records from the start to the end, some straddling window edges, cost one read
    // per window; the answers are those of readAt, short at the end.
    size_t got = 0;
    for (uint64_t off = 0; off < bytes.size(); off += 46) {
        const uint8_t* p = in.view(off, 46, got);
        ASSERT_EQ(got, std::min<size_t>(46, bytes.size() - off));
        ASSERT_TRUE(std::equal(p, p + got, bytes.begin() + long(off))) << off;
    }
    EXPECT_LE(src.reads, bytes.size() / kiv::limits::kReadWindow + 2);
    // Larger than a window, backwards, past the end; readZ zero-fills what is missing.
    EXPECT_EQ(in.view(1000, 200000, got)[199999], bytes[200999]);
    EXPECT_EQ(got, 200000u);
    EXPECT_EQ(in.view(10, 4, got)[0], bytes[10]);
    in.view(300000, 4, got);
    EXPECT_EQ(got, 0u);
    uint8_t tail[8];
    EXPECT_EQ(in.readZ(299996, tail, 8), 4u);
    EXPECT_EQ(tail[3], bytes[299999]);
    EXPECT_EQ(tail[4], 0);
    // A bound below the source's size ends every read there.
    kiv::WindowReader bounded(src, 64, 100);
    EXPECT_EQ(bounded.view(90, 20, got)[9], bytes[99]);
    EXPECT_EQ(got, 10u);
}

namespace {
// A source whose bytes stop at cut although it claims more, as a file that shrank after it
// was opened: every read across cut is short.
class ShrunkSource : public kiv::ByteSource {
public:
    ShrunkSource(std::vector<uint8_t> bytes, size_t cut) : bytes_(std::move(bytes)), cut_(cut) {
        size_ = bytes_.size();
    }

protected:
    size_t doRead(uint64_t off, void* dst, size_t n) const override {
        if (off >= cut_) return 0;
        const size_t k = std::min<size_t>(n, cut_ - size_t(off));
        std::memcpy(dst, bytes_.data() + off, k);
        return k;
    }

private:
    std::vector<uint8_t> bytes_;
    size_t cut_;
};
}  // namespace

TEST(ByteSource, WindowReaderNeverClaimsBytesItDidNotRead) {
    const size_t window = 16;
    const std::vector<uint8_t> bytes = counting(100);
    // The source stops giving bytes at every edge: the start, before, at and after a window
    // edge, inside a record, and one byte before its end. Each view, read and search gets
    // exactly the bytes below the cut.
    for (size_t cut : {size_t(0), size_t(1), window - 1, window, window + 1, size_t(47), size_t(99)}) {
        ShrunkSource src(bytes, cut);
        kiv::WindowReader in(src, window);
        for (uint64_t off = 0; off < 100; off += 3) {
            for (size_t n : {size_t(1), size_t(4), window, 3 * window}) {
                size_t got = 0;
                const uint8_t* p = in.view(off, n, got);
                const size_t real = off < cut ? std::min<size_t>(n, cut - off) : 0;
                ASSERT_EQ(got, real) << "cut " << cut << ", " << n << " at " << off;
                ASSERT_TRUE(std::equal(p, p + got, bytes.begin() + long(off))) << "cut " << cut << " at " << off;
                size_t avail = 0;
                const uint8_t* h = in.held(off, avail);
                EXPECT_LE(off + avail, std::max<uint64_t>(cut, off)) << "cut " << cut << " at " << off;
                EXPECT_EQ(h[avail], 0) << "cut " << cut << " at " << off;
                uint8_t buf[3 * window];
                ASSERT_EQ(in.readZ(off, buf, n), real);
                EXPECT_TRUE(std::all_of(buf + real, buf + n, [](uint8_t b) { return b == 0; }));
            }
        }
        const uint8_t last[2] = {bytes[98], bytes[99]};
        EXPECT_EQ(kiv::WindowReader(src, window).find(last, 2, 0, 100), kiv::WindowReader::npos) << cut;
        EXPECT_EQ(kiv::WindowReader(src, window).find(last, 2, 0, 100, 0), kiv::WindowReader::npos) << cut;
        EXPECT_EQ(kiv::WindowReader(src, window).rfind(last, 2, 0, 100), kiv::WindowReader::npos) << cut;
    }
}

TEST(ByteSource, FilesThatAreMissingOrNotRegularHaveNoBytes) {
    FileByteSource missing(tempPath("no-such-file-here"));
    EXPECT_FALSE(missing.isOpen());
    EXPECT_EQ(missing.size(), 0u);
    FileByteSource dir(::testing::TempDir());
    EXPECT_EQ(dir.size(), 0u);

    std::string fifo = tempPath("kiv-core-fifo");
    ::unlink(fifo.c_str());
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    FileByteSource pipe(fifo);  // must not block waiting for a writer
    EXPECT_EQ(pipe.size(), 0u);
    EXPECT_EQ(pipe.head(16).size, 0u);
    ::unlink(fifo.c_str());

    std::string path = tempPath("kiv-core-file");
    { std::ofstream(path, std::ios::binary) << "hello world"; }
    FileByteSource f(path);
    EXPECT_EQ(f.size(), 11u);
    EXPECT_TRUE(f.head(5).startsWith("hello", 5));
    EXPECT_EQ(kiv::WindowReader(f).find("world", 5, 0, 100), 6u);
    ::unlink(path.c_str());
}

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

TEST(CommonUtils, SearchInBinary) {
    EXPECT_EQ(CommonUtils::searchInBinary("aaab", 4, "aab", 3), 1);
    EXPECT_EQ(CommonUtils::searchInBinary("ab", 2, "b", 1), 1);
    EXPECT_EQ(CommonUtils::searchInBinary("", 0, "x", 1), -1);
    EXPECT_EQ(CommonUtils::searchInBinary("abc", 3, "", 0), 0);
    const unsigned char hay[] = {0x01, 0xD0, 0xCF, 0x11};
    EXPECT_EQ(CommonUtils::searchInBinary(hay, 4, "\xD0\xCF", 2), 1);
    std::vector<char> v = {'x', 'P', 'K'};
    EXPECT_EQ(CommonUtils::searchInBinary(v, v.size(), "PK", 2), 1);
}

TEST(CommonUtils, PathQuotingAndNoShell) {
    std::string p = "/tmp/a b(1)/";
    CommonUtils::replaceSpaceInPath(p);
    EXPECT_EQ(p, "/tmp/a\" \"b\\(1\\)/");
    std::string q = "x\t \ny{z}[0]";
    CommonUtils::replaceSpaceInPath(q);
    EXPECT_EQ(q, "x\"\t \n\"y\\{z\\}\\[0\\]");
    // A very long blank run must not exhaust the stack.
    std::string blanks = "a" + std::string(200000, ' ') + "b";
    CommonUtils::replaceSpaceInPath(blanks);
    EXPECT_EQ(blanks.size(), 200004u);
    // Arguments reach the program byte for byte; nothing is read as shell syntax.
    std::string hostile = "/tmp/x'$(touch pwned);`id`\n\"y";
    EXPECT_EQ(CommonUtils::executeCommandAndGetOutput({"printf", "%s", hostile}), hostile);
}

TEST(CommonUtils, CommandOutputKeepsEveryByte) {
    std::vector<char> out;
    int status = -1;
    ASSERT_TRUE(CommonUtils::executeCommandAndGetOutputChar({"printf", "a\\000b\\377"}, out, 100, &status));
    EXPECT_EQ(out, (std::vector<char>{'a', '\0', 'b', '\xff'}));
    EXPECT_EQ(status, 0);
    out.clear();
    ASSERT_TRUE(CommonUtils::executeCommandAndGetOutputChar({"head", "-c", "100000", "/dev/zero"}, out, 10));
    EXPECT_EQ(out.size(), 10u);
    // Standard error is collected too; a missing program is a failure, not empty success.
    out.clear();
    ASSERT_TRUE(CommonUtils::executeCommandAndGetOutputChar({"ls", "/no/such/dir"}, out, 1000, &status));
    EXPECT_FALSE(out.empty());
    EXPECT_NE(status, 0);
    EXPECT_FALSE(CommonUtils::executeCommandAndGetOutputChar({"/no/such/program"}, out));
    EXPECT_EQ(CommonUtils::executeCommandAndGetOutput({"/no/such/program"}), "");
    EXPECT_FALSE(CommonUtils::executeCommandAndGetOutputChar({"no-such-program-anywhere"}, out));
}

TEST(CommonUtils, CommandOutputIsCappedAndEndlessOutputStops) {
    // A 200 KiB file with NULs and every byte value comes back byte for byte.
    std::string path = tempPath("kiv-core-binary");
    std::string bytes;
    for (size_t i = 0; i < 200 * 1024; ++i) bytes += static_cast<char>((i * 131) % 256);
    { std::ofstream(path, std::ios::binary) << bytes; }
    std::vector<char> out;
    ASSERT_TRUE(CommonUtils::executeCommandAndGetOutputChar({"cat", path}, out));
    EXPECT_EQ(std::string(out.begin(), out.end()), bytes);
    ::unlink(path.c_str());
    // A program that never stops writing is stopped once it passes the cap.
    out.clear();
    int status = 0;
    ASSERT_TRUE(CommonUtils::executeCommandAndGetOutputChar({"yes"}, out, 4096, &status));
    EXPECT_EQ(out.size(), 4096u);
    EXPECT_TRUE(WIFSIGNALED(status));
}

TEST(CommonUtils, SafeGetlineReadsEveryLineEnding) {
    std::istringstream in(std::string("a\r\nb\rc\n"));
    std::string line;
    std::vector<std::string> lines;
    while (CommonUtils::safeGetline(in, line) && !(in.eof() && line.empty())) lines.push_back(line);
    EXPECT_EQ(lines, (std::vector<std::string>{"a", "b", "c"}));
    EXPECT_TRUE(in.eof());
    // An overlong line stops one character past the cap, so "longer than the cap" stays
    // visible, and the rest of the line is not read.
    std::istringstream longLine(std::string(1000, 'z') + "\nnext\n");
    CommonUtils::safeGetline(longLine, line, 10);
    EXPECT_EQ(line, std::string(11, 'z'));
    EXPECT_EQ(longLine.tellg(), 11);
    std::istringstream exact("0123456789\nnext");
    CommonUtils::safeGetline(exact, line, 10);
    EXPECT_EQ(line, "0123456789");
    CommonUtils::safeGetline(exact, line, 10);
    EXPECT_EQ(line, "next");
}

TEST(CommonUtils, ValueOfResultJsonKeys) {
    std::string json =
        "{\"typeID\":\"PDF\",\"type\":\"application/pdf\",\"groupIDs\":[\"P\"],\"groupID\":\"P\","
        "\"description\":\"Adobe Portable Document Format\",\"extensions\":\"pdf\",\"encrypted\":false}";
    EXPECT_EQ(CommonUtils::getValueOf("typeID", json), "PDF");
    EXPECT_EQ(CommonUtils::getValueOf("encrypted", json), "false");
    EXPECT_EQ(CommonUtils::getValueOf("missing", json), "");
    // A closing brace inside a quoted value is part of the value; one after it is not.
    EXPECT_EQ(CommonUtils::getValueOf("description", "{\"description\":\"a}\",\"x\":1}"), "a}");
    EXPECT_EQ(CommonUtils::getValueOf("description", "{\"description\":\"a}\"}"), "a}");
    EXPECT_EQ(CommonUtils::getValueOf("x", "{\"x\":\"\"}"), "");
    EXPECT_EQ(CommonUtils::getValueOf("k", "{\"k\"}"), "");
    std::string s = " a b ";
    CommonUtils::removeSpace(s);
    EXPECT_EQ(s, "ab");
}

TEST(TypeTables, FirstPairOfAKeyWins) {
    EXPECT_EQ(FileTypeDescription.size(), 197u);
    EXPECT_EQ(FileTypeDescription.at("M4V"), "MPEG-4 Video");
    EXPECT_EQ(FileTypeDescription.at("data"), "data");
    EXPECT_THROW(FileTypeDescription.at("DATA"), std::out_of_range);
    EXPECT_EQ(FileTypeDescription.at("ZIP-ENCRYPTED"), FileTypeDescription.at("ZIP"));
    EXPECT_EQ(MisMatchExtensions.size(), 65u);
    EXPECT_EQ(MisMatchExtensions.front(), "DOC");
    EXPECT_EQ(MisMatchExtensions.back(), "ZIP");
    EXPECT_EQ(DXFVersion.size(), 13u);
    EXPECT_EQ(DWFVersion.size(), 22u);
    EXPECT_EQ(DXFVersion.count("AC1001"), 0u);
    EXPECT_EQ(DWFVersion.at("06.20"), 59);
    EXPECT_EQ(DWGVersionDescription.size(), 19u);
    EXPECT_EQ(DXFVersionDescription.size(), 14u);
    EXPECT_EQ(DWFVersionDescription.size(), 23u);
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
