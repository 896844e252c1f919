// Matcher submit and analyse against the project's own definitions: the input is the file
// submitted, then every ranked hit is queried as the engine's generic stage queries it.
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "qrixlib/QrixLib.h"
#include "FuzzSupport.h"

namespace {
}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    // Built from data/qrix by the definitions compiler; its directory is compiled in.
    std::string dir = KIV_FUZZ_QRIXDEFS_DIR;
    if (Qrix_LoadDefsPack(dir.data()) <= 0) {
        std::fprintf(stderr, "fuzz_qrix_analyze: no definitions in %s/QrixDefs.QXD\n", KIV_FUZZ_QRIXDEFS_DIR);
        std::abort();
    }
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > kivfuzz::kMaxInput) return 0;
    const std::string file = kivfuzz::privateDir() + "/submitted.bin";
    kivfuzz::writeWhole(file, data, size);
    std::vector<char> path(file.begin(), file.end());
    path.push_back('\0');
    if (Qrix_SubmitFileA(path.data()) != 1) std::abort();  // a regular file we just wrote
    Qrix_Analyze();
    std::vector<char> out(4096);
    const int hits = Qrix_GetInfo(1, 0, out.data());
    for (int k = hits; k >= 1; --k)
        for (int mode : {2, 3, 4, 100}) Qrix_GetInfo(mode, k, out.data());
    Qrix_GetInfo(1005, 0, out.data());
    return 0;
}
