#include "formats/media/MediaContainerFileType.h"

#include <cstring>

#include "core/ByteUtils.h"

using kiv::ByteSource;
using kiv::ByteView;

namespace {

constexpr size_t kMediaHeaderBytes = 12;

struct BrandRow {
    const char* brand;  // four bytes
    MediaContainerFileType code;
};

constexpr BrandRow kBrands[] = {
    {"3g2a", MEDIA_CONTAINER_3G2},  {"3g2b", MEDIA_CONTAINER_3G2},  {"3g2c", MEDIA_CONTAINER_3G2},
    {"qt  ", MEDIA_CONTAINER_MOV},  {"M4V ", MEDIA_CONTAINER_M4V},  {"M4VP", MEDIA_CONTAINER_M4V},
    {"M4VH", MEDIA_CONTAINER_M4V},  {"M4A ", MEDIA_CONTAINER_M4A},  {"M4A\0", MEDIA_CONTAINER_M4A},
    {"M4B ", MEDIA_CONTAINER_M4B},  {"M4B\0", MEDIA_CONTAINER_M4B}, {"M4P ", MEDIA_CONTAINER_M4P},
    {"M4P\0", MEDIA_CONTAINER_M4P}, {"avc1", MEDIA_CONTAINER_MP4},  {"iso2", MEDIA_CONTAINER_MP4},
    {"isom", MEDIA_CONTAINER_MP4},  {"mmp4", MEDIA_CONTAINER_MP4},  {"mp41", MEDIA_CONTAINER_MP4},
    {"mp42", MEDIA_CONTAINER_MP4},  {"mp71", MEDIA_CONTAINER_MP4},  {"msnv", MEDIA_CONTAINER_MP4},
    {"ndas", MEDIA_CONTAINER_MP4},  {"ndsc", MEDIA_CONTAINER_MP4},  {"ndsh", MEDIA_CONTAINER_MP4},
    {"ndsm", MEDIA_CONTAINER_MP4},  {"ndsp", MEDIA_CONTAINER_MP4},  {"ndss", MEDIA_CONTAINER_MP4},
    {"ndxc", MEDIA_CONTAINER_MP4},  {"ndxh", MEDIA_CONTAINER_MP4},  {"ndxm", MEDIA_CONTAINER_MP4},
    {"ndxp", MEDIA_CONTAINER_MP4},  {"ndxs", MEDIA_CONTAINER_MP4},
};

// 3GPP brands: 3GP release 1 to 7 and the extended, general, streaming-server and
// progressive-download profiles, plus the KDDI brand.
constexpr const char* k3gpBrands[] = {"3ge6", "3ge7", "3gg6", "3gp1", "3gp2", "3gp3", "3gp4", "3gp5",
                                      "3gp6", "3gp7", "3gr6", "3gr7", "3gs6", "3gs7", "kddi"};

}  // namespace

MediaContainerFileType determineMediaContainerType(const ByteSource& src) {
    const ByteView h = src.head(kMediaHeaderBytes);
    if (h.size < kMediaHeaderBytes) return MEDIA_CONTAINER_NONE;
    // MPEG program and video streams: start codes 00 00 01 B0 to BF.
    if ((*kiv::le32(h.data, h.size, 0) & 0xF0FFFFFFu) == 0xB0010000u) return MEDIA_CONTAINER_MPEG;
    // Video CD tracks: RIFF with form type CDXA.
    if (h.startsWith("RIFF", 4) && h.startsWithAt(8, "CDXA", 4)) return MEDIA_CONTAINER_MPG;
    const uint8_t* brand = h.at(8);
    // The 3GPP row also insists on the ftyp box; the other brand rows look at bytes 8 to 11
    // alone, since libmagic has already called the file a media container when this runs.
    if (h.startsWithAt(4, "ftyp", 4)) {
        for (const char* b : k3gpBrands) {
            if (std::memcmp(brand, b, 4) == 0) return MEDIA_CONTAINER_3GP;
        }
    }
    for (const BrandRow& row : kBrands) {
        if (std::memcmp(brand, row.brand, 4) == 0) return row.code;
    }
    return MEDIA_CONTAINER_NONE;
}

MediaContainerFileType determineMediaContainerType(const std::string& path) {
    return determineMediaContainerType(kiv::FileByteSource(path));
}
