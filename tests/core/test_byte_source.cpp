// The bounded byte source and its window and search layer, every answer checked against the
// bytes themselves.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>

#include "core/ByteSource.h"
#include "core/ByteUtils.h"
#include "tests/core/CoreTestKit.h"

using kiv::FileByteSource;
using kiv::MemoryByteSource;
using kiv::WindowReader;

namespace {
std::vector<uint8_t> counting(size_t n) {
    std::vector<uint8_t> v(n);
    for (size_t i = 0; i < n; ++i) v[i] = static_cast<uint8_t>(i * 7 + 3);
    return v;
}
// The n bytes at p are those of bytes from off.
bool same(const uint8_t* p, size_t n, const std::vector<uint8_t>& bytes, uint64_t off) {
    return n == 0 || (off + n <= bytes.size() && std::equal(p, p + n, bytes.begin() + long(off)));
}
std::string tempPath(const char* name) {
    return std::string(::testing::TempDir()) + name + "-" + std::to_string(::getpid());
}
}  // namespace

TEST(ByteSource, ReadsHeadAndTailGiveTheBytesShortAtTheEnd) {
    // A small and a large file with their head and tail windows cached: reads at, across and
    // outside those windows, short at the end, and none past it.
    for (const size_t size : {size_t(100), size_t(300000)}) {
        const std::vector<uint8_t> bytes = counting(size);
        MemoryByteSource src(bytes);
        src.head(10);
        src.tail(5000);
        for (uint64_t off : {uint64_t(0), uint64_t(90), uint64_t(65530), uint64_t(100000), uint64_t(size - 5001),
                             uint64_t(size - 10), uint64_t(size), UINT64_MAX}) {
            const size_t want = off < size ? std::min<uint64_t>(31, size - off) : 0;
            uint8_t buf[31];
            ASSERT_EQ(src.readAt(off, buf, 31), want) << size << " at " << off;
            EXPECT_TRUE(same(buf, want, bytes, off)) << size << " at " << off;
            const std::vector<uint8_t> got = src.read(off, 31);
            EXPECT_TRUE(got.size() == want && same(got.data(), want, bytes, off)) << size << " at " << off;
        }
        for (size_t n : {size_t(7), size, size + 900}) {
            const kiv::ByteView head = src.head(n), tail = src.tail(n);
            EXPECT_TRUE(head.size == std::min(n, size) && same(head.data, head.size, bytes, 0)) << n;
            EXPECT_TRUE(tail.size == std::min(n, size) && same(tail.data, tail.size, bytes, size - tail.size)) << n;
        }
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
                        const uint64_t want = inside ? at : WindowReader::npos;
                        const std::string where = needle + " at " + std::to_string(at) + " in [" +
                                                  std::to_string(from) + "," + std::to_string(to) + ") window " +
                                                  std::to_string(window);
                        WindowReader in(src, window);
                        EXPECT_EQ(in.find(needle.data(), needle.size(), from, to), want) << where;
                        EXPECT_EQ(in.rfind(needle.data(), needle.size(), from, to), want) << where;
                        // Kept from where the search starts, the bytes up to the match stay held.
                        WindowReader kept(src, window);
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

TEST(ByteSearch, CaseBlindFindAgreesWithAFoldedSearch) {
    // Needles whose rarest byte is a letter, or '@' or '`' (a case bit apart, yet no letters),
    // written in lower, upper and mixed case at every place over filler and over decoys, in hays
    // that end before, at and after them.
    using kiv::asciiLowerCopy, kiv::asciiUpperCopy;
    for (const std::string needle : {"x", "microsoft", "PROJECT", "@[`{a", "/AIMetaData"}) {
        const size_t n = needle.size();
        std::string decoys;  // every other case bit flipped: mixed case in letters, other bytes elsewhere
        for (size_t i = 0; i < 40; ++i) decoys += static_cast<char>(needle[i % n] ^ (i % 2 ? 0x20 : 0));
        for (const std::string& filler : {std::string(40, 'a'), decoys})
            for (const std::string& written : {asciiLowerCopy(needle), asciiUpperCopy(needle), decoys.substr(0, n)})
                for (size_t at = 0; at + n <= 40; ++at)
                    for (size_t end : {at + n - 1, at + n, size_t(40)}) {
                        const std::string hay = std::string(filler).replace(at, n, written).substr(0, end);
                        const size_t want = asciiLowerCopy(hay).find(asciiLowerCopy(needle));
                        EXPECT_EQ(kiv::findBytesIgnoringAsciiCase(hay.data(), hay.size(), needle.data(), n),
                                  want == std::string::npos ? SIZE_MAX : want)
                            << needle << " at " << at << " in " << hay;
                    }
    }
}

TEST(WindowReader, NeverClaimsBytesTheSourceDidNotDeliver) {
    // The source stops giving bytes at every edge: the start, before, at and after a window
    // edge, inside a record, one byte before its end, or nowhere; it is read whole or up to a
    // bound. Records of one byte to three windows, at offsets forwards, then backwards and past
    // the end: each view, held span, read and search gets exactly the bytes below cut and bound.
    const size_t window = 16;
    const std::vector<uint8_t> bytes = counting(100);
    const uint8_t last[2] = {bytes[98], bytes[99]};
    for (size_t cut : {size_t(0), size_t(1), window - 1, window, window + 1, size_t(47), size_t(99), size_t(100)}) {
        for (uint64_t bound : {UINT64_MAX, uint64_t(90)}) {
            const std::string where = "cut " + std::to_string(cut) + ", bound " + std::to_string(bound);
            const kivtest::FailingSource src(std::string(bytes.begin(), bytes.begin() + long(cut)), bytes.size());
            WindowReader in(src, window, bound);
            const uint64_t stop = std::min<uint64_t>(cut, bound);
            for (uint64_t step = 0; step < 72; ++step) {
                const uint64_t off = step < 36 ? 3 * step : 3 * (71 - step) + 2;
                for (size_t n : {size_t(1), size_t(4), window, 3 * window}) {
                    size_t got = 0;
                    const uint8_t* p = in.view(off, n, got);
                    const size_t real = off < stop ? std::min<uint64_t>(n, stop - off) : 0;
                    ASSERT_EQ(got, real) << where << ": " << n << " at " << off;
                    ASSERT_TRUE(same(p, got, bytes, off)) << where << " at " << off;
                    size_t avail = 0;
                    const uint8_t* h = in.held(off, avail);
                    EXPECT_LE(off + avail, std::max(stop, off)) << where << " at " << off;
                    EXPECT_EQ(h[avail], 0) << where << " at " << off;
                    uint8_t buf[3 * window];
                    ASSERT_EQ(in.readZ(off, buf, n), real) << where << " at " << off;
                    EXPECT_TRUE(std::all_of(buf + real, buf + n, [](uint8_t b) { return b == 0; })) << where;
                }
            }
            const uint64_t want = stop == bytes.size() ? 98 : WindowReader::npos;
            EXPECT_EQ(WindowReader(src, window, bound).find(last, 2, 0, 100), want) << where;
            EXPECT_EQ(WindowReader(src, window, bound).find(last, 2, 0, 100, 0), want) << where;
            EXPECT_EQ(WindowReader(src, window, bound).rfind(last, 2, 0, 100), want) << where;
        }
    }
}

TEST(WindowReader, AWalkOfSmallRecordsReadsEachWindowOnce) {
    const std::vector<uint8_t> bytes = counting(300000);
    kivtest::CountingSource src(bytes);
    WindowReader in(src);
    size_t got = 0;
    for (uint64_t off = 0; off < bytes.size(); off += 46) {  // some straddle window edges
        const uint8_t* p = in.view(off, 46, got);
        ASSERT_TRUE(got == std::min<size_t>(46, bytes.size() - off) && same(p, got, bytes, off)) << off;
    }
    EXPECT_LE(src.reads, bytes.size() / kiv::limits::kReadWindow + 2);
}

TEST(ByteSource, FilesThatAreMissingOrNotRegularHaveNoBytes) {
    const std::string fifo = tempPath("kiv-core-fifo"), path = tempPath("kiv-core-file");
    ::unlink(fifo.c_str());
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    { std::ofstream(path, std::ios::binary) << "hello world"; }
    // A FIFO must not block waiting for a writer.
    const std::pair<std::string, uint64_t> files[] = {
        {tempPath("no-such-file-here"), 0}, {::testing::TempDir(), 0}, {fifo, 0}, {path, 11}};
    for (const auto& [name, size] : files) {
        FileByteSource f(name);
        EXPECT_EQ(f.isOpen(), name != files[0].first) << name;
        EXPECT_EQ(f.size(), size) << name;
        EXPECT_EQ(f.head(16).size, size) << name;
    }
    FileByteSource f(path);
    EXPECT_TRUE(f.head(5).startsWith("hello", 5));
    EXPECT_EQ(WindowReader(f).find("world", 5, 0, 100), 6u);
    ::unlink(fifo.c_str());
    ::unlink(path.c_str());
}
