// The walk of kivscan -r when part of a tree cannot be read: every file it can reach is
// answered, every directory it cannot read is named on stderr with the reason, and the exit
// status says so.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <linux/capability.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <functional>

#include "tests/engine/e2e/E2eKit.h"

#ifdef KIV_KIVSCAN
namespace {

using namespace e2e;

// What a walk should give: the files answered, in order, and the lines on stderr.
struct Expected {
    std::vector<std::string> answered, errors;
    void skipped(const fs::path& dir, const std::string& reason) {
        errors.push_back("kivscan: " + dir.string() + ": directory skipped: " + reason);
    }
};

void addFile(const fs::path& p, Expected& e) {
    writeFile(p, "text\n");
    e.answered.push_back(p.string());
}

// A chain of n directories named name under dir, each holding a file f, made through
// descriptors so that it may reach past the system's path limit; answers the files reachable
// by path and names the first directory that is not.
void makeChain(const fs::path& dir, const std::string& name, int n, Expected& e) {
    int fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY);
    std::string path = dir.string();
    for (int i = 0; i < n && fd >= 0; ++i) {
        ASSERT_EQ(::mkdirat(fd, name.c_str(), 0755), 0);
        const int sub = ::openat(fd, name.c_str(), O_RDONLY | O_DIRECTORY);
        ::close(fd);
        fd = sub;
        path += "/" + name;
        if (path.size() >= PATH_MAX && path.size() - name.size() - 1 < PATH_MAX)
            e.skipped(path, "File name too long");
        if (path.size() + 2 >= PATH_MAX) continue;
        const int f = ::openat(fd, "f", O_WRONLY | O_CREAT, 0644);
        ASSERT_EQ(::write(f, "text\n", 5), 5);
        ::close(f);
        e.answered.push_back(path + "/f");
    }
    ::close(fd);
}

// Each row builds its part of the tree in the directory k and says how kivscan is started.
struct WalkCase {
    const char* name;
    std::function<void(const fs::path& k, Expected&)> make;
    std::function<void()> inChild;  // before exec
    int status;
};

class Walk : public WorkDir {
protected:
    void SetUp() override {
        ASSERT_NO_FATAL_FAILURE(WorkDir::SetUp());
        fs::create_symlink(KIV_ENGINE_PATH, "kiv_engine.so");
    }

    // kivscan -r root, started in a child that first runs inChild.
    HostRun walk(const fs::path& root, const std::function<void()>& inChild) {
        const pid_t pid = fork();
        if (pid == 0) {
            inChild();
            if (::chdir(dir_.c_str()) != 0 || !freopen("walk.out", "w", stdout) || !freopen("walk.err", "w", stderr))
                _exit(127);
            execl(KIV_KIVSCAN, KIV_KIVSCAN, "-r", root.c_str(), static_cast<char*>(nullptr));
            _exit(127);
        }
        int st = 0;
        waitpid(pid, &st, 0);
        return collectKivscan(st, dir_, "walk");
    }
};

}  // namespace

TEST_F(Walk, DirectoriesThatCannotBeReadAreNamedAndTheRestIsScanned) {
    const WalkCase cases[] = {
        {"no read or no search permission",
         [](const fs::path& k, Expected& e) {
             for (const char* name : {"none", "read-only"}) {
                 fs::create_directories(k / name / "sub");
                 writeFile(k / name / "sub" / "x", "text\n");
                 writeFile(k / name / "y", "text\n");
                 e.skipped(k / name, "Permission denied");
             }
             ::chmod((k / "none").c_str(), 0);
             ::chmod((k / "read-only").c_str(), 0400);
         },
         // Root passes permission checks; without these two capabilities it meets them.
         [] {
             if (::geteuid() == 0 && (::prctl(PR_CAPBSET_DROP, CAP_DAC_OVERRIDE) != 0 ||
                                      ::prctl(PR_CAPBSET_DROP, CAP_DAC_READ_SEARCH) != 0))
                 _exit(126);
         },
         1},
        {"removed during the walk",
         [](const fs::path& k, Expected& e) {
             fs::create_directories(k / "gone" / "sub");
             writeFile(k / "gone" / "sub" / "x", "text\n");
             ::setenv("KIV_VANISH_DIR", (k / "gone").c_str(), 1);
             e.skipped(k / "gone", "the directory vanished during the walk");
         },
         [] {
             ::setenv("LD_PRELOAD", KIV_VANISHING_DIR, 1);
             const char* asan = std::getenv("ASAN_OPTIONS");
             ::setenv("ASAN_OPTIONS", (std::string(asan ? asan : "") + ":verify_asan_link_order=0").c_str(), 1);
         },
         1},
        // Deeper than the descriptor limit: nothing is lost, so nothing is named.
        {"low descriptor limit", [](const fs::path& k, Expected& e) { makeChain(k, "d", 100, e); },
         [] {
             const rlimit low = {64, 64};
             if (::setrlimit(RLIMIT_NOFILE, &low) != 0) _exit(126);
         },
         0},
        {"path over the limit", [](const fs::path& k, Expected& e) { makeChain(k, std::string(200, 'n'), 30, e); },
         [] {}, 1},
    };
    for (const WalkCase& c : cases) {
        SCOPED_TRACE(c.name);
        const fs::path root = dir_ / "files" / "tree";
        fs::create_directories(root / "m");
        Expected e;
        // Files around the row's directory k, before and after it in the walk's order.
        addFile(root / "a.txt", e);
        addFile(root / "m" / "b.txt", e);
        fs::create_directories(root / "k");
        ASSERT_NO_FATAL_FAILURE(c.make(root / "k", e));
        addFile(root / "z.txt", e);
        std::sort(e.answered.begin(), e.answered.end());

        const HostRun r = walk(root, c.inChild);
        ::unsetenv("KIV_VANISH_DIR");
        EXPECT_EQ(r.status, c.status) << r.err;
        std::vector<std::string> answered;
        for (const std::string& l : lines(r.out)) answered.push_back(l.substr(0, l.find('\t')));
        EXPECT_EQ(answered, e.answered);
        std::vector<std::string> errors;
        for (const std::string& l : lines(r.err))
            if (l.rfind("kivscan: warning:", 0) != 0) errors.push_back(l);
        EXPECT_EQ(errors, e.errors);

        ASSERT_EQ(runTool({"chmod", "-R", "u+rwx", root.string()}), 0);
        ASSERT_EQ(runTool({"rm", "-rf", root.string()}), 0);
    }
}
#endif
