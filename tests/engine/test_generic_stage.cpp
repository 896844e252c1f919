// The generic stage's pieces: the matcher loader (with a stand-in matcher), the best-hit walk
// and the folds.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>

#include "engine/GenericStage.h"
#include "engine/QrixLib.h"

namespace fs = std::filesystem;

namespace {

std::string readAll(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// A working directory laid out for the loader: the stand-in matcher as libQrixLib.so and a
// package with the given number of definitions. The test runs inside it.
class LoaderDir : public ::testing::Test {
protected:
    void SetUp() override {
        old_ = fs::current_path();
        dir_ = fs::path(::testing::TempDir()) / ("kiv-loader-" + std::to_string(::getpid()));
        fs::remove_all(dir_);
        fs::create_directories(dir_ / "database" / "qrix");
        fs::copy_file(KIV_QRIX_DOUBLE, dir_ / "libQrixLib.so");
        writePackage(2);
        fs::current_path(dir_);
    }
    void TearDown() override {
        fs::current_path(old_);
        fs::remove_all(dir_);
    }
    void writePackage(int definitions) {
        std::ofstream out(dir_ / "database" / "qrix" / "QrixDefs.QXD");
        for (int i = 0; i < definitions; ++i) out << "def\n";
    }
    fs::path dir_, old_;
};

struct Hit {
    int points;
    std::string type, ext;
};

// Answers the matcher's queries from a list of hits in rank order (rank 1 first).
struct CannedMatcher {
    std::vector<Hit> hits;
    int operator()(int mode, int index, char* out) const {
        out[0] = '\0';
        if (mode == 1) return static_cast<int>(hits.size());
        if (index < 1 || index > static_cast<int>(hits.size())) return 0;
        const Hit& h = hits[index - 1];
        if (mode == 2) std::strcpy(out, h.type.c_str());
        if (mode == 3) std::strcpy(out, h.ext.c_str());
        return mode == 4 ? h.points : 1;
    }
};

std::pair<std::string, std::string> best(std::vector<Hit> hits) {
    std::string ext, type;
    kiv::pickBestHit(CannedMatcher{std::move(hits)}, ext, type);
    return {ext, type};
}

}  // namespace

TEST_F(LoaderDir, CopiesAreExactPrivateAndRemoved) {
    std::string source = readAll("libQrixLib.so");
    {
        qrix a, b;
        EXPECT_EQ(a.Init(0), 2);
        EXPECT_EQ(b.Init(29), 2);
        EXPECT_EQ(a.copyPath(), "lib.0");
        EXPECT_EQ(readAll("lib.0"), source);
        EXPECT_EQ(readAll("lib.29"), source);
        EXPECT_EQ(fs::status("lib.0").permissions() & fs::perms::others_all, fs::perms::none);
        // Each copy keeps its own state: a submission on one leaves the other empty.
        std::ofstream("qrix-double.ctl") << "hit=7\tT\tE\n";
        char path[] = "libQrixLib.so";
        ASSERT_EQ(a.SubmitFileA(path), 1);
        ASSERT_EQ(a.Analyze(), 1);
        char out[4096];
        EXPECT_EQ(a.GetInfo(1, 0, out), 1);
        EXPECT_EQ(b.GetInfo(1, 0, out), 0);
        // Binding again writes a new file over the old name instead of truncating the mapped one.
        // (The old copy is held open, as a process that maps it would.)
        int old = ::open("lib.0", O_RDONLY);
        ASSERT_GE(old, 0);
        EXPECT_EQ(a.Init(0), 2);
        struct stat before, after;
        ASSERT_EQ(::fstat(old, &before), 0);
        ASSERT_EQ(::stat("lib.0", &after), 0);
        EXPECT_NE(before.st_ino, after.st_ino);
        EXPECT_EQ(static_cast<size_t>(before.st_size), source.size());
        ::close(old);
    }
    EXPECT_FALSE(fs::exists("lib.0"));
    EXPECT_FALSE(fs::exists("lib.29"));
    for (auto& e : fs::directory_iterator("."))
        EXPECT_EQ(e.path().filename().string().rfind("lib.0.", 0), std::string::npos);
}

// Two engines sharing a directory bind the same slot: each keeps its own instance, and the
// one whose copy was replaced under lib.3 leaves the other's file alone.
TEST_F(LoaderDir, TwoLoadersOfOneSlotKeepApart) {
    std::optional<qrix> first(std::in_place);
    qrix second;
    ASSERT_EQ(first->Init(3), 2);
    ASSERT_EQ(second.Init(3), 2);
    struct stat published;
    ASSERT_EQ(::stat("lib.3", &published), 0);
    std::ofstream("qrix-double.ctl") << "hit=7\tT\tE\n";
    char path[] = "libQrixLib.so";
    ASSERT_EQ(first->SubmitFileA(path), 1);
    ASSERT_EQ(first->Analyze(), 1);
    char out[4096];
    EXPECT_EQ(first->GetInfo(1, 0, out), 1);
    EXPECT_EQ(second.GetInfo(1, 0, out), 0);
    first.reset();
    struct stat after;
    ASSERT_EQ(::stat("lib.3", &after), 0) << "the other loader's copy was removed";
    EXPECT_EQ(after.st_ino, published.st_ino);
}

TEST_F(LoaderDir, MissingLibraryOrEmptyPackageFails) {
    {
        qrix q;
        writePackage(0);
        EXPECT_LT(q.Init(3), 1);
    }
    fs::remove("libQrixLib.so");
    writePackage(1);
    qrix q;
    EXPECT_EQ(q.Init(0), 0);
    EXPECT_FALSE(q.bound());
    // Not a library at all.
    std::ofstream("libQrixLib.so") << "not an ELF file";
    EXPECT_EQ(q.Init(0), 0);
}

TEST(BestHit, WalksFromTheLastRankAndKeepsStrictlyMorePoints) {
    EXPECT_EQ(best({}), std::make_pair(std::string(), std::string()));
    EXPECT_EQ(best({{50, "Alpha", "A"}, {20, "Beta", "B"}}), std::make_pair(std::string("A"), std::string("Alpha")));
    // Equal top points: the higher rank number was walked first and is kept.
    EXPECT_EQ(best({{40, "First", "F"}, {40, "Second", "S"}}), std::make_pair(std::string("S"), std::string("Second")));
    // The first hit walked is taken even with no or negative points.
    EXPECT_EQ(best({{-5, "Neg", "N"}}), std::make_pair(std::string("N"), std::string("Neg")));
    EXPECT_EQ(best({{-2, "A", "A"}, {-2, "B", "B"}}), std::make_pair(std::string("B"), std::string("B")));
    EXPECT_EQ(best({{0, "Zero", "Z"}, {-3, "Less", "L"}}), std::make_pair(std::string("Z"), std::string("Zero")));
    // While both kept texts are empty any hit replaces them.
    EXPECT_EQ(best({{1, "Low", "W"}, {9, "", ""}}), std::make_pair(std::string("W"), std::string("Low")));
    // A 4095-character answer arrives whole and nothing overruns the buffer.
    std::string longType(4095, 'x');
    EXPECT_EQ(best({{3, longType, "L"}}).second, longType);
}

TEST(Folds, OnlyTheListedOfficeExtensionsBecomeZip) {
    for (const char* ext : {"DOCX", "DOCM", "DOTX", "DOTM", "PPTX", "PPTM", "PPSX", "XLSX", "XLAM", "XLSM", "XLSB"}) {
        std::string e = ext, t = "Word", d = "Zip archive data";
        kiv::foldMatcherAnswer(e, t, d);
        EXPECT_EQ(e, "ZIP") << ext;
        EXPECT_EQ(t, "ZIP archive");
        EXPECT_EQ(d, "Zip archive data");
    }
    for (const char* ext : {"PPSM", "POTX", "XLTX", "docx", "ZIP"}) {
        std::string e = ext, t = "T", d = "D";
        kiv::foldMatcherAnswer(e, t, d);
        EXPECT_EQ(e, ext);
        EXPECT_EQ(t, "T");
    }
    std::string e = "XEX/EXE", t = "Atari", d = "DOS executable";
    kiv::foldMatcherAnswer(e, t, d);
    EXPECT_EQ(e, "data");
    EXPECT_EQ(t, "Atari");
    EXPECT_EQ(d, "data");
}

TEST(MagicTexts, LineBreaksBecomeBlanks) {
    std::string pdf = "PDF document, version 1.\n", universal = "Mach-O universal binary: [x86_64:\r\n- a]";
    std::string plain = "ASCII text, with CRLF line terminators";
    kiv::blankLineBreaks(pdf);
    kiv::blankLineBreaks(universal);
    kiv::blankLineBreaks(plain);
    EXPECT_EQ(pdf, "PDF document, version 1. ");
    EXPECT_EQ(universal, "Mach-O universal binary: [x86_64:  - a]");
    EXPECT_EQ(plain, "ASCII text, with CRLF line terminators");
}
