// The definitions compiler: reads the readable definitions source kept in data/qrix/ and
// writes the package libQrixLib loads. It refuses definitions that could never match and
// texts the mapping rules could not read, and warns where two definitions can tie.
//
// Source format, one statement per line ('#' starts a comment line):
//
//   def LABEL                      opens a definition (the label is only for messages)
//     type    TEXT                 file-type text (required; printable ASCII)
//     ext     TEXT                 upper-case extension tokens joined by "/" (required)
//     mime | name | user | mail | home | rurl | rem   TEXT
//     tag | fnum   INTEGER
//     pattern OFFSET BYTES...      bytes that must sit at OFFSET of the file's first 2048
//     string  BYTES...             bytes that must occur anywhere in the upper-cased file
//   end
//
// BYTES is a run of hex tokens (89 50 4E47) and quoted texts ("IHDR", with \" \\ \xNN \0 \r
// \n \t escapes); u"TEXT" gives the text as UTF-16LE, the way compound-file entry names and
// many Windows strings are stored, and ube"TEXT" as UTF-16BE.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "qrixlib/PackWriter.h"

namespace qrixc {

struct SourceDefinition {
    std::string label;
    std::string where;  // "file:line" of its "def" line
    std::string type, ext, mime, name, user, mail, home, rurl, rem;
    bool hasTag = false, hasFnum = false;
    int32_t tag = 0, fnum = 0;
    std::vector<qrix::pack::Pattern> patterns;
    std::vector<std::string> strings;
};

struct Diagnostics {
    std::vector<std::string> errors;
    std::vector<std::string> warnings;
};

// Parses one source text, appending its definitions. Syntax errors name file and line.
void parseSource(const std::string& text, const std::string& fileName, std::vector<SourceDefinition>& defs,
                 Diagnostics& diag);

// Checks every definition on its own and the set as a whole; errors refuse the set,
// warnings (possible ties) do not.
void checkDefinitions(const std::vector<SourceDefinition>& defs, Diagnostics& diag);

// The points a definition earns when it matches: every pattern and string must match, so a
// definition scores exactly this or nothing.
int64_t definitionPoints(const SourceDefinition& def);

// True when one file can satisfy the patterns of both definitions.
bool patternsCompatible(const SourceDefinition& a, const SourceDefinition& b);

qrix::pack::Definition toPackDefinition(const SourceDefinition& def);

// The package bytes for a checked set.
std::string buildPackage(const std::vector<SourceDefinition>& defs);

}  // namespace qrixc
