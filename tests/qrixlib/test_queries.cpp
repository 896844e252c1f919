// Queries by mode and index, the text-likeness test of the submitted header, and where the
// package is looked for.
#include <sys/stat.h>
#include <unistd.h>

#include <climits>

#include "tests/qrixlib/QrixTestSupport.h"

namespace {

using namespace qrixtest;

TEST_F(QrixTest, AnswersBeforeAnyPackage) {
    EXPECT_EQ(lib->getInfo(1, 0, nullptr), 0);
    EXPECT_EQ(lib->getInfo(1001, 0, nullptr), 103);
    EXPECT_EQ(lib->getInfo(1004, 0, nullptr), 0);
    int result = 0;
    EXPECT_EQ(lib->text(2, 1, &result), "");
    EXPECT_EQ(result, 1);
    EXPECT_EQ(lib->analyze(), 0);
}

TEST_F(QrixTest, RankModesAfterAnalysis) {
    // Per-definition modes (101-109) are covered with the package fields.
    ASSERT_EQ(lib->setPack(pack::package({def("Loser", {{0, "W"}}), def("Winner type", {{0, "WIN"}}, {}, "WIN/WN")})),
              2);
    ASSERT_EQ(scan("WIN").size(), 2u);
    int result = 0;
    EXPECT_EQ(lib->getInfo(1, 0, nullptr), 2);
    EXPECT_EQ(lib->text(2, 1, &result), "Winner type");
    EXPECT_EQ(result, 1);
    EXPECT_EQ(lib->text(3, 1, &result), "WIN/WN");
    EXPECT_EQ(result, 1);
    EXPECT_EQ(lib->getInfo(4, 1, nullptr), 3000);
    EXPECT_EQ(lib->getInfo(4, 2, nullptr), 1000);
    EXPECT_EQ(lib->getInfo(100, 1, nullptr), 2);
    EXPECT_EQ(lib->getInfo(100, 2, nullptr), 1);
    EXPECT_EQ(lib->getInfo(1004, 0, nullptr), 2);
    // Unknown modes answer 0 and clear the buffer.
    for (int mode : {0, 5, 99, 110, 1000, 1002, 1003, 1006, -1, INT32_MAX}) {
        EXPECT_EQ(lib->text(mode, 1, &result), "") << mode;
        EXPECT_EQ(result, 0) << mode;
    }
}

TEST_F(QrixTest, IndexesOutsideTheTablesAnswerLikeIndexZero) {
    ASSERT_EQ(lib->setPack(pack::package({def("A", {{0, "A"}}), def("B", {{0, "B"}})})), 2);
    ASSERT_EQ(scan("A").size(), 1u);
    for (int k : {0, -1, 2, 3, INT32_MAX, INT32_MIN}) {
        int result = -5;
        EXPECT_EQ(lib->text(2, k, &result), "") << k;
        EXPECT_EQ(result, 1);
        EXPECT_EQ(lib->text(3, k, &result), "") << k;
        EXPECT_EQ(result, 1);
        EXPECT_EQ(lib->getInfo(4, k, nullptr), 0) << k;
        EXPECT_EQ(lib->getInfo(100, k, nullptr), 0) << k;
    }
    for (int j : {0, -1, 3, INT32_MAX, INT32_MIN}) {
        int result = -5;
        EXPECT_EQ(lib->text(105, j, &result), "") << j;
        EXPECT_EQ(result, 1);
        EXPECT_EQ(lib->getInfo(101, j, nullptr), 0) << j;
        EXPECT_EQ(lib->getInfo(108, j, nullptr), 0) << j;
    }
    // No buffer: nothing is written, the answer is unchanged.
    EXPECT_EQ(lib->getInfo(2, 1, nullptr), 1);
    EXPECT_EQ(lib->getInfo(4, 1, nullptr), 1000);
}

TEST_F(QrixTest, LongTextsAreCutTo4095Bytes) {
    const std::string longType(5000, 'T');
    ASSERT_EQ(lib->setPack(pack::package({def(longType, {{0, "A"}})})), 1);
    ASSERT_EQ(scan("A").size(), 1u);
    std::vector<char> out(8192, 'x');
    EXPECT_EQ(lib->getInfo(2, 1, out.data()), 1);
    EXPECT_EQ(std::string(out.data()), std::string(4095, 'T'));
    EXPECT_EQ(out[4096], 'x');  // nothing beyond the 4096-byte buffer
}

TEST_F(QrixTest, HeaderLooksLikeText) {
    auto textLike = [&](const std::string& head) {
        EXPECT_EQ(submit(head), 1);
        return lib->getInfo(1005, 0, nullptr);
    };
    const std::string nul("\0", 1);
    // Byte-order marks of UTF-8, UTF-16 (both orders), UTF-32 (both orders), SCSU,
    // UTF-EBCDIC and BOCU-1 say text even when NUL bytes follow.
    for (const std::string& bom :
         {std::string("\xEF\xBB\xBF"), std::string("\xFE\xFF"), std::string("\xFF\xFE"), std::string("\0\0\xFE\xFF", 4),
          std::string("\xFF\xFE\0\0", 4), std::string("\x0E\xFE\xFF"), std::string("\xDD\x73\x66\x73"),
          std::string("\xFB\xEE\x28")})
        EXPECT_EQ(textLike(bom + nul + "x"), 1) << bom.size();
    // UTF-7's mark is "+/v" and one of "/", "8", "9", "+".
    for (char c : {'/', '8', '9', '+'}) EXPECT_EQ(textLike(std::string("+/v") + c + nul), 1) << c;
    EXPECT_EQ(textLike("+/vX plain"), 0);
    EXPECT_EQ(textLike("+/v"), 0);
    EXPECT_EQ(textLike("plain text"), 1);
    EXPECT_EQ(textLike("bin" + nul + "ary"), 0);
    EXPECT_EQ(textLike(""), 1);
    // Only the first 2048 bytes count.
    EXPECT_EQ(textLike(std::string(2048, 'a') + nul), 1);

    // A failed submission keeps the previous header.
    EXPECT_EQ(submit("bin" + nul), 1);
    EXPECT_EQ(lib->submitFileA(dir.file("missing").c_str()), 0);
    EXPECT_EQ(lib->getInfo(1005, 0, nullptr), 0);
}

class PackageLocationTest : public QrixTest {
protected:
    void SetUp() override {
        QrixTest::SetUp();
        pkg = pack::package({def("X", {{0, "X"}}), def("Y", {{0, "Y"}})});
        ASSERT_EQ(::mkdir(dir.file("db").c_str(), 0700), 0);
        ASSERT_EQ(::mkdir(dir.file("db/qrix").c_str(), 0700), 0);
        writeFile(dir.file("db/qrix/QrixDefs.QXD"), pkg);
    }
    int load(const std::string& d) { return lib->loadDefsPack(const_cast<char*>(d.c_str())); }
    std::string pkg;
};

TEST_F(PackageLocationTest, DirectoryIsJoinedWithABackslashReadAsSlash) {
    EXPECT_EQ(load(dir.path() + "\\db\\qrix\\"), 2);
    EXPECT_EQ(load(dir.path() + "/db/qrix"), 2);
    EXPECT_EQ(load(dir.path() + "/db/qrix/"), 2);
    EXPECT_EQ(lib->getInfo(1004, 0, nullptr), 2);
    // A directory text ending in a colon is joined without a separator.
    writeFile(dir.file("db/pre:QrixDefs.QXD"), pkg);
    EXPECT_EQ(load(dir.path() + "/db/pre:"), 2);
}

TEST_F(PackageLocationTest, RelativeAndEmptyDirectoriesUseTheWorkingDirectory) {
    char cwd[4096];
    ASSERT_NE(::getcwd(cwd, sizeof cwd), nullptr);
    ASSERT_EQ(::chdir(dir.path().c_str()), 0);
    const int relative = load("db\\qrix\\");
    ASSERT_EQ(::chdir(dir.file("db/qrix").c_str()), 0);
    const int empty = load("");
    ASSERT_EQ(::chdir(cwd), 0);
    EXPECT_EQ(relative, 2);
    EXPECT_EQ(empty, 2);
}

TEST_F(PackageLocationTest, MissingOrUnusablePackagesLoadNothing) {
    ASSERT_EQ(load(dir.path() + "/db/qrix/"), 2);
    EXPECT_EQ(load(dir.path() + "/nowhere/"), 0);
    EXPECT_EQ(lib->getInfo(1004, 0, nullptr), 0);
    writeFile(dir.file("db/qrix/QrixDefs.QXD"), "");
    EXPECT_EQ(load(dir.path() + "/db/qrix/"), 0);
    ASSERT_EQ(::mkdir(dir.file("db/QrixDefs.QXD").c_str(), 0700), 0);
    EXPECT_EQ(load(dir.path() + "/db/"), 0);
    EXPECT_EQ(lib->loadDefsPack(nullptr), 0);
}

TEST_F(QrixTest, MaxAndMinClampToInt32) {
    int64_t a = 3, b = 5;
    EXPECT_EQ(lib->max(&a, &b), 5);
    EXPECT_EQ(lib->min(a, b), 3);
    a = INT64_MAX;
    b = -1;
    EXPECT_EQ(lib->max(&a, &b), INT32_MAX);
    EXPECT_EQ(lib->min(INT64_MIN, 0), INT32_MIN);
    EXPECT_EQ(lib->max(nullptr, &b), 0);
}

}  // namespace
