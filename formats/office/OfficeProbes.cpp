#include "formats/office/OfficeProbes.h"

#include "core/ByteSignatures.h"
#include "core/ByteUtils.h"

using kiv::ByteSource;
using kiv::ByteView;

namespace {
constexpr uint32_t kTnefSignature = 0x223E9F78;
constexpr uint32_t kTnefVersionAttribute = 0x00089006;
constexpr uint32_t kTnefVersion = 0x00010000;
}  // namespace

bool isTNEF(const ByteSource& src) {
    if (src.size() < 40) return false;
    const ByteView h = src.head(40);
    // Signature, then the first attribute: level byte at 6, the TNEF-version attribute id at 7,
    // its 4-byte length at 11 and the version value at 15.
    return kiv::le32(h.data, h.size, 0) == kTnefSignature && kiv::le32(h.data, h.size, 7) == kTnefVersionAttribute &&
           kiv::le32(h.data, h.size, 15) == kTnefVersion;
}

bool findMagicSignatureFallback(const ByteSource& src, std::string& typeId, std::string& mime, std::string& description,
                                std::string& extensions) {
    auto it = fallBackSignatures.find("MSOFFICE");
    if (it == fallBackSignatures.end() || it->second.empty()) return false;
    const std::vector<FileSignature>& rows = it->second;
    auto matches = [&](const FileSignature& row) {
        return checkBytesMatch(src, row.bytes.data(), static_cast<unsigned>(row.bytes.size()), row.offset) == 1;
    };
    if (!matches(rows[0])) return false;
    for (size_t i = 1; i < rows.size(); ++i) {
        if (!matches(rows[i])) continue;
        typeId = rows[i].typeId;
        mime = rows[i].mime;
        description = rows[i].description;
        extensions = rows[i].extensions;
        return true;
    }
    return false;
}

bool isTNEF(const std::string& path, unsigned long) { return isTNEF(kiv::FileByteSource(path)); }
bool findMagicSignatureFallback(const std::string& path, unsigned long, std::string& typeId, std::string& mime,
                                std::string& description, std::string& extensions) {
    return findMagicSignatureFallback(kiv::FileByteSource(path), typeId, mime, description, extensions);
}
