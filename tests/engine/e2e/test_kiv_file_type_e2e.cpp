// The second scan entry through the built kiv_engine.so: its failure contract, its answer
// beside scan's, the extension rules and split volumes on files made by Debian tools, the
// escaping of the host's extension, and kivscan --ext.
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <rapidjson/document.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <filesystem>
#include <fstream>

#include "engine/HostApi.h"
#include "tests/engine/e2e/E2eKit.h"

namespace fs = std::filesystem;

namespace {

e2e::EngineApi& api() { return e2e::engine(); }

using e2e::writeFile;

// Runs argv in dir without a shell, stdout to outFile; answers the exit status.
int run(const fs::path& dir, const std::vector<std::string>& argv, const std::string& outFile = "/dev/null") {
    pid_t pid = fork();
    if (pid == 0) {
        if (::chdir(dir.c_str()) != 0 || !freopen(outFile.c_str(), "w", stdout) || !freopen("/dev/null", "w", stderr))
            _exit(127);
        std::vector<char*> args;
        for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
        args.push_back(nullptr);
        execvp(args[0], args.data());
        _exit(127);
    }
    int st = 0;
    waitpid(pid, &st, 0);
    return WIFEXITED(st) ? WEXITSTATUS(st) : -1;
}

// Incompressible but reproducible bytes, so that the tools cut the same pieces on every run.
std::string noise(size_t n) {
    std::string b(n, '\0');
    uint64_t x = 0x9E3779B97F4A7C15ull;
    for (char& v : b) {
        x ^= x << 13;
        x ^= x >> 7;
        x ^= x << 17;
        v = static_cast<char>(x >> 56);
    }
    return b;
}

struct Answer {
    std::string typeId, mime, description, extensions;
    std::vector<std::string> typeIds;
};

Answer parse(const std::string& json) {
    Answer a;
    rapidjson::Document d;
    d.Parse(json.c_str(), json.size());
    EXPECT_TRUE(!d.HasParseError() && d.IsObject()) << json;
    if (d.HasParseError() || !d.IsObject()) return a;
    a.typeId = d["typeID"].GetString();
    a.mime = d["type"].GetString();
    a.description = d["description"].GetString();
    a.extensions = d["extensions"].GetString();
    if (d.HasMember("type_ids"))
        for (const auto& v : d["type_ids"].GetArray()) a.typeIds.emplace_back(v.GetString(), v.GetStringLength());
    return a;
}

std::string upper(std::string s) {
    for (char& c : s)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 32);
    return s;
}

// A working directory laid out like run/ (stand-in matcher), entered for the test.
class KivFileType : public e2e::WorkDir {
protected:
    // kivFileType's JSON, or "" with *rc set when it failed (and then *json must be NULL).
    std::string kft(const fs::path& path, const char* extension, int* rc = nullptr) {
        char* json = reinterpret_cast<char*>(0x1);
        int r = api().kivFileType(path.c_str(), extension, &json);
        if (rc) *rc = r;
        if (r != 0) {
            EXPECT_EQ(json, nullptr);
            return "";
        }
        std::string text = json ? json : "";
        api().freeString(&json);
        return text;
    }

    std::string scan(const fs::path& path) { return e2e::scanJson(path); }

    fs::path file(const std::string& name, const std::string& bytes) {
        writeFile(dir_ / "files" / name, bytes);
        return dir_ / "files" / name;
    }
};

const std::string kText = "Hello, plain text.\nSecond line.\n";
const std::string kData("\x01\x02\x03\x04 not claimed by any detector", 33);

}  // namespace

TEST_F(KivFileType, FailuresAnswerOneAndNoJson) {
    fs::path f = file("a.txt", kText);
    int rc = 0;
    EXPECT_EQ(kft(f, "txt", &rc), "");  // before init
    EXPECT_EQ(rc, 1);
    EXPECT_EQ(api().kivFileType(f.c_str(), "txt", nullptr), 1);
    ASSERT_EQ(api().init(), 0);
    for (const fs::path& p : {dir_ / "missing.txt", dir_ / "files", fs::path("/dev/null"), fs::path()}) {
        EXPECT_EQ(kft(p, "txt", &rc), "") << p;
        EXPECT_EQ(rc, 1) << p;
    }
    char* json = reinterpret_cast<char*>(0x1);
    EXPECT_EQ(api().kivFileType(nullptr, "txt", &json), 1);
    EXPECT_EQ(json, nullptr);
}

// Without an extension the answer is scan's JSON, byte for byte, plus the alternatives.
TEST_F(KivFileType, SameResultAsScanPlusTypeIds) {
    ASSERT_EQ(api().init(), 0);
    for (const fs::path& p : {file("a", kText), file("b", kData), file("c", "<html><body>x</body></html>\n"),
                              file("d", "%PDF-1.7\n%%EOF\n"), file("e", "")}) {
        std::string scanned = scan(p);
        ASSERT_NE(scanned, "") << p;
        const std::string expected =
            scanned.substr(0, scanned.size() - 1) + ",\"type_ids\":[\"" + parse(scanned).typeId + "\"]}";
        EXPECT_EQ(kft(p, ""), expected);
        EXPECT_EQ(kft(p, nullptr), expected);
    }
}

TEST_F(KivFileType, ExtensionRulesOnRealFiles) {
    ASSERT_EQ(api().init(), 0);
    fs::path text = file("a.csv", kText);
    ASSERT_EQ(parse(scan(text)).typeId, "TXT");
    Answer a = parse(kft(text, "csv"));
    EXPECT_EQ(a.typeId, "CSV");
    EXPECT_EQ(a.typeIds, (std::vector<std::string>{"TXT", "CSV"}));

    a = parse(kft(file("a.htm", "<!DOCTYPE html><html><head><title>t</title></head></html>\n"), "Htm"));
    EXPECT_EQ(a.typeId, "HTML");
    EXPECT_EQ(a.typeIds, std::vector<std::string>{"HTML"});

    fs::path kml =
        file("a.kml", "<?xml version=\"1.0\"?>\n<kml xmlns=\"http://www.opengis.net/kml/2.2\"><Document/></kml>\n");
    ASSERT_EQ(parse(scan(kml)).typeId, "XML");
    EXPECT_EQ(parse(kft(kml, "kml")).extensions, "xml,kml");
    EXPECT_EQ(parse(kft(kml, "xml")).extensions, "xml");

    file("member", noise(3000));
    ASSERT_EQ(run(dir_ / "files", {"tar", "cf", "a.ova", "member"}), 0);
    EXPECT_EQ(parse(kft(dir_ / "files" / "a.ova", "ova")).extensions, "tar,ova");

    fs::path data = file("a.doc", kData);
    ASSERT_EQ(parse(scan(data)).typeId, "data");
    a = parse(kft(data, "doc"));
    EXPECT_EQ(a.extensions, "-");
    EXPECT_EQ(a.typeIds, (std::vector<std::string>{"data", "DOC"}));
}

TEST_F(KivFileType, SplitVolumesMadeByTools) {
    ASSERT_EQ(api().init(), 0);
    const fs::path d = dir_ / "files";
    file("big.bin", noise(200000));
    for (std::vector<std::string> argv : {std::vector<std::string>{"zip", "-q", "-s", "64k", "z.zip", "big.bin"},
                                          {"zip", "-q", "whole.zip", "big.bin"},
                                          {KIV_7ZA_BINARY, "a", "-bd", "-v50k", "s.7z", "big.bin"},
                                          {KIV_7ZA_BINARY, "a", "-bd", "-tzip", "-v50k", "sz.zip", "big.bin"},
                                          {"tar", "cf", "t.tar", "big.bin"},
                                          {"xz", "-k", "big.bin"},
                                          {"gzip", "-k", "big.bin"},
                                          {"split", "-b", "10k", "-d", "-a", "3", "t.tar", "t.tar."},
                                          {"split", "-b", "10k", "-d", "-a", "3", "big.bin.xz", "big.bin.xz."},
                                          {"split", "-b", "10k", "-d", "-a", "3", "big.bin.gz", "big.bin.gz."}})
        ASSERT_EQ(run(d, argv), 0) << argv[0];
    fs::copy_file(d / "t.tar", d / "whole.tar.001");
    fs::copy_file(d / "whole.zip", d / "whole.zip.001");

    const std::vector<std::array<const char*, 3>> cases = {
        {"z.z01", "SPLIT_ARC", "application/zip"},  // starts PK 07 08 PK 03 04, no end record
        {"s.7z.001", "SPLIT_ARC", "application/octet-stream"},
        {"sz.zip.001", "SPLIT_ARC", "application/zip"},
        {"t.tar.000", "SPLIT_ARC", "application/x-tar"},
        {"big.bin.xz.000", "SPLIT_ARC", "application/octet-stream"},
        {"big.bin.gz.000", "SPLIT_ARC", "application/octet-stream"},
        {"whole.tar.001", "TAR", "application/x-tar"},  // whole archives renamed as volumes
        {"whole.zip.001", "ZIP", "application/zip"},
    };
    for (const auto& [name, typeId, mime] : cases) {
        const std::string ext = fs::path(name).extension().string().substr(1);
        Answer a = parse(kft(d / name, ext.c_str()));
        EXPECT_EQ(a.typeId, typeId) << name;
        EXPECT_EQ(a.mime, mime) << name;
        EXPECT_EQ(a.typeIds, (std::vector<std::string>{typeId, upper(ext)})) << name;
        if (a.typeId == "SPLIT_ARC") {
            EXPECT_EQ(a.extensions, "") << name;
        }
    }
    EXPECT_EQ(parse(kft(d / "t.tar.000", "tar")).typeId, "TAR");  // not a volume name
}

TEST_F(KivFileType, HostsExtensionIsEscaped) {
    ASSERT_EQ(api().init(), 0);
    fs::path f = file("a.txt", kText);
    for (const char* ext : {"a\"b", "x\\", "t\x01\x1f\n", "\xC3\xA9t\xC3\xA9", "\"}],\"typeID\":\"PDF"}) {
        Answer a = parse(kft(f, ext));
        EXPECT_EQ(a.typeId, "TXT") << ext;
        EXPECT_EQ(a.typeIds, (std::vector<std::string>{"TXT", upper(ext)}));
    }
    // An extension in another encoding still gives strict UTF-8.
    const std::string json = kft(f, "caf\xE9");
    rapidjson::Document d;
    d.Parse<rapidjson::kParseValidateEncodingFlag>(json.c_str());
    ASSERT_FALSE(d.HasParseError()) << json;
    EXPECT_STREQ(d["type_ids"][1].GetString(), "CAF\xEF\xBF\xBD");
}

TEST_F(KivFileType, HostProgramPassesEachFilesExtension) {
    fs::create_symlink(KIV_ENGINE_PATH, "kiv_engine.so");
    fs::path csv = file("a.csv", kText), bare = file("noext", kText);
    ASSERT_EQ(run(dir_, {KIV_KIVSCAN, "--ext", csv.string(), bare.string()}, "out.txt"), 0);
    std::ifstream out(dir_ / "out.txt");
    std::string first, second;
    ASSERT_TRUE(std::getline(out, first) && std::getline(out, second));
    EXPECT_EQ(first.substr(0, first.find('\t')), csv.string());
    EXPECT_EQ(parse(first.substr(first.find('\t') + 1)).typeIds, (std::vector<std::string>{"TXT", "CSV"}));
    EXPECT_EQ(parse(second.substr(second.find('\t') + 1)).typeIds, std::vector<std::string>{"TXT"});
}
