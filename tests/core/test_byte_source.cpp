// The bounded byte source and its window and search layer.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <fstream>

#include "core/ByteSource.h"
#include "tests/core/CoreTestKit.h"

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
