// Compound-file reader: header checks, read geometry, damaged tables and name lookups, on
// files written by CfbBuilder.h.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "core/ByteSource.h"
#include "formats/office/CompoundFile.h"
#include "tests/formats/office/CfbBuilder.h"

using namespace cfbtest;

namespace {

std::vector<uint8_t> pattern(size_t n, unsigned seed) {
    std::vector<uint8_t> v(n);
    for (size_t i = 0; i < n; ++i) v[i] = static_cast<uint8_t>((i * 31 + seed * 7 + (i >> 9)) & 0xFF);
    return v;
}

int openBytes(const std::vector<uint8_t>& bytes) {
    kiv::MemoryByteSource src(bytes);
    CompoundFile cf;
    return cf.open(src);
}

// An open compound file over its own copy of the bytes.
struct Opened {
    kiv::MemoryByteSource src;
    CompoundFile cf;
    int rc;
    explicit Opened(std::vector<uint8_t> bytes) : src(std::move(bytes)), rc(cf.open(src)) {}
    CFStorage root() { return cf.getRootStorage(); }
};

// Reads a stream through CFStream::readData; null result and 0 give an empty vector.
std::vector<uint8_t> readPart(CFStream& s, int offset, int length, bool* isNull = nullptr) {
    char* raw = nullptr;
    int n = s.readData(&raw, offset, length);
    std::unique_ptr<char[]> hold(raw);
    if (isNull) *isNull = raw == nullptr;
    if (n <= 0) return {};
    return std::vector<uint8_t>(raw, raw + n);
}

// A stream read whole through getData; its ByteSource must offer exactly the same bytes and
// claim no more than it delivers.
std::vector<uint8_t> readStream(CFStorage& root, const char* name) {
    CFStream s;
    if (root.getStream(name, s) != 0) return {};
    char* raw = nullptr;
    int n = s.getData(&raw);
    std::unique_ptr<char[]> hold(raw);
    std::vector<uint8_t> bytes = n > 0 ? std::vector<uint8_t>(raw, raw + n) : std::vector<uint8_t>();
    const CFStreamSource src(s);
    EXPECT_EQ(src.read(0, static_cast<size_t>(src.size()) + 10), bytes) << name;
    EXPECT_EQ(src.size(), bytes.size()) << name;
    return bytes;
}

Plan twoStreams(uint16_t major = 3) {
    Plan plan;
    plan.major = major;
    plan.entries.push_back(stream("Small", pattern(4095, 1)));
    plan.entries.push_back(stream("Large", pattern(4096, 2)));
    return plan;
}

}  // namespace

// (i) The header decides between 1 (not a compound file), 2 (unsupported) and 0.
TEST(CompoundFileHeader, AnswersByHeaderField) {
    Cfb good = makeCfb(twoStreams());
    EXPECT_EQ(openBytes(good.bytes), 0);
    EXPECT_EQ(openBytes(makeCfb(twoStreams(4)).bytes), 0);

    EXPECT_EQ(openBytes(std::vector<uint8_t>(good.bytes.begin(), good.bytes.begin() + 511)), 1);
    struct Case {
        const char* what;
        uint64_t offset;
        uint32_t value;
        int width;
        int expected;
    };
    const Case cases[] = {
        {"signature", 0, 0xD0CF11E1, 4, 1},   {"version 3 with 4096-byte sectors", 0x1E, 12, 2, 2},
        {"version 5", 0x1A, 5, 2, 2},         {"byte order", 0x1C, 0xFEFF, 2, 2},
        {"mini sector shift", 0x20, 7, 2, 2}, {"reserved u16", 0x22, 1, 2, 2},
        {"reserved u32", 0x24, 1, 4, 2},      {"mini stream cutoff", 0x38, 4095, 4, 2},
        {"sector shift 31", 0x1E, 31, 2, 2},  {"sector shift 41 (taken mod 32)", 0x1E, 41, 2, 0},
    };
    for (const Case& c : cases) {
        Cfb f = good;
        if (c.width == 2)
            f.put16(c.offset, static_cast<uint16_t>(c.value));
        else
            f.put32(c.offset, c.value);
        EXPECT_EQ(openBytes(f.bytes), c.expected) << c.what;
    }
    // The signature is checked before any header rule.
    Cfb both = good;
    both.bytes[0] = 0;
    both.put16(0x1A, 9);
    EXPECT_EQ(openBytes(both.bytes), 1);
    // A header alone, without a directory, is damaged.
    EXPECT_EQ(openBytes(std::vector<uint8_t>(good.bytes.begin(), good.bytes.begin() + 512)), 1);
}

TEST(CompoundFileHeader, OpenFromPathAndTwice) {
    Cfb f = makeCfb(twoStreams());
    std::string path = ::testing::TempDir() + "kiv_cfb_open.bin";
    {
        FILE* fp = fopen(path.c_str(), "wb");
        ASSERT_NE(fp, nullptr);
        fwrite(f.bytes.data(), 1, f.bytes.size(), fp);
        fclose(fp);
    }
    CompoundFile cf;
    EXPECT_EQ(cf.open(path), 0);
    EXPECT_EQ(cf.open(path), 1);  // already open
    CFStorage root = cf.getRootStorage();
    EXPECT_EQ(readStream(root, "Large"), pattern(4096, 2));
    cf.close();
    EXPECT_EQ(cf.open(path), 0);
    std::remove(path.c_str());

    CompoundFile missing;
    EXPECT_EQ(missing.open(path), 1);
    CompoundFile dir;
    EXPECT_EQ(dir.open(::testing::TempDir()), 1);
}

// (ii) Streams below 4096 bytes come from short sectors, others from regular sectors; reads
// are clamped to the stream and to its chain.
TEST(CompoundFileRead, ShortAndRegularStreamsInBothVersions) {
    for (uint16_t major : {3, 4}) {
        for (bool reverse : {false, true}) {
            Plan plan = twoStreams(major);
            plan.reverseChains = reverse;
            plan.entries.push_back(stream("Big", pattern(70000, 3)));
            plan.entries.push_back(stream("Empty", {}));
            Opened o(makeCfb(plan).bytes);
            ASSERT_EQ(o.rc, 0);
            CFStorage root = o.root();
            EXPECT_EQ(readStream(root, "Small"), pattern(4095, 1)) << major << reverse;
            EXPECT_EQ(readStream(root, "Large"), pattern(4096, 2)) << major << reverse;
            EXPECT_EQ(readStream(root, "Big"), pattern(70000, 3)) << major << reverse;
            EXPECT_TRUE(readStream(root, "Empty").empty());
        }
    }
}

TEST(CompoundFileRead, Geometry) {
    Plan plan = twoStreams();
    plan.reverseChains = true;  // neighbouring pieces live in non-adjacent sectors
    plan.entries.push_back(stream("Exact", pattern(1024 * 5, 4)));
    Opened o(makeCfb(plan).bytes);
    ASSERT_EQ(o.rc, 0);
    CFStorage root = o.root();
    CFStream big, small, exact;
    ASSERT_EQ(root.getStream("Large", big), 0);
    ASSERT_EQ(root.getStream("Small", small), 0);
    ASSERT_EQ(root.getStream("Exact", exact), 0);
    std::vector<uint8_t> all = pattern(4096, 2);

    // Middle of one sector to the middle of the next.
    EXPECT_EQ(readPart(big, 500, 30), std::vector<uint8_t>(all.begin() + 500, all.begin() + 530));
    EXPECT_EQ(readPart(big, 100, 1500), std::vector<uint8_t>(all.begin() + 100, all.begin() + 1600));
    // Across short sectors.
    std::vector<uint8_t> s = pattern(4095, 1);
    EXPECT_EQ(readPart(small, 60, 10), std::vector<uint8_t>(s.begin() + 60, s.begin() + 70));
    // Over-long requests deliver the rest; ending exactly on a sector boundary is fine.
    EXPECT_EQ(readPart(big, 4000, 1000), std::vector<uint8_t>(all.begin() + 4000, all.end()));
    EXPECT_EQ(readPart(exact, 0, 1 << 30), pattern(1024 * 5, 4));
    EXPECT_EQ(readPart(exact, 512, 512).size(), 512u);
    EXPECT_EQ(readPart(small, 4032, 63).size(), 63u);

    bool isNull = false;
    EXPECT_TRUE(readPart(big, 4096, 10, &isNull).empty());
    EXPECT_TRUE(isNull);
    EXPECT_TRUE(readPart(big, -1, 10, &isNull).empty());
    EXPECT_TRUE(isNull);
    EXPECT_TRUE(readPart(big, 0, -1, &isNull).empty());
    EXPECT_TRUE(isNull);
    EXPECT_TRUE(readPart(big, 0, 0, &isNull).empty());
}

TEST(CompoundFileRead, SizeBeyondChainAndNegativeSize) {
    Plan plan = twoStreams();
    Cfb f = makeCfb(plan);
    // "Large" claims 20000 bytes but its chain has 8 sectors: only those are delivered.
    f.setDir32(2, 0x78, 20000);
    // "Small" claims a size with bit 31 set: it reads as negative and yields nothing.
    f.setDir32(1, 0x78, 0x80000010u);
    Opened o(f.bytes);
    ASSERT_EQ(o.rc, 0);
    CFStorage root = o.root();
    EXPECT_EQ(readStream(root, "Large"), pattern(4096, 2));
    CFStream big;
    ASSERT_EQ(root.getStream("Large", big), 0);
    EXPECT_TRUE(readPart(big, 5000, 100).empty());
    EXPECT_TRUE(readStream(root, "Small").empty());
}

// (iii) Damaged tables answer 1 (or deliver nothing) and cost no more than the file size.
TEST(CompoundFileDamage, TablesAndChains) {
    Plan plan = twoStreams();
    Cfb base = makeCfb(plan);
    const uint32_t largeStart = base.chains[1].front();

    struct Case {
        const char* what;
        void (*damage)(Cfb&, uint32_t);
        int openRc;
    };
    const Case cases[] = {
        {"directory chain loops", [](Cfb& f, uint32_t) { f.setFat(f.dirSectors[0], f.dirSectors[0]); }, 1},
        {"FAT count 0xFFFFFFFF", [](Cfb& f, uint32_t) { f.put32(0x2C, 0xFFFFFFFFu); }, 1},
        {"FAT count beyond the file", [](Cfb& f, uint32_t) { f.put32(0x2C, 1000); }, 1},
        {"FAT count 0", [](Cfb& f, uint32_t) { f.put32(0x2C, 0); }, 1},
        {"FAT sector beyond the file", [](Cfb& f, uint32_t) { f.put32(0x4C, 5000); }, 1},
        {"FAT sector id free (would wrap to the header)", [](Cfb& f, uint32_t) { f.put32(0x4C, 0xFFFFFFFFu); }, 1},
        {"directory start beyond the table", [](Cfb& f, uint32_t) { f.put32(0x30, 0x7FFFFFF0u); }, 1},
        {"empty directory", [](Cfb& f, uint32_t) { f.put32(0x30, ENDOFCHAIN); }, 1},
        {"root without children", [](Cfb& f, uint32_t) { f.setDir32(0, 0x4C, NOSTREAM); }, 1},
        {"root child out of range", [](Cfb& f, uint32_t) { f.setDir32(0, 0x4C, 400); }, 1},
        {"root child is an empty entry", [](Cfb& f, uint32_t) { f.setDir32(0, 0x4C, 3); }, 1},
        {"sibling out of range", [](Cfb& f, uint32_t) { f.setDir32(1, 0x44, 77); }, 1},
        {"DIFAT count 0 with few FAT sectors", [](Cfb& f, uint32_t) { f.put32(0x48, 0); }, 0},
        {"huge DIFAT count, unused", [](Cfb& f, uint32_t) { f.put32(0x48, 0x7FFFFFFF); }, 0},
        {"huge mini FAT count", [](Cfb& f, uint32_t) { f.put32(0x40, 0xFFFFFFFFu); }, 0},
        {"stream chain loops", [](Cfb& f, uint32_t s) { f.setFat(s + 3, s + 1); }, 0},
        {"stream chain to a huge id", [](Cfb& f, uint32_t s) { f.setFat(s, 0x7FFFFFFFu); }, 0},
        {"mini FAT loops", [](Cfb& f, uint32_t) { f.put32(f.sectorOffset(f.miniFatSectors[0]) + 8, 1); }, 0},
    };
    for (const Case& c : cases) {
        Cfb f = base;
        c.damage(f, largeStart);
        Opened o(f.bytes);
        EXPECT_EQ(o.rc, c.openRc) << c.what;
        if (o.rc != 0) continue;
        CFStorage root = o.root();
        std::vector<uint8_t> small = readStream(root, "Small");
        std::vector<uint8_t> large = readStream(root, "Large");
        std::string what = c.what;
        if (what == "stream chain loops" || what == "stream chain to a huge id") {
            EXPECT_TRUE(large.empty()) << c.what;
            EXPECT_EQ(small, pattern(4095, 1)) << c.what;
        } else if (what == "huge mini FAT count" || what == "mini FAT loops") {
            EXPECT_TRUE(small.empty()) << c.what;
            EXPECT_EQ(large, pattern(4096, 2)) << c.what;
        } else {
            EXPECT_EQ(small, pattern(4095, 1)) << c.what;
            EXPECT_EQ(large, pattern(4096, 2)) << c.what;
        }
    }
}

TEST(CompoundFileDamage, DifatChains) {
    // 120 FAT sectors: 11 of their ids live in a DIFAT sector.
    Plan plan = twoStreams();
    plan.minFatSectors = 120;
    Cfb f = makeCfb(plan);
    ASSERT_EQ(f.difatSectors.size(), 1u);
    EXPECT_EQ(openBytes(f.bytes), 0);

    Cfb noDifat = f;  // ids are needed but the chain is missing
    noDifat.put32(0x44, ENDOFCHAIN);
    EXPECT_EQ(openBytes(noDifat.bytes), 1);
    Cfb loop = f;  // more ids needed than the DIFAT sector holds, and it points to itself
    loop.put32(0x2C, 300);
    loop.put32(loop.sectorOffset(f.difatSectors[0]) + 508, f.difatSectors[0]);
    EXPECT_EQ(openBytes(loop.bytes), 1);
    Cfb beyond = f;
    beyond.put32(0x44, 999999);
    EXPECT_EQ(openBytes(beyond.bytes), 1);
}

TEST(CompoundFileDamage, DifatReachesRealSectors) {
    // More than 109 FAT sectors in use: sectors past 109 * 128 are found only through the
    // FAT sectors that the DIFAT lists.
    Plan plan;
    plan.entries.push_back(stream("Huge", pattern(7500000, 5)));
    Cfb f = makeCfb(plan);
    ASSERT_GT(f.fatSectors.size(), 109u);
    Opened o(f.bytes);
    ASSERT_EQ(o.rc, 0);
    CFStorage root = o.root();
    CFStream s;
    ASSERT_EQ(root.getStream("Huge", s), 0);
    std::vector<uint8_t> all = pattern(7500000, 5);
    EXPECT_EQ(readPart(s, 7500000 - 1000, 1000), std::vector<uint8_t>(all.end() - 1000, all.end()));
}

TEST(CompoundFileDamage, TruncationAnywhereNeverReadsOutside) {
    Plan plan = twoStreams();
    plan.entries.push_back(stream("Mid", pattern(9000, 6)));
    Cfb f = makeCfb(plan);
    for (size_t cut = 0; cut <= f.bytes.size(); cut += 61) {
        Opened o(std::vector<uint8_t>(f.bytes.begin(), f.bytes.begin() + cut));
        if (o.rc != 0) continue;
        CFStorage root = o.root();
        for (const char* name : {"Small", "Large", "Mid"}) {
            std::vector<uint8_t> got = readStream(root, name);
            EXPECT_LE(got.size(), 9000u);
        }
    }
}

// (iv) Lookups: whole names, 10-unit prefixes, duplicates in any case, cycles, long sibling chains.
TEST(CompoundFileLookup, NamesAndTypes) {
    Plan plan = twoStreams();
    Entry storage;
    storage.name = units("WordDocument");
    storage.type = 1;
    plan.entries.push_back(storage);
    Opened o(makeCfb(plan).bytes);
    ASSERT_EQ(o.rc, 0);
    CFStorage root = o.root();
    CFStream s;
    EXPECT_EQ(root.getStream("Small", s), 0);
    EXPECT_EQ(s.GetDirEntryData().streamSize(), 4095);
    EXPECT_EQ(root.getStream("small", s), 1);  // case matters
    EXPECT_EQ(root.getStream("Smal", s), 1);   // whole names only
    EXPECT_EQ(root.getStream("Smaller", s), 1);
    EXPECT_EQ(root.getStream("WordDocument", s), 1);  // a storage, not a stream
    CFStorage sub;
    EXPECT_EQ(root.getCFItem("WordDocument", &sub, 1), 1);  // a storage without children
    const short prefix[] = {'L', 'a', 'r'};
    EXPECT_EQ(root.getStream(prefix, 3, s), 0);
    EXPECT_EQ(s.GetDirEntryData().streamSize(), 4096);
    EXPECT_EQ(root.getStream(prefix, 0, s), 1);
    EXPECT_EQ(root.getStream(prefix, -4, s), 1);
    const short longName[40] = {'L', 'a', 'r', 'g', 'e'};
    EXPECT_EQ(root.getStream(longName, 40, s), 0);  // clamped to the 32 units of a name

    short wide[4];
    OLEUtil::chars2Shorts("\x81zq", 3, wide, 4);
    EXPECT_EQ(wide[0], static_cast<short>(0xFF81));
    EXPECT_EQ(wide[1], 'z');
    EXPECT_EQ(wide[3], 0);
}

TEST(CompoundFileLookup, DuplicatesFirstInsertedWins) {
    // Entry 1 has entry 2 on its left and entry 3 on its right; all are named "Dup".
    // Insertion order is left subtree, right subtree, entry: entry 2 wins.
    Plan plan;
    plan.customLinks = true;
    plan.rootChild = 1;
    plan.entries.push_back(stream("Dup", pattern(10, 1)));
    plan.entries.push_back(stream("Dup", pattern(20, 2)));
    plan.entries.push_back(stream("Dup", pattern(30, 3)));
    plan.entries[0].left = 2;
    plan.entries[0].right = 3;
    Opened o(makeCfb(plan).bytes);
    ASSERT_EQ(o.rc, 0);
    CFStorage root = o.root();
    EXPECT_EQ(readStream(root, "Dup").size(), 20u);

    // Only the right sibling and the entry: the right one is inserted first.
    plan.entries[0].left = NOSTREAM;
    Opened o2(makeCfb(plan).bytes);
    ASSERT_EQ(o2.rc, 0);
    CFStorage root2 = o2.root();
    EXPECT_EQ(readStream(root2, "Dup").size(), 30u);

    // "dup", "DUP" and "Dup": as written first, else the first inserted of them.
    plan.entries[0].left = 2;
    plan.entries[0].name = units("dup");
    plan.entries[1].name = units("DUP");
    Opened o3(makeCfb(plan).bytes);
    CFStorage root3 = o3.root();
    EXPECT_TRUE(readStream(root3, "dUp").empty() && root3.missedByCase());
    root3.setAnyCase(true);
    EXPECT_TRUE(readStream(root3, "dUp").size() == 20 && readStream(root3, "dup").size() == 10);
}

TEST(CompoundFileLookup, SiblingCyclesAndLongChains) {
    Plan plan;
    plan.customLinks = true;
    plan.entries.push_back(stream("A", pattern(10, 1)));
    plan.entries.push_back(stream("B", pattern(20, 2)));
    plan.entries.push_back(stream("C", pattern(30, 3)));
    plan.entries[0].right = 2;
    plan.entries[1].left = 3;
    plan.entries[1].right = 1;  // back to the start
    plan.entries[2].left = 2;   // and a second cycle
    Opened o(makeCfb(plan).bytes);
    ASSERT_EQ(o.rc, 0);
    CFStorage root = o.root();
    EXPECT_EQ(readStream(root, "A").size(), 10u);
    EXPECT_EQ(readStream(root, "C").size(), 30u);

    // 100000 siblings in one right-leaning chain: no recursion, every name found.
    Plan chain;
    for (int i = 0; i < 100000; ++i) chain.entries.push_back(stream("s" + std::to_string(i), {}));
    chain.entries.back().data = pattern(5, 9);
    Opened o2(makeCfb(chain).bytes);
    ASSERT_EQ(o2.rc, 0);
    CFStorage root2 = o2.root();
    EXPECT_EQ(readStream(root2, "s99999"), pattern(5, 9));
    CFStream s;
    EXPECT_EQ(root2.getStream("s0", s), 0);
    EXPECT_EQ(root2.getStream("s100000", s), 1);
}
