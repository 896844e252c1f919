// The extension rules of the second scan entry on results whose files other families make:
// the PowerPoint, Visio and mail variants and the type-id list of "/" alternatives. Real
// files (text, XML, tar, data, split volumes) go through the engine in the e2e tests.
#include <gtest/gtest.h>

#include "core/TypeTables.h"
#include "engine/Engine.h"
#include "engine/KivFileType.h"

namespace {

using Ids = std::vector<std::string>;

struct Refined {
    kiv::DetectionResult r;
    Ids typeIds;
};

// The host tables as init fills them, then the rules on a result of typeId.
Refined refine(const std::string& typeId, const std::string& extension, bool encrypted = false) {
    listAlterExtensions = {{"HTM", "HTML"}};
    listTypeIdwithNoExtensions = {"DOC-ENCRYPTED", "DOT-ENCRYPTED", "XLS-ENCRYPTED", "XLT-ENCRYPTED", "PPT-ENCRYPTED",
                                  "PPS-ENCRYPTED", "POT-ENCRYPTED", "MSO-ENCRYPTED", "VSD-ENCRYPTED", "VSS-ENCRYPTED",
                                  "VST-ENCRYPTED", "JTD-ENCRYPTED", "PDF-ENCRYPTED", "ZIP-ENCRYPTED"};
    listTypeIdAlterByExtension = {{"PPT", {"PPT", "POT", "PPS"}},
                                  {"PPT-ENCRYPTED", {"PPT", "POT", "PPS"}},
                                  {"MHT", {"MHT", "MHTML", "EML"}},
                                  {"VSD", {"VSD", "VSS", "VST"}},
                                  {"VDX", {"VDX", "VSX", "VTX"}}};
    Refined out;
    out.r = {typeId, "scanned/mime", "scanned description", "scanned", encrypted};
    out.typeIds = kiv::applyExtensionRules(extension, out.r);
    return out;
}

}  // namespace

TEST(ExtensionRules, FamilyVariantsTakeTheExtensionsName) {
    Refined x = refine("PPT", "PPS");
    EXPECT_EQ(x.r.typeId, "PPS");
    EXPECT_EQ(x.r.mime, "application/vnd.ms-powerpoint");
    EXPECT_EQ(x.r.extensions, "pps");
    EXPECT_EQ(x.r.description, FileTypeDescription.at("PPS"));
    EXPECT_EQ(x.typeIds, Ids{"PPS"});  // not added twice

    // The encrypted PowerPoint stays encrypted, and its list never takes the extension.
    x = refine("PPT-ENCRYPTED", "POT", true);
    EXPECT_EQ(x.r.typeId, "POT-ENCRYPTED");
    EXPECT_EQ(x.r.description, FileTypeDescription.at("POT-ENCRYPTED"));
    EXPECT_TRUE(x.r.encrypted);
    EXPECT_EQ(x.typeIds, Ids{"POT-ENCRYPTED"});

    x = refine("MHT", "EML");
    EXPECT_EQ(x.r.mime, "message/rfc822");
    EXPECT_EQ(x.r.extensions, "eml");
    EXPECT_EQ(x.typeIds, Ids{"EML"});
    EXPECT_EQ(refine("MHT", "MHTML").typeIds, (Ids{"MHT", "MHTML"}));

    x = refine("VSD", "VST");
    EXPECT_EQ(x.r.typeId, "VST");
    EXPECT_EQ(x.r.mime, "application/visio");
    EXPECT_EQ(x.r.description, FileTypeDescription.at("VST"));
    EXPECT_EQ(refine("VDX", "VSX").r.typeId, "VSX");

    // Outside the family nothing changes; the extension only joins the list.
    x = refine("PPT", "DOC");
    EXPECT_EQ(x.r.typeId, "PPT");
    EXPECT_EQ(x.r.description, "scanned description");
    EXPECT_EQ(x.typeIds, (Ids{"PPT", "DOC"}));
    EXPECT_EQ(refine("DOC", "PPS").r.typeId, "DOC");
    EXPECT_EQ(refine("PPT", "").typeIds, Ids{"PPT"});
}

TEST(ExtensionRules, TypeIdListHoldsAlternativesAndNewNames) {
    EXPECT_EQ(refine("M4A/MP4", "M4A").typeIds, (Ids{"M4A", "MP4"}));
    EXPECT_EQ(refine("M4A/MP4", "MOV").typeIds, (Ids{"M4A", "MP4", "MOV"}));
    EXPECT_EQ(refine("HTML", "HTM").typeIds, Ids{"HTML"});
    EXPECT_EQ(refine("TXT", "HTM").typeIds, (Ids{"TXT", "HTML"}));
    // A plain-text rename keeps the scanned MIME type and description.
    Refined x = refine("TXT", "CSV");
    EXPECT_EQ(x.r.typeId, "CSV");
    EXPECT_EQ(x.r.description, "scanned description");
    EXPECT_EQ(x.typeIds, (Ids{"TXT", "CSV"}));
    EXPECT_EQ(refine("HTML", "CSV").r.typeId, "HTML");
}

TEST(ExtensionRules, SevenZipPiecesArePlainOctets) {
    kiv::DetectionResult r{"7Z", "application/x-7z-compressed", "d", "7z", true};
    std::vector<uint8_t> head = {'7', 'z', 0xBC, 0xAF, 0x27, 0x1C, 0, 4};
    head.resize(64, 0);
    head[12] = 0xF0;  // next header far beyond the end
    EXPECT_TRUE(kiv::markSplitVolume(kiv::MemoryByteSource(head), r));
    EXPECT_EQ(r.typeId, "SPLIT_ARC");
    EXPECT_EQ(r.mime, "application/octet-stream");
    EXPECT_EQ(r.description, FileTypeDescription.at("SPLIT_ARC"));
    EXPECT_EQ(r.extensions, "");
    EXPECT_TRUE(r.encrypted);
    EXPECT_FALSE(kiv::isSplitVolumeCandidate("R00", "RAR"));  // RAR marks its own volumes
    EXPECT_FALSE(kiv::isSplitVolumeCandidate("7Z", "7Z"));
}
