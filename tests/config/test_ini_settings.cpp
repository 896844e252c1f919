// Ini settings readers. Each test works in a fresh temporary directory that it makes its
// working directory; a directory of the test stands in for the host's data directory.
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <string>

#include "ConfigTestSupport.h"
#include "config/common.h"
#include "core/Limits.h"
#include "engine/Result.h"

namespace {

namespace fs = std::filesystem;

class IniSettings : public ::testing::Test {
protected:
    void SetUp() override {
        std::string tmpl = (fs::temp_directory_path() / "kivcfgXXXXXX").string();
        ASSERT_NE(mkdtemp(tmpl.data()), nullptr);
        dir_ = tmpl;
        old_ = fs::current_path();
        fs::current_path(dir_);
        fs::create_directory(dir_ / "host");
        host_ = (dir_ / "host").string();
    }
    void TearDown() override {
        fs::current_path(old_);
        fs::remove_all(dir_);
    }
    void write(const std::string& name, const std::string& text) { std::ofstream(dir_ / name) << text; }
    std::string setting(const std::string& name, const char* section, const char* key) {
        std::string path = (dir_ / name).string();
        return takeText(configApi().readSettingFromConfig(path.data(), section, key));
    }

    fs::path dir_, old_;
    std::string host_;
};

std::string orNull(const std::optional<std::string>& v) { return v.value_or("<null>"); }

}  // namespace

TEST_F(IniSettings, TextEntryPoints) {
    const ConfigApi& api = configApi();
    EXPECT_EQ(takeText(api.ensurePathEnding("/a")), "/a/");
    EXPECT_EQ(takeText(api.ensurePathEnding("/a/")), "/a/");
    EXPECT_EQ(takeText(api.ensurePathEnding("")), "<null>");
    EXPECT_EQ(takeText(api.trim(" \t\"a b\"\r\n")), "a b");
    EXPECT_EQ(takeText(api.trim(" \"\" ")), "<null>");
    EXPECT_EQ(takeText(api.trim(nullptr)), "<null>");
    char oneSpace[] = " ", spaced[] = " a b\tc ";
    EXPECT_EQ(takeText(api.removeSpace(oneSpace)), "");
    EXPECT_EQ(takeText(api.removeSpace(spaced)), "ab\tc");
    EXPECT_EQ(takeText(api.removeSpace(nullptr)), "<null>");
}

TEST_F(IniSettings, SettingLineSyntax) {
    write("a.ini",
          "top=0\n[ engine ]\nk=1\n[Engine]\nk=2\n[engine]\r\nmax_file_size = 5 000\r\n\"max=2\"\r\n"
          "q = \" v w \"\nr=a\"b\nt\t=3\n;c=1\nc=4\ne=\ne=5\n");
    const std::pair<const char*, const char*> engine[] = {
        {"max_file_size", "5000"}, {"max", "2"},    {"q", "vw"},  {"r", "a\"b"}, {"t", "<null>"}, {"c", "4"},
        {"e", "<null>"},           {"k", "<null>"}, {"top", "0"},
    };
    for (const auto& [key, value] : engine) EXPECT_EQ(setting("a.ini", "engine", key), value) << key;
    EXPECT_EQ(setting("a.ini", " engine ", "k"), "1");
    EXPECT_EQ(setting("a.ini", "zzz", "top"), "0");

    // A section ends at the next foreign header; a repeated header right after continues it.
    write("b.ini", "[engine]\na=1\n[other]\nk=2\n[engine]\nk=3\n[x]\n[x]\nj=4\n");
    EXPECT_EQ(setting("b.ini", "engine", "k"), "<null>");
    EXPECT_EQ(setting("b.ini", "other", "k"), "2");
    EXPECT_EQ(setting("b.ini", "x", "j"), "4");

    EXPECT_EQ(setting("missing.ini", "engine", "k"), "<null>");
    EXPECT_EQ(setting("a.ini", nullptr, "k"), "<null>");
    EXPECT_EQ(setting("a.ini", "engine", nullptr), "<null>");
    EXPECT_EQ(takeText(configApi().readSettingFromConfig(nullptr, "engine", "k")), "<null>");
}

TEST_F(IniSettings, OnlyBoundedRegularFilesAreRead) {
    ASSERT_EQ(mkfifo((dir_ / "fifo.ini").c_str(), 0600), 0);
    EXPECT_EQ(setting("fifo.ini", "engine", "k"), "<null>");  // must not wait for a writer
    fs::create_symlink("/dev/zero", dir_ / "zero.ini");
    EXPECT_EQ(setting("zero.ini", "engine", "k"), "<null>");
    fs::create_directory(dir_ / "dir.ini");
    EXPECT_EQ(setting("dir.ini", "engine", "k"), "<null>");
    write("target.ini", "k=1\n");
    fs::create_symlink(dir_ / "target.ini", dir_ / "link.ini");
    EXPECT_EQ(setting("link.ini", "engine", "k"), "1");

    // A line cut by the size cap is dropped rather than read as a shorter value.
    const size_t cap = kiv::limits::kIniFileMaxBytes;
    std::string big = "[engine]\nearly=1\n";
    while (big.size() + 64 <= cap - 64) big += "#" + std::string(62, 'x') + "\n";
    big += std::string(cap - 4 - big.size(), '#') + "\ncut=123456\nlate=1\n";  // "cut" starts 3 bytes before the cap
    write("big.ini", big);
    EXPECT_EQ(setting("big.ini", "engine", "early"), "1");
    EXPECT_EQ(setting("big.ini", "engine", "cut"), "<null>");
    EXPECT_EQ(setting("big.ini", "engine", "late"), "<null>");
}

TEST_F(IniSettings, EngineConfigLookupOrder) {
    const ConfigApi& api = configApi();
    write("kivConfig.ini", "[engine]\nk=cwd\n[scan]\nm=scan1\n");
    write("kivConfig_engine.ini", "[scan]\nk=eng\nj=eng\n");
    write("kivDSConfig.ini", "[scan]\nk=ds\nm=ds\n");
    write("host/kivConfig.ini", "[scan]\nh=host\nj=host\n");

    // First mode: kivConfig.ini in section engine whatever is asked, then kivConfig_engine.ini,
    // then the host's data directory.
    EXPECT_EQ(takeText(api.getEngineConfig("scan", "k", 0)), "cwd");
    EXPECT_EQ(takeText(api.getEngineConfig("scan", "j", 7)), "eng");
    EXPECT_EQ(orNull(kiv::config::engineConfig("scan", "h", 0, host_)), "host");
    EXPECT_EQ(orNull(kiv::config::engineConfig("scan", "m", 0, host_)), "<null>");
    EXPECT_EQ(orNull(kiv::config::kivSetting(host_ + "/", "scan", "j")), "host");

    // Second mode: kivConfig.ini in the asked section, then kivDSConfig.ini; nothing else.
    EXPECT_EQ(takeText(api.getEngineConfig("scan", "m", 1)), "scan1");
    EXPECT_EQ(takeText(api.getEngineConfig("scan", "k", 1)), "ds");
    EXPECT_EQ(takeText(api.getEngineConfig("scan", "j", 1)), "<null>");
    EXPECT_EQ(orNull(kiv::config::engineConfig("scan", "h", 1, host_)), "<null>");

    EXPECT_EQ(takeText(api.getEngineConfig(nullptr, "k", 0)), "<null>");
    EXPECT_EQ(takeText(api.getKIVSettingStr(nullptr, "k")), "<null>");
    fs::create_directory(dir_ / "gone");  // a working directory that no longer exists
    fs::current_path(dir_ / "gone");
    fs::remove(dir_ / "gone");
    EXPECT_EQ(orNull(kiv::config::engineConfig("scan", "k", 1, host_)), "<null>");
}

TEST_F(IniSettings, BoolValuesMapsAndMixedLookups) {
    const ConfigApi& api = configApi();
    for (const char* t : {"1", "true"}) EXPECT_TRUE(api.getBoolValue(t, false)) << t;
    for (const char* t : {"0", "false", "TRUE", "yes", ""}) EXPECT_FALSE(api.getBoolValue(t, false)) << t;
    for (const char* t : {"0", "false"}) EXPECT_FALSE(api.getBoolValue(t, true)) << t;
    for (const char* t : {"1", "yes", "FALSE", ""}) EXPECT_TRUE(api.getBoolValue(t, true)) << t;

    // A non-empty map answers alone.
    const std::map<std::string, std::string> map{{"k", "v"}, {"b", "0"}}, none;
    write("kivConfig.ini", "[engine]\nx=file\n");
    std::string out = "keep";
    EXPECT_FALSE(api.getEngineConfigFromMap(map, "K", out));
    EXPECT_FALSE(api.getEngineConfigMix("engine", map, "x", &out, 1, false));
    EXPECT_EQ(out, "keep");
    EXPECT_TRUE(api.getEngineConfigMix("engine", map, "k", &out, 1, false));
    EXPECT_EQ(out, "v");
    bool flag = true;
    EXPECT_TRUE(api.getEngineConfigMix("engine", map, "b", &flag, 0, true));
    EXPECT_FALSE(flag);
    EXPECT_FALSE(api.getEngineConfigMix("engine", map, "x", &flag, 0, true));
    EXPECT_TRUE(flag);
    EXPECT_FALSE(api.getEngineConfigMix("engine", map, nullptr, &flag, 0, true));
    EXPECT_FALSE(api.getEngineConfigMix("engine", none, "k", nullptr, 1, true));

    // An empty map reads the ini files and always answers true with a usable value.
    EXPECT_TRUE(api.getEngineConfigMix("scan", none, "x", &out, 1, false));
    EXPECT_EQ(out, "file");
    flag = false;
    EXPECT_TRUE(kiv::config::engineConfigMix("scan", none, "absent", &flag, 0, true, host_));
    EXPECT_TRUE(flag);
    EXPECT_TRUE(kiv::config::engineConfigMix("scan", none, "absent", &out, 1, true, host_));
    EXPECT_EQ(out, "");
}

TEST_F(IniSettings, NoRegisteredCopyIsLeft) {
    write("kivConfig.ini", "[engine]\nk=1\n");
    write("kivConfig_engine.ini", "[scan]\nj=2\n");
    const size_t before = kiv::registeredStringCount();
    char* a = ::getEngineConfig("scan", "k", 0);
    char* b = ::getEngineConfig("scan", "j", 0);
    EXPECT_EQ(::getEngineConfig("scan", "j", 1), nullptr);
    std::string text;
    bool flag = false;
    EXPECT_TRUE(::getEngineConfigMix("scan", {}, "k", &text, 1, false));
    EXPECT_TRUE(::getEngineConfigMix("scan", {}, "j", &flag, 0, false));
    EXPECT_EQ(kiv::registeredStringCount(), before + 2);  // only the two texts handed out
    ::freeString(&a);
    ::freeString(&b);
    EXPECT_EQ(kiv::registeredStringCount(), before);
}
