// What a host sees of the archiver and of the matcher copies, through kivscan in a working
// directory laid out like run/: a 7za that cannot run gives no guessed answer, kivscan says why
// a file was not scanned, and hosts killed at any moment leave no copy behind for good.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/prctl.h>
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
    // Writes an Office Open XML package's parts and a note in files/; runs command there on the parts.
    void makePackages(const std::string& command) {
        fs::create_directories(dir_ / "files" / "_rels");
        writeFile(dir_ / "files" / "[Content_Types].xml", "<Types/>");
        writeFile(dir_ / "files" / "_rels/.rels", "<Relationships/>");
        writeFile(dir_ / "files" / "note.txt", "plain text\n");
        ASSERT_EQ(runTool({"sh", "-c", "cd files && " + command, "sh", "[Content_Types].xml", "_rels/.rels"}), 0);
    }
};

}  // namespace

// Members of a password-protected package only 7za can read: with a 7za that is there but
// cannot run, that package gets no answer (never "ZIP" or a plain "DOCX") and kivscan says why,
// while the answers that need no archiver stay as they are.
TEST_F(Host, ArchiverThatCannotRunLeavesNoGuessedAnswer) {
    ASSERT_NE(std::string(KIV_7ZA_BINARY), "");
    const fs::path files = dir_ / "files";
    ASSERT_NO_FATAL_FAILURE(makePackages("zip -q -P pw locked.docx \"$@\""));
    const std::string locked = (files / "locked.docx").string();
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
        {"#!/bin/sh\nsleep 120\n", "7za was stopped after 5 s"},  // the start-up check's own limit
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

// Archivers that pass the start-up check, then fail on the members of an AES and a ZipCrypto
// package: neither gets an answer, the reason is named, and a hanging one's sleeper (it would exit
// 42) is killed. The real 7za answers them, and damaged and cut packages too.
TEST_F(Host, ArchiverThatFailsOnAMemberLeavesNoAnswer) {
    const std::string real7za = KIV_7ZA_BINARY, files = (dir_ / "files").string() + "/";
    ASSERT_NO_FATAL_FAILURE(makePackages("zip -q -P pw zipcrypto.docx \"$@\" && zip -q -X plain.docx \"$@\" && " +
                                         real7za + " a -tzip -mem=AES256 -ppw aes.docx \"$@\" >/dev/null"));
    std::string plain = readAll(files + "plain.docx");
    writeFile(files + "cut.docx", plain.substr(0, plain.size() - 2));       // the end record's last field cut
    writeFile(files + "damaged.docx", plain.replace(30 + 19 + 4, 1, "!"));  // in the first member's stored data
    const std::vector<std::string> args = {files + "aes.docx", files + "zipcrypto.docx", files + "note.txt"};
    fs::copy_file(real7za, "7za");
    const HostRun good = runKivscan(dir_, {args[0], args[1], args[2], files + "damaged.docx", files + "cut.docx"});
    ASSERT_EQ(good.status, 0) << good.err;
    ASSERT_EQ(lines(good.out).size(), 5u);
    for (const std::string& l : {lines(good.out)[3], lines(good.out)[4]})
        EXPECT_EQ(jsonValue(l.substr(l.find('\t') + 1), "typeID"), "ZIP") << l;

    ::setenv("KIV_TEST_MEMBER_RUN_LIMIT_MS", "2000", 1);
    ASSERT_EQ(::prctl(PR_SET_CHILD_SUBREAPER, 1), 0);
    const std::pair<std::string, std::string> archivers[] = {
        {"exit 2", "7za exited with status 2 and said nothing"},
        {"echo 'Segmentation fault'; exit 2", "7za exited with status 2 without a report on the archive"},
        {"kill -KILL $$", "7za was killed by signal 9"},
        {"echo 'Command Line Error:'; exit 7", "7za exited with status 7 (command line error)"},
        {"echo 'ERROR: Data Error'; exit 8", "7za exited with status 8 (out of memory)"},
        {"exit 255", "7za exited with status 255 (stopped)"},
        {"(sleep 60; exit 42) & wait", "7za was stopped after 2 s"},
    };
    for (const auto& [misbehaviour, reason] : archivers) {
        writeFile("7za", "#!/bin/sh\ncase \"$4\" in '-i!probe') exec '" + real7za + "' \"$@\";; esac\n" + misbehaviour);
        const HostRun r = runKivscan(dir_, args);
        const std::string why =
            ": scan failed: a member only 7za can read was needed: " + reason + " while reading [Content_Types].xml\n";
        EXPECT_EQ(std::to_string(r.status) + r.out + r.err,
                  "1" + lines(good.out)[2] + "\nkivscan: " + args[0] + why + "kivscan: " + args[1] + why);
    }
    ::unsetenv("KIV_TEST_MEMBER_RUN_LIMIT_MS");
    int st = 0, killed = 0;
    while (::waitpid(-1, &st, 0) > 0) {
        EXPECT_FALSE(WIFEXITED(st) && WEXITSTATUS(st) == 42) << "an archiver's sleeper outlived its run";
        killed += WIFSIGNALED(st) && WTERMSIG(st) == SIGKILL;
    }
    EXPECT_GE(killed, 1);
    ::prctl(PR_SET_CHILD_SUBREAPER, 0);
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
