#include "core/ByteSignatures.h"

#include "core/ByteUtils.h"
#include "core/TypeTables.h"

std::vector<FileSignature> isoSignatures;
std::map<std::string, std::vector<FileSignature>> fallBackSignatures;

namespace {

int hexDigit(unsigned char c) {
    if (kiv::isAsciiDigit(c)) return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// ISO 9660 keeps "CD001" at byte 1 of the volume descriptors in sectors 16, 17 and 18
// (2048-byte sectors).
constexpr uint32_t kIsoOffsets[] = {32769, 34817, 36865};
constexpr const char* kIsoText = "0x43 0x44 0x30 0x30 0x31";

struct FallBackRow {
    const char* hexText;
    uint32_t offset;
    const char* typeId;
    const char* mime;
    const char* extensions;
};

// Row 1 is the compound-file header; the others look at the start of the first sector after
// it (offset 512 with 512-byte sectors). Order is priority: the Publisher pattern FD FF FF FF
// 02 is a prefix of two Excel rows above it.
constexpr const char* kDoc = "application/msword";
constexpr const char* kPpt = "application/vnd.ms-powerpoint";
constexpr const char* kXls = "application/vnd.ms-excel";
constexpr FallBackRow kFallBackRows[] = {
    {"0xD0 0xCF 0x11 0xE0 0xA1 0xB1 0x1A 0xE1", 0, "MSOFFICE", "", ""},
    {"0xEC 0xA5 0xC1 0x00", 512, "DOC", kDoc, "doc"},
    {"0xA0 0x46 0x1D 0xF0", 512, "PPT", kPpt, "ppt"},
    {"0x00 0x6E 0x1E 0xF0", 512, "PPT", kPpt, "ppt"},
    {"0x0F 0x00 0xE8 0x03", 512, "PPT", kPpt, "ppt"},
    {"0xFD 0xFF 0xFF 0xFF 0x0e 0x00 0x00 0x00", 512, "PPT", kPpt, "ppt"},
    {"0xFD 0xFF 0xFF 0xFF 0x1c 0x00 0x00 0x00", 512, "PPT", kPpt, "ppt"},
    {"0xFD 0xFF 0xFF 0xFF 0x43 0x00 0x00 0x00", 512, "PPT", kPpt, "ppt"},
    {"0xFD 0xFF 0xFF 0xFF 0x02 0x00", 512, "XLS", kXls, "xls,xla"},
    {"0xFD 0xFF 0xFF 0xFF 0x10 0x00", 512, "XLS", kXls, "xls,xla"},
    {"0xFD 0xFF 0xFF 0xFF 0x1f 0x00", 512, "XLS", kXls, "xls,xla"},
    {"0xFD 0xFF 0xFF 0xFF 0x22 0x00", 512, "XLS", kXls, "xls,xla"},
    {"0xFD 0xFF 0xFF 0xFF 0x23 0x00", 512, "XLS", kXls, "xls,xla"},
    {"0xFD 0xFF 0xFF 0xFF 0x28 0x00", 512, "XLS", kXls, "xls,xla"},
    {"0xFD 0xFF 0xFF 0xFF 0x29 0x00", 512, "XLS", kXls, "xls,xla"},
    {"0xFD 0xFF 0xFF 0xFF 0x02 0x02", 512, "XLS", kXls, "xls,xla"},
    {"0xFD 0xFF 0xFF 0xFF 0x10 0x02", 512, "XLS", kXls, "xls,xla"},
    {"0xFD 0xFF 0xFF 0xFF 0x1f 0x02", 512, "XLS", kXls, "xls,xla"},
    {"0xFD 0xFF 0xFF 0xFF 0x22 0x02", 512, "XLS", kXls, "xls,xla"},
    {"0xFD 0xFF 0xFF 0xFF 0x23 0x02", 512, "XLS", kXls, "xls,xla"},
    {"0xFD 0xFF 0xFF 0xFF 0x28 0x02", 512, "XLS", kXls, "xls,xla"},
    {"0xFD 0xFF 0xFF 0xFF 0x29 0x02", 512, "XLS", kXls, "xls,xla"},
    {"0xFD 0xFF 0xFF 0xFF 0xEC 0x01", 512, "XLS", kXls, "xls,xla"},
    {"0xFD 0xFF 0xFF 0xFF 0x20 0x00 0x00 0x00", 512, "XLS", kXls, "xls,xla"},
    {"0x09 0x08 0x10 0x00 0x00 0x06 0x05 0x00", 512, "XLS", kXls, "xls,xla"},
    {"0xFD 0xFF 0xFF 0xFF 0x02", 512, "PUB", "application/vnd.ms-office", "pub"},
    {"0xFD 0xFF 0xFF 0xFF 0x04", 512, "SUO", "application/CDFV2", "suo"},
};

// Thumbnail databases: the "0xxx" tokens hold no number, so the pattern is the nine
// contiguous bytes FD FF FF FF 00 04 00 00 00.
constexpr const char* kThumbsText = "0xFD 0xFF 0xFF 0xFF 0x00 0xxx 0xxx 0xxx 0xxx 0xxx 0xxx 0xxx 0x04 0x00 0x00 0x00";

}  // namespace

FileSignature::FileSignature(std::string hexText, uint32_t off, std::string type, std::string mimeType,
                             std::string desc, std::string exts)
    : bytes(parseHexText(hexText)),
      offset(off),
      typeId(std::move(type)),
      mime(std::move(mimeType)),
      description(std::move(desc)),
      extensions(std::move(exts)) {}

std::vector<uint8_t> FileSignature::parseHexText(const std::string& text) {
    std::vector<uint8_t> out;
    size_t i = 0;
    const size_t n = text.size();
    auto separator = [](unsigned char c) { return c == ',' || kiv::isAsciiSpace(c); };
    while (i < n) {
        while (i < n && separator(static_cast<unsigned char>(text[i]))) ++i;
        const size_t start = i;
        while (i < n && !separator(static_cast<unsigned char>(text[i]))) ++i;
        size_t p = start;
        if (i - start >= 2 && text[p] == '0' && (text[p + 1] == 'x' || text[p + 1] == 'X')) p += 2;
        // Only the low eight bits are kept, so longer numbers reduce digit by digit.
        unsigned value = 0;
        bool any = false;
        for (; p < i && hexDigit(static_cast<unsigned char>(text[p])) >= 0; ++p) {
            value = ((value << 4) | static_cast<unsigned>(hexDigit(static_cast<unsigned char>(text[p])))) & 0xFFFFu;
            any = true;
        }
        if (any) out.push_back(static_cast<uint8_t>(value & 0xFF));
    }
    return out;
}

void initISOVecSignatures() {
    for (uint32_t off : kIsoOffsets) isoSignatures.emplace_back(kIsoText, off, "data", "", "", "");
}

void initFallBackSignatures() {
    std::vector<FileSignature>& rows = fallBackSignatures["MSOFFICE"];
    bool header = true;
    for (const FallBackRow& r : kFallBackRows) {
        // The header row's texts never reach a result; the others describe their type id.
        std::string description = header ? std::string() : FileTypeDescription.at(r.typeId);
        rows.emplace_back(r.hexText, r.offset, r.typeId, r.mime, description, r.extensions);
        header = false;
    }
    rows.emplace_back(kThumbsText, 512, "DB", "application/CDFV2-unknown", "Windows Thumbnail Database", "db");
}
