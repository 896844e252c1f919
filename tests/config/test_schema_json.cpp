// Schema JSON and schema completion, through the entry points of the built library.
#include <limits>
#include <string>

#include "ConfigTestSupport.h"

namespace {

// The "schema" array written for s.
std::string schemaArray(const EngineSchema& s) {
    std::string schema, config, error;
    EXPECT_TRUE(configApi().convertJSON("", s, schema, config, error));
    const size_t at = schema.find(R"("schema":)");
    return at == std::string::npos ? schema : schema.substr(at + 9, schema.size() - at - 10);
}

std::string boolObject(const std::string& id, bool def) {
    return R"({"type":"bool","display_name":"","id":")" + id + R"(","info":"","default_value":)" +
           (def ? "true" : "false") + "}";
}

}  // namespace

TEST(ConfigExports, EveryEntryPointIsExportedByItsPlainName) {
    const ConfigApi& api = configApi();
    ASSERT_NE(api.handle, nullptr) << dlerror();
#define KIV_CONFIG_CHECK(name) EXPECT_NE(reinterpret_cast<void*>(api.name), nullptr) << #name;
    KIV_CONFIG_EXPORTS(KIV_CONFIG_CHECK)
#undef KIV_CONFIG_CHECK
}

TEST(SchemaJson, GoldenSchemaAndConfigurationAfterCompletion) {
    EngineSchema s = goldenSchema();
    configApi().adjustConfig(s);
    std::string schema, config, error = "untouched";
    ASSERT_TRUE(configApi().convertJSON("", s, schema, config, error));
    EXPECT_EQ(schema,
              R"j({"version":1.0,"product":{"id":"engine_3_cfg","display_name":"Engine"},"schema":[)j"
              R"j({"type":"bool","display_name":"Deep scan","id":"deep_scan","info":"","default_value":true},)j"
              R"j({"type":"select","display_name":"Heuristic scan","id":"heuristic_scan","display_type":"radio",)j"
              R"j("infos":["Level 0","Level 1","Level 2","Level 3"],"values":[0,1,2,3],"default_value":1},)j"
              R"j({"type":"number","display_name":"Max file size (byte)","id":"max_file_size",)j"
              R"j("info":"Max file size to scan","default_value":100,"min":0,"max":1000},)j"
              R"j({"type":"feature","display_name":"Archive","id":"archive","info":"","default_value":false,)j"
              R"j("fields":[{"type":"number","display_name":"Max Extract Depth","id":"max_extract_depth",)j"
              R"j("info":"","default_value":5,"min":0,"max":10}]}]})j");
    EXPECT_EQ(config, R"({"schema-version":1.0,"config-serial":1,"temp-dir":"","config":{"engine.engine_3_cfg.config":)"
                      R"({"values":{"deep_scan":true,"heuristic_scan":1,"max_file_size":100,"archive":false,)"
                      R"("archive.max_extract_depth":5}}}})");
    EXPECT_EQ(error, "untouched");
}

TEST(SchemaJson, CompletionMatchesIdAndTypeAndKeepsHostTexts) {
    EngineSchema s{"engine_3_cfg", "Engine", 1.0f, {}};
    s.entries = {makeEntry("heuristic_scan", "number", {1, 0, 3}), makeEntry("enable_pup_scan", "bool", {7}, "Mine"),
                 ValidConfig("max_scan_size", 0, "number", "", "my info")};
    configApi().adjustConfig(s);
    EXPECT_EQ(s.entries[0].displayName, "");
    EXPECT_TRUE(s.entries[0].infos.empty());
    EXPECT_EQ(s.entries[1].displayName, "Mine");
    EXPECT_EQ(s.entries[1].infos,
              std::vector<std::string>{"Scan for spyware, adware or some other unwanted softwares"});
    EXPECT_EQ(s.entries[1].numberValues, std::vector<uint64_t>{7});
    EXPECT_EQ(s.entries[2].displayName, "Max scan size (byte)");
    EXPECT_EQ(s.entries[2].infos, std::vector<std::string>{"my info"});
}

TEST(SchemaJson, EntryShapesAndNesting) {
    EngineSchema s{"engine_3_cfg", "Engine", 1.0f, {}};
    EXPECT_EQ(schemaArray(s), "[]");
    // A select holding only its default, a string entry, an unknown type, a sign-widened default.
    s.entries = {makeEntry("lvl", "select", {2}), ValidConfig("path", std::string("/tmp"), "string", "Path", "where"),
                 makeEntry("x", "colour", {3}), ValidConfig("n", -1, "number", "", "")};
    EXPECT_EQ(schemaArray(s),
              R"([{"type":"select","display_name":"","id":"lvl","display_type":"radio","infos":[],"values":[],)"
              R"("default_value":2},{"type":"string","display_name":"Path","id":"path","info":"where",)"
              R"("default_value":"/tmp"},{"type":"colour","display_name":"","id":"x","default_value":""},)"
              R"({"type":"number","display_name":"","id":"n","info":"","default_value":-1,"min":0,"max":0}])");

    // An unknown field id is skipped; b, top-level and named by a, is written at both places.
    s.entries = {makeEntry("a", "bool", {1}), makeEntry("b", "bool", {0}), makeEntry("lone", "bool", {0})};
    s.entries[0].fieldIds = {"missing", "b"};
    s.entries[2].fieldIds = {"nothing"};
    EXPECT_EQ(schemaArray(s), R"([{"type":"feature","display_name":"","id":"a","info":"","default_value":true,)"
                              R"("fields":[)" +
                                  boolObject("b", false) + "]}," + boolObject("b", false) + "," +
                                  boolObject("lone", false) + "]");
}

TEST(SchemaJson, VersionIsAlwaysAWellFormedDouble) {
    EngineSchema s{"engine_3_cfg", "Engine", 2.0f, {}};
    std::string schema, config, error;
    for (float v : {2.0f, 1.1f, std::numeric_limits<float>::quiet_NaN(), -std::numeric_limits<float>::infinity()}) {
        s.version = v;
        ASSERT_TRUE(configApi().convertJSON("", s, schema, config, error));
        EXPECT_TRUE(isValidJson(schema) && isValidJson(config)) << schema << config;
        const std::string text = v == 2.0f ? "2.0" : v == 1.1f ? "1.100000023841858" : "0.0";
        EXPECT_EQ(schema.substr(0, 11 + text.size()), R"({"version":)" + text);
        EXPECT_EQ(config.substr(0, 18 + text.size()), R"({"schema-version":)" + text);
    }
}

TEST(SchemaJson, ShortValueListsAndCyclesEndWithWellFormedJson) {
    EngineSchema s{"engine_3_cfg", "Engine", 1.0f, {}};
    s.entries = {makeEntry("max", "number", {}), makeEntry("sel", "select", {}), makeEntry("b", "bool", {}),
                 ValidConfig("s", 0, "string", "", "")};
    std::string schema, config, error;
    ASSERT_TRUE(configApi().convertJSON("[engine]\nmax=5\nsel=0\nb=1", s, schema, config, error));
    EXPECT_NE(schema.find(R"("schema":[{"type":"number","display_name":"","id":"max","info":"","default_value":0,)"
                          R"("min":0,"max":0},{"type":"select","display_name":"","id":"sel","display_type":"radio",)"
                          R"("infos":[],"values":[],"default_value":0},)" +
                          boolObject("b", false) +
                          R"(,{"type":"string","display_name":"","id":"s","info":"","default_value":""}])"),
              std::string::npos)
        << schema;
    EXPECT_NE(config.find(R"("values":{"max":0,"sel":0,"b":true,"s":""})"), std::string::npos) << config;

    // a -> b -> a, and c naming itself: each nests once and stops.
    s.entries = {makeEntry("a", "bool", {0}), makeEntry("b", "bool", {0}), makeEntry("c", "bool", {0})};
    s.entries[0].fieldIds = {"b"};
    s.entries[1].fieldIds = {"a"};
    s.entries[1].parentId = "a";
    s.entries[2].fieldIds = {"c"};
    EXPECT_EQ(schemaArray(s), R"([{"type":"feature","display_name":"","id":"a","info":"","default_value":false,)"
                              R"("fields":[)" +
                                  boolObject("b", false) + "]}," + boolObject("c", false) + "]");

    // A long chain of nested entries ends without exhausting the stack.
    s.entries.clear();
    for (int i = 0; i < 5000; ++i) {
        s.entries.push_back(makeEntry("e" + std::to_string(i), "bool", {0}));
        s.entries.back().fieldIds = {"e" + std::to_string(i + 1)};
        if (i > 0) s.entries.back().parentId = "e" + std::to_string(i - 1);
    }
    EXPECT_TRUE(isValidJson(schemaArray(s)));
}
