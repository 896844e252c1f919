// The whole engine on one file: the input is written to a file and scanned through both host
// scan entries, so every cascade detector and, when none decides, the generic stage (libmagic,
// the matcher, the mapping rules and the post-rules) reads it, and the second entry applies
// its split-volume and extension rules. The engine is started once, in a private working
// directory laid out like the build's run directory.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "engine/HostApi.h"
#include "FuzzSupport.h"

namespace {

namespace fs = std::filesystem;

std::string& filesDir() {
    static std::string dir;
    return dir;
}

// Extensions the second entry treats specially (volume numbers, family variants, XML-based
// names, mismatch marks) and none at all; the input's last byte picks one.
constexpr const char* kExtensions[] = {"",    "001", "z01", "7z.001", "r00", "ppt", "pps", "vsd", "vdx",
                                       "mht", "eml", "htm", "xml",    "ova", "txt", "ini", "docx", "exe"};
constexpr size_t kExtensionCount = sizeof kExtensions / sizeof kExtensions[0];

void place(const fs::path& from, const fs::path& to) {
    std::error_code ec;
    fs::copy_file(from, to, fs::copy_options::overwrite_existing, ec);
    if (ec) {
        std::fprintf(stderr, "fuzz_scan: cannot copy %s: %s\n", from.c_str(), ec.message().c_str());
        std::abort();
    }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    const fs::path run = fs::path(kivfuzz::privateDir()) / "run";
    fs::create_directories(run / "database" / "magic");
    fs::create_directories(run / "database" / "qrix");
    fs::create_directories(run / "files");
    place(KIV_FUZZ_MAGIC_MGC, run / "database" / "magic" / "magic.mgc");
    place(std::string(KIV_FUZZ_QRIXDEFS_DIR) + "/QrixDefs.QXD", run / "database" / "qrix" / "QrixDefs.QXD");
    place(KIV_FUZZ_QRIXLIB, run / "libQrixLib.so");
    if (std::string(KIV_FUZZ_7ZA).size() > 0) place(KIV_FUZZ_7ZA, run / "7za");
    // init finds its files in the working directory and keeps absolute paths; going back
    // afterwards keeps the fuzzer's relative corpus and artifact paths valid.
    const fs::path back = fs::current_path();
    if (::chdir(run.c_str()) != 0 || init() != 0 || ::chdir(back.c_str()) != 0) {
        std::fprintf(stderr, "fuzz_scan: the engine did not start in %s\n", run.c_str());
        std::abort();
    }
    filesDir() = (run / "files").string();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > kivfuzz::kMaxInput) return 0;
    const char* extension = size > 0 ? kExtensions[data[size - 1] % kExtensionCount] : "";
    // The volume tests of the second entry also read the name, so the file carries the extension.
    const std::string path = filesDir() + "/input" + (*extension ? std::string(".") + extension : "");
    kivfuzz::writeWhole(path, data, size);
    // One scan at a time: every generic stage runs on slot 0, so the coverage of one matcher
    // copy is not counted again for each of the others.
    uint32_t status = 0;
    char* json = nullptr;
    if (scan(path.c_str(), &status, &json) == 0) freeString(&json);
    json = nullptr;
    if (kivFileType(path.c_str(), extension, &json) == 0) freeString(&json);
    ::unlink(path.c_str());
    return 0;
}
