// Definitions package parser of the matcher: the package is read from a file (as the engine
// loads it) and from memory, every definition's fields are queried, and the package file
// itself is then submitted and analysed, so that patterns and strings the input defines can
// match the input's own bytes.
#include <cstring>
#include <string>
#include <vector>

#include "qrixlib/QrixLib.h"
#include "FuzzSupport.h"

namespace {

// Definitions whose fields are queried per input.
constexpr int kMaxQueried = 512;

void queryAll() {
    std::vector<char> out(4096);
    const int declared = Qrix_GetInfo(1004, 0, out.data());
    for (int j = 0; j <= declared && j <= kMaxQueried; ++j)
        for (int mode = 101; mode <= 109; ++mode) Qrix_GetInfo(mode, j, out.data());
    const int hits = Qrix_GetInfo(1, 0, out.data());
    for (int k = 0; k <= hits + 1 && k <= kMaxQueried; ++k)
        for (int mode : {2, 3, 4, 100}) Qrix_GetInfo(mode, k, out.data());
    Qrix_GetInfo(1005, 0, out.data());
    const int64_t offsets[] = {-1, 0, 7, 31, 1 << 20};
    for (int64_t off : offsets) {
        const int64_t count = 64;
        char peek[64];
        PB_PEEK(&off, &count, peek);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > kivfuzz::kMaxInput) return 0;
    const std::string& dir = kivfuzz::privateDir();
    const std::string file = dir + "/QrixDefs.QXD";
    kivfuzz::writeWhole(file, data, size);

    std::vector<char> dirText(dir.begin(), dir.end());
    dirText.push_back('\0');
    if (Qrix_LoadDefsPack(dirText.data()) > 0) {
        queryAll();
        std::vector<char> path(file.begin(), file.end());
        path.push_back('\0');
        if (Qrix_SubmitFileA(path.data()) == 1 && Qrix_Analyze() == 1) queryAll();
    }

    // From memory: the caller vouches for the RIFF size, so the copy states the true one.
    if (size >= 8) {
        std::vector<uint8_t> copy(data, data + size);
        const uint32_t riff = static_cast<uint32_t>(size - 8);
        for (int i = 0; i < 4; ++i) copy[4 + i] = static_cast<uint8_t>(riff >> (8 * i));
        if (Qrix_SetDefsPack(reinterpret_cast<const char*>(copy.data())) > 0) queryAll();
    }
    return 0;
}
