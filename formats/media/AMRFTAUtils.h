// Adaptive Multi-Rate speech files, by their magic line.
#pragma once

#include <string>

#include "core/ByteSource.h"
#include "formats/media/MediaContainerFileType.h"

class AMRFTAUtils {
public:
    // MEDIA_CONTAINER_AMR (16) for an AMR file, 0 otherwise.
    static int isAMRFileBased(const std::string& path, unsigned long size);
    static int isAMRFileBased(const kiv::ByteSource& src);
};
