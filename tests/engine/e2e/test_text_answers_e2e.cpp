// Ordinary text and the formats that look like it, through the built kiv_engine.so with the
// real matcher and its definitions: text libmagic names is "TXT" whatever kind of text it is,
// and a few bytes that merely look like mail, tar, HFS+ or PHP decide nothing, while the true
// files of each format (laid out here byte by byte, or made by the archivers and iconv)
// keep their answers; PHP and PowerShell scripts are named by what runs them.
#include <gtest/gtest.h>

#include <map>

#include "tests/engine/e2e/E2eKit.h"

#ifdef KIV_QRIXLIB
namespace {

using namespace e2e;

std::string at(size_t offset, const std::string& bytes, size_t size) {
    return std::string(size, '\0').replace(offset, bytes.size(), bytes);
}

// The identification of a 64-bit x86 relocatable object, in a file of the given size.
std::string elfObject(size_t size) {
    return at(0, std::string("\177ELF\2\1\1\0\0\0\0\0\0\0\0\0\1\0\x3E\0\1", 21), size);
}

// An HFS+ or HFSX volume header at 1024: signature, version, attributes (unmounted), last
// writer, and the block size at 40.
std::string volume(const char* sigVersion) {
    const std::string head = std::string(sigVersion, 4) + std::string("\0\0\x01\0", 4) + "10.0";
    return at(1024, head + std::string(28, '\0') + std::string("\0\0\x10\0", 4), 4096);
}

using TextAnswers = ShippedEngine;

}  // namespace

TEST_F(TextAnswers, EachFileKeepsItsAnswer) {
    struct Case {
        std::string name, bytes;
        const char* typeId;     // nullptr: a file the others are made from
        std::string make = "";  // a shell command run in files/ that makes $1 from $2 (bytes)
    };
    // A text whose bytes 124-135 are digits and byte 156 a '0', as in a column of numbers.
    std::string numbers(600, 'x');
    for (size_t i = 0; i < numbers.size(); i += 60) numbers[i] = '\n';
    numbers.replace(124, 12, "000000000012").replace(156, 1, "0");
    std::vector<Case> cases = {
        // Text of every kind is TXT; binary look-alikes stay data.
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
        // Mail needs a mail header.
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
        // Tar needs its checksum.
        {"numbers.txt", numbers, "TXT"},
        {"a.txt", "hello\n", nullptr},  // the members, and a writer
        {"empty", "", nullptr},
        {"w.py",
         "import sys, tarfile\nt = tarfile.open(sys.argv[2], 'w', format=getattr(tarfile, "
         "sys.argv[1]))\nt.add(sys.argv[3])\nt.close()\n",
         nullptr},
        // Definitions and probes say what they mean.
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
    };
    // Every archiver's tar forms; a V7 archive whose first member is empty has only its
    // checksum to show.
    for (const char* writer :
         {"tar --format=v7 -cf", "tar --format=oldgnu -cf", "tar --format=gnu -cf", "tar --format=ustar -cf",
          "tar --format=posix -cf", "bsdtar --format v7tar -cf", "bsdtar --format ustar -cf", "bsdtar --format pax -cf",
          "python3 w.py USTAR_FORMAT", "python3 w.py GNU_FORMAT", "python3 w.py PAX_FORMAT", "7za a -ttar -bso0 -bd"})
        for (const char* member : {"a.txt", "empty"})
            cases.push_back({"made" + std::to_string(cases.size()) + ".tar", member, "TAR",
                             std::string(writer) + " \"$1\" \"$2\""});
    // Both UTF-16 byte orders: SVG without an XML declaration, with and without a byte-order
    // mark, and HTML with one.
    const std::string svg = "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"9\">\n  <rect width=\"5\"/>\n</svg>\n";
    const std::string html = "<!DOCTYPE html>\n<html><head><title>t</title></head><body>hi</body></html>\n";
    for (const auto& [typeId, text] : {std::pair<const char*, std::string>{"SVG", svg},
                                       {"SVG", "\xEF\xBB\xBF" + svg},
                                       {"HTML", "\xEF\xBB\xBF" + html}})
        for (const char* order : {"UTF-16LE", "UTF-16BE"})
            cases.push_back({order + std::to_string(cases.size()), text, typeId,
                             std::string("printf %s \"$2\" | iconv -f UTF-8 -t ") + order + " > \"$1\""});

    for (const Case& c : cases) {
        const fs::path file = dir_ / "files" / c.name;
        if (c.make.empty()) {
            writeFile(file, c.bytes);
        } else {
            ASSERT_EQ(runTool({"sh", "-c", "cd files && " + c.make, "sh", c.name, c.bytes}), 0) << c.make;
        }
        if (!c.typeId) continue;
        const std::string json = scanJson(file);
        EXPECT_EQ(jsonValue(json, "typeID"), c.typeId) << c.name << "\n" << json;
        // Every text answer reads alike: no extension list.
        if (std::string(c.typeId) == "TXT") {
            EXPECT_EQ(jsonValue(json, "extensions"), "") << c.name;
        }
    }
}

// PHP and PowerShell by their open tag or the interpreter their first line names, whatever
// the line ends, path, env options or blank lines, with the whole answer that the definitions
// give the plainest forms (each type's first row); what merely holds "<?php" stays text.
TEST_F(TextAnswers, ScriptsByWhatRunsThem) {
    std::string payload;  // a PHP archive's data after its stub
    for (int b = 0; b < 256; ++b) payload += static_cast<char>(b);
    std::vector<std::pair<std::string, std::string>> rows;  // type id, bytes
    for (const std::string n : {"\n", "\r\n"}) {
        for (const char* open : {"<?php", "<?PHP", "\xEF\xBB\xBF<?Php"}) rows.push_back({"PHP", open + n + "echo 1;"});
        for (const char* line : {"#!/usr/bin/php", "#!/usr/bin/php8.2", "#!/usr/local/bin/php", "#!/usr/bin/php -q",
                                 "#! /usr/bin/php8.2", "#!/usr/bin/env php", "#!/usr/bin/env -S php -q"})
            for (const std::string& blank : {std::string(), n, n + " \t" + n + n})
                for (const char* tag : {"<?php", "<?PHP"}) rows.push_back({"PHP", line + n + blank + tag + n});
        rows.push_back({"PHP", "#!/usr/bin/php8.2" + n + "<?php __HALT_COMPILER(); ?>" + n + payload});
        for (const char* line : {"#!/usr/bin/pwsh", "#!/opt/microsoft/powershell/7/pwsh", "#!/usr/bin/env pwsh",
                                 "#!/usr/bin/env -S pwsh -NoProfile"})
            rows.push_back({"PS1", line + n + "Write-Host 1" + n});
        for (const std::string& text :
             {// Other interpreters' scripts that hold "<?php" (as exiftool does), PHP's
              // interpreter without the tag where it must stand, or with it past the bytes
              // looked at, an HTML page with PHP in it, and plain text.
              "#!/usr/bin/perl -w" + n + "print \"<?php echo 1; ?>\\n\";" + n,
              "#!/bin/sh" + n + "cat <<'EOF'" + n + "<?php" + n + "EOF" + n, "#!/bin/sh" + n + "<?php" + n,
              "#!/usr/bin/python3" + n + n + "<?php" + n, "#!/usr/bin/php" + n + "echo 1;" + n,
              "#!/usr/bin/php" + n + "// x" + n + "<?php" + n, "#!/usr/bin/phpize" + n + "<?php" + n,
              "#!/usr/bin/php" + n + std::string(1100, '\n') + "<?php" + n, " <?php" + n,
              "<!DOCTYPE html>" + n + "<html><body><?php echo 1; ?></body></html>" + n, "Notes on <?php." + n})
            rows.push_back({"TXT", text});
    }
    std::map<std::string, std::string> answers;
    for (size_t i = 0; i < rows.size(); ++i) {
        const fs::path file = dir_ / "files" / ("script" + std::to_string(i));
        writeFile(file, rows[i].second);
        const std::string json = scanJson(file);
        EXPECT_EQ(jsonValue(json, "typeID"), rows[i].first) << "row " << i << ": " << rows[i].second;
        const auto& first = *answers.emplace(rows[i].first, json).first;
        if (first.first != "TXT") {
            EXPECT_EQ(json, first.second) << "row " << i;
        }
    }
}
#endif
