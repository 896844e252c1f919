// MPEG audio probe: a file is MP3 when an ID3v2 tag that fits the file starts within its
// first 1026 bytes, or when more than ten valid MPEG audio frames follow one another there
// with at most 16 bytes of other data between them.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "core/ByteSource.h"

struct MP3Frame {
    uint32_t header = 0;      // the 4 header bytes, big-endian
    int version = 0;          // 1 MPEG-1, 2 MPEG-2, 3 MPEG-2.5
    int layer = 0;            // 1, 2 or 3
    uint32_t bitRate = 0;     // bits per second
    uint32_t sampleRate = 0;  // Hz
    uint32_t length = 0;      // bytes, header included
    std::vector<uint8_t> body;
};

struct ID3v2 {
    uint8_t header[10] = {};
    uint32_t size = 0;  // tag size after the 10-byte header
};

class MP3Parser {
public:
    enum TagKind { TAG_FRAME_SYNC = 0, TAG_ID3 = 1, TAG_3DI = 2, TAG_TAG = 3, TAG_APETAGEX = 4, TAG_OTHER = 5 };
    enum FrameResult {
        FRAME_VALID = 0,
        FRAME_RESERVED_EMPHASIS = 1,  // valid; emphasis value 2 is reserved
        FRAME_BODY_SHORT = 2,         // valid header, body not read whole
        FRAME_FREE_FORMAT = 3,
        FRAME_INVALID = 4,
    };
    static constexpr int kIsMP3 = 0;
    static constexpr int kNotMP3 = 4;

    MP3Parser(const std::string& path, unsigned long size);
    // The parser keeps a reference: the source must outlive it.
    explicit MP3Parser(const kiv::ByteSource& src);
    MP3Parser(const kiv::ByteSource&& src) = delete;
    MP3Parser(const MP3Parser&) = delete;
    MP3Parser& operator=(const MP3Parser&) = delete;

    void close();

    // kIsMP3 or kNotMP3.
    int parse();
    // Kind of what starts at the current position, which stays unchanged.
    int getTypeTag();
    // Read a frame at the current position; the position moves past what was read.
    int parseFrame(MP3Frame& frame);
    int validateFrame(MP3Frame& frame);
    // 0 for an ID3v2 header whose tag fits the file, 4 otherwise.
    int parseID3v2(ID3v2& tag);
    int validateID3v2(ID3v2& tag);
    // 7 bits from each of the 4 bytes (given as one big-endian value), most significant first.
    static uint32_t toSynchsafeInteger(uint32_t raw);

    uint64_t position() const { return pos_; }
    void seek(uint64_t pos) { pos_ = pos; }

    // Bit rates in kbit/s by index, columns MPEG-1 layers 1-3, MPEG-2 layers 1-3,
    // MPEG-2.5 layers 1-3; -2 free format, -1 invalid.
    static const int bitRates[16][9];
    // Sample rates by index, columns MPEG-1, MPEG-2, MPEG-2.5; -1 reserved.
    static const int sampleRates[4][3];

private:
    size_t readAt(uint64_t off, void* dst, size_t n) const;

    std::unique_ptr<kiv::FileByteSource> owned_;
    const kiv::ByteSource* src_ = nullptr;
    uint64_t size_ = 0;
    uint64_t pos_ = 0;
};
