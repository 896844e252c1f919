// Mail header reader: the header block, the field and parameter parsers, and the mail and
// saved-page decisions over the fields read.
#include "FuzzSupport.h"
#include "core/ByteSource.h"
#include "formats/text/MIMEHandler.h"
#include "formats/text/TextBasedFTAUtils.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > kivfuzz::kMaxInput) return 0;
    const kiv::MemoryByteSource src(data, size);
    {
        MIMEHandler handler;
        if (handler.parseMIMEHeader(src)) {
            handler.isEMLFileType();
            handler.isMHTFileType();
        }
    }
    TextBasedFTAUtils::checkTextMIMEComponent(src);
    return 0;
}
