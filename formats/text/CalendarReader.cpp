#include "formats/text/CalendarReader.h"

#include <algorithm>

#include "engine/ByteSource.h"
#include "engine/ByteUtils.h"
#include "engine/Limits.h"
#include "formats/text/LineReader.h"

namespace {

// The first line must name the calendar within this many bytes.
constexpr size_t kHeaderProbe = 2048;

bool isBlank(unsigned char c) { return c == ' ' || c == '\t'; }

bool holdsCalendarBegin(const std::string& line) {
    return line.find("BEGIN") != std::string::npos && line.find("VCALENDAR") != std::string::npos;
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
iCalendarObject CalendarReader::tokenise(const std::string& line) {
    iCalendarObject obj;
    AssignToValue target = ASSIGN_NAME;
    bool open = false;
    size_t start = 0;
    auto store = [&](size_t end) {
        if (open) assignStringToObject(line.substr(start, end - start), obj, target);
        open = false;
    };
    for (size_t i = 0; i <= line.size(); ++i) {
        const unsigned char c = i < line.size() ? static_cast<unsigned char>(line[i]) : 0;
        if (i == line.size() || c == '\n' || c == '\r') {
            store(i);
            break;
        }
        if (open && isBlank(c)) {
            store(i);
            continue;
        }
        if (!open && kiv::isAsciiAlnum(c)) {
            open = true;
            start = i;
        }
        if (c == ':') {
            store(i);
            target = ASSIGN_VALUE;
            if (obj.name == "BEGIN" || obj.name == "END") {
                obj.marker = std::move(obj.name);
                obj.name.clear();
                target = ASSIGN_NAME;
            }
        }
        if (c == ';') {
            store(i);
            target = ASSIGN_PARAMETER;
        }
    }
    return obj;
}

bool CalendarReader::checkRecord(const iCalendarObject& rec) {
    if (fault_) return false;
    if (rec.marker == "BEGIN") {
        if (rec.name == "VEVENT") inEvent_ = true;
        if (open_.size() >= kiv::limits::kCalendarMaxDepth ||
            openBytes_ + rec.name.size() > kiv::limits::kCalendarMaxStackBytes) {
            fault_ = true;
            tooDeep_ = true;
            return false;
        }
        open_.push_back(rec.name);
        openBytes_ += rec.name.size();
    } else if (rec.marker == "END") {
        if (rec.name == "VEVENT") {
            if (!eventHasUid_) fault_ = true;
            inEvent_ = false;
            eventHasUid_ = false;
        }
        if (fault_ || open_.empty() || open_.back() != rec.name) {
            fault_ = true;
            return false;
        }
        openBytes_ -= open_.back().size();
        open_.pop_back();
    }
    if (inEvent_ && rec.name == "UID") {
        if (eventHasUid_) fault_ = true;
        eventHasUid_ = true;
    }
    if (rec.name == "VERSION") {
        if (versionSeen_) fault_ = true;
        versionSeen_ = true;
        version_ = rec.value;
    }
    if (rec.name == "PRODID") {
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
    if (lf == std::string::npos || !holdsCalendarBegin(head.substr(0, lf))) return false;

    kiv::text::LineReader lines(*src_);
    bool firstLinePending = true;
    std::string line;
    while (!lines.atEnd()) {
        auto status = lines.readLine(line, kiv::limits::kCalendarMaxLine);
        if (status == kiv::text::LineReader::Status::TooLong || status == kiv::text::LineReader::Status::Error)
            return false;
        if (firstLinePending && !holdsCalendarBegin(line)) return false;
        // Folded continuation lines start with a blank; they are not read.
        if (!line.empty() && isBlank(static_cast<unsigned char>(line[0]))) continue;

        iCalendarObject rec = tokenise(line);
        // Extension properties and components ("X-WR-CALNAME", "BEGIN:X-THING") are ignored.
        if (!rec.name.empty() && rec.name.find("X-") == std::string::npos) {
            // After the first fault the answer is TEXT_NONE whatever follows; a nesting too
            // deep to follow is not a calendar at all.
            if (!checkRecord(rec)) return !tooDeep_;
        }
        firstLinePending = false;
    }
    return true;
}

TextBasedType CalendarReader::checkDocumentType() {
    if (fault_ || !versionSeen_ || !prodIdSeen_ || !open_.empty()) return TEXT_NONE;
    return version_ == "2.0" ? TEXT_ICS : TEXT_VCS;
}
