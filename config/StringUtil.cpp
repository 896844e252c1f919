#include "config/StringUtil.h"

#include <cstring>

#include "core/ByteUtils.h"

namespace {
constexpr const char* kTrimSet = " \"\t\r\n";
}

std::string StringUtil::trim(std::string text) {
    const size_t first = text.find_first_not_of(kTrimSet);
    if (first == std::string::npos) return std::string();
    const size_t last = text.find_last_not_of(kTrimSet);
    return text.substr(first, last - first + 1);
}

bool StringUtil::IsNumber(const std::string& text) {
    if (text.empty()) return false;
    for (unsigned char c : text) {
        if (!kiv::isAsciiDigit(c)) return false;
    }
    return true;
}

unsigned long StringUtil::ParseStrToVecWith(const std::string& text, const char* separator,
                                            std::vector<std::string>& out, unsigned long max) {
    if (text.empty()) return 0;
    out.clear();
    const size_t sepLen = separator ? std::strlen(separator) : 0;
    if (sepLen == 0) {
        out.push_back(text);
        return out.size();
    }
    size_t pos = 0;
    size_t found;
    while ((found = text.find(separator, pos, sepLen)) != std::string::npos) {
        if (max != 0 && out.size() + 1 == max) {
            out.push_back(text.substr(pos));
            return out.size();
        }
        out.push_back(text.substr(pos, found - pos));
        pos = found + sepLen;
    }
    if (pos < text.size()) out.push_back(text.substr(pos));
    return out.size();
}
