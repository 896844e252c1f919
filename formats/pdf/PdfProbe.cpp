#include "formats/pdf/PdfProbe.h"

// Only the modern qpdf interface is used (no PointerHolder).
#define POINTERHOLDER_TRANSITION 4
#include <fcntl.h>
#include <qpdf/Constants.h>
#include <unistd.h>

#include <optional>
#include <qpdf/QPDF.hh>
#include <qpdf/QPDFExc.hh>
#include <vector>

#include "core/ByteUtils.h"
#include "core/Limits.h"
#include "formats/media/ImageFTAUtils.h"

using kiv::ByteSource;
using kiv::ByteView;

namespace {

constexpr char kPdfMarker[] = "%PDF-";
constexpr char kAiMarker[] = "/AIMetaData";

constexpr char kEncryptName[] = "Encrypt";
constexpr char kEofMarker[] = "%%EOF";

// Occurrences of needle in buf at or after the absolute offset next (buf starts at base), up
// to cap + 1 in all; next moves past each one counted.
void countIn(const uint8_t* buf, size_t got, uint64_t base, const char* needle, size_t n, uint64_t cap, uint64_t& next,
             uint64_t& count) {
    while (count <= cap && next < base + got) {
        const size_t from = static_cast<size_t>(next > base ? next - base : 0);
        const size_t k = kiv::findBytes(buf + from, got - from, needle, n);
        if (k == SIZE_MAX) return;
        ++count;
        next = base + from + k + n;
    }
}

// What one walk over the whole file tells the PDF detectors: the Illustrator marker, an
// encryption dictionary's name and the "%%EOF" markers (counted up to one past the cap).
struct PdfFacts {
    bool aiMarker = false;
    bool encryptName = false;
    uint64_t eofMarkers = 0;
};
const kiv::MemoKey<std::optional<PdfFacts>> kPdfFacts;

// The classifier and the password test both look through the whole file, the first for the
// Illustrator marker, the second (for a damaged file) for an encryption dictionary and for
// how many "%%EOF" markers its repair would meet. One walk answers all three, once per scan.
const PdfFacts& pdfFacts(const ByteSource& src) {
    std::optional<PdfFacts>& memo = src.memo().get(kPdfFacts);
    if (memo) return *memo;
    PdfFacts facts;
    const uint64_t cap = kiv::limits::kPdfRepairMaxEofMarkers;
    uint64_t nextEof = 0;
    kiv::WindowReader in(src);
    // Windows overlap by the longest needle less one byte, so a marker on an edge is seen.
    in.walk(0, src.size(), sizeof kAiMarker - 2, kiv::WindowReader::npos, [&](const uint8_t* p, size_t n, uint64_t at) {
        if (!facts.aiMarker) facts.aiMarker = kiv::findBytes(p, n, kAiMarker, sizeof kAiMarker - 1) != SIZE_MAX;
        if (!facts.encryptName)
            facts.encryptName = kiv::findBytes(p, n, kEncryptName, sizeof kEncryptName - 1) != SIZE_MAX;
        countIn(p, n, at, kEofMarker, sizeof kEofMarker - 1, cap, nextEof, facts.eofMarkers);
        return !(facts.aiMarker && facts.encryptName && facts.eofMarkers > cap);
    });
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
    const PdfFacts& facts = pdfFacts(src);
    if (!facts.encryptName || facts.eofMarkers > kiv::limits::kPdfRepairMaxEofMarkers) return false;
    return openPdf(src, true) == PdfOpen::Protected;
}

int classifyPDFType(const std::string& path, unsigned long) { return classifyPDFType(kiv::FileByteSource(path)); }
bool isPDFPasswordProtection(const std::string& path) { return isPDFPasswordProtection(kiv::FileByteSource(path)); }
