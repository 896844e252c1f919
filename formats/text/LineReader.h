// Line reader over a ByteSource for the calendar and mail readers. It reads like
// std::getline on a binary stream (the line feed is dropped, a carriage return before it is
// kept, the end-of-file state is set by the read that reaches the end), but never holds more
// than maxLen bytes of a line and reports a read error instead of looping on it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

namespace kiv {
class ByteSource;
}

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

    explicit LineReader(const ByteSource& src);

    // Moves to pos and clears the end-of-file state, as clear() + seekg() would.
    void seek(uint64_t pos);
    uint64_t position() const { return pos_; }
    // End-of-file state of the last read.
    bool atEnd() const { return eof_; }

    Status readLine(std::string& line, size_t maxLen);
    // The same read, with the line as a view that lasts until the next read: a line that lies
    // within one read window is not copied (and costs no call: calendars read millions).
    Status readLineView(std::string_view& line, size_t maxLen) {
        if (pos_ >= bufStart_ && pos_ - bufStart_ < bufLen_) {
            const uint8_t* from = buf_.data() + (pos_ - bufStart_);
            const size_t avail = static_cast<size_t>(bufStart_ + bufLen_ - pos_);
            const void* lf = std::memchr(from, '\n', avail);
            const size_t take = lf ? static_cast<size_t>(static_cast<const uint8_t*>(lf) - from) : 0;
            if (lf && take <= maxLen) {
                line = std::string_view(reinterpret_cast<const char*>(from), take);
                pos_ += take + 1;
                return Status::Line;
            }
        }
        return readLineViewAcross(line, maxLen);
    }

private:
    bool fill();
    Status readLineViewAcross(std::string_view& line, size_t maxLen);
    Status assemble(std::string& line, size_t maxLen);

    const ByteSource& src_;
    uint64_t pos_ = 0;
    bool eof_ = false;
    std::vector<uint8_t> buf_;
    uint64_t bufStart_ = 0;
    size_t bufLen_ = 0;
    std::string spill_;  // a line that crosses a window edge, for readLineView
};

}  // namespace kiv::text
