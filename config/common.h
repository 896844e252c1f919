// Internals of the ini settings readers and the engine properties. The host entry points
// (ConfigExports.h) are thin wrappers over these; tests call them with a directory of their
// own in place of the host's data directory.
#pragma once

#include <map>
#include <optional>
#include <string>

namespace kiv::config {

// The host's data directory, searched for kivConfig.ini after the working directory.
constexpr const char* kHostDataDir = "/var/lib/kivhost";

// The non-empty value of key in section of the ini file at path.
std::optional<std::string> readSetting(const std::string& path, const std::string& section, const std::string& key);
// The value from kivConfig.ini in hostDir.
std::optional<std::string> kivSetting(const std::string& hostDir, const char* section, const char* key);
// The lookup of getEngineConfig, with hostDir as the host's data directory.
std::optional<std::string> engineConfig(const char* section, const char* key, unsigned int mode,
                                        const std::string& hostDir);
bool engineConfigMix(const char* section, const std::map<std::string, std::string>& values, const char* key, void* out,
                     int asText, bool defaultValue, const std::string& hostDir);

// path with a trailing "/".
std::string withPathEnding(std::string path);
// True when value is one of the "|"-enclosed tokens of availableValues.
bool isAvailableValue(const std::string& availableValues, const std::string& value);

}  // namespace kiv::config
