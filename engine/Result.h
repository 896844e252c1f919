// The detection result every detector and rule writes, the fixed results scan writes itself,
// and the result JSON handed to the host.
#pragma once

#include <cstddef>
#include <map>
#include <string>
#include <vector>

namespace kiv {

// Type id, MIME type, description, extensions and the encrypted flag. Detectors and adjust
// functions take (type, mime, extensions, description); the JSON writer and the mapping rules
// take the description before the extensions.
struct DetectionResult {
    std::string typeId;
    std::string mime;
    std::string description;
    std::string extensions;
    bool encrypted = false;
};

// The results of the single-type detectors, the marker test and the PDF family.
enum class FixedRow { Data, PdfEncrypted, Pdf, Ai, Rtf, Amr, XexExe, Pst, Tnef, Wav, Mp3 };

// Writes a fixed row: its type id, MIME type and extensions, the FileTypeDescription text of
// the type id, and its encrypted flag.
void writeFixedRow(FixedRow row, DetectionResult& result);

// Number of entries currently held by the result-string registry (addString/freeString).
size_t registeredStringCount();

}  // namespace kiv

// Escapes a text for a JSON string value: quote, backslash, the five named control escapes,
// and \u00XX for every other byte below 0x20. Well-formed UTF-8 passes unchanged; each byte
// that is not part of a well-formed sequence becomes \uFFFD, so the value is valid UTF-8.
std::string escapeJsonString(const std::string& text);

// The result JSON: one line without whitespace, keys typeID, type, groupIDs, groupID,
// description, extensions, encrypted and, only when typeIds is not empty, type_ids.
// Groups come from the catalogue lookup map_TypeToGroupId; a type id it does not list is in "O".
std::string createOutputJson(const std::string& typeId, const std::string& mime, const std::string& description,
                             const std::string& extensions, bool encrypted, const std::vector<std::string>& typeIds);

// The same with an explicit group lookup (tests, and callers that hold their own catalogue).
std::string createOutputJson(const std::string& typeId, const std::string& mime, const std::string& description,
                             const std::string& extensions, bool encrypted, const std::vector<std::string>& typeIds,
                             const std::map<std::string, std::vector<std::string>>& groups);
