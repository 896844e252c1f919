// Engine-wide state shared by the lifecycle (EngineInterface.cpp) and the scan pipeline
// (Scan.cpp): the scan slots, the slot counter and the tables init fills for kivFileType.
// All of it is defined in EngineInterface.cpp, so no other unit's static initialiser may
// read it.
#pragma once

#include <magic.h>

#include <atomic>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "core/Limits.h"
#include "engine/QrixLib.h"

constexpr int PARALLEL_NUM = kiv::limits::kScanSlots;

// Slot i: libmagic description handle, libmagic MIME handle, matcher copy (qxd[i]) and the
// lock that guards all three during a scan's generic stage.
extern magic_t myt[PARALLEL_NUM];
extern magic_t myt_mime[PARALLEL_NUM];
extern std::mutex m_scanLock[PARALLEL_NUM];
// Round-robin slot counter, always 0..PARALLEL_NUM-1.
extern std::atomic<int> CURRENT_THREAD_INDEX;

// Tables of the second scan entry, filled by init.
extern std::map<std::string, std::string> listAlterExtensions;
extern std::vector<std::string> listTypeIdwithNoExtensions;
extern std::map<std::string, std::vector<std::string>> listTypeIdAlterByExtension;

namespace kiv {

// The round-robin slot: replaces v by (v + 1) mod PARALLEL_NUM and answers v.
int getThreadIndex();

// Locks a slot for one generic stage and answers it: the calling thread's home slot when it
// is free (each thread's first call takes its home from getThreadIndex), else the first free
// slot from the counter on; only when all are busy does it wait, on the slot getThreadIndex
// names. A slot is never held by two scans at once.
int lockFreeSlot();

// True between an init that answered 0 and deinit.
bool engineReady();

// The reason this thread's last scan (or, before any, init) could not give: libmagic's error
// of its generic stage, copied while the slot was locked, or why the archiver could not run.
// "" when there is none; getLastError hands it out.
const char* lastMagicError();
void setLastMagicError(const char* text);

}  // namespace kiv
