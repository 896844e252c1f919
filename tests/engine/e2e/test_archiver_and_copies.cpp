// What a host sees of the archiver and of the matcher copies, through kivscan in a working
// directory laid out like run/: a 7za that cannot run gives no guessed answer, kivscan says why
// a file was not scanned, and hosts killed at any moment leave no copy behind for good.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <optional>
#include <random>

#include "tests/engine/e2e/E2eKit.h"

namespace fs = std::filesystem;

#ifdef KIV_KIVSCAN
namespace {

using e2e::HostRun;
using e2e::lines;

class Host : public ::testing::Test {
protected:
    void SetUp() override {
        old_ = fs::current_path();
        dir_ = e2e::layOutWorkDir("kiv-host-");
        fs::create_symlink(KIV_ENGINE_PATH, dir_ / "kiv_engine.so");
        fs::current_path(dir_);
    }
    void TearDown() override {
        fs::current_path(old_);
        fs::remove_all(dir_);
    }
    fs::path dir_, old_;
};

}  // namespace

// Members of a password-protected package only 7za can read: with a 7za that is there but
// cannot run, that package gets no answer (never "ZIP" or a plain "DOCX") and kivscan says why,
// while the answers that need no archiver stay as they are.
TEST_F(Host, ArchiverThatCannotRunLeavesNoGuessedAnswer) {
    ASSERT_NE(std::string(KIV_7ZA_BINARY), "");
    const fs::path files = dir_ / "files";
    fs::create_directories(files / "_rels");
    e2e::writeFile(files / "[Content_Types].xml", "<Types/>");
    e2e::writeFile(files / "_rels/.rels", "<Relationships/>");
    ASSERT_EQ(e2e::runTool({"sh", "-c", "cd files && zip -q -P pw locked.docx '[Content_Types].xml' _rels/.rels"}), 0);
    const std::string locked = (files / "locked.docx").string();
    e2e::writeFile(files / "note.txt", "plain text\n");
    const std::vector<std::string> args = {
        locked, std::string(KIV_SOURCE_DIR) + "/tests/engine/detectors/fixtures/real/writer.docx",
        (files / "note.txt").string()};

    fs::copy_file(KIV_7ZA_BINARY, "7za");
    const HostRun good = e2e::runKivscan(dir_, args);
    ASSERT_EQ(good.status, 0) << good.err;
    EXPECT_EQ(good.err, "");
    const std::vector<std::string> answers = lines(good.out);
    ASSERT_EQ(answers.size(), 3u);
    EXPECT_EQ(e2e::jsonValue(answers[0].substr(answers[0].find('\t') + 1), "typeID"), "ZIP-ENCRYPTED");

    const std::string real = e2e::readAll(KIV_7ZA_BINARY);
    std::string otherMachine = real;
    otherMachine[18] = '\xB7';  // e_machine: AArch64
    otherMachine[19] = '\0';
    struct Broken {
        const char* what;
        std::optional<std::string> bytes;  // none: no 7za at all
        const char* reason;                // "" where the kernel decides how it fails
    };
    const Broken broken[] = {
        {"missing", std::nullopt, "7za is missing"},
        {"empty", "", "7za could not be started"},
        {"cut short", real.substr(0, 4096), ""},
        {"another machine", otherMachine, ""},
        {"missing interpreter", "#!/nonexistent/sh\n", "7za could not be started"},
        {"extracts nothing", "#!/bin/sh\nexit 0\n", "7za did not extract its test member"},
        {"fails", "#!/bin/sh\nexit 2\n", "7za exited with status 2"},
    };
    for (const Broken& b : broken) {
        fs::remove("7za");
        if (b.bytes) {
            e2e::writeFile("7za", *b.bytes);
            ::chmod("7za", 0755);
        }
        const HostRun r = e2e::runKivscan(dir_, args);
        EXPECT_EQ(r.status, 1) << b.what;
        const std::vector<std::string> err = lines(r.err);
        ASSERT_EQ(err.size(), 2u) << b.what << "\n" << r.err;
        EXPECT_EQ(err[0].rfind("kivscan: warning: ", 0), 0u) << err[0];
        EXPECT_NE(err[0].find(b.bytes ? "7za does not run (" + std::string(b.reason) : "7za is missing from"),
                  std::string::npos)
            << err[0];
        const std::string failed = "kivscan: " + locked + ": scan failed: a member only 7za can read was needed: ";
        EXPECT_EQ(err[1].rfind(failed + b.reason, 0), 0u) << err[1];
        EXPECT_EQ(lines(r.out), std::vector<std::string>(answers.begin() + 1, answers.end())) << b.what;
    }
}

// Hosts killed at random moments (starting, scanning or stopping) beside hosts that run to their
// end: a living host's copies are never taken from it, and once the next host has started and
// stopped, nothing is left of the killed ones.
TEST_F(Host, KilledHostsLeaveNoMatcherCopies) {
    const std::string f = (dir_ / "files" / "data.bin").string();
    e2e::writeFile(f, std::string("\x01\x02\x03\x04 not claimed by any detector", 33));
    const std::vector<std::string> args = {"-j", "2", f, f, f, f};
    const unsigned seed = std::random_device{}();
    std::mt19937 random(seed);
    for (int round = 0; round < 10; ++round) {
        const pid_t survivor = e2e::startKivscan(dir_, args, "survivor");
        for (int k = 0; k < 4; ++k) {
            const pid_t victim = e2e::startKivscan(dir_, args, "victim");
            ::usleep(random() % 40000);
            ::kill(victim, SIGKILL);
            int st = 0;
            ::waitpid(victim, &st, 0);
            e2e::collectKivscan(st, dir_, "victim");
        }
        int st = 0;
        ::waitpid(survivor, &st, 0);
        const HostRun r = e2e::collectKivscan(st, dir_, "survivor");
        ASSERT_EQ(r.status, 0) << "seed " << seed << "\n" << r.err;
        ASSERT_EQ(lines(r.out).size(), 4u);
    }
    const HostRun last = e2e::runKivscan(dir_, {f});
    EXPECT_EQ(last.status, 0) << last.err;
    EXPECT_EQ(e2e::copiesIn(dir_), std::vector<std::string>{}) << "seed " << seed;
}

// kivscan names why each file was not scanned. The file that vanishes is held in the matcher
// double (slot 0) until the test has removed it, and the double then fails the scan.
TEST_F(Host, HostNamesWhyAFileWasNotScanned) {
    const fs::path files = dir_ / "files";
    const fs::path fifo = files / "fifo", going = files / "going.bin", locked = files / "locked.bin";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    e2e::writeFile(going, std::string("\x01\x02\x03\x04 not claimed by any detector", 33));
    fs::copy_file(going, locked);
    ::chmod(locked.c_str(), 0);
    const bool root = ::geteuid() == 0;  // reads every file
    e2e::writeFile("qrix-double.ctl", "analyze=0\n");
    e2e::writeFile("hold-lib.0", "");

    const pid_t pid = e2e::startKivscan(dir_, {fifo.string(), going.string(), locked.string()}, "reasons");
    while (e2e::readAll("qrix-double.log").empty()) ::usleep(1000);
    fs::remove(going);
    fs::remove("hold-lib.0");
    int st = 0;
    ::waitpid(pid, &st, 0);
    const HostRun r = e2e::collectKivscan(st, dir_, "reasons");
    EXPECT_EQ(r.status, 1);
    const std::vector<std::string> err = lines(r.err);
    ASSERT_EQ(err.size(), 4u) << r.err;  // the archiver warning first
    EXPECT_EQ(err[1], "kivscan: " + fifo.string() + ": scan failed: not a regular file");
    EXPECT_EQ(err[2], "kivscan: " + going.string() + ": scan failed: the file vanished during the scan");
    EXPECT_EQ(err[3], "kivscan: " + locked.string() + ": scan failed" +
                          (root ? std::string() : ": not readable: " + std::string(std::strerror(EACCES))));
}
#endif
