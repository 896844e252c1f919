// Fixtures of the archive tests: a byte builder, a temporary directory, a runner for the
// Debian tools that make real archives, a runnable 7za copy, and a PE builder.
#pragma once

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "core/TypeTables.h"
#include "engine/CommonUtils.h"
#include "formats/archive/ArchiveFTAUtils.h"

namespace kit {

using Bytes = std::vector<uint8_t>;

// Grows as needed, zero-filling up to each position written.
struct ByteBuilder {
    Bytes b;
    explicit ByteBuilder(size_t n = 0) : b(n, 0) {}
    ByteBuilder& put(size_t off, const void* p, size_t n) {
        if (b.size() < off + n) b.resize(off + n, 0);
        std::copy(static_cast<const uint8_t*>(p), static_cast<const uint8_t*>(p) + n, b.begin() + long(off));
        return *this;
    }
    ByteBuilder& str(size_t off, const std::string& s) { return put(off, s.data(), s.size()); }
    ByteBuilder& u8(size_t off, uint8_t v) { return put(off, &v, 1); }
    ByteBuilder& le16(size_t off, uint16_t v) { return u8(off, uint8_t(v)).u8(off + 1, uint8_t(v >> 8)); }
    ByteBuilder& le32(size_t off, uint32_t v) { return le16(off, uint16_t(v)).le16(off + 2, uint16_t(v >> 16)); }
    ByteBuilder& pad(size_t n) {
        if (b.size() < n) b.resize(n, 0);
        return *this;
    }
    size_t size() const { return b.size(); }
};

inline Bytes bytes(const std::string& s) { return Bytes(s.begin(), s.end()); }
inline kiv::MemoryByteSource mem(const Bytes& b) { return kiv::MemoryByteSource(b); }

// What a detector's adjust function writes.
struct Result {
    std::string typeId, mime, extensions, description;
    bool encrypted = false;
};
inline ArchiveType detect(const Bytes& b) { return ArchiveFTAUtils::isArchive(mem(b)); }
inline std::string typeIdOf(ArchiveType code) {
    std::string t, m, e, d;
    ArchiveFTAUtils::adjustArchiveTypes(code, t, m, e, d);
    return t;
}

inline void writeFile(const std::string& path, const Bytes& b) {
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(b.data()), std::streamsize(b.size()));
}
inline Bytes readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// A fresh directory, removed with everything in it.
struct TempDir {
    std::string path;
    TempDir() {
        std::string tmpl = std::string(::testing::TempDir()) + "kivarc.XXXXXX";
        path = mkdtemp(tmpl.data()) ? tmpl : "";
    }
    ~TempDir() {
        std::error_code ec;
        if (!path.empty()) std::filesystem::remove_all(path, ec);
    }
    std::string operator/(const std::string& name) const { return path + "/" + name; }
};

// Runs a tool in dir (no shell); true when it exited with status 0.
inline bool tool(const std::string& dir, std::vector<std::string> argv) {
    argv.insert(argv.begin(), {"env", "-C", dir});
    std::vector<char> out;
    int status = -1;
    return CommonUtils::executeCommandAndGetOutputChar(argv, out, 1 << 20, &status) && WIFEXITED(status) &&
           WEXITSTATUS(status) == 0;
}

// The engine directory with a copy of the real 7za (the /usr/bin one is a shell wrapper). A
// copy, never a link: making the engine's 7za executable must not touch the installed one.
struct SevenZipHome {
    TempDir dir;
    std::string saved = currentDir;
    SevenZipHome() {
        std::filesystem::copy_file("/usr/lib/p7zip/7za", dir / "7za");
        chmod((dir / "7za").c_str(), 0755);
        currentDir = dir.path + "/";
    }
    ~SevenZipHome() { currentDir = saved; }
};

// PE image: DOS header with e_lfanew 0x40, "PE\0\0", COFF header, a zero optional header of
// 0xE0 bytes, the section table, then each section's body at its raw pointer.
struct PeSection {
    std::string name;
    uint32_t virtualAddress, rawPointer, rawSize;
    Bytes body;
};
inline Bytes makePE(const std::vector<PeSection>& sections) {
    ByteBuilder pe;
    pe.str(0, "MZ").le32(60, 0x40).str(0x40, std::string("PE\0\0", 4)).le16(0x44, 0x14C);
    pe.le16(0x46, uint16_t(sections.size())).le16(0x54, 0xE0);
    for (size_t i = 0; i < sections.size(); ++i) {
        const PeSection& s = sections[i];
        const size_t h = 0x40 + 24 + 0xE0 + 40 * i;
        pe.str(h, s.name.substr(0, 8)).le32(h + 8, s.rawSize).le32(h + 12, s.virtualAddress);
        pe.le32(h + 16, s.rawSize).le32(h + 20, s.rawPointer).put(s.rawPointer, s.body.data(), s.body.size());
    }
    return pe.b;
}

// Resource section bytes; data addresses are virtual addresses of a section mapped at va.
struct RsrcBuilder {
    ByteBuilder s;
    uint32_t va;
    explicit RsrcBuilder(uint32_t virtualAddress) : va(virtualAddress) {}
    // Directory at off; entries are (name field, data field), named ones first.
    RsrcBuilder& dir(size_t off, uint16_t named, uint16_t ids, const std::vector<std::pair<uint32_t, uint32_t>>& e) {
        s.le16(off + 12, named).le16(off + 14, ids).pad(off + 16);
        for (size_t i = 0; i < e.size(); ++i) s.le32(off + 16 + 8 * i, e[i].first).le32(off + 20 + 8 * i, e[i].second);
        return *this;
    }
    RsrcBuilder& dataEntry(size_t off, uint32_t dataOffset, uint32_t size) {
        s.le32(off, va + dataOffset).le32(off + 4, size).pad(off + 16);
        return *this;
    }
};
constexpr uint32_t kSubdir = 0x80000000u;

// The usual chain: type -> name 1 -> language 0x409 -> payload at 0x100 of the section.
inline Bytes rcdataSection(uint32_t va, const Bytes& payload, uint32_t type = 10) {
    RsrcBuilder r(va);
    r.dir(0x00, 0, 1, {{type, kSubdir | 0x18}}).dir(0x18, 0, 1, {{1, kSubdir | 0x30}});
    r.dir(0x30, 0, 1, {{0x409, 0x48}}).dataEntry(0x48, 0x100, uint32_t(payload.size()));
    r.s.put(0x100, payload.data(), payload.size());
    return r.s.b;
}

}  // namespace kit
