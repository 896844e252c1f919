// Scoring a submitted file: points per pattern and string, the header and search windows,
// the ranking sort with its tie order, and repeated or failed calls.
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/types.h>

#include <algorithm>
#include <climits>
#include <clocale>
#include <cstdlib>
#include <random>

#include "core/Limits.h"
#include "tests/qrixlib/QrixTestSupport.h"

namespace {

using namespace qrixtest;

TEST_F(QrixTest, PointsPerPatternAndString) {
    ASSERT_EQ(lib->setPack(pack::package({
                  def("Four", {{0, "ABCD"}}),
                  def("Mixed", {{0, "AB"}, {100, "XYZ"}}, {"HELLO"}),
              })),
              2);
    std::string file = "ABCD" + std::string(96, '.') + "XYZ and then hello";
    const auto hits = scan(file);
    ASSERT_EQ(hits.size(), 2u);
    EXPECT_EQ(hits[0].type, "Mixed");
    EXPECT_EQ(hits[0].points, 2000 + 3 + 2500);
    EXPECT_EQ(hits[1].type, "Four");
    EXPECT_EQ(hits[1].points, 4000);
}

TEST_F(QrixTest, PatternsMustLieWithinTheHeader) {
    ASSERT_EQ(lib->setPack(pack::package({
                  def("Short", {{4, "TAIL"}}),
                  def("Edge", {{2044, "LAST"}}),
                  def("Beyond", {{2046, "LAST"}}),
              })),
              3);
    // A file shorter than offset + length cannot match.
    EXPECT_TRUE(scan("12TAI").empty());
    // Only the first 2048 bytes are tested: a pattern ending exactly there matches, one
    // reaching past it never does, however long the file.
    std::string big(4096, '.');
    big.replace(2044, 4, "LAST");
    auto hits = scan(big);
    ASSERT_EQ(hits.size(), 1u);
    EXPECT_EQ(hits[0].type, "Edge");
    big.replace(2044, 6, "..LAST");
    EXPECT_TRUE(scan(big).empty());
}

TEST_F(QrixTest, DefinitionsThatCanNeverHit) {
    pack::Definition negative;
    negative.info = {{"TYPE", "Negative"}};
    std::string patt(2, '\0');
    pack::putI16(patt, -1);  // offset -1
    pack::putI16(patt, 1);
    patt += "A";
    std::string record = pack::chunk("DEF ", pack::chunk("DATA", pack::chunk("PATT", patt)) +
                                                 pack::chunk("INFO", pack::infoEntry("TYPE", "Negative")));
    std::string area = record + pack::definitionRecord(def("Empty pattern", {{0, ""}}, {"A"})) +
                       pack::definitionRecord(def("Lower string", {{0, "A"}}, {"abc"})) +
                       pack::definitionRecord(def("Upper string", {{0, "A"}}, {"ABC"})) +
                       pack::definitionRecord(def("No patterns", {}, {"A"}));
    ASSERT_EQ(lib->setPack(pack::package(area, 5)), 5);
    // The file holds "abc" and "ABC"; strings are searched in an upper-cased copy, so a
    // string written with lower-case letters never matches.
    const auto hits = scan("A abc ABC");
    ASSERT_EQ(hits.size(), 1u);
    EXPECT_EQ(hits[0].type, "Upper string");
    EXPECT_EQ(hits[0].points, 1000 + 1500);
}

TEST_F(QrixTest, PointsSaturateInsteadOfOverflowing) {
    // 1100 patterns of 2048 bytes at offset 0 are worth 2,252,800,000 points.
    const std::string head(2048, 'Q');
    std::vector<pack::Pattern> many(1100, pack::Pattern{0, head});
    ASSERT_EQ(lib->setPack(pack::package({def("Heavy", many), def("Light", {{0, "Q"}})})), 2);
    const auto hits = scan(head);
    ASSERT_EQ(hits.size(), 2u);
    EXPECT_EQ(hits[0].type, "Heavy");
    EXPECT_EQ(hits[0].points, INT32_MAX);
    EXPECT_EQ(hits[1].points, 1000);
}

// Four definitions that score 5, 9, 9 and 2 points (patterns away from offset 0 earn one
// point per byte).
std::string fiveNineNineTwo() {
    return pack::package({def("five", {{1, "55555"}}), def("nine-a", {{1, "555559999"}}),
                          def("nine-b", {{1, "55555"}, {6, "9999"}}), def("two", {{1, "55"}})});
}

TEST_F(QrixTest, RankingFollowsTheShellSortIncludingTies) {
    ASSERT_EQ(lib->setPack(fiveNineNineTwo()), 4);
    const auto hits = scan("x555559999");
    ASSERT_EQ(hits.size(), 4u);
    // The gap-2 pass swaps hits 1 and 3; the gap-1 pass swaps nothing, so the tied nines
    // end in the order 3, 2.
    EXPECT_EQ(hits[0].points, 9);
    EXPECT_EQ(hits[0].definition, 3);
    EXPECT_EQ(hits[1].points, 9);
    EXPECT_EQ(hits[1].definition, 2);
    EXPECT_EQ(hits[2].definition, 1);
    EXPECT_EQ(hits[3].definition, 4);
    // The engine walks from the last rank up and keeps the first of equal points it meets:
    // rank 2, definition 2.
    EXPECT_EQ(lib->engineChoice().type, "nine-a");
}

TEST_F(QrixTest, ShellSortExport) {
    int32_t keys[] = {0, 5, 9, 9, 2};
    int32_t perm[] = {0, 1, 2, 3, 4};
    QrixArrayRef k{keys}, p{perm};
    ASSERT_EQ(lib->shellSort(4, &k, &p), 1);
    EXPECT_EQ(std::vector<int32_t>(keys + 1, keys + 5), (std::vector<int32_t>{9, 9, 5, 2}));
    EXPECT_EQ(std::vector<int32_t>(perm + 1, perm + 5), (std::vector<int32_t>{3, 2, 1, 4}));

    // Any input ends in descending order, with the permutation following every swap.
    std::mt19937 rng(7);
    for (int round = 0; round < 200; ++round) {
        const int n = 1 + static_cast<int>(rng() % 40);
        std::vector<int32_t> original(n + 1), key(n + 1), order(n + 1);
        for (int i = 1; i <= n; ++i) original[i] = key[i] = static_cast<int32_t>(rng() % 6), order[i] = i;
        QrixArrayRef kr{key.data()}, pr{order.data()};
        ASSERT_EQ(lib->shellSort(n, &kr, &pr), 1);
        EXPECT_TRUE(std::is_sorted(key.begin() + 1, key.end(), std::greater<int32_t>()));
        for (int i = 1; i <= n; ++i) EXPECT_EQ(key[i], original[order[i]]);
    }
    EXPECT_EQ(lib->shellSort(0, &k, &p), 0);
    EXPECT_EQ(lib->shellSort(4, nullptr, &p), 0);
}

TEST_F(QrixTest, RepeatedAndStaleCallsGiveConsistentAnswers) {
    EXPECT_EQ(lib->analyze(), 0);  // nothing submitted
    ASSERT_EQ(lib->setPack(fiveNineNineTwo()), 4);
    const auto first = scan("x555559999");
    // A second analysis starts afresh: same ranks, never more hits than definitions.
    ASSERT_EQ(lib->analyze(), 1);
    const auto second = lib->hits();
    ASSERT_EQ(second.size(), first.size());
    for (size_t i = 0; i < first.size(); ++i) EXPECT_EQ(second[i].definition, first[i].definition);

    // Loading a smaller package drops the old hits.
    ASSERT_EQ(lib->setPack(pack::package({def("one", {{0, "x"}})})), 1);
    EXPECT_EQ(lib->getInfo(1, 0, nullptr), 0);
    EXPECT_EQ(lib->text(2, 3), "");
    EXPECT_EQ(lib->getInfo(4, 3, nullptr), 0);

    // A failed submission leaves nothing to analyse.
    EXPECT_EQ(lib->submitFileA(dir.file("missing").c_str()), 0);
    EXPECT_EQ(lib->analyze(), 0);
    EXPECT_EQ(lib->getInfo(1, 0, nullptr), 0);
}

TEST_F(QrixTest, FileGoneBeforeTheStringSearch) {
    ASSERT_EQ(lib->setPack(pack::package({def("patterns only", {{0, "AB"}}), def("needs strings", {{0, "A"}}, {"B"})})),
              2);
    ASSERT_EQ(submit("AB"), 1);
    ASSERT_EQ(::unlink(dir.file("sample.bin").c_str()), 0);
    // The answer is a failure, but the definitions that need no strings are still ranked.
    EXPECT_EQ(lib->analyze(), 0);
    const auto hits = lib->hits();
    ASSERT_EQ(hits.size(), 1u);
    EXPECT_EQ(hits[0].type, "patterns only");
}

constexpr off_t kWindow = 5 * 1024 * 1024;

// A sparse file of `size` bytes with the given texts written at their offsets.
void makeSparseFile(const std::string& path, off_t size, const std::vector<std::pair<off_t, std::string>>& texts) {
    const int fd = ::open(path.c_str(), O_CREAT | O_TRUNC | O_WRONLY, 0600);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::ftruncate(fd, size), 0);
    for (const auto& [at, s] : texts) ASSERT_EQ(::pwrite(fd, s.data(), s.size(), at), (ssize_t)s.size());
    ::close(fd);
}

class LargeFileTest : public QrixTest {
protected:
    // The sorted types of the hits for a sparse file.
    std::vector<std::string> typesFor(off_t size, const std::vector<std::pair<off_t, std::string>>& texts) {
        const std::string path = dir.file("big");
        makeSparseFile(path, size, texts);
        EXPECT_EQ(lib->submitFileA(path.c_str()), 1);
        EXPECT_EQ(lib->analyze(), 1);
        std::vector<std::string> types;
        for (const auto& h : lib->hits()) types.push_back(h.type);
        std::sort(types.begin(), types.end());
        ::unlink(path.c_str());
        return types;
    }
    void SetUp() override {
        QrixTest::SetUp();
        ASSERT_EQ(lib->setPack(pack::package({
                      def("head", {{0, "BIGFILE"}}, {"HEAD-MARKER"}),
                      def("middle", {{0, "BIGFILE"}}, {"MIDDLE-MARKER"}),
                      def("tail", {{0, "BIGFILE"}}, {"TAIL-MARKER"}),
                      def("across the cut", {{0, "BIGFILE"}}, {"HEADEND|TAILSTART"}),
                  })),
                  4);
    }
};

TEST_F(LargeFileTest, TenMebibytesIsTheLastSizeSearchedWhole) {
    // With one byte more than 10 MiB only byte 5 MiB lies outside both windows: the middle
    // marker covers it.
    auto texts = [](off_t size) {
        return std::vector<std::pair<off_t, std::string>>{
            {0, "BIGFILE"}, {100, "head-marker"}, {kWindow - 6, "middle-marker"}, {size - 100, "tail-marker"}};
    };
    const off_t tenMiB = 2 * kWindow;
    EXPECT_EQ(typesFor(tenMiB, texts(tenMiB)), (std::vector<std::string>{"head", "middle", "tail"}));
    EXPECT_EQ(typesFor(tenMiB + 1, texts(tenMiB + 1)), (std::vector<std::string>{"head", "tail"}));
}

TEST_F(LargeFileTest, HeadAndTailAreJoinedByABar) {
    const off_t size = 16 * 1024 * 1024;
    EXPECT_EQ(typesFor(size, {{0, "BIGFILE"},
                              {8 * 1024 * 1024, "middle-marker"},
                              {kWindow - 7, "headend"},
                              {size - kWindow, "tailstart"}}),
              (std::vector<std::string>{"across the cut"}));
}

TEST_F(QrixTest, StringsAcrossReadChunkEdgesAreFound) {
    // The search reads the file a chunk at a time: a string is found wherever it starts
    // around a chunk edge, the longest string widening the overlap, and its halves on the two
    // sides of an edge with a gap between them are not taken for it.
    const std::string shortText = "EDGE", longText = "A-LONGER-STRING-" + std::string(300, 'Q');
    ASSERT_EQ(
        lib->setPack(pack::package({def("short", {{0, "HEAD"}}, {shortText}), def("long", {{0, "HEAD"}}, {longText}),
                                    def("split", {{0, "HEAD"}}, {"LEFTRIGHT"})})),
        3);
    const size_t chunk = kiv::limits::kQrixSearchChunk;
    for (size_t edge : {chunk, 2 * chunk}) {
        for (const std::string& text : {shortText, longText}) {
            for (size_t start = edge - text.size() - 1; start <= edge + 1; ++start) {
                std::string file = "HEAD" + std::string(edge + 2 * chunk, '.');
                std::string lower = text;
                std::transform(lower.begin(), lower.end(), lower.begin(), ::tolower);
                file.replace(start, text.size(), lower);
                file.replace(edge + chunk - 4, 4, "LEFT");  // one byte before "RIGHT"
                file.replace(edge + chunk + 1, 5, "RIGHT");
                std::vector<std::string> types;
                for (const auto& h : scan(file)) types.push_back(h.type);
                EXPECT_EQ(types, std::vector<std::string>{text == shortText ? "short" : "long"})
                    << "edge " << edge << ", start " << start;
            }
        }
    }
}

TEST_F(QrixTest, OnlyRegularFilesAreRead) {
    ASSERT_EQ(lib->setPack(pack::package({def("any", {{0, "A"}})})), 1);
    // A FIFO with no writer would block a plain open or read forever.
    const std::string fifo = dir.file("fifo");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    EXPECT_EQ(lib->submitFileA(fifo.c_str()), 1);
    EXPECT_EQ(lib->analyze(), 1);
    EXPECT_EQ(lib->getInfo(1, 0, nullptr), 0);
    // A directory opens but holds no bytes to score.
    EXPECT_EQ(lib->submitFileA(dir.path().c_str()), 1);
    EXPECT_EQ(lib->analyze(), 1);
    EXPECT_EQ(lib->getInfo(1, 0, nullptr), 0);
}

TEST_F(QrixTest, PathsAreOpenedAsGiven) {
    ASSERT_EQ(lib->setPack(pack::package({def("hit", {{0, "A"}})})), 1);
    // Bytes that are not valid in the locale's multibyte encoding still name the file.
    ASSERT_EQ(submit("A", "caf\xE9-\xFF.bin"), 1);
    EXPECT_EQ(lib->analyze(), 1);
    EXPECT_EQ(lib->getInfo(1, 0, nullptr), 1);

    // A path longer than 259 characters is used whole, not cut.
    std::string deep = dir.path();
    for (int i = 0; i < 6; ++i) {
        deep += "/" + std::string(50, static_cast<char>('a' + i));
        ASSERT_EQ(::mkdir(deep.c_str(), 0700), 0);
    }
    const std::string longPath = deep + "/sample.bin";
    ASSERT_GT(longPath.size(), 300u);
    writeFile(longPath, "A");
    EXPECT_EQ(lib->submitFileA(longPath.c_str()), 1);
    EXPECT_EQ(lib->analyze(), 1);
    EXPECT_EQ(lib->getInfo(1, 0, nullptr), 1);

    // Backslashes are read as slashes.
    writeFile(dir.file("sample.bin"), "A");
    std::string windowsStyle = dir.path() + "\\sample.bin";
    EXPECT_EQ(lib->submitFileA(windowsStyle.c_str()), 1);
    EXPECT_EQ(lib->submitFileA(nullptr), 0);
}

TEST_F(QrixTest, WidePathsAreNarrowedOnce) {
    ASSERT_EQ(lib->setPack(pack::package({def("hit", {{0, "A"}})})), 1);
    ASSERT_EQ(submit("A", "plain.bin"), 1);
    const std::string narrow = dir.file("plain.bin");
    const std::wstring wide(narrow.begin(), narrow.end());
    EXPECT_EQ(lib->submitFile(wide.c_str()), 1);
    EXPECT_EQ(lib->analyze(), 1);
    EXPECT_EQ(lib->getInfo(1, 0, nullptr), 1);

    // A character the locale cannot encode fails the submission instead of opening
    // some other name.
    const std::wstring odd = wide + L"\u20AC";
    std::mbstate_t state{};
    const wchar_t* src = odd.c_str();
    const bool encodable = std::wcsrtombs(nullptr, &src, 0, &state) != static_cast<size_t>(-1);
    if (!encodable) {
        EXPECT_EQ(lib->submitFile(odd.c_str()), 0);
    }
    EXPECT_EQ(lib->submitFile(nullptr), 0);
}

}  // namespace
