// The engine's host entry points as a host program takes them from ./kiv_engine.so in its
// working directory: kivscan and the cost benchmark (bench/cost/bench_cost.cpp).
#pragma once

#include <dlfcn.h>

#include "engine/HostApi.h"

struct HostEngine {
    void* handle = nullptr;
    decltype(&::init) init = nullptr;
    decltype(&::deinit) deinit = nullptr;
    decltype(&::scan) scan = nullptr;
    decltype(&::kivFileType) kivFileType = nullptr;
    decltype(&::freeString) freeString = nullptr;
    decltype(&::getLastError) getLastError = nullptr;
};

constexpr const char* kHostEngineFile = "./kiv_engine.so";

// Opens the library and looks up every entry point; false when it cannot be opened (dlerror()
// says why). An entry point the library lacks stays null.
inline bool openHostEngine(HostEngine& e) {
    e.handle = dlopen(kHostEngineFile, RTLD_NOW | RTLD_LOCAL);
    if (e.handle == nullptr) return false;
    auto sym = [&](const char* name) { return dlsym(e.handle, name); };
    e.init = reinterpret_cast<decltype(e.init)>(sym("init"));
    e.deinit = reinterpret_cast<decltype(e.deinit)>(sym("deinit"));
    e.scan = reinterpret_cast<decltype(e.scan)>(sym("scan"));
    e.kivFileType = reinterpret_cast<decltype(e.kivFileType)>(sym("kivFileType"));
    e.freeString = reinterpret_cast<decltype(e.freeString)>(sym("freeString"));
    e.getLastError = reinterpret_cast<decltype(e.getLastError)>(sym("getLastError"));
    return true;
}
