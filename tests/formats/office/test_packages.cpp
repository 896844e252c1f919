// OpenDocument and Office Open XML packages: the header and member tests, the manifest and
// content-type decisions, XPS, and members that need a password. Packages come from
//   /usr/bin/python3 tests/formats/office/fixtures/make_packages.py OUTDIR
// and the office suite's files from tests/formats/office/fixtures/make.sh packages.
#include "formats/archive/ZipArchive.h"
#include "formats/office/OfficePackages.h"
#include "tests/formats/office/PackageFixtures.h"

using namespace kit;
using pkgtest::realFile;

namespace {

Result odf(const kiv::ByteSource& src, uint8_t* codeOut = nullptr) {
    Result r;
    if (!isOpenOfficeDocument(src)) return r;
    const uint8_t code = determineOpenOfficeDocument(src);
    if (codeOut) *codeOut = code;
    adjustOpenDocumentTypes(code, r.typeId, r.mime, r.extensions, r.description, r.encrypted);
    return r;
}

Result odf(const std::string& path, uint8_t* codeOut = nullptr) { return odf(kiv::FileByteSource(path), codeOut); }

Result office(const std::string& path) {
    Result r;
    kiv::FileByteSource src(path);
    if (isMSOffice2007Document(src) != 1) return r;
    MSOffice2007::adjustMsOfficeTypes(classifyOfficeFileType(src), r.typeId, r.mime, r.extensions, r.description,
                                      r.encrypted);
    return r;
}

}  // namespace

TEST(OpenDocument, ManifestMediaTypeAndEncryption) {
    ASSERT_NE(pkgtest::packagesDir(), "");
    kit::SevenZipHome home;
    struct Case {
        std::string path;
        uint8_t code;
        const char* typeId;
        bool encrypted;
    };
    const Case cases[] = {
        {pkgtest::package("text.odt"), 2, "ODT", false},
        {pkgtest::package("template.ott"), 3, "OTT", false},
        {pkgtest::package("slides.odp"), 4, "ODP", false},
        {pkgtest::package("sheet.ods"), 5, "ODS", false},
        {pkgtest::package("text-and-slides.odp"), 4, "ODP", false},  // the presentation is tested first
        {pkgtest::package("text-encrypted.odt"), 6, "ODT-ENCRYPTED", true},
        {pkgtest::package("template-encrypted.ott"), 7, "OTT-ENCRYPTED", true},
        {pkgtest::package("slides-encrypted.odp"), 8, "ODP-ENCRYPTED", true},
        {pkgtest::package("sheet-encrypted.ods"), 9, "ODS-ENCRYPTED", true},
        {pkgtest::package("locked.odt"), 10, "ZIP-ENCRYPTED", true},  // the manifest itself needs a password
        {pkgtest::package("drawing.odg"), 0, "ODT/ODS/ODP/OTT", false},
        {realFile("writer.odt"), 2, "ODT", false},
        {realFile("writer-password.odt"), 6, "ODT-ENCRYPTED", true},
        {realFile("calc.ods"), 5, "ODS", false},
        {realFile("impress.odp"), 4, "ODP", false},
    };
    for (const Case& c : cases) {
        uint8_t code = 99;
        Result r = odf(c.path, &code);
        EXPECT_EQ(code, c.code) << c.path;
        EXPECT_EQ(r.typeId, c.typeId) << c.path;
        EXPECT_EQ(r.encrypted, c.encrypted) << c.path;
        EXPECT_EQ(r.description, FileTypeDescription.at(c.typeId)) << c.path;
    }
    // Not packages with a manifest.
    for (const char* name : {"kind.docx", "flags-0006.zip", "ascii.xps"})
        EXPECT_FALSE(isOpenOfficeDocument(pkgtest::package(name), 0)) << name;

    // Without 7za a manifest the engine reads itself still decides. One only 7za can read
    // leaves the generic answer, and the source's member reads note why (a scan answers nothing).
    currentDir = home.dir.path + "/nowhere/";
    const kiv::FileByteSource sheet(pkgtest::package("sheet.ods")), locked(pkgtest::package("locked.odt"));
    EXPECT_EQ(odf(sheet).typeId, "ODS");
    EXPECT_EQ(ZipArchive::archiverFailure(sheet), "");
    EXPECT_EQ(odf(locked).typeId, "ODT/ODS/ODP/OTT");
    EXPECT_NE(ZipArchive::archiverFailure(locked).find("7za could not be started"), std::string::npos);
}

TEST(OfficeOpenXml, PackagesAndTheirKinds) {
    ASSERT_NE(pkgtest::packagesDir(), "");
    kit::SevenZipHome home;
    const std::pair<std::string, const char*> cases[] = {
        {pkgtest::package("kind.docx"), "DOCX"},
        {pkgtest::package("bare.xlsb"), "XLSB"},  // no relationship, but xl/workbook.bin
        {pkgtest::package("ascii.xps"), "XPS"},
        {pkgtest::package("utf16.xps"), "XPS"},
        {pkgtest::package("open.oxps"), "OXPS"},
        {pkgtest::package("both.oxps"), "OXPS"},  // OpenXPS wins
        {pkgtest::package("no-namespace.xps"), "ZIP"},
        {pkgtest::package("rel-missing-part.docx"), "ZIP"},
        {pkgtest::package("locked.docx"), "ZIP-ENCRYPTED"},
        // An encryption header that an empty password passes: 7za fails on the data instead.
        {pkgtest::package("weak-header.docx"), "ZIP-ENCRYPTED"},
        // A member that merely contains the archiver's password message is not locked.
        {pkgtest::package("decoy.docx"), "ZIP"},
        // The office suite's own local header flags: a package without any member test.
        {pkgtest::package("flags-0006.zip"), "ZIP"},
        {realFile("writer.docx"), "DOCX"},
        {realFile("calc.xlsx"), "XLSX"},
        {realFile("impress.pptx"), "PPTX"},
    };
    for (const auto& [path, typeId] : cases) {
        Result r = office(path);
        EXPECT_EQ(r.typeId, typeId) << path;
        EXPECT_EQ(r.encrypted, std::string(typeId) == "ZIP-ENCRYPTED") << path;
    }
    // ZIP files without both package parts, and OpenDocument, are not Office packages.
    EXPECT_EQ(isMSOffice2007Document(pkgtest::package("text.odt"), 0), 0);
    EXPECT_EQ(isMSOffice2007Document(realFile("writer.odt"), 0), 0);
}

TEST(OfficeOpenXml, HeaderTestsOnTruncatedAndForeignBytes) {
    const std::string fast = std::string("PK\x03\x04\x14\x00\x06\x00", 8);
    EXPECT_EQ(isMSOffice2007Document(kiv::MemoryByteSource(bytes(fast))), 1);
    EXPECT_EQ(isMSOffice2007Document(kiv::MemoryByteSource(bytes(fast.substr(0, 7)))), 0);
    EXPECT_EQ(isMSOffice2007Document(kiv::MemoryByteSource(bytes("PK\x03\x04 not a real archive at all"))), 0);
    EXPECT_FALSE(isOpenOfficeDocument(kiv::MemoryByteSource(bytes("PK\x03\x04\x14\x00"))));
    EXPECT_FALSE(isOpenOfficeDocument(kiv::MemoryByteSource(bytes("PK\x03\x04 META-INF/manifest.xml"))));
    // Member reads need a path: bytes in memory are never encrypted packages or XPS.
    const Bytes docx = kit::readFile(realFile("writer.docx"));
    kiv::MemoryByteSource inMemory(docx);
    EXPECT_EQ(isMSOffice2007Document(inMemory), 1);
    EXPECT_EQ(classifyOfficeFileType(inMemory), MSOFFICE_NONE);
    EXPECT_EQ(determineXPSFamilyType(inMemory), MSOFFICE_NONE);
    EXPECT_EQ(classifyOfficeFileType("/no/such/file", 0), MSOFFICE_NONE);
}

// Every code, known or not, gives a row whose type id has a description (a missing one would
// fail the whole scan), and only the encrypted codes set the flag.
TEST(OpenDocument, EveryCodeGivesADescribedRow) {
    for (int code = 0; code <= 255; ++code) {
        Result odf;
        adjustOpenDocumentTypes(static_cast<uint8_t>(code), odf.typeId, odf.mime, odf.extensions, odf.description,
                                odf.encrypted);
        EXPECT_EQ(odf.description, FileTypeDescription.at(odf.typeId)) << code;
        EXPECT_EQ(odf.encrypted, code >= 6 && code <= 10) << code;
        if (code == 1 || code > 10) {
            EXPECT_EQ(odf.typeId, "ODT/ODS/ODP/OTT") << code;
        }
    }
}
