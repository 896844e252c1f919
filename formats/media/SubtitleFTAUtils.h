// Binary broadcast subtitle probes: PAC files (fixed trailer text) and 890 files.
#pragma once

#include <cstdint>
#include <string>

#include "core/ByteSource.h"

enum SubtitleType : uint8_t {
    SUBTITLE_NONE = 0,
    SUBTITLE_PAC = 1,
    SUBTITLE_890 = 2,
};

class SubtitleFTAUtils {
public:
    // Tries PAC, then 890.
    static SubtitleType isSubtitle(const std::string& path);
    static SubtitleType isSubtitle(const kiv::ByteSource& src);

    static SubtitleType isPACFile(const kiv::ByteSource& src);
    static SubtitleType is890File(const kiv::ByteSource& src);
};

// The result of a subtitle code: PAC or 890; any other code gives "data".
void adjustSubtitleTypes(uint8_t code, std::string& typeId, std::string& mime, std::string& extensions,
                         std::string& description);
