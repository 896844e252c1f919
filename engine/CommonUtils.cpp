#include "engine/CommonUtils.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>

#include "core/ByteSource.h"
#include "core/ByteUtils.h"

extern char** environ;

int CommonUtils::searchBytes(const unsigned char* hay, unsigned long hayLen, const unsigned char* needle,
                             unsigned long needleLen) {
    if (needleLen == 0) return 0;
    if (hay == nullptr || needleLen > hayLen) return -1;
    const size_t at = kiv::findBytes(hay, hayLen, needle, needleLen);
    return at == SIZE_MAX ? -1 : static_cast<int>(at);
}

std::string CommonUtils::getValueOf(const std::string& key, const std::string& json) {
    size_t k = json.find("\"" + key + "\"");
    if (k == std::string::npos) return "";
    std::string rest = json.substr(k);
    size_t colon = rest.find(':');
    if (colon == std::string::npos) return "";
    std::string value = rest.substr(colon + 1);
    size_t end = value.find(",\"");
    if (end != std::string::npos) value = value.substr(0, end);
    if (value.find('"') != std::string::npos) {
        // A quoted value: the text between its quotes. A closing brace after the last quote
        // belongs to the object, one before it to the value ("x}" stays "x}").
        if (!value.empty() && value.back() == '}' && value.size() >= 2 && value[value.size() - 2] == '"')
            value.pop_back();
        return value.size() >= 2 ? value.substr(1, value.size() - 2) : std::string();
    }
    if (!value.empty() && value.back() == '}') value.pop_back();
    return value;
}

std::string CommonUtils::getCurrentDir() {
    char buf[4096];
    if (getcwd(buf, sizeof buf) == nullptr) return "";
    std::string dir(buf);
    if (dir.empty() || (dir.back() != '/' && dir.back() != '\\')) dir += '/';
    return dir;
}

// Written by hand: a regular expression over a very long run of blanks recurses deep enough
// to overflow the stack. Each whitespace run is enclosed in double quotes and every bracket
// gets a backslash, as the archiver's old command lines expected.
void CommonUtils::replaceSpaceInPath(std::string& path) {
    std::string out;
    out.reserve(path.size() + 8);
    for (size_t i = 0; i < path.size();) {
        unsigned char c = static_cast<unsigned char>(path[i]);
        if (kiv::isAsciiSpace(c)) {
            out += '"';
            while (i < path.size() && kiv::isAsciiSpace(static_cast<unsigned char>(path[i]))) out += path[i++];
            out += '"';
            continue;
        }
        if (std::strchr("()[]{}", c) != nullptr && c != '\0') out += '\\';
        out += path[i++];
    }
    path.swap(out);
}

std::string CommonUtils::executeCommandAndGetOutput(const std::vector<std::string>& argv) {
    std::vector<char> bytes;
    if (!executeCommandAndGetOutputChar(argv, bytes)) return "";
    std::string out;
    out.reserve(bytes.size());
    for (char c : bytes)
        if (c != '\0') out += c;
    return out;
}

bool CommonUtils::executeCommandAndGetOutputChar(const std::vector<std::string>& argv, std::vector<char>& output,
                                                 size_t maxBytes, int* exitStatus, unsigned timeoutMs, int passFd) {
    if (argv.empty() || argv[0].empty()) return false;
    // A copy above the standard descriptors, so that no file action before its own can
    // overwrite it and its dup2 always changes the number (which is what clears close-on-exec).
    int passed = -1;
    if (passFd >= 0) {
        passed = fcntl(passFd, F_DUPFD_CLOEXEC, kPassedFd + 1);
        if (passed < 0) return false;
    }
    // Close-on-exec, so that a child started by another thread at the same moment does not
    // inherit the write end and keep this reader waiting for end of file.
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) {
        if (passed >= 0) close(passed);
        return false;
    }

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, fds[1], 1);
    posix_spawn_file_actions_adddup2(&actions, fds[1], 2);
    if (passed >= 0) posix_spawn_file_actions_adddup2(&actions, passed, kPassedFd);

    std::vector<char*> args;
    args.reserve(argv.size() + 1);
    for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);

    pid_t pid = -1;
    int rc = argv[0].find('/') != std::string::npos
                 ? posix_spawn(&pid, args[0], &actions, nullptr, args.data(), environ)
                 : posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(fds[1]);
    if (passed >= 0) close(passed);
    if (rc != 0) {
        close(fds[0]);
        return false;
    }

    char buf[65536];
    size_t kept = 0;
    bool stoppedEarly = false;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        if (timeoutMs != 0) {
            auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
            if (kept >= maxBytes || left.count() <= 0) {
                stoppedEarly = true;
                break;
            }
            struct pollfd pfd = {fds[0], POLLIN, 0};
            int ready = poll(&pfd, 1, static_cast<int>(std::min<long long>(left.count(), 60000)));
            if (ready < 0 && errno != EINTR) {
                stoppedEarly = true;
                break;
            }
            if (ready <= 0) continue;
        }
        ssize_t got = read(fds[0], buf, sizeof buf);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) break;
        size_t n = static_cast<size_t>(got);
        size_t keep = std::min(n, maxBytes - kept);
        output.insert(output.end(), buf, buf + keep);
        kept += keep;
        if (keep < n) {
            // More output than the cap: a bomb-sized member. Reading it to its end would only
            // spend time; stop the child instead.
            stoppedEarly = true;
            break;
        }
    }
    // A bounded run that stopped early: the child may still be writing or stuck; end it.
    if (stoppedEarly) kill(pid, SIGKILL);
    close(fds[0]);
    int status = 0;
    while (waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR) {
            status = -1;
            break;
        }
    }
    if (exitStatus) *exitStatus = status;
    return true;
}

std::istream& CommonUtils::safeGetline(std::istream& is, std::string& line, size_t maxLen) {
    line.clear();
    std::istream::sentry se(is, true);
    std::streambuf* sb = is.rdbuf();
    if (sb == nullptr) {
        is.setstate(std::ios::badbit);
        return is;
    }
    for (;;) {
        int c = sb->sbumpc();
        switch (c) {
            case '\n':
                return is;
            case '\r':
                if (sb->sgetc() == '\n') sb->sbumpc();
                return is;
            case std::streambuf::traits_type::eof():
                if (line.empty()) is.setstate(std::ios::eofbit);
                return is;
            default:
                line += static_cast<char>(c);
                // An overlong line: one character past the cap tells the caller so, and the
                // rest of a line without breaks (a multi-gigabyte binary) is never read.
                if (line.size() > maxLen) return is;
        }
    }
}

bool CommonUtils::removeSpace(std::string& text) {
    text.erase(std::remove(text.begin(), text.end(), ' '), text.end());
    return true;
}

bool CommonUtils::compare2ArrayUsingXor(const unsigned char* a, const unsigned char* b, int count) {
    for (int i = 0; i < count; ++i)
        if ((a[i] ^ b[i]) != 0) return false;
    return true;
}
