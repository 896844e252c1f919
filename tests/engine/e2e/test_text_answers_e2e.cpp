// Ordinary text and the formats that look like it, through the built kiv_engine.so with the
// real matcher and its definitions: text libmagic names is "TXT" whatever kind of text it is,
// and a few bytes that merely look like mail, tar, HFS+ or PHP decide nothing, while the true
// files of each format (laid out here byte by byte, or made by the archivers and iconv)
// keep their answers.
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
    return b.replace(offset, bytes.size(), bytes);
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
    // Runs a shell command in files/ ($1 and $2 are the arguments given).
    int run(const std::string& command, const std::string& a = "", const std::string& b = "") {
        return e2e::runTool({"sh", "-c", "cd \"$0\" && " + command, (dir_ / "files").string(), a, b});
    }
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
    expectAll({
        {"travis.yml", "language: python\n\npython:\n  - \"3.11\"\n", "TXT"},
        {"team.yml", "organization: Example\n\nmembers:\n  - ann\n", "TXT"},
        {"note.txt", "Date: 2024-05-01\n\nBought milk.\n", "TXT"},
        {"mail.eml", "From: ann@example.org\nTo: bob@example.org\nSubject: hi\n\nHello Bob.\n", "EML"},
        {"parts.eml",
         "Content-Type: multipart/mixed; boundary=\"b1\"\n\n--b1\nContent-Type: text/plain\n\nhello\n--b1--\n", "EML"},
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
    e2e::writeFile(path("w.py"),
                   "import sys, tarfile\nt = tarfile.open(sys.argv[2], 'w', format=getattr(tarfile, "
                   "sys.argv[1]))\nt.add(sys.argv[3])\nt.close()\n");
    const char* const writers[] = {
        "tar --format=v7 -cf",       "tar --format=oldgnu -cf", "tar --format=gnu -cf",
        "tar --format=ustar -cf",    "tar --format=posix -cf",  "bsdtar --format v7tar -cf",
        "bsdtar --format ustar -cf", "bsdtar --format pax -cf", "python3 w.py USTAR_FORMAT",
        "python3 w.py GNU_FORMAT",   "python3 w.py PAX_FORMAT", "7za a -ttar -bso0 -bd",
    };
    int n = 0;
    for (const char* writer : writers) {
        // A V7 archive whose first member is empty has only its checksum to show.
        for (const char* member : {"a.txt", "empty"}) {
            const std::string out = path("made" + std::to_string(n++) + ".tar");
            ASSERT_EQ(run(std::string(writer) + " \"$1\" \"$2\"", out, member), 0) << writer;
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
    expectAll({
        {"exif.pl", "#!/usr/bin/perl -w\nuse strict;\nmy $php = '<?php echo 1; ?>';\nprint \"$php\\n\";\n", "TXT"},
        {"cli.php", "#!/usr/bin/php\n<?php\necho \"hi\\n\";\n", "PHP"},
        {"local.php", "#!/usr/local/bin/php\n<?php\necho \"hi\\n\";\n", "PHP"},
        {"hello.ps1", "#!/usr/bin/env pwsh\nWrite-Host \"Hello\"\nGet-ChildItem | Sort-Object Length\n", "PS1"},
        {"volume.hfs", volume("H+\0\x04"), "HFS"},
        {"volume.hfsx", volume("HX\0\x05"), "HFS"},
        {"object.o", elfObject(2048).replace(1024, 4, "H+\x8B\x45"), "data"},  // code bytes after "H+"
        {"comment.dxf",
         "999\ndxfrw 0.6.3\n  0\nSECTION\n  2\nHEADER\n  9\n$ACADVER\n  1\nAC1021\n  9\n$HANDSEED\n  5\n20000\n"
         "  0\nENDSEC\n  0\nEOF\n",
         "DXF"},
    });
    // iconv into both byte orders: SVG without an XML declaration, with and without a byte-order
    // mark, and HTML with one.
    const std::string svg = "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"9\">\n  <rect width=\"5\"/>\n</svg>\n";
    const std::string html = "<!DOCTYPE html>\n<html><head><title>t</title></head><body>hi</body></html>\n";
    const std::pair<const char*, std::string> sources[] = {
        {"SVG", svg}, {"SVG", "\xEF\xBB\xBF" + svg}, {"HTML", "\xEF\xBB\xBF" + html}};
    int n = 0;
    for (const auto& [typeId, text] : sources) {
        const std::string source = "utf8-" + std::to_string(n++);
        e2e::writeFile(path(source), text);
        for (const char* order : {"UTF-16LE", "UTF-16BE"}) {
            ASSERT_EQ(run("iconv -f UTF-8 -t \"$1\" \"$2\" > \"$1-$2\"", order, source), 0);
            expectType(path(std::string(order) + "-" + source), typeId);
        }
    }
}
#endif
