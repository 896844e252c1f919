// What a host sees of the archiver and of the matcher copies, through kivscan in a working
// directory laid out like run/: a 7za that cannot run gives no guessed answer, kivscan says why
// a file was not scanned, and hosts killed at any moment leave no copy behind for good.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>

#include <optional>
#include <random>

#include "tests/engine/e2e/E2eKit.h"

#ifdef KIV_KIVSCAN
namespace {

using namespace e2e;

class Host : public WorkDir {
protected:
    void SetUp() override {
        ASSERT_NO_FATAL_FAILURE(WorkDir::SetUp());
        fs::create_symlink(KIV_ENGINE_PATH, "kiv_engine.so");
    }
};

}  // namespace

// Members of a password-protected package only 7za can read: with a 7za that is there but
// cannot run, that package gets no answer (never "ZIP" or a plain "DOCX") and kivscan says why,
// while the answers that need no archiver stay as they are.
TEST_F(Host, ArchiverThatCannotRunLeavesNoGuessedAnswer) {
    ASSERT_NE(std::string(KIV_7ZA_BINARY), "");
    const fs::path files = dir_ / "files";
    fs::create_directories(files / "_rels");
    writeFile(files / "[Content_Types].xml", "<Types/>");
    writeFile(files / "_rels/.rels", "<Relationships/>");
    ASSERT_EQ(runTool({"sh", "-c", "cd files && zip -q -P pw locked.docx '[Content_Types].xml' _rels/.rels"}), 0);
    const std::string locked = (files / "locked.docx").string();
    writeFile(files / "note.txt", "plain text\n");
    const std::vector<std::string> args = {
        locked, std::string(KIV_SOURCE_DIR) + "/tests/engine/detectors/fixtures/real/writer.docx",
        (files / "note.txt").string()};

    fs::copy_file(KIV_7ZA_BINARY, "7za");
    const HostRun good = runKivscan(dir_, args);
    ASSERT_EQ(good.status, 0) << good.err;
    EXPECT_EQ(good.err, "");
    const std::vector<std::string> answers = lines(good.out);
    ASSERT_EQ(answers.size(), 3u);
    EXPECT_EQ(jsonValue(answers[0].substr(answers[0].find('\t') + 1), "typeID"), "ZIP-ENCRYPTED");

    const std::string real = readAll(KIV_7ZA_BINARY);
    // What 7za holds (none: no 7za at all), and the reason given ("" where the kernel decides).
    const std::pair<std::optional<std::string>, std::string> broken[] = {
        {std::nullopt, "7za is missing"},
        {"", "7za could not be started"},
        {real.substr(0, 4096), ""},
        {std::string(real).replace(18, 2, "\xB7\0", 2), ""},  // e_machine: AArch64
        {"#!/nonexistent/sh\n", "7za could not be started"},
        {"#!/bin/sh\nexit 0\n", "7za did not extract its test member"},
        {"#!/bin/sh\nexit 2\n", "7za exited with status 2"},
    };
    for (const auto& [bytes, reason] : broken) {
        fs::remove("7za");
        if (bytes) {
            writeFile("7za", *bytes);
            ::chmod("7za", 0755);
        }
        const HostRun r = runKivscan(dir_, args);
        EXPECT_EQ(r.status, 1) << reason;
        const std::vector<std::string> err = lines(r.err);
        ASSERT_EQ(err.size(), 2u) << r.err;
        const std::string warning = bytes ? dir_.string() + "/7za does not run (" + reason : "7za is missing from";
        EXPECT_NE(err[0].find("warning: " + warning), std::string::npos) << err[0];
        const std::string failed = "kivscan: " + locked + ": scan failed: a member only 7za can read was needed: ";
        EXPECT_EQ(err[1].rfind(failed + reason, 0), 0u) << err[1];
        EXPECT_EQ(lines(r.out), std::vector<std::string>(answers.begin() + 1, answers.end())) << reason;
    }
}

// Hosts killed at random moments (starting, scanning or stopping) beside hosts that run to their
// end: a living host's copies are never taken from it, and once the next host has started and
// stopped, nothing is left of the killed ones.
TEST_F(Host, KilledHostsLeaveNoMatcherCopies) {
    const std::string f = (dir_ / "files/data.bin").string();
    writeFile(f, std::string("\x01\x02\x03\x04 not claimed by any detector", 33));
    const std::vector<std::string> args = {"-j", "2", f, f, f, f};
    const unsigned seed = std::random_device{}();
    std::mt19937 random(seed);
    for (int round = 0; round < 10; ++round) {
        const pid_t survivor = startKivscan(dir_, args, "survivor");
        for (int k = 0; k < 4; ++k) {
            const pid_t victim = startKivscan(dir_, args, "victim");
            ::usleep(random() % 40000);
            ::kill(victim, SIGKILL);
            int st = 0;
            ::waitpid(victim, &st, 0);
            collectKivscan(st, dir_, "victim");
        }
        int st = 0;
        ::waitpid(survivor, &st, 0);
        const HostRun r = collectKivscan(st, dir_, "survivor");
        ASSERT_EQ(r.status, 0) << "seed " << seed << "\n" << r.err;
        ASSERT_EQ(lines(r.out).size(), 4u);
    }
    const HostRun last = runKivscan(dir_, {f});
    EXPECT_EQ(last.status, 0) << last.err;
    EXPECT_EQ(copiesIn(dir_), std::vector<std::string>{}) << "seed " << seed;
}

// kivscan names why a file was not scanned. The file that vanishes is held in the matcher
// double (slot 0) until the test has removed it, and the double then fails the scan.
TEST_F(Host, HostNamesWhyAFileWasNotScanned) {
    const fs::path fifo = dir_ / "files" / "fifo", going = dir_ / "files" / "going.bin";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    writeFile(going, std::string("\x01\x02\x03\x04 not claimed by any detector", 33));
    writeFile("qrix-double.ctl", "analyze=0\n");
    writeFile("hold-lib.0", "");
    const pid_t pid = startKivscan(dir_, {fifo.string(), going.string()}, "reasons");
    while (readAll("qrix-double.log").empty()) ::usleep(1000);
    fs::remove(going);
    fs::remove("hold-lib.0");
    int st = 0;
    ::waitpid(pid, &st, 0);
    const HostRun r = collectKivscan(st, dir_, "reasons");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(lines(r.err), (std::vector<std::string>{
                                "kivscan: warning: 7za is missing from " + dir_.string() +
                                    "; files that need a member only 7za can read will not be scanned",
                                "kivscan: " + fifo.string() + ": scan failed: not a regular file",
                                "kivscan: " + going.string() + ": scan failed: the file vanished during the scan"}));
}
#endif
