#include "engine/QrixLib.h"

#include <dirent.h>
#include <dlfcn.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <exception>
#include <vector>

#include "core/ByteUtils.h"
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

// The working directory, locked while a copy is created, takes its shared name or leaves it:
// between one engine's check that lib.N is still its own file and its unlink, no other engine
// may put a file there. Best effort where the file system refuses locks.
class DirLock {
public:
    explicit DirLock(const std::string& dir) : fd_(::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC)) {
        int rc = -1;
        if (fd_ >= 0) {
            while ((rc = ::flock(fd_, LOCK_EX)) != 0 && errno == EINTR) {
            }
        }
        held_ = rc == 0;
    }
    ~DirLock() {
        if (fd_ >= 0) ::close(fd_);  // closing drops the lock
    }
    DirLock(const DirLock&) = delete;
    DirLock& operator=(const DirLock&) = delete;
    bool held() const { return held_; }

private:
    int fd_;
    bool held_ = false;
};

// Removes path only while it still names the file of that identity: another engine may have
// put its own copy under the name since. The caller holds the directory lock.
void unlinkIfSameFile(const std::string& path, const struct stat& file) {
    struct stat now;
    if (::lstat(path.c_str(), &now) == 0 && now.st_dev == file.st_dev && now.st_ino == file.st_ino)
        ::unlink(path.c_str());
}

// "lib.<slot>", or "lib.<slot>." and mkostemp's six letters or digits: the names of copies.
bool isCopyName(const char* name) {
    if (std::strncmp(name, "lib.", 4) != 0) return false;
    const char* p = name + 4;
    int slot = 0, digits = 0;
    for (; kiv::isAsciiDigit(*p) && digits < 3; ++p, ++digits) slot = slot * 10 + (*p - '0');
    if (digits == 0 || (digits > 1 && name[4] == '0') || slot >= kiv::limits::kScanSlots) return false;
    if (*p == '\0') return true;
    if (*p++ != '.') return false;
    for (int i = 0; i < 6; ++i, ++p)
        if (!kiv::isAsciiAlnum(*p)) return false;
    return *p == '\0';
}

// Writes a byte copy of the matcher to a new file "<dest>.XXXXXX", created exclusively, and
// answers its name ("" on failure) and identity. The file keeps that private name until it is
// bound, so no other engine sharing the directory can replace or remove it in between. lockFd
// gets the copy's descriptor, which holds a shared lock on it for as long as it stays open:
// that lock tells the engines starting later that this copy's host is alive.
std::string writeCopy(const std::string& dir, const std::string& dest, struct stat& written, int& lockFd) {
    lockFd = -1;
    int in = ::open(kMatcherFile, O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (in < 0) return "";
    struct stat st;
    if (fstat(in, &st) != 0 || !S_ISREG(st.st_mode) || st.st_size == 0) {
        ::close(in);
        return "";
    }
    std::string tmp = dest + ".XXXXXX";
    std::vector<char> name(tmp.begin(), tmp.end());
    name.push_back('\0');
    int out = -1;
    {
        // Created and locked in one step under the directory lock, so that an engine clearing
        // the copies of ended hosts never finds this one without its lock.
        DirLock lock(dir);
        out = mkostemp(name.data(), O_CLOEXEC);  // O_EXCL, mode 0600
        if (out >= 0) (void)::flock(out, LOCK_SH | LOCK_NB);
    }
    if (out < 0) {
        ::close(in);
        return "";
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
    if (::fchmod(out, 0700) != 0 || ::fstat(out, &written) != 0) ok = false;
    if (!ok) {
        ::unlink(name.data());
        ::close(out);
        return "";
    }
    lockFd = out;
    return name.data();
}

// The dynamic loader hands back an object already loaded under the same name instead of
// loading the file again; a private name reused in this process would share one instance.
bool nameAlreadyLoaded(const std::string& path) {
    void* h = dlopen(path.c_str(), RTLD_LAZY | RTLD_NOLOAD);
    if (h == nullptr) return false;
    dlclose(h);
    return true;
}

}  // namespace

qrix::~qrix() { release(); }

void qrix::removeCopiesOfEndedHosts() {
    const std::string dir = CommonUtils::getCurrentDir();
    if (dir.empty()) return;
    // No copy is created while this is held, so an unlocked one is never one just made.
    DirLock lock(dir);
    if (!lock.held()) return;
    DIR* d = ::opendir(dir.c_str());
    if (d == nullptr) return;
    while (const dirent* e = ::readdir(d)) {
        if (!isCopyName(e->d_name)) continue;
        const std::string path = dir + e->d_name;
        const int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0) continue;
        // Where the file system refuses locks, every copy looks held and stays.
        struct stat st;
        if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && ::flock(fd, LOCK_EX | LOCK_NB) == 0)
            unlinkIfSameFile(path, st);
        ::close(fd);
    }
    ::closedir(d);
}

void qrix::release() {
    if (published_ && owner_ == ::getpid()) {
        // Only the file this loader wrote; a forked child must leave its parent's copies.
        DirLock lock(dir_);
        unlinkIfSameFile(fullPath_, written_);
    }
    published_ = false;
    if (lockFd_ >= 0) ::close(lockFd_);
    lockFd_ = -1;
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
        dir_ = dir.empty() ? std::string("./") : dir;
        // Kept absolute: the copy is removed from the directory it was written to even if the
        // host changes its working directory later.
        fullPath_ = dir_ + path_;

        // Bound by its private name, never looked up along the library search path, so the file
        // bound is always the one just written, whatever other engines do with lib.N meanwhile.
        std::string own;
        auto abandon = [&] {
            ::unlink(own.c_str());
            ::close(lockFd_);
            lockFd_ = -1;
            own.clear();
        };
        for (int attempt = 0; attempt < 8 && own.empty(); ++attempt) {
            own = writeCopy(dir_, fullPath_, written_, lockFd_);
            if (!own.empty() && nameAlreadyLoaded(own)) abandon();
        }
        if (own.empty()) return 0;
        handle_ = dlopen(own.c_str(), RTLD_NOW | RTLD_LOCAL | kDeepBind);
        if (handle_ == nullptr) {
            abandon();
            return 0;
        }
        {
            // Renaming leaves the mapping alone; a copy another engine published under the name
            // goes on serving that engine from its unlinked file. The lock moves with the file.
            DirLock lock(dir_);
            if (::rename(own.c_str(), fullPath_.c_str()) != 0) {
                abandon();
                return 0;
            }
        }
        published_ = true;
        owner_ = ::getpid();

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
