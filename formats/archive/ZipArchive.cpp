#include "formats/archive/ZipArchive.h"

#include <unistd.h>

#include <algorithm>

#include "engine/CommonUtils.h"
#include "engine/Limits.h"
#include "engine/TypeTables.h"
#include "formats/archive/ArchiveRead.h"
#include "formats/archive/ZipMemberReader.h"

using kiv::ByteSource;
using kiv::archive::getLE16;
using kiv::archive::getLE32;
using kiv::archive::readZ;

namespace zip = kiv::zip;

uint64_t ZipArchive::findEndCentralDirFromBot(const ByteSource& src, uint64_t size) {
    return zip::findEndRecord(src, size);
}

uint64_t ZipArchive::findEndCentralDirFromTop(const ByteSource& src, uint64_t size) {
    // Headers are read through one window: a run of empty members costs one read per
    // window, not two per member. Bytes past the end read as zeros, as with single reads.
    kiv::WindowReader in(src);
    uint8_t b[centralDirHeaderLen];
    uint64_t pos = 0;
    for (uint32_t records = 0; pos < size; ++records) {
        if (records >= kiv::limits::kZipForwardWalkMaxRecords) return notFound;
        const uint32_t sig = in.readZ(pos, b, sizeof b) >= 4 ? getLE32(b) : 0;
        if (sig == zip::kLocalHeaderSig) {
            LocalFileHeader h;
            h.parse(b);
            pos += uint64_t{localHeaderLen} + h.fileNameLength + h.extraFieldLength + h.compressedSize;
        } else if (sig == zip::kCentralHeaderSig) {
            CentralDirFileHeader h;
            h.parse(b);
            pos += uint64_t{centralDirHeaderLen} + h.fileNameLength + h.extraFieldLength + h.fileCommentLength;
        } else if (sig == zip::kEndRecordSig) {
            return pos;
        } else {
            return notFound;
        }
    }
    return notFound;
}

namespace {
// Where findEndCentralDir found the end record, and for which size.
struct EndRecordFound {
    bool known = false;
    uint64_t size = 0;
    uint64_t at = 0;
};
const kiv::MemoKey<EndRecordFound> kEndRecordFound;
}  // namespace

uint64_t ZipArchive::findEndCentralDir(const ByteSource& src, uint64_t size) {
    // Every member-name test of a scan needs the record, and the forward walk may cross the
    // whole file: it is looked for once per source and size.
    EndRecordFound& found = src.memo().get(kEndRecordFound);
    if (found.known && found.size == size) return found.at;
    uint64_t end = findEndCentralDirFromBot(src, size);
    if (end == notFound) end = findEndCentralDirFromTop(src, size);
    found = EndRecordFound{true, size, end};
    return end;
}

bool ZipArchive::forEachCentralDirName(const ByteSource& src, uint64_t size,
                                       const std::function<bool(const char*, uint16_t)>& visit) {
    const uint64_t end = findEndCentralDir(src, size);
    if (end == notFound) return false;

    // A record cut short by the end of the file (a tiny file, or one the forward walk
    // reached at the very end) describes no directory; its comment length is not needed.
    uint8_t rec[zip::kEndRecordLen];
    if (readZ(src, end, rec, sizeof rec) < zip::kEndRecordLen - 2) return false;
    zip::EndRecord record;
    record.parse(rec);
    uint64_t pos = record.directoryOffset;

    kiv::WindowReader in(src);
    for (uint16_t count = 0; pos < end && count < record.records; ++count) {
        size_t got = 0;
        const uint8_t* head = in.view(pos, zip::kCentralHeaderLen, got);
        if (got != zip::kCentralHeaderLen) return true;
        zip::CentralDirFileHeader h;
        h.parse(head);
        if (h.signature != zip::kCentralHeaderSig || h.fileNameLength == 0) return true;
        const uint64_t next =
            pos + zip::kCentralHeaderLen + h.fileNameLength + h.extraFieldLength + h.fileCommentLength;
        const uint8_t* name = in.view(pos + zip::kCentralHeaderLen, h.fileNameLength, got);
        if (got != h.fileNameLength) return true;
        pos = next;
        if (!visit(reinterpret_cast<const char*>(name), h.fileNameLength)) return true;
    }
    return true;
}

bool ZipArchive::checkFileNameExistInZip(const ByteSource& src, uint64_t size, const char* wanted,
                                         uint16_t wantedLength) {
    if (wanted == nullptr) return false;
    bool found = false;
    forEachCentralDirName(src, size, [&](const char* name, uint16_t len) {
        found = len == wantedLength && std::equal(name, name + len, wanted);
        return !found;
    });
    return found;
}

bool ZipArchive::isMember(const ByteSource& src, const void* name, size_t length) {
    if (length == 0 || length > UINT16_MAX) return false;
    return checkFileNameExistInZip(src, src.size(), static_cast<const char*>(name), static_cast<uint16_t>(length));
}

struct ZipArchive::MemberCacheScope::CachedRun {
    std::string path;
    std::string member;
    std::vector<char> out;
    int status;
};

namespace {

// Answers of the current scan on this thread: the innermost live MemberCacheScope's list, null
// outside one. A plain pointer, so the thread has nothing to destroy.
thread_local std::vector<ZipArchive::MemberCacheScope::CachedRun>* cachedRuns = nullptr;

}  // namespace

ZipArchive::MemberCacheScope::MemberCacheScope() : outer_(cachedRuns) { cachedRuns = &runs_; }

ZipArchive::MemberCacheScope::~MemberCacheScope() { cachedRuns = outer_; }

void ZipArchive::run7zMember(const ByteSource& src, const std::string& member, std::vector<char>& out,
                             int* exitStatus) {
    const std::string& path = src.path();
    if (exitStatus) *exitStatus = -1;
    if (currentDir.empty() || src.descriptor() < 0) return;
    if (cachedRuns != nullptr) {
        for (const auto& run : *cachedRuns) {
            if (run.path == path && run.member == member) {
                out.insert(out.end(), run.out.begin(), run.out.end());
                if (exitStatus) *exitStatus = run.status;
                return;
            }
        }
    }
    std::vector<char> bytes;
    // The in-process answer stands for a successful run, so it needs an archiver that could run.
    const bool archiverThere = ::access((currentDir + "7za").c_str(), X_OK) == 0;
    const int status =
        archiverThere && kiv::zip::readMemberLike7za(src, member, bytes) ? 0 : runArchiver(src, member, bytes);
    out.insert(out.end(), bytes.begin(), bytes.end());
    if (exitStatus) *exitStatus = status;
    if (cachedRuns != nullptr) cachedRuns->push_back({path, member, std::move(bytes), status});
}

// 7za from the engine directory, run without a shell: "e -so" writes the member to standard
// output, "-p" with no value keeps it from asking for a password, "--" ends the switches.
// Messages arrive in the same stream. The archive is the scan's open file, inherited by the
// child and named through /proc: 7za would expand '*' and '?' in a path (even after "--"),
// and a name opened again could by now be another file or a FIFO.
int ZipArchive::runArchiver(const ByteSource& src, const std::string& member, std::vector<char>& out) {
    if (src.descriptor() < 0) return -1;
    const std::vector<std::string> argv = {currentDir + "7za",         "e", "-so", "-p", "-i!" + member, "--",
                                           CommonUtils::passedFdPath()};
    int status = -1;
    if (!CommonUtils::executeCommandAndGetOutputChar(argv, out, kiv::limits::kCommandOutputCap, &status,
                                                     kiv::limits::kArchiverTimeoutMs, src.descriptor()))
        status = -1;
    return status;
}

int ZipArchive::readFilesInsideArchiveWith7z(const ByteSource& src, const std::string& member, std::string& output) {
    output.clear();
    std::vector<char> bytes;
    run7zMember(src, member, bytes);
    // The text keeps the shape a line reader with a 256-byte buffer gives: pieces end after a
    // newline or at 255 bytes, and each is cut at its first NUL. Binary members use the Char form.
    size_t i = 0;
    while (i < bytes.size()) {
        size_t end = i;
        while (end < bytes.size() && end - i < 255) {
            if (bytes[end++] == '\n') break;
        }
        size_t stop = i;
        while (stop < end && bytes[stop] != '\0') ++stop;
        output.append(bytes.data() + i, stop - i);
        i = end;
    }
    return 1;
}

int ZipArchive::readFilesInsideArchiveWith7zChar(const ByteSource& src, const std::string& member,
                                                 std::vector<char>& output) {
    run7zMember(src, member, output);
    return 1;
}

int ZipArchive::readFilesInsideArchiveWith7z(const std::string& path, const std::string& member, std::string& output) {
    const kiv::FileByteSource src(path);
    return readFilesInsideArchiveWith7z(src, member, output);
}

int ZipArchive::readFilesInsideArchiveWith7zChar(const std::string& path, const std::string& member,
                                                 std::vector<char>& output) {
    const kiv::FileByteSource src(path);
    return readFilesInsideArchiveWith7zChar(src, member, output);
}
