// Calendar reader: the header test, the content-line tokeniser and the structural check.
#include "FuzzSupport.h"
#include "core/ByteSource.h"
#include "formats/text/CalendarReader.h"
#include "formats/text/TextBasedFTAUtils.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > kivfuzz::kMaxInput) return 0;
    const kiv::MemoryByteSource src(data, size);
    {
        CalendarReader reader;
        reader.open(src);
        if (reader.parseCalObj()) reader.checkDocumentType();
    }
    TextBasedFTAUtils::checkTextCalendarComponent(src);
    return 0;
}
