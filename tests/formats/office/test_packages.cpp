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

// The OpenDocument code of a package with a manifest (-1 for any other file) and its row, or
// else the row of an Office Open XML package.
Result probe(const kiv::ByteSource& src, int& odfCode) {
    Result r;
    odfCode = isOpenOfficeDocument(src) ? determineOpenOfficeDocument(src) : -1;
    if (odfCode >= 0)
        adjustOpenDocumentTypes(uint8_t(odfCode), r.typeId, r.mime, r.extensions, r.description, r.encrypted);
    else if (isMSOffice2007Document(src) == 1)
        MSOffice2007::adjustMsOfficeTypes(classifyOfficeFileType(src), r.typeId, r.mime, r.extensions, r.description,
                                          r.encrypted);
    return r;
}

}  // namespace

TEST(OfficePackages, ManifestContentTypesAndEncryption) {
    ASSERT_NE(pkgtest::packagesDir(), "");
    kit::SevenZipHome home;
    // The OpenDocument code (-1: no manifest) and the type id, encrypted when it says so.
    const std::tuple<std::string, int, std::string> cases[] = {
        {pkgtest::package("text.odt"), 2, "ODT"},
        {pkgtest::package("template.ott"), 3, "OTT"},
        {pkgtest::package("slides.odp"), 4, "ODP"},
        {pkgtest::package("sheet.ods"), 5, "ODS"},
        {pkgtest::package("text-and-slides.odp"), 4, "ODP"},  // the presentation is tested first
        {pkgtest::package("text-encrypted.odt"), 6, "ODT-ENCRYPTED"},
        {pkgtest::package("template-encrypted.ott"), 7, "OTT-ENCRYPTED"},
        {pkgtest::package("slides-encrypted.odp"), 8, "ODP-ENCRYPTED"},
        {pkgtest::package("sheet-encrypted.ods"), 9, "ODS-ENCRYPTED"},
        {pkgtest::package("locked.odt"), 10, "ZIP-ENCRYPTED"},  // the manifest itself needs a password
        {pkgtest::package("drawing.odg"), 0, "ODT/ODS/ODP/OTT"},
        {realFile("writer.odt"), 2, "ODT"},
        {realFile("writer-password.odt"), 6, "ODT-ENCRYPTED"},
        {realFile("calc.ods"), 5, "ODS"},
        {realFile("impress.odp"), 4, "ODP"},
        {pkgtest::package("kind.docx"), -1, "DOCX"},
        {pkgtest::package("bare.xlsb"), -1, "XLSB"},  // no relationship, but xl/workbook.bin
        {pkgtest::package("ascii.xps"), -1, "XPS"},
        {pkgtest::package("utf16.xps"), -1, "XPS"},
        {pkgtest::package("open.oxps"), -1, "OXPS"},
        {pkgtest::package("both.oxps"), -1, "OXPS"},  // OpenXPS wins
        {pkgtest::package("no-namespace.xps"), -1, "ZIP"},
        {pkgtest::package("rel-missing-part.docx"), -1, "ZIP"},
        {pkgtest::package("locked.docx"), -1, "ZIP-ENCRYPTED"},
        // An encryption header that an empty password passes: 7za fails on the data instead.
        {pkgtest::package("weak-header.docx"), -1, "ZIP-ENCRYPTED"},
        // A member that merely contains the archiver's password message is not locked.
        {pkgtest::package("decoy.docx"), -1, "ZIP"},
        // The office suite's own local header flags: a package without any member test.
        {pkgtest::package("flags-0006.zip"), -1, "ZIP"},
        {realFile("writer.docx"), -1, "DOCX"},
        {realFile("calc.xlsx"), -1, "XLSX"},
        {realFile("impress.pptx"), -1, "PPTX"},
    };
    for (const auto& [path, code, typeId] : cases) {
        int odfCode = 99;
        const Result r = probe(kiv::FileByteSource(path), odfCode);
        EXPECT_EQ(odfCode, code) << path;
        EXPECT_EQ(r.typeId, typeId) << path;
        EXPECT_EQ(r.encrypted, typeId.find("ENCRYPTED") != std::string::npos) << path;
        EXPECT_EQ(r.description, FileTypeDescription.at(typeId)) << path;
        // The path forms; OpenDocument packages are not Office packages.
        EXPECT_EQ(isOpenOfficeDocument(path, 0), code >= 0) << path;
        if (code >= 0) {
            EXPECT_EQ(isMSOffice2007Document(path, 0), 0) << path;
        }
    }

    // Without 7za a manifest the engine reads itself still decides. One only 7za can read
    // leaves the generic answer, and the source's member reads note why (a scan answers nothing).
    currentDir = home.dir.path + "/nowhere/";
    const kiv::FileByteSource sheet(pkgtest::package("sheet.ods")), locked(pkgtest::package("locked.odt"));
    int odfCode = 0;
    EXPECT_EQ(probe(sheet, odfCode).typeId, "ODS");
    EXPECT_EQ(ZipArchive::archiverFailure(sheet), "");
    EXPECT_EQ(probe(locked, odfCode).typeId, "ODT/ODS/ODP/OTT");
    EXPECT_NE(ZipArchive::archiverFailure(locked).find("7za could not be started"), std::string::npos);
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
