// Shared fixture for the matcher tests: every test loads its own copy of libQrixLib from a
// private temporary directory, the way the engine gives each scan slot a copy, so no state
// leaks from one test into the next.
#pragma once

#include <dlfcn.h>
#include <ftw.h>
#include <gtest/gtest.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <memory>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "qrixlib/PackWriter.h"
#include "qrixlib/QrixLib.h"

extern "C" char** environ;

namespace qrixtest {

namespace pack = qrix::pack;

inline std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

inline void writeFile(const std::string& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!out.flush()) throw std::runtime_error("cannot write " + path);
}

class TempDir {
public:
    TempDir() {
        std::string tmpl = std::string(::testing::TempDir()) + "qrixXXXXXX";
        if (mkdtemp(tmpl.data()) == nullptr) throw std::runtime_error("mkdtemp");
        path_ = tmpl;
    }
    ~TempDir() {
        nftw(
            path_.c_str(), [](const char* p, const struct stat*, int, struct FTW*) { return ::remove(p); }, 16,
            FTW_DEPTH | FTW_PHYS);
    }
    const std::string& path() const { return path_; }
    std::string file(const std::string& name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

// One loaded copy of the library with its ten exports.
class QrixLibrary {
public:
    QrixLibrary(const std::string& copyPath, int flags = RTLD_NOW) : path_(copyPath) {
        writeFile(copyPath, readFile(QRIX_LIBRARY_PATH));
        handle_ = dlopen(copyPath.c_str(), flags);
        if (handle_ == nullptr) throw std::runtime_error(std::string("dlopen: ") + dlerror());
        bind(loadDefsPack, "Qrix_LoadDefsPack");
        bind(setDefsPack, "Qrix_SetDefsPack");
        bind(submitFile, "Qrix_SubmitFile");
        bind(submitFileA, "Qrix_SubmitFileA");
        bind(analyze, "Qrix_Analyze");
        bind(getInfo, "Qrix_GetInfo");
        bind(peek, "PB_PEEK");
        bind(max, "PB_MAX");
        bind(min, "PB_MIN");
        bind(shellSort, "SHELLSORT");
    }
    ~QrixLibrary() {
        if (handle_ != nullptr) dlclose(handle_);
        ::unlink(path_.c_str());
    }
    QrixLibrary(const QrixLibrary&) = delete;
    QrixLibrary& operator=(const QrixLibrary&) = delete;

    decltype(&Qrix_LoadDefsPack) loadDefsPack = nullptr;
    decltype(&Qrix_SetDefsPack) setDefsPack = nullptr;
    decltype(&Qrix_SubmitFile) submitFile = nullptr;
    decltype(&Qrix_SubmitFileA) submitFileA = nullptr;
    decltype(&Qrix_Analyze) analyze = nullptr;
    decltype(&Qrix_GetInfo) getInfo = nullptr;
    decltype(&PB_PEEK) peek = nullptr;
    decltype(&PB_MAX) max = nullptr;
    decltype(&PB_MIN) min = nullptr;
    decltype(&SHELLSORT) shellSort = nullptr;

    int setPack(const std::string& bytes) { return setDefsPack(bytes.data()); }

    // Text answer of one query (modes 2, 3, 102-107, 109).
    std::string text(int mode, int index, int* result = nullptr) {
        std::vector<char> out(4096, 'x');
        const int r = getInfo(mode, index, out.data());
        if (result != nullptr) *result = r;
        return std::string(out.data());
    }

    struct Hit {
        std::string type, ext;
        int points = 0;
        int definition = 0;
    };
    // The ranked hits, rank 1 first.
    std::vector<Hit> hits() {
        std::vector<Hit> out;
        const int r = getInfo(1, 0, nullptr);
        for (int k = 1; k <= r; ++k)
            out.push_back({text(2, k), text(3, k), getInfo(4, k, nullptr), getInfo(100, k, nullptr)});
        return out;
    }
    // The hit the engine takes: it walks the ranks from last to first and replaces its
    // candidate only on strictly more points, so among tied top scores the highest rank
    // index wins.
    Hit engineChoice() {
        Hit best;
        const int r = getInfo(1, 0, nullptr);
        for (int k = r; k >= 1; --k) {
            Hit h{text(2, k), text(3, k), getInfo(4, k, nullptr), getInfo(100, k, nullptr)};
            if (h.points > best.points || (best.type.empty() && best.ext.empty())) best = h;
        }
        return best;
    }

private:
    template <typename F>
    void bind(F& fn, const char* name) {
        fn = reinterpret_cast<F>(dlsym(handle_, name));
        if (fn == nullptr) throw std::runtime_error(std::string("missing export ") + name);
    }
    std::string path_;
    void* handle_ = nullptr;
};

// A fresh library copy per test, plus a private directory for the files it scans.
class QrixTest : public ::testing::Test {
protected:
    void SetUp() override { lib = std::make_unique<QrixLibrary>(dir.file("lib.0")); }
    void TearDown() override { lib.reset(); }

    // Writes content to a file in the test directory and submits it.
    int submit(const std::string& content, const std::string& name = "sample.bin") {
        const std::string path = dir.file(name);
        writeFile(path, content);
        return lib->submitFileA(path.c_str());
    }
    // Submits and analyses content against the loaded package; answers the ranked hits.
    std::vector<QrixLibrary::Hit> scan(const std::string& content) {
        EXPECT_EQ(submit(content), 1);
        EXPECT_EQ(lib->analyze(), 1);
        return lib->hits();
    }

    TempDir dir;
    std::unique_ptr<QrixLibrary> lib;
};

// Runs a program directly (no shell) and answers its standard output.
inline std::string runProgram(const std::vector<std::string>& argv, int& status) {
    int fds[2];
    if (::pipe(fds) != 0) return {};
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, fds[1], 1);
    posix_spawn_file_actions_addclose(&actions, fds[0]);
    std::vector<char*> args;
    for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    pid_t pid = 0;
    const int rc = posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(fds[1]);
    std::string out;
    char buf[4096];
    ssize_t n;
    while ((n = ::read(fds[0], buf, sizeof buf)) > 0) out.append(buf, static_cast<size_t>(n));
    ::close(fds[0]);
    status = -1;
    if (rc == 0) ::waitpid(pid, &status, 0);
    return out;
}

// A definition from patterns and strings, named by its TYPE text.
inline pack::Definition def(const std::string& type, std::vector<pack::Pattern> patterns,
                            std::vector<std::string> strings = {}, const std::string& ext = "BIN") {
    pack::Definition d;
    d.patterns = std::move(patterns);
    d.strings = std::move(strings);
    d.info = {{"TYPE", type}, {"EXT ", ext}};
    return d;
}

}  // namespace qrixtest
