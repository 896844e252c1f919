#include "formats/media/AtariFTAUtils.h"

#include "core/ByteUtils.h"

namespace {

constexpr uint16_t kMarker = 0xFFFF;
// Segments after the first that are checked before the file is accepted.
constexpr uint32_t kSegmentsChecked = 5;
// A segment that overlaps the run vector (0x2E0-0x2E1) or the init vector (0x2E2-0x2E3)
// makes the file a program. The lower limits, 735 and 737, sit one byte below the
// vectors' first bytes, so a segment ending just before a vector also counts.
constexpr uint32_t kRunVectorEnd = 738;
constexpr uint32_t kRunVectorLow = 735;
constexpr uint32_t kInitVectorEnd = 740;
constexpr uint32_t kInitVectorLow = 737;

// Reads 6 bytes at pos into a zero-filled buffer (short near the end of the file).
void read6(const kiv::ByteSource& src, uint64_t pos, uint8_t (&buf)[6]) {
    for (uint8_t& b : buf) b = 0;
    src.readAt(pos, buf, sizeof(buf));
}

uint16_t u16(const uint8_t (&buf)[6], size_t off) { return kiv::le16(buf, sizeof buf, off).value_or(0); }

}  // namespace

AtariType AtariFTAUtils::isAtariFileBased(const std::string& path, unsigned long /*size*/) {
    kiv::FileByteSource src(path);
    return isAtariFileBased(src);
}

AtariType AtariFTAUtils::isAtariFileBased(const kiv::ByteSource& src) {
    const uint64_t size = src.size();
    uint8_t buf[6];
    read6(src, 0, buf);
    if (u16(buf, 0) != kMarker) return ATARI_NONE;

    uint32_t start = u16(buf, 2);
    uint32_t end = u16(buf, 4);
    if (end < start) return ATARI_DAMAGED;
    uint32_t length = end - start + 1;
    if (length >= size) return ATARI_DAMAGED;
    uint64_t pos = 6 + static_cast<uint64_t>(length);

    for (uint32_t count = 0;; ++count) {
        if (pos >= size || count >= kSegmentsChecked)
            return pos == size || count == kSegmentsChecked ? ATARI_ACCEPTED : ATARI_DAMAGED;
        read6(src, pos, buf);
        const uint16_t word = u16(buf, 0);
        if (word == kMarker) return ATARI_ACCEPTED;
        start = word;
        end = u16(buf, 2);
        if (end < start) return ATARI_DAMAGED;
        length = end - start + 1;
        if ((start < kRunVectorEnd && start + length > kRunVectorLow) ||
            (start < kInitVectorEnd && start + length > kInitVectorLow))
            return ATARI_ACCEPTED;
        // The segment head is 4 bytes; the 6 bytes read above only peeked for a marker.
        pos += static_cast<uint64_t>(length) + 4;
    }
}
