// Resource directory of a PE executable, flattened into type -> name -> language records.
// Every offset is checked against the file size before it is read, a directory reached twice
// ends the walk, and the number of entries read is capped.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "core/ByteSource.h"

class PEFileParser {
public:
    // The 40-byte section header.
    struct SectionTable {
        char name[8] = {};
        uint32_t virtualSize = 0;
        uint32_t virtualAddress = 0;
        uint32_t sizeOfRawData = 0;
        uint32_t pointerToRawData = 0;
        uint32_t pointerToRelocations = 0;
        uint32_t pointerToLinenumbers = 0;
        uint16_t numberOfRelocations = 0;
        uint16_t numberOfLinenumbers = 0;
        uint32_t characteristics = 0;
    };

    // The 16-byte resource directory header.
    struct ResourceDirectory {
        uint32_t characteristics = 0;
        uint32_t timeDateStamp = 0;
        uint16_t majorVersion = 0;
        uint16_t minorVersion = 0;
        uint16_t numberOfNamedEntries = 0;
        uint16_t numberOfIdEntries = 0;
    };

    // The 16-byte resource data entry; the data address is a virtual address.
    struct ResourceDataEntry {
        uint32_t dataAddress = 0;
        uint32_t size = 0;
        uint32_t codePage = 0;
        uint32_t reserved = 0;
    };

    // A leaf. Entries named by a string have id 0 and the name (UTF-16 units plus a 0);
    // entries with a numeric id have an empty name.
    struct ResDataEntryStructure {
        uint64_t offset = 0;
        ResourceDataEntry entry;
        uint32_t id = 0;
        std::wstring name;
    };

    // A directory node.
    struct ResDirTableStructure {
        uint64_t offset = 0;
        ResourceDirectory directory;
        uint32_t id = 0;
        std::wstring name;
        std::vector<ResDirTableStructure> subdirectories;
        std::vector<ResDataEntryStructure> dataEntries;
    };

    // One flattened record.
    struct DataRepresentStructure {
        uint32_t typeId = 0;
        std::wstring typeName;
        uint32_t nameId = 0;
        std::wstring name;
        std::wstring languageName;
        uint32_t languageId = 0;
        uint64_t dataFileOffset = 0;
        uint32_t size = 0;
        uint32_t codePage = 0;
    };

    explicit PEFileParser(const std::string& path);
    // Reads through the caller's source, which it never closes.
    PEFileParser(const kiv::ByteSource& src, unsigned long long size);
    ~PEFileParser() { close(); }
    PEFileParser(const PEFileParser&) = delete;
    PEFileParser& operator=(const PEFileParser&) = delete;

    bool open(const std::string& path);
    bool open(const kiv::ByteSource& src, unsigned long long size);
    void close();

    // True when a section of this name (compared within its 8-byte field) exists.
    bool getSectionInformation(const std::string& name, SectionTable& out);
    // Breadth-first walk of ".rsrc"; true when the whole tree was read.
    bool parseResourceSection(ResDirTableStructure& root);
    // Appends one record per data entry at the third level; true when ".rsrc" exists.
    bool restructureResourceSection(const ResDirTableStructure& root, std::vector<DataRepresentStructure>& out);
    // Empty when anything failed.
    std::vector<DataRepresentStructure> getListResourceObjects();

private:
    bool readName(uint64_t offset, std::wstring& name) const;

    std::unique_ptr<kiv::FileByteSource> own_;
    const kiv::ByteSource* src_ = nullptr;
    uint64_t size_ = 0;
};
