#include "formats/media/AutoCADUtil.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "core/Limits.h"
#include "core/TypeTables.h"

namespace {

constexpr uint64_t kMinSize = 64;
static_assert(sizeof(AutoCADUtil::dxfBinaryHeader) == AutoCADUtil::dxfBinaryHeaderSize, "NUL is part of the header");
static_assert(sizeof(AutoCADUtil::fasASCIIHeader) - 1 == 34, "CR LF at both ends");
constexpr size_t kFasCompared = sizeof(AutoCADUtil::fasASCIIHeader) - 1;  // 34
constexpr size_t kDwfCompared = sizeof(AutoCADUtil::dwfASCIIHeader) - 1;  // 6
constexpr size_t kDwfRead = 12;
constexpr size_t kDwfVersionAt = 6;
constexpr size_t kDwfVersionLength = 5;
constexpr size_t kDxfBinaryVersionAt = 54;  // after the header's SECTION/HEADER/$ACADVER groups
constexpr size_t kDxfASCIIVersionAt = sizeof(AutoCADUtil::dxfASCIIHeader) - 1;  // 25
constexpr size_t kDxfVersionLength = 6;
constexpr char kBinaryDxfFirstLine[] = "AutoCAD Binary DXF";
// Non-empty lines gathered before the header's first variable: 0 SECTION 2 HEADER 9.
constexpr int kDxfSectionLines = 5;
// After "$ACADVER": that line, its group code 1 and the version.
constexpr int kDxfVersionLines = 3;
// After "ENDSEC": that line and the next section's 0 SECTION 2 <name> 0.
constexpr int kDxfNextSectionLines = 6;
constexpr char kDxfHeaderStart[] = "0SECTION2HEADER9";
// Group code of a comment; its value is the next line.
constexpr char kDxfCommentGroup[] = "999";

// Release texts of bytes 2-5 that follow "AC", in code order from DWG_AC1_50.
constexpr const char* kDwgReleases[] = {"1.50", "2.10", "1002", "1003", "1004", "1006", "1009", "1012",
                                        "1014", "1015", "1018", "1021", "1024", "1027", "1032"};

// Text of at most n bytes at p, up to the first NUL.
std::string textAt(const char* p, size_t n) { return std::string(p, strnlen(p, n)); }

// Reads a text DXF line by line, a window of the source at a time. A line ends at LF, CR or
// CR LF. The caller says how much of a line it needs, so a huge line is never held whole;
// the whole walk stops after kDxfMaxLines lines or kDxfMaxBytes bytes.
class DxfLineReader {
public:
    enum class Status { Line, End, TooLong, OverBudget };

    explicit DxfLineReader(const kiv::ByteSource& src) : in_(src) {}

    // Reads the next line into raw (blanks kept; when given) and stripped (blanks 0x20
    // removed). More than maxRaw characters: TooLong, and the rest of the line is left
    // unread. stripped reaching maxStripped characters ends the read early (the caller
    // needs no more of the line).
    Status next(std::string* raw, std::string& stripped, size_t maxRaw, size_t maxStripped) {
        if (raw) raw->clear();
        stripped.clear();
        if (++lines_ > kiv::limits::kDxfMaxLines) return Status::OverBudget;
        bool any = false;
        for (size_t length = 0;; ++length) {
            int c = get();
            if (c == kEnd) return any ? Status::Line : Status::End;
            if (c == kBudget) return Status::OverBudget;
            any = true;
            if (c == '\n') return Status::Line;
            if (c == '\r') {
                if (peek() == '\n') get();
                return Status::Line;
            }
            if (length == maxRaw) return Status::TooLong;
            if (raw) raw->push_back(static_cast<char>(c));
            if (c != ' ') {
                stripped.push_back(static_cast<char>(c));
                if (stripped.size() >= maxStripped) return Status::Line;
            }
        }
    }

private:
    static constexpr int kEnd = -1;
    static constexpr int kBudget = -2;

    int peek() {
        if (next_ == end_ && !fill()) return kEnd;
        return *next_;
    }
    int get() {
        if (consumed_ >= kiv::limits::kDxfMaxBytes) return kBudget;
        if (next_ == end_ && !fill()) return kEnd;
        ++consumed_;
        return *next_++;
    }
    // The next window's bytes; false at the end.
    bool fill() {
        size_t got = 0;
        next_ = in_.view(filePos_, kiv::limits::kReadWindow, got);
        end_ = next_ + got;
        filePos_ += got;
        return got > 0;
    }

    kiv::WindowReader in_;
    const uint8_t* next_ = nullptr;
    const uint8_t* end_ = nullptr;
    uint64_t filePos_ = 0;
    uint64_t consumed_ = 0;
    uint32_t lines_ = 0;
};

}  // namespace

void AutoCADUtil::init() {}

AutoCADTypes AutoCADUtil::determineAutoCADType(const std::string& path, unsigned long /*size*/, AutoCADExts& family) {
    kiv::FileByteSource src(path);
    return determineAutoCADType(src, family);
}

AutoCADTypes AutoCADUtil::determineAutoCADType(const kiv::ByteSource& src, AutoCADExts& family) {
    family = AUTOCAD_EXT_NONE;
    if (src.size() < kMinSize) return AUTOCAD_NONE;

    uint8_t head[6] = {};
    src.readAt(0, head, sizeof(head));
    if (AutoCADTypes code = determineDWG(head)) {
        family = AUTOCAD_EXT_DWG;
        return code;
    }

    AutoCADTypes fas = AUTOCAD_NONE;
    if (determineFAS(src, fas)) {
        family = AUTOCAD_EXT_FAS;
        return fas;
    }

    char block[kBlockSize] = {};
    src.readAt(0, block, kDwfRead);
    if (AutoCADTypes code = determineDWF(block)) {
        family = AUTOCAD_EXT_DWF;
        return code;
    }

    std::memset(block, 0, sizeof(block));
    if (!gatherDXFText(src, block)) return AUTOCAD_NONE;
    AutoCADTypes code = determineDXF(block);
    if (code) family = AUTOCAD_EXT_DXF;
    return code;
}

bool AutoCADUtil::gatherDXFText(const kiv::ByteSource& src, char (&block)[kBlockSize]) {
    using Status = DxfLineReader::Status;
    std::memset(block, 0, sizeof(block));
    DxfLineReader reader(src);
    std::string raw;
    std::string line;
    const size_t maxLine = kiv::limits::kDxfMaxLineLength;
    Status status = reader.next(&raw, line, maxLine, SIZE_MAX);
    if (status == Status::OverBudget) return false;

    if (status == Status::Line && raw == kBinaryDxfFirstLine) {
        src.readAt(0, block, kBlockSize);
        return true;
    }

    // budget counts the lines still to gather; -1 marks skipping the header variables that
    // come before $ACADVER.
    int budget = kDxfSectionLines;
    std::string gathered;
    bool commentText = false;
    for (;;) {
        if (status == Status::End) break;
        if (status == Status::OverBudget) return false;
        if (status == Status::TooLong) return false;  // not a DXF: group codes and values are short
        if (commentText) {
            commentText = false;  // the comment's own line, whatever it holds
        } else if (!line.empty()) {
            if (gathered.empty() && line == kDxfCommentGroup) {
                // Writers may open the file with comment groups (a library names itself) before
                // the first section.
                commentText = true;
            } else if (budget < 1 && gathered == kDxfHeaderStart && line != "ENDSEC") {
                if (line == "$ACADVER") {
                    budget = kDxfVersionLines;
                    break;
                }
                budget = -1;
            } else {
                if (line == "ENDSEC") {
                    budget = kDxfNextSectionLines;
                    break;
                }
                if (budget < 1) break;
                gathered += line;
                --budget;
            }
        }
        status = reader.next(nullptr, line, maxLine, SIZE_MAX);
    }

    // Append the line that stopped the walk and the following ones, empty lines included.
    // Only the first kBlockSize bytes are tested, so nothing past them is read.
    while (budget > 0 && status != Status::End && !gathered.empty() && gathered.size() < kBlockSize) {
        gathered += line;
        if (gathered.size() >= kBlockSize) break;
        status = reader.next(nullptr, line, SIZE_MAX, kBlockSize - gathered.size());
        if (status == Status::OverBudget) return false;
        --budget;
    }

    if (gathered.empty()) return false;
    std::memcpy(block, gathered.data(), std::min(gathered.size(), kBlockSize));
    return true;
}

AutoCADTypes AutoCADUtil::determineDWG(const uint8_t (&head)[6]) {
    const char* h = reinterpret_cast<const char*>(head);
    if (std::memcmp(h, "MC", 2) == 0) return std::memcmp(h + 2, "0.0", 3) == 0 ? DWG_MC0_0 : AUTOCAD_NONE;
    if (std::memcmp(h, "AC", 2) != 0) return AUTOCAD_NONE;
    if (std::memcmp(h + 2, "1.2", 3) == 0) return DWG_AC1_2;
    if (std::memcmp(h + 2, "1.4", 3) == 0) return DWG_AC1_4;
    for (size_t i = 0; i < sizeof(kDwgReleases) / sizeof(kDwgReleases[0]); ++i)
        if (std::memcmp(h + 2, kDwgReleases[i], 4) == 0) return static_cast<AutoCADTypes>(DWG_AC1_50 + i);
    return AUTOCAD_NONE;
}

AutoCADTypes AutoCADUtil::determineDXF(const char* block) {
    std::string version;
    if (std::memcmp(block, dxfBinaryHeader, dxfBinaryHeaderSize) == 0) {
        version = textAt(block + kDxfBinaryVersionAt, kDxfVersionLength);
    } else if (std::memcmp(block, dxfASCIIHeader, kDxfASCIIVersionAt) == 0) {
        version = textAt(block + kDxfASCIIVersionAt, kDxfVersionLength);
    } else if (std::memcmp(block, dxfTablesSection, sizeof(dxfTablesSection) - 1) == 0 ||
               std::memcmp(block, dxfClassesSection, sizeof(dxfClassesSection) - 1) == 0) {
        return DXF_UNKNOWN_VERSION;
    } else {
        return AUTOCAD_NONE;
    }
    auto it = DXFVersion.find(version);
    return it != DXFVersion.end() ? static_cast<AutoCADTypes>(it->second) : DXF_UNKNOWN_VERSION;
}

AutoCADTypes AutoCADUtil::determineDWF(const char* block) {
    if (std::memcmp(block, dwfASCIIHeader, kDwfCompared) != 0) return AUTOCAD_NONE;
    auto it = DWFVersion.find(textAt(block + kDwfVersionAt, kDwfVersionLength));
    return it != DWFVersion.end() ? static_cast<AutoCADTypes>(it->second) : DWF_UNKNOWN_VERSION;
}

AutoCADTypes AutoCADUtil::determineFAS(const kiv::ByteSource& src, AutoCADTypes& out) {
    char head[kFasCompared + 1] = {};
    out = AUTOCAD_NONE;
    if (src.readAt(0, head, sizeof(head)) >= kFasCompared && std::memcmp(head, fasASCIIHeader, kFasCompared) == 0)
        out = FAS_FILE;
    return out;
}

void AutoCADUtil::adjustAutoCADTypes(AutoCADTypes code, AutoCADExts family, std::string& typeId, std::string& mime,
                                     std::string& extensions, std::string& description) {
    if (code == AUTOCAD_NONE) return;
    const std::map<uint8_t, std::string>* versions = nullptr;
    switch (family) {
        case AUTOCAD_EXT_DWG:
            typeId = "DWG";
            mime = "image/vnd.dwg";
            extensions = "dwg";
            description = "AutoCAD Drawing";
            versions = &DWGVersionDescription;
            break;
        case AUTOCAD_EXT_DXF:
            typeId = "DXF";
            mime = "image/vnd.dxf";
            extensions = "dxf";
            description = "AutoCAD Drawing eXchange Format";
            versions = &DXFVersionDescription;
            break;
        case AUTOCAD_EXT_DWF:
            typeId = "DWF";
            mime = "image/vnd.dwf";
            extensions = "dwf";
            description = "AutoCAD Design Web Format";
            versions = &DWFVersionDescription;
            break;
        case AUTOCAD_EXT_FAS:
            typeId = "FAS";
            mime = "image/vnd.fas";
            extensions = "fas";
            description = "AutoCAD Fast-load AutoLISP";
            return;
        default:
            return;
    }
    auto it = versions->find(code);
    if (it != versions->end()) description = it->second;
}
