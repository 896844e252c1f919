#include "formats/archive/ArchiveProbes.h"

#include "core/ByteSignatures.h"
#include "core/ByteUtils.h"
#include "core/Limits.h"

using kiv::ByteSource;
using kiv::ByteView;

namespace {
const unsigned char metaINF[] = {'M', 'E', 'T', 'A', '-', 'I', 'N', 'F', '/'};
// The UDIF trailer ("koly" block) fills the last 512 bytes of an Apple disk image.
constexpr size_t kDmgTrailerBytes = 512;
}  // namespace

bool isJAR(const ByteSource& src) {
    const ByteView h = src.head(kiv::limits::kJarHeaderWindow);
    return checkBytesMatchWithoutStaticOffset(h.data, static_cast<int>(h.size), metaINF, sizeof metaINF) == 1;
}

bool isISO(const ByteSource& src) {
    for (const FileSignature& row : isoSignatures) {
        if (checkBytesMatch(src, row.bytes.data(), static_cast<unsigned>(row.bytes.size()), row.offset) == 1)
            return true;
    }
    return false;
}

bool isDMG(const ByteSource& src) {
    if (src.size() < kDmgTrailerBytes) return false;
    const ByteView t = src.tail(kDmgTrailerBytes);
    static const unsigned char kVersion[] = {0x00, 0x00, 0x02, 0x00};
    return t.size == kDmgTrailerBytes && t.startsWith("koly", 4) && t.startsWithAt(8, kVersion, sizeof kVersion);
}

bool isATR(const ByteSource& src) {
    if (src.size() <= 3) return false;
    const ByteView h = src.head(4);
    if (h.size < 4 || h.data[0] != 0x96 || h.data[1] != 0x02) return false;
    // The header counts the image in 16-byte paragraphs; the 16-byte header itself adds one.
    const uint64_t paragraphs = *kiv::le16(h.data, h.size, 2);
    return (paragraphs + 1) * 16 == src.size();
}

bool isJAR(const std::string& path, unsigned long) { return isJAR(kiv::FileByteSource(path)); }
bool isISO(const std::string& path) { return isISO(kiv::FileByteSource(path)); }
bool isDMG(const std::string& path, unsigned long) { return isDMG(kiv::FileByteSource(path)); }
bool isATR(const std::string& path, unsigned long) { return isATR(kiv::FileByteSource(path)); }
