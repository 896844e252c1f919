// Read-only access to OLE2 compound files (structured storage): header checks, the sector
// allocation tables, the directory and the streams of a storage by name. Every count and id
// read from the file is checked against the file's size before it is used, so a hostile
// file costs at most memory and time in proportion to its size.
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "core/ByteSource.h"

class CompoundFile;
class CFStream;

namespace OLEUtil {
// Zero-fills outLength units of out, then widens the first min(inLength, outLength) bytes
// of in, each taken as a signed byte, to 16-bit units.
void chars2Shorts(const char* in, const int& inLength, short* out, const int& outLength);

// Up to length bytes of a stream from offset, as many as the stream delivers; offsets and
// lengths beyond the reader's int arguments deliver nothing.
std::vector<unsigned char> readBytes(CFStream& stream, uint64_t offset, uint64_t length);

// Releases a buffer handed out by readData/getData and clears the pointer.
template <typename T>
void freePtr(T** p) {
    if (p != nullptr && *p != nullptr) {
        delete[] * p;
        *p = nullptr;
    }
}
}  // namespace OLEUtil

// One raw 128-byte directory entry.
struct DirEntryData {
    static constexpr size_t kSize = 128;
    unsigned char bytes[kSize] = {};

    const unsigned char* name() const { return bytes; }  // 32 UTF-16LE units
    uint8_t objectType() const { return bytes[0x42]; }   // 0 empty, 1 storage, 2 stream, 5 root
    uint32_t leftSibling() const;
    uint32_t rightSibling() const;
    uint32_t child() const;
    const unsigned char* classId() const { return bytes + 0x50; }
    uint32_t startSector() const;
    // Only the low 32 bits of the size field, signed: streams of 2 GiB and more read as
    // negative and so yield no data.
    int32_t streamSize() const;
};

struct DirectoryEntry {
    DirEntryData data;
    int id = -1;  // index in the directory
};

enum SectorType : char { RegularSector = 0, ShortSector = 1 };

// Index of a storage's children by their 64 name bytes. The first entry inserted under a
// name wins.
class RBTree {
public:
    using Key = std::array<unsigned char, 64>;
    void insert(int id, const unsigned char* name);
    // Directory id of a child whose first 2 * length name bytes equal name; -1 when none.
    int lookupNode(const short* name, int length) const;
    // The same with ASCII letters equal in either case, as the format compares names (its
    // directory orders them upper-cased); of the names that differ only so, the first inserted.
    int lookupNodeAnyCase(const short* name, int length) const;
    size_t size() const { return nodes_.size(); }

private:
    std::map<Key, int> nodes_;
    // The names up to their terminator with ASCII letters upper-cased, zeros after it.
    std::map<Key, int> folded_;
};

class CFItem {
public:
    virtual ~CFItem() = default;
    // Stores the owner and the entry; 0 on success.
    virtual int createFrom(CompoundFile* owner, const DirectoryEntry& entry);
    DirEntryData GetDirEntryData() const { return entry_.data; }
    const DirectoryEntry& entry() const { return entry_; }

protected:
    CompoundFile* owner_ = nullptr;  // borrowed; the CompoundFile outlives its items
    DirectoryEntry entry_;
};

class CFStream : public CFItem {
public:
    int readData(char** out, int offset, int length);
    int getData(char** out);
    // As readData, into dst (at least length bytes): answers the bytes delivered.
    int readInto(unsigned char* dst, int offset, int length);
    // Bytes readData delivers from offset 0 on.
    uint64_t deliverableSize();
};

// A stream's bytes as a ByteSource, read along its sector chain (short or regular): walks over
// a stream sit on the same window layer as walks over a file. Its size is what the stream
// delivers (its size field, cut where a short chain ends), and its reads are readData's
// bytes. The compound file must outlive it.
class CFStreamSource : public kiv::ByteSource {
public:
    explicit CFStreamSource(const CFStream& stream);

protected:
    size_t doRead(uint64_t off, void* dst, size_t n) const override;

private:
    mutable CFStream stream_;
};

class CFStorage : public CFItem {
public:
    // Builds the child index; 1 when the storage has no readable children.
    int createFrom(CompoundFile* owner, const DirectoryEntry& entry) override;

    // 0 when a direct child has the name and object type type (then out->createFrom's
    // answer), 1 otherwise. The text form matches the whole name, the 16-bit form compares
    // length units, so a shorter count matches a name's prefix. Names match as written; with
    // any case on, a name not found so is then looked for with ASCII letters in either case.
    int getCFItem(const char* name, CFItem* out, char type);
    int getCFItem(const short* name, int length, CFItem* out, char type);
    int getStream(const char* name, CFStream& out) { return getCFItem(name, &out, 2); }
    int getStream(const short* name, int length, CFStream& out) { return getCFItem(name, length, &out, 2); }

    void setAnyCase(bool on) { anyCase_ = on; }
    // True when, since the last clear, a lookup with any case off missed a name that a child
    // carries in another case.
    bool missedByCase() const { return missedByCase_; }
    void clearMissedByCase() { missedByCase_ = false; }

private:
    std::shared_ptr<RBTree> tree_;
    bool anyCase_ = false;
    bool missedByCase_ = false;
};

class CompoundFile {
public:
    CompoundFile() = default;
    ~CompoundFile() { close(); }
    CompoundFile(const CompoundFile&) = delete;
    CompoundFile& operator=(const CompoundFile&) = delete;

    // 0 success; 1 not a compound file, unreadable or damaged (or already open); 2 a
    // compound file whose header this reader does not support.
    int open(const std::string& path);
    // The same over bytes already open; src must outlive this object.
    int open(const kiv::ByteSource& src);
    void close();

    CFStorage getRootStorage() const { return root_; }
    // 0 with a copy of entry id, 1 when id is out of range.
    int getDirectoryEntry(int id, DirectoryEntry& out) const;
    // Copies up to length bytes of the entry's stream from offset into a new[] buffer that
    // the caller releases with OLEUtil::freePtr; answers the bytes delivered. *out is null
    // when nothing is delivered.
    int readData(char** out, const DirectoryEntry& entry, int offset, int length);
    int getData(char** out, const DirectoryEntry& entry);
    // As readData, into dst (at least length bytes), zero-filled where the file is short.
    int readInto(unsigned char* dst, const DirectoryEntry& entry, int offset, int length);

    // Builds the child index of storage id; 0 success.
    int getChildrenTree(int id, RBTree& tree) const;

    // Bytes readData would deliver for this request.
    uint64_t deliverable(const DirectoryEntry& entry, int offset, int length);

private:
    bool buildMSAT();
    bool buildSAT();
    bool buildSSAT();
    bool loadDirectory();
    bool getSecIDChain(uint32_t start, std::vector<uint32_t>& out, SectorType type) const;
    // Byte offsets of the entry's sectors (regular or short); cached per chain start.
    const std::vector<uint64_t>* getSecOffsetChain(const DirectoryEntry& entry);

    std::unique_ptr<kiv::ByteSource> owned_;
    const kiv::ByteSource* src_ = nullptr;
    uint64_t fileSize_ = 0;
    uint32_t sectorSize_ = 0;
    uint32_t shortSectorSize_ = 0;
    unsigned char header_[512] = {};
    std::vector<uint32_t> msat_;
    std::vector<uint32_t> sat_;
    std::vector<uint32_t> ssat_;
    bool ssatBuilt_ = false;
    bool ssatFailed_ = false;
    CFStorage root_;
    std::vector<uint32_t> container_;  // sector chain of the short-stream container
    std::vector<DirectoryEntry> directory_;
    // Sector offset lists per (start sector, short or regular); null marks a chain that
    // failed. Built once: record walks read the same stream many times.
    std::map<uint64_t, std::unique_ptr<std::vector<uint64_t>>> offsetCache_;
};
