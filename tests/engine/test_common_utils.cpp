// CommonUtils: byte search, outside programs without a shell, line reading and the result
// JSON's values.
#include <gtest/gtest.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <sstream>
#include <thread>

#include "engine/CommonUtils.h"

TEST(CommonUtils, SearchInBinary) {
    EXPECT_EQ(CommonUtils::searchInBinary("aaab", 4, "aab", 3), 1);
    EXPECT_EQ(CommonUtils::searchInBinary("ab", 2, "b", 1), 1);
    EXPECT_EQ(CommonUtils::searchInBinary("", 0, "x", 1), -1);
    EXPECT_EQ(CommonUtils::searchInBinary("abc", 3, "", 0), 0);
    const unsigned char hay[] = {0x01, 0xD0, 0xCF, 0x11};
    EXPECT_EQ(CommonUtils::searchInBinary(hay, 4, "\xD0\xCF", 2), 1);
    std::vector<char> v = {'x', 'P', 'K'};
    EXPECT_EQ(CommonUtils::searchInBinary(v, v.size(), "PK", 2), 1);
}

TEST(CommonUtils, PathQuotingAndNoShell) {
    auto quoted = [](std::string p) {
        CommonUtils::replaceSpaceInPath(p);
        return p;
    };
    EXPECT_EQ(quoted("/tmp/a b(1)/"), "/tmp/a\" \"b\\(1\\)/");
    EXPECT_EQ(quoted("x\t \ny{z}[0]"), "x\"\t \n\"y\\{z\\}\\[0\\]");
    // A very long blank run must not exhaust the stack.
    EXPECT_EQ(quoted("a" + std::string(200000, ' ') + "b").size(), 200004u);
    // Arguments reach the program byte for byte; nothing is read as shell syntax.
    std::string hostile = "/tmp/x'$(touch pwned);`id`\n\"y";
    EXPECT_EQ(CommonUtils::executeCommandAndGetOutput({"printf", "%s", hostile}), hostile);
}

TEST(CommonUtils, CommandOutputKeepsEveryByte) {
    std::vector<char> out;
    int status = -1;
    ASSERT_TRUE(CommonUtils::executeCommandAndGetOutputChar({"printf", "a\\000b\\377"}, out, 100, &status));
    EXPECT_EQ(out, (std::vector<char>{'a', '\0', 'b', '\xff'}));
    EXPECT_EQ(status, 0);
    out.clear();
    ASSERT_TRUE(CommonUtils::executeCommandAndGetOutputChar({"head", "-c", "100000", "/dev/zero"}, out, 10));
    EXPECT_EQ(out.size(), 10u);
    // Standard error is collected too; a missing program is a failure, not empty success.
    out.clear();
    ASSERT_TRUE(CommonUtils::executeCommandAndGetOutputChar({"ls", "/no/such/dir"}, out, 1000, &status));
    EXPECT_FALSE(out.empty());
    EXPECT_NE(status, 0);
    EXPECT_FALSE(CommonUtils::executeCommandAndGetOutputChar({"/no/such/program"}, out));
    EXPECT_EQ(CommonUtils::executeCommandAndGetOutput({"/no/such/program"}), "");
    EXPECT_FALSE(CommonUtils::executeCommandAndGetOutputChar({"no-such-program-anywhere"}, out));
}

TEST(CommonUtils, CommandOutputIsCappedAndEndlessOutputStops) {
    // A 200 KiB file with NULs and every byte value comes back byte for byte.
    std::string path = ::testing::TempDir() + "kiv-core-binary-" + std::to_string(::getpid());
    std::string bytes;
    for (size_t i = 0; i < 200 * 1024; ++i) bytes += static_cast<char>((i * 131) % 256);
    { std::ofstream(path, std::ios::binary) << bytes; }
    std::vector<char> out;
    ASSERT_TRUE(CommonUtils::executeCommandAndGetOutputChar({"cat", path}, out));
    EXPECT_EQ(std::string(out.begin(), out.end()), bytes);
    ::unlink(path.c_str());
    // A program that never stops writing is stopped once it passes the cap.
    out.clear();
    int status = 0;
    ASSERT_TRUE(CommonUtils::executeCommandAndGetOutputChar({"yes"}, out, 4096, &status));
    EXPECT_EQ(out.size(), 4096u);
    EXPECT_TRUE(WIFSIGNALED(status));
}

// However a run ends (the child exits while its sleeper holds the output, output cap, time limit,
// a stop from another thread), the sleeper, which would exit 42, comes to this subreaper killed.
TEST(CommonUtils, RunsEndWithTheirWholeProcessGroup) {
    using End = CommonUtils::RunEnd;
    const std::pair<const char*, End> rows[] = {{"exit 3", End::ChildEnded},
                                                {"exec yes", End::OutputCap},
                                                {"wait", End::TimeLimit},
                                                {"wait", End::HostStopped}};
    const std::string started = ::testing::TempDir() + "kiv-run-started-" + std::to_string(::getpid());
    ASSERT_EQ(::prctl(PR_SET_CHILD_SUBREAPER, 1), 0);
    for (const auto& [then, want] : rows) {
        ::unlink(started.c_str());
        std::thread host;
        if (want == End::HostStopped)
            host = std::thread([&started] {
                while (::access(started.c_str(), F_OK) != 0) ::usleep(1000);
                CommonUtils::stopAllRuns();
            });
        std::vector<char> out;
        int status = -1;
        End end = End::ReadFailed;
        ASSERT_TRUE(CommonUtils::executeCommandAndGetOutputChar(
            {"sh", "-c", "(sleep 60; exit 42) & : > " + started + "; " + then}, out, 4096, &status,
            want == End::TimeLimit ? 1000 : 0, -1, &end));
        if (host.joinable()) host.join();
        EXPECT_EQ(static_cast<int>(end), static_cast<int>(want)) << then;
        EXPECT_TRUE(want != End::ChildEnded || (WIFEXITED(status) && WEXITSTATUS(status) == 3));
        int st = 0, killed = 0;
        while (::waitpid(-1, &st, 0) > 0) {
            EXPECT_FALSE(WIFEXITED(st) && WEXITSTATUS(st) == 42) << then;
            killed += WIFSIGNALED(st) && WTERMSIG(st) == SIGKILL;
        }
        EXPECT_TRUE(killed > 0 || want == End::TimeLimit) << then;  // a limit may strike before the sleeper starts
    }
    ::prctl(PR_SET_CHILD_SUBREAPER, 0);
    ::unlink(started.c_str());
}

TEST(CommonUtils, SafeGetlineReadsEveryLineEnding) {
    std::istringstream in(std::string("a\r\nb\rc\n"));
    std::string line;
    std::vector<std::string> lines;
    while (CommonUtils::safeGetline(in, line) && !(in.eof() && line.empty())) lines.push_back(line);
    EXPECT_EQ(lines, (std::vector<std::string>{"a", "b", "c"}));
    EXPECT_TRUE(in.eof());
    // An overlong line stops one character past the cap, so "longer than the cap" stays
    // visible, and the rest of the line is not read.
    std::istringstream longLine(std::string(1000, 'z') + "\nnext\n");
    CommonUtils::safeGetline(longLine, line, 10);
    EXPECT_EQ(line, std::string(11, 'z'));
    EXPECT_EQ(longLine.tellg(), 11);
    std::istringstream exact("0123456789\nnext");
    CommonUtils::safeGetline(exact, line, 10);
    EXPECT_EQ(line, "0123456789");
    CommonUtils::safeGetline(exact, line, 10);
    EXPECT_EQ(line, "next");
}

TEST(CommonUtils, ValueOfResultJsonKeys) {
    std::string json =
        "{\"typeID\":\"PDF\",\"type\":\"application/pdf\",\"groupIDs\":[\"P\"],\"groupID\":\"P\","
        "\"description\":\"Adobe Portable Document Format\",\"extensions\":\"pdf\",\"encrypted\":false}";
    EXPECT_EQ(CommonUtils::getValueOf("typeID", json), "PDF");
    EXPECT_EQ(CommonUtils::getValueOf("encrypted", json), "false");
    EXPECT_EQ(CommonUtils::getValueOf("missing", json), "");
    // A closing brace inside a quoted value is part of the value; one after it is not.
    EXPECT_EQ(CommonUtils::getValueOf("description", "{\"description\":\"a}\",\"x\":1}"), "a}");
    EXPECT_EQ(CommonUtils::getValueOf("description", "{\"description\":\"a}\"}"), "a}");
    EXPECT_EQ(CommonUtils::getValueOf("x", "{\"x\":\"\"}"), "");
    EXPECT_EQ(CommonUtils::getValueOf("k", "{\"k\"}"), "");
    std::string s = " a b ";
    CommonUtils::removeSpace(s);
    EXPECT_EQ(s, "ab");
}
