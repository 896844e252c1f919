// WAV and MP3 probes: byte-built RIFF heads and MPEG frame runs, and files from sox and lame.
#include "MediaTestKit.h"
#include "formats/media/AudioFTAUtils.h"
#include "formats/media/MP3Parser.h"

using namespace mediatest;

namespace {

// `at` bytes of other data, then n MPEG-1 layer 3 frames (128 kbit/s, 44100 Hz: 417 bytes),
// with `gap` bytes of other data after the first.
Bytes frames(int n, size_t at = 0, size_t gap = 0) {
    ByteBuilder b;
    b.fill(at, 0x20);
    for (int i = 0; i < n; ++i) b.u8(0xFF).u8(0xFB).u8(0x90).u8(0x00).fill(413).fill(i == 0 ? gap : 0, 0x20);
    return b.bytes;
}

Bytes id3(uint32_t tagSize, size_t total) {
    ByteBuilder b;
    b.str("ID3").u8(4).u8(0).u8(0).u8(tagSize >> 21 & 0x7F).u8(tagSize >> 14 & 0x7F).u8(tagSize >> 7 & 0x7F);
    return b.u8(tagSize & 0x7F).padTo(total).bytes;
}

bool mp3(const Bytes& b) { return AudioFTAUtils::isMP3FileBased(mem(b)); }

}  // namespace

TEST(WAV, RiffHead) {
    auto wav = [](const char* id, uint32_t size, const char* form, size_t total = 12) {
        return AudioFTAUtils::isWAVFileBased(mem(ByteBuilder().str(id).le32(size).str(form).bytes)) +
               10 * AudioFTAUtils::isWAVFileBased(mem(ByteBuilder().str(id).le32(size).str(form).padTo(total).bytes));
    };
    EXPECT_EQ(wav("RIFF", 4, "WAVE"), 22);
    EXPECT_EQ(wav("RIFF", 12, "WAVE"), 22);  // compared with the whole file size
    EXPECT_EQ(wav("RIFF", 13, "WAVE", 13), 20);
    EXPECT_EQ(wav("RIFX", 4, "WAVE"), 0);
    EXPECT_EQ(wav("RIFF", 4, "AVI "), 0);
    EXPECT_EQ(AudioFTAUtils::isWAVFileBased(mem(Bytes{'R', 'I', 'F', 'F', 4, 0, 0, 0, 'W', 'A', 'V'})), 0);
}

TEST(MP3, FrameHeaders) {
    struct Case {
        uint8_t b1, b2, b3;
        int result;
        uint32_t length;
    } cases[] = {
        {0xFB, 0x90, 0x00, MP3Parser::FRAME_VALID, 417},
        {0xFB, 0x92, 0x00, MP3Parser::FRAME_VALID, 418},              // padding
        {0xFB, 0x90, 0x02, MP3Parser::FRAME_RESERVED_EMPHASIS, 417},  // still counts
        {0xFB, 0x00, 0x00, MP3Parser::FRAME_FREE_FORMAT, 0},
        {0xFB, 0xF0, 0x00, MP3Parser::FRAME_INVALID, 0},   // bit-rate index 15
        {0xFB, 0x9C, 0x00, MP3Parser::FRAME_INVALID, 0},   // sample-rate index 3
        {0xEB, 0x90, 0x00, MP3Parser::FRAME_INVALID, 0},   // version 01
        {0xF9, 0x90, 0x00, MP3Parser::FRAME_INVALID, 0},   // layer 00
        {0xFF, 0x90, 0x00, MP3Parser::FRAME_VALID, 312},   // MPEG-1 layer 1, 288 kbit/s: (12 * br / sr) * 4
        {0xF3, 0x90, 0x00, MP3Parser::FRAME_VALID, 261},   // MPEG-2 layer 3, 80 kbit/s, 22050 Hz: 72 * br / sr
        {0xF5, 0x90, 0x00, MP3Parser::FRAME_VALID, 522},   // MPEG-2 layer 2: 144 * br / sr
        {0xE3, 0x90, 0x00, MP3Parser::FRAME_VALID, 1044},  // MPEG-2.5 layer 3, 11025 Hz: 144 as well
    };
    for (const Case& c : cases) {
        kiv::MemoryByteSource src(ByteBuilder().u8(0xFF).u8(c.b1).u8(c.b2).u8(c.b3).fill(2000).bytes);
        MP3Parser parser(src);
        MP3Frame f;
        EXPECT_EQ(parser.parseFrame(f), c.result) << std::hex << int(c.b1) << " " << int(c.b2);
        if (c.result <= MP3Parser::FRAME_RESERVED_EMPHASIS) {
            EXPECT_EQ(f.length, c.length) << std::hex << int(c.b1);
            EXPECT_EQ(parser.position(), c.length);
        }
    }
    EXPECT_EQ(MP3Parser::toSynchsafeInteger(0x01020304u), (1u << 21) + (2u << 14) + (3u << 7) + 4u);
}

TEST(MP3, FrameRunsAndTags) {
    EXPECT_TRUE(mp3(frames(11)));  // the last frame ends exactly at the end of the file
    EXPECT_FALSE(mp3(frames(10)));
    EXPECT_TRUE(mp3(frames(11, 1025)));
    EXPECT_FALSE(mp3(frames(11, 1026)));
    EXPECT_TRUE(mp3(frames(11, 0, 16)));
    EXPECT_FALSE(mp3(frames(11, 0, 17)));
    ByteBuilder m25;  // MPEG-2.5 frames are not taken for frames by the search
    for (int i = 0; i < 12; ++i) m25.u8(0xFF).u8(0xE3).u8(0x90).u8(0x00).fill(1040);
    EXPECT_FALSE(mp3(m25.bytes));

    EXPECT_TRUE(mp3(id3(90, 100)));
    EXPECT_FALSE(mp3(id3(91, 100)));
    // A header the end of the file cuts short is no tag, however small its size would read.
    const Bytes whole = id3(0, 10);
    EXPECT_TRUE(mp3(whole));
    EXPECT_FALSE(mp3(ByteBuilder().fill(20, 0x20).str("ID3").u8(4).u8(0).u8(0).u8(0).bytes));
    const std::string text = "Tags: ID3\n";
    EXPECT_FALSE(mp3(Bytes(text.begin(), text.end())));
    Bytes skipped = id3(100000, 10);  // does not fit: the search goes on one byte later
    Bytes run = frames(11);
    skipped.insert(skipped.end(), run.begin(), run.end());
    EXPECT_TRUE(mp3(skipped));
    Bytes late(1025, 0x20), tag = id3(10, 40);
    late.insert(late.end(), tag.begin(), tag.end());
    EXPECT_TRUE(mp3(late));
    late.insert(late.begin(), 0x20);
    EXPECT_FALSE(mp3(late));
    EXPECT_FALSE(AudioFTAUtils::isMP3FileBased("/nonexistent/a.mp3", 0));
}

TEST(Audio, FilesWrittenBySoxAndLame) {
    TempDir dir;
    std::string wav = dir.file("a.wav"), bare = dir.file("a.mp3"), tagged = dir.file("b.mp3");
    runTool({"sox", "-n", "-r", "44100", "-c", "1", "-b", "16", wav, "synth", "0.5", "sine", "440"});
    runTool({"lame", "--silent", "-t", wav, bare});
    runTool({"lame", "--silent", "--id3v2-only", "--tt", "kiv", wav, tagged});
    EXPECT_EQ(AudioFTAUtils::isWAVFileBased(wav, 0), 2);
    EXPECT_FALSE(AudioFTAUtils::isMP3FileBased(wav, 0));
    EXPECT_EQ(kiv::FileByteSource(bare).head(1).data[0], 0xFF);
    EXPECT_TRUE(AudioFTAUtils::isMP3FileBased(bare, 0));
    EXPECT_EQ(kiv::FileByteSource(tagged).head(1).data[0], 'I');
    EXPECT_TRUE(AudioFTAUtils::isMP3FileBased(tagged, 0));
}
