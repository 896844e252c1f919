// Conformance of the whole engine: kivscan, run in the build's run directory, scans every
// fixture file twice (scan, and kivFileType with the file's own extension), and each answer
// must equal its committed expected JSON byte for byte. A differing answer fails its own test
// case and names the members that changed.
//
// Fixtures: tests/conformance/files/ (made by make_fixtures.sh), samples/, and every
// tests/**/fixtures/real/ folder. Expected answers: tests/conformance/expected/KEY.json (scan)
// and KEY.ext.json (kivFileType), where KEY is "files/NAME" for the suite's own files and the
// path from the project root for the others. With KIV_CONFORMANCE_UPDATE=1 the test writes the
// engine's answers as the expected files instead (update.sh), to be reviewed before committing.
#include <gtest/gtest.h>
#include <rapidjson/document.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

const fs::path kSource = KIV_SOURCE_DIR;
const fs::path kSuite = kSource / "tests" / "conformance";
const fs::path kExpected = kSuite / "expected";
// What kivscan reports for a file it could not scan (no JSON on its standard output).
const std::string kFailed = "(scan failed)";

struct Fixture {
    std::string key;  // "files/x.docx", "samples/letter.docx", "tests/.../fixtures/real/calc.xls"
    fs::path path;
};

bool updating() {
    const char* v = std::getenv("KIV_CONFORMANCE_UPDATE");
    return v != nullptr && std::string(v) == "1";
}

std::vector<fs::path> regularFilesUnder(const fs::path& dir) {
    std::vector<fs::path> out;
    std::error_code ec;
    if (!fs::is_directory(dir, ec)) return out;
    for (fs::recursive_directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec)) {
        if (it->is_regular_file()) out.push_back(it->path());
    }
    return out;
}

// Every fixture, sorted by key; walked afresh in each process, so a new file is picked up
// without touching the build.
const std::vector<Fixture>& fixtures() {
    static const std::vector<Fixture> all = [] {
        std::vector<Fixture> v;
        for (const fs::path& p : regularFilesUnder(kSuite / "files"))
            v.push_back({fs::relative(p, kSuite).generic_string(), p});
        for (const fs::path& p : regularFilesUnder(kSource / "samples"))
            v.push_back({fs::relative(p, kSource).generic_string(), p});
        std::error_code ec;
        for (fs::recursive_directory_iterator it(kSource / "tests", ec), end; !ec && it != end; it.increment(ec)) {
            const fs::path& d = it->path();
            // The expected answers mirror the other folders' paths.
            if (d == kSuite) {
                it.disable_recursion_pending();
                continue;
            }
            if (!it->is_directory() || d.filename() != "real" || d.parent_path().filename() != "fixtures") continue;
            for (const fs::path& p : regularFilesUnder(d))
                v.push_back({fs::relative(p, kSource).generic_string(), p});
        }
        std::sort(v.begin(), v.end(), [](const Fixture& a, const Fixture& b) { return a.key < b.key; });
        return v;
    }();
    return all;
}

std::string readAll(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// A private working directory that links to what the run directory holds: the engine writes
// its per-slot matcher copies into the working directory, and those of another process
// running there (./run.sh, a benchmark) are then left alone.
fs::path privateRunDir(std::string& error) {
    char tmpl[] = "/tmp/kiv-conformance-run-XXXXXX";
    if (::mkdtemp(tmpl) == nullptr) {
        error = "cannot create a working directory";
        return {};
    }
    fs::path dir = tmpl;
    for (const char* name : {"kiv_engine.so", "libQrixLib.so", "7za", "database"}) {
        std::error_code ec;
        fs::create_symlink(fs::path(KIV_RUN_DIR) / name, dir / name, ec);
    }
    return dir;
}

// Runs kivscan over all fixtures, without a shell (names hold blanks and quotes), and maps
// each path to the JSON printed for it.
std::map<std::string, std::string> runKivscan(bool withExtension, std::string& error) {
    std::map<std::string, std::string> answers;
    fs::path runDir = privateRunDir(error);
    if (runDir.empty()) return answers;
    char tmpl[] = "/tmp/kiv-conformance-XXXXXX";
    int fd = ::mkstemp(tmpl);
    if (fd < 0) {
        error = "cannot create a temporary file";
        fs::remove_all(runDir);
        return answers;
    }
    std::vector<std::string> args = {KIV_KIVSCAN, "-j", "4"};
    if (withExtension) args.push_back("--ext");
    args.push_back("--");
    for (const Fixture& f : fixtures()) args.push_back(f.path.string());
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);

    pid_t pid = ::fork();
    if (pid == 0) {
        if (::chdir(runDir.c_str()) != 0 || ::dup2(fd, 1) < 0) ::_exit(127);
        ::execv(argv[0], argv.data());
        ::_exit(127);
    }
    int status = 0;
    if (pid < 0 || ::waitpid(pid, &status, 0) != pid) error = "cannot run kivscan";
    // Exit 1 only says that some file failed; those files show up as missing answers.
    else if (!WIFEXITED(status) || (WEXITSTATUS(status) != 0 && WEXITSTATUS(status) != 1))
        error = "kivscan did not run through (status " + std::to_string(status) + ")";
    ::close(fd);
    std::istringstream out(readAll(tmpl));
    ::unlink(tmpl);
    std::error_code ec;
    fs::remove_all(runDir, ec);
    for (std::string line; std::getline(out, line);) {
        size_t tab = line.find('\t');
        if (tab != std::string::npos) answers[line.substr(0, tab)] = line.substr(tab + 1);
    }
    return answers;
}

struct Answers {
    std::map<std::string, std::string> scan, ext;
    std::string error;
};

const Answers& answers() {
    static const Answers a = [] {
        Answers x;
        x.scan = runKivscan(false, x.error);
        if (x.error.empty()) x.ext = runKivscan(true, x.error);
        return x;
    }();
    return a;
}

std::string answerFor(const std::map<std::string, std::string>& m, const Fixture& f) {
    auto it = m.find(f.path.string());
    return it == m.end() ? kFailed : it->second;
}

fs::path expectedPath(const Fixture& f, bool ext) { return kExpected / (f.key + (ext ? ".ext.json" : ".json")); }

std::string trimmed(std::string s) {
    while (!s.empty() && (s.back() == '\n' || s.back() == '\r')) s.pop_back();
    return s;
}

// Names the members whose values differ, so a change reads at a glance.
std::string describeDifference(const std::string& expected, const std::string& actual) {
    rapidjson::Document e, a;
    e.Parse(expected.c_str());
    a.Parse(actual.c_str());
    if (e.HasParseError() || a.HasParseError() || !e.IsObject() || !a.IsObject()) return "";
    std::set<std::string> keys;
    for (auto& m : e.GetObject()) keys.insert(m.name.GetString());
    for (auto& m : a.GetObject()) keys.insert(m.name.GetString());
    auto text = [](const rapidjson::Document& d, const std::string& k) -> std::string {
        auto it = d.FindMember(k.c_str());
        if (it == d.MemberEnd()) return "(absent)";
        if (it->value.IsString()) return std::string("\"") + it->value.GetString() + "\"";
        if (it->value.IsBool()) return it->value.GetBool() ? "true" : "false";
        if (it->value.IsArray()) {
            std::string s = "[";
            for (auto& v : it->value.GetArray()) s += std::string(s.size() > 1 ? "," : "") + (v.IsString() ? v.GetString() : "?");
            return s + "]";
        }
        return "?";
    };
    std::string out;
    for (const std::string& k : keys) {
        std::string x = text(e, k), y = text(a, k);
        if (x != y) out += "  " + k + ": expected " + x + ", engine " + y + "\n";
    }
    return out;
}

void compareOrUpdate(const Fixture& f, bool ext) {
    const Answers& all = answers();
    ASSERT_TRUE(all.error.empty()) << all.error;
    std::string actual = answerFor(ext ? all.ext : all.scan, f);
    fs::path file = expectedPath(f, ext);
    if (updating()) {
        fs::create_directories(file.parent_path());
        std::ofstream(file, std::ios::binary) << actual << "\n";
        return;
    }
    ASSERT_TRUE(fs::exists(file)) << "no expected answer " << file << " for " << f.key
                                  << " (run tests/conformance/update.sh and review it); the engine answers\n"
                                  << actual;
    std::string expected = trimmed(readAll(file));
    EXPECT_EQ(expected, actual) << (ext ? "kivFileType" : "scan") << " of " << f.key << " changed:\n"
                                << describeDifference(expected, actual);
}

void PrintTo(const Fixture& f, std::ostream* os) { *os << f.key; }

class Conformance : public ::testing::TestWithParam<Fixture> {};

TEST_P(Conformance, ScanAnswer) { compareOrUpdate(GetParam(), false); }

TEST_P(Conformance, KivFileTypeAnswer) { compareOrUpdate(GetParam(), true); }

std::string caseName(const ::testing::TestParamInfo<Fixture>& info) {
    std::string name = std::to_string(info.index) + "_";
    for (char c : info.param.key) name += std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
    return name;
}

INSTANTIATE_TEST_SUITE_P(Fixtures, Conformance, ::testing::ValuesIn(fixtures()), caseName);

// An expected answer whose fixture is gone would otherwise go unnoticed; updating removes it.
TEST(ConformanceSet, EveryExpectedAnswerHasItsFixture) {
    std::set<std::string> wanted;
    for (const Fixture& f : fixtures()) {
        wanted.insert(expectedPath(f, false).string());
        wanted.insert(expectedPath(f, true).string());
    }
    EXPECT_GT(fixtures().size(), 100u) << "the fixture folders were not found under " << kSource;
    for (const fs::path& p : regularFilesUnder(kExpected)) {
        if (wanted.count(p.string())) continue;
        if (updating()) {
            fs::remove(p);
            continue;
        }
        ADD_FAILURE() << "expected answer without a fixture: " << p;
    }
}

}  // namespace
