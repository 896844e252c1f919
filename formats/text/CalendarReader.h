// Tells iCalendar 2.0 objects from older vCalendar ones. The reader does not interpret
// calendar data: it tokenises each content line into marker, name, value and parameters and
// checks the nesting of components and the count of a few mandatory properties.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "formats/text/TextBasedType.h"

namespace kiv {
class ByteSource;
class FileByteSource;
}  // namespace kiv

// One content line: "BEGIN:VEVENT" gives marker "BEGIN" and name "VEVENT";
// "DTSTART;TZID=Europe/Berlin:20200101T100000" gives name "DTSTART", parameter
// "TZID=EUROPE/BERLIN" and value "20200101T100000". Everything is upper case.
struct iCalendarObject {
    std::string marker;
    std::string name;
    std::string value;
    std::vector<std::string> parameters;
};

class CalendarReader {
public:
    // The field that the next token goes to.
    enum AssignToValue { ASSIGN_NAME = 0, ASSIGN_VALUE = 1, ASSIGN_MARKER = 2, ASSIGN_PARAMETER = 3 };

    CalendarReader();
    ~CalendarReader();
    CalendarReader(const CalendarReader&) = delete;
    CalendarReader& operator=(const CalendarReader&) = delete;

    // A file that cannot be opened makes parseCalObj answer false.
    void open(const std::string& path);
    // Reads from src, which must outlive the reader.
    void open(const kiv::ByteSource& src);

    // True when the text looks like a calendar and was read to its end (or to its first
    // structural fault, which checkDocumentType then reports).
    bool parseCalObj();
    // TEXT_ICS for a well-formed calendar of version "2.0", TEXT_VCS for any other version,
    // TEXT_NONE for a structural fault or a missing VERSION or PRODID.
    TextBasedType checkDocumentType();

    // Upper-cases token and stores it: name and value are replaced, parameters appended.
    static void assignStringToObject(std::string token, iCalendarObject& obj, AssignToValue to);
    // Takes the bytes first to last (inclusive) of line as the token.
    static void assignStringToObject(std::string line, int first, int last, iCalendarObject& obj, AssignToValue to);

private:
    // What the structural check reads of one content line (it never reads the parameters),
    // as views into the line, case as written.
    struct Record {
        std::string_view marker, name, value;
    };
    static Record tokenise(std::string_view line);
    // Applies one kept record to the structural check; false once a fault is seen.
    bool checkRecord(const Record& rec);

    std::unique_ptr<kiv::FileByteSource> owned_;
    const kiv::ByteSource* src_ = nullptr;
    uint64_t size_ = 0;

    // Structural state: the names of open components, one after another in the first
    // openBytes_ bytes of openNames_, with where each begins, and the flags of the check. A line
    // costs no allocation (and no library call) of its own.
    std::vector<char> openNames_;
    size_t openBytes_ = 0;
    std::vector<size_t> openStarts_;
    bool fault_ = false;
    bool tooDeep_ = false;
    bool inEvent_ = false;
    bool eventHasUid_ = false;
    bool versionSeen_ = false;
    bool prodIdSeen_ = false;
    std::string version_;
};
