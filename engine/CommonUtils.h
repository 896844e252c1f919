// Stateless helpers: byte search, running an outside command, the working directory,
// path quoting for the shell, line reading and a key lookup in the engine's result JSON.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <cstring>
#include <istream>
#include <limits>
#include <string>
#include <vector>

#include "core/Limits.h"

class CommonUtils {
public:
    // Index of the first occurrence of needle in haystack, -1 when absent; an empty needle
    // answers 0. Bytes compare as unsigned values.
    template <typename H, typename N>
    static int searchInBinary(H haystack, unsigned long hayLen, N needle, unsigned long needleLen) {
        return searchBytes(bytesOf(haystack), hayLen, reinterpret_cast<const unsigned char*>(needle), needleLen);
    }

    // Value of key in a one-level JSON object written by the engine, as written (not unescaped).
    static std::string getValueOf(const std::string& key, const std::string& json);
    // Working directory with a trailing "/"; "" on failure.
    static std::string getCurrentDir();
    // Quotes runs of whitespace and backslash-escapes ( ) [ ] { } in place. Commands never go
    // through a shell (see below), so no command depends on this quoting for its safety.
    static void replaceSpaceInPath(std::string& path);
    // Runs argv[0] directly (no shell: file names are never read as shell syntax) with
    // stdin from /dev/null and stderr merged into stdout, and collects the output as text
    // (NUL bytes dropped). "" when the program cannot be started.
    static std::string executeCommandAndGetOutput(const std::vector<std::string>& argv);
    // How a run ended: the child ended by itself (its status tells how), or the runner stopped
    // it: at the output cap, at the time limit, because the host is stopping the engine
    // (stopAllRuns), or because its output could no longer be read.
    enum class RunEnd { ChildEnded, OutputCap, TimeLimit, HostStopped, ReadFailed };
    // Same, appending every output byte, NULs included, to output and keeping at most maxBytes;
    // a child that writes more is killed (SIGKILL shows in its status). False when the program
    // cannot be started; the exit status (waitpid form) goes to *exitStatus when given, and how
    // the run ended to *end.
    // A non-zero timeoutMs makes the run bounded: the child is killed once it has run that long
    // or once maxBytes are kept, so neither a stuck child nor endless output can hold the caller.
    // The child runs in a process group of its own, and the whole group is killed whenever
    // the run ends (the child ended, or was stopped): nothing the child started outlives the run.
    // A passFd of 0 or more is handed to the child as its descriptor kPassedFd (see
    // passedFdPath); every other descriptor of the engine stays close-on-exec.
    static bool executeCommandAndGetOutputChar(const std::vector<std::string>& argv, std::vector<char>& output,
                                               size_t maxBytes = kiv::limits::kCommandOutputCap,
                                               int* exitStatus = nullptr, unsigned timeoutMs = 0, int passFd = -1,
                                               RunEnd* end = nullptr);
    // Kills the process group of every run going on at this moment; those runs end as
    // HostStopped. The engine calls it when the host stops it (deinit, unload).
    static void stopAllRuns();
    // The descriptor number a child gets for passFd, and the name under which it opens it.
    static constexpr int kPassedFd = 3;
    static const char* passedFdPath() { return "/proc/self/fd/3"; }
    // Reads one line ending in LF, CR or CRLF (ending not stored); at the end of the stream with
    // nothing read, sets eofbit. A line longer than maxLen stops after maxLen + 1 characters
    // (so the caller sees that it was too long); the rest stays unread in the stream.
    static std::istream& safeGetline(std::istream& is, std::string& line,
                                     size_t maxLen = std::numeric_limits<size_t>::max());
    // Erases every blank (0x20).
    static bool removeSpace(std::string& text);
    // True when the first count bytes are equal; count <= 0 answers true.
    static bool compare2ArrayUsingXor(const unsigned char* a, const unsigned char* b, int count);

    static int searchBytes(const unsigned char* hay, unsigned long hayLen, const unsigned char* needle,
                           unsigned long needleLen);

private:
    static const unsigned char* bytesOf(const char* p) { return reinterpret_cast<const unsigned char*>(p); }
    static const unsigned char* bytesOf(const unsigned char* p) { return p; }
    static const unsigned char* bytesOf(const std::vector<char>& v) {
        return reinterpret_cast<const unsigned char*>(v.data());
    }
};
