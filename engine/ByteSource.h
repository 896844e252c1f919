// One bounded reader per scan: every detector reads the file through it, so the file is
// opened once and the head and tail windows that most probes look at are read once.
// Reads never go past size() and never throw; a short read is the normal answer at the
// end of the file or on an I/O error.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "engine/Limits.h"

namespace kiv {

// A bounded view of bytes; accessors answer false/nullopt instead of reading past the end.
struct ByteView {
    const uint8_t* data = nullptr;
    size_t size = 0;

    bool has(size_t off, size_t n) const { return off <= size && n <= size - off; }
    const uint8_t* at(size_t off) const { return data + off; }
    // True when the bytes at off equal the n bytes of pattern.
    bool startsWithAt(size_t off, const void* pattern, size_t n) const;
    bool startsWith(const void* pattern, size_t n) const { return startsWithAt(0, pattern, n); }
    // First occurrence of needle at or after from; npos when absent.
    size_t find(const void* needle, size_t n, size_t from = 0) const;
    // Last occurrence of needle; npos when absent.
    size_t rfind(const void* needle, size_t n) const;
    static constexpr size_t npos = static_cast<size_t>(-1);
};

class ByteSource {
public:
    virtual ~ByteSource() = default;

    // Number of readable bytes; 0 for anything that is not a regular file.
    uint64_t size() const { return size_; }
    // The open file the bytes come from, for readers that need a descriptor (libmagic, qpdf,
    // the matcher, 7za); -1 for in-memory sources.
    virtual int descriptor() const { return -1; }
    // Path the bytes came from; empty for in-memory sources. Probes that need an outside
    // program (7za) use it and answer "no" when it is empty.
    const std::string& path() const { return path_; }

    // Copies up to n bytes from off into dst and answers how many were copied.
    size_t readAt(uint64_t off, void* dst, size_t n) const;
    // Reads up to n bytes at off into a fresh vector (shorter at end of file).
    std::vector<uint8_t> read(uint64_t off, size_t n) const;

    // The first min(n, size) bytes; cached, so repeated calls cost nothing. A view stays valid
    // until a longer head is asked for (the cache is then read again into a larger buffer).
    ByteView head(size_t n) const;
    // The last min(n, size) bytes; cached. A view stays valid until a longer tail is asked for.
    ByteView tail(size_t n) const;

    // First occurrence of needle within [from, from + window); npos when absent.
    uint64_t find(const void* needle, size_t n, uint64_t from, uint64_t window) const;
    static constexpr uint64_t npos = static_cast<uint64_t>(-1);

    // What one walk over the whole file told a PDF detector: the Illustrator marker, an
    // encryption dictionary's name and the "%%EOF" markers (counted up to a cap).
    struct PdfFacts {
        bool aiMarker = false;
        bool encryptName = false;
        uint64_t eofMarkers = 0;
    };
    // Answers that several detectors of one scan need and that cost a walk over the file.
    // They belong to the source, so they live exactly as long as the scan that opened it.
    struct Memo {
        // ZIP end record (or "none") as found for the size in zipEndFor.
        std::optional<uint64_t> zipEnd;
        uint64_t zipEndFor = 0;
        std::optional<PdfFacts> pdf;
    };
    Memo& memo() const { return memo_; }

protected:
    ByteSource() = default;
    virtual size_t doRead(uint64_t off, void* dst, size_t n) const = 0;

    uint64_t size_ = 0;
    std::string path_;

private:
    mutable std::vector<uint8_t> head_;
    mutable std::vector<uint8_t> tail_;
    mutable bool headFull_ = false;  // head_ holds the whole file
    mutable Memo memo_;
};

// Reads a source through one buffer, for walks over many small records: a record inside the
// buffered window costs a copy, and moving past it costs one read of the next window. The
// answers are those of ByteSource::readAt.
class WindowReader {
public:
    explicit WindowReader(const ByteSource& src, size_t window = limits::kReadWindow);

    // The bytes from off: got says how many of the n asked for the source holds (fewer only
    // at its end). The pointer stays valid until the next call.
    const uint8_t* view(uint64_t off, size_t n, size_t& got) {
        if (off >= start_ && off - start_ <= have_ && n <= have_ - (off - start_) && n > 0) {
            got = n;
            return buf_.data() + (off - start_);
        }
        return refill(off, n, got);
    }
    // As readAt, with the missing bytes of a short read zero-filled.
    size_t readZ(uint64_t off, void* dst, size_t n);

private:
    const uint8_t* refill(uint64_t off, size_t n, size_t& got);

    const ByteSource& src_;
    size_t window_;
    std::vector<uint8_t> buf_;
    uint64_t start_ = 0;
    size_t have_ = 0;
};

// Reads a file with pread. Opened with O_CLOEXEC (7za children must not inherit it) and
// O_NONBLOCK (a FIFO must never block a scan); only regular files have a non-zero size.
class FileByteSource : public ByteSource {
public:
    explicit FileByteSource(const std::string& path);
    ~FileByteSource() override;
    FileByteSource(const FileByteSource&) = delete;
    FileByteSource& operator=(const FileByteSource&) = delete;

    // False when the file could not be opened; such a source has size 0.
    bool isOpen() const { return fd_ >= 0; }
    // True when the open file is a regular file (an empty one included).
    bool isRegular() const { return regular_; }
    int descriptor() const override { return fd_; }

protected:
    size_t doRead(uint64_t off, void* dst, size_t n) const override;

private:
    int fd_ = -1;
    bool regular_ = false;
};

// Bytes held in memory: tests, fuzz targets, and archive members read to memory.
class MemoryByteSource : public ByteSource {
public:
    explicit MemoryByteSource(std::vector<uint8_t> bytes, std::string path = std::string());
    MemoryByteSource(const void* data, size_t n);

protected:
    size_t doRead(uint64_t off, void* dst, size_t n) const override;

private:
    std::vector<uint8_t> bytes_;
};

}  // namespace kiv
