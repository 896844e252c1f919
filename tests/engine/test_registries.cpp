// The two string registries and the conversion shims.
#include <gtest/gtest.h>

#include <atomic>
#include <clocale>
#include <cstring>
#include <ctime>
#include <cwchar>
#include <limits>
#include <mutex>
#include <set>
#include <thread>

#include "engine/HostApi.h"
#include "engine/Result.h"

namespace {

// The shims convert in the process's character-type locale; these tests need UTF-8.
struct Utf8Locale {
    std::string saved;
    Utf8Locale() {
        saved = std::setlocale(LC_CTYPE, nullptr);
        std::setlocale(LC_CTYPE, "C.UTF-8");
    }
    ~Utf8Locale() { std::setlocale(LC_CTYPE, saved.c_str()); }
};

}  // namespace

TEST(ResultStrings, RegisteredCopiesAreFreedByAddressOnly) {
    size_t before = kiv::registeredStringCount();
    EXPECT_EQ(addString(nullptr), nullptr);
    const char* a = addString("same");
    const char* b = addString("same");
    ASSERT_NE(a, nullptr);
    ASSERT_NE(b, nullptr);
    EXPECT_NE(a, b);
    EXPECT_EQ(kiv::registeredStringCount(), before + 2);

    // A host's own copy, or an address inside a registered text, is not ours.
    char hostCopy[] = "same";
    char* foreign = hostCopy;
    EXPECT_EQ(freeString(&foreign), 0);
    EXPECT_EQ(foreign, hostCopy);
    char* inside = const_cast<char*>(a) + 1;
    EXPECT_EQ(freeString(&inside), 0);
    EXPECT_EQ(inside, a + 1);

    char* pa = const_cast<char*>(a);
    EXPECT_EQ(freeString(&pa), 0);
    EXPECT_EQ(pa, nullptr);
    EXPECT_STREQ(b, "same");  // the second copy is untouched
    char* again = const_cast<char*>(a);
    EXPECT_EQ(freeString(&again), 0);  // freeing twice finds nothing
    EXPECT_EQ(again, a);
    char* pb = const_cast<char*>(b);
    freeString(&pb);
    char* none = nullptr;
    EXPECT_EQ(freeString(&none), 0);
    EXPECT_EQ(freeString(nullptr), 0);
    EXPECT_EQ(kiv::registeredStringCount(), before);
}

TEST(ResultStrings, ManyThreadsRegisterAndFree) {
    size_t before = kiv::registeredStringCount();
    std::vector<std::thread> threads;
    std::atomic<int> bad{0};
    for (int t = 0; t < 8; ++t) {
        threads.emplace_back([t, &bad] {
            for (int i = 0; i < 2000; ++i) {
                std::string text = std::to_string(t) + ":" + std::to_string(i);
                char* p = const_cast<char*>(addString(text.c_str()));
                if (p == nullptr || text != p) ++bad;
                freeString(&p);
                if (p != nullptr) ++bad;
            }
        });
    }
    for (auto& th : threads) th.join();
    EXPECT_EQ(bad.load(), 0);
    EXPECT_EQ(kiv::registeredStringCount(), before);
}

TEST(ScanStrings, IdsAreUniqueAndAtLeastTwo) {
    std::set<int> ids;
    std::vector<std::pair<int, const char*>> added;
    for (int i = 0; i < 1000; ++i) {
        int id = -1;
        std::string text = "t" + std::to_string(i);
        const char* p = addScanString(text.c_str(), &id);
        ASSERT_NE(p, nullptr);
        EXPECT_STREQ(p, text.c_str());
        EXPECT_GE(id, 2);
        EXPECT_TRUE(ids.insert(id).second) << "id handed out twice: " << id;
        added.emplace_back(id, p);
    }
    for (auto& [id, p] : added) {
        const char* got = nullptr;
        EXPECT_EQ(getLastScanError(id, &got), 0);
        EXPECT_EQ(got, p);  // lent, not copied
        EXPECT_EQ(freeScanString(id), 0);
        EXPECT_EQ(getLastScanError(id, &got), 0);
        EXPECT_EQ(got, nullptr);
    }
    int id = -1;
    EXPECT_EQ(addScanString(nullptr, &id), nullptr);
    EXPECT_EQ(id, 0);
    EXPECT_EQ(addScanString("x", nullptr), nullptr);  // nobody could free it
    EXPECT_EQ(getLastScanError(12345, nullptr), 0);
    EXPECT_EQ(freeScanString(12345), 0);
}

TEST(ScanStrings, ThreadsNeverShareALiveId) {
    std::vector<std::thread> threads;
    std::mutex m;
    std::set<int> live;
    std::atomic<int> clashes{0};
    for (int t = 0; t < 8; ++t) {
        threads.emplace_back([&] {
            for (int i = 0; i < 500; ++i) {
                int id = 0;
                addScanString("x", &id);
                {
                    std::lock_guard<std::mutex> lock(m);
                    if (!live.insert(id).second) ++clashes;
                }
                if (i % 2 == 0) {
                    std::lock_guard<std::mutex> lock(m);
                    live.erase(id);
                    freeScanString(id);
                }
            }
        });
    }
    for (auto& th : threads) th.join();
    EXPECT_EQ(clashes.load(), 0);
    for (int id : live) freeScanString(id);
}

TEST(ConversionShims, RoundTripsWholeTexts) {
    Utf8Locale utf8;
    // ASCII, a 2-byte, a 3-byte (CJK) and a 4-byte (emoji) character, and a text whose
    // multibyte form is much longer than its wide length.
    for (const char* text : {"plain", "\xc3\xa9", "\xe6\xbc\xa2\xe5\xad\x97", "\xf0\x9f\x98\x80",
                             "\xc3\xa9\xc3\xa9\xc3\xa9\xc3\xa9\xc3\xa9"}) {
        wchar_t* wide = getWCharConst(text);
        ASSERT_NE(wide, nullptr) << text;
        char* back = getCharConst(wide);
        ASSERT_NE(back, nullptr) << text;
        EXPECT_STREQ(back, text);
        delete[] back;
        delete[] wide;
    }
    EXPECT_EQ(getWCharConst("\xff"), nullptr);  // invalid UTF-8
    EXPECT_EQ(getWCharConst(""), nullptr);
    EXPECT_EQ(getCharConst(nullptr), nullptr);
    const wchar_t lone[] = {0xD800, 0};
    EXPECT_EQ(getCharConst(lone), nullptr);
}

TEST(ConversionShims, DestinationSizeIsRespected) {
    Utf8Locale utf8;
    char buf[8];
    std::memset(buf, '#', sizeof buf);
    size_t count = 0;
    // Room for 4 bytes; the maximum asks for more. Byte 4 gets the terminator, byte 5 stays.
    EXPECT_EQ(wcstombs_s(&count, buf, 5, L"abcdefgh", 100), 0);
    EXPECT_EQ(count, 4u);
    EXPECT_STREQ(buf, "abcd");
    EXPECT_EQ(buf[5], '#');
    // A character that does not fit whole is left out, never cut.
    std::memset(buf, '#', sizeof buf);
    EXPECT_EQ(wcstombs_s(&count, buf, 3, L"a\u00e9", 100), 0);
    EXPECT_EQ(count, 1u);
    EXPECT_STREQ(buf, "a");
    // The maximum binds when it is the smaller limit.
    EXPECT_EQ(wcstombs_s(&count, buf, sizeof buf, L"abcdefgh", 2), 0);
    EXPECT_STREQ(buf, "ab");
    EXPECT_EQ(wcstombs_s(&count, nullptr, 0, L"\u00e9\u00e9", 0), 0);
    EXPECT_EQ(count, 4u);
    EXPECT_EQ(wcstombs_s(nullptr, buf, sizeof buf, L"ok", 8), 0);  // null count: not written
    const wchar_t lone[] = {L'a', 0xD800, 0};
    EXPECT_NE(wcstombs_s(&count, buf, sizeof buf, lone, 8), 0);
    EXPECT_STREQ(buf, "");
    EXPECT_NE(wcstombs_s(&count, buf, 0, L"a", 8), 0);

    wchar_t wbuf[6];
    for (wchar_t& w : wbuf) w = L'#';
    EXPECT_EQ(mbstowcs_s(&count, wbuf, 4, "abcdef", 100), 0);
    EXPECT_EQ(count, 3u);
    EXPECT_EQ(std::wcscmp(wbuf, L"abc"), 0);
    EXPECT_EQ(wbuf[4], L'#');
    EXPECT_NE(mbstowcs_s(&count, wbuf, 6, "a\xff", 6), 0);
    EXPECT_EQ(wbuf[0], L'\0');
}

TEST(ConversionShims, TimeSinceEpoch) {
    EXPECT_EQ(getTimeSinceEpochInMs(1970, 1, 1, 0, 0, 0), 0);
    EXPECT_EQ(getTimeSinceEpochInMs(2000, 1, 1, 0, 0, 0), 946684800000LL);
    EXPECT_EQ(getTimeSinceEpochInMs(2000, 2, 29, 0, 0, 0), 951782400000LL);
    EXPECT_EQ(getTimeSinceEpochInMs(2038, 1, 19, 3, 14, 8), 2147483648000LL);  // past 32 bits

    // timegm's moment wherever timegm can take the fields, out-of-range ones carried as it
    // carries them: around leap days, century rules, year 0 and far years.
    int mismatches = 0;
    for (uint32_t year : {0u, 1u, 399u, 400u, 1600u, 1900u, 1969u, 1970u, 2000u, 2100u, 9999u, 200000000u})
        for (uint32_t month = 0; month <= 13; ++month)
            for (uint32_t day : {0u, 1u, 28u, 29u, 30u, 31u, 32u, 400u})
                for (uint32_t hour : {0u, 23u, 24u, 1000u})
                    for (uint32_t second : {0u, 59u, 60u, 100000u}) {
                        struct tm t {};
                        t.tm_year = static_cast<int>(year) - 1900;
                        t.tm_mon = static_cast<int>(month) - 1;
                        t.tm_mday = static_cast<int>(day);
                        t.tm_hour = static_cast<int>(hour);
                        t.tm_min = 59;
                        t.tm_sec = static_cast<int>(second);
                        const int64_t expected = static_cast<int64_t>(timegm(&t)) * 1000;
                        if (getTimeSinceEpochInMs(year, month, day, hour, 59, second) != expected && ++mismatches < 5)
                            ADD_FAILURE() << year << "-" << month << "-" << day << " " << hour << ":59:" << second;
                    }
    EXPECT_EQ(mismatches, 0);

    // Past the last millisecond a signed 64-bit integer holds, the latest it can name.
    constexpr int64_t kMax = std::numeric_limits<int64_t>::max();
    EXPECT_EQ(getTimeSinceEpochInMs(292278994, 8, 17, 7, 12, 55), kMax / 1000 * 1000);
    EXPECT_EQ(getTimeSinceEpochInMs(292278994, 8, 17, 7, 12, 56), kMax);
    EXPECT_EQ(getTimeSinceEpochInMs(UINT32_MAX, 1, 1, 0, 0, 0), kMax);
    EXPECT_EQ(getTimeSinceEpochInMs(UINT32_MAX, UINT32_MAX, UINT32_MAX, UINT32_MAX, UINT32_MAX, UINT32_MAX), kMax);
    // Fields too large for timegm's int still carry exactly.
    EXPECT_EQ(getTimeSinceEpochInMs(1970, 1, UINT32_MAX, UINT32_MAX, 0, UINT32_MAX),
              ((int64_t{UINT32_MAX} - 1) * 86400 + int64_t{UINT32_MAX} * 3601) * 1000);
}
