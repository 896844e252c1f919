// Records the host and the engine pass to each other by reference. Their field order and
// types are part of the host interface: the host, the engine and the tests all include this
// header and must be built with the same standard-library settings.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

// One option of the host's configuration schema.
struct ValidConfig {
    std::string id;
    std::string type;  // "bool", "number", "string", "select" or any other word
    std::string displayName;
    std::vector<std::string> infos;
    // [0] default of bool/number/select; number: [1] lower, [2] upper bound; select: [1..] allowed values.
    std::vector<uint64_t> numberValues;
    std::vector<std::string> stringValues;  // [0] default of a string entry
    std::vector<std::string> auxTexts;      // carried along, never read
    std::vector<std::string> fieldIds;      // ids of the entries nested under this one
    std::string parentId;                   // empty for a top-level entry

    // The int default is widened with its sign, so -1 is stored as all ones.
    ValidConfig(std::string id_, int def, std::string type_, std::string displayName_, std::string info)
        : id(std::move(id_)),
          type(std::move(type_)),
          displayName(std::move(displayName_)),
          numberValues{static_cast<uint64_t>(static_cast<int64_t>(def))} {
        if (!info.empty()) infos.push_back(std::move(info));
    }
    ValidConfig(std::string id_, std::string def, std::string type_, std::string displayName_, std::string info)
        : id(std::move(id_)),
          type(std::move(type_)),
          displayName(std::move(displayName_)),
          stringValues{std::move(def)} {
        if (!info.empty()) infos.push_back(std::move(info));
    }
};

struct EngineSchema {
    std::string id;  // carries the interface version between its first and last underscore
    std::string displayName;
    float version;
    std::vector<ValidConfig> entries;  // top-level and nested, in the host's order
};

struct EngineProperty {
    std::string name;
    std::string value;
    std::string availableValues;  // "|0|1|" allows 0 and 1; empty allows anything
    bool supported;
    bool readOnly;
};
