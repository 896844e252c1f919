// Codes of the text stage: what kind of text a file is. The numbers are fixed (callers and
// stored results carry them); 5 is a gap that nothing produces.
#pragma once

#include <cstdint>

enum TextBasedType : uint8_t {
    TEXT_NONE = 0,
    TEXT_AIML = 1,
    TEXT_ATOM = 2,
    TEXT_GPX = 3,
    TEXT_HTML = 4,
    TEXT_UNASSIGNED = 5,
    TEXT_RDF = 6,
    TEXT_RELS = 7,
    TEXT_RSS = 8,
    TEXT_SVG = 9,
    TEXT_VML = 10,
    TEXT_XML = 11,
    TEXT_ZIR = 12,
    TEXT_ICS = 13,
    TEXT_VCS = 14,
    TEXT_EML = 15,
    TEXT_MHT = 16,
    TEXT_DAE = 17,
    TEXT_VDX = 18,
};
