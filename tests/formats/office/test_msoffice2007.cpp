// Office Open XML classification: the relationship-tag matcher against the regular expression
// it stands for, the archiver-output and target helpers, the result rows, and packages written
// by fixtures/make_packages.py:
//   /usr/bin/python3 tests/formats/office/fixtures/make_packages.py OUTDIR
#include <gtest/gtest.h>

#include <random>
#include <regex>

#include "core/TypeTables.h"
#include "formats/office/MSOffice2007.h"
#include "tests/formats/office/PackageFixtures.h"

namespace {

using Groups = std::array<std::string, 7>;

// The expression the matcher replaces; only ever run on short test inputs.
bool regexGroups(const std::string& tag, char quote, Groups& g) {
    auto make = [](const std::string& q) {
        return std::regex("Relationship (.+)=[" + q + "](.+)[" + q + "] (.+)=[" + q + "](.+)[" + q + "] (.+)=[" + q +
                              "](.+)[" + q + "](.+)?",
                          std::regex::ECMAScript | std::regex::icase);
    };
    static const std::regex dq = make("\""), sq = make("'");
    std::smatch m;
    if (!std::regex_match(tag, m, quote == '"' ? dq : sq)) return false;
    for (int i = 0; i < 7; ++i) g[i] = m[i + 1].matched ? m[i + 1].str() : std::string();
    return true;
}

}  // namespace

TEST(RelationshipTag, SameGroupsAsTheRegularExpressionOnShortInputs) {
    std::mt19937 rng(7);
    // Pieces of attribute syntax, so that many inputs match and many nearly do.
    const char* const pieces[] = {"a",   "B",   "=",  "\"", "'",   " ",   "=\"", "\" ", "='", "' ",
                                  "=\"", "\" ", "='", "' ", "=\"", "\" ", "ab",  "x/",  "\n", "\r"};
    const size_t common = sizeof pieces / sizeof pieces[0] - 2;  // line ends are rare
    const std::string prefixes[] = {"Relationship ", "rELATIONSHIP ", "Relationship", "Relationships ", ""};
    int matched = 0;
    for (int i = 0; i < 100000; ++i) {
        std::string tag = prefixes[rng() % 5];
        const size_t limit = tag.size() + rng() % 41;
        while (tag.size() < limit) tag += pieces[rng() % 50 == 0 ? common + rng() % 2 : rng() % common];
        for (char quote : {'"', '\''}) {
            Groups want, got;
            const bool expected = regexGroups(tag, quote, want);
            ASSERT_EQ(matchRelationshipTag(tag, quote, got), expected) << tag;
            if (!expected) continue;
            ++matched;
            EXPECT_EQ(got, want) << tag;
            // The reading with any white space keeps the groups of every tag the patterns read.
            Groups any;
            if (quote == '"' || !regexGroups(tag, '"', any)) {
                EXPECT_TRUE(readRelationshipTag(tag, any) && any == want) << tag;
            }
        }
    }
    EXPECT_GT(matched, 300);  // the inputs do reach the group choice

    // Greedy choice with four attributes: the first name takes "Id" and "Type" together.
    Groups g;
    ASSERT_TRUE(matchRelationshipTag(R"(Relationship Id="rId1" Type="t" Target="a.xml" TargetMode="x"/)", '"', g));
    EXPECT_EQ(g[0], R"(Id="rId1" Type)");
    EXPECT_EQ(g[4], "TargetMode");
    EXPECT_EQ(g[6], "/");
}

TEST(RelationshipTag, HugeAndHostileTagsCostTheirLength) {
    Groups g;
    const std::string target(100 * 1024, 't');
    ASSERT_TRUE(
        matchRelationshipTag("Relationship Id=\"r\" Type=\"x/officeDocument\" Target=\"" + target + "\"/", '"', g));
    EXPECT_EQ(g[1], "r");
    EXPECT_EQ(g[5], target);

    // Many pairs before a line feed: no match, found without backtracking.
    std::string pairs = "Relationship ";
    for (int i = 0; i < 30; ++i) pairs += "a=\"b\" ";
    EXPECT_FALSE(matchRelationshipTag(pairs + "\n", '"', g));

    std::string mega = "Relationship ";
    while (mega.size() < (1u << 20)) mega += "a=\"b\" ";
    ASSERT_TRUE(matchRelationshipTag(mega, '"', g));
    EXPECT_EQ(g[4], "a");
    EXPECT_EQ(g[5], "b");
    EXPECT_EQ(g[6], " ");
    EXPECT_FALSE(matchRelationshipTag(mega, '\'', g));
}

TEST(MSOffice2007Helpers, ArchiverErrorBlocksAndTargets) {
    const std::pair<std::string, std::string> outputs[] = {
        {"\nERRORS:\none error\n", ""},
        {"\nERRORS:\nerr\n\n<Relationships/>", "<Relationships/>"},
        {"\nERRORS:", ""},  // the block cut short at the end of the text
        {"\nERRORS:\n", ""},
        {"\nERRORS:\nno line feed after this", "no line feed after this"},
        {"ERROR: x\nERRORS:\nIs not archive", "ERROR: x\nERRORS:\nIs not archive"},  // no leading line feed
        {"\nplain text", "\nplain text"},
        {"", ""},
    };
    for (const auto& [in, out] : outputs) EXPECT_EQ(removeErrorFrom7z(in), out) << in;

    EXPECT_EQ(getMainFileName("/word/document.xml"), "word/document.xml");
    EXPECT_EQ(getMainFileName("../xl/workbook.xml"), "xl/workbook.xml");
    EXPECT_EQ(getMainFileName("word/document.xml"), "word/document.xml");
    EXPECT_EQ(getMainFileName("/123/"), "/123/");
    EXPECT_EQ(getMainFileName(""), "");
}

TEST(MSOffice2007Helpers, FamiliesAndRelationshipTypes) {
    const std::string docx = "application/vnd.openxmlformats-officedocument.wordprocessingml.document.main+xml";
    const std::string dotx = "application/vnd.openxmlformats-officedocument.wordprocessingml.template.main+xml";
    const std::string dotm = "application/vnd.ms-word.template.macroEnabledTemplate.main+xml";
    MsOfficeTypes t = MSOFFICE_VSTM;
    EXPECT_TRUE(MSOffice2007::isDOCXFamilyType(dotm + dotx, t));
    EXPECT_EQ(t, MSOFFICE_DOTX);  // the plain template is tested first
    EXPECT_FALSE(MSOffice2007::isXLSXFamilyType(docx, t));
    EXPECT_EQ(t, MSOFFICE_NONE);  // cleared also when nothing is found
    EXPECT_TRUE(MSOffice2007::isXLSXFamilyType("application/vnd.ms-excel.sheet.binary.macroEnabled.main", t));
    EXPECT_EQ(t, MSOFFICE_XLSB);
    EXPECT_TRUE(MSOffice2007::isPPTXFamilyType("application/vnd.ms-powerpoint.addin.macroEnabled.main+xml", t));
    EXPECT_EQ(t, MSOFFICE_PPTM);

    EXPECT_TRUE(MSOffice2007::checkRelTypeInsideList({"relationships/document"}, "x/relationships/document"));
    EXPECT_FALSE(MSOffice2007::checkRelTypeInsideList({"relationships/document"}, "x/relationships/officeDocument"));
    EXPECT_FALSE(MSOffice2007::checkRelTypeInsideList({"relationships/Document"}, "x/relationships/document"));
}

TEST(MSOffice2007Results, EveryCodeHasADescribedRow) {
    for (int code = 0; code <= 255; ++code) {
        std::string typeId, mime, extensions, description;
        bool encrypted = false;
        MSOffice2007::adjustMsOfficeTypes(static_cast<MsOfficeTypes>(code), typeId, mime, extensions, description,
                                          encrypted);
        EXPECT_EQ(description, FileTypeDescription.at(typeId)) << code;
        EXPECT_EQ(encrypted, code == MSOFFICE_ZIP_ENCRYPTED) << code;
        if (code == 0 || code > MSOFFICE_ZIP_ENCRYPTED) {
            EXPECT_EQ(typeId + " " + extensions, "ZIP zip,zipx") << code;
        }
    }
    std::string t, m, e, d;
    bool encrypted = true;
    MSOffice2007::adjustMsOfficeTypes(MSOFFICE_NONE, t, m, e, d, encrypted);
    EXPECT_TRUE(encrypted) << "the flag is left alone for every code but 25";
}

TEST(MSOffice2007Packages, MainPartContentTypeDecides) {
    ASSERT_NE(pkgtest::packagesDir(), "");
    kit::SevenZipHome home;
    const std::pair<const char*, MsOfficeTypes> cases[] = {
        {"kind.docx", MSOFFICE_DOCX},
        {"kind.docm", MSOFFICE_DOCM},
        {"kind.dotx", MSOFFICE_DOTX},
        {"kind.dotm", MSOFFICE_DOTM},
        {"kind.xlsx", MSOFFICE_XLSX},
        {"kind.xlsm", MSOFFICE_XLSM},
        {"kind.xlam", MSOFFICE_XLAM},
        {"kind.xltx", MSOFFICE_XLTX},
        {"kind.xltm", MSOFFICE_XLTM},
        {"kind.xlsb", MSOFFICE_XLSB},
        {"kind.pptx", MSOFFICE_PPTX},
        {"kind.pptm", MSOFFICE_PPTM},
        {"kind.potx", MSOFFICE_POTX},
        {"kind.potm", MSOFFICE_POTM},
        {"kind.ppsx", MSOFFICE_PPSX},
        {"kind.ppsm", MSOFFICE_PPSM},
        {"kind.ppam", MSOFFICE_PPTM},
        {"kind.vsdx", MSOFFICE_VSDX},
        {"kind.vsdm", MSOFFICE_VSDM},
        {"kind.vssx", MSOFFICE_VSSX},
        {"kind.vssm", MSOFFICE_VSSM},
        {"kind.vstx", MSOFFICE_VSTX},
        {"kind.vstm", MSOFFICE_VSTM},
        {"rel-dotdot.docx", MSOFFICE_DOCX},
        {"rel-plain.docx", MSOFFICE_DOCX},
        {"rel-single-quotes.docx", MSOFFICE_DOCX},
        {"rel-target-first.docx", MSOFFICE_DOCX},
        {"rel-newline.docx", MSOFFICE_DOCX},  // a line feed between attributes is white space too
        {"word-and-excel.xlsx", MSOFFICE_DOCX},
        {"rel-missing-part.docx", MSOFFICE_NONE},
        {"rel-four-attributes.docx", MSOFFICE_NONE},
        {"rel-no-target.docx", MSOFFICE_NONE},
        {"no-known-type.docx", MSOFFICE_NONE},
        {"long-target.docx", MSOFFICE_NONE},
        {"bare.xlsb", MSOFFICE_NONE},
        {"ascii.xps", MSOFFICE_NONE},
        {"text.odt", MSOFFICE_NONE},
        {"no-such-file", MSOFFICE_NONE},
    };
    for (const auto& [name, code] : cases)
        EXPECT_EQ(MSOffice2007::checkOfficeType(pkgtest::package(name)), code) << name;

    // Bytes without a path classify nothing. Without 7za the members the engine reads itself
    // still decide.
    kiv::MemoryByteSource bytes(kit::readFile(pkgtest::package("kind.docx")));
    EXPECT_EQ(MSOffice2007::checkOfficeType(bytes), MSOFFICE_NONE);
    currentDir = home.dir.path + "/nowhere/";
    EXPECT_EQ(MSOffice2007::checkOfficeType(pkgtest::package("kind.docx")), MSOFFICE_DOCX);
}
