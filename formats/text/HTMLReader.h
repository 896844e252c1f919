// Tag reader for markup texts (HTML, XML and their relatives): a forward scanner that lists
// each tag's name as written and its text between '<' and the character that ends it. It
// builds no tree, checks no nesting and knows '"' as its only quote. It refuses texts that do
// not start like markup (RTF, anything but blanks before the first '<', server-side script),
// so a true answer is evidence of markup.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/ByteSource.h"
#include "core/Limits.h"

class HTMLTag {
public:
    HTMLTag() = default;

    std::string getTagName() const { return tagName_; }
    std::string getFullTag() const { return fullTag_; }
    void setFullTag(std::string fullTag) { fullTag_ = std::move(fullTag); }

    // Reads the name of the tag whose '<' is at text; text must be NUL-terminated. The last
    // argument has no effect.
    bool parseFromStr(const char* text, bool& opening, bool& closing, bool& inScript, bool);

    const char* getTagStartPos() const { return tagStart_; }
    const char* getTagEndPos() const { return tagEnd_; }
    unsigned long getElementLen() const { return elementLen_; }
    void setElementLen(unsigned long len) { elementLen_ = len; }

    // True for a byte below 0x80.
    static bool isValidCharacter(const char* c);
    // Offset of the first occurrence of pattern in data; all ones when there is none. An empty
    // pattern answers 0.
    static unsigned long searchInBinary(const char* data, unsigned long dataLen, const char* pattern,
                                        unsigned long patternLen);

private:
    std::string tagName_;
    std::string fullTag_;
    const char* tagStart_ = nullptr;
    const char* tagEnd_ = nullptr;
    unsigned long elementLen_ = 0;
};

class HTMLReader {
public:
    // window: the bytes of a file read at a time (the buffer grows to hold a longer tag).
    explicit HTMLReader(size_t window = kiv::limits::kMarkupWindow) : window_(window) {}
    virtual ~HTMLReader() = default;
    HTMLReader(const HTMLReader&) = delete;
    HTMLReader& operator=(const HTMLReader&) = delete;

    // Reads the file and walks it; true when it is markup. Only the first
    // kiv::limits::kMarkupReadCap bytes are walked, and nothing is read beyond the first
    // non-blank byte unless that byte is '<'. The file is read window by window as the walk
    // moves on; afterwards only the lists remain (the probe and parse calls answer false).
    bool readFile(std::string path);
    bool readFile(const kiv::ByteSource& src);
    // Walks a copy of text up to its first NUL.
    bool readFromString(const std::string& text);

    void resetSeekPointer() { pos_ = 0; }
    // The markup probe: optional UTF-8 byte order mark, blanks, then a tag that parses.
    bool isHTMLXMLBased();
    bool parseDocument();
    // Skips a comment at the position; the argument is not written.
    bool parseComment(std::string& comment);
    bool parseTag(HTMLTag& tag, bool& opening, bool& closing, bool& inScript);

    // Tag names as written (a closing tag's without its '/'), and the parallel full tags.
    // They keep what was collected before the walk ended, also when it answered false.
    std::vector<std::string>& getListTag() { return tags_; }
    std::vector<std::string>& getListFullTag() { return fullTags_; }

protected:
    // A collected tag: its name as written and its full text, as views into the reader's buffer.
    struct Collected {
        std::string_view name, fullTag;
    };
    // Receives the collected tags in document order, a batch at a time (a call per tag would
    // cost as much as reading it); the views last until the call returns. By default both
    // lists keep them.
    virtual void collectTags(const Collected* tags, size_t n);

private:
    // First occurrence of a needle at or after a position, kept while the walk moves forward
    // so that many '<' before one distant '>' do not search the same bytes again.
    struct NextMatch {
        bool valid = false;
        uint64_t from = 0;
        uint64_t at = 0;
        bool covers(uint64_t pos) const;
    };
    // For the bytes from some '<' up to a tag end: where the last byte of 0x80 or above lies at
    // each quote parity (quotes counted from the first position scanned), and a cursor that
    // carries the parity to each later '<' before the same end. A position entered outside
    // quotes meets such a byte outside quotes exactly when one lies ahead at its own parity.
    struct QuoteScan {
        bool valid = false;
        uint64_t end = 0;
        uint64_t cursor = 0;
        bool parity = false;       // of the quotes before cursor
        uint64_t highEnd[2] = {};  // one past the last such byte at each parity; 0: none
    };
    // One tag as the walk reads it: views into the text, and where the character that ends it
    // lies (the '>', or the '?' of "?>").
    struct TagView {
        std::string_view name;
        std::string_view fullTag;
        bool closing;
        uint64_t elementLen;
        uint64_t endAt;
    };
    enum class TagRead { NoTag, Php, NoEnd, Refused, Tag };

    // Starts the walk over the n bytes of text, read through a window over them.
    void startText(const kiv::ByteSource& text, uint64_t n);
    const char* at(uint64_t pos) const { return base_ + (pos - winStart_); }
    // Reads on: the bytes from keepFrom stay, and the window grows when they fill it. False at
    // the end of the text.
    bool extend(uint64_t keepFrom);
    // Before the window moves: the pending tags are handed over and the quote scans carry
    // their parity up to keepFrom, before which the walk never comes back.
    void beforeRead(uint64_t keepFrom);
    // Takes the window's bytes from keepFrom on as the resident text.
    void held(uint64_t keepFrom);
    // The source stopped giving bytes: the text ends with the resident ones, and the walk
    // answers false.
    void endTextAtWindow();
    // Makes the n bytes from pos resident, or as many as the text holds.
    void reach(uint64_t pos, uint64_t n) {
        while (winEnd_ - pos < n && winEnd_ < size_ && extend(pos)) {
        }
    }
    // First occurrence of needle from pos; the bytes from keepFrom stay resident. Most are found
    // among the resident bytes; the window layer reads on for the others.
    uint64_t find(uint64_t pos, uint64_t keepFrom, const kiv::Needle& needle) {
        const size_t k = kiv::findBytes(at(pos), winEnd_ - pos, needle);
        return k != SIZE_MAX ? pos + k : findOn(pos, keepFrom, needle);
    }
    uint64_t findOn(uint64_t pos, uint64_t keepFrom, const kiv::Needle& needle);
    // Where the walk goes on after a comment that opens at pos ("<!--"): on the first '-' of
    // its "-->", or at the end of the text; all ones when no comment opens there.
    uint64_t commentEnd(uint64_t pos);
    // Reads the tag whose '<' is at pos, which the caller made resident with the short run of
    // bytes after it (reach). Php answers before the tag's end is looked for; NoEnd means that
    // no end follows at all. tag is written only as far as the answer says.
    TagRead readTag(uint64_t pos, bool inScript, TagView& tag);
    // The common case of readTag outside a script, for a '<' at pos; false: readTag decides.
    bool readNearTag(uint64_t pos, TagView& tag) const;
    uint64_t findFrom(NextMatch& cache, uint64_t pos, const kiv::Needle& needle);
    bool refusedBeforeEnd(QuoteScan& scan, uint64_t pos, uint64_t end);
    // Hands the pending tags over before the buffer they point into moves or the walk ends.
    void flushTags() {
        if (pending_ > 0) collectTags(pendingTags_, pending_);
        pending_ = 0;
    }

    uint64_t pos_ = 0;
    uint64_t size_ = 0;  // text length + 1 (the terminating NUL)
    // The resident bytes: positions winStart_ up to winEnd_ of the text, held by the window
    // layer and followed by the zero byte it keeps there, which stops a scan at the end of the
    // window (at the text's end, that byte is the text's own NUL and counts as resident). A
    // string's copy is resident whole.
    std::unique_ptr<kiv::MemoryByteSource> copy_;  // the text of readFromString
    std::optional<kiv::WindowReader> in_;
    const char* base_ = nullptr;  // byte winStart_
    size_t capacity_ = 0;         // bytes the walk asks the window to hold
    uint64_t winStart_ = 0;
    uint64_t winEnd_ = 0;
    uint64_t firstTag_ = 0;  // the '<' the probe read
    size_t window_;
    bool readFailed_ = false;
    static constexpr size_t kTagBatch = 64;
    Collected pendingTags_[kTagBatch];
    size_t pending_ = 0;
    std::vector<std::string> tags_;
    std::vector<std::string> fullTags_;

    NextMatch nextGt_, nextPiEnd_;
    QuoteScan quoteGt_, quotePiEnd_;
};
