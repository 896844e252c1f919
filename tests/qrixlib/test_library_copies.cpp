// The library as a file: what it exports, and that two copies loaded from two file names
// keep separate state, as the engine's per-slot copies rely on.
#include <clocale>
#include <set>

#include "tests/qrixlib/QrixTestSupport.h"

namespace {

using namespace qrixtest;

void expectSeparateState(int flags) {
    TempDir dir;
    QrixLibrary one(dir.file("lib.0"), flags);
    QrixLibrary two(dir.file("lib.1"), flags);
    ASSERT_EQ(one.setPack(pack::package({def("First", {{0, "ONE"}})})), 1);
    ASSERT_EQ(two.setPack(pack::package({def("Second", {{0, "TWO"}}), def("Other", {{0, "T"}})})), 2);
    writeFile(dir.file("one"), "ONE");
    writeFile(dir.file("two"), "TWO");
    ASSERT_EQ(one.submitFileA(dir.file("one").c_str()), 1);
    ASSERT_EQ(two.submitFileA(dir.file("two").c_str()), 1);
    ASSERT_EQ(one.analyze(), 1);
    ASSERT_EQ(two.analyze(), 1);
    EXPECT_EQ(one.getInfo(1004, 0, nullptr), 1);
    EXPECT_EQ(two.getInfo(1004, 0, nullptr), 2);
    EXPECT_EQ(one.text(2, 1), "First");
    EXPECT_EQ(two.text(2, 1), "Second");
    EXPECT_EQ(two.getInfo(1, 0, nullptr), 2);
    // Reloading one copy leaves the other's results alone.
    ASSERT_EQ(one.setPack("not a package"), 0);
    EXPECT_EQ(two.text(2, 1), "Second");
}

TEST(QrixLibraryCopies, KeepSeparateState) { expectSeparateState(RTLD_NOW); }

#if !defined(__SANITIZE_ADDRESS__)
// The engine adds RTLD_DEEPBIND where the sanitizer runtime allows it.
TEST(QrixLibraryCopies, KeepSeparateStateWithDeepBind) { expectSeparateState(RTLD_NOW | RTLD_DEEPBIND); }
#endif

TEST(QrixLibraryFile, ExportsExactlyTheTenNames) {
    int status = 0;
    const std::string out = runProgram({"nm", "-D", "--defined-only", QRIX_LIBRARY_PATH}, status);
    if (status != 0) GTEST_SKIP() << "nm is not available";
    std::set<std::string> names;
    std::istringstream lines(out);
    std::string addr, kind, name;
    while (lines >> addr >> kind >> name) names.insert(name);
    EXPECT_EQ(names,
              (std::set<std::string>{"Qrix_LoadDefsPack", "Qrix_SetDefsPack", "Qrix_SubmitFile", "Qrix_SubmitFileA",
                                     "Qrix_Analyze", "Qrix_GetInfo", "PB_PEEK", "PB_MAX", "PB_MIN", "SHELLSORT"}));
}

TEST(QrixLibraryFile, LoadingTakesTheCharacterTypeLocaleFromTheEnvironment) {
    const std::string saved = std::setlocale(LC_CTYPE, nullptr);
    if (std::setlocale(LC_CTYPE, "C.UTF-8") == nullptr) GTEST_SKIP() << "the C.UTF-8 locale is not installed";
    std::setlocale(LC_CTYPE, "C");
    ::setenv("LC_ALL", "C.UTF-8", 1);
    std::string now;
    {
        TempDir dir;
        QrixLibrary copy(dir.file("lib.7"));
        now = std::setlocale(LC_CTYPE, nullptr);
    }
    ::unsetenv("LC_ALL");
    std::setlocale(LC_CTYPE, saved.c_str());
    EXPECT_EQ(now, "C.UTF-8");
}

}  // namespace
