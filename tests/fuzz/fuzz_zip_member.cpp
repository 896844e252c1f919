// In-process ZIP member reads: the end record, the whole central directory, name matching,
// the local headers and the inflated data, on the names the engine asks packages for.
#include <vector>

#include "FuzzSupport.h"
#include "core/ByteSource.h"
#include "formats/archive/ZipMemberReader.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > kivfuzz::kMaxInput) return 0;
    const kiv::MemoryByteSource src(data, size);
    size_t total = 0;
    for (const char* name : {"[Content_Types].xml", "_rels/.rels", "META-INF/manifest.xml", "*.fdseq", "mimetype",
                             "word/document.xml", "*", "?"}) {
        std::vector<char> out;
        if (kiv::zip::readMemberLike7za(src, name, out))
            for (char c : out) total += static_cast<unsigned char>(c);
    }
    kivfuzz::sink(total);
    return 0;
}
