// Audio probes of the cascade's last steps: RIFF WAVE files and MPEG audio (MP3) files.
#pragma once

#include <cstdint>
#include <string>

#include "core/ByteSource.h"

// Four characters as stored; compared as one 32-bit value.
class FourCC {
public:
    FourCC() = default;
    constexpr explicit FourCC(const char (&text)[5])
        : value_(static_cast<uint32_t>(static_cast<uint8_t>(text[0])) |
                 static_cast<uint32_t>(static_cast<uint8_t>(text[1])) << 8 |
                 static_cast<uint32_t>(static_cast<uint8_t>(text[2])) << 16 |
                 static_cast<uint32_t>(static_cast<uint8_t>(text[3])) << 24) {}

    // False when the 4 bytes at off run past the end of the file.
    bool read(const kiv::ByteSource& src, uint64_t off);
    static FourCC fromBytes(const uint8_t* p);
    bool isEquals(const FourCC& other) const { return value_ == other.value_; }

private:
    uint32_t value_ = 0;
};

// RIFF chunk head: id and little-endian size.
class Chunk {
public:
    // False when the 8 bytes at off run past the end of the file.
    bool read(const kiv::ByteSource& src, uint64_t off);
    bool isEquals(const FourCC& id) const { return id_.isEquals(id); }
    uint32_t size() const { return size_; }

    static constexpr uint64_t kHeadBytes = 8;

private:
    FourCC id_;
    uint32_t size_ = 0;
};

extern const FourCC RIFF_CHUNK;
extern const FourCC WAV_FILE_TYPE;

class WAVParser {
public:
    // "RIFF", form "WAVE", and a RIFF size no larger than the file.
    static bool validateFileStructure(const std::string& path, unsigned long size);
    static bool validateFileStructure(const kiv::ByteSource& src);
};

class AudioFTAUtils {
public:
    // 2 for a WAV file, 0 otherwise.
    static int isWAVFileBased(const std::string& path, unsigned long size);
    static int isWAVFileBased(const kiv::ByteSource& src);

    // True for an ID3v2-tagged file or a run of more than ten MPEG audio frames near the start.
    static bool isMP3FileBased(const std::string& path, unsigned long size);
    static bool isMP3FileBased(const kiv::ByteSource& src);
};
