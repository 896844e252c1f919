#include "engine/QrixLib.h"

#include <dlfcn.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <exception>
#include <vector>

#include "engine/CommonUtils.h"

namespace {

// The sanitizer runtimes refuse RTLD_DEEPBIND. The matcher is built with hidden symbols and
// file-local state, so its copies stay apart without it. (gcc names the sanitizers with
// macros; clang 14 only answers __has_feature.)
#if defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
#define KIV_SANITIZED_BUILD 1
#endif
#endif
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__) || defined(KIV_SANITIZED_BUILD)
constexpr int kDeepBind = 0;
#else
constexpr int kDeepBind = RTLD_DEEPBIND;
#endif

constexpr const char* kMatcherFile = "libQrixLib.so";

bool writeAll(int fd, const char* p, size_t n) {
    while (n > 0) {
        ssize_t w = ::write(fd, p, n);
        if (w < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        p += w;
        n -= static_cast<size_t>(w);
    }
    return true;
}

// Writes a byte copy of the matcher to dest as a new file: a temporary name created
// exclusively, then renamed over dest. A process that still maps an older copy keeps its
// inode (truncating it in place would kill that process with SIGBUS), and nobody can swap
// the file between the write and the dlopen by pre-creating the name.
bool copyMatcher(const std::string& dest) {
    int in = ::open(kMatcherFile, O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (in < 0) return false;
    struct stat st;
    if (fstat(in, &st) != 0 || !S_ISREG(st.st_mode) || st.st_size == 0) {
        ::close(in);
        return false;
    }
    std::string tmp = dest + ".XXXXXX";
    std::vector<char> name(tmp.begin(), tmp.end());
    name.push_back('\0');
    int out = mkostemp(name.data(), O_CLOEXEC);  // O_EXCL, mode 0600
    if (out < 0) {
        ::close(in);
        return false;
    }
    bool ok = true;
    char buf[65536];
    for (;;) {
        ssize_t r = ::read(in, buf, sizeof buf);
        if (r < 0 && errno == EINTR) continue;
        if (r < 0) ok = false;
        if (r <= 0) break;
        if (!writeAll(out, buf, static_cast<size_t>(r))) {
            ok = false;
            break;
        }
    }
    ::close(in);
    if (::fchmod(out, 0700) != 0) ok = false;
    if (::close(out) != 0) ok = false;
    if (ok && ::rename(name.data(), dest.c_str()) != 0) ok = false;
    if (!ok) ::unlink(name.data());
    return ok;
}

}  // namespace

qrix::~qrix() { release(); }

void qrix::release() {
    if (!fullPath_.empty()) ::unlink(fullPath_.c_str());
    if (handle_ != nullptr) dlclose(handle_);
    handle_ = nullptr;
    analyze_ = nullptr;
    getInfo_ = nullptr;
    loadDefsPack_ = nullptr;
    submitFileA_ = nullptr;
}

int qrix::Init(int slot) {
    try {
        release();
        path_ = "lib." + std::to_string(slot);
        std::string dir = CommonUtils::getCurrentDir();
        // Bound by an explicit path, never looked up along the library search path, so the
        // file bound is always the one just written.
        fullPath_ = (dir.empty() ? std::string("./") : dir) + path_;
        if (!copyMatcher(fullPath_)) return 0;

        handle_ = dlopen(fullPath_.c_str(), RTLD_NOW | RTLD_LOCAL | kDeepBind);
        if (handle_ == nullptr) return 0;
        analyze_ = reinterpret_cast<int (*)()>(dlsym(handle_, "Qrix_Analyze"));
        getInfo_ = reinterpret_cast<int (*)(int, int, char*)>(dlsym(handle_, "Qrix_GetInfo"));
        loadDefsPack_ = reinterpret_cast<int (*)(char*)>(dlsym(handle_, "Qrix_LoadDefsPack"));
        submitFileA_ = reinterpret_cast<int (*)(const char*)>(dlsym(handle_, "Qrix_SubmitFileA"));
        if (!analyze_ || !getInfo_ || !loadDefsPack_ || !submitFileA_) {
            analyze_ = nullptr;  // bound() stays false
            return 0;
        }
        // The matcher takes a char*; hand it a writable copy. It reads backslashes as slashes.
        char dirText[] = "database\\qrix\\";
        return LoadDefsPack(dirText);
    } catch (const std::exception&) {
        return 0;
    }
}

int qrix::Analyze() { return analyze_(); }
int qrix::GetInfo(int mode, int index, char* out) { return getInfo_(mode, index, out); }
int qrix::LoadDefsPack(char* dir) { return loadDefsPack_(dir); }
int qrix::SubmitFileA(char* path) { return submitFileA_(path); }
