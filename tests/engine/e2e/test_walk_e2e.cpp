// kivscan -r on a tree that cannot all be read: every file it can reach is answered, every
// directory it cannot read is named on stderr with the reason, and the exit status says so.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <linux/capability.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <algorithm>
#include <climits>
#include <functional>

#include "tests/engine/e2e/E2eKit.h"

#ifdef KIV_KIVSCAN
namespace {

using namespace e2e;

std::string skipped(const fs::path& dir, const std::string& reason) {
    return "kivscan: " + dir.string() + ": directory skipped: " + reason;
}

// A chain of n directories named name under dir, each holding a file f, made through
// descriptors so that it may reach past the path limit; adds the files reachable by path to
// answered and the first directory that is not to errors.
void makeChain(const fs::path& dir, const std::string& name, int n, std::vector<std::string>& answered,
               std::vector<std::string>& errors) {
    int fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY);
    std::string path = dir.string();
    for (int i = 0; i < n; ++i, path += "/" + name) {
        ::mkdirat(fd, name.c_str(), 0755);
        const int f = ::openat(fd, "f", O_WRONLY | O_CREAT, 0644);
        ::close(f);
        if (path.size() + 2 < PATH_MAX) answered.push_back(path + "/f");
        if (path.size() < PATH_MAX && path.size() + 1 + name.size() >= PATH_MAX)
            errors.push_back(skipped(path + "/" + name, "File name too long"));
        const int sub = ::openat(fd, name.c_str(), O_RDONLY | O_DIRECTORY);
        ::close(fd);
        fd = sub;
    }
    ::close(fd);
}

class Walk : public WorkDir {};

}  // namespace

TEST_F(Walk, EveryDirectoryItCannotReadIsNamedAndTheRestIsScanned) {
    fs::create_symlink(KIV_ENGINE_PATH, "kiv_engine.so");
    struct Row {
        const char* name;
        std::function<void(const fs::path& k, std::vector<std::string>& answered, std::vector<std::string>& errors)>
            make;           // the row's part of the tree, in the directory k
        void (*inChild)();  // before kivscan starts
    };
    const Row rows[] = {
        {"no read or no search permission",
         [](const fs::path& k, auto&, auto& errors) {
             for (const auto& [name, mode] : {std::pair{"none", 0}, {"read-only", 0400}}) {
                 fs::create_directories(k / name / "sub");
                 writeFile(k / name / "f", "text\n");
                 ::chmod((k / name).c_str(), mode);
                 errors.push_back(skipped(k / name, "Permission denied"));
             }
         },
         // Root passes permission checks; without these two capabilities it meets them.
         [] {
             if (::geteuid() == 0 && (::prctl(PR_CAPBSET_DROP, CAP_DAC_OVERRIDE) != 0 ||
                                      ::prctl(PR_CAPBSET_DROP, CAP_DAC_READ_SEARCH) != 0))
                 _exit(126);
         }},
        {"removed during the walk",
         [](const fs::path& k, auto&, auto& errors) {
             fs::create_directory(k / "gone");
             ::setenv("KIV_VANISH_DIR", (k / "gone").c_str(), 1);
             errors.push_back(skipped(k / "gone", "the directory vanished during the walk"));
         },
         [] {
             ::setenv("LD_PRELOAD", KIV_VANISHING_DIR, 1);
             const char* asan = std::getenv("ASAN_OPTIONS");
             ::setenv("ASAN_OPTIONS", (std::string(asan ? asan : "") + ":verify_asan_link_order=0").c_str(), 1);
         }},
        // Deeper than the descriptor limit allows to hold a descriptor per level.
        {"low descriptor limit",
         [](const fs::path& k, auto& answered, auto& errors) { makeChain(k, "d", 100, answered, errors); },
         [] {
             const rlimit low = {64, 64};
             if (::setrlimit(RLIMIT_NOFILE, &low) != 0) _exit(126);
         }},
        {"path over the limit",
         [](const fs::path& k, auto& answered, auto& errors) {
             makeChain(k, std::string(200, 'n'), 30, answered, errors);
         },
         [] {}},
    };
    const fs::path root = dir_ / "files" / "tree";
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        // Files before and after the row's directory k in the walk's order.
        std::vector<std::string> answered, errors;
        for (const char* name : {"a.txt", "m/b.txt", "z.txt"}) {
            fs::create_directories((root / name).parent_path());
            writeFile(root / name, "text\n");
            answered.push_back((root / name).string());
        }
        fs::create_directory(root / "k");
        row.make(root / "k", answered, errors);
        std::sort(answered.begin(), answered.end());

        const pid_t pid = fork();
        if (pid == 0) {
            row.inChild();
            if (!freopen("walk.out", "w", stdout) || !freopen("walk.err", "w", stderr)) _exit(127);
            execl(KIV_KIVSCAN, KIV_KIVSCAN, "-r", root.c_str(), static_cast<char*>(nullptr));
            _exit(127);
        }
        int st = 0;
        waitpid(pid, &st, 0);
        const HostRun r = collectKivscan(st, dir_, "walk");
        ::unsetenv("KIV_VANISH_DIR");
        EXPECT_EQ(r.status, errors.empty() ? 0 : 1) << r.err;
        std::vector<std::string> gotAnswered, gotErrors;
        for (const std::string& l : lines(r.out)) gotAnswered.push_back(l.substr(0, l.find('\t')));
        for (const std::string& l : lines(r.err))
            if (l.rfind("kivscan: warning:", 0) != 0) gotErrors.push_back(l);
        EXPECT_EQ(gotAnswered, answered);
        EXPECT_EQ(gotErrors, errors);
        ASSERT_EQ(runTool({"chmod", "-R", "u+rwx", root.string()}), 0);
        ASSERT_EQ(runTool({"rm", "-rf", root.string()}), 0);
    }
}
#endif
