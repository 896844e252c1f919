// AutoCAD drawings (DWG) with their release, drawing exchange files (DXF, binary or text)
// with their version, Design Web Format files (DWF) with their version, and compiled
// AutoLISP files (FAS).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "core/ByteSource.h"

// The drawing family, given back beside the version code.
enum AutoCADExts : uint8_t {
    AUTOCAD_EXT_NONE = 0,
    AUTOCAD_EXT_DWG = 1,
    AUTOCAD_EXT_DXF = 2,
    AUTOCAD_EXT_DWF = 3,
    AUTOCAD_EXT_FAS = 4,
};

// Version codes; the shared DXFVersion / DWFVersion tables map version texts onto 24-36 and 38-59.
enum AutoCADTypes : uint8_t {
    AUTOCAD_NONE = 0,
    DWG_MC0_0 = 1,
    DWG_AC1_2 = 2,
    DWG_AC1_4 = 3,
    DWG_AC1_50 = 4,
    DWG_AC2_10 = 5,
    DWG_AC1002 = 6,
    DWG_AC1003 = 7,
    DWG_AC1004 = 8,
    DWG_AC1006 = 9,
    DWG_AC1009 = 10,
    DWG_AC1012 = 11,
    DWG_AC1014 = 12,
    DWG_AC1015 = 13,
    DWG_AC1018 = 14,
    DWG_AC1021 = 15,
    DWG_AC1024 = 16,
    DWG_AC1027 = 17,
    DWG_AC1032 = 18,
    DXF_UNKNOWN_VERSION = 19,
    DXF_AC1002 = 24,
    DXF_AC1003 = 25,
    DXF_AC1004 = 26,
    DXF_AC1006 = 27,
    DXF_AC1009 = 28,
    DXF_AC1012 = 29,
    DXF_AC1014 = 30,
    DXF_AC1015 = 31,
    DXF_AC1018 = 32,
    DXF_AC1021 = 33,
    DXF_AC1024 = 34,
    DXF_AC1027 = 35,
    DXF_AC1032 = 36,
    DWF_UNKNOWN_VERSION = 37,
    DWF_V00_17 = 38,
    DWF_V06_20 = 59,
    FAS_FILE = 60,
};

class AutoCADUtil {
public:
    // Size of the block that the DXF and DWF tests look at.
    static constexpr size_t kBlockSize = 64;

    // The signatures are compile-time constants; kept for engine start-up, which calls it once.
    static void init();

    // The first probe with a non-zero code decides: DWG, FAS, DWF, then DXF. family is
    // AUTOCAD_EXT_NONE unless a probe matched.
    static AutoCADTypes determineAutoCADType(const std::string& path, unsigned long size, AutoCADExts& family);
    static AutoCADTypes determineAutoCADType(const kiv::ByteSource& src, AutoCADExts& family);

    // head: the file's first six bytes.
    static AutoCADTypes determineDWG(const uint8_t (&head)[6]);
    // block: kBlockSize bytes, zero beyond what was read or gathered.
    static AutoCADTypes determineDXF(const char* block);
    static AutoCADTypes determineDWF(const char* block);
    static AutoCADTypes determineFAS(const kiv::ByteSource& src, AutoCADTypes& out);

    // Code 0, or a family outside 1-4, leaves the outputs unchanged.
    static void adjustAutoCADTypes(AutoCADTypes code, AutoCADExts family, std::string& typeId, std::string& mime,
                                   std::string& extensions, std::string& description);

    // Signatures compared at the start of the file or of the gathered DXF text.
    static constexpr char dxfBinaryHeader[] = "AutoCAD Binary DXF\r\n\x1a";  // + its NUL: 22 bytes
    static constexpr size_t dxfBinaryHeaderSize = 22;
    static constexpr char dxfASCIIHeader[] = "0SECTION2HEADER9$ACADVER1";
    static constexpr char dxfTablesSection[] = "0SECTION2HEADER9ENDSEC0SECTION2TABLES0";
    static constexpr char dxfClassesSection[] = "0SECTION2HEADER9ENDSEC0SECTION2CLASSES0";
    static constexpr char dwfASCIIHeader[] = "(DWF V";
    static constexpr char fasASCIIHeader[] = "\r\n FAS4-FILE ; Do not change it!\r\n";

    // Fills the block from the first lines of a text DXF (group codes and values with
    // blanks removed, joined). False when the text gives nothing to test.
    static bool gatherDXFText(const kiv::ByteSource& src, char (&block)[kBlockSize]);
};
