// Configuration input from the host: the configuration JSON reader, and the conversion that
// also takes key=value lines, both through their host entry points and against a schema
// with every entry kind (bool, select, bounded number, a nested entry).
#include <map>
#include <string>

#include "config/ConfigExports.h"
#include "FuzzSupport.h"

namespace {

ValidConfig entry(const std::string& id, const std::string& type, std::vector<uint64_t> numbers) {
    ValidConfig e(id, 0, type, "", "");
    e.numberValues = std::move(numbers);
    return e;
}

const EngineSchema& schema() {
    static const EngineSchema s = [] {
        EngineSchema x{"engine_3_cfg", "Engine", 1.0f, {}};
        x.entries = {entry("deep_scan", "bool", {1}), entry("heuristic_scan", "select", {1, 0, 1, 2, 3}),
                     entry("max_file_size", "number", {100, 0, 1000}), entry("archive", "bool", {0}),
                     entry("max_extract_depth", "number", {5, 0, 10}), ValidConfig("temp", "/tmp", "string", "", "")};
        x.entries[3].fieldIds = {"max_extract_depth"};
        x.entries[4].parentId = "archive";
        return x;
    }();
    return s;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > kivfuzz::kMaxInput) return 0;
    const std::string input(reinterpret_cast<const char*>(data), size);
    std::map<std::string, std::string> values;
    std::string tempDir;
    parseInputJSON(input, schema(), values, &tempDir);
    std::string schemaOut, configOut, error;
    convertJSON(input, schema(), schemaOut, configOut, error);
    return 0;
}
