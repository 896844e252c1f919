// Ini settings reader: the file is written to a private directory and read back for a few
// section and key pairs, including the first section header and key the input itself names.
#include <string>

#include "config/common.h"
#include "FuzzSupport.h"

namespace {

// Real settings files are a few hundred bytes; the reader itself stops at 1 MiB.
constexpr size_t kMaxInput = 1 << 18;

// The text between open and close after the first open in text, or "" when there is none.
std::string firstBetween(const std::string& text, char open, char close) {
    const size_t a = text.find(open);
    if (a == std::string::npos) return "";
    const size_t b = text.find(close, a + 1);
    return b == std::string::npos ? "" : text.substr(a + 1, b - a - 1);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > kMaxInput) return 0;
    const std::string path = kivfuzz::privateDir() + "/kivConfig.ini";
    kivfuzz::writeWhole(path, data, size);
    const std::string text(reinterpret_cast<const char*>(data), size);
    // A key as a line starts it: from the line feed before the first '=' (or the start).
    const size_t eq = text.find('=');
    std::string key;
    if (eq != std::string::npos) {
        const size_t lf = text.rfind('\n', eq);
        key = text.substr(lf == std::string::npos ? 0 : lf + 1, eq - (lf == std::string::npos ? 0 : lf + 1));
    }
    kiv::config::readSetting(path, "engine", "deep_scan");
    kiv::config::readSetting(path, "engine", "temp_dir");
    kiv::config::readSetting(path, firstBetween(text, '[', ']'), key);
    kiv::config::kivSetting(kivfuzz::privateDir(), "engine", key.c_str());
    return 0;
}
