// Office Open XML, XPS and OpenDocument packages written once per test run by
// fixtures/make_packages.py, and an engine directory holding a runnable 7za.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "tests/formats/archive/ArchiveTestKit.h"

namespace pkgtest {

// The directory of generated packages ("" when the generator failed); made on first use and
// removed when the test program ends.
inline const std::string& packagesDir() {
    static std::unique_ptr<kit::TempDir> dir;
    static std::string path;
    if (!dir) {
        dir = std::make_unique<kit::TempDir>();
        const std::string script = std::string(KIV_SOURCE_DIR) + "/tests/formats/office/fixtures/make_packages.py";
        if (kit::tool(dir->path, {"/usr/bin/python3", script, dir->path + "/pk"})) path = dir->path + "/pk/";
    }
    return path;
}

inline std::string package(const std::string& name) { return packagesDir() + name; }

// Packages written by a real office suite (fixtures/make.sh packages). They lie beside the
// engine's tests, where the conformance suite names them.
inline std::string realFile(const std::string& name) {
    return std::string(KIV_SOURCE_DIR) + "/tests/engine/detectors/fixtures/real/" + name;
}

}  // namespace pkgtest
