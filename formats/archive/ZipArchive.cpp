#include "formats/archive/ZipArchive.h"

#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <cstring>

#include "core/ArchiveRead.h"
#include "core/Limits.h"
#include "core/TypeTables.h"
#include "engine/CommonUtils.h"
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
    uint8_t b[zip::kCentralHeaderLen];
    uint64_t pos = 0;
    for (uint32_t records = 0; pos < size; ++records) {
        if (records >= kiv::limits::kZipForwardWalkMaxRecords) return notFound;
        const uint32_t sig = in.readZ(pos, b, sizeof b) >= 4 ? getLE32(b) : 0;
        if (sig == zip::kLocalHeaderSig) {
            zip::LocalFileHeader h;
            h.parse(b);
            pos += uint64_t{zip::kLocalHeaderLen} + h.fileNameLength + h.extraFieldLength + h.compressedSize;
        } else if (sig == zip::kCentralHeaderSig) {
            zip::CentralDirFileHeader h;
            h.parse(b);
            pos += uint64_t{zip::kCentralHeaderLen} + h.fileNameLength + h.extraFieldLength + h.fileCommentLength;
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

namespace {

// The members read from one source: what 7za printed (or would have) and its status, and why
// a member that only 7za could give was not read.
struct MemberReads {
    struct Run {
        std::string member;
        std::vector<char> out;
        int status;
    };
    std::vector<Run> runs;
    std::string archiverFailure;
};
const kiv::MemoKey<MemberReads> kMemberReads;

// What checkArchiver found: until it runs, 7za is simply tried.
enum class Archiver { Unchecked, Runs, CannotRun };
std::atomic<Archiver> archiverState{Archiver::Unchecked};
// Why it cannot run; written by checkArchiver (in init, before any scan) ahead of the state.
std::string archiverProblem;

// The time limit of a member run. Tests of a hanging archiver shorten it (never lengthen it)
// through the environment variable KIV_TEST_MEMBER_RUN_LIMIT_MS, read by checkArchiver: a hook
// for tests, not a setting.
std::atomic<unsigned> memberRunLimitMs{kiv::limits::kArchiverTimeoutMs};

void readTestLimit() {
    unsigned limit = kiv::limits::kArchiverTimeoutMs;
    if (const char* text = std::getenv("KIV_TEST_MEMBER_RUN_LIMIT_MS")) {
        char* end = nullptr;
        const unsigned long value = std::strtoul(text, &end, 10);
        if (end != text && *end == '\0' && value > 0 && value < limit) limit = static_cast<unsigned>(value);
    }
    memberRunLimitMs.store(limit);
}

std::string duration(unsigned ms) {
    return ms % 1000 == 0 ? std::to_string(ms / 1000) + " s" : std::to_string(ms) + " ms";
}

using RunEnd = CommonUtils::RunEnd;

// 7za on src's open file, bounded by limitMs; the exit status (waitpid form), -1 when 7za could
// not be started or src has no open file. How the run ended goes to end.
int runArchiverFor(const ByteSource& src, const std::string& member, std::vector<char>& out, unsigned limitMs,
                   RunEnd& end) {
    end = RunEnd::ChildEnded;
    if (src.descriptor() < 0) return -1;
    const std::vector<std::string> argv = {currentDir + "7za", "e",  "-so", "-p", "-i!" + member,
                                           "--",               CommonUtils::passedFdPath()};
    int status = -1;
    if (!CommonUtils::executeCommandAndGetOutputChar(argv, out, kiv::limits::kCommandOutputCap, &status, limitMs,
                                                     src.descriptor(), &end))
        status = -1;
    return status;
}

// Why the runner stopped 7za short of an answer; "" when 7za ended by itself or was stopped at
// the output cap (a member that large is read by design, and its start stands).
std::string stopReason(RunEnd end, unsigned limitMs) {
    switch (end) {
        case RunEnd::TimeLimit:
            return "7za was stopped after " + duration(limitMs);
        case RunEnd::HostStopped:
            return "7za was stopped as the engine stopped";
        case RunEnd::ReadFailed:
            return "the output of 7za could not be read";
        case RunEnd::ChildEnded:
        case RunEnd::OutputCap:
            break;
    }
    return "";
}

// What 7za prints when it fails on the archive itself: a damaged member or package, a method
// it lacks, or a password (all of 7za's password texts contain "Wrong password"). A run that
// printed one of these answers about the file, whatever its exit status.
constexpr const char* kArchiveReports[] = {
    // A member: its data, its checksum, its method.
    "Data Error",
    "CRC Failed",
    "CRC Error",
    "Unsupported Method",
    "Unsupported method",
    "Unsupported feature",
    // The package: its headers, its ends, or no archive at all.
    "Headers Error",
    "Unexpected end of archive",
    "Unexpected end of data",
    "Unavailable data",
    "Unavailable start of archive",
    "Unconfirmed start of archive",
    "There are data after the end of archive",
    "There are some data after the end of the payload data",
    "Is not archive",
    "Cannot open the file as",
    "Can not open the file as",
    // A password.
    "Wrong password",
};

// Why a run of 7za on a member is no answer at all (7za itself failed), "" when its output and
// status stand.
std::string memberRunFailure(int status, RunEnd end, const std::vector<char>& out, unsigned limitMs) {
    if (end != RunEnd::ChildEnded) return stopReason(end, limitMs);
    if (status == -1) return "7za could not be started";
    if (WIFSIGNALED(status)) return "7za was killed by signal " + std::to_string(WTERMSIG(status));
    if (!WIFEXITED(status)) return "7za ended with wait status " + std::to_string(status);
    const int code = WEXITSTATUS(status);
    // The statuses 7za keeps for its own failures, whatever it printed.
    if (code == 7) return "7za exited with status 7 (command line error)";
    if (code == 8) return "7za exited with status 8 (out of memory)";
    if (code == 255) return "7za exited with status 255 (stopped)";
    if (code == 0) return "";
    for (const char* report : kArchiveReports)
        if (kiv::findBytes(out.data(), out.size(), report, std::strlen(report)) != SIZE_MAX) return "";
    return "7za exited with status " + std::to_string(code) +
           (out.empty() ? " and said nothing" : " without a report on the archive");
}

// A stored ZIP whose one member "probe" holds "kiv\n", in the plainest form 7za reads.
constexpr unsigned char kProbeZip[] = {
    // Local header (version 1.0, stored, 1980-01-01, CRC 0x13D568DF, 4 bytes), name, data.
    0x50, 0x4B, 0x03, 0x04, 0x0A, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x21, 0x00, 0xDF, 0x68, 0xD5, 0x13,
    0x04, 0x00, 0x00, 0x00, 0x04, 0x00, 0x00, 0x00, 0x05, 0x00, 0x00, 0x00, 'p', 'r', 'o', 'b', 'e', 'k', 'i', 'v',
    '\n',
    // Central directory header of the same member, local header at offset 0, and its name.
    0x50, 0x4B, 0x01, 0x02, 0x0A, 0x00, 0x0A, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x21, 0x00, 0xDF, 0x68,
    0xD5, 0x13, 0x04, 0x00, 0x00, 0x00, 0x04, 0x00, 0x00, 0x00, 0x05, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
    0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 'p', 'r', 'o', 'b', 'e',
    // End record: one entry; a directory of 51 bytes at offset 39.
    0x50, 0x4B, 0x05, 0x06, 0x00, 0x00, 0x00, 0x00, 0x01, 0x00, 0x01, 0x00, 0x33, 0x00, 0x00, 0x00, 0x27, 0x00,
    0x00, 0x00, 0x00, 0x00};
constexpr char kProbeData[] = "kiv\n";

// One run of 7za on kProbeZip, exactly as a member read runs it; "" when it printed the member.
std::string probeArchiver() {
    const std::string archiver = currentDir + "7za";
    if (::access(archiver.c_str(), F_OK) != 0) return "7za is missing";
    if (::access(archiver.c_str(), X_OK) != 0) return "7za is not executable";
    // Handed over as an open file, the way every scanned file is: nothing is written to disk.
    const int fd = memfd_create("kiv-7za-check", MFD_CLOEXEC);
    if (fd < 0) return "7za could not be tested: no memory file";
    std::vector<char> out;
    int status = -1;
    RunEnd end = RunEnd::ChildEnded;
    const unsigned limitMs = kiv::limits::kArchiverCheckTimeoutMs;
    const bool written = ::write(fd, kProbeZip, sizeof kProbeZip) == static_cast<ssize_t>(sizeof kProbeZip);
    if (written)
        status = runArchiverFor(kiv::FileByteSource("/proc/self/fd/" + std::to_string(fd)), "probe", out, limitMs, end);
    ::close(fd);
    if (!written) return "7za could not be tested: no memory file";
    if (status == -1) return "7za could not be started";
    const std::string stopped = stopReason(end, limitMs);
    if (!stopped.empty()) return stopped;
    if (WIFSIGNALED(status)) return "7za was killed by signal " + std::to_string(WTERMSIG(status));
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
        return "7za exited with status " + std::to_string(WEXITSTATUS(status));
    if (kiv::findBytes(out.data(), out.size(), kProbeData, sizeof kProbeData - 1) == SIZE_MAX)
        return "7za did not extract its test member";
    return "";
}

}  // namespace

std::string ZipArchive::checkArchiver() {
    readTestLimit();
    std::string problem = probeArchiver();
    archiverProblem = problem;
    archiverState.store(problem.empty() ? Archiver::Runs : Archiver::CannotRun);
    return problem;
}

const std::string& ZipArchive::archiverFailure(const ByteSource& src) {
    return src.memo().get(kMemberReads).archiverFailure;
}

void ZipArchive::run7zMember(const ByteSource& src, const std::string& member, std::vector<char>& out,
                             int* exitStatus) {
    if (exitStatus) *exitStatus = -1;
    if (currentDir.empty() || src.descriptor() < 0) return;
    MemberReads& reads = src.memo().get(kMemberReads);
    for (const MemberReads::Run& run : reads.runs) {
        if (run.member == member) {
            out.insert(out.end(), run.out.begin(), run.out.end());
            if (exitStatus) *exitStatus = run.status;
            return;
        }
    }
    std::vector<char> bytes;
    // The in-process answer is what a working 7za prints, so it stands whether 7za runs or not.
    int status = 0;
    if (!kiv::zip::readMemberLike7za(src, member, bytes)) {
        constexpr char kNeeded[] = "a member only 7za can read was needed: ";
        if (archiverState.load() == Archiver::CannotRun) {
            status = -1;
            if (reads.archiverFailure.empty()) reads.archiverFailure = kNeeded + archiverProblem;
        } else if (!reads.archiverFailure.empty()) {
            // This scan already gives no answer: 7za is not run again for it.
            status = -1;
        } else {
            // Without this member the scan can only guess (an encrypted package would pass for a
            // plain one): when 7za itself fails on it, the scan is noted to answer nothing.
            RunEnd end = RunEnd::ChildEnded;
            const unsigned limitMs = memberRunLimitMs.load();
            status = runArchiverFor(src, member, bytes, limitMs, end);
            const std::string failure = memberRunFailure(status, end, bytes, limitMs);
            if (status == -1)
                reads.archiverFailure = kNeeded + failure;
            else if (!failure.empty())
                reads.archiverFailure = kNeeded + failure + " while reading " + member;
        }
    }
    out.insert(out.end(), bytes.begin(), bytes.end());
    if (exitStatus) *exitStatus = status;
    reads.runs.push_back({member, std::move(bytes), status});
}

// 7za from the engine directory, run without a shell: "e -so" writes the member to standard
// output, "-p" with no value keeps it from asking for a password, "--" ends the switches.
// Messages arrive in the same stream. The archive is the scan's open file, inherited by the
// child and named through /proc: 7za would expand '*' and '?' in a path (even after "--"),
// and a name opened again could by now be another file or a FIFO.
int ZipArchive::runArchiver(const ByteSource& src, const std::string& member, std::vector<char>& out) {
    RunEnd end;
    return runArchiverFor(src, member, out, memberRunLimitMs.load(), end);
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
