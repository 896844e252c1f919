// Configuration JSON: reading the host's input (key=value lines or configuration JSON) and
// writing the validated values, through the entry points of the built library.
#include <climits>
#include <map>
#include <string>

#include "ConfigTestSupport.h"
#include "config/jsonutil.h"

namespace {

const std::string kDefaults =
    R"({"deep_scan":true,"heuristic_scan":1,"max_file_size":100,"archive":false,"archive.max_extract_depth":5})";

// The "values" object of the configuration JSON written for input.
std::string valuesFor(const std::string& input, const EngineSchema& s = goldenSchema()) {
    std::string schema, config, error;
    EXPECT_TRUE(configApi().convertJSON(input, s, schema, config, error)) << input;
    const size_t at = config.find(R"("values":)");
    return at == std::string::npos ? config : config.substr(at + 9, config.size() - at - 12);
}

std::string values(bool deep, int level, int size, int depth) {
    return R"({"deep_scan":)" + std::string(deep ? "true" : "false") + R"(,"heuristic_scan":)" + std::to_string(level) +
           R"(,"max_file_size":)" + std::to_string(size) + R"(,"archive":false,"archive.max_extract_depth":)" +
           std::to_string(depth) + "}";
}

std::string configJson(const std::string& sections) {
    return R"({"schema-version":1.0,"config-serial":1,"config":{)" + sections + "}}";
}
std::string section(const std::string& name, const std::string& values) {
    return "\"" + name + R"(":{"values":)" + values + "}";
}
const std::string kCurrent = "engine.engine_3_cfg.config";

int parse(const std::string& input, std::map<std::string, std::string>& values, std::string* tempDir = nullptr) {
    return configApi().parseInputJSON(input, goldenSchema(), values, tempDir);
}

}  // namespace

TEST(ConfigJson, KeyValueLinesAreValidatedAgainstTheSchema) {
    EXPECT_EQ(valuesFor(""), kDefaults);
    EXPECT_EQ(valuesFor("invalid"), kDefaults);
    EXPECT_EQ(valuesFor("[engine]\nmax_file_size=500\ndeep_scan=false"), values(false, 1, 500, 5));
    // CRLF, a quoted value, the last "=" splitting, the first occurrence winning.
    EXPECT_EQ(valuesFor("[engine]\r\ndeep_scan = \"0\"\r\nmax_file_size=1=9\r\nmax_file_size=3\r\nmax_file_size=4"),
              values(false, 1, 3, 5));
    // Exclusive bounds; select values; words, signs and other cases are not accepted.
    EXPECT_EQ(valuesFor("[engine]\nmax_file_size=1000\nheuristic_scan=2\nmax_extract_depth=0"),
              values(true, 2, 100, 5));
    EXPECT_EQ(valuesFor("[engine]\nmax_file_size=999\nheuristic_scan=7\nmax_extract_depth=-3\ndeep_scan=TRUE"),
              values(true, 1, 999, 5));
    // Digits beyond 64 bits give the default instead of failing the call.
    EXPECT_EQ(valuesFor("[engine]\nmax_file_size=123456789012345678901234\nheuristic_scan=99999999999999999999"),
              kDefaults);
    // A nested entry's value is looked up by its bare id.
    EXPECT_EQ(valuesFor("[engine]\narchive.max_extract_depth=8\nmax_extract_depth=9"), values(true, 1, 100, 9));

    EngineSchema s{"engine_3_cfg", "Engine", 1.0f, {}};
    s.entries = {ValidConfig("dir", std::string("/tmp"), "string", "", ""), ValidConfig("odd", 4, "colour", "", "")};
    EXPECT_EQ(valuesFor("", s), R"({"dir":"/tmp","odd":""})");
    EXPECT_EQ(valuesFor("[engine]\ndir=/var/x\nodd=5", s), R"({"dir":"/var/x","odd":""})");
    EXPECT_EQ(valuesFor(configJson(section(kCurrent, R"({"dir":1.5})")), s), R"({"dir":"","odd":""})");
}

TEST(ConfigJson, JsonInputRoundTripsWhateverWordsItHolds) {
    std::string schema, first, second, error;
    ASSERT_TRUE(configApi().convertJSON("[engine]\nmax_file_size=7\ndeep_scan=0\nheuristic_scan=3", goldenSchema(),
                                        schema, first, error));
    ASSERT_TRUE(configApi().convertJSON(first, goldenSchema(), schema, second, error));
    EXPECT_EQ(second, first);
    // A temp-dir holding "invalid" or "[engine]" is an ordinary path: the input is still JSON.
    for (const std::string dir : {"/tmp/invalid/", "/x/[engine]/"}) {
        const std::string in = "\xEF\xBB\xBF \n{\"temp-dir\":\"" + dir + "\"," +
                               configJson(section(kCurrent, R"({"max_file_size":42})")).substr(1);
        ASSERT_TRUE(configApi().convertJSON(in, goldenSchema(), schema, first, error));
        EXPECT_EQ(first, R"({"schema-version":1.0,"config-serial":1,"temp-dir":")" + dir + R"(","config":{")" +
                             kCurrent + R"(":{"values":)" + values(true, 1, 42, 5) + "}}}");
    }
}

TEST(ConfigJson, RefusedJsonWritesSchemaButNoConfiguration) {
    const std::string bad[] = {
        R"({"temp-dir":"/t","config":{}})",                       // no schema-version
        R"({"schema-version":1,"config-serial":1})",              // no config
        R"({"schema-version":1,"config-serial":1,"config":[]})",  // config not an object
        configJson(section(kCurrent, "[]")),
        configJson(section("engine.engine_4_cfg.config", "{}")),
        configJson("") + " x",
        configJson("") + std::string("\0junk", 5),  // a NUL is not white space
        "[1,2]",
        "{,}",
        "deep_scan=1",  // key=value lines without "[engine]" are taken for JSON
    };
    for (const std::string& input : bad) {
        std::string schema, config = "keep", error;
        EXPECT_FALSE(configApi().convertJSON(input, goldenSchema(), schema, config, error)) << input;
        EXPECT_EQ(config, "keep");
        EXPECT_EQ(error, "Fail to parse inputJSON");
        EXPECT_EQ(schema.substr(0, 11), R"({"version":)");
    }
    std::map<std::string, std::string> map;
    EXPECT_EQ(parse(configJson(section(kCurrent, "{}")) + " \r\n\t", map), 1);
}

TEST(ConfigJson, DeeplyNestedInputFailsCleanly) {
    std::map<std::string, std::string> map;
    EXPECT_EQ(parse(std::string(2000000, '['), map), 0);
    std::string deep;
    for (int i = 0; i < 200000; ++i) deep += R"({"a":)";
    deep += "1" + std::string(200000, '}');
    std::string schema, config, error;
    EXPECT_FALSE(configApi().convertJSON(deep, goldenSchema(), schema, config, error));  // no schema-version
    EXPECT_TRUE(map.empty());
}

TEST(ConfigJson, ValuesTempDirAndTheHostOutParameters) {
    std::map<std::string, std::string> map{{"deep_scan", "host"}};
    std::string dir = "old";
    EXPECT_EQ(parse(R"({"temp-dir":"/scan/tmp"})", map, &dir), 1);
    EXPECT_EQ(dir, "/scan/tmp");
    EXPECT_EQ(map.size(), 1u);
    EXPECT_EQ(parse(R"({"temp-dir":7})", map, &dir), 1);  // not a string: empty, and still the only member
    EXPECT_EQ(dir, "");
    EXPECT_EQ(parse(R"({"temp-dir":"/t","other":1})", map, &dir), 0);  // handed back even when refused
    EXPECT_EQ(dir, "/t");
    EXPECT_EQ(parse(R"({"temp-dir":"/t"})", map, nullptr), 1);
    std::string schema, config, error;
    ASSERT_TRUE(configApi().convertJSON(R"({"temp-dir":"/scan/tmp"})", goldenSchema(), schema, config, error));
    EXPECT_NE(config.find(R"("temp-dir":"/scan/tmp","config":{"engine.engine_3_cfg.config":{"values":)" + kDefaults),
              std::string::npos);

    // Values are added to the host's map; a key it already holds keeps its value.
    EXPECT_EQ(
        parse(configJson(section(kCurrent, R"({"deep_scan":false,"engine.max_file_size":12,"n":null,"f":1.5,)"
                                           R"("big":9223372036854775808,"neg":-4,"s":"a\u0000b","t":true,"o":{}})")),
              map),
        1);
    const std::map<std::string, std::string> expected{{"deep_scan", "host"},
                                                      {"max_file_size", "12"},
                                                      {"n", ""},
                                                      {"f", ""},
                                                      {"big", ""},
                                                      {"neg", "-4"},
                                                      {"s", "a"},
                                                      {"t", "true"},
                                                      {"o", ""}};
    EXPECT_EQ(map, expected);
}

TEST(ConfigJson, OlderInterfaceSectionsStandForTheCurrentOne) {
    const std::pair<std::string, std::string> cases[] = {
        {section("engine.engine_2_cfg.config", R"({"k":"v2"})") + "," + section(kCurrent, R"({"k":"v3"})"), "v2"},
        {section("engine.other.config", R"({"k":"v0"})") + "," + section(kCurrent, R"({"k":"v3"})"), "v0"},
        {section("engine.engine_4_cfg.config", R"({"k":"v4"})") + "," + section(kCurrent, R"({"k":"v3"})"), "v3"},
    };
    for (const auto& [sections, expected] : cases) {
        std::map<std::string, std::string> map;
        ASSERT_EQ(parse(configJson(sections), map), 1) << sections;
        EXPECT_EQ(map["k"], expected);
    }
    EXPECT_EQ(getApiVersion("engine_3_cfg"), 3);
    EXPECT_EQ(getApiVersion("a_ -4x_b"), -4);
    EXPECT_EQ(getApiVersion("7up"), 7);
    // Out of the int range: saturated, never wrapped to a small or negative version.
    EXPECT_EQ(getApiVersion("e_99999999999999999999_c"), INT_MAX);
    EXPECT_EQ(getApiVersion("e_-99999999999_c"), INT_MIN);
}
