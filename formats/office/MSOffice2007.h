// Office Open XML packages told apart: the main part is found through the package
// relationships ("_rels/.rels"), must be a member of the archive, and the content type that
// "[Content_Types].xml" declares for it names the kind (Word, Excel, PowerPoint, Visio, with
// their templates, macro-enabled variants, shows and add-ins).
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "core/ByteSource.h"

enum MsOfficeTypes : uint8_t {
    MSOFFICE_NONE = 0,
    MSOFFICE_DOCX = 1,
    MSOFFICE_DOCM = 2,
    MSOFFICE_DOTM = 3,
    MSOFFICE_DOTX = 4,
    MSOFFICE_PPTX = 5,
    MSOFFICE_PPTM = 6,
    MSOFFICE_PPSX = 7,
    MSOFFICE_PPSM = 8,
    MSOFFICE_POTX = 9,
    MSOFFICE_POTM = 10,
    MSOFFICE_XLSX = 11,
    MSOFFICE_XLSM = 12,
    MSOFFICE_XLSB = 13,
    MSOFFICE_XLAM = 14,
    MSOFFICE_XLTX = 15,
    MSOFFICE_XLTM = 16,
    MSOFFICE_XPS = 17,
    MSOFFICE_OXPS = 18,
    MSOFFICE_VSDX = 19,
    MSOFFICE_VSDM = 20,
    MSOFFICE_VSSX = 21,
    MSOFFICE_VSSM = 22,
    MSOFFICE_VSTX = 23,
    MSOFFICE_VSTM = 24,
    MSOFFICE_ZIP_ENCRYPTED = 25,
};

class MSOffice2007 {
public:
    // The kind of package named by its main part's content type; 0 when nothing decides.
    // Members are read through 7za, so a source without a path answers 0.
    static MsOfficeTypes checkOfficeType(const std::string& path);
    static MsOfficeTypes checkOfficeType(const kiv::ByteSource& src);

    // Fills the result for a code; the encrypted flag is written only for 25. Codes without
    // a row of their own (0 among them) give "ZIP".
    static void adjustMsOfficeTypes(MsOfficeTypes type, std::string& typeId, std::string& mime, std::string& extensions,
                                    std::string& description, bool& encrypted);

    // Name of the main part that the package relationships point at through a relationship
    // whose type contains one of relationTypes; empty when none.
    static std::string findMainFileFromRels(const kiv::ByteSource& src, const std::vector<std::string>& relationTypes);

    // True when value contains any entry of list (case-sensitive).
    static bool checkRelTypeInsideList(const std::vector<std::string>& list, const std::string& value);

    // Each clears type, then sets it from the first content type of its family found in the
    // text; true when set.
    static bool isDOCXFamilyType(const std::string& contentTypes, MsOfficeTypes& type);
    static bool isXLSXFamilyType(const std::string& contentTypes, MsOfficeTypes& type);
    static bool isPPTXFamilyType(const std::string& contentTypes, MsOfficeTypes& type);
    static bool isVisioFamilyType(const std::string& contentTypes, MsOfficeTypes& type);
};

// Helpers of the relationship walk, visible for the tests.

// Archiver output that begins with a line feed and carries an "ERRORS:" block loses that block
// and the lines up to the first empty one; any other output is returned unchanged.
std::string removeErrorFrom7z(const std::string& output);

// A relationship target as an archive member name: leading characters that are not ASCII
// letters ("/", "../") go; a target without any letter is returned unchanged.
std::string getMainFileName(const std::string& target);

// Splits a relationship tag text of the form
//   Relationship N1=qV1q N2=qV2q N3=qV3q[rest]
// (q the given quote, "Relationship " in any case) into its seven parts, each name or value
// as long as the rest still fits, earlier parts first; the rest may be empty. No CR or LF may
// follow the prefix. Linear in the tag length, so hostile tags cost no more than their bytes.
bool matchRelationshipTag(const std::string& tag, char quote, std::array<std::string, 7>& groups);

// A relationship tag with the white space XML allows (space, tab, CR, LF, one or more) after the
// element name, between attributes and around '=': first as matchRelationshipTag reads it, double
// quotes before single ones, so a tag that reading takes keeps its groups; failing that,
// the same on the tag with its spacing made canonical (outside quoted text, each run of white
// space one space, none next to '='). Linear in the tag length.
bool readRelationshipTag(const std::string& tag, std::array<std::string, 7>& groups);
