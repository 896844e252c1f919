// Ordinary text and the formats that look like it, through the built kiv_engine.so with the
// real matcher and its definitions: text libmagic names is "TXT" whatever kind of text it is,
// and a few bytes that merely look like mail, tar, HFS+ or PHP decide nothing, while the true
// files of each format (made here by hand after their specifications, or by the archivers and
// iconv) keep their answers.
#include <gtest/gtest.h>

#include "tests/engine/e2e/E2eKit.h"

namespace fs = std::filesystem;

#ifdef KIV_QRIXLIB
namespace {

struct Case {
    std::string name, bytes;
    const char* typeId;
};

std::string at(size_t offset, const std::string& bytes, size_t size) {
    std::string b(size, '\0');
    b.replace(offset, bytes.size(), bytes);
    return b;
}

// The identification of a 64-bit x86 relocatable object, in a file of the given size.
std::string elfObject(size_t size) {
    static const char kHeader[] = {0x7F, 'E', 'L', 'F', 2, 1, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 0, 0x3E, 0, 1};
    return at(0, std::string(kHeader, sizeof kHeader), size);
}

class TextAnswers : public e2e::ShippedEngine {
protected:
    TextAnswers() : ShippedEngine("kiv-text-") {}
    std::string path(const std::string& name) { return (dir_ / "files" / name).string(); }
    void expectType(const std::string& file, const char* typeId) {
        const std::string json = e2e::scanJson(file);
        EXPECT_EQ(e2e::jsonValue(json, "typeID"), typeId) << file << "\n" << json;
        // Every text answer reads alike: no extension list.
        if (std::string(typeId) == "TXT") {
            EXPECT_EQ(e2e::jsonValue(json, "extensions"), "") << file;
        }
    }
    void expectAll(const std::vector<Case>& cases) {
        for (const Case& c : cases) {
            e2e::writeFile(path(c.name), c.bytes);
            expectType(path(c.name), c.typeId);
        }
    }
    // iconv from UTF-8 into each byte order, with and without a byte-order mark.
    void expectUtf16(const std::string& name, const std::string& text, const char* typeId) {
        e2e::writeFile(path("plain"), text);
        e2e::writeFile(path("marked"), "\xEF\xBB\xBF" + text);
        for (const char* order : {"UTF-16LE", "UTF-16BE"}) {
            for (const char* source : {"plain", "marked"}) {
                const std::string out = path(std::string(source) + "-" + order + "-" + name);
                ASSERT_EQ(e2e::runTool({"iconv", "-f", "UTF-8", "-t", order, "-o", out, path(source)}), 0);
                expectType(out, typeId);
            }
        }
    }
};

}  // namespace

TEST_F(TextAnswers, TextIsTxtAndBinaryStaysData) {
    expectAll({
        {"tool.py", "#!/usr/bin/env python3\nimport sys\n\n\ndef main():\n    print(sys.argv)\n", "TXT"},
        {"module.py", "import os\n\n\nclass Walker:\n    def run(self):\n        return os.getcwd()\n", "TXT"},
        {"data.json", "{\"name\": \"x\", \"items\": [1, 2, 3]}\n", "TXT"},
        {"log.ndjson", "{\"a\": 1}\n{\"a\": 2}\n{\"b\": 3}\n", "TXT"},
        {"run.sh", "#!/bin/sh\nset -e\necho done\n", "TXT"},
        {"tool.pl", "#!/usr/bin/perl\nuse strict;\nprint \"hi\\n\";\n", "TXT"},
        {"Makefile", "all: prog\n\nprog: main.o\n\t$(CC) -o $@ $^\n", "TXT"},
        {"prog.1", ".TH PROG 1\n.SH NAME\nprog \\- does things\n.SH SYNOPSIS\n.B prog\n", "TXT"},
        {"card.vcf", "BEGIN:VCARD\nVERSION:3.0\nFN:Ann Example\nEMAIL:ann@example.org\nEND:VCARD\n", "TXT"},
        {"empty.ics", "BEGIN:VCALENDAR\nVERSION:2.0\nEND:VCALENDAR\n", "TXT"},  // no component: refused
        {"draw.ps", "%!PS-Adobe-3.0\n%%Title: x\n%%EndComments\nnewpath 0 0 moveto 9 9 lineto stroke\n", "TXT"},
        {"prog.o", elfObject(256), "data"},
        {"mod.pyc", "\xA7\x0D\x0D\x0A" + std::string(12, '\0') + "\xE3" + std::string(60, '\0'), "data"},
        {"de.mo", at(0, "\xDE\x12\x04\x95", 64), "data"},
        {"draw.eps", at(0, std::string("\xC5\xD0\xD3\xC6\x20\0\0\0\x40", 9), 128), "data"},
    });
}

TEST_F(TextAnswers, MailNeedsAMailHeader) {
    const std::string multipart =
        "Content-Type: multipart/mixed; boundary=\"b1\"\n\n--b1\nContent-Type: text/plain\n\nhello\n--b1--\n";
    expectAll({
        {"travis.yml", "language: python\n\npython:\n  - \"3.11\"\n", "TXT"},
        {"team.yml", "organization: Example\n\nmembers:\n  - ann\n", "TXT"},
        {"note.txt", "Date: 2024-05-01\n\nBought milk.\n", "TXT"},
        {"mail.eml", "From: ann@example.org\nTo: bob@example.org\nSubject: hi\n\nHello Bob.\n", "EML"},
        {"parts.eml", multipart, "EML"},
        {"page.mht",
         "From: <Saved by Blink>\nSubject: page\nMIME-Version: 1.0\nContent-Type: multipart/related; "
         "boundary=\"p\"\n\n--p\nContent-Type: text/html\n\n<html></html>\n--p--\n",
         "MHT"},
    });
}

TEST_F(TextAnswers, TarNeedsItsChecksum) {
    // A text whose bytes 124-135 are digits and byte 156 a '0', as in a column of numbers.
    std::string text(600, 'x');
    for (size_t i = 0; i < text.size(); i += 60) text[i] = '\n';
    text.replace(124, 12, "000000000012");
    text[156] = '0';
    expectAll({{"numbers.txt", text, "TXT"}});

    e2e::writeFile(path("a.txt"), "hello\n");
    e2e::writeFile(path("empty"), "");
    const std::string py =
        "import sys, tarfile\nt = tarfile.open(sys.argv[2], 'w', format=getattr(tarfile, "
        "sys.argv[1]))\nt.add(sys.argv[3])\nt.close()\n";
    std::vector<std::vector<std::string>> writers;
    for (const char* f : {"v7", "oldgnu", "gnu", "ustar", "posix"}) writers.push_back({"tar", "--format", f, "-cf"});
    for (const char* f : {"v7tar", "ustar", "pax"}) writers.push_back({"bsdtar", "--format", f, "-cf"});
    for (const char* f : {"USTAR_FORMAT", "GNU_FORMAT", "PAX_FORMAT"}) writers.push_back({"python3", "-c", py, f});
    writers.push_back({"7za", "a", "-ttar", "-bso0", "-bd"});
    int n = 0;
    for (const auto& writer : writers) {
        // A V7 archive whose first member is empty has only its checksum to show.
        for (const char* member : {"a.txt", "empty"}) {
            const std::string out = path("made" + std::to_string(n++) + ".tar");
            std::vector<std::string> cmd = {"sh", "-c", "cd \"$0\" && exec \"$@\"", (dir_ / "files").string()};
            cmd.insert(cmd.end(), writer.begin(), writer.end());
            cmd.insert(cmd.end(), {out, member});
            ASSERT_EQ(e2e::runTool(cmd), 0) << cmd[4] << " " << cmd[6];
            expectType(out, "TAR");
        }
    }
}

TEST_F(TextAnswers, DefinitionsAndProbesSayWhatTheyMean) {
    // HFS+ and HFSX volume headers at 1024: signature, version, attributes (unmounted), last
    // writer, and the block size at 40.
    auto volume = [](const char* sigVersion) {
        const std::string head = std::string(sigVersion, 4) + std::string("\0\0\x01\0", 4) + "10.0";
        return at(1024, head + std::string(28, '\0') + std::string("\0\0\x10\0", 4), 4096);
    };
    const std::string object = elfObject(2048).replace(1024, 4, "H+\x8B\x45");  // code bytes after "H+"
    expectAll({
        {"exif.pl", "#!/usr/bin/perl -w\nuse strict;\nmy $php = '<?php echo 1; ?>';\nprint \"$php\\n\";\n", "TXT"},
        {"cli.php", "#!/usr/bin/php\n<?php\necho \"hi\\n\";\n", "PHP"},
        {"local.php", "#!/usr/local/bin/php\n<?php\necho \"hi\\n\";\n", "PHP"},
        {"hello.ps1", "#!/usr/bin/env pwsh\nWrite-Host \"Hello\"\nGet-ChildItem | Sort-Object Length\n", "PS1"},
        {"volume.hfs", volume("H+\0\x04"), "HFS"},
        {"volume.hfsx", volume("HX\0\x05"), "HFS"},
        {"object.o", object, "data"},
        {"comment.dxf",
         "999\ndxfrw 0.6.3\n  0\nSECTION\n  2\nHEADER\n  9\n$ACADVER\n  1\nAC1021\n  9\n$HANDSEED\n  5\n20000\n"
         "  0\nENDSEC\n  0\nEOF\n",
         "DXF"},
    });
    expectUtf16(
        "drawing.svg",
        "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"10\" height=\"10\">\n  <rect width=\"5\"/>\n</svg>\n",
        "SVG");
    // HTML in UTF-16 keeps its id where libmagic names it (with a byte-order mark).
    const std::string html = "<!DOCTYPE html>\n<html><head><title>t</title></head><body><p>hi</p></body></html>\n";
    e2e::writeFile(path("page.html"), "\xEF\xBB\xBF" + html);
    for (const char* order : {"UTF-16LE", "UTF-16BE"}) {
        const std::string out = path(std::string("page-") + order + ".html");
        ASSERT_EQ(e2e::runTool({"iconv", "-f", "UTF-8", "-t", order, "-o", out, path("page.html")}), 0);
        expectType(out, "HTML");
    }
}
#endif
