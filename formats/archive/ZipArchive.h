// ZIP member access without unpacking: where the end-of-central-directory record lies,
// whether the central directory lists a member, and one member's bytes read through 7za.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "core/ByteSource.h"
#include "formats/archive/ZipFormat.h"

class ZipArchive {
public:
    // Offset answer meaning "no record"; the record layout itself is in ZipFormat.h.
    static constexpr uint64_t notFound = kiv::zip::kNotFound;

    // What 7za prints for one member ("e -so -p -i!member -- FILE", FILE naming src's open
    // file, never its path: 7za would expand wildcards in a path), appended to out; the
    // exit status (waitpid form) goes to *exitStatus. Every member read goes through here: the
    // bytes come from the in-process reader when it is sure they are exactly 7za's answer, and
    // from a run of 7za otherwise. A repeated request for the same member of the same source
    // is answered from the first one: one scan asks for a member of a package several times
    // (password probe, content types, relationships), and each run of the archiver costs
    // milliseconds. The answers are kept in the source's memo, so they live as long as the scan.
    static void run7zMember(const kiv::ByteSource& src, const std::string& member, std::vector<char>& out,
                            int* exitStatus = nullptr);
    // The 7za run itself on src's open file, with the output cap and the member-run time limit;
    // answers the exit status, -1 when 7za could not be started or src has no open file.
    static int runArchiver(const kiv::ByteSource& src, const std::string& member, std::vector<char>& out);

    // Runs the engine directory's 7za once on a one-member archive held in memory, within the
    // check's own short time limit, and records whether it printed that member: an archiver
    // that is there and executable may still be unable to run (cut short, built for another
    // machine, a script without its interpreter, hanging). Answers "" when it ran, otherwise
    // why not ("7za exited with status 2", "7za was stopped after 5 s"). init calls it; until
    // then 7za is simply tried. Once it is known not to run, member reads that need it no
    // longer start it.
    static std::string checkArchiver();

    // "" while every member read from src was read; otherwise why 7za failed to give one that
    // only it could give (the in-process reader declined it): whatever a scan concluded then
    // rests on a member it never saw. 7za fails when it cannot run or start, is killed by a
    // signal, is stopped at the time limit or as the engine stops, exits with a status it keeps
    // for its own failures (7, 8, 255), or exits with another non-zero status without any of its
    // reports on the archive (a damaged member or package, a password). A run that reports on
    // the archive, or that is stopped at the output cap, answers about the file. Once a member
    // run failed, the scan's later member reads no longer start 7za.
    static const std::string& archiverFailure(const kiv::ByteSource& src);

    // Highest "PK\5\6" in the last 65557 bytes (record and largest comment); notFound when none.
    // Nothing else of the record is checked.
    static uint64_t findEndCentralDirFromBot(const kiv::ByteSource& src, uint64_t size);
    // Walks local and central headers from offset 0 to the end record; notFound when the walk
    // meets anything else (data descriptors, ZIP64) or runs too long.
    static uint64_t findEndCentralDirFromTop(const kiv::ByteSource& src, uint64_t size);
    // The end record as the name tests locate it: from the bottom, else by the forward walk.
    // Found once per source and size; later calls answer from the source's memo.
    static uint64_t findEndCentralDir(const kiv::ByteSource& src, uint64_t size);
    // True when the central directory lists exactly this name (byte-exact, case-sensitive).
    static bool checkFileNameExistInZip(const kiv::ByteSource& src, uint64_t size, const char* name,
                                        uint16_t nameLength);
    static bool checkFileNameExistInZip(const kiv::ByteSource& src, uint64_t size, const unsigned char* name,
                                        uint16_t nameLength) {
        return checkFileNameExistInZip(src, size, reinterpret_cast<const char*>(name), nameLength);
    }
    // The member test of the package probes, on the whole source: an empty name, or one longer
    // than the directory's 16-bit length field can hold, is never a member (cutting it to 16
    // bits could match a shorter member by accident).
    static bool isMember(const kiv::ByteSource& src, const void* name, size_t length);
    static bool isMember(const kiv::ByteSource& src, const std::string& name) {
        return isMember(src, name.data(), name.size());
    }

    // Calls visit(name, length) for each central directory entry in order until visit answers
    // false or the directory ends; the walk stops at the first broken entry or empty name,
    // exactly where the name test stops. False when no end record was found.
    static bool forEachCentralDirName(const kiv::ByteSource& src, uint64_t size,
                                      const std::function<bool(const char*, uint16_t)>& visit);

    // Runs 7za to extract one member to standard output; output holds what it printed (data
    // and messages), cut into the pieces a line reader sees and each piece cut at its first NUL.
    // Always answers 1: a missing member, tool or password shows only in the text.
    static int readFilesInsideArchiveWith7z(const kiv::ByteSource& src, const std::string& member, std::string& output);
    // Same, appending every printed byte to output (not cleared first).
    static int readFilesInsideArchiveWith7zChar(const kiv::ByteSource& src, const std::string& member,
                                                std::vector<char>& output);
    // The same two on a path, read through a reader of their own.
    static int readFilesInsideArchiveWith7z(const std::string& path, const std::string& member, std::string& output);
    static int readFilesInsideArchiveWith7zChar(const std::string& path, const std::string& member,
                                                std::vector<char>& output);
};
