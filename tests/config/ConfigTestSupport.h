// The configuration entry points as a host sees them: looked up by their plain names in the
// built library (dlopen, no init) and typed from the header that declares them, so a drifted
// signature fails to compile here. Plus schemas built the way a host builds them.
#pragma once

#include <dlfcn.h>
#include <gtest/gtest.h>
#include <rapidjson/document.h>

#include <string>
#include <vector>

#include "config/ConfigExports.h"
#include "engine/HostApi.h"

#define KIV_CONFIG_EXPORTS(X)                                                                                    \
    X(adjustConfig)                                                                                              \
    X(convertJSON)                                                                                               \
    X(parseInputJSON) X(readSettingFromConfig) X(getKIVSettingStr) X(getEngineConfig) X(getEngineConfigFromMap)  \
        X(getBoolValue) X(getEngineConfigMix) X(ensurePathEnding) X(trim) X(removeSpace)                         \
            X(createBasicSupportedProperties) X(getEngineProperties) X(validateAndSetPropertyToMap) X(addString) \
                X(freeString)

struct ConfigApi {
    void* handle = nullptr;
#define KIV_CONFIG_FIELD(name) decltype(&::name) name = nullptr;
    KIV_CONFIG_EXPORTS(KIV_CONFIG_FIELD)
#undef KIV_CONFIG_FIELD
};

// Loaded once per test process; a name that is not exported stays null.
inline const ConfigApi& configApi() {
    static const ConfigApi api = [] {
        ConfigApi a;
        a.handle = dlopen(KIV_ENGINE_PATH, RTLD_NOW | RTLD_LOCAL);
        if (a.handle == nullptr) return a;
#define KIV_CONFIG_LOOKUP(name) a.name = reinterpret_cast<decltype(&::name)>(dlsym(a.handle, #name));
        KIV_CONFIG_EXPORTS(KIV_CONFIG_LOOKUP)
#undef KIV_CONFIG_LOOKUP
        return a;
    }();
    return api;
}

// A returned text, released through the library: freeString clearing the pointer proves the
// text was registered.
inline std::string takeText(char* text) {
    if (text == nullptr) return "<null>";
    std::string copy(text);
    configApi().freeString(&text);
    EXPECT_EQ(text, nullptr) << "not a registered text: " << copy;
    return copy;
}

inline ValidConfig makeEntry(const std::string& id, const std::string& type, std::vector<uint64_t> numbers,
                             const std::string& displayName = "") {
    ValidConfig e(id, 0, type, displayName, "");
    e.numberValues = std::move(numbers);
    return e;
}

// deep_scan, a four-level select, a bounded number, and a feature holding a nested number.
inline EngineSchema goldenSchema() {
    EngineSchema s{"engine_3_cfg", "Engine", 1.0f, {}};
    s.entries = {makeEntry("deep_scan", "bool", {1}), makeEntry("heuristic_scan", "select", {1, 0, 1, 2, 3}),
                 makeEntry("max_file_size", "number", {100, 0, 1000}), makeEntry("archive", "bool", {0}, "Archive"),
                 makeEntry("max_extract_depth", "number", {5, 0, 10})};
    s.entries[3].fieldIds = {"max_extract_depth"};
    s.entries[4].parentId = "archive";
    return s;
}

inline bool isValidJson(const std::string& text) {
    rapidjson::Document d;
    d.Parse<rapidjson::kParseIterativeFlag>(text.data(), text.size());
    return !d.HasParseError();
}
