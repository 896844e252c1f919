#include "formats/text/CalendarReader.h"

#include <algorithm>

#include "core/ByteSource.h"
#include "core/ByteUtils.h"
#include "core/Limits.h"
#include "formats/text/LineReader.h"

namespace {

// The first line must name the calendar within this many bytes.
constexpr size_t kHeaderProbe = 2048;

constexpr bool isBlank(unsigned char c) { return c == ' ' || c == '\t'; }

// Bytes that start and end tokens: one look-up per byte of every content line.
enum LineByte : uint8_t {
    kTokenStart = 1,  // letters and digits
    kTokenEnd = 2,    // blanks, ':', ';', CR and LF
};
struct LineBytes {
    uint8_t of[256];
    constexpr LineBytes() : of{} {
        for (int i = 0; i < 256; ++i) {
            const unsigned char c = static_cast<unsigned char>(i);
            if (kiv::isAsciiAlnum(c)) of[i] |= kTokenStart;
            if (isBlank(c) || c == ':' || c == ';' || c == '\r' || c == '\n') of[i] |= kTokenEnd;
        }
    }
};
constexpr LineBytes kLineBytes;

// Extension properties and components ("X-WR-CALNAME", "BEGIN:X-THING") hold "X-" in either
// case anywhere in their name.
bool isExtensionName(std::string_view name) {
    for (size_t i = 1; i < name.size(); ++i)
        if (name[i] == '-' && (name[i - 1] == 'X' || name[i - 1] == 'x')) return true;
    return false;
}

bool holdsCalendarBegin(std::string_view line) {
    return line.find("BEGIN") != std::string_view::npos && line.find("VCALENDAR") != std::string_view::npos;
}

}  // namespace

CalendarReader::CalendarReader() = default;
CalendarReader::~CalendarReader() = default;

void CalendarReader::open(const std::string& path) {
    owned_ = std::make_unique<kiv::FileByteSource>(path);
    src_ = owned_->isOpen() ? owned_.get() : nullptr;
    size_ = src_ ? src_->size() : 0;
}

void CalendarReader::open(const kiv::ByteSource& src) {
    owned_.reset();
    src_ = &src;
    size_ = src.size();
}

void CalendarReader::assignStringToObject(std::string token, iCalendarObject& obj, AssignToValue to) {
    for (char& c : token) c = kiv::asciiToUpper(static_cast<unsigned char>(c));
    switch (to) {
        case ASSIGN_NAME: obj.name = std::move(token); break;
        case ASSIGN_VALUE: obj.value = std::move(token); break;
        case ASSIGN_MARKER: obj.marker = std::move(token); break;
        case ASSIGN_PARAMETER: obj.parameters.push_back(std::move(token)); break;
    }
}

void CalendarReader::assignStringToObject(std::string line, int first, int last, iCalendarObject& obj,
                                          AssignToValue to) {
    if (first < 0 || last < first || static_cast<size_t>(first) >= line.size()) return;
    size_t n = std::min(static_cast<size_t>(last - first) + 1, line.size() - static_cast<size_t>(first));
    assignStringToObject(line.substr(static_cast<size_t>(first), n), obj, to);
}

// A token starts at a letter or digit and runs to a blank, ':', ';', CR, LF or the end of the
// line, so "=" and "/" stay inside it; a later token for name or value replaces the earlier.
// Outside a token every other byte is passed over.
CalendarReader::Record CalendarReader::tokenise(std::string_view line) {
    using kiv::equalsIgnoringAsciiCase;
    const auto& cls = kLineBytes.of;
    Record rec;
    AssignToValue target = ASSIGN_NAME;
    const char* const end = line.data() + line.size();
    for (const char* p = line.data(); p < end; ++p) {
        const unsigned char c = static_cast<unsigned char>(*p);
        if (cls[c] & kTokenStart) {
            const char* const start = p;
            while (p + 1 < end && !(cls[static_cast<unsigned char>(p[1])] & kTokenEnd)) ++p;
            const std::string_view token(start, static_cast<size_t>(p + 1 - start));
            if (target == ASSIGN_NAME)
                rec.name = token;
            else if (target == ASSIGN_VALUE)
                rec.value = token;
            // The byte that ended the token is read next.
        } else if (c == ':') {
            target = ASSIGN_VALUE;
            if (equalsIgnoringAsciiCase(rec.name, "BEGIN") || equalsIgnoringAsciiCase(rec.name, "END")) {
                rec.marker = rec.name;
                rec.name = std::string_view();
                target = ASSIGN_NAME;
            }
        } else if (c == ';') {
            target = ASSIGN_PARAMETER;
        } else if (c == '\r' || c == '\n') {
            break;
        }
    }
    return rec;
}

// Tokens count upper-cased: they are compared ignoring case, and the open components' names
// are kept as written.
bool CalendarReader::checkRecord(const Record& rec) {
    using kiv::equalsIgnoringAsciiCase;
    if (fault_) return false;
    if (rec.marker.empty()) {
        // A property: nothing opens or closes.
    } else if (equalsIgnoringAsciiCase(rec.marker, "BEGIN")) {
        if (equalsIgnoringAsciiCase(rec.name, "VEVENT")) inEvent_ = true;
        if (openStarts_.size() >= kiv::limits::kCalendarMaxDepth ||
            openBytes_ + rec.name.size() > kiv::limits::kCalendarMaxStackBytes) {
            fault_ = true;
            tooDeep_ = true;
            return false;
        }
        if (openBytes_ + rec.name.size() > openNames_.size())
            openNames_.resize(std::max(2 * openNames_.size(), openBytes_ + rec.name.size()));
        openStarts_.push_back(openBytes_);
        for (char c : rec.name) openNames_[openBytes_++] = c;
    } else if (equalsIgnoringAsciiCase(rec.marker, "END")) {
        if (equalsIgnoringAsciiCase(rec.name, "VEVENT")) {
            if (!eventHasUid_) fault_ = true;
            inEvent_ = false;
            eventHasUid_ = false;
        }
        if (fault_ || openStarts_.empty() ||
            !equalsIgnoringAsciiCase(rec.name, std::string_view(openNames_.data() + openStarts_.back(),
                                                                openBytes_ - openStarts_.back()))) {
            fault_ = true;
            return false;
        }
        openBytes_ = openStarts_.back();
        openStarts_.pop_back();
    }
    if (inEvent_ && equalsIgnoringAsciiCase(rec.name, "UID")) {
        if (eventHasUid_) fault_ = true;
        eventHasUid_ = true;
    }
    if (equalsIgnoringAsciiCase(rec.name, "VERSION")) {
        if (versionSeen_) fault_ = true;
        versionSeen_ = true;
        version_.assign(rec.value.data(), rec.value.size());
    }
    if (equalsIgnoringAsciiCase(rec.name, "PRODID")) {
        if (prodIdSeen_) fault_ = true;
        prodIdSeen_ = true;
    }
    return !fault_;
}

bool CalendarReader::parseCalObj() {
    if (src_ == nullptr) return false;

    // The header test looks for the first line feed in the first 2048 bytes, zero-filled.
    std::string head(kHeaderProbe, '\0');
    src_->readAt(0, head.data(), static_cast<size_t>(std::min<uint64_t>(kHeaderProbe, size_)));
    size_t lf = head.find('\n');
    if (lf == std::string::npos || !holdsCalendarBegin(std::string_view(head).substr(0, lf))) return false;

    kiv::text::LineReader lines(*src_);
    bool firstLinePending = true;
    std::string_view line;
    while (!lines.atEnd()) {
        auto status = lines.readLineView(line, kiv::limits::kCalendarMaxLine);
        if (status == kiv::text::LineReader::Status::TooLong || status == kiv::text::LineReader::Status::Error)
            return false;
        if (firstLinePending && !holdsCalendarBegin(line)) return false;
        // Folded continuation lines start with a blank; they are not read.
        if (!line.empty() && isBlank(static_cast<unsigned char>(line[0]))) continue;

        const Record rec = tokenise(line);
        // Extensions are ignored.
        if (!rec.name.empty() && !isExtensionName(rec.name)) {
            // After the first fault the answer is TEXT_NONE whatever follows; a nesting too
            // deep to follow is not a calendar at all.
            if (!checkRecord(rec)) return !tooDeep_;
        }
        firstLinePending = false;
    }
    return true;
}

TextBasedType CalendarReader::checkDocumentType() {
    if (fault_ || !versionSeen_ || !prodIdSeen_ || !openStarts_.empty()) return TEXT_NONE;
    return version_ == "2.0" ? TEXT_ICS : TEXT_VCS;
}
