// The type catalogue: its JSON text as the host receives it, and the group lookup that every
// result JSON uses.
#include <gtest/gtest.h>
#include <rapidjson/document.h>

#include <fstream>
#include <iterator>

#include "core/TypeTables.h"
#include "engine/TypeCatalogue.h"

namespace {

const std::string& catalogue() {
    static const bool built = [] {
        initFileTypeGroup();
        return true;
    }();
    (void)built;
    return cacheFileTypeGroups;
}

const std::string kBeta = "[BETA] ";

}  // namespace

TEST(TypeCatalogue, JsonTextFrame) {
    const std::string& json = catalogue();
    EXPECT_EQ(json.size(), 16012u);
    EXPECT_EQ(
        json.rfind("{\"A\":{\"types\":[{\"id\":\"7Z\",\"description\":\"7-zip Compressed Archive\",\"extensions\":"
                   "\".7z\"},{\"id\":\"GZ\",\"description\":\"GNU Zipped Archive\",\"extensions\":\".gz\"},",
                   0),
        0u);
    EXPECT_NE(json.find("],\"description\":\"Archive Files\"},\"D\":{\"types\":[{\"id\":\"DOCX\""), std::string::npos);
    EXPECT_NE(json.find("\"O\":{\"types\":[{\"id\":\"\",\"description\":\"-\",\"extensions\":\"-\"},"),
              std::string::npos);
    const std::string tail =
        "{\"id\":\"ZLIB\",\"description\":\"ZLIB Compressed "
        "Archive\",\"extensions\":\"\"}],\"description\":\"Other\"}}";
    ASSERT_GE(json.size(), tail.size());
    EXPECT_EQ(json.compare(json.size() - tail.size(), tail.size(), tail), 0);
    EXPECT_EQ(json.find(",]"), std::string::npos);
    EXPECT_EQ(json.find(",}"), std::string::npos);
    EXPECT_EQ(json.find_first_of("\n\r\t"), std::string::npos);
    EXPECT_NE(json.find("\"id\":\"ODT/ODS/ODP/OTT\""), std::string::npos);
    EXPECT_NE(json.find("\"id\":\"XEX/EXE\""), std::string::npos);
}

// The whole text against catalogue.json beside this test, written once from the catalogue
// table and checked entry by entry: the frame and counts above would not notice two entries
// that changed places.
TEST(TypeCatalogue, WholeTextIsPinned) {
    std::ifstream in(std::string(KIV_SOURCE_DIR) + "/tests/engine/mapping/catalogue.json", std::ios::binary);
    ASSERT_TRUE(in) << "catalogue.json not found";
    std::string pinned(std::istreambuf_iterator<char>(in), {});
    while (!pinned.empty() && pinned.back() == '\n') pinned.pop_back();
    EXPECT_EQ(catalogue(), pinned);
}

// Walks every entry of every group through the parsed text.
TEST(TypeCatalogue, ParsesAsJsonWithEveryGroupAndEntry) {
    rapidjson::Document doc;
    doc.Parse(catalogue().c_str(), catalogue().size());
    ASSERT_FALSE(doc.HasParseError());
    ASSERT_TRUE(doc.IsObject());

    const char* ids[] = {"A", "D", "E", "G", "I", "M", "Z", "P", "T", "D_ENC", "O"};
    const char* titles[] = {
        "Archive Files", "Office Documents", "Executable Files", "Image Files", "Disk Image Files",
        "Media Files",   "Email Files",      "Adobe Files",      "Text Files",  "ENCRYPTED DOCUMENTS",
        "Other"};
    const unsigned sizes[] = {26, 53, 6, 22, 11, 24, 4, 3, 19, 15, 11};
    const unsigned betas[] = {6, 21, 0, 11, 0, 6, 3, 2, 5, 0, 0};
    ASSERT_EQ(doc.MemberCount(), 11u);

    unsigned g = 0, entries = 0, betaTotal = 0;
    for (auto group = doc.MemberBegin(); group != doc.MemberEnd(); ++group, ++g) {
        SCOPED_TRACE(ids[g]);
        EXPECT_STREQ(group->name.GetString(), ids[g]);
        const auto& obj = group->value;
        ASSERT_TRUE(obj.IsObject());
        ASSERT_EQ(obj.MemberCount(), 2u);
        EXPECT_STREQ(obj.MemberBegin()->name.GetString(), "types");
        EXPECT_STREQ((obj.MemberBegin() + 1)->name.GetString(), "description");
        EXPECT_STREQ(obj["description"].GetString(), titles[g]);
        const auto& types = obj["types"];
        ASSERT_TRUE(types.IsArray());
        EXPECT_EQ(types.Size(), sizes[g]);
        unsigned beta = 0;
        for (const auto& e : types.GetArray()) {
            ASSERT_EQ(e.MemberCount(), 3u);
            EXPECT_STREQ(e.MemberBegin()->name.GetString(), "id");
            EXPECT_STREQ((e.MemberBegin() + 1)->name.GetString(), "description");
            EXPECT_STREQ((e.MemberBegin() + 2)->name.GetString(), "extensions");
            std::string id = e["id"].GetString(), desc = e["description"].GetString();
            std::string exts = e["extensions"].GetString();
            ++entries;
            if (id.empty()) {
                EXPECT_EQ(desc, "-");
                EXPECT_EQ(exts, "-");
                continue;
            }
            bool isBeta = desc.compare(0, kBeta.size(), kBeta) == 0;
            beta += isBeta;
            EXPECT_EQ(isBeta ? desc.substr(kBeta.size()) : desc, FileTypeDescription.at(id)) << id;
            // ".a,.b": dotted, comma-joined, no blanks; only ZLIB lists none.
            if (id == "ZLIB") {
                EXPECT_EQ(exts, "");
            } else {
                EXPECT_EQ(exts.front(), '.') << id;
                EXPECT_EQ(exts.find(' '), std::string::npos) << id;
                EXPECT_EQ(exts.find(",,"), std::string::npos) << id;
                EXPECT_NE(exts.back(), ',') << id;
            }
        }
        EXPECT_EQ(beta, betas[g]);
        betaTotal += beta;
    }
    EXPECT_EQ(entries, 194u);
    EXPECT_EQ(betaTotal, 54u);
    EXPECT_STREQ(doc["A"]["types"][7]["description"].GetString(), "[BETA] ARJ Archive");
    EXPECT_STREQ(doc["A"]["types"][0]["description"].GetString(), "7-zip Compressed Archive");
    EXPECT_STREQ(doc["M"]["types"][9]["id"].GetString(), "M4V");
    EXPECT_STREQ(doc["M"]["types"][9]["description"].GetString(), "MPEG-4 Video");
}

TEST(TypeCatalogue, GroupLookup) {
    catalogue();
    EXPECT_EQ(map_TypeToGroupId.size(), 192u);
    EXPECT_EQ(map_TypeToGroupId.at("EXE_SFX"), (std::vector<std::string>{"A", "E"}));
    EXPECT_EQ(map_TypeToGroupId.at("M4V"), (std::vector<std::string>{"M", "M"}));
    EXPECT_EQ(map_TypeToGroupId.at(""), (std::vector<std::string>{"O"}));
    EXPECT_EQ(map_TypeToGroupId.at("PDF-ENCRYPTED"), (std::vector<std::string>{"D_ENC"}));
    EXPECT_EQ(map_TypeToGroupId.at("XEX/EXE"), (std::vector<std::string>{"E"}));
    // Ids that scans answer but the catalogue does not list fall to group "O" in the result.
    for (const char* id : {"data", "DB", "SLN", "TORRENT", "png", "GLADE"}) EXPECT_EQ(map_TypeToGroupId.count(id), 0u);
    for (const auto& kv : map_TypeToGroupId) {
        if (kv.first.empty()) continue;
        EXPECT_EQ(FileTypeDescription.count(kv.first), 1u) << kv.first;
    }
}

TEST(TypeCatalogue, BuildingAgainGivesTheSameCatalogue) {
    const std::string first = catalogue();
    initFileTypeGroup();
    EXPECT_EQ(cacheFileTypeGroups, first);
    EXPECT_EQ(map_TypeToGroupId.size(), 192u);
    EXPECT_EQ(map_TypeToGroupId.at("EXE_SFX").size(), 2u);
    EXPECT_EQ(map_TypeToGroupId.at("PDF").size(), 1u);
}

TEST(TypeCatalogue, EntryConstruction) {
    std::list<FileTypeInputStructure> list;
    insertToFileTypeList(list, "", "ignored", true);
    insertToFileTypeList(list, "TAR", ".tar", true);
    insertToFileTypeList(list, "ZIP", "", false);
    ASSERT_EQ(list.size(), 3u);
    auto it = list.begin();
    EXPECT_EQ(it->id, "");
    EXPECT_EQ(it->description, "-");
    EXPECT_EQ(it->extensions, "-");
    ++it;
    EXPECT_EQ(it->description, "[BETA] Tape ARchive");
    EXPECT_EQ(it->extensions, ".tar");
    ++it;
    EXPECT_EQ(it->description, "ZIP Archive");
    EXPECT_EQ(it->extensions, "");
    EXPECT_THROW(insertToFileTypeList(list, "NOT-A-TYPE", ".x", false), std::out_of_range);
    EXPECT_EQ(list.size(), 3u);

    // Empty groups and an empty list still give valid JSON.
    cacheFileTypeGroupToJson({FileTypeGroup("X", "Empty", {}), FileTypeGroup("Y", "One", {list.front()})});
    EXPECT_EQ(cacheFileTypeGroups,
              "{\"X\":{\"types\":[],\"description\":\"Empty\"},\"Y\":{\"types\":[{\"id\":\"\",\"description\":\"-\","
              "\"extensions\":\"-\"}],\"description\":\"One\"}}");
    cacheFileTypeGroupToJson({});
    EXPECT_EQ(cacheFileTypeGroups, "{}");
    initFileTypeGroup();  // leave the real catalogue for the other tests
}
