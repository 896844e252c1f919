// Advanced Systems Format probe: the header GUID decides ASF, and the codec list tells
// Windows Media video, Windows Media audio and other ASF content apart.
#pragma once

#include <cstdint>
#include <string>

#include "core/ByteSource.h"
#include "formats/media/MediaContainerFileType.h"

class ASFHandler {
public:
    struct ASF_Object_GUID {
        // Header Object GUID as stored in the file.
        static constexpr uint8_t ASFSignature[16] = {0x30, 0x26, 0xB2, 0x75, 0x8E, 0x66, 0xCF, 0x11,
                                                     0xA6, 0xD9, 0x00, 0xAA, 0x00, 0x62, 0xCE, 0x6C};
        // Codec List Object GUID as stored in the file.
        static constexpr uint8_t ASFCodecList[16] = {0x40, 0x52, 0xD1, 0x86, 0x1D, 0x31, 0xD0, 0x11,
                                                     0xA3, 0xA4, 0x00, 0xA0, 0xC9, 0x03, 0x48, 0xF6};
    };

    static constexpr uint64_t ASF_Min_Size = 30;

    enum ASF_Codec_List_Object_Type : uint16_t {
        VideoCodec = 1,
        AudioCodec = 2,
        UnknownCodec = 0xFFFF,
    };

    // Header Object: GUID, object size, number of header objects, two reserved bytes (30 bytes).
    struct ASF_Header_Object {
        uint8_t guid[16];
        uint64_t objectSize;
        uint32_t numberOfHeaderObjects;
        uint8_t reserved1;
        uint8_t reserved2;
    };
    static constexpr uint64_t kHeaderObjectBytes = 30;

    // Codec List Object: GUID, object size, reserved GUID, number of codec entries (44 bytes).
    struct ASF_Codec_List_Object {
        uint8_t guid[16];
        uint64_t objectSize;
        uint8_t reserved[16];
        uint32_t numberOfCodecEntries;
    };
    static constexpr uint64_t kCodecListObjectBytes = 44;

    // Every header child starts with its GUID and its object size (24 bytes).
    static constexpr uint64_t kObjectHeadBytes = 24;

    static constexpr uint64_t kNoCodecList = ~static_cast<uint64_t>(0);

    // MEDIA_CONTAINER_WMA, _WMV or _ASF, or MEDIA_CONTAINER_NONE.
    static MediaContainerFileType isASFFileBased(const std::string& path);
    static MediaContainerFileType isASFFileBased(const kiv::ByteSource& src);

    // True when the header GUID matches; codecListOffset is the codec list's offset, or
    // kNoCodecList when the header walk did not find one.
    static bool isASFFileType(const kiv::ByteSource& src, uint64_t& codecListOffset);
    static MediaContainerFileType classifyASFFileType(const kiv::ByteSource& src, const uint64_t& codecListOffset);

    static void adjustASFBasedTypes(const MediaContainerFileType& code, std::string& typeId, std::string& mime,
                                    std::string& extensions, std::string& description);
};
