// Tag reader: the markup probe and the tag walk over a file, and the same walk over a text
// (which stops at the first NUL), then the markup classification built on the tag lists.
#include <string>

#include "engine/ByteSource.h"
#include "formats/text/HTMLReader.h"
#include "formats/text/TextBasedFTAUtils.h"
#include "FuzzSupport.h"

namespace {
constexpr size_t kMaxInput = 1 << 20;
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > kMaxInput) return 0;
    const kiv::MemoryByteSource src(data, size);
    {
        HTMLReader reader;
        if (reader.readFile(src)) TextBasedFTAUtils::isXMLBased(reader.getListTag(), reader.getListFullTag());
    }
    {
        HTMLReader reader;
        reader.readFromString(std::string(reinterpret_cast<const char*>(data), size));
    }
    TextBasedFTAUtils::checkHTMLComponent(src);
    return 0;
}
