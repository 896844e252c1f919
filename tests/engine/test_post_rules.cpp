// Post-rules of the generic stage: a mapped result and a crafted file in, the corrected
// result out.
#include <random>
#include <stdexcept>

#include "engine/Families.h"
#include "engine/PostRules.h"
#include "tests/core/CoreTestKit.h"
#include "tests/formats/archive/ArchiveTestKit.h"

using namespace kit;
using kivtest::buildSignatureTables;

namespace {

struct Mapped {
    std::string typeId, mime, extensions, description;
};

Result adjusted(const Mapped& in, const Bytes& file) {
    buildSignatureTables();
    Result r{in.typeId, in.mime, in.extensions, in.description, false};
    adjustFileTypeDetection(kiv::MemoryByteSource(file), r.typeId, r.mime, r.extensions, r.description, r.encrypted);
    return r;
}

Result adjusted(const Mapped& in, const std::string& file) { return adjusted(in, bytes(file)); }

std::string line(const Result& r) {
    return r.typeId + "|" + r.mime + "|" + r.extensions + "|" + r.description + (r.encrypted ? "|E" : "");
}

std::string line(const char* typeId, const char* mime, const char* extensions, const std::string& description,
                 bool encrypted = false) {
    return line(Result{typeId, mime, extensions, description, encrypted});
}

std::string desc(const char* typeId) { return FileTypeDescription.at(typeId); }

Bytes cfbWith(const std::string& at512) {
    ByteBuilder b;
    b.str(0, std::string("\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1", 8)).str(512, at512).pad(1024);
    return b.b;
}

Bytes ftyp(const std::string& brand) {
    return bytes(std::string("\0\0\0\x18", 4) + "ftyp" + brand + std::string(16, '\0'));
}

// A source whose every read fails loudly.
class ThrowingSource : public kiv::ByteSource {
public:
    ThrowingSource() { size_ = 1 << 20; }

protected:
    size_t doRead(uint64_t, void*, size_t) const override { throw std::runtime_error("read"); }
};

}  // namespace

TEST(PostRules, ResultRulesInOrder) {
    const std::string noise = "just some bytes";
    // 1: an encrypted Office package in a compound file; the MIME type stays.
    EXPECT_EQ(line(adjusted({"data", "application/encrypted", "", "CDFV2 Encrypted"}, noise)),
              line("MSO-ENCRYPTED", "application/encrypted",
                   "docx,docm,xlsx,xlsb,xlsm,xltx,xltm,pptx,pptm,ppsx,ppsm,potx,potm", desc("MSO-ENCRYPTED"), true));
    // 2: a PDF that the cascade refused.
    EXPECT_EQ(line(adjusted({"PDF", "application/pdf", "pdf", "PDF document"}, noise)),
              line("data", "application/octet-stream", "", "data"));
    // 3: HTML stays only in its UTF-16 form, as the matcher or libmagic names it.
    for (const char* utf16 :
         {"HyperText Markup Language (UTF-16)", "HTML document, Unicode text, UTF-16, big-endian text"})
        EXPECT_EQ(line(adjusted({"HTML", "text/html", "htm,html", utf16}, noise)),
                  line("HTML", "text/html", "htm,html", desc("HTML")));
    EXPECT_EQ(line(adjusted({"HTML", "text/html", "htm,html", "HTML document, Unicode text, UTF-8 text"}, noise)),
              line("TXT", "text/plain", "", desc("TXT")));
    // 4: XML and SVG answers settled by the closing tag at the end.
    EXPECT_EQ(adjusted({"XML", "text/xml", "xml", "XML"}, "<svg>\n</svg>\n").typeId, "SVG");
    EXPECT_EQ(line(adjusted({"XML", "text/xml", "xml", "XML"}, "<rdf:RDF></rdf:RDF>")),
              line("RDF", "text/xml", "rdf", desc("RDF")));
    EXPECT_EQ(line(adjusted({"XML", "text/xml", "xml", "XML 1.0"}, "<a></a>")),
              line("XML", "text/xml", "xml", "XML 1.0"));
    EXPECT_EQ(adjusted({"SVG", "image/svg+xml", "svg", "SVG"}, "<html></html>").typeId, "HTML");
    // 5: a compound document the mapping could not name.
    EXPECT_EQ(line(adjusted({"DB", "application/CDFV2", "db", "x"}, cfbWith(std::string("\xEC\xA5\xC1\x00", 4)))),
              line("DOC", "application/msword", "doc", desc("DOC")));
    EXPECT_EQ(adjusted({"DB", "application/CDFV2", "db", "x"}, noise).typeId, "DB");
    // 6: the MP4 family by its brand.
    EXPECT_EQ(line(adjusted({"M4A/MP4", "audio/mp4", "m4a,mp4", "x"}, ftyp("M4B "))),
              line("M4B", "audio/mp4", "m4b,mp4", desc("M4B")));
    EXPECT_EQ(adjusted({"data", "video/mp4", "", "ISO Media"}, ftyp("isom")).typeId, "MP4");
    EXPECT_EQ(adjusted({"DAT", "video/x-mpeg", "dat", "x"}, std::string("\0\0\x01\xBA", 4) + noise).typeId, "MPEG");
    EXPECT_EQ(adjusted({"DAT", "video/mpeg", "dat", "x"}, std::string("\0\0\x01\xBA", 4) + noise).typeId, "DAT");
    EXPECT_EQ(line(adjusted({"MOV", "video/quicktime", "mov", "x"}, ftyp("abcd"))),
              line("MOV", "video/quicktime", "mov", "x"));
    // 7: text keeps its id with a plain MIME type.
    EXPECT_EQ(line(adjusted({"TXT", "text/x-c", "c", "C source"}, noise)), line("TXT", "text/plain", "", desc("TXT")));
    EXPECT_EQ(line(adjusted({"TXT", "text/csv", "txt", "x"}, noise)), line("TXT", "text/plain", "", desc("TXT")));
    // Other text keeps libmagic's type, and lists no extensions either.
    EXPECT_EQ(line(adjusted({"TXT", "text/x-script.python", "txt", desc("TXT")}, noise)),
              line("TXT", "text/x-script.python", "", desc("TXT")));
    // Anything else passes unchanged.
    EXPECT_EQ(line(adjusted({"GIF", "image/gif", "gif", "GIF image"}, noise)),
              line("GIF", "image/gif", "gif", "GIF image"));
}

TEST(PostRules, DataRulesInOrder) {
    const Mapped data{"data", "application/octet-stream", "zip", "Zip data"};
    // 8a, and a failed JAR probe going on to the ISO test (8b).
    EXPECT_EQ(line(adjusted(data, "PK\x03\x04....META-INF/MANIFEST.MF")),
              line("JAR", "application/java-archive", "jar", desc("JAR")));
    ByteBuilder iso;
    iso.str(36865, "CD001");
    EXPECT_EQ(line(adjusted(data, iso.b)), line("ISO", "application/x-iso9660-image", "iso", desc("ISO")));
    EXPECT_EQ(adjusted({"data", "x", "", "data"}, iso.b).typeId, "ISO");
    // 8c: the compound-document rows decide, or nothing changes.
    EXPECT_EQ(adjusted({"data", "x", "doc", "y"}, cfbWith(std::string("\xFD\xFF\xFF\xFF\x02\x01", 6))).typeId, "PUB");
    EXPECT_EQ(line(adjusted({"data", "x", "flo", "y"}, "plain")), line("data", "x", "flo", "y"));
    // 8d, and a failed RTF probe going on to the later rules.
    EXPECT_EQ(line(adjusted({"data", "x", "pz2", "y"}, "{\\rtf1}")), line("RTF", "text/rtf", "rtf", desc("RTF")));
    EXPECT_EQ(line(adjusted({"data", "x", "pz2", "y"}, "no rtf")), line("data", "application/octet-stream", "", "y"));
    // 8e: an Apple disk image whose first block libmagic read as compressed data.
    ByteBuilder dmg;
    dmg.str(0, "x").pad(2048).str(2048 - 512, "koly").put(2048 - 504, "\x00\x00\x02\x00", 4);
    EXPECT_EQ(adjusted({"data", "application/zlib", "", "zlib compressed data"}, dmg.b).typeId, "DMG");
    EXPECT_EQ(adjusted({"data", "application/x-bzip2", "", "bzip2 compressed data, block size"}, dmg.b).typeId, "DMG");
    EXPECT_EQ(adjusted({"data", "x", "", "VAX COFF executable"}, dmg.b).typeId, "DMG");
    EXPECT_EQ(line(adjusted({"data", "application/zlib", "z", "zlib compressed data"}, "no trailer")),
              line("data", "application/zlib", "z", "zlib compressed data"));
    // 8f to 8h.
    EXPECT_EQ(line(adjusted({"data", "text/plain", "", "HIT archive data"}, "x")),
              line("TXT", "text/plain", "", desc("TXT")));
    EXPECT_EQ(
        line(adjusted({"data", "application/CDFV2", "", "Composite Document File V2 Document, Little Endian"}, "x")),
        line("data", "application/octet-stream", "", "data"));
    ByteBuilder atr;
    atr.u8(0, 0x96).u8(1, 0x02).le16(2, 1).pad(32);
    EXPECT_EQ(line(adjusted({"data", "x", "", "Atari ATR image"}, atr.b)),
              line("ATR", "application/octet-stream", "atr", desc("ATR")));
    atr.pad(33);
    EXPECT_EQ(line(adjusted({"data", "x", "atr", "Atari ATR image"}, atr.b)),
              line("data", "application/octet-stream", "", "data"));
    // 8i: the description the mapping gave stays.
    EXPECT_EQ(line(adjusted({"data", "application/x-foo", "foo", "Foo data"}, "x")),
              line("data", "application/octet-stream", "", "Foo data"));
}

TEST(PostRules, AFailingReadLeavesTheMappedResultWhole) {
    std::string typeId = "data", mime = "application/x-foo", extensions = "zip", description = "Foo";
    bool encrypted = false;
    ThrowingSource src;
    EXPECT_THROW(adjustFileTypeDetection(src, typeId, mime, extensions, description, encrypted), std::runtime_error);
    EXPECT_EQ(typeId + mime + extensions + description, "dataapplication/x-foozipFoo");
    EXPECT_FALSE(encrypted);
}

// Every probe of the cascade and the post-rules on truncated and random input: none may read
// out of bounds or fail, whatever the bytes.
TEST(Probes, TruncatedAndRandomInputNeverReadOutOfBounds) {
    buildSignatureTables();
    ByteBuilder tnef;
    tnef.le32(0, 0x223E9F78).le16(4, 0x0001).u8(6, 0x01).le32(7, 0x00089006).le32(11, 4).le32(15, 0x00010000).pad(64);
    std::vector<Bytes> seeds = {
        tnef.b,       cfbWith(std::string("\xEC\xA5\xC1\x00", 4)), bytes("{\\rtf1}"), bytes("%PDF-1.7\n/AIMetaData"),
        ftyp("isom"), bytes("#!/usr/bin/env -S php\r\n \n<?php")};
    std::mt19937 rng(11);
    for (int i = 0; i < 200; ++i) {
        Bytes b(rng() % 2048);
        for (uint8_t& x : b) x = static_cast<uint8_t>(rng());
        seeds.push_back(b);
    }
    for (const Bytes& seed : seeds) {
        for (size_t len = 0; len <= std::min<size_t>(seed.size(), 64); ++len) {
            kiv::MemoryByteSource src(Bytes(seed.begin(), seed.begin() + static_cast<long>(len)));
            Result r;
            isRTF(src);
            isTNEF(src);
            isATR(src);
            isJAR(src);
            isDMG(src);
            isISO(src);
            detemineSVGorRDForHTML(src);
            scriptByHead(src);
            determineMediaContainerType(src);
            classifyPDFType(src);
            findMagicSignatureFallback(src, r.typeId, r.mime, r.description, r.extensions);
            // Package probes stop before any member read: in-memory bytes have no path.
            isOpenOfficeDocument(src);
            isMSOffice2007Document(src);
            classifyOfficeFileType(src);
        }
    }
}
