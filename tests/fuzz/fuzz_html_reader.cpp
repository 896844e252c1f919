// Tag reader: the markup probe and the tag walk over a file, the same file read in small
// windows (which must list the same tags), and the walk over a text (which stops at the first
// NUL), then the markup classification built on the tag lists.
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "FuzzSupport.h"
#include "core/ByteSource.h"
#include "formats/text/HTMLReader.h"
#include "formats/text/TextBasedFTAUtils.h"

namespace {
// Inputs up to kWindowCheckMax are walked a second time in windows of kSmallWindow bytes: the
// window edges fall everywhere in them, and the costliest seeds (1 MiB) are walked once.
constexpr size_t kSmallWindow = 64;
constexpr size_t kWindowCheckMax = 64 * 1024;

// Folds the collected tags into a hash: a second walk checked without a second pair of lists.
uint64_t fold(uint64_t h, std::string_view name, std::string_view fullTag) {
    for (std::string_view part : {name, fullTag}) {
        for (unsigned char c : part) h = (h ^ c) * 1099511628211ull;
        h = (h ^ 0x100) * 1099511628211ull;  // ends each part
    }
    return h;
}

class FoldingReader : public HTMLReader {
public:
    using HTMLReader::HTMLReader;
    uint64_t hash = 1469598103934665603ull;

protected:
    void collectTags(const Collected* tags, size_t n) override {
        for (size_t i = 0; i < n; ++i) hash = fold(hash, tags[i].name, tags[i].fullTag);
    }
};
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > kivfuzz::kMaxInput) return 0;
    const kiv::MemoryByteSource src(data, size);
    {
        HTMLReader reader;
        const bool markup = reader.readFile(src);
        if (markup) TextBasedFTAUtils::isXMLBased(reader.getListTag(), reader.getListFullTag());
        if (size <= kWindowCheckMax) {
            uint64_t listed = FoldingReader().hash;
            for (size_t i = 0; i < reader.getListTag().size(); ++i)
                listed = fold(listed, reader.getListTag()[i], reader.getListFullTag()[i]);
            FoldingReader windowed(kSmallWindow);
            if (windowed.readFile(src) != markup || windowed.hash != listed) std::abort();
        }
    }
    {
        HTMLReader reader;
        reader.readFromString(std::string(reinterpret_cast<const char*>(data), size));
    }
    TextBasedFTAUtils::checkHTMLComponent(src);
    return 0;
}
