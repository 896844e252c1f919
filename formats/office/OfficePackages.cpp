#include "formats/office/OfficePackages.h"

#include <sys/wait.h>

#include <vector>

#include "core/ResultRow.h"
#include "core/TypeTables.h"
#include "formats/archive/ZipArchive.h"

using kiv::ByteSource;

namespace {

// Members and content types the probes look for.
const unsigned char msgOpenOfficeChk[] = {0x50, 0x4B, 0x03, 0x04, 0x14, 0x00, 0x00};
// What the Office suite itself writes first: a version-2.0 local header with the deflate
// "maximum compression" flags.
const unsigned char msgFormatChk2007[] = {0x50, 0x4B, 0x03, 0x04, 0x14, 0x00, 0x06, 0x00};
const unsigned char relsRels[] = {'_', 'r', 'e', 'l', 's', '/', '.', 'r', 'e', 'l', 's'};
const unsigned char xlsbSig[] = {'x', 'l', '/', 'w', 'o', 'r', 'k', 'b', 'o', 'o', 'k', '.', 'b', 'i', 'n'};
constexpr char fixedDocSeqStr[] = "application/vnd.ms-package.xps-fixeddocumentsequence+xml";
constexpr char fixedDoc[] = "application/vnd.ms-package.xps-fixeddocument+xml";
// Document namespaces of XPS 1.0 and of OpenXPS, without the scheme; the fixed-document
// sequence names one of them, in UTF-8 or UTF-16LE.
constexpr char xpsStr[] = "schemas.microsoft.com/xps";
constexpr char oxpsStr[] = "schemas.openxps.org/oxps";
constexpr char kWrongPassword[] = "ERROR: Wrong password";
// An encryption header lets a wrong password through its one check byte once in 256 headers;
// 7za then fails on the data instead: "ERROR: CRC Failed in encrypted file. Wrong password?"
// (or "Data Error").
constexpr char kUndecryptable[] = " in encrypted file. Wrong password?";

template <size_t N>
std::string utf16le(const char (&ascii)[N]) {
    std::string out;
    for (size_t i = 0; i + 1 < N; ++i) {
        out += ascii[i];
        out += '\0';
    }
    return out;
}

bool contains(const std::vector<char>& hay, const std::string& needle) {
    return !needle.empty() && kiv::findBytes(hay.data(), hay.size(), needle.data(), needle.size()) != SIZE_MAX;
}

bool isZipLocalHeader(const ByteSource& src) { return src.head(4).startsWith(msgOpenOfficeChk, 4); }

// 7za run on one member, as ZipArchive runs it, keeping the exit status: its password errors
// count only when 7za also failed, since a member's own bytes arrive in the same stream and
// may carry that text.
bool archiverWantsPassword(const ByteSource& src, const std::string& member) {
    std::vector<char> out;
    int status = -1;
    ZipArchive::run7zMember(src, member, out, &status);
    const bool failed = status == -1 || !WIFEXITED(status) || WEXITSTATUS(status) != 0;
    return failed && (contains(out, kWrongPassword) || contains(out, kUndecryptable));
}

constexpr const char* kOdtMime = "application/vnd.oasis.opendocument.text";
constexpr const char* kOttMime = "application/vnd.oasis.opendocument.text-template";
constexpr const char* kOdpMime = "application/vnd.oasis.opendocument.presentation";
constexpr const char* kOdsMime = "application/vnd.oasis.opendocument.spreadsheet";

constexpr uint8_t kOdfZipEncrypted = 10;
constexpr uint8_t kOdfEncryptedOffset = 4;

// Manifest media types in test order: the presentation first, and the text template before
// the text, whose name is its prefix.
struct OdfManifestRow {
    const char* mediaType;
    uint8_t code;
};
constexpr OdfManifestRow kOdfManifestTypes[] = {{kOdpMime, 4}, {kOttMime, 3}, {kOdtMime, 2}, {kOdsMime, 5}};

constexpr kiv::ResultRow<uint8_t> kOdfRows[] = {
    {2, "ODT", kOdtMime, "odt"},
    {3, "OTT", kOttMime, "ott"},
    {4, "ODP", kOdpMime, "odp"},
    {5, "ODS", kOdsMime, "ods"},
    {6, "ODT-ENCRYPTED", kOdtMime, "odt"},
    {7, "OTT-ENCRYPTED", kOttMime, "ott"},
    {8, "ODP-ENCRYPTED", kOdpMime, "odp"},
    {9, "ODS-ENCRYPTED", kOdsMime, "ods"},
    {kOdfZipEncrypted, "ZIP-ENCRYPTED", "application/zip", "zip,zipx"},
};
// Every other code: an OpenDocument package of no kind the manifest named.
constexpr kiv::ResultRow<uint8_t> kOdfAnyRow = {0, "ODT/ODS/ODP/OTT", "application/vnd.oasis.opendocument",
                                                "odt,ods,odp,ott"};

}  // namespace

bool isOpenOfficeDocument(const ByteSource& src) {
    if (src.size() < sizeof msgOpenOfficeChk || !isZipLocalHeader(src)) return false;
    return ZipArchive::isMember(src, METAINFManifestXml);
}

bool isEncryptedOfficeType(const ByteSource& src, const std::string& member, const unsigned char* memberBytes,
                           uint16_t memberLength) {
    try {
        if (src.path().empty() || !ZipArchive::isMember(src, memberBytes, memberLength)) return false;
        return archiverWantsPassword(src, member);
    } catch (...) {
        return false;
    }
}

uint8_t determineOpenOfficeDocument(const ByteSource& src) {
    const auto* manifestName = reinterpret_cast<const unsigned char*>(METAINFManifestXml.data());
    if (isEncryptedOfficeType(src, METAINFManifestXml, manifestName, static_cast<uint16_t>(METAINFManifestXml.size())))
        return kOdfZipEncrypted;
    std::string manifest;
    ZipArchive::readFilesInsideArchiveWith7z(src, METAINFManifestXml, manifest);
    // An unreadable manifest leaves the text empty, so nothing below is found.
    const uint8_t encrypted = manifest.find("encryption-data") != std::string::npos ? kOdfEncryptedOffset : 0;
    for (const OdfManifestRow& row : kOdfManifestTypes) {
        if (manifest.find(row.mediaType) != std::string::npos) return static_cast<uint8_t>(row.code + encrypted);
    }
    return 0;
}

void adjustOpenDocumentTypes(uint8_t code, std::string& typeId, std::string& mime, std::string& extensions,
                             std::string& description, bool& encrypted) {
    kiv::writeRow(kiv::rowFor(kOdfRows, code, kOdfAnyRow), typeId, mime, extensions, description);
    if (code >= 6 && code <= kOdfZipEncrypted) encrypted = true;
}

int isMSOffice2007Document(const ByteSource& src) {
    if (src.size() < sizeof msgFormatChk2007) return 0;
    if (src.head(sizeof msgFormatChk2007).startsWith(msgFormatChk2007, sizeof msgFormatChk2007)) return 1;
    if (!isZipLocalHeader(src)) return 0;
    return ZipArchive::isMember(src, contentTypesXml) && ZipArchive::isMember(src, relsRels, sizeof relsRels) ? 1 : 0;
}

MsOfficeTypes classifyOfficeFileType(const ByteSource& src) {
    try {
        if (src.size() == 0) return MSOFFICE_NONE;
        const auto* ctName = reinterpret_cast<const unsigned char*>(contentTypesXml.data());
        if (isEncryptedOfficeType(src, contentTypesXml, ctName, static_cast<uint16_t>(contentTypesXml.size())))
            return MSOFFICE_ZIP_ENCRYPTED;
        const MsOfficeTypes code = MSOffice2007::checkOfficeType(src);
        if (code != MSOFFICE_NONE) return code;
        if (ZipArchive::isMember(src, xlsbSig, sizeof xlsbSig)) return MSOFFICE_XLSB;
        if (ZipArchive::isMember(src, contentTypesXml)) return determineXPSFamilyType(src);
        return MSOFFICE_NONE;
    } catch (...) {
        return MSOFFICE_NONE;
    }
}

MsOfficeTypes determineXPSFamilyType(const ByteSource& src) {
    if (src.path().empty()) return MSOFFICE_NONE;
    std::vector<char> contentTypes;
    ZipArchive::readFilesInsideArchiveWith7zChar(src, contentTypesXml, contentTypes);
    if (!contains(contentTypes, fixedDocSeqStr) || !contains(contentTypes, fixedDoc)) return MSOFFICE_NONE;

    // The fixed-document sequence parts name the document namespace.
    std::vector<char> sequences;
    ZipArchive::readFilesInsideArchiveWith7zChar(src, "*.fdseq", sequences);
    const bool oxps = contains(sequences, oxpsStr) || contains(sequences, utf16le(oxpsStr));
    if (oxps) return MSOFFICE_OXPS;
    const bool xps = contains(sequences, xpsStr) || contains(sequences, utf16le(xpsStr));
    return xps ? MSOFFICE_XPS : MSOFFICE_NONE;
}

bool isOpenOfficeDocument(const std::string& path, unsigned long) {
    return isOpenOfficeDocument(kiv::FileByteSource(path));
}
uint8_t determineOpenOfficeDocument(const std::string& path, unsigned long) {
    return determineOpenOfficeDocument(kiv::FileByteSource(path));
}
int isMSOffice2007Document(const std::string& path, unsigned long) {
    return isMSOffice2007Document(kiv::FileByteSource(path));
}
MsOfficeTypes classifyOfficeFileType(const std::string& path, unsigned long) {
    return classifyOfficeFileType(kiv::FileByteSource(path));
}
bool isEncryptedOfficeType(const std::string& path, const std::string& member, const unsigned char* memberBytes,
                           uint16_t memberLength, unsigned long) {
    return isEncryptedOfficeType(kiv::FileByteSource(path), member, memberBytes, memberLength);
}
MsOfficeTypes determineXPSFamilyType(const std::string& path) {
    return determineXPSFamilyType(kiv::FileByteSource(path));
}
