// Loader of the signature matcher. The matcher keeps all its state in library globals, so
// every scan slot binds a private copy of the library file ("lib." + slot) and calls it only
// under the slot's lock.
#pragma once

#include <sys/stat.h>
#include <sys/types.h>

#include <string>

#include "core/Limits.h"

class qrix {
public:
    qrix() = default;
    ~qrix();
    qrix(const qrix&) = delete;
    qrix& operator=(const qrix&) = delete;

    // Copies libQrixLib.so of the working directory to a new file of its own, binds the copy
    // under that private name, renames it to lib.<slot> and loads the definitions package from
    // database/qrix/. Answers the number of definitions loaded; 0 (or the matcher's own answer
    // below 1) on failure. A previous binding is released first.
    int Init(int slot);

    // Forwarders; valid only after an Init that answered at least 1.
    int Analyze();
    int GetInfo(int mode, int index, char* out);
    int LoadDefsPack(char* dir);
    int SubmitFileA(char* path);

    bool bound() const { return analyze_ != nullptr; }

    // Removes from the working directory the copies (published or still private) that no
    // living host holds: those of hosts killed before they could remove their own. A host
    // holds a lock on each of its copies while it lives.
    static void removeCopiesOfEndedHosts();
    // The copy's file name ("lib.7"); empty before Init.
    const std::string& copyPath() const { return path_; }

private:
    void release();

    int (*analyze_)() = nullptr;
    int (*getInfo_)(int, int, char*) = nullptr;
    int (*loadDefsPack_)(char*) = nullptr;
    // The export takes const char*; calling it through any other function type is undefined.
    int (*submitFileA_)(const char*) = nullptr;
    void* handle_ = nullptr;
    std::string path_;
    // Absolute forms of the working directory and of path_, taken at Init.
    std::string dir_;
    std::string fullPath_;
    // The file this loader wrote, and the process that wrote it: lib.N is removed only while
    // it still holds that file, and only by that process.
    struct stat written_ {};
    bool published_ = false;
    pid_t owner_ = 0;
    // The copy's descriptor, holding its lock until release.
    int lockFd_ = -1;
};

// One loader per scan slot; destroyed at unload from the last slot down, removing the copies.
extern qrix qxd[kiv::limits::kScanSlots];
