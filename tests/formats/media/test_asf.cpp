// ASF probe: the header walk to the codec list and its classification.
#include "MediaTestKit.h"
#include "formats/media/ASFHandler.h"

using namespace mediatest;

namespace {

using Guid = ASFHandler::ASF_Object_GUID;

// Codec list object: entries of (type, information length), each named "W" and described "ab".
Bytes codecList(std::initializer_list<std::pair<uint16_t, uint16_t>> codecs, uint32_t count = 0) {
    ByteBuilder e;
    for (auto& c : codecs) e.le16(c.first).le16(1).le16('W').le16(2).le16('a').le16('b').le16(c.second).fill(c.second);
    ByteBuilder b;
    b.raw(Guid::ASFCodecList, 16).le64(44 + e.bytes.size()).fill(16).le32(count ? count : codecs.size());
    return b.raw(e.bytes.data(), e.bytes.size()).bytes;
}

// Header object with a file-properties-sized object and the list (if any) as children, then data.
Bytes asf(const Bytes& list) {
    ByteBuilder b;
    b.raw(Guid::ASFSignature, 16).le64(30 + 104 + list.size()).le32(list.empty() ? 1 : 2).u8(1).u8(2);
    b.fill(16, 0xA1).le64(104).fill(80);
    return b.raw(list.data(), list.size()).fill(64, 0x55).bytes;
}

MediaContainerFileType probe(const Bytes& b) { return ASFHandler::isASFFileBased(mem(b)); }

// Counts the reads that reach the bytes, to show that a hostile walk ends at once.
class CountingSource : public kiv::ByteSource {
public:
    explicit CountingSource(const Bytes& b) : bytes_(b) { size_ = b.size(); }
    mutable int reads = 0;

protected:
    size_t doRead(uint64_t off, void* dst, size_t n) const override {
        ++reads;
        return kiv::MemoryByteSource(bytes_).readAt(off, dst, n);
    }

private:
    Bytes bytes_;
};

}  // namespace

TEST(ASF, CodecListDecides) {
    EXPECT_EQ(probe(asf({})), MEDIA_CONTAINER_ASF);
    EXPECT_EQ(probe(asf(codecList({}))), MEDIA_CONTAINER_ASF);
    EXPECT_EQ(probe(asf(codecList({{2, 2}}))), MEDIA_CONTAINER_WMA);
    EXPECT_EQ(probe(asf(codecList({{2, 2}, {1, 0}}))), MEDIA_CONTAINER_WMV);
    EXPECT_EQ(probe(asf(codecList({{1, 3}, {2, 0}}))), MEDIA_CONTAINER_WMV);
    EXPECT_EQ(probe(asf(codecList({{0xFFFF, 0}}))), MEDIA_CONTAINER_ASF);
    // Audio-only list cut inside its last entry (18 bytes, the information length at 12).
    Bytes cut = asf(codecList({{2, 2}, {2, 4}}));
    cut.resize(cut.size() - 64 - 4);
    EXPECT_EQ(probe(cut), MEDIA_CONTAINER_WMA);  // only information bytes lost: not seen
    cut.resize(cut.size() - 1);
    EXPECT_EQ(probe(cut), MEDIA_CONTAINER_ASF);
    // A huge entry count: a first video entry still decides, audio runs into the data.
    EXPECT_EQ(probe(asf(codecList({{1, 0}}, 0xFFFFFFFF))), MEDIA_CONTAINER_WMV);
    EXPECT_EQ(probe(asf(codecList({{2, 0}}, 0xFFFFFFFF))), MEDIA_CONTAINER_ASF);
}

TEST(ASF, HeaderSizesAndHostileWalk) {
    Bytes header = ByteBuilder().raw(Guid::ASFSignature, 16).le64(30).le32(0).u8(1).u8(2).bytes;
    EXPECT_EQ(probe(header), MEDIA_CONTAINER_ASF);
    EXPECT_EQ(probe(Bytes(header.begin(), header.end() - 1)), MEDIA_CONTAINER_NONE);
    header[15] ^= 1;
    EXPECT_EQ(probe(header), MEDIA_CONTAINER_NONE);
    // 4 billion children of size 0, below the 24-byte head, or wrapping the offset: the walk
    // ends at once and the file is still ASF.
    for (uint64_t size : {0ull, 23ull, ~0ull - 10}) {
        ByteBuilder b;
        b.raw(Guid::ASFSignature, 16).le64(30).le32(0xFFFFFFFFu).u8(1).u8(2).fill(16, 0x22).le64(size).fill(24);
        uint64_t offset = 0;
        CountingSource src(b.bytes);
        EXPECT_TRUE(ASFHandler::isASFFileType(src, offset));
        EXPECT_EQ(offset, ASFHandler::kNoCodecList);
        EXPECT_LE(src.reads, 3) << size;
        EXPECT_EQ(ASFHandler::classifyASFFileType(mem(b.bytes), offset), MEDIA_CONTAINER_ASF);
    }
    std::string t, m, e, d;
    ASFHandler::adjustASFBasedTypes(MEDIA_CONTAINER_ASF, t, m, e, d);
    EXPECT_EQ(t + "|" + m + "|" + e, "ASF|video/x-ms-asf|asf,wmv,wma");
    ASFHandler::adjustASFBasedTypes(MEDIA_CONTAINER_NONE, t, m, e, d);
    EXPECT_EQ(t + "|" + m + "|" + e, "data|application/octet-stream|");
}
