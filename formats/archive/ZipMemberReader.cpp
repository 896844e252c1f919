// What 7za does with `e -so -p -i!NAME` on a ZIP file, as far as this reader follows it (found by
// running the installed 7za on byte-written archives):
// - NAME is split at '/' and compared part by part, case-sensitively, with the leading parts of
//   each member's path; a member inside a matching folder matches too ("dir" takes "dir/a.txt").
//   '\', a leading '/' and "./" are plain characters, and '*' and '?' match within one part only.
// - Every matching member is written out, one after the other; a request matching nothing
//   prints nothing.
// - An Info-ZIP Unicode path field replaces the member's name; names in other encodings are
//   decoded first, so a non-ASCII byte may become any character.
// - The local header at offset 0 is checked against its directory entry when the archive is
//   opened (a mismatch is a "Headers Error" whatever member is asked for), and so is the local
//   header of the member read; local headers elsewhere are not looked at.
// - Messages (damage, CRC, password) go to standard error, which the engine reads in the same
//   stream; a clean member prints its bytes alone and 7za exits with 0.
#include "formats/archive/ZipMemberReader.h"

#include <zlib.h>

#include <algorithm>
#include <cstring>

#include "core/ArchiveRead.h"
#include "core/ByteUtils.h"
#include "core/Limits.h"
#include "formats/archive/ZipFormat.h"

namespace kiv::zip {

namespace {

using archive::getLE16;
using archive::getLE32;
using archive::readZ;

// Flag bits read the same by 7za and this reader: deflate options, sizes in a data descriptor
// (both take them from the central directory) and UTF-8 names.
constexpr uint16_t kPlainFlags = kFlagDeflateOptions | kFlagDataDescriptor | kFlagUtf8Names;

// A directory entry with its name, which points into the directory's bytes.
struct Entry : CentralDirFileHeader {
    const uint8_t* name = nullptr;
};

struct Directory {
    uint64_t offset = 0;  // where the central directory starts; member data must end before it
    std::vector<uint8_t> bytes;
    std::vector<Entry> entries;
};

// Extra fields made only of whole sub-blocks, none of which changes a name or a size.
bool plainExtras(const uint8_t* p, size_t n) {
    while (n > 0) {
        if (n < 4) return false;
        const uint16_t id = getLE16(p);
        const size_t len = getLE16(p + 2);
        if (len > n - 4 || id == kExtraZip64 || id == kExtraUnicodePath) return false;
        p += 4 + len;
        n -= 4 + len;
    }
    return true;
}

// The end record must be the last thing in the file, describe one disk and a directory ending
// right where it starts (no prefixed data, no ZIP64 records).
bool readDirectory(const ByteSource& src, Directory& dir) {
    const uint64_t size = src.size();
    if (size < kEndRecordLen) return false;
    const uint64_t endAt = findEndRecord(src, size);
    uint8_t rec[kEndRecordLen];
    if (endAt == kNotFound || readZ(src, endAt, rec, sizeof rec) != sizeof rec) return false;
    EndRecord end;
    end.parse(rec);
    const uint16_t records = end.records;
    const uint32_t dirSize = end.directorySize;
    const uint32_t dirOffset = end.directoryOffset;
    if (endAt + kEndRecordLen + end.commentLength != size) return false;
    if (end.diskNumber != 0 || end.directoryDisk != 0 || end.recordsOnDisk != records) return false;
    if (records == 0 || records == kZip64CountMarker || dirSize == kZip64Marker || dirOffset == kZip64Marker)
        return false;
    if (uint64_t{dirOffset} + dirSize != endAt || dirSize > limits::kZipMemberReaderMaxDirectory) return false;
    uint8_t locator[4];
    if (endAt >= kZip64LocatorLen && readZ(src, endAt - kZip64LocatorLen, locator, 4) == 4 &&
        getLE32(locator) == kZip64LocatorSig)
        return false;

    dir.offset = dirOffset;
    dir.bytes.resize(dirSize);
    if (src.readAt(dirOffset, dir.bytes.data(), dirSize) != dirSize) return false;
    dir.entries.reserve(records);
    size_t pos = 0;
    for (uint16_t n = 0; n < records; ++n) {
        if (dirSize - pos < kCentralHeaderLen) return false;
        const uint8_t* h = dir.bytes.data() + pos;
        Entry e;
        e.parse(h);
        e.name = h + kCentralHeaderLen;
        const size_t recordLength =
            size_t{kCentralHeaderLen} + e.fileNameLength + e.extraFieldLength + e.fileCommentLength;
        if (e.signature != kCentralHeaderSig || e.fileNameLength == 0 || e.diskNumberStart != 0 ||
            recordLength > dirSize - pos)
            return false;
        if (!plainExtras(e.name + e.fileNameLength, e.extraFieldLength)) return false;
        if (e.compressedSize == kZip64Marker || e.uncompressedSize == kZip64Marker || e.localHeaderOffset >= dirOffset)
            return false;
        dir.entries.push_back(e);
        pos += recordLength;
    }
    return pos == dirSize;
}

// 7za checks the local header at offset 0 when it opens the archive, so one member must start
// there, and no two members may share a local header.
const Entry* firstLocalHeader(const Directory& dir) {
    std::vector<uint32_t> offsets;
    offsets.reserve(dir.entries.size());
    for (const Entry& e : dir.entries) offsets.push_back(e.localHeaderOffset);
    std::sort(offsets.begin(), offsets.end());
    if (offsets.front() != 0 || std::adjacent_find(offsets.begin(), offsets.end()) != offsets.end()) return nullptr;
    for (const Entry& e : dir.entries)
        if (e.localHeaderOffset == 0) return &e;
    return nullptr;
}

// The local header agrees with the directory entry (name, flags, method and, unless they are
// left to a data descriptor, CRC and sizes); answers where the member's data starts.
bool localHeaderAgrees(const ByteSource& src, const Directory& dir, const Entry& e, uint64_t& dataStart) {
    uint8_t b[kLocalHeaderLen];
    if (readZ(src, e.localHeaderOffset, b, sizeof b) != sizeof b) return false;
    LocalFileHeader h;
    h.parse(b);
    if (h.signature != kLocalHeaderSig) return false;
    if (h.flags != e.flags || h.compression != e.compression || h.fileNameLength != e.fileNameLength) return false;
    const bool same =
        h.crc32 == e.crc32 && h.compressedSize == e.compressedSize && h.uncompressedSize == e.uncompressedSize;
    const bool deferred =
        (e.flags & kFlagDataDescriptor) != 0 && h.crc32 == 0 && h.compressedSize == 0 && h.uncompressedSize == 0;
    if (!same && !deferred) return false;
    std::vector<uint8_t> nameAndExtra(size_t{e.fileNameLength} + h.extraFieldLength);
    if (src.readAt(e.localHeaderOffset + kLocalHeaderLen, nameAndExtra.data(), nameAndExtra.size()) !=
        nameAndExtra.size())
        return false;
    if (!std::equal(e.name, e.name + e.fileNameLength, nameAndExtra.begin())) return false;
    if (!plainExtras(nameAndExtra.data() + e.fileNameLength, h.extraFieldLength)) return false;
    dataStart = e.localHeaderOffset + kLocalHeaderLen + nameAndExtra.size();
    return dataStart + e.compressedSize <= dir.offset;
}

// ---- Names ----

struct Part {
    size_t offset;
    size_t length;
    bool wildcard;
};

// Bytes every 7za build reads as themselves in a name: printable ASCII without the characters
// some builds turn into separators or replace ('\', ':', '"', '<', '>', '|', '*', '?', '~').
bool plainNameByte(uint8_t c) { return c >= 0x20 && c <= 0x7E && std::strchr("\\:\"<>|*?~", c) == nullptr; }

// Parts that file systems treat specially: empty, ".", "..", or ending in a dot or a space.
bool oddPart(const uint8_t* p, size_t n) {
    return n == 0 || (n == 1 && p[0] == '.') || (n == 2 && p[0] == '.' && p[1] == '.') || p[n - 1] == '.' ||
           p[n - 1] == ' ';
}

// The request as parts; false for a request this reader leaves to 7za.
bool splitRequest(const std::string& request, std::vector<Part>& parts) {
    const auto* p = reinterpret_cast<const uint8_t*>(request.data());
    size_t start = 0;
    for (size_t i = 0; i <= request.size(); ++i) {
        if (i < request.size() && request[i] != '/') {
            if (!plainNameByte(p[i]) && request[i] != '*' && request[i] != '?') return false;
            continue;
        }
        if (oddPart(p + start, i - start)) return false;
        const bool wildcard = std::find_if(request.begin() + long(start), request.begin() + long(i),
                                           [](char c) { return c == '*' || c == '?'; }) != request.begin() + long(i);
        parts.push_back(Part{start, i - start, wildcard});
        start = i + 1;
    }
    return true;
}

// Length of the name's start that 7za is known to see byte for byte: up to the first byte that
// is not plain, or the first odd part.
size_t plainPrefix(const uint8_t* name, size_t n) {
    size_t start = 0;
    for (size_t i = 0; i <= n; ++i) {
        if (i < n && name[i] != '/') {
            if (!plainNameByte(name[i])) return i;
            continue;
        }
        if (oddPart(name + start, i - start)) return start;
        start = i + 1;
    }
    return n;
}

// '*' takes any run of characters, '?' exactly one.
bool wildcardMatch(const char* pat, size_t pn, const uint8_t* s, size_t sn) {
    size_t p = 0, i = 0, starP = std::string::npos, starI = 0;
    while (i < sn) {
        if (p < pn && (pat[p] == '?' || static_cast<uint8_t>(pat[p]) == s[i])) {
            ++p;
            ++i;
        } else if (p < pn && pat[p] == '*') {
            starP = p++;
            starI = i;
        } else if (starP != std::string::npos) {
            p = starP + 1;
            i = ++starI;
        } else {
            return false;
        }
    }
    while (p < pn && pat[p] == '*') ++p;
    return p == pn;
}

enum class Match { No, Yes, Unsure };

// Whether 7za would take this member for the request; Unsure when the name holds bytes it may
// read otherwise and they could decide the answer.
Match matchMember(const Entry& e, const std::string& request, const std::vector<Part>& parts) {
    size_t n = e.fileNameLength;
    if (e.name[n - 1] == '/') --n;  // a folder entry; 7za drops the slash
    const size_t plain = plainPrefix(e.name, n);
    size_t pos = 0;
    for (const Part& part : parts) {
        if (pos > n) return plain == n ? Match::No : Match::Unsure;  // the name has fewer parts
        if (pos >= plain) return Match::Unsure;
        size_t end = pos;
        while (end < n && e.name[end] != '/') ++end;
        const char* pat = request.data() + part.offset;
        if (end <= plain) {
            const bool same = part.wildcard
                                  ? wildcardMatch(pat, part.length, e.name + pos, end - pos)
                                  : end - pos == part.length && std::equal(pat, pat + part.length, e.name + pos);
            if (!same) return Match::No;
        } else {
            // Only the known start of the part can tell, and only against a literal.
            const size_t known = plain - pos;
            if (!part.wildcard && (known > part.length || !std::equal(e.name + pos, e.name + plain, pat)))
                return Match::No;
            return Match::Unsure;
        }
        pos = end + 1;
    }
    return plain == n ? Match::Yes : Match::Unsure;
}

bool isFolder(const Entry& e) {
    const uint32_t unixType = (e.externalAttributes >> 16) & kUnixTypeMask;
    return e.name[e.fileNameLength - 1] == '/' || (e.externalAttributes & kDosDirectoryAttribute) != 0 ||
           (unixType != 0 && unixType != kUnixRegular);
}

// ---- Data ----

bool readStored(const ByteSource& src, uint64_t at, const Entry& e, std::vector<char>& data) {
    if (e.compressedSize != e.uncompressedSize) return false;
    data.resize(e.uncompressedSize);
    return src.readAt(at, data.data(), data.size()) == data.size();
}

// The deflate stream must fill the recorded compressed size exactly and end with the recorded
// size: 7za reports data after the stream, a short stream or a size mismatch.
bool readDeflated(const ByteSource& src, uint64_t at, const Entry& e, std::vector<char>& data) {
    z_stream zs{};
    if (inflateInit2(&zs, -MAX_WBITS) != Z_OK) return false;
    std::vector<uint8_t> in(std::min<size_t>(e.compressedSize, limits::kZipInflateChunk));
    std::vector<uint8_t> outChunk(limits::kZipInflateChunk);
    uint64_t consumed = 0;
    int rc = Z_OK;
    bool ok = true;
    while (ok && rc != Z_STREAM_END) {
        if (zs.avail_in == 0) {
            const size_t n = static_cast<size_t>(std::min<uint64_t>(in.size(), e.compressedSize - consumed));
            if (n == 0 || src.readAt(at + consumed, in.data(), n) != n) {
                ok = false;
                break;
            }
            consumed += n;
            zs.next_in = in.data();
            zs.avail_in = static_cast<uInt>(n);
        }
        zs.next_out = outChunk.data();
        zs.avail_out = static_cast<uInt>(outChunk.size());
        rc = inflate(&zs, Z_NO_FLUSH);
        const size_t produced = outChunk.size() - zs.avail_out;
        if ((rc != Z_OK && rc != Z_STREAM_END) || produced > e.uncompressedSize - data.size()) {
            ok = false;
            break;
        }
        data.insert(data.end(), outChunk.begin(), outChunk.begin() + long(produced));
    }
    ok = ok && zs.avail_in == 0 && consumed == e.compressedSize && data.size() == e.uncompressedSize;
    inflateEnd(&zs);
    return ok;
}

}  // namespace

bool readMemberLike7za(const ByteSource& src, const std::string& pattern, std::vector<char>& out) {
    std::vector<Part> parts;
    if (pattern.empty() || !splitRequest(pattern, parts)) return false;
    const ByteView head = src.head(4);
    if (head.size < 4 || getLE32(head.data) != kLocalHeaderSig) return false;

    Directory dir;
    if (!readDirectory(src, dir)) return false;
    const Entry* member = nullptr;
    for (const Entry& e : dir.entries) {
        const Match m = matchMember(e, pattern, parts);
        if (m == Match::Unsure || (m == Match::Yes && member != nullptr)) return false;
        if (m == Match::Yes) member = &e;
    }
    if (member == nullptr || isFolder(*member)) return false;
    if ((member->flags & ~kPlainFlags) != 0 ||
        (member->compression != kMethodStored && member->compression != kMethodDeflated))
        return false;
    // 7za's output is cut at the cap and the run stopped; only members below it are read here.
    if (member->uncompressedSize >= limits::kCommandOutputCap) return false;

    const Entry* first = firstLocalHeader(dir);
    uint64_t dataStart = 0;
    if (first == nullptr || (first != member && !localHeaderAgrees(src, dir, *first, dataStart))) return false;
    if (!localHeaderAgrees(src, dir, *member, dataStart)) return false;

    std::vector<char> data;
    const bool read = member->compression == kMethodStored ? readStored(src, dataStart, *member, data)
                                                           : readDeflated(src, dataStart, *member, data);
    if (!read) return false;
    const uLong crc = crc32(0L, reinterpret_cast<const Bytef*>(data.data()), static_cast<uInt>(data.size()));
    if (crc != member->crc32) return false;
    out.insert(out.end(), data.begin(), data.end());
    return true;
}

}  // namespace kiv::zip
