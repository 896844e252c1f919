// Host entry points of the configuration and property functions. Declared once here and
// included by their definitions, so a definition that drifts from this interface fails to
// compile; hosts and tests type their dlsym results from these declarations.
#pragma once

#include <map>
#include <string>

#include "config/EngineTypes.h"
#include "engine/Export.h"

// Configuration schema and configuration JSON.
KIV_EXPORT void adjustConfig(EngineSchema& schema);
KIV_EXPORT bool convertJSON(const std::string& input, const EngineSchema& schema, std::string& schemaOut,
                            std::string& configOut, std::string& error);
KIV_EXPORT int parseInputJSON(const std::string& input, const EngineSchema& schema,
                              std::map<std::string, std::string>& values, std::string* tempDir);

// Ini settings readers. Every char* result is a registered copy (release with freeString) or null.
KIV_EXPORT char* readSettingFromConfig(char* file, const char* section, const char* key);
KIV_EXPORT char* getKIVSettingStr(const char* section, const char* key);
KIV_EXPORT char* getEngineConfig(const char* section, const char* key, unsigned int mode);
KIV_EXPORT bool getEngineConfigFromMap(const std::map<std::string, std::string>& values, const std::string& key,
                                       std::string& out);
KIV_EXPORT bool getBoolValue(const std::string& text, bool defaultValue);
KIV_EXPORT bool getEngineConfigMix(const char* section, const std::map<std::string, std::string>& values,
                                   const char* key, void* out, int asText, bool defaultValue);
KIV_EXPORT char* ensurePathEnding(const char* path);
KIV_EXPORT char* trim(const char* text);
KIV_EXPORT char* removeSpace(char* text);

// Engine properties. Status: 0 done, 50 null argument or value refused, 55 unknown name.
KIV_EXPORT void createBasicSupportedProperties(std::map<std::string, EngineProperty>& properties);
KIV_EXPORT int getEngineProperties(std::map<std::string, EngineProperty>& properties, const char* name,
                                   const char** out);
KIV_EXPORT int validateAndSetPropertyToMap(std::map<std::string, EngineProperty>& properties, const char* name,
                                           const char* value, bool honourReadOnly);
