// Mail header reader: decides whether a text is an Internet mail message or a web page saved
// in MIME form. parseMIMEHeader reads the header block into fields; isEMLFileType and
// isMHTFileType decide on them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace kiv {
class ByteSource;
class FileByteSource;
namespace text {
class LineReader;
}
}  // namespace kiv

class MIMEHandler {
public:
    struct Parameter {
        std::string name;  // lower case
        std::string value;
    };
    struct Attribute {
        std::string name;   // lower case
        std::string value;  // as written, cut at the first unprotected ';'
        std::vector<Parameter> parameters;
        void clear() {
            name.clear();
            value.clear();
            parameters.clear();
        }
    };
    struct LineParser {
        std::string name;
        std::string value;
    };
    // A quoted string or a comment in a field value, both ends inclusive.
    using Range = std::pair<uint64_t, uint64_t>;

    static constexpr float thresholdText = 0.7f;
    // The header reader stops before this line.
    static constexpr int maxReadingLine = 20000;
    // Longer field names are no header unless they hold "X-"/"x-".
    static constexpr size_t maxFieldNameLength = 35;
    static constexpr size_t probeSize = 2048;
    // Least share of well-known field names among the fields.
    static constexpr float detectThreshold = 0.6f;
    // Least number of fields in the header of a multipart message's first part.
    static constexpr int lowestHeaderFieldThreshold = 1;
    // Least number of fields of a header that opens no multipart body.
    static constexpr size_t minFieldsWithoutParts = 2;

    MIMEHandler();
    ~MIMEHandler();
    MIMEHandler(const MIMEHandler&) = delete;
    MIMEHandler& operator=(const MIMEHandler&) = delete;

    // False when the file cannot be opened or is empty.
    bool open(const std::string& path);
    // Reads from src, which must outlive the handler.
    bool open(const kiv::ByteSource& src);
    void close();

    bool parseMIMEHeader(const std::string& path);
    bool parseMIMEHeader(const kiv::ByteSource& src);
    const std::vector<Attribute>& getFields() const { return fields_; }
    uint64_t getHeaderEnd() const { return headerEnd_; }

    // Reads a header block from start; end moves past each line read. Empty when the block is
    // no header.
    std::vector<Attribute> headerParser(unsigned long start, unsigned long& end);
    // Reads one line at the current position and stores the position after it in pos (all
    // ones when the line ended at the end of the file without a line feed).
    LineParser lineParserFunc(unsigned long& pos);

    bool isEMLFileType();
    bool isMHTFileType();
    bool isExistAttribute(Attribute query);

    static void attributeParserFunc(Attribute& field);
    static std::vector<Range> getRestrictRange(std::string value);
    static bool parseParameter(std::string text, Parameter& out);
    // With the flag true, the text without its leading whitespace; a text that is empty or
    // only whitespace comes back unchanged.
    static std::string whiteSpaceEliminator(const std::string& text, bool leading);
    static void CR_EliminationFunc(std::string& line);
    static bool isTextLine(const std::string& text);
    static bool isInExcludeList(const std::string& name);
    static bool isCommonHeaderField(Attribute field);
    static bool getSectionSeparator(const Attribute& field, std::string& boundary);
    static void fileNameParserFunc(std::string& text);

private:
    std::unique_ptr<kiv::FileByteSource> owned_;
    const kiv::ByteSource* src_ = nullptr;
    std::unique_ptr<kiv::text::LineReader> lines_;
    uint64_t size_ = 0;
    uint64_t headerEnd_ = 0;
    std::vector<Attribute> fields_;
    // Set by lineParserFunc when a line is too long or cannot be read.
    bool lineFailed_ = false;
};
