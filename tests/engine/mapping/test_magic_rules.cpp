// The rules against what Debian's libmagic (5.44, its own magic.mgc) really answers, with
// the engine's flags, for small files of each format built here. The matcher texts are the
// ones the project's definitions give for the format.
#include <gtest/gtest.h>
#include <magic.h>
#include <unistd.h>

#include <cstdint>
#include <fstream>
#include <string>

#include "engine/mapping/regexptable.h"

namespace {

const char* const kMagicDb = "/usr/lib/file/magic.mgc";
constexpr int kDescFlags = 0x302;  // MAGIC_RAW | MAGIC_ERROR | MAGIC_SYMLINK
constexpr int kMimeFlags = 0x312;  // ... | MAGIC_MIME_TYPE

using Bytes = std::string;

Bytes le16(uint32_t v) { return Bytes{char(v & 0xff), char((v >> 8) & 0xff)}; }
Bytes le32(uint32_t v) { return le16(v & 0xffff) + le16(v >> 16); }
Bytes be16(uint32_t v) { return Bytes{char((v >> 8) & 0xff), char(v & 0xff)}; }
Bytes be32(uint32_t v) { return be16(v >> 16) + be16(v & 0xffff); }
Bytes zeros(size_t n) { return Bytes(n, '\0'); }
Bytes pad(Bytes b, size_t n) {
    b.resize(n, '\0');
    return b;
}

Bytes pngChunk(const char* type, const Bytes& data) { return be32(data.size()) + type + data + be32(0); }
Bytes png() {
    return Bytes("\x89PNG\r\n\x1a\n", 8) + pngChunk("IHDR", be32(1) + be32(1) + Bytes("\x08\x00\x00\x00\x00", 5)) +
           pngChunk("IEND", "");
}
// A PE image with the given sections; `dll` sets IMAGE_FILE_DLL, `plus` makes it PE32+.
Bytes pe(bool dll, bool plus, bool nsisData = false) {
    Bytes mz = zeros(0x80);
    mz[0] = 'M';
    mz[1] = 'Z';
    mz.replace(0x3c, 4, le32(0x80));
    const int sections = nsisData ? 2 : 1;
    uint32_t characteristics = (plus ? 0x0022 : 0x0102) | (dll ? 0x2000 : 0);
    Bytes coff = le16(plus ? 0x8664 : 0x14c) + le16(sections) + le32(0) + le32(0) + le32(0) + le16(plus ? 240 : 224) +
                 le16(characteristics);
    Bytes opt = zeros(plus ? 240 : 224);
    opt.replace(0, 2, le16(plus ? 0x20b : 0x10b));
    opt.replace(16, 4, le32(0x1000));                                 // entry point
    opt.replace(32, 8, le32(0x1000) + le32(0x200));                   // section / file alignment
    opt.replace(40, 2, le16(plus ? 6 : 4));                           // OS version
    opt.replace(56, 8, le32(0x1000 * (sections + 1)) + le32(0x200));  // image / header size
    opt.replace(68, 2, le16(plus ? 3 : 2));                           // console / GUI
    if (plus) {
        opt.replace(24, 8, le32(0x40000000) + le32(1));  // image base
        opt.replace(108, 4, le32(16));                   // data directories
    } else {
        opt.replace(28, 4, le32(0x400000));
        opt.replace(92, 4, le32(16));
    }
    Bytes table;
    const char* names[] = {".text", ".rsrc"};
    for (int i = 0; i < sections; ++i)
        table += pad(names[i], 8) + le32(0x1000) + le32(0x1000 * (i + 1)) + le32(0x200) + le32(0x200 * (i + 1)) +
                 zeros(12) + le32(0x60000020);
    Bytes out = pad(mz + "PE" + zeros(2) + coff + opt + table, 0x200);
    for (int i = 0; i < sections; ++i) out += pad("\xc3", 0x200);
    // An installer's first header follows the image: flags, 0xDEADBEEF, "NullsoftInst".
    if (nsisData) out += zeros(4) + Bytes("\xef\xbe\xad\xde", 4) + "NullsoftInst" + zeros(32);
    return out;
}
Bytes dosExe() {
    Bytes h = "MZ" + le16(0x90) + le16(3) + le16(0) + le16(4) + le16(0) + le16(0xffff) + le16(0) + le16(0xb8);
    h = pad(h, 0x40);
    for (int i = 0; i < 40; ++i) h += Bytes("\xb4\x4c\xcd\x21", 4);
    return h;
}
// A 16-bit Windows program: an MZ stub whose e_lfanew points at an "NE" header for Windows 3.10.
Bytes neExe() {
    Bytes h = pad(dosExe().substr(0, 0x40), 0x80);
    h.replace(0x18, 2, le16(0x40));  // relocations at 0x40: a new-style header follows
    h.replace(0x3c, 4, le32(0x80));
    Bytes ne = pad("NE" + Bytes("\x05\x0a", 2), 0x40);
    ne.replace(0x0c, 2, le16(0x0302));
    ne[0x36] = 2;  // target: Windows
    ne[0x37] = 0x08;
    ne.replace(0x3e, 2, le16(0x030a));
    return h + ne + zeros(256);
}
Bytes utf16le(const std::string& ascii) {
    Bytes out;
    for (char c : ascii) out += Bytes{c, '\0'};
    return out;
}
Bytes ico() {
    Bytes b = le16(0) + le16(1) + le16(1) + Bytes("\x10\x10\x00\x00", 4) + le16(1) + le16(32) + le32(40 + 16 * 16 * 4) +
              le32(22);
    return b + le32(40) + zeros(40 + 1024 - 4);
}
Bytes riff(const char* form, const Bytes& body) { return "RIFF" + le32(4 + body.size()) + form + body; }
Bytes cdr() { return riff("CDR9", "vrsn" + le32(2) + le16(900) + "DISP" + le32(4) + zeros(4)); }
Bytes cdxa() { return riff("CDXA", "fmt " + le32(16) + zeros(16) + "data" + le32(2324) + zeros(2324)); }
// Placeable Windows metafile: key, handle, bounds, units per inch, reserved, checksum, then
// the metafile header.
Bytes wmf(bool placeable) {
    Bytes meta = le16(1) + le16(9) + le16(0x300) + le32(12) + le16(0) + le32(3) + le16(0) + le32(3) + le16(0);
    if (!placeable) return meta;
    Bytes h = le32(0x9AC6CDD7) + le16(0) + le16(0) + le16(0) + le16(1000) + le16(1000) + le16(1440) + le32(0);
    uint16_t sum = 0;
    for (size_t i = 0; i < h.size(); i += 2)
        sum ^= static_cast<uint16_t>(static_cast<uint8_t>(h[i]) | (static_cast<uint8_t>(h[i + 1]) << 8));
    return h + le16(sum) + meta;
}
Bytes ftyp(const char* brand, uint32_t minor, const Bytes& compatible) {
    Bytes box = Bytes(brand, 4) + be32(minor) + compatible;
    return be32(8 + box.size()) + "ftyp" + box + be32(8) + "mdat";
}
Bytes mp3Frame() { return Bytes("\xff\xfb\x90\x00", 4) + zeros(413); }

struct MagicCase {
    const char* name;
    Bytes content;
    const char* matcherExt;
    const char* matcherType;
    const char* typeId;
    // When given, the MIME type libmagic must answer, so that the case tests the rule's
    // alternative for it and not an older one.
    const char* magicMime = nullptr;
};

class MagicRules : public testing::Test {
protected:
    static void SetUpTestSuite() {
        table.init();
        desc = magic_open(kDescFlags);
        mime = magic_open(kMimeFlags);
        ASSERT_TRUE(desc && mime);
        ASSERT_EQ(magic_load(desc, kMagicDb), 0) << magic_error(desc);
        ASSERT_EQ(magic_load(mime, kMagicDb), 0) << magic_error(mime);
    }
    static void TearDownTestSuite() {
        magic_close(desc);
        magic_close(mime);
    }

    void expectCase(const MagicCase& c) {
        SCOPED_TRACE(c.name);
        std::string path = testing::TempDir() + "kiv_magic_" + std::to_string(getpid()) + "_" + c.name;
        {
            std::ofstream out(path, std::ios::binary);
            out.write(c.content.data(), static_cast<std::streamsize>(c.content.size()));
        }
        const char* d = magic_file(desc, path.c_str());
        const char* m = magic_file(mime, path.c_str());
        std::string magicDesc = d ? d : "", magicMime = m ? m : "";
        unlink(path.c_str());
        std::string id, outMime, outDesc, ext;
        int rc =
            table.check(c.matcherExt, c.matcherType, magicMime.c_str(), magicDesc.c_str(), id, outMime, outDesc, ext);
        EXPECT_EQ(rc, 0);
        EXPECT_EQ(id, c.typeId) << "libmagic: " << magicMime << " | " << magicDesc;
        if (c.magicMime != nullptr) {
            EXPECT_EQ(magicMime, c.magicMime) << magicDesc;
        }
    }

    static RegexpTable table;
    static magic_t desc;
    static magic_t mime;
};

RegexpTable MagicRules::table;
magic_t MagicRules::desc = nullptr;
magic_t MagicRules::mime = nullptr;

}  // namespace

TEST_F(MagicRules, ImagesDocumentsAndMarkup) {
    const MagicCase cases[] = {
        {"a.png", png(), "PNG", "Portable Network Graphics", "PNG"},
        {"a.svg", "<?xml version=\"1.0\"?>\n<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"1\"></svg>\n", "SVG",
         "Scalable Vector Graphics image", "SVG"},
        {"a.pdf", "%PDF-1.4\n1 0 obj\n<<>>\nendobj\ntrailer\n<</Root 1 0 R>>\n%%EOF\n", "PDF",
         "Adobe Portable Document Format", "PDF"},
        {"a.xml", "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<root><a>1</a></root>\n", "XML", "Generic XML", "XML"},
        {"a.ico", ico(), "ICO", "Windows Icon", "ICO"},
        {"a.cdr", cdr(), "CDR", "CorelDraw Document", "CDR"},
        {"a.psd", "8BPS" + be16(1) + zeros(6) + be16(3) + be32(1) + be32(1) + be16(8) + be16(3) + zeros(16), "PSD",
         "Adobe Photoshop image", "PSD"},
        {"a.dwg", "AC1018" + zeros(122), "DWG", "AutoCAD 2004 Drawing", "DWG"},
        {"a.wmf", wmf(true), "WMF", "Windows Metafile", "WMF"},
        {"b.wmf", wmf(false), "WMF", "Windows Metafile", "WMF"},
        {"a.sln",
         "\xef\xbb\xbf\r\nMicrosoft Visual Studio Solution File, Format Version 12.00\r\n# Visual Studio 15\r\n"
         "Global\r\nEndGlobal\r\n",
         "SLN", "Microsoft Visual Studio Solution", "SLN"},
        // libmagic 5.44 gives HWP 3.0 the MIME type application/octet-stream.
        {"a.hwp", pad("HWP Document File V3.00 \x1a\x01\x02\x03\x04\x05", 1200), "HWP",
         "Hangul (Korean) Word Processor document", "HWP", "application/octet-stream"},
        // UTF-16 without a byte-order mark: "data" to libmagic.
        {"u16.svg",
         utf16le("<?xml version=\"1.0\" encoding=\"UTF-16\"?>\n<svg xmlns=\"http://www.w3.org/2000/svg\" "
                 "width=\"1\"><rect/></svg>\n"),
         "SVG", "Scalable Vector Graphics (UTF-16)", "SVG", "application/octet-stream"},
    };
    for (const MagicCase& c : cases) expectCase(c);
}

// The current libmagic names PE images application/vnd.microsoft.portable-executable; only
// plain MZ programs keep application/x-dosexec.
TEST_F(MagicRules, Executables) {
    const MagicCase cases[] = {
        {"a.dll", pe(true, false), "DLL", "Windows Dynamic Link Library", "DLL"},
        {"a64.dll", pe(true, true), "DLL", "Windows Dynamic Link Library", "DLL"},
        {"nsis.exe", pe(false, false, true), "EXE", "Windows executable", "EXE_SFX"},
        {"a.exe", pe(false, false), "EXE", "Windows executable", "EXE"},
        {"dos.exe", dosExe(), "EXE", "DOS executable", "EXE"},
        {"ne.exe", neExe(), "EXE/DLL", "Windows or DOS executable", "EXE", "application/x-ms-ne-executable"},
    };
    for (const MagicCase& c : cases) expectCase(c);
}

TEST_F(MagicRules, AudioVideoAndContainers) {
    const MagicCase cases[] = {
        {"a.torrent",
         "d8:announce16:http://x/announce4:infod6:lengthi1e4:name1:a12:piece lengthi16384e6:pieces20:" + zeros(20) +
             "ee",
         "TORRENT", "Torrent file", "TORRENT"},
        {"id3.mp3", Bytes("ID3\x03\0\0\0\0\0\0", 10) + mp3Frame() + mp3Frame(), "MP3", "MP3 audio", "MP3"},
        {"a.mov", ftyp("qt  ", 0x200, "qt  "), "MOV", "QuickTime Movie", "MOV"},
        {"a.mpg",
         Bytes("\0\0\1\xba\x44\0\4\0\4\1\1\x89\xc3\xf8\0\0\1\xb3\x14\0\xf0\x13\xff\xff\xe0\x18", 26) + zeros(32),
         "MPG/MPEG", "MPEG Video", "MPG/MPEG"},
        {"a.m4v", ftyp("M4V ", 1, "M4V M4A mp42isom"), "M4V", "MPEG-4 Video", "M4V"},
        {"a.m4a", ftyp("M4A ", 0, "M4A mp42isom"), "M4A/MP4", "AAC Audio in MP4", "M4A/MP4"},
        {"a.3gp", ftyp("3gp4", 0, "isom3gp4"), "3GP/3GPP", "3GPP multimedia", "3GP/3GPP"},
        {"a.3g2", ftyp("3g2a", 0, "3g2a"), "3G2", "3GPP2 multimedia", "3G2"},
        {"a.dat", cdxa(), "DAT", "VideoCD MPEG", "DAT"},
        {"a.swf", "CWS\x0a" + le32(100) + Bytes("\x78\x9c\x01\x02\x00\xfd\xff\x78\x00", 9), "SWF",
         "Macromedia Flash Player", "SWF"},
        {"a.vmdk", "KDMV" + le32(1) + le32(3) + le32(2048) + le32(0) + zeros(488), "VMDK", "VMware Virtual Disk",
         "VMDK"},
        {"a.dmg", Bytes("BZh91AY&SY", 10) + zeros(40), "DMG", "Macintosh Disk image", "DMG"},
    };
    for (const MagicCase& c : cases) expectCase(c);
}

// Without a matcher answer, libmagic alone decides: text, or "data".
TEST_F(MagicRules, TextAndDataWithoutMatcher) {
    Bytes noise;
    for (int i = 0; i < 1000; ++i) noise += static_cast<char>((i * 37 + 11) & 0xff);
    const MagicCase cases[] = {
        {"a.txt", "hello world\nthis is text\n", "", "", "TXT"},
        {"u8.txt", "h\xc3\xa9llo w\xc3\xb6rld\n", "", "", "TXT"},
        {"u16.txt", Bytes("\xff\xfeh\0i\0\n\0", 8), "", "", "TXT"},
        {"l1.txt", "h\xe9llo w\xf6rld\n", "", "", "TXT"},
        {"a.csv", "name,count\nbolt,12\nnut,40\nwasher,100\n", "", "", "TXT", "text/csv"},
        // "C source, Unicode text, UTF-8 text": the encoding after the kind of text.
        {"u8.c", "/* caf\xc3\xa9 */\n#include <stdio.h>\nint main(void) { return 0; }\n", "", "", "TXT", "text/x-c"},
        {"noise.bin", noise, "", "", "data"},
    };
    for (const MagicCase& c : cases) expectCase(c);
}
