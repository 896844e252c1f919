// The configuration schema JSON, the configuration JSON and their readers.
#pragma once

#include <rapidjson/document.h>

#include <map>
#include <string>
#include <utility>
#include <vector>

#include "config/EngineTypes.h"

class JSONUtil {
public:
    // Known options; only their display names and info texts are ever used.
    static const std::vector<ValidConfig> defaultConfigInfo;

    // Fills an empty display name and empty infos of every entry whose (id, type) is known.
    static void adjustConfig(EngineSchema& schema);
    static void createSchema(const EngineSchema& schema, std::string& out);
    // Writes the schema JSON, reads the input (configuration JSON or key=value lines) and
    // writes the configuration JSON. False only when a JSON input cannot be read.
    static bool convertJSON(const std::string& input, const EngineSchema& schema, std::string& schemaOut,
                            std::string& configOut, std::string& error);
    // Reads a configuration JSON into values (first occurrence of a key wins). 1 or 0.
    static int parseInputJSON(std::string input, const EngineSchema& schema, std::map<std::string, std::string>& values,
                              std::string& tempDir);
    static void createConfigOut(const EngineSchema& schema, const std::map<std::string, std::string>& values,
                                const std::string& tempDir, std::string& out);
    // One key=value line: split at the last "=", both sides trimmed.
    static std::pair<std::string, std::string> getValueOf(std::string line);
};

// The interface version carried in a product id such as "engine_3_cfg" (3).
int getApiVersion(std::string name);

// The schema object of one entry; list (the schema's entries) resolves its fieldIds.
rapidjson::Value generateConfigJson(const ValidConfig& entry, rapidjson::Document::AllocatorType& allocator,
                                    const std::vector<ValidConfig>& list);
// A copy of the first entry with this id, or the placeholder ("", 0, "bool", "", "").
ValidConfig getConfigFromList(const std::string& id, const std::vector<ValidConfig>& list);
