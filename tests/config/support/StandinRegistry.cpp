// Test-only stand-ins for the engine's string registry and JSON escaper, used until the
// engine library that defines them is part of the build. Same contract: a registered copy
// per addString, release by address with freeString.
#include <cstring>
#include <list>
#include <mutex>
#include <string>

#include "engine/HostApi.h"
#include "engine/Result.h"

namespace {
std::list<std::string>& registry() {
    static std::list<std::string> strings;
    return strings;
}
std::mutex& registryMutex() {
    static std::mutex m;
    return m;
}
}  // namespace

KIV_EXPORT const char* addString(const char* text) {
    if (text == nullptr) return nullptr;
    std::lock_guard<std::mutex> lock(registryMutex());
    registry().emplace_back(text);
    return registry().back().c_str();
}

KIV_EXPORT int freeString(char** text) {
    if (text == nullptr || *text == nullptr) return 0;
    std::lock_guard<std::mutex> lock(registryMutex());
    for (auto it = registry().begin(); it != registry().end(); ++it) {
        if (it->c_str() == *text) {
            registry().erase(it);
            *text = nullptr;
            break;
        }
    }
    return 0;
}

size_t kiv::registeredStringCount() {
    std::lock_guard<std::mutex> lock(registryMutex());
    return registry().size();
}

std::string escapeJsonString(const std::string& text) {
    static const char kHex[] = "0123456789ABCDEF";
    std::string out;
    for (char c : text) {
        switch (c) {
            case '\b':
                out += "\\b";
                break;
            case '\t':
                out += "\\t";
                break;
            case '\n':
                out += "\\n";
                break;
            case '\f':
                out += "\\f";
                break;
            case '\r':
                out += "\\r";
                break;
            case '"':
                out += "\\\"";
                break;
            case '\\':
                out += "\\\\";
                break;
            default:
                if (static_cast<unsigned char>(c) < 0x20) {
                    out += "\\u00";
                    out += kHex[(c >> 4) & 0x0F];
                    out += kHex[c & 0x0F];
                } else {
                    out += c;
                }
        }
    }
    return out;
}
