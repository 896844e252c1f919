#include "engine/CommonUtils.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <mutex>

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

namespace {

// The runs going on, so that stopAllRuns can end them. Each entry lives on its runner's stack
// while the child is unreaped (so its process group id cannot be taken by another process).
// The lock and the list head need no destructor: the list stays usable to the end of unload.
struct LiveRun {
    pid_t pid = -1;
    bool stoppedByHost = false;
    LiveRun* prev = nullptr;
    LiveRun* next = nullptr;
};
std::mutex gLiveRunsLock;
LiveRun* gLiveRuns = nullptr;
// Counts the calls of stopAllRuns (under the lock): a run started while one was going on, and
// listed only after it, ends as well.
uint64_t gStops = 0;

void unlinkRun(LiveRun& run) {
    if (run.prev)
        run.prev->next = run.next;
    else
        gLiveRuns = run.next;
    if (run.next) run.next->prev = run.prev;
}

// A descriptor that becomes readable when the child ends, -1 where the kernel has none.
int openPidFd(pid_t pid) {
#ifdef SYS_pidfd_open
    return static_cast<int>(::syscall(SYS_pidfd_open, pid, 0));
#else
    (void)pid;
    return -1;
#endif
}

}  // namespace

void CommonUtils::stopAllRuns() {
    std::lock_guard<std::mutex> lock(gLiveRunsLock);
    ++gStops;
    for (LiveRun* run = gLiveRuns; run != nullptr; run = run->next) {
        run->stoppedByHost = true;
        ::kill(-run->pid, SIGKILL);
    }
}

bool CommonUtils::executeCommandAndGetOutputChar(const std::vector<std::string>& argv, std::vector<char>& output,
                                                 size_t maxBytes, int* exitStatus, unsigned timeoutMs, int passFd,
                                                 RunEnd* end) {
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
    // A process group of its own (its id is the child's pid), so that one kill reaches
    // everything the child starts.
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP);
    posix_spawnattr_setpgroup(&attributes, 0);

    std::vector<char*> args;
    args.reserve(argv.size() + 1);
    for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);

    uint64_t stopsBefore;
    {
        std::lock_guard<std::mutex> lock(gLiveRunsLock);
        stopsBefore = gStops;
    }
    pid_t pid = -1;
    const int rc = argv[0].find('/') != std::string::npos
                       ? posix_spawn(&pid, args[0], &actions, &attributes, args.data(), environ)
                       : posix_spawnp(&pid, args[0], &actions, &attributes, args.data(), environ);
    LiveRun run;
    if (rc == 0) {
        std::lock_guard<std::mutex> lock(gLiveRunsLock);
        run.pid = pid;
        run.next = gLiveRuns;
        if (gLiveRuns) gLiveRuns->prev = &run;
        gLiveRuns = &run;
        // A stop of the host came while this child was being started: it ends too.
        if (gStops != stopsBefore) {
            run.stoppedByHost = true;
            ::kill(-pid, SIGKILL);
        }
    }
    posix_spawnattr_destroy(&attributes);
    posix_spawn_file_actions_destroy(&actions);
    close(fds[1]);
    if (passed >= 0) close(passed);
    if (rc != 0) {
        close(fds[0]);
        return false;
    }

    const int childFd = openPidFd(pid);
    char buf[65536];
    size_t kept = 0;
    bool outputOpen = true, childGone = false;
    RunEnd how = RunEnd::ChildEnded;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    // Until the output has ended and the child with it; without a child descriptor, until the
    // output has ended (the wait below then waits for the child).
    while (outputOpen || (!childGone && childFd >= 0)) {
        int wait = -1;
        if (timeoutMs != 0) {
            auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
            if (kept >= maxBytes) {
                how = RunEnd::OutputCap;
                break;
            }
            if (left.count() <= 0) {
                how = RunEnd::TimeLimit;
                break;
            }
            wait = static_cast<int>(std::min<long long>(left.count(), 60000));
        }
        struct pollfd pfd[2];
        nfds_t n = 0;
        if (outputOpen) pfd[n++] = {fds[0], POLLIN, 0};
        if (!childGone && childFd >= 0) pfd[n++] = {childFd, POLLIN, 0};
        const int ready = poll(pfd, n, wait);
        if (ready < 0 && errno != EINTR) {
            how = RunEnd::ReadFailed;
            break;
        }
        if (ready <= 0) continue;
        if (!childGone && childFd >= 0 && pfd[n - 1].revents != 0) {
            // The child has ended: whatever it left running is ended now, so that the output
            // ends too. What the child wrote stays readable.
            childGone = true;
            ::kill(-pid, SIGKILL);
        }
        if (!outputOpen || pfd[0].revents == 0) continue;
        ssize_t got = read(fds[0], buf, sizeof buf);
        if (got < 0 && (errno == EINTR || errno == EAGAIN)) continue;
        if (got < 0) {
            how = RunEnd::ReadFailed;
            break;
        }
        if (got == 0) {
            outputOpen = false;
            continue;
        }
        size_t count = static_cast<size_t>(got);
        size_t keep = std::min(count, maxBytes - kept);
        output.insert(output.end(), buf, buf + keep);
        kept += keep;
        if (keep < count) {
            // More output than the cap: a bomb-sized member. Reading it to its end would only
            // spend time; stop the child instead.
            how = RunEnd::OutputCap;
            break;
        }
    }
    // Stopped early: the child may still be writing or stuck; end it and its group.
    if (how != RunEnd::ChildEnded) ::kill(-pid, SIGKILL);
    close(fds[0]);
    if (childFd >= 0) close(childFd);
    // The child is waited for but not yet reaped: while it is a zombie its pid, and so its
    // group id, cannot be reused, and the group can be ended without hitting a stranger.
    siginfo_t info;
    int waited;
    while ((waited = waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOWAIT)) < 0 && errno == EINTR) {
    }
    if (waited == 0) ::kill(-pid, SIGKILL);
    {
        std::lock_guard<std::mutex> lock(gLiveRunsLock);
        unlinkRun(run);
        if (run.stoppedByHost) how = RunEnd::HostStopped;
    }
    int status = 0;
    while (waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR) {
            status = -1;
            break;
        }
    }
    if (exitStatus) *exitStatus = status;
    if (end) *end = how;
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
