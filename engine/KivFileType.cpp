// kivFileType: scan's result refined by the extension the host knows for the file, answered
// with a "type_ids" list. Works on the result itself rather than on scan's JSON, so no
// escaped text is ever read back.
#include "engine/KivFileType.h"

#include <algorithm>

#include "core/ByteUtils.h"
#include "core/TypeTables.h"
#include "engine/Engine.h"
#include "engine/HostApi.h"
#include "formats/archive/ArchiveFTAUtils.h"
#include "formats/archive/SplitArchive.h"
#include "formats/text/TextBasedFTAUtils.h"

namespace kiv {

namespace {

const char* const kEncryptedSuffix = "-ENCRYPTED";

std::string describe(const std::string& typeId) {
    auto it = FileTypeDescription.find(typeId);
    return it == FileTypeDescription.end() ? std::string() : it->second;
}

bool isOneOf(const std::string& text, std::initializer_list<const char*> names) {
    return std::any_of(names.begin(), names.end(), [&](const char* n) { return text == n; });
}

bool contains(const std::vector<std::string>& list, const std::string& text) {
    return std::find(list.begin(), list.end(), text) != list.end();
}

}  // namespace

std::string alterFileExtension(const std::string& extension) {
    auto it = listAlterExtensions.find(extension);
    return it == listAlterExtensions.end() ? extension : it->second;
}

bool shouldAddExtensionToTypeIds(const std::string& typeId) { return !contains(listTypeIdwithNoExtensions, typeId); }

bool getInformationBasedOnExtension(const std::string& extension, std::string& typeId, std::string& mime,
                                    std::string& description, std::string& extensions, bool& encrypted) {
    encrypted = false;
    // PowerPoint and Visio variants share one content signature; only the encrypted binary
    // formats carry the encryption over to the variant named by the extension.
    auto variant = [&](const char* variantMime, bool keepsEncryption) {
        const bool wasEncrypted = keepsEncryption && typeId.find("ENCRYPTED") != std::string::npos;
        typeId = wasEncrypted ? extension + kEncryptedSuffix : extension;
        mime = variantMime;
        extensions = asciiLowerCopy(extension);
        encrypted = wasEncrypted;
    };
    if (isOneOf(extension, {"PPT", "POT", "PPS"})) {
        variant("application/vnd.ms-powerpoint", true);
    } else if (isOneOf(extension, {"MHT", "MHTML"})) {
        typeId = "MHT";
        mime = "application/x-mimearchive";
        extensions = "mht,mhtml";
    } else if (extension == "EML") {
        typeId = "EML";
        mime = "message/rfc822";
        extensions = "eml";
    } else if (isOneOf(extension, {"VSD", "VSS", "VST"})) {
        variant("application/visio", true);
    } else if (isOneOf(extension, {"VDX", "VSX", "VTX"})) {
        variant("application/visio", false);
    } else {
        return false;
    }
    description = describe(typeId);
    return true;
}

void changeFTAElementsBasedOnExtension(std::string& typeId, std::string& mime, std::string& description,
                                       std::string& extensions, bool& encrypted, const std::string& extension) {
    if (extension.empty() || typeId.empty()) return;
    auto family = listTypeIdAlterByExtension.find(typeId);
    if (family == listTypeIdAlterByExtension.end() || !contains(family->second, extension)) return;
    getInformationBasedOnExtension(extension, typeId, mime, description, extensions, encrypted);
}

bool isSplitVolumeCandidate(const std::string& extension, const std::string& typeId) {
    return SplitArchive::isSplitExtension(extension) && ArchiveFTAUtils::isArchiveFileType(typeId) &&
           SplitArchive::splitFuntionHandler.count(typeId) != 0;
}

bool markSplitVolume(const ByteSource& src, DetectionResult& result) {
    auto test = SplitArchive::splitFuntionHandler.find(result.typeId);
    if (test == SplitArchive::splitFuntionHandler.end()) return false;
    const unsigned long size = src.size();
    if (!test->second(src, size)) return false;
    // 7Z, GZ and XZ pieces are no longer streams of their format: plain octets.
    auto mime = SplitArchive::splitMimeType.find(result.typeId);
    result.mime = mime == SplitArchive::splitMimeType.end() ? "application/octet-stream" : mime->second;
    result.typeId = "SPLIT_ARC";
    result.description = describe(result.typeId);
    result.extensions.clear();
    return true;
}

std::vector<std::string> applyExtensionRules(const std::string& extension, DetectionResult& r) {
    changeFTAElementsBasedOnExtension(r.typeId, r.mime, r.description, r.extensions, r.encrypted, extension);

    std::vector<std::string> typeIds;
    for (size_t start = 0;;) {
        size_t slash = r.typeId.find('/', start);
        typeIds.push_back(r.typeId.substr(start, slash == std::string::npos ? std::string::npos : slash - start));
        if (slash == std::string::npos) break;
        start = slash + 1;
    }

    // A plain-text file takes the plain-text name its extension gives (TXT named .csv).
    if (textBasedExtensions.count(extension) != 0 && textBasedExtensions.count(typeIds.back()) != 0)
        r.typeId = extension;

    if (shouldAddExtensionToTypeIds(r.typeId)) {
        std::string alt = alterFileExtension(extension);
        if (!alt.empty() && !contains(typeIds, alt)) typeIds.push_back(alt);
    }

    // XML dialects (and tar-packed appliances) keep their specific name beside the generic one.
    const std::string lower = asciiLowerCopy(extension);
    if (((r.extensions == "xml" && extension != "XML") || (r.extensions == "tar" && extension == "OVA")) &&
        TextBasedFTAUtils::setXMLBasedExt.count(lower) != 0) {
        r.extensions += ',';
        r.extensions += lower;
    }

    // Nothing recognised a file whose name claims a well-known format: flag the mismatch.
    if (r.typeId == "data" && contains(MisMatchExtensions, extension)) r.extensions = "-";
    return typeIds;
}

}  // namespace kiv

KIV_EXPORT int kivFileType(const char* path, const char* extension, char** json) {
    // No JSON is ever answered with 0: the host reads *json whenever it sees success.
    if (json == nullptr) return 1;
    *json = nullptr;
    try {
        const std::string ext = kiv::asciiUpperCopy(extension == nullptr ? "" : extension);
        kiv::DetectionResult r;
        // The volume test reads the file through the scan's own reader.
        auto splitVolume = [&ext](const kiv::ByteSource& src, kiv::DetectionResult& result) {
            if (!result.typeId.empty() && !result.mime.empty() && kiv::isSplitVolumeCandidate(ext, result.typeId))
                kiv::markSplitVolume(src, result);
        };
        if (!kiv::scanToResult(path, r, splitVolume)) return 1;
        if (r.typeId.empty() || r.mime.empty()) return 1;
        std::vector<std::string> typeIds = kiv::applyExtensionRules(ext, r);

        // The writer escapes every text, the host's extension in "type_ids" included.
        std::string text = createOutputJson(r.typeId, r.mime, r.description, r.extensions, r.encrypted, typeIds);
        const char* registered = addString(text.c_str());
        if (registered == nullptr) return 1;
        *json = const_cast<char*>(registered);
        return 0;
    } catch (...) {
        return 1;
    }
}
