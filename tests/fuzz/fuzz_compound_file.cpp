// Compound-file reader: header, allocation tables and directory, then every entry's stream
// read whole and in a window, every storage's child index, and the document-type detection
// that walks Word, Excel and PowerPoint records over the same bytes.
#include "FuzzSupport.h"
#include "core/ByteSource.h"
#include "formats/office/CompoundFile.h"
#include "formats/office/OLEFTAUtil.h"

namespace {
// Directory entries visited per input; the reader itself caps the directory far higher.
constexpr int kMaxEntries = 4096;
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > kivfuzz::kMaxInput) return 0;
    const kiv::MemoryByteSource src(data, size);
    {
        CompoundFile cf;
        if (cf.open(src) == 0) {
            DirectoryEntry entry;
            for (int id = 0; id < kMaxEntries && cf.getDirectoryEntry(id, entry) == 0; ++id) {
                char* out = nullptr;
                cf.getData(&out, entry);
                OLEUtil::freePtr(&out);
                cf.readData(&out, entry, 512, 4096);
                OLEUtil::freePtr(&out);
                const uint8_t type = entry.data.objectType();
                if (type == 1 || type == 5) {
                    RBTree tree;
                    cf.getChildrenTree(id, tree);
                }
            }
            CFStorage root = cf.getRootStorage();
            for (const char* name : {"WordDocument", "Workbook", "Book", "PowerPoint Document", "EncryptionInfo"}) {
                CFStream stream;
                if (root.getStream(name, stream) == 0) {
                    char* out = nullptr;
                    stream.getData(&out);
                    OLEUtil::freePtr(&out);
                }
            }
        }
    }
    std::string typeId, mime, extensions, description;
    bool encrypted = false;
    OLEFTAUtil::isOLEFileType(src, typeId, mime, extensions, description, encrypted);
    return 0;
}
