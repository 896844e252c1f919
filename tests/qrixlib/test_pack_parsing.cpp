// Reading definitions packages: well-formed ones field by field, and damaged or hostile ones
// (truncated at every byte, negative and huge lengths, absurd counts) without reading
// outside the package, hanging or allocating beyond what the bytes can describe.
#include <random>

#include "tests/qrixlib/QrixTestSupport.h"

namespace {

using namespace qrixtest;

// Two definitions with every INFO field, odd-sized texts (no RIFF padding may follow them)
// and records the reader must skip.
std::string fullPackage() {
    pack::Definition a = def("Alpha type", {{0, "ALPHA"}}, {"ONE"}, "DOC/DOT");
    a.info.push_back({"MIME", "application/x-alpha"});
    a.info.push_back({"NAME", "alpha name"});
    a.info.push_back({"USER", "alpha user"});
    a.info.push_back({"MAIL", "alpha@example.org"});
    a.info.push_back({"HOME", "https://example.org/alpha"});
    a.info.push_back({"RURL", "https://example.org/alpha/ref"});
    a.info.push_back({"REM ", "odd"});
    a.info.push_back({"TAG ", pack::int32Value(0x01020304)});
    a.info.push_back({"FNUM", pack::int32Value(-7)});
    a.info.push_back({"ZZZZ", "ignored"});
    pack::Definition b = def("Beta", {{0, "BETA"}});
    b.info.push_back({"TAG ", "\x05\x06"});    // fewer than 4 bytes: 0
    b.info.push_back({"TYPE", "Beta again"});  // a repeated identifier replaces the first
    return pack::package({a, b});
}

TEST_F(QrixTest, WellFormedPackageFillsEveryField) {
    ASSERT_EQ(lib->setPack(fullPackage()), 2);
    EXPECT_EQ(lib->getInfo(1004, 0, nullptr), 2);
    EXPECT_EQ(lib->text(109, 1), "application/x-alpha");
    EXPECT_EQ(lib->text(105, 1), "alpha name");
    EXPECT_EQ(lib->text(102, 1), "alpha user");
    EXPECT_EQ(lib->text(103, 1), "alpha@example.org");
    EXPECT_EQ(lib->text(104, 1), "https://example.org/alpha");
    EXPECT_EQ(lib->text(107, 1), "https://example.org/alpha/ref");
    EXPECT_EQ(lib->text(106, 1), "odd");
    EXPECT_EQ(lib->getInfo(108, 1, nullptr), 0x01020304);
    EXPECT_EQ(lib->getInfo(101, 1, nullptr), -7);
    EXPECT_EQ(lib->getInfo(108, 2, nullptr), 0);

    const auto hits = scan("ALPHA BETA? no: ALPHA. one");
    ASSERT_EQ(hits.size(), 1u);
    EXPECT_EQ(hits[0].type, "Alpha type");
    EXPECT_EQ(hits[0].ext, "DOC/DOT");  // the slash stays
    EXPECT_EQ(hits[0].points, 5 * 1000 + 3 * 500);

    EXPECT_EQ(scan("BETA")[0].type, "Beta again");
}

TEST_F(QrixTest, UnknownChunksAreSkippedWherever) {
    std::string patt = pack::chunk("PATT", std::string("\x01\x00", 2) + pack::patternEntry(0, "KEY"));
    std::string data = pack::chunk("ABCD", "junk") + patt + pack::chunk("WXYZ", "x");
    std::string info = pack::infoEntry("TYPE", "Skipper") + pack::infoEntry("EXT ", "SKP");
    std::string body = pack::chunk("JUNK", "abcde") + pack::chunk("DATA", data) + pack::chunk("INFO", info);
    ASSERT_EQ(lib->setPack(pack::package(pack::chunk("DEF ", body), 1)), 1);
    const auto hits = scan("KEY");
    ASSERT_EQ(hits.size(), 1u);
    EXPECT_EQ(hits[0].type, "Skipper");
    EXPECT_EQ(hits[0].points, 3000);
}

TEST_F(QrixTest, MissingOrForeignRecordsLeaveLaterDefinitionsEmpty) {
    const std::string one = pack::definitionRecord(def("One", {{0, "A"}}));
    const std::string two = pack::definitionRecord(def("Two", {{0, "A"}}));
    // N = 3 but two records: the answer is still 3 and definition 3 never scores.
    ASSERT_EQ(lib->setPack(pack::package(one + two, 3)), 3);
    EXPECT_EQ(lib->getInfo(1004, 0, nullptr), 3);
    EXPECT_EQ(scan("A").size(), 2u);
    int result = 0;
    EXPECT_EQ(lib->text(105, 3, &result), "");
    EXPECT_EQ(result, 1);

    // A foreign second record ends the walk: the valid record behind it is never reached.
    std::string foreign = two;
    foreign.replace(0, 4, "DEFX");
    ASSERT_EQ(lib->setPack(pack::package(one + foreign + two, 3)), 3);
    const auto hits = scan("A");
    ASSERT_EQ(hits.size(), 1u);
    EXPECT_EQ(hits[0].type, "One");
}

TEST_F(QrixTest, NotAPackageMeansNoDefinitions) {
    const std::string good = pack::package({def("X", {{0, "X"}})});
    std::string wrongForm = good;
    wrongForm.replace(8, 4, "QRIY");
    std::string wrongMagic = good;
    wrongMagic.replace(0, 4, "RIFX");
    for (const std::string& bad : {wrongForm, wrongMagic}) {
        EXPECT_EQ(lib->setPack(bad), 0);
        EXPECT_EQ(lib->getInfo(1004, 0, nullptr), 0);
    }
    // A header cut short of its 32 bytes, with a RIFF size that admits it.
    std::string shortPack = good.substr(0, 20);
    shortPack.replace(4, 4, pack::int32Value(12));
    EXPECT_EQ(lib->setPack(shortPack), 0);
    EXPECT_EQ(lib->setDefsPack(nullptr), 0);
}

// Every prefix of a package, read from a file (so the file size bounds the reader), gives
// either nothing or a usable subset, and scanning with it stays inside the bytes.
TEST_F(QrixTest, PackageTruncatedAtEveryByte) {
    pack::Definition rich = def("Rich", {{0, "RI"}, {5, "CH"}}, {"STR1", "STR2"}, "RCH");
    rich.info.push_back({"MIME", "x/rich"});
    rich.info.push_back({"TAG ", pack::int32Value(9)});
    const std::string full = pack::package({rich, def("Plain", {{0, "RI"}}), rich});
    ASSERT_EQ(submit("RI...CH STR1 STR2"), 1);
    const std::string packPath = dir.file("QrixDefs.QXD");
    const std::string dirArg = dir.path() + "/";
    for (size_t n = 0; n <= full.size(); ++n) {
        writeFile(packPath, full.substr(0, n));
        const int declared = lib->loadDefsPack(const_cast<char*>(dirArg.c_str()));
        ASSERT_TRUE(declared == 0 || declared == 3) << n;
        EXPECT_EQ(lib->analyze(), 1);
        const auto hits = lib->hits();
        EXPECT_LE(hits.size(), 3u);
        for (int j = -1; j <= 4; ++j) {
            lib->text(105, j);
            lib->text(109, j);
            lib->getInfo(108, j, nullptr);
        }
        if (n == full.size()) {
            EXPECT_EQ(hits.size(), 3u);
        }
    }
}

// Offsets of every length field in a one-definition package, found by their chunk names.
struct Fields {
    size_t n = 20, l = 28, m, data, patt, o, p, strn, s, info, t;
};
Fields fieldsOf(const std::string& p) {
    Fields f;
    f.m = p.find("DEF ") + 4;
    f.data = p.find("DATA") + 4;
    f.patt = p.find("PATT") + 4;
    f.o = f.patt + 4 + 2;
    f.p = f.o + 2;
    f.strn = p.find("STRN") + 4;
    f.s = f.strn + 4 + 2;
    f.info = p.find("INFO") + 4;
    f.t = p.find("TYPE") + 4;
    return f;
}

TEST_F(QrixTest, HostileLengthsNeitherHangNorReadOutside) {
    const std::string good = pack::package({def("Target", {{0, "TARGET"}}, {"INSIDE"})});
    const Fields f = fieldsOf(good);
    ASSERT_EQ(submit("TARGET with inside text"), 1);
    const std::string packPath = dir.file("QrixDefs.QXD");
    const std::string dirArg = dir.path();
    const int32_t values32[] = {-1, -4, -8, -9, INT32_MIN, INT32_MAX, 0, 1, 7};
    const int32_t values16[] = {-1, -4, -6, -8, INT16_MIN, INT16_MAX, 0, 1};
    auto tryPack = [&](const std::string& bytes) {
        writeFile(packPath, bytes);
        lib->loadDefsPack(const_cast<char*>(dirArg.c_str()));
        lib->analyze();
        lib->hits();
        lib->text(105, 1);
    };
    for (size_t field : {f.n, f.l, f.m, f.data, f.patt, f.strn, f.info, f.s}) {
        for (int32_t v : values32) {
            std::string bad = good;
            bad.replace(field, 4, pack::int32Value(v));
            SCOPED_TRACE(std::to_string(field) + "=" + std::to_string(v));
            tryPack(bad);
        }
    }
    for (size_t field : {f.o, f.p, f.t}) {
        for (int32_t v : values16) {
            std::string bad = good;
            std::string le;
            pack::putI16(le, v);
            bad.replace(field, 2, le);
            SCOPED_TRACE(std::to_string(field) + "=" + std::to_string(v));
            tryPack(bad);
        }
    }
}

TEST_F(QrixTest, NegativeLengthsEndTheirWalk) {
    const std::string good = pack::package({def("Target", {{0, "TARGET"}}, {"INSIDE"})});
    const Fields f = fieldsOf(good);
    ASSERT_EQ(lib->setPack(good), 1);
    ASSERT_EQ(scan("TARGET inside").size(), 1u);

    auto patched = [&](size_t field, int32_t v) {
        std::string bad = good;
        bad.replace(field, 4, pack::int32Value(v));
        return bad;
    };
    // A record length of -8 would make the walk stand still; it ends the walk instead.
    EXPECT_EQ(lib->setPack(patched(f.m, -8)), 1);
    EXPECT_TRUE(scan("TARGET inside").empty());
    // A negative string length never matches.
    EXPECT_EQ(lib->setPack(patched(f.s, -4)), 1);
    EXPECT_TRUE(scan("TARGET inside").empty());
    // A negative count means none.
    EXPECT_EQ(lib->setPack(patched(f.n, -1)), 0);
    // An area length beyond the package is cut to it.
    EXPECT_EQ(lib->setPack(patched(f.l, INT32_MAX)), 1);
    EXPECT_EQ(scan("TARGET inside").size(), 1u);
    // A record length beyond the area is cut to it.
    EXPECT_EQ(lib->setPack(patched(f.m, INT32_MAX)), 1);
    EXPECT_EQ(scan("TARGET inside").size(), 1u);
}

TEST_F(QrixTest, HugeDeclaredCountCostsOnlyWhatIsPresent) {
    const std::string one = pack::definitionRecord(def("Only", {{0, "ONLY"}}));
    ASSERT_EQ(lib->setPack(pack::package(one, INT32_MAX)), INT32_MAX);
    EXPECT_EQ(lib->getInfo(1004, 0, nullptr), INT32_MAX);
    const auto hits = scan("ONLY");
    ASSERT_EQ(hits.size(), 1u);
    EXPECT_EQ(hits[0].definition, 1);
    int result = 0;
    EXPECT_EQ(lib->text(105, INT32_MAX, &result), "");
    EXPECT_EQ(result, 1);
    EXPECT_EQ(lib->getInfo(101, INT32_MAX, nullptr), 0);
}

TEST_F(QrixTest, EmptyBodiesAndStrayBytes) {
    // "DEF " with an empty body, then a body whose last chunk leaves one stray byte.
    const std::string empty = pack::chunk("DEF ", "");
    std::string body = pack::chunk("DATA", pack::chunk("PATT", std::string(2, '\0') + pack::patternEntry(0, "Z"))) +
                       pack::chunk("INFO", pack::infoEntry("TYPE", "Zed")) + "!";
    ASSERT_EQ(lib->setPack(pack::package(empty + pack::chunk("DEF ", body), 2)), 2);
    const auto hits = scan("Z");
    ASSERT_EQ(hits.size(), 1u);
    EXPECT_EQ(hits[0].definition, 2);
    EXPECT_EQ(hits[0].type, "Zed");
}

TEST_F(QrixTest, InMemoryPackageIsBoundedByItsRiffSize) {
    const std::string one = pack::definitionRecord(def("One", {{0, "A"}}));
    const std::string two = pack::definitionRecord(def("Two", {{0, "A"}}));
    std::string bytes = pack::package(one + two, 2);
    // Claim only the bytes up to the end of the first record: the second is never read,
    // even though it sits in the caller's buffer.
    bytes.replace(4, 4, pack::int32Value(static_cast<int32_t>(32 + one.size() - 8)));
    ASSERT_EQ(lib->setPack(bytes), 2);
    const auto hits = scan("A");
    ASSERT_EQ(hits.size(), 1u);
    EXPECT_EQ(hits[0].type, "One");

    // A RIFF size beyond any real package is refused rather than trusted.
    bytes.replace(4, 4, pack::int32Value(-2));
    EXPECT_EQ(lib->setPack(bytes), 0);
}

TEST_F(QrixTest, PeekCopiesOnlyPackageBytes) {
    const std::string bytes = pack::package({def("X", {{0, "X"}})});
    ASSERT_EQ(lib->setPack(bytes), 1);
    char out[16] = {};
    int64_t off = 0, count = 4;
    EXPECT_EQ(lib->peek(&off, &count, out), 4);
    EXPECT_EQ(std::string(out, 4), "RIFF");
    off = static_cast<int64_t>(bytes.size()) - 2;
    count = 16;
    EXPECT_EQ(lib->peek(&off, &count, out), 2);
    off = static_cast<int64_t>(bytes.size());
    EXPECT_EQ(lib->peek(&off, &count, out), 0);
    off = -1;
    EXPECT_EQ(lib->peek(&off, &count, out), 0);
    EXPECT_EQ(lib->peek(nullptr, &count, out), 0);
}

// Random damage to the project's own package: whatever the bytes say, loading and scanning
// must stay inside them (the sanitizer build turns any stray read into a failure).
TEST_F(QrixTest, CorruptedRealPackageSurvivesScanning) {
    const std::string real = readFile(QRIX_DEFS_PATH);
    ASSERT_GT(real.size(), 32u);
    ASSERT_EQ(submit("<?xml version=\"1.0\"?><svg xmlns=\"http://www.w3.org/2000/svg\"/>"), 1);
    std::mt19937 rng(20240611);
    const std::string packPath = dir.file("QrixDefs.QXD");
    const std::string dirArg = dir.path();
    for (int round = 0; round < 300; ++round) {
        std::string bad = real;
        for (size_t k = 0; k < bad.size() / 100; ++k) bad[rng() % bad.size()] = static_cast<char>(rng());
        if (round % 3 == 0) bad.resize(rng() % bad.size());
        writeFile(packPath, bad);
        lib->loadDefsPack(const_cast<char*>(dirArg.c_str()));
        lib->analyze();
        lib->hits();
    }
}

}  // namespace
