#include "engine/CommonUtils.h"

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <regex>

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

std::string CommonUtils::shellQuote(const std::string& path) {
    std::string out = "'";
    for (char c : path) {
        if (c == '\'')
            out += "'\\''";
        else
            out += c;
    }
    out += '\'';
    return out;
}

std::string CommonUtils::executeCommandAndGetOutput(std::string command) {
    std::vector<char> bytes;
    if (!executeCommandAndGetOutputChar(std::move(command), bytes)) return "";
    // Text form: each piece up to its first NUL, as a line-by-line C-string reader would keep it.
    std::string out;
    out.reserve(bytes.size());
    for (char c : bytes)
        if (c != '\0') out += c;
    return out;
}

bool CommonUtils::executeCommandAndGetOutputChar(std::string command, std::vector<char>& output, size_t maxBytes) {
    command += " 2>&1";
    FILE* pipe = popen(command.c_str(), "re");
    if (pipe == nullptr) return false;
    char buf[65536];
    size_t total = 0;
    size_t got;
    while ((got = fread(buf, 1, sizeof buf, pipe)) > 0) {
        if (total < maxBytes) {
            size_t keep = std::min(got, maxBytes - total);
            output.insert(output.end(), buf, buf + keep);
            total += keep;
        }
        // Past the cap keep draining, so the child is not killed by SIGPIPE mid-write.
    }
    pclose(pipe);
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
