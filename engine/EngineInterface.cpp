// Lifecycle and information queries: the 30 scan slots, init and deinit, and the small
// queries the host asks. Every engine-wide global lives in this one unit, so no static
// initialiser of another unit can see it half-built.
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <exception>

#include "core/TypeTables.h"
#include "engine/CommonUtils.h"
#include "engine/Engine.h"
#include "engine/Families.h"
#include "engine/HostApi.h"
#include "engine/TypeCatalogue.h"
#include "engine/mapping/regexptable.h"
#include "formats/archive/ZipArchive.h"

magic_t myt[PARALLEL_NUM];
magic_t myt_mime[PARALLEL_NUM];
std::mutex m_scanLock[PARALLEL_NUM];
std::atomic<int> CURRENT_THREAD_INDEX{0};
qrix qxd[PARALLEL_NUM];

std::map<std::string, std::string> listAlterExtensions;
std::vector<std::string> listTypeIdwithNoExtensions;
std::map<std::string, std::vector<std::string>> listTypeIdAlterByExtension;

namespace {

// libmagic reads the descriptor the scan opened (a link is already followed), so no flag for
// links is needed.
constexpr int kMagicFlags = MAGIC_RAW | MAGIC_ERROR;                        // 0x300
constexpr int kMagicMimeFlags = MAGIC_MIME_TYPE | MAGIC_RAW | MAGIC_ERROR;  // 0x310
constexpr const char* kMagicDatabase = "database/magic/magic.mgc";

std::atomic<bool> gReady{false};
// Process-wide tables (catalogue, signature tables, probe tables) are built once, however
// often the host runs init and deinit.
std::once_flag gTablesBuilt;

// Trivially destructible on purpose: a thread_local with a destructor would pin the library
// in memory, so unloading would no longer remove the matcher copies.
thread_local char tLastMagicError[kiv::limits::kLastErrorBytes];
// The slot this thread's scans take whenever it is free, handed out by the round-robin counter
// at the thread's first generic stage: a slot's libmagic handles and matcher copy keep their
// buffers in the heap of the one thread that uses them, and thirty threads never meet on a slot.
thread_local int tHomeSlot = -1;

// The compiled magic database, mapped once read-only and shared by every handle until deinit:
// libmagic reads a loaded buffer in place, so sixty handles cost one copy of the file. A buffer
// is never parsed as text rules, so a damaged file fails quietly instead of flooding stderr.
struct MappedDatabase {
    void* bytes;
    size_t size;
    bool foreignOrder;  // compiled on a machine of the other byte order
};
MappedDatabase gMagicDatabase{nullptr, 0, false};
// The first word of a compiled database.
constexpr uint32_t kCompiledMagic = 0xF11E041C;
// A compiled database holds a header and at least one entry; libmagic refuses anything shorter.
constexpr off_t kMagicDatabaseMinBytes = 8;

bool mapMagicDatabase() {
    if (gMagicDatabase.bytes != nullptr) return true;
    const int fd = ::open(kMagicDatabase, O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    struct stat st;
    void* p = MAP_FAILED;
    if (fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_size >= kMagicDatabaseMinBytes)
        p = mmap(nullptr, static_cast<size_t>(st.st_size), PROT_READ, MAP_PRIVATE, fd, 0);
    ::close(fd);
    if (p == MAP_FAILED) return false;
    uint32_t first = 0;
    std::memcpy(&first, p, sizeof first);
    gMagicDatabase = {p, static_cast<size_t>(st.st_size), first == __builtin_bswap32(kCompiledMagic)};
    return true;
}

// After every handle that reads the mapping is closed.
void unmapMagicDatabase() {
    if (gMagicDatabase.bytes != nullptr) munmap(gMagicDatabase.bytes, gMagicDatabase.size);
    gMagicDatabase = {nullptr, 0, false};
}

// libmagic swaps a database of the other byte order in place, which a shared read-only mapping
// cannot take; such a file is loaded per handle from its path, as before.
bool loadMagicDatabase(magic_t handle) {
    if (gMagicDatabase.foreignOrder) return magic_load(handle, kMagicDatabase) == 0;
    void* buffers[] = {gMagicDatabase.bytes};
    size_t sizes[] = {gMagicDatabase.size};
    return magic_load_buffers(handle, buffers, sizes, 1) == 0;
}

void closeSlots() {
    for (int i = 0; i < PARALLEL_NUM; ++i) {
        if (myt[i] != nullptr) magic_close(myt[i]);
        if (myt_mime[i] != nullptr) magic_close(myt_mime[i]);
        myt[i] = nullptr;
        myt_mime[i] = nullptr;
    }
    unmapMagicDatabase();
}

bool openSlot(int i) {
    myt[i] = magic_open(kMagicFlags);
    myt_mime[i] = magic_open(kMagicMimeFlags);
    if (myt[i] == nullptr || myt_mime[i] == nullptr) return false;
    // The matcher copy is bound before libmagic loads its database.
    if (qxd[i].Init(i) < 1) return false;
    if (!mapMagicDatabase()) return false;
    if (!loadMagicDatabase(myt[i])) return false;
    if (!loadMagicDatabase(myt_mime[i])) return false;
    return true;
}

// Adds execute permission to the archiver in the working directory, without a shell and
// without following a symlink out of it; anything else is left alone.
void makeArchiverExecutable(const std::string& dir) {
    std::string path = dir + "7za";
    int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) return;
    struct stat st;
    if (fstat(fd, &st) == 0 && S_ISREG(st.st_mode)) (void)fchmod(fd, 0755);
    ::close(fd);
}

void buildTables() {
    initFileTypeGroup();
    initISOVecSignatures();
    initFallBackSignatures();
    AutoCADUtil::init();
    ArchiveFTAUtils::init();
}

void fillExtensionTables() {
    listAlterExtensions = {{"HTM", "HTML"}};
    listTypeIdwithNoExtensions = {"DOC-ENCRYPTED", "DOT-ENCRYPTED", "XLS-ENCRYPTED", "XLT-ENCRYPTED", "PPT-ENCRYPTED",
                                  "PPS-ENCRYPTED", "POT-ENCRYPTED", "MSO-ENCRYPTED", "VSD-ENCRYPTED", "VSS-ENCRYPTED",
                                  "VST-ENCRYPTED", "JTD-ENCRYPTED", "PDF-ENCRYPTED", "ZIP-ENCRYPTED"};
    listTypeIdAlterByExtension = {
        {"PPT", {"PPT", "POT", "PPS"}}, {"PPT-ENCRYPTED", {"PPT", "POT", "PPS"}}, {"MHT", {"MHT", "MHTML", "EML"}},
        {"VSD", {"VSD", "VSS", "VST"}}, {"VDX", {"VDX", "VSX", "VTX"}},
    };
}

int registered(char** out, const char* text) {
    const char* copy = addString(text);
    if (copy == nullptr) return 1;
    *out = const_cast<char*>(copy);
    return 0;
}

}  // namespace

namespace kiv {

int getThreadIndex() {
    int v = CURRENT_THREAD_INDEX.load();
    while (!CURRENT_THREAD_INDEX.compare_exchange_weak(v, (v + 1) % PARALLEL_NUM)) {
    }
    return v;
}

int lockFreeSlot() {
    if (tHomeSlot < 0) tHomeSlot = getThreadIndex();
    if (m_scanLock[tHomeSlot].try_lock()) return tHomeSlot;
    // Borrowed: the slots the counter hands out next are the ones the fewest threads call home.
    const int next = CURRENT_THREAD_INDEX.load();
    for (int k = 0; k < PARALLEL_NUM; ++k) {
        const int i = (next + k) % PARALLEL_NUM;
        if (m_scanLock[i].try_lock()) return i;
    }
    const int slot = getThreadIndex();
    m_scanLock[slot].lock();
    return slot;
}

bool engineReady() { return gReady.load(); }

const char* lastMagicError() { return tLastMagicError; }

void setLastMagicError(const char* text) {
    if (text == nullptr) {
        tLastMagicError[0] = '\0';
        return;
    }
    std::strncpy(tLastMagicError, text, sizeof tLastMagicError - 1);
    tLastMagicError[sizeof tLastMagicError - 1] = '\0';
}

}  // namespace kiv

// A second init while the engine is ready answers 0 and changes nothing. A failed init
// closes what it opened, so the host may try again.
KIV_EXPORT int init() {
    if (gReady.load()) return 0;
    try {
        regexpTable.init();
        qrix::removeCopiesOfEndedHosts();
        for (int i = 0; i < PARALLEL_NUM; ++i) {
            if (!openSlot(i)) {
                closeSlots();
                return 1;
            }
        }
        currentDir = CommonUtils::getCurrentDir();
        if (currentDir.empty()) {
            closeSlots();
            return 1;
        }
        makeArchiverExecutable(currentDir);
        // Proven once here rather than assumed from its mode bits. The engine starts without a
        // working archiver; the host can learn why from getLastError on this thread.
        kiv::setLastMagicError(ZipArchive::checkArchiver().c_str());
        std::call_once(gTablesBuilt, buildTables);
        CURRENT_THREAD_INDEX = 0;
        fillExtensionTables();
        gReady = true;
        return 0;
    } catch (...) {
        closeSlots();
        return 1;
    }
}

// At unload (or at the host's exit without deinit), archiver runs still going end with it.
__attribute__((destructor)) static void stopRunsAtUnload() { CommonUtils::stopAllRuns(); }

KIV_EXPORT int deinit() {
    try {
        gReady = false;
        // Archiver runs still going end now, with everything they started; their scans give
        // no answer.
        CommonUtils::stopAllRuns();
        // Wait for scans still in their generic stage before their handles go away.
        for (int i = 0; i < PARALLEL_NUM; ++i) {
            std::lock_guard<std::mutex> lock(m_scanLock[i]);
            if (myt[i] != nullptr) magic_close(myt[i]);
            if (myt_mime[i] != nullptr) magic_close(myt_mime[i]);
            myt[i] = nullptr;
            myt_mime[i] = nullptr;
        }
        unmapMagicDatabase();
    } catch (...) {
    }
    return 0;
}

KIV_EXPORT int update() { return 0; }
KIV_EXPORT int reloadDatabase(void*) { return 0; }
KIV_EXPORT int reloadConfig() { return 0; }

KIV_EXPORT int getEngineCapabilities(unsigned char* flags) {
    if (flags == nullptr) return 1;
    *flags = static_cast<unsigned char>((*flags & ~0x02u) | 0x01u);
    return 0;
}

KIV_EXPORT int getDefinitionInfo(char** engineVersion, char** definitionVersion, char** definitionDate,
                                 uint64_t* definitionCount) {
    if (!engineVersion || !definitionVersion || !definitionDate || !definitionCount) return 1;
    char* a = nullptr;
    char* b = nullptr;
    char* c = nullptr;
    if (registered(&a, "5.2.11") != 0 || registered(&b, "5.2.11") != 0 || registered(&c, "NaN") != 0) {
        freeString(&a);
        freeString(&b);
        freeString(&c);
        return 1;
    }
    *engineVersion = a;
    *definitionVersion = b;
    *definitionDate = c;
    *definitionCount = 0;
    return 0;
}

KIV_EXPORT int getFileTypeGroup(char** json) {
    if (json == nullptr) return 1;
    try {
        return registered(json, cacheFileTypeGroups.c_str());
    } catch (...) {
        return 1;
    }
}

// Why this thread's last scan failed: libmagic's error, copied while that scan held its slot
// (reading a handle without its lock could meet another scan freeing the text), or why 7za
// could not give a member the scan needed; before any scan, why init found 7za unable to run.
// The text is not registered and stays valid until this thread's next scan.
KIV_EXPORT int getLastError(const char** text) {
    if (text == nullptr) return 1;
    const char* error = kiv::lastMagicError();
    if (error[0] != '\0') {
        *text = error;
        return 0;
    }
    const char* unknown = addString("Unknown error");
    if (unknown == nullptr) return 1;
    *text = unknown;
    return 0;
}

KIV_EXPORT int getInterfaceVersion(uint32_t* version) {
    if (version == nullptr) return 1;
    *version = 3;
    return 0;
}

KIV_EXPORT int getEngineType(uint32_t* type) {
    if (type == nullptr) return 1;
    *type = 2;
    return 0;
}

KIV_EXPORT int getProductName(char** name) {
    if (name == nullptr) return 1;
    return registered(name, "FileType");
}
