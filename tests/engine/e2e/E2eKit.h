// Shared by the end-to-end tests: a temporary working directory laid out like run/, with the
// stand-in matcher (QrixDouble.c) as libQrixLib.so, Debian's magic database and a small
// definitions package.
#pragma once

#include <dlfcn.h>
#include <rapidjson/document.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "engine/HostApi.h"

namespace e2e {

namespace fs = std::filesystem;

inline void writeFile(const fs::path& p, const std::string& bytes) { std::ofstream(p, std::ios::binary) << bytes; }

// The built engine, loaded once per process as a host loads it, with the entries most tests
// call; each test runs init and deinit itself.
struct EngineApi {
    void* handle = dlopen(KIV_ENGINE_PATH, RTLD_NOW | RTLD_LOCAL);
    template <class F>
    F bind(const char* name) {
        return handle ? reinterpret_cast<F>(dlsym(handle, name)) : nullptr;
    }
    decltype(&::init) init = bind<decltype(&::init)>("init");
    decltype(&::deinit) deinit = bind<decltype(&::deinit)>("deinit");
    decltype(&::scan) scan = bind<decltype(&::scan)>("scan");
    decltype(&::kivFileType) kivFileType = bind<decltype(&::kivFileType)>("kivFileType");
    decltype(&::freeString) freeString = bind<decltype(&::freeString)>("freeString");
};

inline EngineApi& engine() {
    static EngineApi a;
    return a;
}

// The JSON answer of one scan of p, or "" when the scan fails.
inline std::string scanJson(const fs::path& p) {
    uint32_t status = 0;
    char* json = nullptr;
    if (engine().scan(p.c_str(), &status, &json) != 0) return "";
    std::string text = json ? json : "";
    engine().freeString(&json);
    return text;
}

inline std::string readAll(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// Runs a program (no shell) and answers its exit status.
inline int runTool(const std::vector<std::string>& args) {
    pid_t pid = fork();
    if (pid == 0) {
        std::vector<char*> argv;
        for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        execvp(argv[0], argv.data());
        _exit(127);
    }
    int st = 0;
    waitpid(pid, &st, 0);
    return WIFEXITED(st) ? WEXITSTATUS(st) : -1;
}

inline std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> out;
    std::istringstream in(text);
    for (std::string l; std::getline(in, l);) out.push_back(l);
    return out;
}

// The entries of dir whose names start with "lib.": matcher copies, published or private.
inline std::vector<std::string> copiesIn(const fs::path& dir) {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(dir)) {
        std::string n = e.path().filename().string();
        if (n.rfind("lib.", 0) == 0) names.push_back(n);
    }
    return names;
}

inline std::string jsonValue(const std::string& json, const char* key) {
    rapidjson::Document d;
    d.Parse(json.c_str());
    if (d.HasParseError() || !d.HasMember(key)) return "<none>";
    const auto& v = d[key];
    return v.IsString() ? v.GetString() : (v.IsBool() ? (v.GetBool() ? "true" : "false") : "?");
}

#ifdef KIV_KIVSCAN
struct HostRun {
    int status = -1;
    std::string out, err;
};

// Starts kivscan in dir with args; stdout and stderr go to files "<name>.out" and "<name>.err"
// in dir.
inline pid_t startKivscan(const fs::path& dir, const std::vector<std::string>& args, const std::string& name) {
    pid_t pid = fork();
    if (pid == 0) {
        if (::chdir(dir.c_str()) != 0) _exit(127);
        FILE* out = freopen((name + ".out").c_str(), "w", stdout);
        FILE* err = freopen((name + ".err").c_str(), "w", stderr);
        if (!out || !err) _exit(127);
        std::vector<char*> argv;
        argv.push_back(const_cast<char*>(KIV_KIVSCAN));
        for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        execv(KIV_KIVSCAN, argv.data());
        _exit(127);
    }
    return pid;
}

// Collects the output of a run that startKivscan began and that ended with waitStatus.
inline HostRun collectKivscan(int waitStatus, const fs::path& dir, const std::string& name) {
    HostRun r;
    r.status = WIFEXITED(waitStatus) ? WEXITSTATUS(waitStatus) : -1;
    r.out = readAll(dir / (name + ".out"));
    r.err = readAll(dir / (name + ".err"));
    fs::remove(dir / (name + ".out"));
    fs::remove(dir / (name + ".err"));
    return r;
}

// Runs kivscan in dir with args to its end.
inline HostRun runKivscan(const fs::path& dir, const std::vector<std::string>& args) {
    int st = 0;
    waitpid(startKivscan(dir, args, "kivscan"), &st, 0);
    return collectKivscan(st, dir, "kivscan");
}
#endif

// Creates a fresh working directory named after prefix, the process and the running test.
inline fs::path layOutWorkDir(const std::string& prefix) {
    fs::path dir = fs::path(::testing::TempDir()) / (prefix + std::to_string(::getpid()) + "-" +
                                                     ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir);
    fs::create_directories(dir / "database" / "magic");
    fs::create_directories(dir / "database" / "qrix");
    fs::create_directories(dir / "files");
    fs::copy_file(KIV_QRIX_DOUBLE, dir / "libQrixLib.so");
    fs::create_symlink(KIV_MAGIC_MGC, dir / "database" / "magic" / "magic.mgc");
    writeFile(dir / "database" / "qrix" / "QrixDefs.QXD", "def\n");
    return dir;
}

// A fresh working directory laid out like run/, entered for each test; the engine is stopped
// after it.
class WorkDir : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_NE(engine().handle, nullptr) << dlerror();
        old_ = fs::current_path();
        dir_ = layOutWorkDir("kiv-");
        fs::current_path(dir_);
    }
    void TearDown() override {
        engine().deinit();
        fs::current_path(old_);
        fs::remove_all(dir_);
    }

    fs::path dir_, old_;
};

#ifdef KIV_QRIXLIB
// The engine as shipped, started: the real matcher, its definitions and 7za.
class ShippedEngine : public WorkDir {
protected:
    void SetUp() override {
        ASSERT_NO_FATAL_FAILURE(WorkDir::SetUp());
        fs::copy_file(KIV_QRIXLIB, "libQrixLib.so", fs::copy_options::overwrite_existing);
        fs::copy_file(KIV_QRIXDEFS, "database/qrix/QrixDefs.QXD", fs::copy_options::overwrite_existing);
        fs::copy_file(KIV_7ZA_BINARY, "7za");
        ASSERT_EQ(engine().init(), 0);
    }
};
#endif

}  // namespace e2e
