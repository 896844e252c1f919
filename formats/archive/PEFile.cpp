#include "formats/archive/PEFile.h"

#include <cstring>
#include <deque>
#include <unordered_set>

#include "core/ArchiveRead.h"
#include "core/Limits.h"

using kiv::archive::getLE16;
using kiv::archive::getLE32;
using kiv::archive::readZ;

namespace {
constexpr uint64_t kDosHeaderLen = 64;
constexpr uint64_t kFileHeaderLen = 24;  // "PE\0\0" and the COFF file header
constexpr uint64_t kSectionHeaderLen = 40;
constexpr uint64_t kDirectoryLen = 16;
constexpr uint64_t kEntryLen = 8;
constexpr uint64_t kDataEntryLen = 16;
constexpr uint32_t kHighBit = 0x80000000u;

bool fits(uint64_t off, uint64_t n, uint64_t size) { return off <= size && n <= size - off; }
}  // namespace

PEFileParser::PEFileParser(const std::string& path) { open(path); }

PEFileParser::PEFileParser(const kiv::ByteSource& src, unsigned long long size) { open(src, size); }

bool PEFileParser::open(const std::string& path) {
    close();
    own_ = std::make_unique<kiv::FileByteSource>(path);
    if (!own_->isOpen()) {
        own_.reset();
        return false;
    }
    src_ = own_.get();
    size_ = own_->size();
    return true;
}

bool PEFileParser::open(const kiv::ByteSource& src, unsigned long long size) {
    close();
    src_ = &src;
    size_ = size;
    return true;
}

void PEFileParser::close() {
    own_.reset();
    src_ = nullptr;
    size_ = 0;
}

bool PEFileParser::getSectionInformation(const std::string& name, SectionTable& out) {
    if (src_ == nullptr || size_ < kDosHeaderLen) return false;
    uint8_t dos[kDosHeaderLen];
    readZ(*src_, 0, dos, sizeof dos);
    const uint64_t peOffset = getLE32(dos + 60);
    if (!fits(peOffset, kFileHeaderLen, size_)) return false;
    uint8_t fileHeader[kFileHeaderLen];
    readZ(*src_, peOffset, fileHeader, sizeof fileHeader);
    const uint16_t sections = getLE16(fileHeader + 6);
    const uint64_t table = peOffset + kFileHeaderLen + getLE16(fileHeader + 20);
    if (!fits(table, kSectionHeaderLen * sections, size_)) return false;

    std::vector<uint8_t> headers(static_cast<size_t>(kSectionHeaderLen * sections));
    if (readZ(*src_, table, headers.data(), headers.size()) != headers.size()) return false;
    for (uint16_t i = 0; i < sections; ++i) {
        const uint8_t* h = headers.data() + kSectionHeaderLen * i;
        // The name field is 8 bytes and only NUL-terminated when shorter.
        const size_t len = strnlen(reinterpret_cast<const char*>(h), 8);
        if (name.size() != len || std::memcmp(h, name.data(), len) != 0) continue;
        std::memcpy(out.name, h, 8);
        out.virtualSize = getLE32(h + 8);
        out.virtualAddress = getLE32(h + 12);
        out.sizeOfRawData = getLE32(h + 16);
        out.pointerToRawData = getLE32(h + 20);
        out.pointerToRelocations = getLE32(h + 24);
        out.pointerToLinenumbers = getLE32(h + 28);
        out.numberOfRelocations = getLE16(h + 32);
        out.numberOfLinenumbers = getLE16(h + 34);
        out.characteristics = getLE32(h + 36);
        return true;
    }
    return false;
}

// A resource name: u16 count of UTF-16 units, then the units; kept one unit per character
// with a 0 appended.
bool PEFileParser::readName(uint64_t offset, std::wstring& name) const {
    if (offset >= size_ || size_ - offset <= 2) return false;
    uint8_t lenBytes[2];
    readZ(*src_, offset, lenBytes, 2);
    const uint64_t units = getLE16(lenBytes);
    if ((units + 1) * 2 >= size_ - offset) return false;
    std::vector<uint8_t> raw(static_cast<size_t>(units * 2));
    readZ(*src_, offset + 2, raw.data(), raw.size());
    name.clear();
    name.reserve(static_cast<size_t>(units) + 1);
    for (uint64_t i = 0; i < units; ++i) name.push_back(static_cast<wchar_t>(getLE16(raw.data() + 2 * i)));
    name.push_back(L'\0');
    return true;
}

bool PEFileParser::parseResourceSection(ResDirTableStructure& root) {
    SectionTable rsrc;
    if (!getSectionInformation(".rsrc", rsrc)) return false;
    const uint64_t base = rsrc.pointerToRawData;
    if (base > size_) return false;
    root = ResDirTableStructure();
    root.offset = base;

    // Children are queued only once their parent's list is complete, so the pointers into
    // the tree stay valid.
    std::deque<ResDirTableStructure*> queue{&root};
    std::unordered_set<uint64_t> visited;
    uint64_t items = 0;
    uint64_t nameUnits = 0;
    while (!queue.empty()) {
        ResDirTableStructure* node = queue.front();
        queue.pop_front();
        if (!visited.insert(node->offset).second) return false;  // a loop
        if (!fits(node->offset, kDirectoryLen, size_)) return false;
        uint8_t d[kDirectoryLen];
        readZ(*src_, node->offset, d, sizeof d);
        ResourceDirectory& dir = node->directory;
        dir.characteristics = getLE32(d);
        dir.timeDateStamp = getLE32(d + 4);
        dir.majorVersion = getLE16(d + 8);
        dir.minorVersion = getLE16(d + 10);
        dir.numberOfNamedEntries = getLE16(d + 12);
        dir.numberOfIdEntries = getLE16(d + 14);
        const uint64_t entries = uint64_t{dir.numberOfNamedEntries} + dir.numberOfIdEntries;
        // Entries the file does not hold, or more than any real tree has, end the walk.
        if (!fits(node->offset + kDirectoryLen, kEntryLen * entries, size_)) return false;
        if (entries > kiv::limits::kPeResourceMaxNodes - items) return false;
        items += entries;

        std::vector<uint8_t> table(static_cast<size_t>(kEntryLen * entries));
        readZ(*src_, node->offset + kDirectoryLen, table.data(), table.size());
        for (uint64_t e = 0; e < entries; ++e) {
            const uint32_t nameField = getLE32(table.data() + kEntryLen * e);
            const uint32_t dataField = getLE32(table.data() + kEntryLen * e + 4);
            uint32_t id = 0;
            std::wstring name;
            if (nameField & kHighBit) {
                if (!readName(base + (nameField & ~kHighBit), name)) return false;
                // Entries may all point at one long name: what the names hold in all is
                // capped like the node count, or a small file could fill gigabytes.
                nameUnits += name.size();
                if (nameUnits > kiv::limits::kPeResourceMaxNameUnits) return false;
            } else {
                id = nameField;
            }
            const uint64_t target = base + (dataField & ~kHighBit);
            if (dataField & kHighBit) {
                ResDirTableStructure child;
                child.offset = target;
                child.id = id;
                child.name = std::move(name);
                node->subdirectories.push_back(std::move(child));
            } else {
                if (!fits(target, kDataEntryLen, size_)) return false;
                uint8_t de[kDataEntryLen];
                readZ(*src_, target, de, sizeof de);
                ResDataEntryStructure leaf;
                leaf.offset = target;
                leaf.entry.dataAddress = getLE32(de);
                leaf.entry.size = getLE32(de + 4);
                leaf.entry.codePage = getLE32(de + 8);
                leaf.entry.reserved = getLE32(de + 12);
                leaf.id = id;
                leaf.name = std::move(name);
                node->dataEntries.push_back(std::move(leaf));
            }
        }
        for (ResDirTableStructure& child : node->subdirectories) queue.push_back(&child);
    }
    return true;
}

bool PEFileParser::restructureResourceSection(const ResDirTableStructure& root,
                                              std::vector<DataRepresentStructure>& out) {
    SectionTable rsrc;
    if (!getSectionInformation(".rsrc", rsrc)) return false;
    for (const ResDirTableStructure& type : root.subdirectories) {
        for (const ResDirTableStructure& nameNode : type.subdirectories) {
            for (const ResDataEntryStructure& lang : nameNode.dataEntries) {
                DataRepresentStructure r;
                r.typeId = type.id;
                r.typeName = type.name;
                r.nameId = nameNode.id;
                r.name = nameNode.name;
                r.languageId = lang.id;
                r.languageName = lang.name;
                // The distance into the section is unsigned 32-bit: an address below the
                // section's lands beyond 4 GiB, outside any file this reads.
                r.dataFileOffset = uint64_t{rsrc.pointerToRawData} +
                                   static_cast<uint32_t>(lang.entry.dataAddress - rsrc.virtualAddress);
                r.size = lang.entry.size;
                r.codePage = lang.entry.codePage;
                out.push_back(std::move(r));
            }
        }
    }
    return true;
}

std::vector<PEFileParser::DataRepresentStructure> PEFileParser::getListResourceObjects() {
    std::vector<DataRepresentStructure> list;
    ResDirTableStructure root;
    if (parseResourceSection(root) && !restructureResourceSection(root, list)) list.clear();
    return list;
}
