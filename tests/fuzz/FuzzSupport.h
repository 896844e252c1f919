// Shared pieces of the fuzz targets: the entry points libFuzzer calls, a private temporary
// directory for targets whose unit reads a named file, and whole-file writes.
#pragma once

#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);
extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv);

namespace kivfuzz {

// Inputs above this are skipped: larger ones add run time, not new paths.
constexpr size_t kMaxInput = 1 << 20;

// A directory of its own under $TMPDIR (or /tmp), made once per process and removed at exit.
// A crash leaves it behind; it holds nothing but the last input.
inline const std::string& privateDir() {
    // Never destroyed: the exit handler below still needs it.
    static const std::string& dir = *new std::string([] {
        const char* base = std::getenv("TMPDIR");
        std::string tmpl = std::string(base && *base ? base : "/tmp") + "/kivfuzz.XXXXXX";
        if (mkdtemp(tmpl.data()) == nullptr) {
            std::perror("kivfuzz: mkdtemp");
            std::abort();
        }
        std::atexit([] {
            std::error_code ec;
            std::filesystem::remove_all(privateDir(), ec);
        });
        return tmpl;
    }());
    return dir;
}

// Replaces path with exactly these bytes; aborts when it cannot, since every later run would
// test a stale file.
inline void writeWhole(const std::string& path, const uint8_t* data, size_t size) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0) {
        std::perror(path.c_str());
        std::abort();
    }
    size_t done = 0;
    while (done < size) {
        const ssize_t w = ::write(fd, data + done, size - done);
        if (w <= 0) {
            std::perror(path.c_str());
            std::abort();
        }
        done += static_cast<size_t>(w);
    }
    ::close(fd);
}

// Keeps a value computed from what a unit answered, so that the reads producing it stay.
inline void sink(size_t value) { __asm__ volatile("" : : "g"(value) : "memory"); }

}  // namespace kivfuzz
