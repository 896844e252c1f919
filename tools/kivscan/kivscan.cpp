// kivscan: a scanning host for the engine. Loads ./kiv_engine.so from the working directory
// (the engine's own working directory), starts it, scans the given files and prints one line
// per file: the path (escaped, see escapePath), a TAB, and the result JSON exactly as the
// engine returned it.
//
//   kivscan [-r] [-j N] [--ext] [--stats] PATH...
//
// Exit status: 0 every file scanned, 1 some file was not scanned or some directory not read
// (each named on stderr), 2 the engine could not start.
#include <dirent.h>
#include <dlfcn.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "engine/HostApi.h"
#include "tools/kivscan/HostEngine.h"

namespace {

namespace fs = std::filesystem;

struct Options {
    bool recurse = false;
    bool useExtension = false;
    bool stats = false;
    bool help = false;
    unsigned threads = 1;
    std::vector<std::string> paths;
};

using Engine = HostEngine;

void usage(FILE* to) {
    std::fprintf(to,
                 "usage: kivscan [-r] [-j N] [--ext] [--stats] PATH...\n"
                 "  -r       recurse into directories\n"
                 "  -j N     scan from N threads (default 1)\n"
                 "  --ext    scan with kivFileType, passing each file's extension\n"
                 "  --stats  print files, seconds and files per second to stderr\n"
                 "  --help   print this text\n"
                 "Runs in the engine's working directory (%s, prepared by ./run.sh).\n"
                 "Prints one line per file: the path, a TAB and the result JSON. In the path,\n"
                 "backslash, TAB, newline and carriage return are written as \\\\, \\t, \\n and \\r,\n"
                 "every other byte below 0x20 and 0x7F as \\xHH; the same goes for the paths\n"
                 "named on stderr.\n",
                 KIV_RUN_DIR_HINT);
}

// Writes a path so that it takes exactly one line and holds no TAB: the first TAB of an
// output line always ends the path. Backslashes are doubled, so the text decodes back to the
// path's bytes; bytes from 0x80 up (UTF-8 names) pass unchanged.
std::string escapePath(const std::string& path) {
    std::string out;
    out.reserve(path.size());
    for (unsigned char c : path) {
        switch (c) {
        case '\\': out += "\\\\"; break;
        case '\t': out += "\\t"; break;
        case '\n': out += "\\n"; break;
        case '\r': out += "\\r"; break;
        default:
            if (c < 0x20 || c == 0x7F) {
                char hex[5];
                std::snprintf(hex, sizeof hex, "\\x%02X", c);
                out += hex;
            } else {
                out += static_cast<char>(c);
            }
        }
    }
    return out;
}

std::optional<Options> parseArgs(int argc, char** argv) {
    Options o;
    bool endOfOptions = false;
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        if (!endOfOptions && a == "--") {
            endOfOptions = true;
        } else if (!endOfOptions && (a == "--help" || a == "-h")) {
            o.help = true;
        } else if (!endOfOptions && a == "-r") {
            o.recurse = true;
        } else if (!endOfOptions && a == "--ext") {
            o.useExtension = true;
        } else if (!endOfOptions && a == "--stats") {
            o.stats = true;
        } else if (!endOfOptions && (a == "-j" || a.rfind("-j", 0) == 0)) {
            std::string n = a == "-j" ? (i + 1 < argc ? argv[++i] : "") : a.substr(2);
            char* end = nullptr;
            long v = std::strtol(n.c_str(), &end, 10);
            if (n.empty() || *end != '\0' || v < 1 || v > 1024) {
                std::fprintf(stderr, "kivscan: -j needs a thread count from 1 to 1024\n");
                return std::nullopt;
            }
            o.threads = static_cast<unsigned>(v);
        } else if (!endOfOptions && a.size() > 1 && a[0] == '-') {
            std::fprintf(stderr, "kivscan: unknown option %s\n", escapePath(a).c_str());
            return std::nullopt;
        } else {
            o.paths.push_back(a);
        }
    }
    if (o.paths.empty() && !o.help) return std::nullopt;
    return o;
}

bool exists(const char* path) { return ::access(path, F_OK) == 0; }

// The working directory as the messages write it; "" when it cannot be read.
std::string workingDirShown() {
    char buf[4096];
    return ::getcwd(buf, sizeof buf) != nullptr ? escapePath(buf) : std::string();
}

// init only answers 1; name what a working directory needs and lacks.
void explainInitFailure() {
    const std::string shown = workingDirShown();
    if (shown.empty()) {
        std::fprintf(stderr, "kivscan: the engine could not start: the working directory cannot be read\n");
        return;
    }
    const char* cwd = shown.c_str();
    struct Need {
        const char* path;
        const char* what;
    };
    const Need needs[] = {
        {"database/magic/magic.mgc", "the magic database"},
        {"database/qrix/QrixDefs.QXD", "the definitions package"},
        {"libQrixLib.so", "the matcher library"},
    };
    bool named = false;
    for (const Need& n : needs) {
        if (!exists(n.path)) {
            std::fprintf(stderr, "kivscan: the engine could not start: %s is missing (%s/%s)\n", n.what, cwd, n.path);
            named = true;
        }
    }
    if (named) return;
    if (::access(".", W_OK) != 0) {
        std::fprintf(stderr,
                     "kivscan: the engine could not start: the working directory %s is not writable (the engine "
                     "writes its matcher copies there)\n",
                     cwd);
        return;
    }
    std::fprintf(stderr,
                 "kivscan: the engine could not start in %s: the magic database, the definitions package or the "
                 "matcher library is unusable\n",
                 cwd);
}

std::optional<Engine> loadEngine(bool needKivFileType) {
    Engine e;
    if (!exists(kHostEngineFile)) {
        std::fprintf(stderr,
                     "kivscan: the engine library is missing (%s/kiv_engine.so): run kivscan in the engine's "
                     "working directory, %s, which ./run.sh prepares\n",
                     workingDirShown().c_str(), KIV_RUN_DIR_HINT);
        return std::nullopt;
    }
    if (!openHostEngine(e)) {
        std::fprintf(stderr, "kivscan: cannot load the engine: %s\n", dlerror());
        return std::nullopt;
    }
    if (!e.init || !e.deinit || !e.scan || !e.freeString || (needKivFileType && !e.kivFileType)) {
        std::fprintf(stderr, "kivscan: the engine library lacks an entry point (%s)\n",
                     needKivFileType && !e.kivFileType ? "kivFileType" : "init, deinit, scan or freeString");
        dlclose(e.handle);
        return std::nullopt;
    }
    return e;
}

// The extension of the file name: the text after its last dot, "" when there is none.
std::string extensionOf(const std::string& path) {
    std::string name = fs::path(path).filename().string();
    size_t dot = name.rfind('.');
    return dot == std::string::npos || dot == 0 ? std::string() : name.substr(dot + 1);
}

// A directory the walk could not open or read to its end: what happened and why.
struct Skipped {
    std::string path;
    const char* what;
    std::string reason;
};

// Adds to files the regular files under root (after links), and to skipped each directory that
// could not be opened or read to its end; the walk goes on with the rest of the tree. It holds
// one descriptor at a time: each directory is read whole and closed before the walk opens its
// subdirectories by path, so a deep tree needs no more descriptors than a flat one, and a
// directory whose path is over the system's limit is skipped like any other it cannot open.
// The root is followed when it is a link; below it, links to directories are not entered.
void walkTree(const std::string& root, std::vector<std::string>& files, std::vector<Skipped>& skipped) {
    std::vector<std::string> pending{root};
    for (bool isRoot = true; !pending.empty(); isRoot = false) {
        const std::string dir = std::move(pending.back());
        pending.pop_back();
        const int fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC | (isRoot ? 0 : O_NOFOLLOW));
        struct stat st;
        // Open needs read permission; reaching the entries needs search permission, which only
        // a lookup checks.
        DIR* d = fd < 0 || ::fstatat(fd, ".", &st, 0) != 0 ? nullptr : ::fdopendir(fd);
        if (d == nullptr) {
            const int err = errno;
            if (fd >= 0) ::close(fd);
            // Every directory opened here was found a moment before.
            skipped.push_back({dir, "directory skipped",
                               err == ENOENT ? "the directory vanished during the walk" : std::strerror(err)});
            continue;
        }
        const std::string prefix = dir.back() == '/' ? dir : dir + '/';
        for (;;) {
            errno = 0;
            const dirent* e = ::readdir(d);
            if (e == nullptr) {
                if (errno != 0) skipped.push_back({dir, "directory read in part", std::strerror(errno)});
                break;
            }
            const char* name = e->d_name;
            if (name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0'))) continue;
            unsigned char type = e->d_type;
            if (type == DT_UNKNOWN) {
                if (::fstatat(fd, name, &st, AT_SYMLINK_NOFOLLOW) != 0) {
                    // Gone since it was listed, or else handed on: its scan fails and names it.
                    if (errno != ENOENT) files.push_back(prefix + name);
                    continue;
                }
                type = S_ISDIR(st.st_mode)   ? DT_DIR
                       : S_ISREG(st.st_mode) ? DT_REG
                       : S_ISLNK(st.st_mode) ? DT_LNK
                                             : DT_UNKNOWN;
            }
            if (type == DT_DIR)
                pending.push_back(prefix + name);
            else if (type == DT_REG || (type == DT_LNK && ::fstatat(fd, name, &st, 0) == 0 && S_ISREG(st.st_mode)))
                files.push_back(prefix + name);
        }
        ::closedir(d);
    }
}

// Expands the arguments into the list of files. Directories are walked only with -r; walking
// keeps regular files (after links) and skips FIFOs, devices and sockets, and names on stderr
// each directory it could not read. Named arguments go to the engine as given.
std::vector<std::string> collectFiles(const Options& o, int& failures) {
    std::vector<std::string> files;
    for (const std::string& p : o.paths) {
        std::error_code ec;
        if (!fs::is_directory(p, ec)) {
            files.push_back(p);
            continue;
        }
        if (!o.recurse) {
            std::fprintf(stderr, "kivscan: %s: is a directory (use -r)\n", escapePath(p).c_str());
            ++failures;
            continue;
        }
        std::vector<std::string> found;
        std::vector<Skipped> skipped;
        walkTree(p, found, skipped);
        std::sort(found.begin(), found.end());
        files.insert(files.end(), found.begin(), found.end());
        std::sort(skipped.begin(), skipped.end(), [](const Skipped& a, const Skipped& b) { return a.path < b.path; });
        for (const Skipped& s : skipped)
            std::fprintf(stderr, "kivscan: %s: %s: %s\n", escapePath(s.path).c_str(), s.what, s.reason.c_str());
        failures += static_cast<int>(skipped.size());
    }
    return files;
}

// What getLastError says on this thread about the engine's last failure (libmagic's error, or
// why the archiver could not run); "" when it names none.
std::string engineReason(const Engine& e) {
    const char* text = nullptr;
    if (!e.getLastError || e.getLastError(&text) != 0 || text == nullptr) return "";
    std::string reason = text;
    // The fallback text is a registered copy; the engine's own texts are not, and freeString
    // passes them by.
    char* handed = const_cast<char*>(text);
    e.freeString(&handed);
    return reason == "Unknown error" ? "" : reason;
}

// The engine reads most package members itself and the rest through 7za. It starts without a
// working 7za, but then a file that needs such a member is not scanned, so this is a warning.
// reason is what init found when it ran 7za once.
void warnIfNoArchiver(const std::string& reason) {
    const std::string dir = workingDirShown();
    const char* outcome = "files that need a member only 7za can read will not be scanned";
    struct stat st;
    if (::stat("7za", &st) != 0)
        std::fprintf(stderr, "kivscan: warning: 7za is missing from %s; %s\n", dir.c_str(), outcome);
    else if (!S_ISREG(st.st_mode) || ::access("7za", X_OK) != 0)
        std::fprintf(stderr, "kivscan: warning: %s/7za is not executable; %s\n", dir.c_str(), outcome);
    else if (!reason.empty())
        std::fprintf(stderr, "kivscan: warning: %s/7za does not run (%s); %s\n", dir.c_str(), reason.c_str(), outcome);
}

// Why a scan failed: the engine's reason when it gave one, otherwise what is wrong with the
// path as seen from here ("" when nothing is).
std::string whyFailed(const std::string& path, bool existedBefore, const std::string& reason) {
    if (!reason.empty()) return reason;
    struct stat st;
    if (::stat(path.c_str(), &st) != 0) {
        if (errno == ENOENT && existedBefore) return "the file vanished during the scan";
        return std::strerror(errno);
    }
    if (!S_ISREG(st.st_mode)) return "not a regular file";
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return std::string("not readable: ") + std::strerror(errno);
    ::close(fd);
    return "";
}

struct Outcome {
    bool done = false;
    bool ok = false;
    std::string json;
    std::string why;  // of a failed scan; "" when not known
};

}  // namespace

int main(int argc, char** argv) {
    std::optional<Options> opts = parseArgs(argc, argv);
    if (!opts) {
        usage(stderr);
        return 2;
    }
    if (opts->help) {
        usage(stdout);
        return 0;
    }
    int failures = 0;
    std::vector<std::string> files = collectFiles(*opts, failures);

    std::optional<Engine> engine = loadEngine(opts->useExtension);
    if (!engine) return 2;
    if (engine->init() != 0) {
        explainInitFailure();
        return 2;
    }
    // After init, which makes the archiver executable when it can and then runs it once.
    warnIfNoArchiver(engineReason(*engine));

    std::vector<Outcome> outcomes(files.size());
    std::mutex mutex;
    std::condition_variable ready;
    std::atomic<size_t> next{0};
    // The file the printer waits for: only its worker wakes the printer, and after unlocking,
    // so the scanning threads neither wake it for every file nor wait for it to let go.
    std::atomic<size_t> awaited{0};
    auto worker = [&] {
        for (size_t i; (i = next.fetch_add(1)) < files.size();) {
            char* json = nullptr;
            uint32_t status = 0;
            const std::string& path = files[i];
            struct stat before;
            const bool existed = ::stat(path.c_str(), &before) == 0;
            int rc = opts->useExtension ? engine->kivFileType(path.c_str(), extensionOf(path).c_str(), &json)
                                        : engine->scan(path.c_str(), &status, &json);
            Outcome o;
            o.done = true;
            o.ok = rc == 0 && json != nullptr;
            if (json != nullptr) {
                o.json = json;
                engine->freeString(&json);
            }
            // Asked at once, on this thread: the engine keeps the reason per thread until its next scan.
            if (!o.ok) o.why = whyFailed(path, existed, engineReason(*engine));
            {
                std::lock_guard<std::mutex> lock(mutex);
                outcomes[i] = std::move(o);
            }
            if (awaited.load() == i) ready.notify_one();
        }
    };

    auto start = std::chrono::steady_clock::now();
    std::vector<std::thread> pool;
    unsigned threads = std::min<size_t>(opts->threads, std::max<size_t>(files.size(), 1));
    for (unsigned t = 0; t < threads; ++t) pool.emplace_back(worker);

    // Print in the order of the arguments, each line as soon as its file is done.
    for (size_t i = 0; i < files.size(); ++i) {
        Outcome o;
        {
            awaited.store(i);
            std::unique_lock<std::mutex> lock(mutex);
            ready.wait(lock, [&] { return outcomes[i].done; });
            o = std::move(outcomes[i]);
        }
        if (o.ok) {
            std::string shown = escapePath(files[i]);
            std::fwrite(shown.data(), 1, shown.size(), stdout);
            std::fputc('\t', stdout);
            std::fwrite(o.json.data(), 1, o.json.size(), stdout);
            std::fputc('\n', stdout);
        } else {
            std::fflush(stdout);
            std::fprintf(stderr, "kivscan: %s: scan failed%s%s\n", escapePath(files[i]).c_str(),
                         o.why.empty() ? "" : ": ", o.why.c_str());
            ++failures;
        }
    }
    for (std::thread& t : pool) t.join();
    std::fflush(stdout);
    double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();

    engine->deinit();
    dlclose(engine->handle);

    if (opts->stats) {
        std::fprintf(stderr, "files %zu, seconds %.3f, files/s %.1f, threads %u\n", files.size(), seconds,
                     seconds > 0 ? static_cast<double>(files.size()) / seconds : 0.0, threads);
    }
    return failures == 0 ? 0 : 1;
}
