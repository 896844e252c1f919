// Stateless helpers: byte search, running an outside command, the working directory,
// path quoting for the shell, line reading and a key lookup in the engine's result JSON.
#pragma once

#include <cstdint>
#include <cstring>
#include <istream>
#include <limits>
#include <string>
#include <vector>

#include <sys/types.h>

#include "engine/Limits.h"

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
    // Quotes runs of whitespace and backslash-escapes ( ) [ ] { } in place.
    static void replaceSpaceInPath(std::string& path);
    // Runs argv[0] directly (no shell: file names are never read as shell syntax) with
    // stdin from /dev/null and stderr merged into stdout, and collects the output as text
    // (NUL bytes dropped). "" when the program cannot be started.
    static std::string executeCommandAndGetOutput(const std::vector<std::string>& argv);
    // Same, appending every output byte, NULs included, to output and keeping at most maxBytes
    // (the rest is drained and dropped). False when the program cannot be started; the exit
    // status (waitpid form) goes to *exitStatus when given.
    static bool executeCommandAndGetOutputChar(const std::vector<std::string>& argv, std::vector<char>& output,
                                               size_t maxBytes = kiv::limits::kCommandOutputCap,
                                               int* exitStatus = nullptr);
    // Reads one line ending in LF, CR or CRLF (ending not stored). At most maxLen characters are
    // stored; the rest of an overlong line is consumed and dropped.
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
