#include "formats/text/LineReader.h"

#include <algorithm>
#include <cstring>

#include "engine/ByteSource.h"

namespace kiv::text {

namespace {
constexpr size_t kChunk = 64 * 1024;
}

LineReader::LineReader(const ByteSource& src) : src_(src) {}

void LineReader::seek(uint64_t pos) {
    pos_ = pos;
    eof_ = false;
}

// Makes the buffer cover pos_; false when the source gives nothing there.
bool LineReader::fill() {
    if (pos_ >= bufStart_ && pos_ < bufStart_ + bufLen_) return true;
    size_t want = static_cast<size_t>(std::min<uint64_t>(kChunk, src_.size() - pos_));
    buf_.resize(kChunk);
    bufStart_ = pos_;
    bufLen_ = src_.readAt(pos_, buf_.data(), want);
    return bufLen_ > 0;
}

LineReader::Status LineReader::readLine(std::string& line, size_t maxLen) {
    line.clear();
    return assemble(line, maxLen);
}

// readLineView when the line is not found whole in the current window.
LineReader::Status LineReader::readLineViewAcross(std::string_view& line, size_t maxLen) {
    line = std::string_view();
    // A line feed in the current window: the line is the bytes before it.
    if (pos_ < src_.size()) {
        if ((pos_ < bufStart_ || pos_ - bufStart_ >= bufLen_) && !fill()) {
            eof_ = true;
            return Status::Error;
        }
        const uint8_t* from = buf_.data() + (pos_ - bufStart_);
        const size_t avail = static_cast<size_t>(bufStart_ + bufLen_ - pos_);
        if (const void* lf = std::memchr(from, '\n', avail)) {
            const size_t take = static_cast<size_t>(static_cast<const uint8_t*>(lf) - from);
            if (take > maxLen) return Status::TooLong;
            line = std::string_view(reinterpret_cast<const char*>(from), take);
            pos_ += take + 1;
            return Status::Line;
        }
    }
    spill_.clear();
    const Status status = assemble(spill_, maxLen);
    line = spill_;
    return status;
}

// Appends the line at the position to line, reading window after window.
LineReader::Status LineReader::assemble(std::string& line, size_t maxLen) {
    const uint64_t size = src_.size();
    if (pos_ >= size) {
        eof_ = true;
        return Status::End;
    }
    while (pos_ < size) {
        if (!fill()) {
            eof_ = true;
            return Status::Error;
        }
        const uint8_t* from = buf_.data() + (pos_ - bufStart_);
        size_t avail = static_cast<size_t>(bufStart_ + bufLen_ - pos_);
        const void* lf = std::memchr(from, '\n', avail);
        size_t take = lf ? static_cast<size_t>(static_cast<const uint8_t*>(lf) - from) : avail;
        if (line.size() + take > maxLen) return Status::TooLong;
        line.append(reinterpret_cast<const char*>(from), take);
        if (lf) {
            pos_ += take + 1;
            return Status::Line;
        }
        pos_ += take;
    }
    eof_ = true;
    return Status::LastLine;
}

}  // namespace kiv::text
