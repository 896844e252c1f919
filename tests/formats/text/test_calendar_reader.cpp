// Calendar reader: header test, line tokenising and the structural check.

#include <gtest/gtest.h>

#include "formats/text/CalendarReader.h"
#include "formats/text/TextBasedFTAUtils.h"
#include "TextTestUtil.h"

namespace {

struct CalCase {
    const char* what;
    std::string text;
    bool parses;
    int code;  // checkDocumentType, looked at only when the text parses
};

void PrintTo(const CalCase& c, std::ostream* os) { *os << c.what; }

std::string cal(const std::string& version, const std::string& body) {
    return "BEGIN:VCALENDAR\nVERSION:" + version + "\nPRODID:-//Example//Cal//EN\n" + body + "END:VCALENDAR\n";
}
const std::string kEvent = "BEGIN:VEVENT\nUID:1\nDTSTART;TZID=Europe/Berlin:20200101T100000\nEND:VEVENT\n";

class CalendarTable : public testing::TestWithParam<CalCase> {};

TEST_P(CalendarTable, Answer) {
    const CalCase& c = GetParam();
    auto src = texttest::mem(c.text);
    CalendarReader reader;
    reader.open(src);
    ASSERT_EQ(reader.parseCalObj(), c.parses);
    if (c.parses) {
        EXPECT_EQ(static_cast<int>(reader.checkDocumentType()), c.code);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Texts, CalendarTable,
    testing::Values(
        CalCase{"minimal 2.0", cal("2.0", kEvent), true, 13},
        CalCase{"minimal 1.0", cal("1.0", kEvent), true, 14},
        CalCase{"no components", cal("2.0", ""), true, 13},
        CalCase{"crlf lines", "BEGIN:VCALENDAR\r\nVERSION:2.0\r\nPRODID:x\r\nBEGIN:VEVENT\r\nUID:1\r\n"
                              "END:VEVENT\r\nEND:VCALENDAR\r\n",
                true, 13},
        CalCase{"no final line feed", "BEGIN:VCALENDAR\nVERSION:2.0\nPRODID:x\nEND:VCALENDAR", true, 13},
        CalCase{"byte order mark", "\xEF\xBB\xBF" + cal("2.0", kEvent), true, 13},
        CalCase{"lower-case header", "begin:vcalendar\nversion:2.0\nprodid:x\nend:vcalendar\n", false, 0},
        CalCase{"first line too long", "BEGIN:VCALENDAR" + std::string(2040, ' ') + "\nVERSION:2.0\n", false, 0},
        CalCase{"header words anywhere in the line", "x VCALENDAR y BEGIN\nVERSION:2.0\nPRODID:x\n", true, 13},
        CalCase{"event without uid", cal("2.0", "BEGIN:VEVENT\nSUMMARY:x\nEND:VEVENT\n"), true, 0},
        CalCase{"event with two uids", cal("2.0", "BEGIN:VEVENT\nUID:1\nUID:2\nEND:VEVENT\n"), true, 0},
        CalCase{"uid inside an alarm of the event",
                cal("2.0", "BEGIN:VEVENT\nBEGIN:VALARM\nUID:1\nEND:VALARM\nEND:VEVENT\n"), true, 13},
        CalCase{"uid outside events is free", cal("2.0", "UID:1\nUID:2\n"), true, 13},
        CalCase{"second version", cal("2.0", "VERSION:2.0\n"), true, 0},
        CalCase{"second prodid", cal("2.0", "PRODID:y\n"), true, 0},
        CalCase{"missing prodid", "BEGIN:VCALENDAR\nVERSION:2.0\nEND:VCALENDAR\n", true, 0},
        CalCase{"wrong end", cal("2.0", "BEGIN:VEVENT\nUID:1\nEND:VTODO\n"), true, 0},
        CalCase{"missing end", "BEGIN:VCALENDAR\nVERSION:2.0\nPRODID:x\n", true, 0},
        CalCase{"end with nothing open", cal("2.0", "") + "END:VCALENDAR\n", true, 0},
        CalCase{"extensions ignored",
                cal("2.0", "X-WR-CALNAME:Home\nBEGIN:X-THING\nSUMMARY:y\nEND:X-THING\nBEGIN:VEVENT\nUID:1\n"
                           "X-UID:2\nEND:VEVENT\n"),
                true, 13},
        CalCase{"value keeps its last word", cal("1.0 2.0", ""), true, 13},
        CalCase{"parameters do not change the value", cal("2.0", "").replace(16, 11, "VERSION;A=B:1.0"), true,
                14},
        CalCase{"folded lines are not read", cal("2.0", "DESCRIPTION:x\n VERSION:3.0\n"), true, 13},
        CalCase{"blank first line needs calendar lines after it",
                " BEGIN:VCALENDAR\n BEGIN VCALENDAR\nBEGIN:VCALENDAR\nVERSION:2.0\nPRODID:x\nEND:VCALENDAR\n", true,
                13},
        CalCase{"blank first line followed by other text", " BEGIN:VCALENDAR\nVERSION:2.0\n", false, 0},
        CalCase{"blank first line alone", " BEGIN:VCALENDAR\n", false, 0}));

TEST(CalendarReader, Tokens) {
    iCalendarObject obj;
    CalendarReader::assignStringToObject("tzid=Europe/Berlin", obj, CalendarReader::ASSIGN_PARAMETER);
    CalendarReader::assignStringToObject("dtstart", obj, CalendarReader::ASSIGN_NAME);
    CalendarReader::assignStringToObject("xx20200101T100000yy", 2, 16, obj, CalendarReader::ASSIGN_VALUE);
    CalendarReader::assignStringToObject("abc", 1, 99, obj, CalendarReader::ASSIGN_MARKER);
    CalendarReader::assignStringToObject("abc", -1, 1, obj, CalendarReader::ASSIGN_PARAMETER);
    EXPECT_EQ(obj.name, "DTSTART");
    EXPECT_EQ(obj.value, "20200101T100000");
    EXPECT_EQ(obj.marker, "BC");
    EXPECT_EQ(obj.parameters, std::vector<std::string>{"TZID=EUROPE/BERLIN"});
}

TEST(CalendarReader, BoundsOnHostileFiles) {
    // Nesting deeper than any real calendar is not followed.
    std::string deep = "BEGIN:VCALENDAR\nVERSION:2.0\nPRODID:x\n";
    for (int i = 0; i < 2000; ++i) deep += "BEGIN:VX\n";
    auto deepSrc = texttest::mem(deep);
    CalendarReader deepReader;
    deepReader.open(deepSrc);
    EXPECT_FALSE(deepReader.parseCalObj());

    // A content line of several megabytes is not a calendar line.
    auto longSrc = texttest::mem(cal("2.0", "DESCRIPTION:" + std::string(3u << 20, 'x') + "\n"));
    CalendarReader longReader;
    longReader.open(longSrc);
    EXPECT_FALSE(longReader.parseCalObj());

    // A read error part way ends the reading instead of looping.
    texttest::FailingSource failing("BEGIN:VCALENDAR\nVERSION:2.0\nPRODID:x\n", 1 << 20);
    CalendarReader failingReader;
    failingReader.open(failing);
    EXPECT_FALSE(failingReader.parseCalObj());

    CalendarReader unopened;
    unopened.open("/nonexistent/calendar.ics");
    EXPECT_FALSE(unopened.parseCalObj());
}

// Lines are read in place from the line reader's windows of 64 KiB, and put together when they
// straddle one's end: with the PRODID value one byte longer each time, the window edge falls on
// every byte of the repeated event, CR and LF included, and the answer stays.
TEST(CalendarReader, LinesAcrossReadWindows) {
    std::string events;
    while (events.size() < 150000) events += "BEGIN:VEVENT\r\nUID:1\r\nEND:VEVENT\r\n";
    for (size_t shift = 0; shift < 34; ++shift) {
        const std::string text = "BEGIN:VCALENDAR\r\nVERSION:2.0\r\nPRODID:" + std::string(1 + shift, 'p') + "\r\n" +
                                 events + "END:VCALENDAR\r\n";
        auto src = texttest::mem(text);
        CalendarReader reader;
        reader.open(src);
        ASSERT_TRUE(reader.parseCalObj()) << shift;
        EXPECT_EQ(reader.checkDocumentType(), TEXT_ICS) << shift;
    }
}

TEST(CalendarReader, ThroughTheTextStage) {
    // As calendar programs write it: CRLF, folded lines, a time zone block and an alarm.
    const std::string ics =
        "BEGIN:VCALENDAR\r\nPRODID:-//Example Corp.//Calendar 1.0//EN\r\nVERSION:2.0\r\nCALSCALE:GREGORIAN\r\n"
        "METHOD:PUBLISH\r\nX-WR-CALNAME:Team\r\nBEGIN:VTIMEZONE\r\nTZID:Europe/Berlin\r\nBEGIN:STANDARD\r\n"
        "DTSTART:19701025T030000\r\nRRULE:FREQ=YEARLY;BYMONTH=10;BYDAY=-1SU\r\nTZOFFSETFROM:+0200\r\n"
        "TZOFFSETTO:+0100\r\nEND:STANDARD\r\nEND:VTIMEZONE\r\nBEGIN:VEVENT\r\n"
        "UID:20240101T100000Z-123@example.com\r\nDTSTAMP:20240101T100000Z\r\n"
        "DTSTART;TZID=Europe/Berlin:20240102T090000\r\nSUMMARY:Planning\r\nDESCRIPTION:A long line that\r\n"
        "  continues here\r\nBEGIN:VALARM\r\nACTION:DISPLAY\r\nTRIGGER:-PT15M\r\nEND:VALARM\r\n"
        "END:VEVENT\r\nEND:VCALENDAR\r\n";
    texttest::TempDir dir;
    EXPECT_EQ(TextBasedFTAUtils::isTextBased(dir.write("team.ics", ics)), TEXT_ICS);
    const std::string vcs =
        "BEGIN:VCALENDAR\r\nVERSION:1.0\r\nPRODID:-//Example//Organizer//EN\r\nBEGIN:VEVENT\r\nUID:7\r\n"
        "DTSTART:20240102T090000\r\nSUMMARY;ENCODING=QUOTED-PRINTABLE:Caf=C3=A9\r\nEND:VEVENT\r\nEND:VCALENDAR\r\n";
    EXPECT_EQ(TextBasedFTAUtils::isTextBased(dir.write("old.vcs", vcs)), TEXT_VCS);
}

}  // namespace
