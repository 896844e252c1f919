#include "formats/media/AMRFTAUtils.h"

#include <cstring>

namespace {

constexpr char kSingleChannelMagic[] = "#!AMR\n";
constexpr char kMultiChannelMagic[] = "#!AMR_MC1.0\n";
constexpr size_t kSingleChannelBytes = sizeof(kSingleChannelMagic) - 1;  // 6
constexpr size_t kMultiChannelBytes = sizeof(kMultiChannelMagic) - 1;    // 12
// The multi-channel magic is only looked for in files of at least this size.
constexpr unsigned long kMultiChannelMinSize = 13;

}  // namespace

int AMRFTAUtils::isAMRFileBased(const std::string& path, unsigned long /*size*/) {
    kiv::FileByteSource src(path);
    return isAMRFileBased(src);
}

int AMRFTAUtils::isAMRFileBased(const kiv::ByteSource& src) {
    const uint64_t size = src.size();
    if (size < kSingleChannelBytes) return 0;
    char buf[kMultiChannelBytes] = {};
    src.readAt(0, buf, size < kMultiChannelMinSize ? kSingleChannelBytes : kMultiChannelBytes);
    if (std::memcmp(buf, kSingleChannelMagic, kSingleChannelBytes) == 0) return MEDIA_CONTAINER_AMR;
    if (std::memcmp(buf, kMultiChannelMagic, kMultiChannelBytes) == 0) return MEDIA_CONTAINER_AMR;
    return 0;
}
