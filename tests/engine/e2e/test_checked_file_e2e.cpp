// A scan's answer depends on the file's bytes, never on how the host named it: wildcard
// characters, links, long paths, names the locale cannot convert and backslashes all give the
// answer of the same file under a plain short name, and a name swapped for a FIFO after the
// scan's check cannot block it. Through the built kiv_engine.so with the real matcher, its
// definitions and 7za.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <clocale>
#include <thread>

#include "tests/engine/e2e/E2eKit.h"

namespace fs = std::filesystem;

#ifdef KIV_QRIXLIB
namespace {

using e2e::engine;

std::string conformanceFile(const std::string& name) {
    return std::string(KIV_SOURCE_DIR) + "/tests/conformance/files/" + name;
}

// True when process pid or one of its descendants (7za) holds the FIFO open for reads that
// wait: a reader that opened the name instead of the descriptor the scan checked. (A child
// between fork and exec still holds the test's own descriptor, which is open for writing.)
bool waitingReaderIn(pid_t pid, const struct stat& fifo) {
    const std::string proc = "/proc/" + std::to_string(pid);
    std::error_code ec;
    for (const auto& fd : fs::directory_iterator(proc + "/fd", ec)) {
        struct stat st;
        if (::stat(fd.path().c_str(), &st) != 0 || st.st_dev != fifo.st_dev || st.st_ino != fifo.st_ino) continue;
        std::ifstream info(proc + "/fdinfo/" + fd.path().filename().string());
        for (std::string key, value; info >> key >> value;)
            if (key == "flags:" && (std::stoul(value, nullptr, 8) & (O_ACCMODE | O_NONBLOCK)) == O_RDONLY) return true;
    }
    for (const auto& task : fs::directory_iterator(proc + "/task", ec)) {
        std::ifstream children(task.path() / "children");
        for (pid_t child; children >> child;)
            if (waitingReaderIn(child, fifo)) return true;
    }
    return false;
}

class CheckedFile : public e2e::ShippedEngine {
protected:
    std::string scan(const fs::path& p) { return e2e::scanJson(p); }
    // Places a copy of source at files/<name> (directories made as needed).
    fs::path place(const std::string& source, const fs::path& name) {
        fs::path p = dir_ / "files" / name;
        fs::create_directories(p.parent_path());
        fs::copy_file(source, p, fs::copy_options::overwrite_existing);
        return p;
    }
    // The answer for source under a plain short name.
    std::string plainAnswer(const std::string& source) {
        fs::path p = place(source, "plain/" + std::to_string(plainCount_++) + fs::path(source).extension().string());
        return scan(p);
    }

    // A copy of a conformance package with one more member, whose name opens with a byte
    // outside plain ASCII: the engine cannot be sure how 7za matches it against any request, so
    // every member of that copy is read by 7za, not in process.
    std::string readByArchiver(const std::string& package) {
        const fs::path copy = dir_ / "by-archiver" / package;
        fs::create_directories(copy.parent_path());
        fs::copy_file(conformanceFile(package), copy, fs::copy_options::overwrite_existing);
        const fs::path extra = dir_ / "by-archiver" / "\xc3\xa9t\xc3\xa9.txt";
        e2e::writeFile(extra, "extra member\n");
        EXPECT_EQ(e2e::runTool({KIV_7ZA_BINARY, "a", "-tzip", "-bd", "-bso0", "--", copy.string(), extra.string()}), 0);
        return copy.string();
    }

    int plainCount_ = 0;
};

}  // namespace

// A wildcard in a file or directory name names only that file: the neighbours it would match
// as a pattern (an encrypted package, a presentation, a FIFO) would otherwise lend it their
// answer or block the scan.
TEST_F(CheckedFile, WildcardsInNamesAreNotPatterns) {
    // A package whose content types need a password: an encrypted Office Open XML file to the
    // engine.
    const fs::path types = dir_ / "[Content_Types].xml";
    e2e::writeFile(types, "<Types/>");
    const std::string locked = (dir_ / "locked.docx").string();
    ASSERT_EQ(e2e::runTool({KIV_7ZA_BINARY, "a", "-tzip", "-psecret", "-bd", "-bso0", "--", locked, types.string()}), 0);
    struct Case {
        const char* source;
        const char* typeId;
        const char* name;
        std::string neighbour;
        const char* neighbourName;
    };
    const Case cases[] = {
        {"writer.docx", "DOCX", "report?.docx", locked, "reportX.docx"},
        {"writer.odt", "ODT", "doc*.odt", conformanceFile("impress.odp"), "docX.odt"},
        {"calc.xlsx", "XLSX", "a*/book.xlsx", locked, "ab/book.xlsx"},
    };
    for (const Case& c : cases) {
        const std::string source = readByArchiver(c.source);
        place(c.neighbour, c.neighbourName);
        const std::string answer = scan(place(source, c.name));
        EXPECT_EQ(answer, plainAnswer(source)) << c.name;
        EXPECT_EQ(e2e::jsonValue(answer, "typeID"), c.typeId) << c.name;
    }
    ASSERT_EQ(::mkfifo((dir_ / "files" / "reportF.docx").c_str(), 0600), 0);
    EXPECT_EQ(e2e::jsonValue(scan(dir_ / "files" / "report?.docx"), "typeID"), "DOCX");
}

// Links are followed by every reader, libmagic and the matcher included.
TEST_F(CheckedFile, LinksAnswerLikeTheirTargets) {
    for (const char* source : {"plain.exe", "plain.txt", "writer.docx", "script.sh"}) {
        fs::path target = place(conformanceFile(source), std::string("targets/") + source);
        fs::path link = dir_ / "files" / (std::string("link-to-") + source);
        fs::create_symlink(target, link);
        const std::string answer = scan(link);
        EXPECT_EQ(answer, plainAnswer(conformanceFile(source))) << source;
        EXPECT_EQ(answer.find("symbolic link"), std::string::npos) << answer;
    }
    EXPECT_EQ(e2e::jsonValue(scan(dir_ / "files" / "link-to-plain.exe"), "typeID"), "EXE");
}

// The matcher is asked for every file, whatever the path holds: more than 259 characters, a
// name the C locale cannot convert, a backslash in a directory name.
TEST_F(CheckedFile, EveryPathReachesTheMatcher) {
    const std::string exe = conformanceFile("plain.exe");
    const std::string expected = plainAnswer(exe);
    ASSERT_EQ(e2e::jsonValue(expected, "typeID"), "EXE");

    fs::path deep;
    for (int i = 0; i < 6; ++i) deep /= std::string(50, static_cast<char>('a' + i));
    fs::path longPath = place(exe, deep / "program.exe");
    ASSERT_GT(longPath.string().size(), 300u);
    EXPECT_EQ(scan(longPath), expected);

    EXPECT_EQ(scan(place(exe, "back\\slash/program.exe")), expected);
    // Where the matcher would read the backslash as a slash, a FIFO waits: never opened.
    fs::create_directories(dir_ / "files" / "front");
    ASSERT_EQ(::mkfifo((dir_ / "files" / "front" / "door").c_str(), 0600), 0);
    EXPECT_EQ(scan(place(exe, "front\\door")), expected);

    const std::string saved = std::setlocale(LC_CTYPE, nullptr);
    std::setlocale(LC_CTYPE, "C");
    EXPECT_EQ(scan(place(exe, "caf\xe9.exe")), expected);
    std::setlocale(LC_CTYPE, saved.c_str());
}

// The host's path is swapped between a regular file and a FIFO while kivscan scans it again and
// again: each scan either meets the FIFO at its check (and refuses it) or reads the file it
// checked. With the FIFO held open for writing, a reader that opened it by name would wait as
// long as the run lasts; the swapper ends the run when it sees one, so no time limit is needed.
TEST_F(CheckedFile, NameSwappedForAFifoCannotBlockTheScan) {
    fs::create_symlink(KIV_ENGINE_PATH, dir_ / "kiv_engine.so");
    const fs::path files = dir_ / "files";
    const fs::path fifo = files / "fifo.src";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const int writer = ::open(fifo.c_str(), O_RDWR | O_CLOEXEC);  // never waits for a partner
    ASSERT_GE(writer, 0);
    struct stat fifoStat;
    ASSERT_EQ(::stat(fifo.c_str(), &fifoStat), 0);
    for (const std::string& source : {conformanceFile("writer.pdf"), readByArchiver("writer.docx")}) {
        const fs::path real = place(source, "real.src" + fs::path(source).extension().string());
        const fs::path swapped = files / ("swapped" + fs::path(source).extension().string());
        fs::copy_file(real, swapped);

        const pid_t pid = e2e::startKivscan(dir_, std::vector<std::string>(50, swapped.string()), "swap");
        std::atomic<bool> stop{false}, waited{false};
        std::thread swapper([&] {
            const fs::path tmp = files / "swap.tmp";
            for (bool isFifo = true; !stop; isFifo = !isFifo) {
                if (::link((isFifo ? fifo : real).c_str(), tmp.c_str()) == 0) ::rename(tmp.c_str(), swapped.c_str());
                if (waitingReaderIn(pid, fifoStat)) {
                    waited = true;
                    ::kill(pid, SIGKILL);
                    return;
                }
                std::this_thread::yield();
            }
        });
        int st = 0;
        ::waitpid(pid, &st, 0);
        stop = true;
        swapper.join();
        e2e::HostRun run = e2e::collectKivscan(st, dir_, "swap");
        EXPECT_FALSE(waited) << source << ": a scan read the FIFO";
        EXPECT_LE(run.status, 1) << run.err;
    }
    ::close(writer);
}
#endif
