// The detector cascade: nineteen format detectors in a fixed order over one bounded reader;
// the first that decides writes the result and ends the cascade.
#pragma once

#include <cstddef>

#include "core/ByteSource.h"
#include "engine/Result.h"

namespace kiv {

struct CascadeStep {
    const char* name;    // the detector, for traces and tests
    const char* reason;  // why it stands at this place
    // Runs the detector; when it decides, writes the result and answers true.
    bool (*decide)(const ByteSource& src, DetectionResult& result);
};

// Runs the cascade. True when a step decided; its name goes to *decidedBy when given.
bool runCascade(const ByteSource& src, DetectionResult& result, const char** decidedBy = nullptr);

}  // namespace kiv
