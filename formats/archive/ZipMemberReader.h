// One ZIP member read in process, for the archives where what 7za would print is certain: a
// whole, well-formed central directory, exactly one plain stored or deflated member that the
// request names, and nothing 7za reads differently from the raw bytes (names it may rewrite,
// ZIP64 sizes, encryption, damage of any kind). Everything else is left to 7za.
#pragma once

#include <string>
#include <vector>

#include "core/ByteSource.h"

namespace kiv::zip {

// True when `7za e -so -p -i!pattern -- FILE` is known to print exactly one member's
// bytes and nothing else and then exit with status 0, FILE being the open file under a name
// without an extension (as the engine hands it over); those bytes are appended to out. False,
// with out unchanged, whenever the reader is not sure of that: the caller runs 7za.
bool readMemberLike7za(const ByteSource& src, const std::string& pattern, std::vector<char>& out);

}  // namespace kiv::zip
