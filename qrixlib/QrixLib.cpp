// libQrixLib: scores a submitted file against a package of signature definitions.
//
// All state belongs to the loaded image and is file-local; the library is linked with a
// version script that exports only the ten plain names, so two copies of the file loaded
// separately never share a variable, whatever flags the loader passes to dlopen.
#include "qrixlib/QrixLib.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <climits>
#include <clocale>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "core/Limits.h"

#define QRIX_EXPORT extern "C" __attribute__((visibility("default")))

namespace {

using kiv::limits::kQrixHeaderBytes;
using kiv::limits::kQrixPackMax;
using kiv::limits::kQrixSearchChunk;
using kiv::limits::kQrixTextMax;
using kiv::limits::kQrixWholeFileLimit;
using kiv::limits::kQrixWindow;

constexpr int32_t kLibraryVersion = 103;
constexpr int64_t kPointsMax = INT32_MAX;

// A byte range of the retained package: every text, pattern list and string list of a
// definition points into the one copy of the package, so loading allocates per record only.
struct Span {
    uint32_t off = 0;
    uint32_t len = 0;
};

struct Definition {
    Span type, ext, mime, name, user, mail, home, rurl, rem;
    Span patterns, strings;
    int32_t tag = 0;
    int32_t fnum = 0;
};

struct State {
    std::vector<uint8_t> pack;
    // N as the package header declares it; the walk may have found fewer records.
    int32_t declared = 0;
    // 1-based; element 0 stays empty. Holds only the records the walk actually reached, so a
    // header claiming billions of definitions costs nothing.
    std::vector<Definition> defs;
    std::vector<int32_t> hitPoints, hitDef, hitOrder;  // 1-based, sized like defs
    int32_t hitCount = 0;

    std::string openPath;        // the submitted path as opened (backslashes made slashes)
    std::wstring submittedPath;  // wide copy of the submitted path
    uint8_t header[kQrixHeaderBytes] = {};
    int32_t headerLength = 0;
    bool isSubmitted = false;
};

State g;

// ---- little-endian reads; the caller has checked that the bytes are present ----

int32_t i32At(const uint8_t* p) {
    return static_cast<int32_t>(static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
                                static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24);
}

int32_t i16At(const uint8_t* p) { return static_cast<int16_t>(static_cast<uint16_t>(p[0] | p[1] << 8)); }

bool idIs(const uint8_t* p, const char* id) { return std::memcmp(p, id, 4) == 0; }

// ---- tables ----

void resetHits() noexcept {
    g.hitCount = 0;
    std::fill(g.hitPoints.begin(), g.hitPoints.end(), 0);
    std::fill(g.hitDef.begin(), g.hitDef.end(), 0);
    for (size_t i = 0; i < g.hitOrder.size(); ++i) g.hitOrder[i] = static_cast<int32_t>(i);
}

void clearPackage() noexcept {
    g.pack.clear();
    g.defs.clear();
    g.hitPoints.clear();
    g.hitDef.clear();
    g.hitOrder.clear();
    g.declared = 0;
    g.hitCount = 0;
}

bool validDefinition(int64_t j) { return j >= 1 && j < static_cast<int64_t>(g.defs.size()); }
bool validRank(int64_t k) { return k >= 1 && k <= g.hitCount; }

// ---- package parser ----
//
// Every length is checked against the bytes that enclose it, positions are 64-bit, a
// negative length ends the walk it belongs to, and a length running past its enclosing data
// is cut at that end. A walk position only ever moves forward.

Span spanOf(int64_t off, int64_t len) { return Span{static_cast<uint32_t>(off), static_cast<uint32_t>(len)}; }

// Walks chunks (id, int32 n, n bytes) over [start, start + len). The first chunk is always
// attempted, even in empty data; the walk goes on while the position lies before the last byte.
template <typename Handler>
void walkChunks(int64_t start, int64_t len, Handler handle) {
    const uint8_t* base = g.pack.data() + start;
    int64_t pos = 0;
    do {
        if (len - pos < 8) break;  // a partial chunk head carries nothing
        const int32_t n = i32At(base + pos + 4);
        if (n < 0) break;
        const int64_t take = std::min<int64_t>(n, len - pos - 8);
        handle(base + pos, start + pos + 8, take);
        pos += 8 + static_cast<int64_t>(n);
    } while (pos < len - 1);
}

// The stored rest of a "PATT" or "STRN" sub-chunk: its data less the two leading bytes.
Span afterSkip(int64_t start, int64_t len) { return len >= 2 ? spanOf(start + 2, len - 2) : Span{}; }

// INFO identifiers holding texts; a later entry with the same identifier replaces an earlier one.
const std::pair<const char*, Span Definition::*> kInfoTexts[] = {
    {"TYPE", &Definition::type}, {"EXT ", &Definition::ext},  {"MIME", &Definition::mime},
    {"NAME", &Definition::name}, {"RURL", &Definition::rurl}, {"USER", &Definition::user},
    {"MAIL", &Definition::mail}, {"HOME", &Definition::home}, {"REM ", &Definition::rem}};

void parseInfo(Definition& def, int64_t start, int64_t len) {
    const uint8_t* base = g.pack.data() + start;
    int64_t pos = 0;
    do {
        if (len - pos < 6) break;
        const uint8_t* id = base + pos;
        const int32_t t = i16At(base + pos + 4);
        if (t < 0) break;
        const int64_t take = std::min<int64_t>(t, len - pos - 6);
        const int64_t valueOff = start + pos + 6;
        const Span value = spanOf(valueOff, take);
        for (const auto& [name, field] : kInfoTexts)
            if (idIs(id, name)) def.*field = value;
        // Integers come from the first four value bytes; fewer give 0.
        const int32_t asInt = take >= 4 ? i32At(g.pack.data() + valueOff) : 0;
        if (idIs(id, "TAG ")) def.tag = asInt;
        if (idIs(id, "FNUM")) def.fnum = asInt;
        pos += 6 + take;
    } while (pos < len - 1);
}

void parseBody(Definition& def, int64_t start, int64_t len) {
    walkChunks(start, len, [&def](const uint8_t* id, int64_t dataStart, int64_t dataLen) {
        if (idIs(id, "DATA")) {
            walkChunks(dataStart, dataLen, [&def](const uint8_t* sub, int64_t subStart, int64_t subLen) {
                if (idIs(sub, "PATT"))
                    def.patterns = afterSkip(subStart, subLen);
                else if (idIs(sub, "STRN"))
                    def.strings = afterSkip(subStart, subLen);
            });
        } else if (idIs(id, "INFO")) {
            parseInfo(def, dataStart, dataLen);
        }
    });
}

// Loads a package of `size` bytes. Returns N as declared by the header, or 0 for anything
// that is not a "QRIX" RIFF form of at least the 32-byte header.
int32_t parse(const uint8_t* data, size_t size) {
    clearPackage();
    g.defs.emplace_back();
    g.hitPoints.assign(1, 0);
    g.hitDef.assign(1, 0);
    g.hitOrder.assign(1, 0);
    if (data == nullptr || size < 32 || size > kQrixPackMax) return 0;
    if (!idIs(data, "RIFF") || !idIs(data + 8, "QRIX")) return 0;
    g.pack.assign(data, data + size);

    const int32_t n = std::max<int32_t>(0, i32At(g.pack.data() + 20));
    const int64_t areaStart = 32;
    const int64_t areaLen = std::clamp<int64_t>(i32At(g.pack.data() + 28), 0, static_cast<int64_t>(size) - areaStart);

    // A record that is not "DEF " stops the walk for good: every later definition would
    // find the same bytes, so they all stay empty while N keeps the header's value.
    const uint8_t* area = g.pack.data() + areaStart;
    int64_t pos = 0;
    for (int64_t j = 1; j <= n; ++j) {
        if (areaLen - pos < 8 || !idIs(area + pos, "DEF ")) break;
        const int32_t m = i32At(area + pos + 4);
        if (m < 0) break;
        const int64_t take = std::min<int64_t>(m, areaLen - pos - 8);
        Definition def;
        parseBody(def, areaStart + pos + 8, take);
        g.defs.push_back(def);
        pos += 8 + static_cast<int64_t>(m);
    }

    g.declared = n;
    g.hitPoints.assign(g.defs.size(), 0);
    g.hitDef.assign(g.defs.size(), 0);
    g.hitOrder.resize(g.defs.size());
    resetHits();
    return n;
}

// ---- file reading ----

std::string slashed(std::string path) {
    std::replace(path.begin(), path.end(), '\\', '/');
    return path;
}

// O_NONBLOCK: a FIFO or a device opens without waiting for a writer; O_CLOEXEC: programs
// the host starts on other threads must not inherit the descriptor.
int openForReading(const std::string& path) { return ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK); }

// Reads up to n bytes at off; answers how many arrived (short at end of file or on error).
size_t readFully(int fd, uint8_t* dst, size_t n, uint64_t off) {
    size_t done = 0;
    while (done < n) {
        const ssize_t got = ::pread(fd, dst + done, n - done, static_cast<off_t>(off + done));
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) break;
        done += static_cast<size_t>(got);
    }
    return done;
}

// Size of a regular file, or nothing: only regular files are ever read, so a FIFO or a
// device can never stall a scan.
bool regularFileSize(int fd, uint64_t& size) {
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) return false;
    size = static_cast<uint64_t>(st.st_size);
    return true;
}

int32_t loadPackFile(const std::string& path) {
    const int fd = openForReading(path);
    if (fd < 0) return parse(nullptr, 0);
    uint64_t size = 0;
    std::vector<uint8_t> bytes;
    if (regularFileSize(fd, size) && size <= kQrixPackMax) {
        bytes.resize(size);
        bytes.resize(readFully(fd, bytes.data(), bytes.size(), 0));
    }
    ::close(fd);
    return parse(bytes.data(), bytes.size());
}

int32_t submit(std::string narrow, std::wstring wide) {
    g.submittedPath = std::move(wide);
    g.openPath = slashed(std::move(narrow));
    const int fd = openForReading(g.openPath);
    if (fd < 0) return 0;
    uint8_t head[kQrixHeaderBytes];
    uint64_t size = 0;
    const size_t got = regularFileSize(fd, size) ? readFully(fd, head, sizeof head, 0) : 0;
    ::close(fd);
    std::memcpy(g.header, head, got);
    g.headerLength = static_cast<int32_t>(got);
    g.isSubmitted = true;
    return 1;
}

// Clears the previous results before a submission tries to read anything.
void beginSubmission() noexcept {
    g.isSubmitted = false;
    resetHits();
}

// ---- scoring ----

int64_t addPoints(int64_t points, int64_t add) { return std::min(points + add, kPointsMax); }

// Every pattern must match the header; a pattern at offset 0 earns 1000 per byte, any other
// 1 per byte. A negative offset or length never matches.
int64_t scorePatterns(const Definition& def) {
    const uint8_t* base = g.pack.data() + def.patterns.off;
    const int64_t len = def.patterns.len;
    int64_t points = 0;
    int64_t pos = 0;
    while (pos < len - 1) {
        if (len - pos < 4) break;
        const int32_t o = i16At(base + pos);
        const int32_t p = i16At(base + pos + 2);
        if (o < 0 || p < 0) return 0;
        const int64_t take = std::min<int64_t>(p, len - pos - 4);
        if (take > 0) {
            if (o + take > g.headerLength || std::memcmp(g.header + o, base + pos + 4, take) != 0) return 0;
            points = addPoints(points, o == 0 ? take * 1000 : take);
        }
        pos += 4 + static_cast<int64_t>(p);
    }
    return points;
}

// The bytes strings are searched in: the whole file, or for a file over 10 MiB its first
// and last 5 MiB joined by "|"; upper-cased the way the current locale upper-cases a byte.
// The stream is read a chunk at a time into one buffer that lives as long as the loaded
// image (one per scan slot), so a scan neither allocates nor zero-fills a buffer the size of
// the file. Consecutive chunks overlap by the longest string less one byte, so a string is
// found exactly when it occurs in the stream, a chunk edge inside it or not.
class StringSearch {
public:
    using Needle = std::pair<const uint8_t*, size_t>;

    // Opens the submitted file again; false when it cannot be opened.
    bool open() {
        close();
        fd_ = openForReading(g.openPath);
        if (fd_ < 0) return false;
        segmentCount_ = 0;
        uint64_t size = 0;
        if (!regularFileSize(fd_, size)) return true;  // nothing to search
        if (size > kQrixWholeFileLimit) {
            segments_[segmentCount_++] = {0, kQrixWindow, false};
            segments_[segmentCount_++] = {0, 1, true};
            segments_[segmentCount_++] = {size - kQrixWindow, kQrixWindow, false};
        } else {
            segments_[segmentCount_++] = {0, size, false};
        }
        return true;
    }
    void close() {
        if (fd_ >= 0) ::close(fd_);
        fd_ = -1;
    }

    // found[i]: whether the non-empty needles[i] occurs in the stream of the open file.
    void search(const std::vector<Needle>& needles, std::vector<bool>& found) {
        found.assign(needles.size(), false);
        uint64_t total = 0;
        for (size_t s = 0; s < segmentCount_; ++s) total += segments_[s].length;
        // A string longer than the whole stream occurs nowhere and widens no overlap.
        size_t longest = 0;
        for (const Needle& n : needles)
            if (n.second <= total) longest = std::max(longest, n.second);
        if (longest == 0 || fd_ < 0) return;
        // Deliberately the locale's classification: the definitions rely on the same
        // upper-casing the string search has always applied.
        uint8_t upper[256];
        for (int c = 0; c < 256; ++c) upper[c] = static_cast<uint8_t>(std::islower(c) ? std::toupper(c) : c);

        const size_t keep = longest - 1;
        reserve(keep + kQrixSearchChunk);
        uint8_t* buf = buffer_.get();
        size_t have = 0;  // the kept end of the previous chunk, then the new bytes
        size_t left = needles.size();
        for (size_t s = 0; s < segmentCount_ && left > 0; ++s) {
            const Segment& seg = segments_[s];
            for (uint64_t done = 0; done < seg.length && left > 0;) {
                const size_t want = static_cast<size_t>(std::min<uint64_t>(kQrixSearchChunk, seg.length - done));
                size_t got = 1;
                if (seg.bar)
                    buf[have] = '|';
                else
                    got = readFully(fd_, buf + have, want, seg.offset + done);
                for (size_t i = have; i < have + got; ++i) buf[i] = upper[buf[i]];
                have += got;
                for (size_t i = 0; i < needles.size(); ++i) {
                    if (found[i] || needles[i].second > have) continue;
                    if (::memmem(buf, have, needles[i].first, needles[i].second) != nullptr) {
                        found[i] = true;
                        --left;
                    }
                }
                if (have > keep) {
                    std::memmove(buf, buf + have - keep, keep);
                    have = keep;
                }
                if (got < want) break;  // a short read ends the segment
                done += got;
            }
        }
        // Only an unusually long string grows the buffer past one chunk and its overlap; such
        // a buffer is not kept for the next file.
        if (capacity_ > 2 * kQrixSearchChunk) {
            buffer_.reset();
            capacity_ = 0;
        }
    }

private:
    struct Segment {
        uint64_t offset;
        uint64_t length;
        bool bar;  // the "|" between head and tail
    };

    // Grows the buffer, never shrinks it, and never zero-fills it.
    void reserve(size_t n) {
        if (n <= capacity_) return;
        buffer_.reset();
        buffer_.reset(new uint8_t[n]);
        capacity_ = n;
    }

    int fd_ = -1;
    Segment segments_[3] = {};
    size_t segmentCount_ = 0;
    std::unique_ptr<uint8_t[]> buffer_;
    size_t capacity_ = 0;
};

StringSearch gSearch;

// Walks the strings of a definition in order: visit(bytes, length) for each, the length cut
// at the end of the list, until visit answers false. A declared length that is not positive
// ends the walk with visit(nullptr, 0).
template <typename Visit>
void walkStrings(const Definition& def, Visit visit) {
    const uint8_t* base = g.pack.data() + def.strings.off;
    const int64_t len = def.strings.len;
    int64_t pos = 0;
    while (pos < len - 1) {
        if (len - pos < 4) break;
        const int32_t s = i32At(base + pos);
        if (s <= 0) {
            visit(nullptr, 0);
            return;
        }
        const int64_t take = std::min<int64_t>(s, len - pos - 4);
        if (!visit(base + pos + 4, static_cast<size_t>(take))) return;
        pos += 4 + static_cast<int64_t>(s);
    }
}

// A definition with a string list reads the file again, even when its first string is void.
bool needsFile(const Definition& def) { return def.strings.len >= 4; }

// Every string must occur in the file; each earns 500 per byte. An empty or negative-length
// string occurs nowhere. occurs(bytes, length) answers for one string.
template <typename Occurs>
int64_t scoreStrings(const Definition& def, int64_t points, Occurs occurs) {
    bool all = true;
    walkStrings(def, [&](const uint8_t* p, size_t n) {
        all = n > 0 && occurs(p, n);
        if (all) points = addPoints(points, static_cast<int64_t>(n) * 500);
        return all;
    });
    return all ? points : 0;
}

// Shell sort in descending order over keys[1..n], repeating each swap on perm. Equal keys
// are never swapped directly, but the sort is not stable: which of two tied hits ranks
// first follows from this exact sequence of swaps, and callers depend on it.
void shellSort(int32_t n, int32_t* keys, int32_t* perm) {
    for (int32_t gap = n / 2; gap > 0; gap /= 2) {
        int32_t limit = n - gap;
        int32_t last = 0;
        do {
            last = 0;
            for (int32_t i = 1; i <= limit; ++i) {
                if (keys[i] < keys[i + gap]) {
                    std::swap(keys[i], keys[i + gap]);
                    std::swap(perm[i], perm[i + gap]);
                    last = i;
                }
            }
            limit = last - gap;
        } while (last != 0);
    }
}

int32_t analyze() {
    if (!g.isSubmitted) return 0;
    // Starting afresh makes a second call give the same answer instead of appending hits.
    resetHits();
    // The byte patterns first; the strings of the definitions they leave are then looked for
    // together, in one pass over the file.
    using Needle = StringSearch::Needle;
    std::vector<std::pair<size_t, int64_t>> candidates;  // definition, pattern points
    std::vector<Needle> needles;
    bool fileNeeded = false;
    for (size_t i = 1; i < g.defs.size(); ++i) {
        const int64_t points = scorePatterns(g.defs[i]);
        if (points <= 0) continue;
        candidates.emplace_back(i, points);
        if (!needsFile(g.defs[i])) continue;
        fileNeeded = true;
        walkStrings(g.defs[i], [&](const uint8_t* p, size_t n) {
            if (n > 0) needles.emplace_back(p, n);
            return true;
        });
    }
    // Each distinct string once, in byte order.
    auto less = [](const Needle& a, const Needle& b) {
        return std::lexicographical_compare(a.first, a.first + a.second, b.first, b.first + b.second);
    };
    auto same = [](const Needle& a, const Needle& b) {
        return a.second == b.second && std::memcmp(a.first, b.first, a.second) == 0;
    };
    std::sort(needles.begin(), needles.end(), less);
    needles.erase(std::unique(needles.begin(), needles.end(), same), needles.end());

    // A file that cannot be opened again fails the analysis: the definitions that need
    // strings score 0, and the others are still ranked.
    const bool readable = !fileNeeded || gSearch.open();
    std::vector<bool> found;
    if (fileNeeded && readable) gSearch.search(needles, found);
    gSearch.close();
    auto occurs = [&](const uint8_t* p, size_t n) {
        const Needle key(p, n);
        const auto it = std::lower_bound(needles.begin(), needles.end(), key, less);
        return it != needles.end() && same(*it, key) && found[static_cast<size_t>(it - needles.begin())];
    };
    for (const auto& [i, patternPoints] : candidates) {
        const Definition& def = g.defs[i];
        int64_t points = patternPoints;
        if (needsFile(def)) points = readable ? scoreStrings(def, points, occurs) : 0;
        if (points > 0) {
            ++g.hitCount;
            g.hitDef[g.hitCount] = static_cast<int32_t>(i);
            g.hitPoints[g.hitCount] = static_cast<int32_t>(points);
        }
    }
    if (g.hitCount > 0) shellSort(g.hitCount, g.hitPoints.data(), g.hitOrder.data());
    return readable ? 1 : 0;
}

// ---- queries ----

int32_t writeText(const Span& s, char* out) {
    if (out != nullptr && s.len > 0) {
        const size_t n = std::min<size_t>(s.len, kQrixTextMax);
        std::memcpy(out, g.pack.data() + s.off, n);
        out[n] = '\0';
    }
    return 1;
}

bool startsWith(const uint8_t* data, size_t size, std::initializer_list<uint8_t> prefix) {
    return size >= prefix.size() && std::equal(prefix.begin(), prefix.end(), data);
}

// A byte-order mark (UTF-8, UTF-16, UTF-32, SCSU, UTF-7, UTF-EBCDIC, BOCU-1) says text;
// otherwise any NUL byte says binary.
int32_t headerLooksLikeText() {
    const uint8_t* h = g.header;
    const size_t n = static_cast<size_t>(g.headerLength);
    if (startsWith(h, n, {0xEF, 0xBB, 0xBF}) || startsWith(h, n, {0xFE, 0xFF}) || startsWith(h, n, {0xFF, 0xFE}) ||
        startsWith(h, n, {0x00, 0x00, 0xFE, 0xFF}) || startsWith(h, n, {0x0E, 0xFE, 0xFF}))
        return 1;
    if (startsWith(h, n, {'+', '/', 'v'})) {
        return n >= 4 && (h[3] == '/' || h[3] == '8' || h[3] == '9' || h[3] == '+') ? 1 : 0;
    }
    if (startsWith(h, n, {0xDD, 0x73, 0x66, 0x73}) || startsWith(h, n, {0xFB, 0xEE, 0x28})) return 1;
    return std::memchr(h, 0, n) == nullptr ? 1 : 0;
}

int32_t getInfo(int32_t mode, int32_t index, char* out) {
    // Indexes outside the tables answer like the empty element 0.
    const Definition none;
    const int32_t rankDef = validRank(index) ? g.hitDef[g.hitOrder[index]] : 0;
    const Definition& byRank = validDefinition(rankDef) ? g.defs[rankDef] : none;
    const Definition& byIndex = validDefinition(index) ? g.defs[index] : none;
    switch (mode) {
        case 1:
            return g.hitCount;
        case 2:
            return writeText(byRank.type, out);
        case 3:
            return writeText(byRank.ext, out);
        case 4:
            return validRank(index) ? g.hitPoints[index] : 0;
        case 100:
            return rankDef;
        case 101:
            return byIndex.fnum;
        case 102:
            return writeText(byIndex.user, out);
        case 103:
            return writeText(byIndex.mail, out);
        case 104:
            return writeText(byIndex.home, out);
        case 105:
            return writeText(byIndex.name, out);
        case 106:
            return writeText(byIndex.rem, out);
        case 107:
            return writeText(byIndex.rurl, out);
        case 108:
            return byIndex.tag;
        case 109:
            return writeText(byIndex.mime, out);
        case 1001:
            return kLibraryVersion;
        case 1004:
            return g.declared;
        case 1005:
            return headerLooksLikeText();
        default:
            return 0;
    }
}

int32_t clampToInt32(int64_t v) { return static_cast<int32_t>(std::clamp<int64_t>(v, INT32_MIN, INT32_MAX)); }

// The process's character-type locale governs the narrow/wide path conversions and which
// bytes count as lower-case letters in the string search.
__attribute__((constructor)) void setLocaleAtLoad() { std::setlocale(LC_CTYPE, ""); }

}  // namespace

QRIX_EXPORT int32_t Qrix_LoadDefsPack(char* dir) {
    try {
        clearPackage();
        if (dir == nullptr) return 0;
        // The name is joined to the directory as given, never cut: a cut path could name
        // a different file.
        std::string path = dir;
        if (!path.empty() && path.back() != ':' && path.back() != '\\') path += '\\';
        path += "QrixDefs.QXD";
        return loadPackFile(slashed(path));
    } catch (...) {
        clearPackage();
        return 0;
    }
}

QRIX_EXPORT int32_t Qrix_SetDefsPack(const char* pack) {
    try {
        clearPackage();
        if (pack == nullptr) return 0;
        const auto* bytes = reinterpret_cast<const uint8_t*>(pack);
        if (!idIs(bytes, "RIFF")) return 0;
        const uint64_t total = 8 + static_cast<uint64_t>(static_cast<uint32_t>(i32At(bytes + 4)));
        if (total > kQrixPackMax) return 0;
        return parse(bytes, static_cast<size_t>(total));
    } catch (...) {
        clearPackage();
        return 0;
    }
}

QRIX_EXPORT int32_t Qrix_SubmitFileA(const char* path) {
    try {
        beginSubmission();
        if (path == nullptr) return 0;
        // The path bytes are opened as given; the wide copy is kept for the record only, so a
        // name the locale cannot convert is still read.
        std::wstring wide;
        std::mbstate_t state{};
        const char* src = path;
        const size_t n = std::mbsrtowcs(nullptr, &src, 0, &state);
        if (n != static_cast<size_t>(-1)) {
            wide.resize(n);
            state = std::mbstate_t{};
            src = path;
            std::mbsrtowcs(wide.data(), &src, n, &state);
        }
        return submit(path, std::move(wide));
    } catch (...) {
        return 0;
    }
}

QRIX_EXPORT int32_t Qrix_SubmitFile(const wchar_t* path) {
    try {
        beginSubmission();
        if (path == nullptr) return 0;
        std::mbstate_t state{};
        const wchar_t* src = path;
        const size_t n = std::wcsrtombs(nullptr, &src, 0, &state);
        if (n == static_cast<size_t>(-1)) return 0;
        std::string narrow(n, '\0');
        state = std::mbstate_t{};
        src = path;
        std::wcsrtombs(narrow.data(), &src, n, &state);
        return submit(std::move(narrow), path);
    } catch (...) {
        return 0;
    }
}

QRIX_EXPORT int32_t Qrix_Analyze(void) {
    try {
        return analyze();
    } catch (...) {
        resetHits();
        return 0;
    }
}

QRIX_EXPORT int32_t Qrix_GetInfo(int32_t mode, int32_t index, char* out) {
    if (out != nullptr) out[0] = '\0';
    return getInfo(mode, index, out);
}

QRIX_EXPORT int32_t PB_PEEK(const int64_t* offset, const int64_t* count, char* out) {
    if (offset == nullptr || count == nullptr || out == nullptr) return 0;
    const int64_t size = static_cast<int64_t>(g.pack.size());
    if (*offset < 0 || *count <= 0 || *offset >= size) return 0;
    const int64_t n = std::min(*count, size - *offset);
    std::memcpy(out, g.pack.data() + *offset, static_cast<size_t>(n));
    return static_cast<int32_t>(n);
}

QRIX_EXPORT int32_t PB_MAX(const int64_t* a, const int64_t* b) {
    if (a == nullptr || b == nullptr) return 0;
    return clampToInt32(std::max(*a, *b));
}

QRIX_EXPORT int32_t PB_MIN(int64_t a, int64_t b) { return clampToInt32(std::min(a, b)); }

QRIX_EXPORT int32_t SHELLSORT(int32_t n, const QrixArrayRef* keys, const QrixArrayRef* perm) {
    if (n < 1 || keys == nullptr || perm == nullptr || keys->data == nullptr || perm->data == nullptr) return 0;
    shellSort(n, keys->data, perm->data);
    return 1;
}
