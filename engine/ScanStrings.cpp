// The registry that only the host fills (texts under random ids), and the conversion shims
// the host may call. Nothing inside the engine uses them.
#include <climits>
#include <cstring>
#include <ctime>
#include <cwchar>
#include <limits>
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

namespace {

// The two directions of the locale's multibyte conversion share one contract; these adapters
// give them one function type.
size_t narrowFromWide(char* dst, const wchar_t** src, size_t n, std::mbstate_t* state) {
    return std::wcsrtombs(dst, src, n, state);
}
size_t wideFromNarrow(wchar_t* dst, const char** src, size_t n, std::mbstate_t* state) {
    return std::mbsrtowcs(dst, src, n, state);
}

template <typename Out, typename In>
using Converter = size_t (*)(Out*, const In**, size_t, std::mbstate_t*);

// Converts at most min(dstSize, max) units and always leaves a terminator inside dst; the
// count is the number of units converted. A null dst asks for the length needed. An
// unconvertible character fails (1) with dst empty and the count (size_t)-1.
template <typename Out, typename In>
int convertBounded(Converter<Out, In> convert, size_t* count, Out* dst, size_t dstSize, const In* src, size_t max) {
    if (src == nullptr) {
        if (count) *count = 0;
        return 1;
    }
    std::mbstate_t state{};
    const In* p = src;
    if (dst == nullptr) {
        size_t need = convert(nullptr, &p, 0, &state);
        if (count) *count = need;
        return need == static_cast<size_t>(-1) ? 1 : 0;
    }
    if (dstSize == 0) {
        if (count) *count = 0;
        return 1;
    }
    // Keep one unit for the terminator when the destination size is the binding limit.
    size_t limit = max < dstSize ? max : dstSize - 1;
    size_t done = convert(dst, &p, limit, &state);
    if (done == static_cast<size_t>(-1)) {
        dst[0] = Out{};
        if (count) *count = done;
        return 1;
    }
    dst[done] = Out{};
    if (count) *count = done;
    return 0;
}

// A new[] copy of the whole text in the other encoding, sized from the converted length: a
// fixed wcslen + 4 cuts texts whose multibyte form is longer (every non-ASCII character) and
// leaves them unterminated. Null for an empty or unconvertible text.
template <typename Out, typename In>
Out* convertedCopy(Converter<Out, In> convert, const In* text) {
    if (text == nullptr) return nullptr;
    try {
        size_t need = 0;
        if (convertBounded(convert, &need, static_cast<Out*>(nullptr), 0, text, 0) != 0 || need == 0) return nullptr;
        Out* buffer = new Out[need + 1];
        size_t done = 0;
        if (convertBounded(convert, &done, buffer, need + 1, text, need + 1) != 0 || done == 0) {
            delete[] buffer;
            return nullptr;
        }
        return buffer;
    } catch (...) {
        return nullptr;
    }
}

}  // namespace

KIV_EXPORT int wcstombs_s(size_t* count, char* dst, size_t dstSize, const wchar_t* src, size_t max) {
    return convertBounded(narrowFromWide, count, dst, dstSize, src, max);
}

// As wcstombs_s, in wide characters: dstSize and max count wchar_t units.
KIV_EXPORT int mbstowcs_s(size_t* count, wchar_t* dst, size_t dstSize, const char* src, size_t max) {
    return convertBounded(wideFromNarrow, count, dst, dstSize, src, max);
}

KIV_EXPORT char* getCharConst(const wchar_t* text) { return convertedCopy(narrowFromWide, text); }

KIV_EXPORT wchar_t* getWCharConst(const char* text) { return convertedCopy(wideFromNarrow, text); }

// The moment as timegm reads the fields, in POSIX time (proleptic Gregorian, no leap seconds):
// a field beyond its range carries into the next one (month 13 is January of the next year,
// month 0 and day 0 the month and the day before, second 60 the next minute). Worked out in
// 64-bit days and seconds, which hold every input, so no field is cut to int and nothing
// overflows. Every input has a defined answer: the exact milliseconds where they fit in a
// signed 64-bit integer (every moment up to 292278994-08-17 07:12:55.807), and INT64_MAX, the
// latest moment it can name, for the later ones: the answer keeps its order, and no far date
// wraps into a past one. The earliest input (year 0, month 0, day 0) fits, so none falls short.
KIV_EXPORT int64_t getTimeSinceEpochInMs(uint32_t year, uint32_t month, uint32_t day, uint32_t hour, uint32_t minute,
                                         uint32_t second) {
    const int64_t months = int64_t{year} * 12 + int64_t{month} - 1;  // from January of year 0; -1 at least
    const int64_t y = months >= 0 ? months / 12 : -1;
    const int64_t m = months - y * 12;  // 0 for January
    // Days from 1970-01-01 to the first of that month: years counted from March, so that the
    // leap day ends a year, in 400-year eras of 146097 days.
    const int64_t fromMarch = m >= 2 ? y : y - 1;
    const int64_t era = (fromMarch >= 0 ? fromMarch : fromMarch - 399) / 400;
    const int64_t yearOfEra = fromMarch - era * 400;
    const int64_t dayOfYear = (153 * (m >= 2 ? m - 2 : m + 10) + 2) / 5;
    const int64_t dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
    const int64_t days = era * 146097 + dayOfEra - 719468 + int64_t{day} - 1;
    const int64_t seconds = days * 86400 + int64_t{hour} * 3600 + int64_t{minute} * 60 + int64_t{second};
    constexpr int64_t kLastSecond = std::numeric_limits<int64_t>::max() / 1000;
    return seconds > kLastSecond ? std::numeric_limits<int64_t>::max() : seconds * 1000;
}
