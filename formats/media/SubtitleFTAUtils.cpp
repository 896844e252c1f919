#include "formats/media/SubtitleFTAUtils.h"

#include <cstring>

#include "core/ResultRow.h"

namespace {

// A PAC file ends with an FF, eleven zero bytes, 11 00 and the text "dummy end of file".
constexpr uint8_t kPacTrailer[31] = {0xFF, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
                                     0x00, 0x11, 0x00, 'd',  'u',  'm',  'm',  'y',  ' ',  'e',  'n',
                                     'd',  ' ',  'o',  'f',  ' ',  'f',  'i',  'l',  'e'};
constexpr uint64_t kPacMinSize = 66;
constexpr uint8_t kPacHeadByte23 = 0x60;  // the character `

constexpr uint64_t k890MinSize = 512;
constexpr uint64_t k890Record = 16;
constexpr uint8_t k890Marker[4] = {0x08, 0x90, 0x00, 0x00};

}  // namespace

SubtitleType SubtitleFTAUtils::isSubtitle(const std::string& path) {
    kiv::FileByteSource src(path);
    return isSubtitle(src);
}

SubtitleType SubtitleFTAUtils::isSubtitle(const kiv::ByteSource& src) {
    if (SubtitleType code = isPACFile(src)) return code;
    return is890File(src);
}

SubtitleType SubtitleFTAUtils::isPACFile(const kiv::ByteSource& src) {
    if (src.size() < kPacMinSize) return SUBTITLE_NONE;
    kiv::ByteView h = src.head(24);
    if (h.size < 24 || h.data[0] != 0x01 || h.data[23] != kPacHeadByte23) return SUBTITLE_NONE;
    kiv::ByteView t = src.tail(sizeof(kPacTrailer));
    return t.size == sizeof(kPacTrailer) && t.startsWith(kPacTrailer, sizeof(kPacTrailer)) ? SUBTITLE_PAC
                                                                                           : SUBTITLE_NONE;
}

SubtitleType SubtitleFTAUtils::is890File(const kiv::ByteSource& src) {
    const uint64_t size = src.size();
    if (size < k890MinSize || size % k890Record != 0) return SUBTITLE_NONE;
    kiv::ByteView h = src.head(176);
    if (h.size < 176) return SUBTITLE_NONE;
    if (h.data[0] != 0x00 || h.data[1] != 0x00 || (h.data[2] != 0x00 && h.data[2] != 0x20)) return SUBTITLE_NONE;
    if (h.data[144] != 0x00 || h.data[145] != 0x00) return SUBTITLE_NONE;
    return h.startsWithAt(172, k890Marker, sizeof(k890Marker)) ? SUBTITLE_890 : SUBTITLE_NONE;
}

namespace {
constexpr kiv::ResultRow<uint8_t> kSubtitleRows[] = {
    {SUBTITLE_PAC, "PAC", "application/octet-stream", "pac"},
    {SUBTITLE_890, "890", "application/octet-stream", "890"},
};
constexpr kiv::ResultRow<uint8_t> kNoSubtitle = {SUBTITLE_NONE, "data", "application/octet-stream", ""};
}  // namespace

void adjustSubtitleTypes(uint8_t code, std::string& typeId, std::string& mime, std::string& extensions,
                         std::string& description) {
    kiv::writeRow(kiv::rowFor(kSubtitleRows, code, kNoSubtitle), typeId, mime, extensions, description);
}
