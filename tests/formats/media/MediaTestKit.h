// Byte builders, temporary files, and the Debian tools (tools/bootstrap.sh) that write
// real files of the media formats.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "core/ByteSource.h"
#include "engine/CommonUtils.h"

namespace mediatest {

using Bytes = std::vector<uint8_t>;

struct ByteBuilder {
    Bytes bytes;
    ByteBuilder& str(const std::string& s) {
        bytes.insert(bytes.end(), s.begin(), s.end());
        return *this;
    }
    ByteBuilder& raw(const void* p, size_t n) {
        bytes.insert(bytes.end(), static_cast<const uint8_t*>(p), static_cast<const uint8_t*>(p) + n);
        return *this;
    }
    ByteBuilder& u8(uint8_t v) {
        bytes.push_back(v);
        return *this;
    }
    ByteBuilder& le16(uint16_t v) { return u8(v & 0xFF).u8(v >> 8); }
    ByteBuilder& le32(uint32_t v) { return le16(v & 0xFFFF).le16(v >> 16); }
    ByteBuilder& le64(uint64_t v) { return le32(static_cast<uint32_t>(v)).le32(static_cast<uint32_t>(v >> 32)); }
    ByteBuilder& be16(uint16_t v) { return u8(v >> 8).u8(v & 0xFF); }
    ByteBuilder& be32(uint32_t v) { return be16(v >> 16).be16(v & 0xFFFF); }
    ByteBuilder& fill(size_t n, uint8_t v = 0) {
        bytes.insert(bytes.end(), n, v);
        return *this;
    }
    ByteBuilder& padTo(size_t n, uint8_t v = 0) { return fill(bytes.size() < n ? n - bytes.size() : 0, v); }
};

inline kiv::MemoryByteSource mem(const Bytes& b) { return kiv::MemoryByteSource(b); }

// A directory under the test temp dir; its files and itself are removed at the end.
class TempDir {
public:
    TempDir() {
        std::string tmpl = ::testing::TempDir() + "kivmedia.XXXXXX";
        path_ = mkdtemp(&tmpl[0]) ? tmpl + "/" : std::string();
    }
    ~TempDir() {
        for (const std::string& f : files_) std::remove(f.c_str());
        rmdir(path_.c_str());
    }
    std::string file(const std::string& name) {
        files_.push_back(path_ + name);
        return files_.back();
    }
    std::string write(const std::string& name, const Bytes& b) {
        std::string p = file(name);
        std::ofstream(p, std::ios::binary).write(reinterpret_cast<const char*>(b.data()), b.size());
        return p;
    }

private:
    std::string path_;
    std::vector<std::string> files_;
};

// Runs a tool directly (no shell); the test fails when it cannot run or exits non-zero.
inline void runTool(const std::vector<std::string>& argv) {
    std::vector<char> out;
    int status = -1;
    bool started = CommonUtils::executeCommandAndGetOutputChar(argv, out, 64 * 1024, &status);
    ASSERT_TRUE(started && status == 0) << argv[0] << " failed (package from tools/bootstrap.sh missing?): "
                                        << std::string(out.begin(), out.end());
}

}  // namespace mediatest
