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

namespace texttest {

inline kiv::MemoryByteSource mem(const std::string& text) {
    return kiv::MemoryByteSource(std::vector<uint8_t>(text.begin(), text.end()));
}

// Claims `claimed` bytes but can only deliver the first bytes of `readable`: a file that
// shrank under the scan, or a device that fails part way.
class FailingSource : public kiv::ByteSource {
public:
    FailingSource(std::string readable, uint64_t claimed) : readable_(std::move(readable)) { size_ = claimed; }

protected:
    size_t doRead(uint64_t off, void* dst, size_t n) const override {
        if (off >= readable_.size()) return 0;
        size_t k = std::min<size_t>(n, readable_.size() - static_cast<size_t>(off));
        std::memcpy(dst, readable_.data() + off, k);
        return k;
    }

private:
    std::string readable_;
};

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
