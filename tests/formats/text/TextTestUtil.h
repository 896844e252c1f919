// Helpers shared by the text-format tests: in-memory sources, a source whose reads fail part
// way, and a temporary directory for files.
#pragma once

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <cstring>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "core/ByteSource.h"
#include "tests/core/CoreTestKit.h"

namespace texttest {

inline kiv::MemoryByteSource mem(const std::string& text) {
    return kiv::MemoryByteSource(std::vector<uint8_t>(text.begin(), text.end()));
}

using kivtest::FailingSource;

class TempDir {
public:
    TempDir() {
        char tmpl[] = "/tmp/kiv-text-XXXXXX";
        path_ = mkdtemp(tmpl) ? tmpl : "";
    }
    ~TempDir() {
        std::error_code ec;
        if (!path_.empty()) std::filesystem::remove_all(path_, ec);
    }
    const std::string& path() const { return path_; }
    std::string write(const std::string& name, const std::string& bytes) const {
        std::string p = path_ + "/" + name;
        std::ofstream(p, std::ios::binary).write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
        return p;
    }

private:
    std::string path_;
};

}  // namespace texttest
