// kivscan -r on a tree it cannot all read: every file it can reach is answered, every directory
// it cannot read is named with the reason, and the exit status says so.
#include <gtest/gtest.h>

#include <algorithm>
#include <climits>

#include "tests/engine/e2e/E2eKit.h"

#ifdef KIV_KIVSCAN
using namespace e2e;

class Walk : public WorkDir {};

TEST_F(Walk, EveryDirectoryItCannotReadIsNamedAndTheRestIsScanned) {
    fs::create_symlink(KIV_ENGINE_PATH, "kiv_engine.so");
    auto skipped = [](const std::string& dir, const char* why) {
        return "kivscan: " + dir + ": directory skipped: " + why;
    };
    const fs::path root = dir_ / "files" / "tree", k = root / "k";
    enum { Permission, Vanished, Descriptors, PathLimit };
    // Root meets permission checks without these capabilities; the preloaded open removes k/gone.
    const std::string runs[] = {::geteuid() == 0 ? "setpriv --bounding-set=-dac_override,-dac_read_search " : "",
                                "KIV_VANISH_DIR=" + (k / "gone").string() +
                                    " LD_PRELOAD=" KIV_VANISHING_DIR
                                    " ASAN_OPTIONS=$ASAN_OPTIONS:verify_asan_link_order=0 ",
                                "ulimit -n 64 && ", ""};
    for (int row : {Permission, Vanished, Descriptors, PathLimit}) {
        SCOPED_TRACE(row);
        std::vector<std::string> answered, errors;
        fs::create_directories(root / "m");  // a directory beside k
        writeFile(root / "m" / "b.txt", "text\n");
        answered.push_back((root / "m" / "b.txt").string());
        fs::create_directories(k / "gone");
        for (const auto& [dir, mode] : {std::pair{"none", fs::perms::none}, {"read-only", fs::perms::owner_read}}) {
            if (row != Permission) break;
            fs::create_directories(k / dir / "sub");
            writeFile(k / dir / "f", "text\n");
            fs::permissions(k / dir, mode);
            errors.push_back(skipped(k / dir, "Permission denied"));
        }
        if (row == Vanished) errors.push_back(skipped(k / "gone", "the directory vanished during the walk"));
        // Nested directories each holding f, made step by step past the path limit.
        const std::string name = row == Descriptors ? "d" : std::string(200, 'n');
        std::string path = k.string();
        fs::current_path(k);
        for (int i = 0; i < (row == Descriptors ? 100 : row == PathLimit ? 30 : 0); ++i, path += "/" + name) {
            writeFile("f", "");
            if (path.size() + 2 < PATH_MAX) answered.push_back(path + "/f");
            if (path.size() < PATH_MAX && path.size() + 1 + name.size() >= PATH_MAX)
                errors.push_back(skipped(path + "/" + name, "File name too long"));
            fs::create_directory(name);
            fs::current_path(name);
        }
        fs::current_path(dir_);
        std::sort(answered.begin(), answered.end());

        EXPECT_EQ(runTool({"sh", "-c", runs[row] + "\"$0\" -r \"$1\" >walk.out 2>walk.err", KIV_KIVSCAN, root}),
                  errors.empty() ? 0 : 1);
        std::vector<std::string> gotAnswered, gotErrors;
        for (const std::string& l : lines(readAll("walk.out"))) gotAnswered.push_back(l.substr(0, l.find('\t')));
        for (const std::string& l : lines(readAll("walk.err")))
            if (l.rfind("kivscan: warning:", 0) != 0) gotErrors.push_back(l);
        EXPECT_EQ(gotAnswered, answered);
        EXPECT_EQ(gotErrors, errors);
        ASSERT_EQ(runTool({"sh", "-c", "chmod -R u+rwx \"$0\" && rm -rf \"$0\"", root.string()}), 0);
    }
}
#endif
