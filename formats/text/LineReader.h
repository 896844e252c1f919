// Line reader over a ByteSource for the calendar and mail readers. It reads like
// std::getline on a binary stream (the line feed is dropped, a carriage return before it is
// kept, the end-of-file state is set by the read that reaches the end), but never looks at
// more than maxLen + 1 bytes of a line and reports a read error instead of looping on it.
// Lines are read through the window layer, which grows to hold a line longer than a window.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

#include "core/ByteSource.h"

namespace kiv::text {

class LineReader {
public:
    enum class Status {
        Line,      // a line ended by a line feed
        LastLine,  // the rest of the file, without a line feed; end-of-file state is now set
        End,       // nothing left to read: the line is empty and end-of-file state is set
        TooLong,   // the line exceeds maxLen; the reader stops being useful
        Error,     // the source answered fewer bytes than it claims to hold
    };

    explicit LineReader(const ByteSource& src) : in_(src) {}

    // Moves to pos and clears the end-of-file state, as clear() + seekg() would.
    void seek(uint64_t pos) {
        pos_ = pos;
        eof_ = false;
    }
    uint64_t position() const { return pos_; }
    // End-of-file state of the last read.
    bool atEnd() const { return eof_; }

    Status readLine(std::string& line, size_t maxLen);
    // The same read, with the line as a view that lasts until the next read: a line that lies
    // within the window is not copied (and costs no call: calendars read millions).
    Status readLineView(std::string_view& line, size_t maxLen) {
        size_t avail = 0;
        const uint8_t* from = in_.held(pos_, avail);
        if (const void* lf = avail > 0 ? std::memchr(from, '\n', avail) : nullptr) {
            const size_t take = static_cast<size_t>(static_cast<const uint8_t*>(lf) - from);
            if (take <= maxLen) {
                line = std::string_view(reinterpret_cast<const char*>(from), take);
                pos_ += take + 1;
                return Status::Line;
            }
        }
        return readLineViewAcross(line, maxLen);
    }

private:
    Status readLineViewAcross(std::string_view& line, size_t maxLen);

    WindowReader in_;
    uint64_t pos_ = 0;
    bool eof_ = false;
};

}  // namespace kiv::text
