#include "formats/media/MP3Parser.h"

#include <cstring>

#include "core/ByteUtils.h"

namespace {

// Positions searched for the first frame or tag: 0 to 1025 (a position above 1024 is
// still tried before the search gives up).
constexpr uint64_t kSearchLimit = 1024;
// Other data tolerated after a frame: a position may lie this far past its end.
constexpr uint64_t kMaxGap = 15;
// More frames than this in a row make the file MP3.
constexpr int kFramesNeeded = 10;
constexpr size_t kTagPeek = 8;
constexpr size_t kFrameHeaderBytes = 4;
constexpr size_t kID3HeaderBytes = 10;

}  // namespace

const int MP3Parser::bitRates[16][9] = {
    {-2, -2, -2, -2, -2, -2, -2, -2, -2},          {32, 32, 32, 32, 8, 8, 32, 8, 8},
    {64, 48, 40, 48, 16, 16, 48, 16, 16},          {96, 56, 48, 56, 24, 24, 56, 24, 24},
    {128, 64, 56, 64, 32, 32, 64, 32, 32},         {160, 80, 64, 80, 40, 40, 80, 40, 40},
    {192, 96, 80, 96, 48, 48, 96, 48, 48},         {224, 112, 96, 112, 56, 56, 112, 56, 56},
    {256, 128, 112, 128, 64, 64, 128, 64, 64},     {288, 160, 128, 144, 80, 80, 144, 80, 80},
    {320, 192, 160, 160, 96, 96, 160, 96, 96},     {352, 224, 192, 176, 112, 112, 176, 112, 112},
    {384, 256, 224, 192, 128, 128, 192, 128, 128}, {416, 320, 256, 224, 144, 144, 224, 144, 144},
    {448, 384, 320, 256, 160, 160, 256, 160, 160}, {-1, -1, -1, -1, -1, -1, -1, -1, -1},
};

const int MP3Parser::sampleRates[4][3] = {
    {44100, 22050, 11025},
    {48000, 24000, 12000},
    {32000, 16000, 8000},
    {-1, -1, -1},
};

MP3Parser::MP3Parser(const std::string& path, unsigned long /*size*/)
    : owned_(std::make_unique<kiv::FileByteSource>(path)) {
    src_ = owned_.get();
    size_ = src_->size();
}

MP3Parser::MP3Parser(const kiv::ByteSource& src) : src_(&src), size_(src.size()) {}

void MP3Parser::close() {
    src_ = nullptr;
    owned_.reset();
    size_ = 0;
    pos_ = 0;
}

size_t MP3Parser::readAt(uint64_t off, void* dst, size_t n) const { return src_ ? src_->readAt(off, dst, n) : 0; }

int MP3Parser::getTypeTag() {
    uint8_t b[kTagPeek] = {};
    readAt(pos_, b, sizeof(b));
    if (std::memcmp(b, "ID3", 3) == 0) return TAG_ID3;
    if (std::memcmp(b, "3DI", 3) == 0) return TAG_3DI;
    if (std::memcmp(b, "TAG", 3) == 0) return TAG_TAG;
    if (std::memcmp(b, "APETAGEX", 8) == 0) return TAG_APETAGEX;
    // Four bits here against three in parseFrame: MPEG-2.5 headers (FF E0-EF) are not
    // taken for frames by the search.
    if (b[0] == 0xFF && (b[1] & 0xF0) == 0xF0) return TAG_FRAME_SYNC;
    return TAG_OTHER;
}

uint32_t MP3Parser::toSynchsafeInteger(uint32_t raw) {
    return ((raw >> 24) & 0x7F) << 21 | ((raw >> 16) & 0x7F) << 14 | ((raw >> 8) & 0x7F) << 7 | (raw & 0x7F);
}

int MP3Parser::parseID3v2(ID3v2& tag) {
    std::memset(tag.header, 0, sizeof(tag.header));
    const size_t got = readAt(pos_, tag.header, kID3HeaderBytes);
    pos_ += got;
    // A header cut off by the end of the file is no tag: its missing size bytes would read
    // as 0, and any text that merely ends in "ID3" would pass for one.
    if (got < kID3HeaderBytes) return kNotMP3;
    return validateID3v2(tag);
}

int MP3Parser::validateID3v2(ID3v2& tag) {
    if (std::memcmp(tag.header, "ID3", 3) != 0) return kNotMP3;
    tag.size = toSynchsafeInteger(*kiv::be32(tag.header, sizeof(tag.header), 6));
    return static_cast<uint64_t>(tag.size) + kID3HeaderBytes <= size_ ? kIsMP3 : kNotMP3;
}

int MP3Parser::parseFrame(MP3Frame& frame) {
    uint8_t h[kFrameHeaderBytes];
    size_t got = readAt(pos_, h, sizeof(h));
    pos_ += got;
    if (got < sizeof(h)) return FRAME_INVALID;
    frame.header = *kiv::be32(h, sizeof(h), 0);
    return validateFrame(frame);
}

int MP3Parser::validateFrame(MP3Frame& frame) {
    const uint32_t h = frame.header;
    if ((h >> 24) != 0xFF || ((h >> 21) & 0x7) != 0x7) return FRAME_INVALID;

    switch ((h >> 19) & 0x3) {
        case 3:
            frame.version = 1;
            break;
        case 2:
            frame.version = 2;
            break;
        case 0:
            frame.version = 3;
            break;
        default:
            return FRAME_INVALID;
    }
    switch ((h >> 17) & 0x3) {
        case 3:
            frame.layer = 1;
            break;
        case 2:
            frame.layer = 2;
            break;
        case 1:
            frame.layer = 3;
            break;
        default:
            return FRAME_INVALID;
    }

    const int kbps = bitRates[(h >> 12) & 0xF][(frame.version - 1) * 3 + (frame.layer - 1)];
    if (kbps == -2) return FRAME_FREE_FORMAT;
    if (kbps == -1) return FRAME_INVALID;
    frame.bitRate = static_cast<uint32_t>(kbps) * 1000;

    const int rate = sampleRates[(h >> 10) & 0x3][frame.version - 1];
    if (rate == -1) return FRAME_INVALID;
    frame.sampleRate = static_cast<uint32_t>(rate);

    const uint32_t padding = (h >> 9) & 0x1;
    const int result = (h & 0x3) == 2 ? FRAME_RESERVED_EMPHASIS : FRAME_VALID;

    uint64_t length;
    if (frame.layer == 1)
        length = (12ull * frame.bitRate / frame.sampleRate + padding) * 4;
    else if (frame.layer == 3 && frame.version == 2)
        length = 72ull * frame.bitRate / frame.sampleRate + padding;
    else  // MPEG-2.5 layer 3 too
        length = 144ull * frame.bitRate / frame.sampleRate + padding;
    frame.length = static_cast<uint32_t>(length);

    // The body is what follows the header; a frame may end exactly at the end of the file.
    const uint64_t left = pos_ <= size_ ? size_ - pos_ : 0;
    if (length <= kFrameHeaderBytes || length - kFrameHeaderBytes > left) return FRAME_INVALID;

    frame.body.resize(length - kFrameHeaderBytes);
    size_t got = readAt(pos_, frame.body.data(), frame.body.size());
    pos_ += got;
    if (got < frame.body.size()) return FRAME_BODY_SHORT;
    return result;
}

int MP3Parser::parse() {
    int frames = 0;
    uint64_t lastFrameEnd = 0;
    // The search peeks byte by byte at the start of the file: read that window once.
    if (src_) src_->head(kSearchLimit + 1 + kTagPeek);
    while (src_ != nullptr && pos_ < size_) {
        const int kind = getTypeTag();
        const uint64_t at = pos_;
        if (kind == TAG_ID3) {
            ID3v2 tag;
            if (parseID3v2(tag) == kIsMP3) return kIsMP3;
        } else if (kind == TAG_FRAME_SYNC) {
            MP3Frame frame;
            const int result = parseFrame(frame);
            if (result != FRAME_FREE_FORMAT && result != FRAME_INVALID) {
                if (++frames > kFramesNeeded) break;
                lastFrameEnd = pos_;
                continue;  // the next frame must start right here or within the gap
            }
        }
        // Not a tag or frame here: slide on by one byte, within the search window and,
        // once frames were seen, within the gap allowed after the last one.
        if (at > kSearchLimit) break;
        if (frames > 0 && at - lastFrameEnd > kMaxGap) return kNotMP3;
        pos_ = at + 1;
    }
    return frames > kFramesNeeded ? kIsMP3 : kNotMP3;
}
