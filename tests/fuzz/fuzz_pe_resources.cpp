// PE resource reader: section table, the breadth-first walk of the resource tree, and the
// flattened records with their names.
#include "FuzzSupport.h"
#include "core/ByteSource.h"
#include "formats/archive/PEFile.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > kivfuzz::kMaxInput) return 0;
    const kiv::MemoryByteSource src(data, size);
    PEFileParser parser(src, size);
    PEFileParser::SectionTable section;
    parser.getSectionInformation(".rsrc", section);
    size_t total = 0;
    for (const auto& record : parser.getListResourceObjects())
        total += record.typeName.size() + record.name.size() + record.languageName.size() + record.size;
    kivfuzz::sink(total);
    return 0;
}
