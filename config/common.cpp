// Ini settings readers, the small text entry points and the engine properties.
#include "config/common.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <string>

#include "config/ConfigExports.h"
#include "config/StringUtil.h"
#include "core/Limits.h"
#include "engine/CommonUtils.h"
#include "engine/HostApi.h"
#include "engine/Result.h"

namespace kiv::config {
namespace {

// Reads an ini file into text. Only a regular file is read: a FIFO would block and a link to
// a device such as /dev/zero would never end. Past the size cap the last, cut line is dropped.
bool readIniText(const std::string& path, std::string& text) {
    struct stat st;
    if (stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return false;
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd < 0) return false;
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        close(fd);
        return false;
    }
    const size_t cap = kiv::limits::kIniFileMaxBytes;
    text.clear();
    char buffer[16384];
    while (text.size() <= cap) {
        const ssize_t n = read(fd, buffer, std::min(sizeof buffer, cap + 1 - text.size()));
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            close(fd);
            return false;
        }
        if (n == 0) break;
        text.append(buffer, static_cast<size_t>(n));
    }
    close(fd);
    if (text.size() > cap) {
        const size_t lastLf = text.rfind('\n', cap - 1);
        text.resize(lastLf == std::string::npos ? 0 : lastLf + 1);
    }
    return true;
}

bool boolValue(const std::string& text, bool defaultValue) {
    if (defaultValue) return !(text == "0" || text == "false");
    return text == "1" || text == "true";
}

}  // namespace

std::optional<std::string> readSetting(const std::string& path, const std::string& section, const std::string& key) {
    std::string data;
    if (!readIniText(path, data)) return std::nullopt;
    const std::string header = "[" + section + "]";
    const std::string prefix = key + "=";
    bool headerSeen = false;
    bool inSection = false;
    std::optional<std::string> value;
    size_t pos = 0;
    while (pos < data.size()) {
        const size_t lf = data.find('\n', pos);
        const size_t end = lf == std::string::npos ? data.size() : lf;
        std::string line = StringUtil::trim(data.substr(pos, end - pos));
        pos = end + 1;
        if (line.empty()) continue;
        if (line[0] == '[') {
            if (line == header) {
                inSection = true;
            } else if (inSection) {
                break;  // the requested section ends at the next foreign header
            }
            headerSeen = true;
            continue;
        }
        // Settings above the first header belong to every section.
        if (headerSeen && !inSection) continue;
        CommonUtils::removeSpace(line);
        if (line.compare(0, prefix.size(), prefix) == 0) {
            // A quoted value keeps its opening quote after the line trim; trim it as the
            // configuration JSON's key=value reader does.
            value = StringUtil::trim(line.substr(prefix.size()));
            break;
        }
    }
    if (!value || value->empty()) return std::nullopt;
    return value;
}

std::string withPathEnding(std::string path) {
    if (path.empty() || path.back() != '/') path.push_back('/');
    return path;
}

std::optional<std::string> kivSetting(const std::string& hostDir, const char* section, const char* key) {
    if (section == nullptr || key == nullptr || hostDir.empty()) return std::nullopt;
    return readSetting(withPathEnding(hostDir) + "kivConfig.ini", section, key);
}

std::optional<std::string> engineConfig(const char* section, const char* key, unsigned int mode,
                                        const std::string& hostDir) {
    if (section == nullptr || key == nullptr) return std::nullopt;
    char cwd[4096];
    if (getcwd(cwd, sizeof cwd) == nullptr) return std::nullopt;
    const std::string dir = withPathEnding(cwd);
    if (mode != 1) {
        // The working directory's kivConfig.ini is always read in section engine.
        if (auto v = readSetting(dir + "kivConfig.ini", "engine", key)) return v;
        if (auto v = readSetting(dir + "kivConfig_engine.ini", section, key)) return v;
        return kivSetting(hostDir, section, key);
    }
    if (auto v = readSetting(dir + "kivConfig.ini", section, key)) return v;
    return readSetting(dir + "kivDSConfig.ini", section, key);
}

bool engineConfigMix(const char* section, const std::map<std::string, std::string>& values, const char* key, void* out,
                     int asText, bool defaultValue, const std::string& hostDir) {
    if (key == nullptr || out == nullptr) return false;
    if (!values.empty()) {
        const auto found = values.find(key);
        const bool have = found != values.end();
        if (asText != 0) {
            if (have) *static_cast<std::string*>(out) = found->second;
        } else {
            *static_cast<bool*>(out) = boolValue(have ? found->second : std::string(), defaultValue);
        }
        return have;
    }
    // Without a map the ini files answer, and an absent setting still yields a usable value.
    const std::string text = engineConfig(section, key, 0, hostDir).value_or(std::string());
    if (asText != 0) {
        *static_cast<std::string*>(out) = text;
    } else {
        *static_cast<bool*>(out) = boolValue(text, defaultValue);
    }
    return true;
}

bool isAvailableValue(const std::string& availableValues, const std::string& value) {
    if (availableValues.empty()) return true;
    // A value holding "|" would match across two tokens ("0|1" inside "|0|1|").
    if (value.find('|') != std::string::npos) return false;
    return availableValues.find("|" + value + "|") != std::string::npos;
}

}  // namespace kiv::config

namespace {

char* registerText(const std::string& text) { return const_cast<char*>(addString(text.c_str())); }

char* registerValue(const std::optional<std::string>& value) { return value ? registerText(*value) : nullptr; }

}  // namespace

using namespace kiv::config;

// Host entry points: nothing may throw across them; an allocation failure answers null/false.

KIV_EXPORT char* ensurePathEnding(const char* path) {
    if (path == nullptr || *path == '\0') return nullptr;
    try {
        return registerText(withPathEnding(path));
    } catch (...) {
        return nullptr;
    }
}

KIV_EXPORT char* trim(const char* text) {
    if (text == nullptr || *text == '\0') return nullptr;
    try {
        const std::string trimmed = StringUtil::trim(text);
        return trimmed.empty() ? nullptr : registerText(trimmed);
    } catch (...) {
        return nullptr;
    }
}

KIV_EXPORT char* removeSpace(char* text) {
    if (text == nullptr || *text == '\0') return nullptr;
    try {
        std::string copy(text);
        CommonUtils::removeSpace(copy);
        return registerText(copy);
    } catch (...) {
        return nullptr;
    }
}

KIV_EXPORT char* readSettingFromConfig(char* file, const char* section, const char* key) {
    if (file == nullptr || section == nullptr || key == nullptr) return nullptr;
    try {
        return registerValue(readSetting(file, section, key));
    } catch (...) {
        return nullptr;
    }
}

KIV_EXPORT char* getKIVSettingStr(const char* section, const char* key) {
    try {
        return registerValue(kivSetting(kHostDataDir, section, key));
    } catch (...) {
        return nullptr;
    }
}

KIV_EXPORT char* getEngineConfig(const char* section, const char* key, unsigned int mode) {
    try {
        return registerValue(engineConfig(section, key, mode, kHostDataDir));
    } catch (...) {
        return nullptr;
    }
}

KIV_EXPORT bool getEngineConfigFromMap(const std::map<std::string, std::string>& values, const std::string& key,
                                       std::string& out) {
    try {
        const auto found = values.find(key);
        if (found == values.end()) return false;
        out = found->second;
        return true;
    } catch (...) {
        return false;
    }
}

KIV_EXPORT bool getBoolValue(const std::string& text, bool defaultValue) { return boolValue(text, defaultValue); }

KIV_EXPORT bool getEngineConfigMix(const char* section, const std::map<std::string, std::string>& values,
                                   const char* key, void* out, int asText, bool defaultValue) {
    try {
        return engineConfigMix(section, values, key, out, asText, defaultValue, kHostDataDir);
    } catch (...) {
        return false;
    }
}

KIV_EXPORT void createBasicSupportedProperties(std::map<std::string, EngineProperty>& properties) {
    try {
        properties.clear();
        properties["extract_archive"] = EngineProperty{"extract_archive", "", "|0|1|", true, false};
        properties["heuristic_scan"] = EngineProperty{"heuristic_scan", "", "|0|1|", true, false};
    } catch (...) {
    }
}

KIV_EXPORT int getEngineProperties(std::map<std::string, EngineProperty>& properties, const char* name,
                                   const char** out) {
    if (name == nullptr || out == nullptr) return 50;
    try {
        std::string text;
        if (*name == '\0') {
            text = "[";
            for (const auto& entry : properties) {
                const EngineProperty& p = entry.second;
                if (!p.supported) continue;
                text += "{\"prop_name\":\"" + escapeJsonString(p.name) + "\",\"prop_value\":\"" +
                        escapeJsonString(p.value) + "\",\"available_value\":\"" + escapeJsonString(p.availableValues) +
                        "\",\"read_only\":" + (p.readOnly ? "1" : "0") + "},";
            }
            if (text.back() == ',') text.pop_back();
            text += "]";
        } else {
            const auto found = properties.find(name);
            if (found == properties.end()) return 55;
            text = found->second.value;
        }
        const char* registered = addString(text.c_str());
        if (registered == nullptr) return 50;
        *out = registered;
        return 0;
    } catch (...) {
        return 50;
    }
}

KIV_EXPORT int validateAndSetPropertyToMap(std::map<std::string, EngineProperty>& properties, const char* name,
                                           const char* value, bool honourReadOnly) {
    if (name == nullptr || value == nullptr) return 50;
    try {
        const auto found = properties.find(name);
        if (found == properties.end()) return 55;
        EngineProperty& p = found->second;
        if (honourReadOnly && p.readOnly) return 50;
        if (!isAvailableValue(p.availableValues, value)) return 50;
        p.value = value;
        return 0;
    } catch (...) {
        return 50;
    }
}
