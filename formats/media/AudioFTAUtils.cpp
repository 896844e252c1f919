#include "formats/media/AudioFTAUtils.h"

#include "core/ByteUtils.h"
#include "formats/media/MP3Parser.h"

const FourCC RIFF_CHUNK("RIFF");
const FourCC WAV_FILE_TYPE("WAVE");

namespace {
constexpr int kWavCode = 2;
}

FourCC FourCC::fromBytes(const uint8_t* p) {
    FourCC f;
    f.value_ = *kiv::le32(p, 4, 0);
    return f;
}

bool FourCC::read(const kiv::ByteSource& src, uint64_t off) {
    uint8_t b[4];
    if (src.readAt(off, b, sizeof(b)) != sizeof(b)) return false;
    *this = fromBytes(b);
    return true;
}

bool Chunk::read(const kiv::ByteSource& src, uint64_t off) {
    uint8_t b[kHeadBytes];
    if (src.readAt(off, b, sizeof(b)) != sizeof(b)) return false;
    id_ = FourCC::fromBytes(b);
    size_ = *kiv::le32(b, sizeof(b), 4);
    return true;
}

bool WAVParser::validateFileStructure(const std::string& path, unsigned long /*size*/) {
    kiv::FileByteSource src(path);
    return validateFileStructure(src);
}

bool WAVParser::validateFileStructure(const kiv::ByteSource& src) {
    Chunk riff;
    FourCC form;
    if (!riff.read(src, 0) || !form.read(src, Chunk::kHeadBytes)) return false;
    // The RIFF size counts the bytes after the 8-byte head; it is compared with the whole
    // file size, which tolerates writers that count the head too.
    return riff.isEquals(RIFF_CHUNK) && form.isEquals(WAV_FILE_TYPE) && riff.size() <= src.size();
}

int AudioFTAUtils::isWAVFileBased(const std::string& path, unsigned long /*size*/) {
    kiv::FileByteSource src(path);
    return isWAVFileBased(src);
}

int AudioFTAUtils::isWAVFileBased(const kiv::ByteSource& src) {
    return WAVParser::validateFileStructure(src) ? kWavCode : 0;
}

bool AudioFTAUtils::isMP3FileBased(const std::string& path, unsigned long /*size*/) {
    kiv::FileByteSource src(path);
    return isMP3FileBased(src);
}

bool AudioFTAUtils::isMP3FileBased(const kiv::ByteSource& src) {
    MP3Parser parser(src);
    return parser.parse() == MP3Parser::kIsMP3;
}
