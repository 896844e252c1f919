// The result JSON: exact texts of the fixed results, group lists from the catalogue, escaping,
// and that every answer is valid JSON with its keys in order.
#include <gtest/gtest.h>
#include <rapidjson/document.h>
#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

#include <mutex>

#include "core/TypeTables.h"
#include "engine/Result.h"
#include "engine/TypeCatalogue.h"

using kiv::DetectionResult;
using kiv::FixedRow;

namespace {

void buildCatalogueOnce() {
    static std::once_flag once;
    std::call_once(once, [] { initFileTypeGroup(); });
}

std::string fixedRowJson(FixedRow row) {
    buildCatalogueOnce();
    DetectionResult r;
    kiv::writeFixedRow(row, r);
    return createOutputJson(r.typeId, r.mime, r.description, r.extensions, r.encrypted, {});
}

// Parses text and checks the member order of a result object.
void expectWellFormed(const std::string& text, bool withTypeIds) {
    rapidjson::Document d;
    d.Parse(text.c_str(), text.size());
    ASSERT_FALSE(d.HasParseError()) << text;
    ASSERT_TRUE(d.IsObject()) << text;
    std::vector<std::string> keys;
    for (auto it = d.MemberBegin(); it != d.MemberEnd(); ++it) keys.push_back(it->name.GetString());
    std::vector<std::string> want = {"typeID", "type", "groupIDs", "groupID", "description", "extensions", "encrypted"};
    if (withTypeIds) want.push_back("type_ids");
    EXPECT_EQ(keys, want) << text;
    const auto& groups = d["groupIDs"];
    ASSERT_TRUE(groups.IsArray());
    ASSERT_GT(groups.Size(), 0u);
    EXPECT_STREQ(groups[groups.Size() - 1].GetString(), d["groupID"].GetString());
    // Written back compactly the object gives the same bytes: no whitespace between tokens and
    // the usual escapes.
    rapidjson::StringBuffer buffer;
    rapidjson::Writer<rapidjson::StringBuffer> writer(buffer);
    d.Accept(writer);
    EXPECT_EQ(std::string(buffer.GetString(), buffer.GetSize()), text);
}

}  // namespace

TEST(ResultJson, FixedRowsGiveTheirExactText) {
    EXPECT_EQ(fixedRowJson(FixedRow::Pdf),
              R"({"typeID":"PDF","type":"application/pdf","groupIDs":["P"],"groupID":"P",)"
              R"("description":"Adobe Portable Document Format","extensions":"pdf","encrypted":false})");
    EXPECT_EQ(fixedRowJson(FixedRow::PdfEncrypted),
              R"({"typeID":"PDF-ENCRYPTED","type":"application/pdf","groupIDs":["D_ENC"],"groupID":"D_ENC",)"
              R"("description":"Encrypted Adobe Portable Document Format","extensions":"pdf,ai","encrypted":true})");
    EXPECT_EQ(fixedRowJson(FixedRow::Ai),
              R"({"typeID":"AI","type":"application/postscript","groupIDs":["G"],"groupID":"G",)"
              R"("description":"Adobe Illustrator graphics","extensions":"pdf,ai","encrypted":false})");
    EXPECT_EQ(fixedRowJson(FixedRow::Rtf),
              R"({"typeID":"RTF","type":"text/rtf","groupIDs":["D"],"groupID":"D",)"
              R"("description":"Microsoft Rich Text Format","extensions":"rtf","encrypted":false})");
    EXPECT_EQ(fixedRowJson(FixedRow::Tnef),
              R"({"typeID":"TNEF","type":"application/ms-tnef","groupIDs":["Z"],"groupID":"Z",)"
              R"("description":"Transport Neutral Encapsulation Format","extensions":"tnef,dat","encrypted":false})");
    EXPECT_EQ(fixedRowJson(FixedRow::Data),
              R"({"typeID":"data","type":"application/octet-stream","groupIDs":["O"],"groupID":"O",)"
              R"("description":"data","extensions":"","encrypted":false})");
    EXPECT_EQ(fixedRowJson(FixedRow::XexExe),
              R"({"typeID":"XEX/EXE","type":"application/x-dosdriver","groupIDs":["E"],"groupID":"E",)"
              R"("description":"Atari XE Executable","extensions":"xex,exe","encrypted":false})");
    struct Row {
        FixedRow row;
        const char* head;
    };
    for (const Row& r : {Row{FixedRow::Amr, R"({"typeID":"AMR","type":"audio/amr","groupIDs":["M"],)"},
                         Row{FixedRow::Pst, R"({"typeID":"PST","type":"application/vnd.ms-outlook","groupIDs":["Z"],)"},
                         Row{FixedRow::Wav, R"({"typeID":"WAV","type":"audio/wav","groupIDs":["M"],)"},
                         Row{FixedRow::Mp3, R"({"typeID":"MP3","type":"audio/mp3","groupIDs":["M"],)"}}) {
        std::string json = fixedRowJson(r.row);
        EXPECT_EQ(json.rfind(r.head, 0), 0u) << json;
        expectWellFormed(json, false);
    }
}

TEST(ResultJson, GroupsComeFromTheCatalogueInOrder) {
    buildCatalogueOnce();
    auto groupsOf = [](const std::string& typeId) {
        std::string json = createOutputJson(typeId, "m", "d", "e", false, {});
        expectWellFormed(json, false);
        size_t a = json.find("\"groupIDs\":");
        size_t b = json.find(",\"description\"");
        return json.substr(a, b - a);
    };
    EXPECT_EQ(groupsOf("EXE_SFX"), R"("groupIDs":["A","E"],"groupID":"E")");
    EXPECT_EQ(groupsOf("M4V"), R"("groupIDs":["M","M"],"groupID":"M")");
    for (const char* other : {"data", "DB", "VSD-ENCRYPTED", "ASF", "RSS", "not-a-type"})
        EXPECT_EQ(groupsOf(other), R"("groupIDs":["O"],"groupID":"O")") << other;
    // An id the lookup lists with no group at all still gets "O".
    std::map<std::string, std::vector<std::string>> groups = {{"X", {}}};
    EXPECT_NE(createOutputJson("X", "m", "d", "e", false, {}, groups).find(R"("groupIDs":["O"],"groupID":"O")"),
              std::string::npos);
}

TEST(ResultJson, EscapingKeepsEveryAnswerValidJson) {
    EXPECT_EQ(escapeJsonString("a\"b\\c\td"), "a\\\"b\\\\c\\td");
    EXPECT_EQ(escapeJsonString("\b\n\f\r"), "\\b\\n\\f\\r");
    // Other control bytes are written as \u00XX; libmagic's raw descriptions can carry them.
    EXPECT_EQ(escapeJsonString(std::string("x\x01y\x1f\x00z", 6)), "x\\u0001y\\u001F\\u0000z");
    // UTF-8, DEL and "/" pass unchanged.
    EXPECT_EQ(escapeJsonString("caf\xc3\xa9 \x7f ODT/ODS"), "caf\xc3\xa9 \x7f ODT/ODS");

    std::string nasty = std::string("q\"b\\t\tn\nc\x01\x1b", 11);
    std::string json = createOutputJson("T\"", nasty, nasty, nasty, true, {});
    expectWellFormed(json, false);
    rapidjson::Document d;
    d.Parse(json.c_str());
    EXPECT_EQ(std::string(d["description"].GetString(), d["description"].GetStringLength()), nasty);
    EXPECT_TRUE(d["encrypted"].GetBool());
    EXPECT_EQ(json.find("type_ids"), std::string::npos);
}

TEST(ResultJson, InvalidUtf8BecomesOneReplacementPerByte) {
    const std::string r = "\\uFFFD";
    const std::pair<std::string, std::string> cases[] = {
        {"\xf0\x9f\x98\x80 \xf4\x8f\xbf\xbf \xed\x9f\xbf \xee\x80\x80 \xdf\xbf",
         "\xf0\x9f\x98\x80 \xf4\x8f\xbf\xbf \xed\x9f\xbf \xee\x80\x80 \xdf\xbf"},
        {"caf\xe9", "caf" + r},               // Latin-1
        {"\xc0\xaf\xc1\xbf", r + r + r + r},  // overlong two-byte forms
        {"\xe0\x80\xaf", r + r + r},
        {"\xf0\x80\x80\xaf", r + r + r + r},
        {"\xed\xa0\x80\xed\xbf\xbf", r + r + r + r + r + r},  // surrogates
        {"\xf4\x90\x80\x80", r + r + r + r},                  // above U+10FFFF
        {"\xf5\x80\x80\x80", r + r + r + r},
        {"\xe2\x82"
         "A\xe2\x82",
         r + r + "A" + r + r},  // cut short, inside and at the end
        {"\x80\xbf\xfe\xff", r + r + r + r},
    };
    for (const auto& [in, want] : cases) EXPECT_EQ(escapeJsonString(in), want) << in;

    // Every member, the type-id list included, parses as strict UTF-8.
    const std::string label = "volume name \"caf\xe9\"";
    std::string json = createOutputJson("T\xff", "m\xc0", label, "e\xed\xa0\x80", false, {"T\xff", "X\xe9"});
    rapidjson::Document d;
    d.Parse<rapidjson::kParseValidateEncodingFlag>(json.c_str());
    ASSERT_FALSE(d.HasParseError()) << json;
    EXPECT_STREQ(d["description"].GetString(), "volume name \"caf\xef\xbf\xbd\"");
    EXPECT_STREQ(d["type_ids"][1].GetString(), "X\xef\xbf\xbd");
}

TEST(ResultJson, TypeIdListIsLastAndEscaped) {
    buildCatalogueOnce();
    std::string json =
        createOutputJson("PDF", "application/pdf", "Adobe Portable Document Format", "pdf", false, {"PDF", "P\"D\\F"});
    expectWellFormed(json, true);
    EXPECT_NE(json.find(R"("encrypted":false,"type_ids":["PDF","P\"D\\F"]})"), std::string::npos) << json;
    rapidjson::Document d;
    d.Parse(json.c_str());
    EXPECT_STREQ(d["type_ids"][1].GetString(), "P\"D\\F");
}

TEST(ResultJson, EveryFixedRowNamesAKnownType) {
    for (int i = 0; i <= static_cast<int>(FixedRow::Mp3); ++i) {
        DetectionResult r;
        ASSERT_NO_THROW(kiv::writeFixedRow(static_cast<FixedRow>(i), r)) << i;
        EXPECT_EQ(r.description, FileTypeDescription.at(r.typeId));
        EXPECT_EQ(r.encrypted, r.typeId == "PDF-ENCRYPTED");
    }
}
