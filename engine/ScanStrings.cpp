// The registry that only the host fills (texts under random ids), and the conversion shims
// the host may call. Nothing inside the engine uses them.
#include <climits>
#include <cstring>
#include <ctime>
#include <cwchar>
#include <map>
#include <memory>
#include <mutex>
#include <random>
#include <string>

#include "engine/HostApi.h"

namespace {

struct ScanStrings {
    std::mutex mutex;
    std::map<int, std::string> texts;  // map nodes never move: a text's address stays valid
    // Created on first use under the lock: std::random_device can throw where there is no
    // entropy source, and that must not happen while the library is being loaded.
    std::unique_ptr<std::mt19937> generator;
};

ScanStrings& scanStrings() {
    static ScanStrings s;
    return s;
}

constexpr int kFirstId = 2;  // 0 means "no text", 1 is never handed out

}  // namespace

KIV_EXPORT const char* addScanString(const char* text, int* id) {
    if (id == nullptr) return nullptr;  // nobody could ever free such an entry
    if (text == nullptr) {
        *id = 0;
        return nullptr;
    }
    try {
        ScanStrings& s = scanStrings();
        std::string copy(text);
        std::lock_guard<std::mutex> lock(s.mutex);
        if (!s.generator) {
            std::random_device device("default");
            s.generator = std::make_unique<std::mt19937>(device());
        }
        std::uniform_int_distribution<int> draw(kFirstId, INT_MAX);
        int candidate;
        do {
            candidate = draw(*s.generator);
            *id = candidate;
        } while (s.texts.count(candidate) != 0);
        auto it = s.texts.emplace(candidate, std::move(copy)).first;
        return it->second.c_str();
    } catch (...) {
        *id = 0;
        return nullptr;
    }
}

KIV_EXPORT int getLastScanError(int id, const char** text) {
    if (text == nullptr) return 0;
    try {
        ScanStrings& s = scanStrings();
        std::lock_guard<std::mutex> lock(s.mutex);
        auto it = s.texts.find(id);
        *text = it == s.texts.end() ? nullptr : it->second.c_str();
    } catch (...) {
        *text = nullptr;
    }
    return 0;
}

KIV_EXPORT int freeScanString(int id) {
    try {
        ScanStrings& s = scanStrings();
        std::lock_guard<std::mutex> lock(s.mutex);
        s.texts.erase(id);
    } catch (...) {
    }
    return 0;
}

// Converts at most min(dstSize, max) bytes and always leaves a NUL inside dst; the count is
// the number of bytes converted. A null dst asks for the length needed. An unconvertible
// character fails (1) with dst empty and the count (size_t)-1.
KIV_EXPORT int wcstombs_s(size_t* count, char* dst, size_t dstSize, const wchar_t* src, size_t max) {
    if (src == nullptr) {
        if (count) *count = 0;
        return 1;
    }
    std::mbstate_t state{};
    const wchar_t* p = src;
    if (dst == nullptr) {
        size_t need = std::wcsrtombs(nullptr, &p, 0, &state);
        if (count) *count = need;
        return need == static_cast<size_t>(-1) ? 1 : 0;
    }
    if (dstSize == 0) {
        if (count) *count = 0;
        return 1;
    }
    // Keep one byte for the terminator when the destination size is the binding limit.
    size_t limit = max < dstSize ? max : dstSize - 1;
    size_t done = std::wcsrtombs(dst, &p, limit, &state);
    if (done == static_cast<size_t>(-1)) {
        dst[0] = '\0';
        if (count) *count = done;
        return 1;
    }
    dst[done] = '\0';
    if (count) *count = done;
    return 0;
}

// As wcstombs_s, in wide characters: dstSize and max count wchar_t units.
KIV_EXPORT int mbstowcs_s(size_t* count, wchar_t* dst, size_t dstSize, const char* src, size_t max) {
    if (src == nullptr) {
        if (count) *count = 0;
        return 1;
    }
    std::mbstate_t state{};
    const char* p = src;
    if (dst == nullptr) {
        size_t need = std::mbsrtowcs(nullptr, &p, 0, &state);
        if (count) *count = need;
        return need == static_cast<size_t>(-1) ? 1 : 0;
    }
    if (dstSize == 0) {
        if (count) *count = 0;
        return 1;
    }
    size_t limit = max < dstSize ? max : dstSize - 1;
    size_t done = std::mbsrtowcs(dst, &p, limit, &state);
    if (done == static_cast<size_t>(-1)) {
        dst[0] = L'\0';
        if (count) *count = done;
        return 1;
    }
    dst[done] = L'\0';
    if (count) *count = done;
    return 0;
}

// The buffer is sized from the converted length: a fixed wcslen + 4 cuts texts whose
// multibyte form is longer (every non-ASCII character) and leaves them unterminated.
KIV_EXPORT char* getCharConst(const wchar_t* text) {
    if (text == nullptr) return nullptr;
    try {
        size_t need = 0;
        if (wcstombs_s(&need, nullptr, 0, text, 0) != 0 || need == 0) return nullptr;
        char* buffer = new char[need + 1];
        size_t done = 0;
        if (wcstombs_s(&done, buffer, need + 1, text, need + 1) != 0 || done == 0) {
            delete[] buffer;
            return nullptr;
        }
        return buffer;
    } catch (...) {
        return nullptr;
    }
}

KIV_EXPORT wchar_t* getWCharConst(const char* text) {
    if (text == nullptr) return nullptr;
    try {
        size_t need = 0;
        if (mbstowcs_s(&need, nullptr, 0, text, 0) != 0 || need == 0) return nullptr;
        wchar_t* buffer = new wchar_t[need + 1];
        size_t done = 0;
        if (mbstowcs_s(&done, buffer, need + 1, text, need + 1) != 0 || done == 0) {
            delete[] buffer;
            return nullptr;
        }
        return buffer;
    } catch (...) {
        return nullptr;
    }
}

KIV_EXPORT int64_t getTimeSinceEpochInMs(uint32_t year, uint32_t month, uint32_t day, uint32_t hour, uint32_t minute,
                                         uint32_t second) {
    struct tm t;
    std::memset(&t, 0, sizeof t);
    t.tm_year = static_cast<int>(static_cast<int64_t>(year) - 1900);
    t.tm_mon = static_cast<int>(static_cast<int64_t>(month) - 1);
    t.tm_mday = static_cast<int>(day);
    t.tm_hour = static_cast<int>(hour);
    t.tm_min = static_cast<int>(minute);
    t.tm_sec = static_cast<int>(second);
    return static_cast<int64_t>(timegm(&t)) * 1000;
}
