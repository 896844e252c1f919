// Shared by the end-to-end tests: a temporary working directory laid out like run/, with the
// stand-in matcher (QrixDouble.c) as libQrixLib.so, Debian's magic database and a small
// definitions package.
#pragma once

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>

#include <gtest/gtest.h>

namespace e2e {

namespace fs = std::filesystem;

inline void writeFile(const fs::path& p, const std::string& bytes) { std::ofstream(p, std::ios::binary) << bytes; }

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

}  // namespace e2e
