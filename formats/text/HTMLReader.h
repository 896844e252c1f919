// Tag reader for markup texts (HTML, XML and their relatives): a forward scanner that lists
// each tag's name as written and its text between '<' and the character that ends it. It
// builds no tree, checks no nesting and knows '"' as its only quote. It refuses texts that do
// not start like markup (RTF, anything but blanks before the first '<', server-side script),
// so a true answer is evidence of markup.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace kiv {
class ByteSource;
}

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
    HTMLReader() = default;
    virtual ~HTMLReader() = default;
    HTMLReader(const HTMLReader&) = delete;
    HTMLReader& operator=(const HTMLReader&) = delete;

    // Reads the file and walks it; true when it is markup. Only the first
    // kiv::limits::kMarkupReadCap bytes are walked, and nothing is read beyond the first
    // non-blank byte unless that byte is '<'.
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
    // Receives every collected tag in document order; by default both lists keep it.
    virtual void collectTag(const std::string& name, const std::string& fullTag);

private:
    // First occurrence of a needle at or after a position, kept while the walk moves forward
    // so that many '<' before one distant '>' do not search the same bytes again.
    struct NextMatch {
        bool valid = false;
        uint64_t from = 0;
        uint64_t at = 0;
    };
    // For the bytes from some '<' up to a tag end: whether each position, entered outside
    // quotes, meets a byte of 0x80 or above outside quotes before that end.
    struct QuoteScan {
        bool valid = false;
        uint64_t lo = 0;
        uint64_t end = 0;
        std::vector<bool> refused;
    };

    // Makes the first n bytes of buffer_, followed by a NUL, the text to walk.
    void startText(size_t n);
    uint64_t findFrom(NextMatch& cache, const char* needle, size_t n);
    bool refusedBeforeEnd(QuoteScan& scan, uint64_t end);

    uint64_t pos_ = 0;
    uint64_t size_ = 0;  // text length + 1 (the terminating NUL)
    std::vector<char> buffer_;
    std::vector<std::string> tags_;
    std::vector<std::string> fullTags_;

    NextMatch nextGt_, nextPiEnd_;
    QuoteScan quoteGt_, quotePiEnd_;
};
