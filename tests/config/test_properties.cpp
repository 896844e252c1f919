// Engine properties, through the entry points of the built library.
#include <map>
#include <string>

#include "ConfigTestSupport.h"

namespace {

using Table = std::map<std::string, EngineProperty>;

// getEngineProperties' text, released through the library; "<status N>" when refused.
std::string propertyText(Table& table, const char* name) {
    const char* out = "untouched";
    const int status = configApi().getEngineProperties(table, name, &out);
    if (status == 0) return takeText(const_cast<char*>(out));
    EXPECT_STREQ(out, "untouched");
    return "<status " + std::to_string(status) + ">";
}

}  // namespace

TEST(EngineProperties, ListAndSingleValues) {
    Table table{{"old", EngineProperty{"old", "x", "", true, false}}};
    configApi().createBasicSupportedProperties(table);
    ASSERT_EQ(table.size(), 2u);
    EXPECT_EQ(propertyText(table, ""),
              R"([{"prop_name":"extract_archive","prop_value":"","available_value":"|0|1|","read_only":0},)"
              R"({"prop_name":"heuristic_scan","prop_value":"","available_value":"|0|1|","read_only":0}])");
    // Unsupported properties are left out of the list but answer by name.
    table["heuristic_scan"].supported = false;
    table["extract_archive"] = EngineProperty{"extract_archive", "1", "|0|1|", true, true};
    EXPECT_EQ(propertyText(table, ""),
              R"([{"prop_name":"extract_archive","prop_value":"1","available_value":"|0|1|","read_only":1}])");
    table["extract_archive"].supported = false;
    EXPECT_EQ(propertyText(table, ""), "[]");
    EXPECT_EQ(propertyText(table, "extract_archive"), "1");
    EXPECT_EQ(propertyText(table, "heuristic_scan"), "");
    EXPECT_EQ(propertyText(table, nullptr), "<status 50>");
    EXPECT_EQ(propertyText(table, "nope"), "<status 55>");
    EXPECT_EQ(configApi().getEngineProperties(table, "", nullptr), 50);

    // Quotes, backslashes and control bytes keep the list valid JSON; a single value is the text itself.
    const std::string odd = "a\"b\\c\td\x01";
    table = {{"p\"q", EngineProperty{"p\"q", odd, "", true, false}}};
    rapidjson::Document doc;
    doc.Parse(propertyText(table, "").c_str());
    ASSERT_FALSE(doc.HasParseError());
    EXPECT_EQ(doc[0]["prop_name"].GetString(), std::string("p\"q"));
    EXPECT_EQ(doc[0]["prop_value"].GetString(), odd);
    EXPECT_EQ(propertyText(table, "p\"q"), odd);
}

TEST(EngineProperties, SetOrRefuse) {
    const auto set = configApi().validateAndSetPropertyToMap;
    Table table;
    configApi().createBasicSupportedProperties(table);
    EXPECT_EQ(set(table, "extract_archive", "1", true), 0);
    for (const char* bad : {"2", "", "0|1", "|0", "01"}) EXPECT_EQ(set(table, "extract_archive", bad, true), 50) << bad;
    EXPECT_EQ(table["extract_archive"].value, "1");
    EXPECT_EQ(set(table, "nope", "1", true), 55);
    EXPECT_EQ(set(table, nullptr, "1", true), 50);
    EXPECT_EQ(set(table, "extract_archive", nullptr, true), 50);
    EXPECT_EQ(table.size(), 2u);

    // Read-only refuses only when protection is asked for, and is checked before the value.
    table["free"] = EngineProperty{"free", "", "", false, true};
    EXPECT_EQ(set(table, "free", "x", true), 50);
    EXPECT_EQ(set(table, "free", "x", false), 0);
    EXPECT_EQ(set(table, "free", "", false), 0);  // no list: anything goes
    table["heuristic_scan"].readOnly = true;
    EXPECT_EQ(set(table, "heuristic_scan", "0", false), 0);
    EXPECT_EQ(set(table, "heuristic_scan", "1", true), 50);
    EXPECT_EQ(table["heuristic_scan"].value, "0");
    table["e"] = EngineProperty{"e", "x", "||a|", true, false};  // names the empty value
    EXPECT_EQ(set(table, "e", "", true), 0);
}
