// Every text handed to the host is a copy kept here until the host gives it back with
// freeString. List nodes never move, so a registered text's address stays valid.
#include <list>
#include <mutex>
#include <string>
#include <unordered_map>

#include "engine/HostApi.h"
#include "engine/Result.h"

namespace {

struct Registry {
    std::mutex mutex;
    std::list<std::string> strings;  // in order of registration
    // Address of each entry's characters, so that freeing does not walk the list.
    std::unordered_map<const char*, std::list<std::string>::iterator> byAddress;
};

// Built on first use: other units may hand out strings from their own initialisers.
Registry& registry() {
    static Registry r;
    return r;
}

}  // namespace

KIV_EXPORT const char* addString(const char* text) {
    if (text == nullptr) return nullptr;
    try {
        Registry& r = registry();
        std::string copy(text);
        std::lock_guard<std::mutex> lock(r.mutex);
        r.strings.push_back(std::move(copy));
        auto it = std::prev(r.strings.end());
        try {
            r.byAddress.emplace(it->c_str(), it);
        } catch (...) {
            r.strings.erase(it);
            throw;
        }
        return it->c_str();
    } catch (...) {
        return nullptr;  // out of memory: nothing registered
    }
}

KIV_EXPORT int freeString(char** text) {
    if (text == nullptr || *text == nullptr) return 0;
    try {
        Registry& r = registry();
        std::lock_guard<std::mutex> lock(r.mutex);
        auto found = r.byAddress.find(*text);
        if (found == r.byAddress.end()) return 0;  // foreign, already freed, or inside a text
        r.strings.erase(found->second);
        r.byAddress.erase(found);
        *text = nullptr;
    } catch (...) {
    }
    return 0;
}

size_t kiv::registeredStringCount() {
    Registry& r = registry();
    std::lock_guard<std::mutex> lock(r.mutex);
    return r.strings.size();
}
