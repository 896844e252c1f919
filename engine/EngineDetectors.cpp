#include "engine/EngineDetectors.h"

// Only the modern qpdf interface is used (no PointerHolder).
#define POINTERHOLDER_TRANSITION 4
#include <fcntl.h>
#include <qpdf/Constants.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <exception>
#include <qpdf/QPDF.hh>
#include <qpdf/QPDFExc.hh>

#include "engine/ByteSignatures.h"
#include "engine/ByteUtils.h"
#include "engine/CommonUtils.h"
#include "engine/Limits.h"
#include "engine/TypeTables.h"
#include "formats/archive/ZipArchive.h"
#include "formats/media/ImageFTAUtils.h"

using kiv::ByteSource;
using kiv::ByteView;

namespace {

const unsigned char metaINF[] = {'M', 'E', 'T', 'A', '-', 'I', 'N', 'F', '/'};
const unsigned char rtfFormatChk[] = {'{', '\\', 'r', 't', 'f'};
const unsigned char msgOpenOfficeChk[] = {0x50, 0x4B, 0x03, 0x04, 0x14, 0x00, 0x00};
// What the Office suite itself writes first: a version-2.0 local header with the deflate
// "maximum compression" flags.
const unsigned char msgFormatChk2007[] = {0x50, 0x4B, 0x03, 0x04, 0x14, 0x00, 0x06, 0x00};
const unsigned char relsRels[] = {'_', 'r', 'e', 'l', 's', '/', '.', 'r', 'e', 'l', 's'};
const unsigned char xlsbSig[] = {'x', 'l', '/', 'w', 'o', 'r', 'k', 'b', 'o', 'o', 'k', '.', 'b', 'i', 'n'};
constexpr char svgTag[] = "</svg";
constexpr char rdfTagSig_1[] = "</rdf:RDF>";
constexpr char rdfTagSig_2[] = "</r:RDF>";
constexpr char rdfTagSig_3[] = "</RDF>";
constexpr char htmlTag[] = "</html>";
constexpr char fixedDocSeqStr[] = "application/vnd.ms-package.xps-fixeddocumentsequence+xml";
constexpr char fixedDoc[] = "application/vnd.ms-package.xps-fixeddocument+xml";
// Document namespaces of XPS 1.0 and of OpenXPS, without the scheme; the fixed-document
// sequence names one of them, in UTF-8 or UTF-16LE.
constexpr char xpsStr[] = "schemas.microsoft.com/xps";
constexpr char oxpsStr[] = "schemas.openxps.org/oxps";
constexpr char kPdfMarker[] = "%PDF-";
constexpr char kAiMarker[] = "/AIMetaData";
constexpr char kWrongPassword[] = "ERROR: Wrong password";
// An encryption header lets a wrong password through its one check byte once in 256 headers;
// 7za then fails on the data instead: "ERROR: CRC Failed in encrypted file. Wrong password?"
// (or "Data Error").
constexpr char kUndecryptable[] = " in encrypted file. Wrong password?";

// The UDIF trailer ("koly" block) fills the last 512 bytes of an Apple disk image.
constexpr size_t kDmgTrailerBytes = 512;
constexpr size_t kMediaHeaderBytes = 12;
constexpr uint32_t kTnefSignature = 0x223E9F78;
constexpr uint32_t kTnefVersionAttribute = 0x00089006;
constexpr uint32_t kTnefVersion = 0x00010000;

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
    return !needle.empty() && hay.size() >= needle.size() &&
           memmem(hay.data(), hay.size(), needle.data(), needle.size()) != nullptr;
}

template <size_t N>
bool viewContains(const ByteView& v, const char (&needle)[N]) {
    return v.find(needle, N - 1) != ByteView::npos;
}

bool isMember(const ByteSource& src, const void* name, size_t length) {
    if (length == 0 || length > UINT16_MAX) return false;
    return ZipArchive::checkFileNameExistInZip(src, src.size(), static_cast<const char*>(name),
                                               static_cast<uint16_t>(length));
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

// The result rows of the code tables below; the description is the type id's entry.
struct CodeRow {
    uint8_t code;
    const char* typeId;
    const char* mime;
    const char* extensions;
};

template <size_t N>
const CodeRow& rowFor(const CodeRow (&rows)[N], uint8_t code) {
    for (size_t i = 0; i + 1 < N; ++i) {
        if (rows[i].code == code) return rows[i];
    }
    return rows[N - 1];  // the last row answers every other code
}

void writeRow(const CodeRow& row, std::string& typeId, std::string& mime, std::string& extensions,
              std::string& description) {
    typeId = row.typeId;
    mime = row.mime;
    extensions = row.extensions;
    description = FileTypeDescription.at(typeId);
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

constexpr CodeRow kOdfRows[] = {
    {2, "ODT", kOdtMime, "odt"},
    {3, "OTT", kOttMime, "ott"},
    {4, "ODP", kOdpMime, "odp"},
    {5, "ODS", kOdsMime, "ods"},
    {6, "ODT-ENCRYPTED", kOdtMime, "odt"},
    {7, "OTT-ENCRYPTED", kOttMime, "ott"},
    {8, "ODP-ENCRYPTED", kOdpMime, "odp"},
    {9, "ODS-ENCRYPTED", kOdsMime, "ods"},
    {kOdfZipEncrypted, "ZIP-ENCRYPTED", "application/zip", "zip,zipx"},
    {0, "ODT/ODS/ODP/OTT", "application/vnd.oasis.opendocument", "odt,ods,odp,ott"},
};

constexpr CodeRow kImageRows[] = {
    {2, "BMP", "image/bmp", "bmp"},
    {3, "EMF", "image/x-emf", "emf"},
    {6, "PNG", "image/png", "png"},
    {7, "PNS", "image/png", "pns"},
    {8, "TIFF", "image/tiff", "tif,tiff"},
    {9, "JPG", "image/jpeg", "jpg"},
    {0, "data", "application/octet-stream", ""},
};

constexpr CodeRow kSubtitleRows[] = {
    {1, "PAC", "application/octet-stream", "pac"},
    {2, "890", "application/octet-stream", "890"},
    {0, "data", "application/octet-stream", ""},
};

struct BrandRow {
    const char* brand;  // four bytes
    MediaContainerFileType code;
};

constexpr BrandRow kBrands[] = {
    {"3g2a", MEDIA_CONTAINER_3G2},  {"3g2b", MEDIA_CONTAINER_3G2},  {"3g2c", MEDIA_CONTAINER_3G2},
    {"qt  ", MEDIA_CONTAINER_MOV},  {"M4V ", MEDIA_CONTAINER_M4V},  {"M4VP", MEDIA_CONTAINER_M4V},
    {"M4VH", MEDIA_CONTAINER_M4V},  {"M4A ", MEDIA_CONTAINER_M4A},  {"M4A\0", MEDIA_CONTAINER_M4A},
    {"M4B ", MEDIA_CONTAINER_M4B},  {"M4B\0", MEDIA_CONTAINER_M4B}, {"M4P ", MEDIA_CONTAINER_M4P},
    {"M4P\0", MEDIA_CONTAINER_M4P}, {"avc1", MEDIA_CONTAINER_MP4},  {"iso2", MEDIA_CONTAINER_MP4},
    {"isom", MEDIA_CONTAINER_MP4},  {"mmp4", MEDIA_CONTAINER_MP4},  {"mp41", MEDIA_CONTAINER_MP4},
    {"mp42", MEDIA_CONTAINER_MP4},  {"mp71", MEDIA_CONTAINER_MP4},  {"msnv", MEDIA_CONTAINER_MP4},
    {"ndas", MEDIA_CONTAINER_MP4},  {"ndsc", MEDIA_CONTAINER_MP4},  {"ndsh", MEDIA_CONTAINER_MP4},
    {"ndsm", MEDIA_CONTAINER_MP4},  {"ndsp", MEDIA_CONTAINER_MP4},  {"ndss", MEDIA_CONTAINER_MP4},
    {"ndxc", MEDIA_CONTAINER_MP4},  {"ndxh", MEDIA_CONTAINER_MP4},  {"ndxm", MEDIA_CONTAINER_MP4},
    {"ndxp", MEDIA_CONTAINER_MP4},  {"ndxs", MEDIA_CONTAINER_MP4},
};

// 3GPP brands: 3GP release 1 to 7 and the extended, general, streaming-server and
// progressive-download profiles, plus the KDDI brand.
constexpr const char* k3gpBrands[] = {"3ge6", "3ge7", "3gg6", "3gp1", "3gp2", "3gp3", "3gp4", "3gp5",
                                      "3gp6", "3gp7", "3gr6", "3gr7", "3gs6", "3gs7", "kddi"};

}  // namespace

// ---- byte access ----

bool readArbitraryBytesOfFile(const ByteSource& src, size_t n, unsigned char* buffer, int fromStart) {
    const size_t want = static_cast<size_t>(std::min<uint64_t>(n, src.size()));
    const uint64_t off = fromStart ? 0 : src.size() - want;
    return src.readAt(off, buffer, want) == want;
}

int checkBytesMatch(const ByteSource& src, const unsigned char* pattern, unsigned int length, unsigned int offset) {
    if (pattern == nullptr || length == 0) return 0;
    uint64_t end;
    if (!kiv::checkedAdd(offset, length, end) || end > src.size()) return 0;
    std::vector<uint8_t> bytes = src.read(offset, length);
    return bytes.size() == length && std::memcmp(bytes.data(), pattern, length) == 0 ? 1 : 0;
}

int checkBytesMatchWithoutStaticOffset(const unsigned char* buffer, int bufferLength, const unsigned char* pattern,
                                       int patternLength) {
    if (buffer == nullptr || pattern == nullptr || patternLength <= 0 || bufferLength < patternLength) return 0;
    return memmem(buffer, static_cast<size_t>(bufferLength), pattern, static_cast<size_t>(patternLength)) != nullptr
               ? 1
               : 0;
}

namespace {
std::string hexBytes(const unsigned char* bytes, size_t count, bool lastFirst) {
    static const char kDigits[] = "0123456789abcdef";
    std::string out;
    out.reserve(count * 2);
    for (size_t i = 0; i < count; ++i) {
        const unsigned char b = bytes[lastFirst ? count - 1 - i : i];
        out += kDigits[b >> 4];
        out += kDigits[b & 0x0F];
    }
    return out;
}
}  // namespace

std::string convertHexaBytesToStringWithLittleEndian(const unsigned char* bytes, size_t count) {
    return hexBytes(bytes, count, true);
}
std::string convertHexaBytesToStringWithBigEndian(const unsigned char* bytes, size_t count) {
    return hexBytes(bytes, count, false);
}

// ---- packages ----

bool isOpenOfficeDocument(const ByteSource& src) {
    if (src.size() < sizeof msgOpenOfficeChk || !isZipLocalHeader(src)) return false;
    return isMember(src, METAINFManifestXml.data(), METAINFManifestXml.size());
}

bool isEncryptedOfficeType(const ByteSource& src, const std::string& member, const unsigned char* memberBytes,
                           uint16_t memberLength) {
    try {
        if (src.path().empty() || !isMember(src, memberBytes, memberLength)) return false;
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
    writeRow(rowFor(kOdfRows, code), typeId, mime, extensions, description);
    if (code >= 6 && code <= kOdfZipEncrypted) encrypted = true;
}

int isMSOffice2007Document(const ByteSource& src) {
    if (src.size() < sizeof msgFormatChk2007) return 0;
    if (src.head(sizeof msgFormatChk2007).startsWith(msgFormatChk2007, sizeof msgFormatChk2007)) return 1;
    if (!isZipLocalHeader(src)) return 0;
    return isMember(src, contentTypesXml.data(), contentTypesXml.size()) && isMember(src, relsRels, sizeof relsRels)
               ? 1
               : 0;
}

MsOfficeTypes classifyOfficeFileType(const ByteSource& src) {
    try {
        if (src.size() == 0) return MSOFFICE_NONE;
        const auto* ctName = reinterpret_cast<const unsigned char*>(contentTypesXml.data());
        if (isEncryptedOfficeType(src, contentTypesXml, ctName, static_cast<uint16_t>(contentTypesXml.size())))
            return MSOFFICE_ZIP_ENCRYPTED;
        const MsOfficeTypes code = MSOffice2007::checkOfficeType(src);
        if (code != MSOFFICE_NONE) return code;
        if (isMember(src, xlsbSig, sizeof xlsbSig)) return MSOFFICE_XLSB;
        if (isMember(src, contentTypesXml.data(), contentTypesXml.size())) return determineXPSFamilyType(src);
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

// ---- PDF ----

namespace {

constexpr char kEncryptName[] = "Encrypt";
constexpr char kEofMarker[] = "%%EOF";

// Occurrences of needle in buf at or after the absolute offset next (buf starts at base), up
// to cap + 1 in all; next moves past each one counted.
void countIn(const uint8_t* buf, size_t got, uint64_t base, const char* needle, size_t n, uint64_t cap, uint64_t& next,
             uint64_t& count) {
    while (count <= cap && next < base + got) {
        const size_t from = static_cast<size_t>(next > base ? next - base : 0);
        const void* p = memmem(buf + from, got - from, needle, n);
        if (p == nullptr) return;
        ++count;
        next = base + static_cast<uint64_t>(static_cast<const uint8_t*>(p) - buf) + n;
    }
}

// The classifier and the password test both look through the whole file, the first for the
// Illustrator marker, the second (for a damaged file) for an encryption dictionary and for
// how many "%%EOF" markers its repair would meet. One walk answers all three, once per scan.
const ByteSource::PdfFacts& pdfFacts(const ByteSource& src) {
    std::optional<ByteSource::PdfFacts>& memo = src.memo().pdf;
    if (memo) return *memo;
    ByteSource::PdfFacts facts;
    const uint64_t cap = kiv::limits::kPdfRepairMaxEofMarkers;
    // Windows overlap by the longest needle less one byte, so a marker on an edge is seen.
    constexpr size_t kOverlap = sizeof kAiMarker - 2;
    std::vector<uint8_t> buf(static_cast<size_t>(std::min<uint64_t>(kiv::limits::kFindChunk, src.size())));
    uint64_t nextEof = 0;
    for (uint64_t pos = 0; pos < src.size();) {
        if (facts.aiMarker && facts.encryptName && facts.eofMarkers > cap) break;
        const size_t want = static_cast<size_t>(std::min<uint64_t>(buf.size(), src.size() - pos));
        const size_t got = src.readAt(pos, buf.data(), want);
        if (!facts.aiMarker) facts.aiMarker = memmem(buf.data(), got, kAiMarker, sizeof kAiMarker - 1) != nullptr;
        if (!facts.encryptName)
            facts.encryptName = memmem(buf.data(), got, kEncryptName, sizeof kEncryptName - 1) != nullptr;
        countIn(buf.data(), got, pos, kEofMarker, sizeof kEofMarker - 1, cap, nextEof, facts.eofMarkers);
        if (got < want || pos + got >= src.size()) break;
        pos += got - kOverlap;
    }
    memo = facts;
    return *memo;
}

}  // namespace

int classifyPDFType(const ByteSource& src) {
    if (src.size() < 8) return 0;
    // EMF records may carry embedded PDF text.
    if (ImageFTAUtils::isEMF(src) != IMAGE_NONE) return 0;
    const ByteView head = src.head(kiv::limits::kPdfHeaderWindow);
    if (head.size < 8) return 0;
    // The marker must leave room for "%PDF-d.d" inside the window.
    const ByteView searchable{head.data, head.size - 3};
    const size_t at = searchable.find(kPdfMarker, sizeof kPdfMarker - 1);
    if (at == ByteView::npos) return 0;
    // "%PDF-" digit, any character but a line end or NUL, digit: the version as "1.7", read
    // loosely in the middle.
    const uint8_t* v = head.at(at);
    const bool versioned =
        kiv::isAsciiDigit(v[5]) && v[6] != '\n' && v[6] != '\r' && v[6] != '\0' && kiv::isAsciiDigit(v[7]);
    if (!versioned) return 0;
    // Illustrator keeps its private data in a PDF and marks it "/AIMetaData" anywhere in the file.
    return pdfFacts(src).aiMarker ? 2 : 1;
}

namespace {

enum class PdfOpen { Opened, Protected, Damaged };

// Opens the PDF with qpdf. Without repair, a file whose cross-reference data is broken fails
// with a non-password error and is reported as damaged.
PdfOpen openPdf(const ByteSource& src, bool repair) {
    try {
        QPDF pdf;
        // qpdf reports damage on std::cerr; the engine writes nothing.
        pdf.setSuppressWarnings(true);
        pdf.setAttemptRecovery(repair);
        if (src.descriptor() >= 0) {
            // The file the scan opened, never the name again: a name swapped for a FIFO would
            // block qpdf's own open. The stream has its own descriptor and qpdf closes it.
            const int fd = ::fcntl(src.descriptor(), F_DUPFD_CLOEXEC, 0);
            if (fd < 0) return PdfOpen::Damaged;
            FILE* stream = ::fdopen(fd, "rb");
            if (stream == nullptr) {
                ::close(fd);
                return PdfOpen::Damaged;
            }
            pdf.processFile(src.path().c_str(), stream, true);
        } else {
            std::vector<uint8_t> bytes = src.read(0, static_cast<size_t>(src.size()));
            pdf.processMemoryFile("memory", reinterpret_cast<const char*>(bytes.data()), bytes.size());
        }
        // Opened without a password (also when only an owner password is set).
        return PdfOpen::Opened;
    } catch (const QPDFExc& e) {
        return e.getErrorCode() == qpdf_e_password ? PdfOpen::Protected : PdfOpen::Damaged;
    } catch (...) {
        return PdfOpen::Damaged;
    }
}

}  // namespace

bool isPDFPasswordProtection(const ByteSource& src) {
    PdfOpen first = openPdf(src, false);
    if (first != PdfOpen::Damaged) return first == PdfOpen::Protected;
    // A damaged file needs qpdf's repair, whose cost grows with the square of the "%%EOF"
    // markers. Only a file that names an encryption dictionary can be protected, and real
    // files carry a handful of markers, so repair runs only then.
    const ByteSource::PdfFacts& facts = pdfFacts(src);
    if (!facts.encryptName || facts.eofMarkers > kiv::limits::kPdfRepairMaxEofMarkers) return false;
    return openPdf(src, true) == PdfOpen::Protected;
}

// ---- single-type probes ----

bool isRTF(const ByteSource& src) {
    return src.size() >= sizeof rtfFormatChk && checkBytesMatch(src, rtfFormatChk, sizeof rtfFormatChk, 0) == 1;
}

bool isTNEF(const ByteSource& src) {
    if (src.size() < 40) return false;
    const ByteView h = src.head(40);
    // Signature, then the first attribute: level byte at 6, the TNEF-version attribute id at 7,
    // its 4-byte length at 11 and the version value at 15.
    return kiv::le32(h.data, h.size, 0) == kTnefSignature && kiv::le32(h.data, h.size, 7) == kTnefVersionAttribute &&
           kiv::le32(h.data, h.size, 15) == kTnefVersion;
}

bool isATR(const ByteSource& src) {
    if (src.size() <= 3) return false;
    const ByteView h = src.head(4);
    if (h.size < 4 || h.data[0] != 0x96 || h.data[1] != 0x02) return false;
    // The header counts the image in 16-byte paragraphs; the 16-byte header itself adds one.
    const uint64_t paragraphs = *kiv::le16(h.data, h.size, 2);
    return (paragraphs + 1) * 16 == src.size();
}

bool isJAR(const ByteSource& src) {
    const ByteView h = src.head(kiv::limits::kJarHeaderWindow);
    return checkBytesMatchWithoutStaticOffset(h.data, static_cast<int>(h.size), metaINF, sizeof metaINF) == 1;
}

bool isDMG(const ByteSource& src) {
    if (src.size() < kDmgTrailerBytes) return false;
    const ByteView t = src.tail(kDmgTrailerBytes);
    static const unsigned char kVersion[] = {0x00, 0x00, 0x02, 0x00};
    return t.size == kDmgTrailerBytes && t.startsWith("koly", 4) && t.startsWithAt(8, kVersion, sizeof kVersion);
}

bool isISO(const ByteSource& src) {
    for (const FileSignature& row : isoSignatures) {
        if (checkBytesMatch(src, row.bytes.data(), static_cast<unsigned>(row.bytes.size()), row.offset) == 1)
            return true;
    }
    return false;
}

int detemineSVGorRDForHTML(const ByteSource& src) {
    const ByteView t = src.tail(kiv::limits::kClosingTagWindow);
    if (viewContains(t, svgTag)) return 1;
    if (viewContains(t, rdfTagSig_1) || viewContains(t, rdfTagSig_2) || viewContains(t, rdfTagSig_3)) return 2;
    if (viewContains(t, htmlTag)) return 3;
    return 0;
}

MediaContainerFileType determineMediaContainerType(const ByteSource& src) {
    const ByteView h = src.head(kMediaHeaderBytes);
    if (h.size < kMediaHeaderBytes) return MEDIA_CONTAINER_NONE;
    // MPEG program and video streams: start codes 00 00 01 B0 to BF.
    if ((*kiv::le32(h.data, h.size, 0) & 0xF0FFFFFFu) == 0xB0010000u) return MEDIA_CONTAINER_MPEG;
    // Video CD tracks: RIFF with form type CDXA.
    if (h.startsWith("RIFF", 4) && h.startsWithAt(8, "CDXA", 4)) return MEDIA_CONTAINER_MPG;
    const uint8_t* brand = h.at(8);
    // The 3GPP row also insists on the ftyp box; the other brand rows look at bytes 8 to 11
    // alone, since libmagic has already called the file a media container when this runs.
    if (h.startsWithAt(4, "ftyp", 4)) {
        for (const char* b : k3gpBrands) {
            if (std::memcmp(brand, b, 4) == 0) return MEDIA_CONTAINER_3GP;
        }
    }
    for (const BrandRow& row : kBrands) {
        if (std::memcmp(brand, row.brand, 4) == 0) return row.code;
    }
    return MEDIA_CONTAINER_NONE;
}

bool findMagicSignatureFallback(const ByteSource& src, std::string& typeId, std::string& mime, std::string& description,
                                std::string& extensions) {
    auto it = fallBackSignatures.find("MSOFFICE");
    if (it == fallBackSignatures.end() || it->second.empty()) return false;
    const std::vector<FileSignature>& rows = it->second;
    auto matches = [&](const FileSignature& row) {
        return checkBytesMatch(src, row.bytes.data(), static_cast<unsigned>(row.bytes.size()), row.offset) == 1;
    };
    if (!matches(rows[0])) return false;
    for (size_t i = 1; i < rows.size(); ++i) {
        if (!matches(rows[i])) continue;
        typeId = rows[i].typeId;
        mime = rows[i].mime;
        description = rows[i].description;
        extensions = rows[i].extensions;
        return true;
    }
    return false;
}

// ---- results of the image and subtitle probes ----

void adjustImageTypes(uint8_t code, std::string& typeId, std::string& mime, std::string& extensions,
                      std::string& description) {
    writeRow(rowFor(kImageRows, code), typeId, mime, extensions, description);
}

void adjustSubtitleTypes(uint8_t code, std::string& typeId, std::string& mime, std::string& extensions,
                         std::string& description) {
    writeRow(rowFor(kSubtitleRows, code), typeId, mime, extensions, description);
}

// ---- the (path, size) entry points ----

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
int classifyPDFType(const std::string& path, unsigned long) { return classifyPDFType(kiv::FileByteSource(path)); }
bool isPDFPasswordProtection(const std::string& path) { return isPDFPasswordProtection(kiv::FileByteSource(path)); }
bool isRTF(const std::string& path, unsigned long) { return isRTF(kiv::FileByteSource(path)); }
bool isTNEF(const std::string& path, unsigned long) { return isTNEF(kiv::FileByteSource(path)); }
bool isATR(const std::string& path, unsigned long) { return isATR(kiv::FileByteSource(path)); }
bool isJAR(const std::string& path, unsigned long) { return isJAR(kiv::FileByteSource(path)); }
bool isDMG(const std::string& path, unsigned long) { return isDMG(kiv::FileByteSource(path)); }
bool isISO(const std::string& path) { return isISO(kiv::FileByteSource(path)); }
int detemineSVGorRDForHTML(const std::string& path, unsigned long) {
    return detemineSVGorRDForHTML(kiv::FileByteSource(path));
}
MediaContainerFileType determineMediaContainerType(const std::string& path) {
    return determineMediaContainerType(kiv::FileByteSource(path));
}
bool findMagicSignatureFallback(const std::string& path, unsigned long, std::string& typeId, std::string& mime,
                                std::string& description, std::string& extensions) {
    return findMagicSignatureFallback(kiv::FileByteSource(path), typeId, mime, description, extensions);
}
