// Shared by the engine detector tests: byte builders and temporary directories (the archive
// kit), the generated packages, and the signature tables that init builds.
#pragma once

#include <gtest/gtest.h>

#include <mutex>
#include <string>

#include "engine/ByteSignatures.h"
#include "engine/EngineDetectors.h"
#include "engine/TypeTables.h"
#include "tests/formats/archive/ArchiveTestKit.h"
#include "tests/formats/office/PackageFixtures.h"

namespace dettest {

using kit::ByteBuilder;
using kit::Bytes;

// The tables are appended to, so they are built once per test program, as init does.
inline void buildSignatureTables() {
    static std::once_flag once;
    std::call_once(once, [] {
        initISOVecSignatures();
        initFallBackSignatures();
    });
}

inline Bytes bytes(const std::string& s) { return Bytes(s.begin(), s.end()); }

inline std::string realFile(const std::string& name) {
    return std::string(KIV_SOURCE_DIR) + "/tests/engine/detectors/fixtures/real/" + name;
}

struct Result {
    std::string typeId, mime, extensions, description;
    bool encrypted = false;
};

}  // namespace dettest
