#include "engine/CommonUtils.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>

#include <algorithm>
#include <cstdio>
#include <regex>

extern char** environ;

int CommonUtils::searchBytes(const unsigned char* hay, unsigned long hayLen, const unsigned char* needle,
                             unsigned long needleLen) {
    if (needleLen == 0) return 0;
    if (hay == nullptr || needleLen > hayLen) return -1;
    const void* p = memmem(hay, hayLen, needle, needleLen);
    return p ? static_cast<int>(static_cast<const unsigned char*>(p) - hay) : -1;
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
        value = value.size() >= 2 ? value.substr(1, value.size() - 2) : std::string();
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

void CommonUtils::replaceSpaceInPath(std::string& path) {
    static const std::regex spaces("(\\s+)");
    static const std::regex specials("([\\(\\)\\[\\]\\{\\}])");
    path = std::regex_replace(path, spaces, "\"$1\"");
    path = std::regex_replace(path, specials, "\\$1");
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
                                                 size_t maxBytes, int* exitStatus) {
    if (argv.empty() || argv[0].empty()) return false;
    // Close-on-exec, so that a child started by another thread at the same moment does not
    // inherit the write end and keep this reader waiting for end of file.
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) return false;

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, fds[1], 1);
    posix_spawn_file_actions_adddup2(&actions, fds[1], 2);

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
    if (rc != 0) {
        close(fds[0]);
        return false;
    }

    char buf[65536];
    size_t kept = 0;
    for (;;) {
        ssize_t got = read(fds[0], buf, sizeof buf);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) break;
        size_t n = static_cast<size_t>(got);
        if (kept < maxBytes) {
            size_t keep = std::min(n, maxBytes - kept);
            output.insert(output.end(), buf, buf + keep);
            kept += keep;
        }
    }
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
                if (line.size() < maxLen) line += static_cast<char>(c);
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
