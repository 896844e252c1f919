// ZIP central directory: the end record searched from the end and walked to from the start,
// the member-name test and the walk over every listed name.
#include <cstring>

#include "FuzzSupport.h"
#include "core/ByteSource.h"
#include "formats/archive/ZipArchive.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > kivfuzz::kMaxInput) return 0;
    const kiv::MemoryByteSource src(data, size);
    ZipArchive::findEndCentralDirFromBot(src, size);
    ZipArchive::findEndCentralDirFromTop(src, size);
    // The names the Office and OpenDocument checks ask for.
    for (const char* name : {"[Content_Types].xml", "mimetype", "META-INF/manifest.xml"})
        ZipArchive::checkFileNameExistInZip(src, size, name, static_cast<uint16_t>(std::strlen(name)));
    size_t total = 0;
    ZipArchive::forEachCentralDirName(src, size, [&total](const char* name, uint16_t length) {
        // Touch every byte of the name, so a name running past its buffer is reported.
        for (uint16_t i = 0; i < length; ++i) total += static_cast<unsigned char>(name[i]);
        return true;
    });
    kivfuzz::sink(total);
    return 0;
}
