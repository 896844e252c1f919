// The built kiv_engine.so, loaded with dlopen the way a host loads it, in a temporary working
// directory laid out like run/: a stand-in matcher with canned answers (QrixDouble.c) as
// libQrixLib.so, Debian's magic database and a small definitions package.
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <rapidjson/document.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <set>
#include <sstream>
#include <thread>

#include "core/Limits.h"
#include "engine/HostApi.h"
#include "tests/engine/e2e/E2eKit.h"
#include "tests/formats/office/CfbBuilder.h"

namespace fs = std::filesystem;

namespace {

struct Api {
    void* handle = nullptr;
#define KIV_API_FN(name) decltype(&::name) name = nullptr;
    KIV_API_FN(init)
    KIV_API_FN(deinit)
    KIV_API_FN(scan)
    KIV_API_FN(freeString)
    KIV_API_FN(addString)
    KIV_API_FN(getEngineCapabilities)
    KIV_API_FN(getDefinitionInfo)
    KIV_API_FN(getFileTypeGroup)
    KIV_API_FN(getLastError)
    KIV_API_FN(getInterfaceVersion)
    KIV_API_FN(getEngineType)
    KIV_API_FN(getProductName)
#undef KIV_API_FN
};

// Loaded once per process, as a host does; each test runs init and deinit itself.
Api& api() {
    static Api a = [] {
        Api x;
        x.handle = dlopen(KIV_ENGINE_PATH, RTLD_NOW | RTLD_LOCAL);
        if (x.handle == nullptr) return x;
#define KIV_BIND(name) x.name = reinterpret_cast<decltype(x.name)>(dlsym(x.handle, #name));
        KIV_BIND(init)
        KIV_BIND(deinit)
        KIV_BIND(scan)
        KIV_BIND(freeString)
        KIV_BIND(addString)
        KIV_BIND(getEngineCapabilities)
        KIV_BIND(getDefinitionInfo)
        KIV_BIND(getFileTypeGroup)
        KIV_BIND(getLastError)
        KIV_BIND(getInterfaceVersion)
        KIV_BIND(getEngineType)
        KIV_BIND(getProductName)
#undef KIV_BIND
        return x;
    }();
    return a;
}

using namespace e2e;

void expectResultObject(const std::string& json) {
    rapidjson::Document d;
    d.Parse(json.c_str());
    ASSERT_FALSE(d.HasParseError()) << json;
    std::vector<std::string> keys;
    for (auto it = d.MemberBegin(); it != d.MemberEnd(); ++it) keys.push_back(it->name.GetString());
    EXPECT_EQ(keys, (std::vector<std::string>{"typeID", "type", "groupIDs", "groupID", "description", "extensions",
                                              "encrypted"}))
        << json;
}

// A working directory laid out like run/, entered for the test.
class Engine : public e2e::WorkDir {
protected:
    // Scans path; answers the JSON, or "" with *rc set when the scan failed.
    std::string scan(const std::string& path, int* rc = nullptr) {
        uint32_t status = 0;
        char* json = nullptr;
        int r = api().scan(path.c_str(), &status, &json);
        if (rc) *rc = r;
        EXPECT_EQ(status, 1u);
        if (r != 0) {
            EXPECT_EQ(json, nullptr);
            return "";
        }
        EXPECT_NE(json, nullptr);
        std::string text = json ? json : "";
        api().freeString(&json);
        EXPECT_EQ(json, nullptr) << "the result JSON was not registered";
        return text;
    }

    fs::path file(const std::string& name, const std::string& bytes) {
        fs::path p = dir_ / "files" / name;
        writeFile(p, bytes);
        return p;
    }

    // A few files of different kinds that reach the generic stage.
    std::vector<fs::path> mixedFiles() {
        std::string binary;
        for (int i = 0; i < 3000; ++i) binary += static_cast<char>((i * 7919) % 251);
        return {file("a.txt", "Hello, plain text.\nSecond line.\n"),
                file("b.bin", binary),
                file("empty", ""),
                file("c.sh", "#!/bin/sh\necho hi\n"),
                file("d.pdf", "%PDF-1.7\n1 0 obj\n<<>>\nendobj\ntrailer\n<<>>\n%%EOF\n"),
                file("e.html", "<!DOCTYPE html><html><head><title>t</title></head><body>x</body></html>\n"),
                file("f.png", std::string("\x89PNG\r\n\x1a\n\0\0\0\rIHDR", 16) + std::string(40, '\0'))};
    }
};

}  // namespace

namespace {

// The host entry points: the global names of the engine's version script.
std::set<std::string> hostEntryPoints() {
    std::ifstream in(std::string(KIV_SOURCE_DIR) + "/engine/exports.map");
    std::set<std::string> names;
    bool global = false;
    for (std::string line; std::getline(in, line);) {
        line.erase(0, line.find_first_not_of(" \t"));
        if (line.rfind("global:", 0) == 0) global = true;
        if (line.rfind("local:", 0) == 0) global = false;
        if (global && !line.empty() && line.back() == ';') names.insert(line.substr(0, line.size() - 1));
    }
    return names;
}

}  // namespace

TEST(EngineLibrary, ExportsOnlyTheHostEntryPoints) {
    ASSERT_NE(api().handle, nullptr) << dlerror();
    const std::set<std::string> hostNames = hostEntryPoints();
    ASSERT_EQ(hostNames.size(), 39u);
    // Each resolves by its plain name.
    for (const std::string& name : hostNames) EXPECT_NE(dlsym(api().handle, name.c_str()), nullptr) << name;
    // Nothing else is exported: no template instance, type information or unique object, any
    // of which would let another library bind to the engine and keep it from unloading.
    std::string cmd = std::string("nm -D --defined-only '") + KIV_ENGINE_PATH + "'";
    FILE* nm = popen(cmd.c_str(), "r");
    ASSERT_NE(nm, nullptr);
    char line[1024];
    std::set<std::string> exported;
    while (fgets(line, sizeof line, nm)) {
        std::istringstream in(line);
        std::string addr, kind, name;
        in >> addr >> kind >> name;
        exported.insert(name);
    }
    pclose(nm);
    EXPECT_EQ(exported, hostNames);
}

TEST_F(Engine, InitNeedsMagicDatabaseMatcherAndDefinitions) {
    // Nothing to scan with before init.
    EXPECT_EQ(scan((dir_ / "database/qrix/QrixDefs.QXD").string()), "");

    fs::remove("database/magic/magic.mgc");
    EXPECT_EQ(api().init(), 1);
    EXPECT_TRUE(fs::exists("lib.0")) << "the matcher copy is bound before libmagic loads its database";
    fs::create_symlink(KIV_MAGIC_MGC, "database/magic/magic.mgc");

    writeFile("database/qrix/QrixDefs.QXD", "");
    EXPECT_EQ(api().init(), 1);
    writeFile("database/qrix/QrixDefs.QXD", "def\n");

    fs::rename("libQrixLib.so", "elsewhere.so");
    EXPECT_EQ(api().init(), 1);
    fs::rename("elsewhere.so", "libQrixLib.so");

    // A failed init leaves the engine able to start once the pieces are there.
    ASSERT_EQ(api().init(), 0);
    for (int i = 0; i < 30; ++i) EXPECT_EQ(readAll("lib." + std::to_string(i)), readAll("libQrixLib.so")) << i;
    EXPECT_FALSE(fs::exists("lib.30"));
    EXPECT_EQ(api().init(), 0);  // a second init changes nothing
    EXPECT_NE(scan(file("x.txt", "text\n").string()), "");
}

namespace {

// Lines of this process's memory map that map the named file.
int mappingsOf(const fs::path& file) {
    const std::string target = fs::canonical(file).string();
    int n = 0;
    for (const std::string& l : lines(readAll("/proc/self/maps")))
        if (l.size() >= target.size() && l.compare(l.size() - target.size(), target.size(), target) == 0) ++n;
    return n;
}

// init with standard error sent to a file; answers init's status and what was written there.
int initCapturingStderr(std::string& written) {
    std::fflush(stderr);
    const int saved = ::dup(2);
    FILE* capture = std::tmpfile();
    ::dup2(::fileno(capture), 2);
    const int rc = api().init();
    std::fflush(stderr);
    ::dup2(saved, 2);
    ::close(saved);
    std::rewind(capture);
    written.clear();
    for (int c; (c = std::fgetc(capture)) != EOF;) written += static_cast<char>(c);
    std::fclose(capture);
    return rc;
}

}  // namespace

TEST_F(Engine, AllHandlesShareOneMappingOfTheMagicDatabase) {
    ASSERT_EQ(api().init(), 0);
    EXPECT_EQ(mappingsOf(KIV_MAGIC_MGC), 1);
    EXPECT_NE(scan(file("x.txt", "text\n").string()), "");
    api().deinit();
    EXPECT_EQ(mappingsOf(KIV_MAGIC_MGC), 0);
    ASSERT_EQ(api().init(), 0);
    EXPECT_EQ(mappingsOf(KIV_MAGIC_MGC), 1);
    api().deinit();

    // A damaged database fails init without a word: libmagic never reads it as text rules.
    fs::remove("database/magic/magic.mgc");
    writeFile("database/magic/magic.mgc", readAll(KIV_MAGIC_MGC).substr(0, 3000000));
    std::string written;
    EXPECT_EQ(initCapturingStderr(written), 1);
    EXPECT_EQ(written, "");
}

TEST_F(Engine, InformationQueries) {
    unsigned char caps = 0xFE;
    EXPECT_EQ(api().getEngineCapabilities(&caps), 0);
    EXPECT_EQ(caps, 0xFD);
    caps = 0x00;
    api().getEngineCapabilities(&caps);
    EXPECT_EQ(caps, 0x01);

    char *a = nullptr, *b = nullptr, *c = nullptr;
    uint64_t n = 99;
    ASSERT_EQ(api().getDefinitionInfo(&a, &b, &c, &n), 0);
    EXPECT_STREQ(a, "5.2.11");
    EXPECT_STREQ(b, "5.2.11");
    EXPECT_STREQ(c, "NaN");
    EXPECT_EQ(n, 0u);
    for (char** p : {&a, &b, &c}) {
        api().freeString(p);
        EXPECT_EQ(*p, nullptr);
    }
    uint32_t v = 0;
    EXPECT_EQ(api().getInterfaceVersion(&v), 0);
    EXPECT_EQ(v, 3u);
    EXPECT_EQ(api().getEngineType(&v), 0);
    EXPECT_EQ(v, 2u);
    char* name = nullptr;
    ASSERT_EQ(api().getProductName(&name), 0);
    EXPECT_STREQ(name, "FileType");
    api().freeString(&name);
    EXPECT_EQ(name, nullptr);

    const char* error = nullptr;
    ASSERT_EQ(api().getLastError(&error), 0);
    EXPECT_STREQ(error, "Unknown error");
    char* e = const_cast<char*>(error);
    api().freeString(&e);
    EXPECT_EQ(e, nullptr) << "the fallback text is registered";

    // Null out-pointers: failure, nothing written.
    EXPECT_EQ(api().getEngineCapabilities(nullptr), 1);
    EXPECT_EQ(api().getDefinitionInfo(&a, nullptr, &c, &n), 1);
    EXPECT_EQ(a, nullptr);
    EXPECT_EQ(api().getInterfaceVersion(nullptr), 1);
    EXPECT_EQ(api().getProductName(nullptr), 1);
    EXPECT_EQ(api().getLastError(nullptr), 1);
    EXPECT_EQ(api().getFileTypeGroup(nullptr), 1);

    ASSERT_EQ(api().init(), 0);
    char* groups = nullptr;
    ASSERT_EQ(api().getFileTypeGroup(&groups), 0);
    rapidjson::Document d;
    d.Parse(groups);
    EXPECT_FALSE(d.HasParseError());
    EXPECT_TRUE(d.IsObject() && d.HasMember("A") && d.HasMember("O"));
    api().freeString(&groups);
    EXPECT_EQ(groups, nullptr);
}

// Threads after init take their slots in turn and keep to them, and more scans than slots wait
// for a slot instead of entering a busy copy. The matcher double logs the copy and the thread
// of each submission, and holds slot N busy while hold-lib.N exists.
TEST_F(Engine, EachThreadKeepsToOneSlotAndNoSlotServesTwoScansAtOnce) {
    constexpr int kSlots = kiv::limits::kScanSlots, kScans = 64;
    // (copy, thread) a submission, the copy named by the slot of its private name
    // "lib.<slot>.<suffix>"; ("overlap", "overlap") for one that met another in its copy.
    auto matcherLog = [] {
        std::vector<std::pair<std::string, std::string>> out;
        for (const std::string& l : lines(readAll("qrix-double.log")))
            out.emplace_back(l.substr(0, l.find('.', 4)), l.substr(l.rfind('\t') + 1));
        return out;
    };
    fs::path f = file("data.bin", std::string("\x01\x02\x03\x04 not claimed by any detector", 33));
    // Every scan of a thread goes to one copy and no two threads share one: as many
    // (copy, thread) pairs as copies and as threads.
    for (int n : {1, 4, kSlots}) {
        ASSERT_EQ(api().init(), 0);
        fs::remove("qrix-double.log");
        std::vector<std::thread> threads;
        for (int t = 0; t < n; ++t)
            threads.emplace_back([&] {
                for (int i = 0; i < 5; ++i) EXPECT_NE(scan(f.string()), "");
            });
        for (auto& th : threads) th.join();
        const auto log = matcherLog();
        const std::set<std::pair<std::string, std::string>> pairs(log.begin(), log.end());
        std::set<std::string> copies, callers;
        for (const auto& [copy, thread] : pairs) copies.insert(copy), callers.insert(thread);
        EXPECT_EQ((std::vector<size_t>{pairs.size(), copies.size(), callers.size()}), std::vector<size_t>(3, n));
        ASSERT_EQ(api().deinit(), 0);
    }

    // Every slot held busy: thirty scans hold the thirty copies and the others wait, asleep on
    // a slot's lock, instead of entering a busy copy; let go, every scan is answered, each
    // alone in its copy.
    ASSERT_EQ(api().init(), 0);
    fs::remove("qrix-double.log");
    for (int i = 0; i < kSlots; ++i) writeFile("hold-lib." + std::to_string(i), "");
    std::vector<std::atomic<pid_t>> tids(kScans);
    std::vector<std::thread> threads;
    for (int t = 0; t < kScans; ++t)
        threads.emplace_back([&, t] {
            tids[t] = static_cast<pid_t>(::syscall(SYS_gettid));
            EXPECT_NE(scan(f.string()), "");
        });
    // Asleep on a futex inside the engine library's own data: a slot's lock, the only lock a
    // scan waits for before its answer.
    Dl_info engine{};
    ASSERT_NE(dladdr(reinterpret_cast<void*>(api().init), &engine), 0);
    auto waitsOnAnEngineLock = [&](pid_t tid) {
        std::ifstream in("/proc/self/task/" + std::to_string(tid) + "/syscall");
        long number = -1;
        std::string futex;
        Dl_info lock{};
        return tid != 0 && in >> number >> futex && number == SYS_futex &&
               dladdr(reinterpret_cast<void*>(std::stoull(futex, nullptr, 16)), &lock) != 0 &&
               lock.dli_fbase == engine.dli_fbase;
    };
    // Settled: thirty in the copies and the rest asleep; a scan let into a busy copy ends the
    // wait as well.
    auto settled = [&] {
        const auto waiting = std::count_if(tids.begin(), tids.end(), waitsOnAnEngineLock);
        const auto served = static_cast<int>(matcherLog().size());
        return served > kSlots || (served == kSlots && waiting == kScans - kSlots);
    };
    while (!settled()) ::usleep(1000);
    for (int i = 0; i < kSlots; ++i) fs::remove("hold-lib." + std::to_string(i));
    for (auto& th : threads) th.join();
    const auto log = matcherLog();
    EXPECT_EQ(log.size(), static_cast<size_t>(kScans));
    for (const auto& entry : log) EXPECT_NE(entry.first, "overlap");
}

TEST_F(Engine, GenericStageGivesWellFormedResults) {
    ASSERT_EQ(api().init(), 0);
    for (const fs::path& p : mixedFiles()) {
        std::string json = scan(p.string());
        ASSERT_NE(json, "") << p;
        expectResultObject(json);
    }
}

TEST_F(Engine, MatcherAnswersAreFoldedAndTiesGoToTheHigherRank) {
    ASSERT_EQ(api().init(), 0);
    // Bytes no detector claims and libmagic calls data, so the matcher's texts decide
    // through the rules that read nothing else (XML flat packages, feeds).
    std::string bytes;
    for (int i = 0; i < 600; ++i) bytes += static_cast<char>((i * 7919 + 13) % 251);
    fs::path f = file("noise.bin", bytes);
    auto typeWith = [&](const std::string& control) {
        writeFile("qrix-double.ctl", control);
        return jsonValue(scan(f.string()), "typeID");
    };
    // Unfolded, these texts name the flat XML forms; folded, they are a plain ZIP answer.
    EXPECT_EQ(typeWith("hit=90\tMicrosoft Word XML Document\tDOCX/XML\n"), "XML-DOCX");
    EXPECT_EQ(typeWith("hit=90\tMicrosoft Word XML Document\tDOCX\n"), "data");
    EXPECT_EQ(typeWith("hit=90\tMicrosoft Excel 2003 XML Spreadsheet\tXLSB\n"), "data");
    EXPECT_EQ(typeWith("hit=90\tMicrosoft Excel 2003 XML Spreadsheet\tXLS\n"), "XML-XLS");
    // Equal top points: the hit with the higher rank number wins; otherwise the most points.
    EXPECT_EQ(typeWith("hit=40\tAtom feed\tATOM\nhit=40\tRSS feed\tRSS\n"), "RSS");
    EXPECT_EQ(typeWith("hit=50\tAtom feed\tATOM\nhit=40\tRSS feed\tRSS\n"), "ATOM");
    // No hit at all: the rules work from libmagic's answers alone.
    EXPECT_EQ(typeWith(""), "data");
    // Every answer came through the matcher.
    EXPECT_EQ(lines(readAll("qrix-double.log")).size(), 7u);
}

TEST_F(Engine, MatcherFailuresFailTheScan) {
    ASSERT_EQ(api().init(), 0);
    fs::path plain = file("plain.txt", "text\n");
    fs::create_directories(dir_ / "files" / "a\\b");
    fs::path slashed = file("a\\b/inside.txt", "text\n");
    std::string longName(250, 'n');
    fs::path longPath = file(longName, "text\n");
    ASSERT_GT(longPath.string().size(), 259u);

    // Every path reaches the matcher, a backslash or a long path included.
    writeFile("qrix-double.ctl", "submit=0\n");
    for (const fs::path& p : {plain, slashed, longPath}) {
        int rc = 0;
        EXPECT_EQ(scan(p.string(), &rc), "") << p;
        EXPECT_EQ(rc, 1) << p;
    }
    writeFile("qrix-double.ctl", "analyze=0\n");
    int rc = 0;
    EXPECT_EQ(scan(plain.string(), &rc), "");
    EXPECT_EQ(rc, 1);
}

TEST_F(Engine, OnlyRegularFilesAreScanned) {
    ASSERT_EQ(api().init(), 0);
    fs::path fifo = dir_ / "files" / "fifo";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    int rc = 0;
    for (const std::string& p : {fifo.string(), (dir_ / "files").string(), std::string("/dev/zero"),
                                 std::string("/dev/null"), (dir_ / "no-such-file").string()}) {
        EXPECT_EQ(scan(p, &rc), "") << p;
        EXPECT_EQ(rc, 1) << p;
    }
    uint32_t status = 0;
    char* json = reinterpret_cast<char*>(0x1);
    EXPECT_EQ(api().scan(nullptr, &status, &json), 1);
    EXPECT_EQ(json, nullptr);
    EXPECT_EQ(api().scan("x", nullptr, &json), 1);
    EXPECT_EQ(api().scan("x", &status, nullptr), 1);
    // A link to a regular file is followed: the answer is the target's.
    fs::path target = file("target.txt", "text\n");
    fs::create_symlink(target, dir_ / "files" / "link");
    std::string viaLink = scan((dir_ / "files" / "link").string());
    EXPECT_EQ(jsonValue(viaLink, "typeID"), "TXT") << viaLink;
    EXPECT_EQ(viaLink, scan(target.string()));
}

TEST_F(Engine, ParallelScansGiveTheSameAnswersAsOneThread) {
    ASSERT_EQ(api().init(), 0);
    writeFile("qrix-double.ctl", "hit=12\tSomething\tSMT\nhit=3\tOther\tOTH\n");
    std::vector<fs::path> files = mixedFiles();
    std::vector<std::string> expected;
    for (const fs::path& p : files) expected.push_back(scan(p.string()));

    std::atomic<int> mismatches{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 8; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < 500; ++i) {
                size_t k = static_cast<size_t>(t + i) % files.size();
                uint32_t status = 0;
                char* json = nullptr;
                if (api().scan(files[k].c_str(), &status, &json) != 0 || json == nullptr || expected[k] != json)
                    ++mismatches;
                api().freeString(&json);
            }
        });
    }
    for (auto& th : threads) th.join();
    EXPECT_EQ(mismatches.load(), 0);
}

TEST_F(Engine, DeinitEndsScanning) {
    ASSERT_EQ(api().init(), 0);
    fs::path f = file("x.txt", "text\n");
    EXPECT_NE(scan(f.string()), "");
    EXPECT_EQ(api().deinit(), 0);
    int rc = 0;
    EXPECT_EQ(scan(f.string(), &rc), "");
    EXPECT_EQ(rc, 1);
    EXPECT_EQ(api().deinit(), 0);
    // And it can start again.
    ASSERT_EQ(api().init(), 0);
    EXPECT_NE(scan(f.string()), "");
}

TEST_F(Engine, ArchiverIsMadeExecutableWithoutFollowingLinks) {
    writeFile("7za", "#!/bin/sh\n");
    ::chmod("7za", 0644);
    ASSERT_EQ(api().init(), 0);
    EXPECT_EQ(fs::status("7za").permissions(), fs::perms(0755));
    api().deinit();

    // A 7za that links out of the working directory is left alone, and so is its target.
    fs::remove("7za");
    fs::path outside = dir_.parent_path() / ("kiv-e2e-outside-" + std::to_string(::getpid()));
    writeFile(outside, "x");
    ::chmod(outside.c_str(), 0644);
    fs::create_symlink(outside, "7za");
    ASSERT_EQ(api().init(), 0);
    EXPECT_EQ(fs::status(outside).permissions(), fs::perms(0644));
    fs::remove(outside);
}

#ifdef KIV_QRIXLIB
TEST_F(Engine, RealMatcherAndDefinitions) {
    fs::copy_file(KIV_QRIXLIB, "libQrixLib.so", fs::copy_options::overwrite_existing);
    fs::copy_file(KIV_QRIXDEFS, "database/qrix/QrixDefs.QXD", fs::copy_options::overwrite_existing);
    ASSERT_EQ(api().init(), 0);
    for (const fs::path& p : mixedFiles()) {
        std::string json = scan(p.string());
        ASSERT_NE(json, "") << p;
        expectResultObject(json);
    }
}
#endif

TEST_F(Engine, HostProgramScansAndReportsWhatIsMissing) {
    fs::create_symlink(KIV_ENGINE_PATH, "kiv_engine.so");
    fs::path a = file("a.txt", "hello\n");
    fs::path b = file("b.bin", std::string("\x00\x01\x02", 3));

    HostRun ok = runKivscan(dir_, {"-j", "2", a.string(), b.string()});
    EXPECT_EQ(ok.status, 0) << ok.err;
    // No archiver in this directory: the host says so and scans all the same.
    EXPECT_NE(ok.err.find("warning: 7za is missing"), std::string::npos) << ok.err;
    std::vector<std::string> out = lines(ok.out);
    ASSERT_EQ(out.size(), 2u);
    EXPECT_EQ(out[0].substr(0, out[0].find('\t')), a.string());
    EXPECT_EQ(out[1].substr(0, out[1].find('\t')), b.string());
    expectResultObject(out[1].substr(out[1].find('\t') + 1));
    // Unloading the engine removed the matcher copies.
    EXPECT_FALSE(fs::exists("lib.0"));
    EXPECT_FALSE(fs::exists("lib.29"));

    HostRun recurse = runKivscan(dir_, {"-r", "files"});
    EXPECT_EQ(recurse.status, 0) << recurse.err;
    EXPECT_EQ(lines(recurse.out).size(), 2u);
    HostRun dirNoR = runKivscan(dir_, {"files"});
    EXPECT_EQ(dirNoR.status, 1);

    HostRun missing = runKivscan(dir_, {a.string(), (dir_ / "nope").string()});
    EXPECT_EQ(missing.status, 1);
    EXPECT_EQ(lines(missing.out).size(), 1u);
    EXPECT_NE(missing.err.find((dir_ / "nope").string()), std::string::npos) << missing.err;

    fs::remove("database/magic/magic.mgc");
    HostRun noMagic = runKivscan(dir_, {a.string()});
    EXPECT_EQ(noMagic.status, 2);
    EXPECT_NE(noMagic.err.find("magic database"), std::string::npos) << noMagic.err;
    fs::create_symlink(KIV_MAGIC_MGC, "database/magic/magic.mgc");
    fs::remove("database/qrix/QrixDefs.QXD");
    HostRun noDefs = runKivscan(dir_, {a.string()});
    EXPECT_EQ(noDefs.status, 2);
    EXPECT_NE(noDefs.err.find("definitions package"), std::string::npos) << noDefs.err;

    fs::remove("kiv_engine.so");
    HostRun noEngine = runKivscan(dir_, {a.string()});
    EXPECT_EQ(noEngine.status, 2);
    EXPECT_NE(noEngine.err.find("kiv_engine.so"), std::string::npos) << noEngine.err;
    EXPECT_NE(noEngine.err.find(std::string(KIV_BUILD_DIR) + "/run, which ./run.sh prepares"), std::string::npos)
        << noEngine.err;
}

// Names holding a newline, a TAB or a backslash still take one line each, on stdout and on
// stderr, and the first TAB ends the path.
TEST_F(Engine, HostWritesEveryPathOnOneLine) {
    fs::create_symlink(KIV_ENGINE_PATH, "kiv_engine.so");
    // An archiver that cannot run: a link out of the directory to a file without execute
    // permission, which init leaves alone.
    fs::path outside = dir_.parent_path() / ("kiv-e2e-7za-" + std::to_string(::getpid()));
    writeFile(outside, "#!/bin/sh\n");
    ::chmod(outside.c_str(), 0644);
    fs::create_symlink(outside, "7za");
    fs::path newline = file("new\nline.txt", "hello\n");
    fs::path tab = file("tab\there.bin", std::string("\x01\x02", 2));
    fs::path back = file("back\\slash\x01.txt", "text\n");
    std::string gone = (dir_ / "gone\nfile").string();

    HostRun r = runKivscan(dir_, {newline.string(), tab.string(), back.string(), gone});
    fs::remove(outside);
    EXPECT_EQ(r.status, 1);
    std::vector<std::string> out = lines(r.out);
    ASSERT_EQ(out.size(), 3u) << r.out;
    const std::string files = (dir_ / "files").string();
    EXPECT_EQ(out[0].substr(0, out[0].find('\t')), files + "/new\\nline.txt");
    EXPECT_EQ(out[1].substr(0, out[1].find('\t')), files + "/tab\\there.bin");
    EXPECT_EQ(out[2].substr(0, out[2].find('\t')), files + "/back\\\\slash\\x01.txt");
    for (const std::string& l : out) expectResultObject(l.substr(l.find('\t') + 1));
    std::vector<std::string> err = lines(r.err);
    ASSERT_EQ(err.size(), 2u) << r.err;
    EXPECT_NE(err[0].find("warning: " + dir_.string() + "/7za is not executable"), std::string::npos) << r.err;
    EXPECT_EQ(err[1], "kivscan: " + dir_.string() + "/gone\\nfile: scan failed: No such file or directory");
}

// Engines in many processes start, scan and stop in one working directory at once: none
// removes or replaces the matcher copy another one bound, and each removes its own.
TEST_F(Engine, EnginesSharingAWorkingDirectory) {
    fs::create_symlink(KIV_ENGINE_PATH, "kiv_engine.so");
    // Reaches the generic stage, so every run calls its matcher copies.
    fs::path f = file("data.bin", std::string("\x01\x02\x03\x04 not claimed by any detector", 33));
    constexpr int kParallel = 6;
    constexpr int kRuns = 60;
    std::map<pid_t, std::string> running;
    int started = 0, failed = 0;
    while (started < kRuns || !running.empty()) {
        while (started < kRuns && static_cast<int>(running.size()) < kParallel) {
            std::string name = "host-" + std::to_string(started++);
            running[startKivscan(dir_, {"-j", "4", f.string(), f.string(), f.string(), f.string()}, name)] = name;
        }
        int st = 0;
        pid_t pid = ::waitpid(-1, &st, 0);
        ASSERT_TRUE(running.count(pid)) << pid;
        HostRun r = collectKivscan(st, dir_, running[pid]);
        if (r.status != 0 || lines(r.out).size() != 4u) {
            ++failed;
            ADD_FAILURE() << running[pid] << ": status " << r.status << "\n" << r.err;
        }
        running.erase(pid);
    }
    EXPECT_EQ(failed, 0);
    EXPECT_EQ(copiesIn(dir_), std::vector<std::string>{});
}

namespace {

std::string realFixture(const std::string& name) {
    return std::string(KIV_SOURCE_DIR) + "/tests/engine/detectors/fixtures/real/" + name;
}

}  // namespace

// One file per cascade step of the engine's own detectors, and the post-rules on the generic
// road, through the loaded library.
TEST_F(Engine, EngineDetectorsDecideTheirSteps) {
    ASSERT_NE(std::string(KIV_7ZA_BINARY), "");
    fs::copy_file(KIV_7ZA_BINARY, "7za");
    ASSERT_EQ(api().init(), 0);

    std::string pdf = "%PDF-1.4\n1 0 obj\n<< /Type /Catalog /Pages 2 0 R >>\nendobj\n2 0 obj\n"
                      "<< /Type /Pages /Kids [] /Count 0 >>\nendobj\ntrailer\n<< /Root 1 0 R >>\n%%EOF\n";
    fs::path plainPdf = file("plain.pdf", pdf);
    fs::path lockedPdf = dir_ / "files" / "locked.pdf";
    // qpdf answers 3 when it wrote the file after repairing it (this one has no xref table).
    const int qpdf = runTool({"qpdf", "--encrypt", "user", "owner", "256", "--", plainPdf.string(), lockedPdf.string()});
    ASSERT_TRUE(qpdf == 0 || qpdf == 3) << qpdf;

    std::string pac(100, '\0');
    pac[0] = 0x01;
    pac[23] = 0x60;
    pac += std::string("\xFF", 1) + std::string(11, '\0') + std::string("\x11\x00", 2) + "dummy end of file";
    std::string tnef("\x78\x9F\x3E\x22\x01\x00\x01\x06\x90\x08\x00\x04\x00\x00\x00\x00\x00\x01\x00", 19);
    tnef += std::string(45, '\0');
    std::string atr("\x96\x02\x02\x00", 4);
    atr += std::string(44, '\0');

    struct Case {
        std::string path;
        const char* typeId;
        const char* encrypted;
    };
    const Case cases[] = {
        {realFixture("writer.odt"), "ODT", "false"},
        {realFixture("writer-password.odt"), "ODT-ENCRYPTED", "true"},
        {realFixture("calc.xlsx"), "XLSX", "false"},
        {realFixture("impress.pptx"), "PPTX", "false"},
        {plainPdf.string(), "PDF", "false"},
        {lockedPdf.string(), "PDF-ENCRYPTED", "true"},
        {file("art.ai", "%PDF-1.5\n<< /AIMetaData 3 0 R >>\n").string(), "AI", "false"},
        {std::string(KIV_SOURCE_DIR) + "/samples/image.png", "PNG", "false"},
        {file("titles.pac", pac).string(), "PAC", "false"},
        {file("note.rtf", "{\\rtf1\\ansi hello}\n").string(), "RTF", "false"},
        {file("winmail.dat", tnef).string(), "TNEF", "false"},
        // Generic road: libmagic's PDF that the cascade refused, and an Atari disk image.
        {file("bad-version.pdf", "%PDF-a.b\n1 0 obj\n<<>>\nendobj\n%%EOF\n").string(), "data", "false"},
        {file("disk.atr", atr).string(), "ATR", "false"},
    };
    for (const Case& c : cases) {
        std::string json = scan(c.path);
        ASSERT_NE(json, "") << c.path;
        expectResultObject(json);
        EXPECT_EQ(jsonValue(json, "typeID"), c.typeId) << c.path << "\n" << json;
        EXPECT_EQ(jsonValue(json, "encrypted"), c.encrypted) << c.path;
    }
}

// A real package whose "_rels/.rels" differs in white space and quotes alone answers as the
// original: XML allows any white space after the element name, between attributes and around
// '='. The last row is bzip2-compressed, which the engine leaves to 7za.
TEST_F(Engine, RelationshipsWithAnyWhiteSpace) {
    fs::copy_file(KIV_7ZA_BINARY, "7za");
    ASSERT_EQ(api().init(), 0);
    const fs::path pkg = dir_ / "files" / "pkg";
    ASSERT_EQ(runTool({KIV_7ZA_BINARY, "x", "-bd", "-bso0", "-o" + pkg.string(), "--", realFixture("calc.xlsx")}), 0);
    const std::string rels = readAll(pkg / "_rels" / ".rels");
    ASSERT_NE(rels.find("<Relationship Id=\"rId1\" Type=\""), std::string::npos) << rels;
    const std::string spaces[] = {"\n", "\t", "  ", "\r\n    "};
    for (size_t k = 0; k < std::size(spaces); ++k) {
        // Odd rows also quote with apostrophes and space around '='.
        const std::string s = spaces[k], q = k % 2 ? "'" : "\"";
        const std::pair<std::string, std::string> edits[] = {
            {"\"", q}, {q + " ", q + s}, {"<Relationship ", "<Relationship" + s}, {"><", ">" + s + "<"},
            {"=", k % 2 ? s + "=" + s : "="}};
        std::string text = rels;
        for (const auto& [from, to] : edits)
            for (size_t at = 0; (at = text.find(from, at)) != std::string::npos; at += to.size())
                text.replace(at, from.size(), to);
        writeFile(pkg / "_rels" / ".rels", text);
        const std::string name = "ws" + std::to_string(k) + ".xlsx", method = k == 3 ? "-Z bzip2 " : "";
        ASSERT_EQ(runTool({"sh", "-c", "cd files/pkg && zip -q -X " + method + "-r ../" + name + " ."}), 0);
        EXPECT_EQ(jsonValue(scan((dir_ / "files" / name).string()), "typeID"), "XLSX") << text;
    }
}

// Compound files whose looked-up stream names are rewritten in swapped case answer as the names as
// written do, as the format compares names without regard to case; an answer the names as written
// give is kept (the last row).
TEST_F(Engine, CompoundFileNamesInAnyCase) {
    ASSERT_EQ(api().init(), 0);
    const std::string files = std::string(KIV_SOURCE_DIR) + "/tests/conformance/files/";
    auto cfb = [](std::vector<const char*> names, const std::string& data = std::string(96, '\0')) {
        cfbtest::Plan plan;
        for (const char* name : names) plan.entries.push_back(cfbtest::stream(name, {data.begin(), data.end()}));
        const std::vector<uint8_t> bytes = cfbtest::makeCfb(plan).bytes;
        return std::string(bytes.begin(), bytes.end());
    };
    const std::string compObj = std::string(28, '\0') + std::string("\x16\0\0\0", 4) + "Microsoft Project 4.0" + '\0';
    struct Case {
        std::string source, name;
        const char *typeId, *asWritten = nullptr;  // asWritten: when the names as written answer otherwise
    };
    const Case cases[] = {
        {readAll(files + "calc.xls"), "Workbook", "XLS"},
        {readAll(files + "calc-password.xls"), "Workbook", "XLS-ENCRYPTED"},
        {readAll(files + "writer-password.doc"), "WordDocument", "DOC-ENCRYPTED"},
        {readAll(files + "impress.ppt"), "PowerPoint Document", "PPT"},
        {readAll(files + "calc-password.xlsx"), "EncryptedPackage", "MSO-ENCRYPTED"},
        {cfb({"VisioDocument"}), "VisioDocument", "VSD"},
        {cfb({"\005HwpSummaryInformation"}), "\005HwpSummaryInformation", "HWP"},
        {cfb({"ProjInfoEx"}), "ProjInfoEx", "SUO"},
        {cfb({"\001CompObj"}, compObj), "\001CompObj", "MPP"},
        {cfb({"WordDocument", "Workbook"}), "WordDocument", "XLS", "DOC"},
    };
    for (size_t i = 0; i < std::size(cases); ++i) {
        const Case& c = cases[i];
        std::string from, to, bytes = c.source;
        for (char ch : c.name + '\0') from += {ch, '\0'};
        for (char ch : from) to += static_cast<char>(std::isalpha(static_cast<unsigned char>(ch)) ? ch ^ 0x20 : ch);
        const size_t at = bytes.find(from);  // in the one directory entry that holds it
        ASSERT_TRUE(at != std::string::npos && bytes.find(from, at + 1) == std::string::npos) << c.name;
        bytes.replace(at, to.size(), to);
        auto typeOf = [&](const char* stem, const std::string& data) {
            return jsonValue(scan(file(stem + std::to_string(i), data).string()), "typeID");
        };
        EXPECT_EQ(typeOf("written", c.source), c.asWritten ? c.asWritten : c.typeId) << c.name;
        EXPECT_EQ(typeOf("renamed", bytes), c.typeId) << c.name;
    }
}

// A host that loads, starts, scans, stops and closes the engine gets its address space and
// its working directory back: the engine and every matcher copy are unmapped, the copies gone.
TEST_F(Engine, UnloadLeavesNothingBehind) {
    // A file of its own, so that this is a new instance and not the one api() holds.
    fs::copy_file(KIV_ENGINE_PATH, "kiv_engine.so");
    fs::copy_file(KIV_7ZA_BINARY, "7za");
    auto mappedHere = [&] {
        std::ifstream maps("/proc/self/maps");
        std::set<std::string> found;
        for (std::string l; std::getline(maps, l);) {
            size_t at = l.find(dir_.string() + "/");
            if (at != std::string::npos) found.insert(l.substr(at));
        }
        return found;
    };
    void* h = dlopen((dir_ / "kiv_engine.so").c_str(), RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(h, nullptr) << dlerror();
    auto init = reinterpret_cast<decltype(&::init)>(dlsym(h, "init"));
    auto deinit = reinterpret_cast<decltype(&::deinit)>(dlsym(h, "deinit"));
    auto scan = reinterpret_cast<decltype(&::scan)>(dlsym(h, "scan"));
    auto freeString = reinterpret_cast<decltype(&::freeString)>(dlsym(h, "freeString"));
    ASSERT_TRUE(init && deinit && scan && freeString);
    ASSERT_EQ(init(), 0);
    EXPECT_EQ(copiesIn(dir_).size(), 30u);
    // Scans on this thread and on one that ends before the unload; the office package makes
    // the scan ask the archiver through its per-scan member cache.
    std::vector<fs::path> files = mixedFiles();
    files.push_back(realFixture("calc.xlsx"));
    auto scanAll = [&] {
        for (const fs::path& p : files) {
            uint32_t status = 0;
            char* json = nullptr;
            EXPECT_EQ(scan(p.c_str(), &status, &json), 0) << p;
            freeString(&json);
        }
    };
    scanAll();
    std::thread(scanAll).join();
    EXPECT_EQ(deinit(), 0);
    EXPECT_EQ(dlclose(h), 0);
    EXPECT_EQ(mappedHere(), std::set<std::string>{});
    EXPECT_EQ(copiesIn(dir_), std::vector<std::string>{});
}

#ifdef KIV_QRIXLIB
// Common real forms of formats the rules name, as lame and iconv write them or as people
// write the scripts, through the engine with the project's matcher and definitions.
TEST_F(Engine, CommonFormsReachTheirTypesThroughTheDefinitions) {
    fs::copy_file(KIV_QRIXLIB, "libQrixLib.so", fs::copy_options::overwrite_existing);
    fs::copy_file(KIV_QRIXDEFS, "database/qrix/QrixDefs.QXD", fs::copy_options::overwrite_existing);
    ASSERT_EQ(api().init(), 0);
    const fs::path files = dir_ / "files";
    auto at = [&](const char* name) { return (files / name).string(); };
    // MPEG-2.5 layer III without a tag: 8 kHz (FF E3) and 12 kHz with CRC (FF E2).
    ASSERT_EQ(runTool({"sox", "-n", "-r", "44100", "-c", "1", "-b", "16", at("t.wav"), "synth", "0.5", "sine", "440"}),
              0);
    ASSERT_EQ(runTool({"lame", "--quiet", "--resample", "8", "-b", "16", at("t.wav"), at("8k.mp3")}), 0);
    ASSERT_EQ(runTool({"lame", "--quiet", "-p", "--resample", "12", "-b", "16", at("t.wav"), at("12k.mp3")}), 0);
    // UTF-16 in both byte orders; iconv writes a byte-order mark when the text opens with U+FEFF.
    const std::string xml =
        "<?xml version=\"1.0\" encoding=\"UTF-16\"?>\n<inventory>\n  <item id=\"1\"/>\n</inventory>\n";
    const std::string svg =
        "<?xml version=\"1.0\" encoding=\"UTF-16\"?>\n<svg xmlns=\"http://www.w3.org/2000/svg\" "
        "width=\"10\" height=\"10\">\n  <rect width=\"5\" height=\"5\"/>\n</svg>\n";
    std::vector<std::pair<std::string, const char*>> cases = {{at("8k.mp3"), "MP3"}, {at("12k.mp3"), "MP3"}};
    for (const auto& [text, type, ext] : {std::make_tuple(xml, "XML", "xml"), std::make_tuple(svg, "SVG", "svg")}) {
        writeFile(files / "plain", text);
        writeFile(files / "marked", "\xEF\xBB\xBF" + text);
        for (const char* order : {"UTF-16LE", "UTF-16BE"}) {
            for (const char* source : {"plain", "marked"}) {
                const std::string out = at(source) + "-" + order + "." + ext;
                ASSERT_EQ(runTool({"iconv", "-f", "UTF-8", "-t", order, "-o", out, at(source)}), 0);
                cases.emplace_back(out, type);
            }
        }
    }
    const std::pair<const char*, std::string> scripts[] = {
        {"PS1", "# Backup.ps1: copies the logs.\n[CmdletBinding()]\nparam (\n    [string]$Source = 'C:\\Logs'\n)\n"},
        {"PS1", "<#\n    Says hello.\n#>\nParam(\n    [string]$Name\n)\nWrite-Output \"Hello, $Name\"\n"},
        {"PS1", "param (\n    [string]$Name = 'World'\n)\nWrite-Host \"Hello, $Name\"\n"},
        {"VBS", "Set fso = CreateObject(\"Scripting.FileSystemObject\")\r\nfso.DeleteFile \"C:\\old.log\"\r\n"},
        {"PHP", "#!/usr/bin/env php\n<?php\necho \"Hello\\n\";\n"},
    };
    int n = 0;
    for (const auto& [type, text] : scripts) cases.emplace_back(file("script" + std::to_string(n++), text), type);
    for (const auto& [path, type] : cases) {
        const std::string json = scan(path);
        EXPECT_EQ(jsonValue(json, "typeID"), type) << path << "\n" << json;
    }
}
#endif
