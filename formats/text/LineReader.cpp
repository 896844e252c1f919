#include "formats/text/LineReader.h"

namespace kiv::text {

LineReader::Status LineReader::readLine(std::string& line, size_t maxLen) {
    std::string_view view;
    const Status status = readLineView(view, maxLen);
    line.assign(view.data(), view.size());
    return status;
}

// readLineView when the line is not found whole in the window: the line feed is looked for
// in the next maxLen + 1 bytes, and the window keeps the line while it reads on.
LineReader::Status LineReader::readLineViewAcross(std::string_view& line, size_t maxLen) {
    line = std::string_view();
    const uint64_t size = in_.end();
    if (pos_ >= size) {
        eof_ = true;
        return Status::End;
    }
    const bool longer = maxLen < size - pos_;  // the rest is longer than any line may be
    const uint64_t reach = longer ? pos_ + maxLen + 1 : size;
    const uint64_t lf = in_.find("\n", 1, pos_, reach, pos_);
    const size_t take = static_cast<size_t>((lf == WindowReader::npos ? reach : lf) - pos_);
    size_t got = 0;
    const uint8_t* from = in_.view(pos_, take, got);
    if (got < take) {
        eof_ = true;
        return Status::Error;
    }
    if (lf == WindowReader::npos && longer) return Status::TooLong;
    line = std::string_view(reinterpret_cast<const char*>(from), take);
    if (lf != WindowReader::npos) {
        pos_ = lf + 1;
        return Status::Line;
    }
    pos_ = size;
    eof_ = true;
    return Status::LastLine;
}

}  // namespace kiv::text
