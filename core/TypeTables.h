// Shared type tables read by every detector: the description of each type id, the
// extensions that kivFileType flags as mismatched, and the AutoCAD version tables.
// All are built when the library loads and never change afterwards. Do not read them
// from another unit's static initialiser (initialisation order across units is unspecified).
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <unordered_set>
#include <vector>

// Type id -> description; 197 keys ("M4V" keeps its first description).
extern const std::map<std::string, std::string> FileTypeDescription;
// Upper-case extensions whose "data" verdict kivFileType marks with "-".
extern const std::vector<std::string> MisMatchExtensions;
// Six-character DXF version text ("AC1032") -> AutoCADTypes code.
extern const std::map<std::string, uint8_t> DXFVersion;
// Five-character DWF version text ("06.20") -> AutoCADTypes code.
extern const std::map<std::string, uint8_t> DWFVersion;
// AutoCADTypes code -> description, per drawing family.
extern const std::map<uint8_t, std::string> DWGVersionDescription;
extern const std::map<uint8_t, std::string> DXFVersionDescription;
extern const std::map<uint8_t, std::string> DWFVersionDescription;

// Key texts of the result JSON.
extern const std::string typeIDStr;
extern const std::string mimeStr;
extern const std::string descriptionStr;
extern const std::string extensionsStr;
extern const std::string encryptedStr;

// Archive members the Office Open XML, XPS and OpenDocument probes ask for.
extern const std::string contentTypesXml;
extern const std::string METAINFManifestXml;

// Extensions kivFileType treats as plain text.
extern const std::unordered_set<std::string> textBasedExtensions;

// The working directory with a trailing "/", recorded by init; the archiver 7za is run
// from here. Empty before init.
extern std::string currentDir;
