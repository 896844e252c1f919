#include "formats/media/ASFHandler.h"

#include <cstring>

#include "core/ByteUtils.h"
#include "core/Limits.h"
#include "core/TypeTables.h"

namespace {

bool readObjectHead(const kiv::ByteSource& src, uint64_t pos, uint8_t (&guid)[16], uint64_t& objectSize) {
    uint8_t head[ASFHandler::kObjectHeadBytes];
    if (src.readAt(pos, head, sizeof(head)) != sizeof(head)) return false;
    std::memcpy(guid, head, 16);
    objectSize = *kiv::le64(head, sizeof(head), 16);
    return true;
}

// Reads the little-endian u16 at p and moves p past it; false when it does not fit.
bool readU16(const kiv::ByteSource& src, uint64_t& p, uint16_t& value) {
    const uint64_t size = src.size();
    if (p > size || size - p < 2) return false;
    uint8_t b[2];
    if (src.readAt(p, b, 2) != 2) return false;
    value = *kiv::le16(b, sizeof b, 0);
    p += 2;
    return true;
}

}  // namespace

MediaContainerFileType ASFHandler::isASFFileBased(const std::string& path) {
    kiv::FileByteSource src(path);
    return isASFFileBased(src);
}

MediaContainerFileType ASFHandler::isASFFileBased(const kiv::ByteSource& src) {
    uint64_t codecListOffset = kNoCodecList;
    if (!isASFFileType(src, codecListOffset)) return MEDIA_CONTAINER_NONE;
    return classifyASFFileType(src, codecListOffset);
}

bool ASFHandler::isASFFileType(const kiv::ByteSource& src, uint64_t& codecListOffset) {
    codecListOffset = kNoCodecList;
    const uint64_t size = src.size();
    if (size < ASF_Min_Size) return false;

    uint8_t raw[kHeaderObjectBytes];
    if (src.readAt(0, raw, sizeof(raw)) != sizeof(raw)) return false;
    ASF_Header_Object header;
    std::memcpy(header.guid, raw, 16);
    header.objectSize = *kiv::le64(raw, sizeof(raw), 16);
    header.numberOfHeaderObjects = *kiv::le32(raw, sizeof(raw), 24);
    header.reserved1 = raw[28];
    header.reserved2 = raw[29];
    if (std::memcmp(header.guid, ASF_Object_GUID::ASFSignature, 16) != 0) return false;

    // The header GUID alone makes the file ASF; the walk only looks for the codec list.
    // The child count and sizes come from the file, so an object smaller than its own head
    // (which would not advance), a size that would wrap, or too many objects end the walk.
    uint64_t pos = kHeaderObjectBytes;
    for (uint32_t i = 0; i < header.numberOfHeaderObjects && i < kiv::limits::kAsfMaxHeaderObjects; ++i) {
        if (pos > size || size - pos < kObjectHeadBytes) break;
        uint8_t guid[16];
        uint64_t objectSize = 0;
        if (!readObjectHead(src, pos, guid, objectSize)) break;
        if (std::memcmp(guid, ASF_Object_GUID::ASFCodecList, 16) == 0) {
            codecListOffset = pos;
            break;
        }
        if (objectSize < kObjectHeadBytes || !kiv::checkedAdd(pos, objectSize, pos)) break;
    }
    return true;
}

MediaContainerFileType ASFHandler::classifyASFFileType(const kiv::ByteSource& src, const uint64_t& codecListOffset) {
    const uint64_t size = src.size();
    // "offset >= size" first: the no-list marker is all ones and would wrap when added to.
    if (codecListOffset >= size || size - codecListOffset <= kCodecListObjectBytes) return MEDIA_CONTAINER_ASF;

    uint8_t raw[kCodecListObjectBytes];
    if (src.readAt(codecListOffset, raw, sizeof(raw)) != sizeof(raw)) return MEDIA_CONTAINER_ASF;
    ASF_Codec_List_Object list;
    std::memcpy(list.guid, raw, 16);
    list.objectSize = *kiv::le64(raw, sizeof(raw), 16);
    std::memcpy(list.reserved, raw + 24, 16);
    list.numberOfCodecEntries = *kiv::le32(raw, sizeof(raw), 40);
    if (std::memcmp(list.guid, ASF_Object_GUID::ASFCodecList, 16) != 0) return MEDIA_CONTAINER_ASF;

    // Each entry: type, name length and description length in UTF-16 units, then the
    // codec-specific information length in bytes.
    // The entry count comes from the file: past the cap the list is left undecided.
    uint64_t p = codecListOffset + kCodecListObjectBytes;
    bool audio = false;
    for (uint32_t i = 0; i < list.numberOfCodecEntries; ++i) {
        if (i == kiv::limits::kAsfMaxCodecEntries) return MEDIA_CONTAINER_ASF;
        uint16_t type = 0;
        if (!readU16(src, p, type)) return MEDIA_CONTAINER_ASF;
        if (type == VideoCodec) return MEDIA_CONTAINER_WMV;
        if (type == AudioCodec) audio = true;
        uint16_t nameLength = 0;
        if (!readU16(src, p, nameLength)) return MEDIA_CONTAINER_ASF;
        p += 2 * static_cast<uint64_t>(nameLength);
        uint16_t descriptionLength = 0;
        if (!readU16(src, p, descriptionLength)) return MEDIA_CONTAINER_ASF;
        p += 2 * static_cast<uint64_t>(descriptionLength);
        uint16_t informationLength = 0;
        if (!readU16(src, p, informationLength)) return MEDIA_CONTAINER_ASF;
        p += informationLength;
    }
    return audio ? MEDIA_CONTAINER_WMA : MEDIA_CONTAINER_ASF;
}

void ASFHandler::adjustASFBasedTypes(const MediaContainerFileType& code, std::string& typeId, std::string& mime,
                                     std::string& extensions, std::string& description) {
    switch (code) {
        case MEDIA_CONTAINER_WMV:
            typeId = "WMV";
            mime = "video/x-ms-wmv";
            extensions = "wmv";
            break;
        case MEDIA_CONTAINER_ASF:
            typeId = "ASF";
            mime = "video/x-ms-asf";
            extensions = "asf,wmv,wma";
            break;
        case MEDIA_CONTAINER_WMA:
            typeId = "WMA";
            mime = "audio/x-ms-wma";
            extensions = "wma";
            break;
        default:
            typeId = "data";
            mime = "application/octet-stream";
            extensions = "";
            break;
    }
    description = FileTypeDescription.at(typeId);
}
