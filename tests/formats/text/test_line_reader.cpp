// The line reader of the calendar and mail readers: the length cap at MAX-1, MAX and MAX+1,
// with and without a line feed, lines longer than a read window, and a source that stops.
#include <gtest/gtest.h>

#include "TextTestUtil.h"
#include "formats/text/LineReader.h"

using kiv::text::LineReader;
using Status = LineReader::Status;

TEST(LineReader, MaxLenIsInclusive) {
    const size_t maxLen = 100;
    // First in a fresh reader (read through the window), and after a line (already held).
    for (const std::string& before : {std::string(), std::string("a\n")}) {
        for (const size_t length : {maxLen - 1, maxLen, maxLen + 1}) {
            for (const bool lineFeed : {true, false}) {
                const Status status = length > maxLen ? Status::TooLong : lineFeed ? Status::Line : Status::LastLine;
                const std::string line(length, 'x');
                auto src = texttest::mem(before + line + (lineFeed ? "\nb" : ""));
                LineReader lines(src);
                std::string got;
                if (!before.empty()) {
                    ASSERT_EQ(lines.readLine(got, maxLen), Status::Line);
                }
                EXPECT_EQ(lines.readLine(got, maxLen), status) << length << " " << lineFeed << " " << before;
                if (status == Status::TooLong) continue;
                EXPECT_EQ(got, line);
                EXPECT_EQ(lines.atEnd(), !lineFeed);
                EXPECT_EQ(lines.readLine(got, maxLen), lineFeed ? Status::LastLine : Status::End);
                EXPECT_TRUE(lines.atEnd());
            }
        }
    }
}

TEST(LineReader, LinesLongerThanAWindowAndSourcesThatStop) {
    // Lines of a window's size and more, from the start and across the first window's end.
    for (size_t length : {size_t(65535), size_t(65536), size_t(200000)}) {
        const std::string first(10, 'f'), longLine(length, 'l');
        auto src = texttest::mem(first + "\n" + longLine + "\r\nend");
        LineReader lines(src);
        std::string_view view;
        ASSERT_EQ(lines.readLineView(view, 1 << 20), Status::Line);
        ASSERT_EQ(lines.readLineView(view, 1 << 20), Status::Line);
        EXPECT_EQ(view, longLine + "\r") << length;
        EXPECT_EQ(lines.position(), first.size() + length + 3);
        ASSERT_EQ(lines.readLineView(view, 1 << 20), Status::LastLine);
        EXPECT_EQ(view, "end");
    }
    // The source claims more than it gives: a line it cut short is an error, not the last line.
    texttest::FailingSource failing("a\nbcd", 100);
    LineReader lines(failing);
    std::string got;
    EXPECT_EQ(lines.readLine(got, 1000), Status::Line);
    EXPECT_EQ(lines.readLine(got, 1000), Status::Error);
    EXPECT_TRUE(lines.atEnd());
}
