#include "formats/office/CompoundFile.h"

#include <algorithm>
#include <climits>
#include <cstring>
#include <utility>

#include "core/ByteUtils.h"
#include "core/Limits.h"

namespace {

constexpr unsigned char kSignature[8] = {0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1};
constexpr uint32_t kNoStream = 0xFFFFFFFFu;
// Ids from 0xFFFFFFFA up are markers (end of chain, free, FAT, DIFAT), never sectors.
constexpr uint32_t kMaxRegularId = 0xFFFFFFF9u;
constexpr uint32_t kHeaderFatIds = 109;
constexpr uint32_t kMiniStreamCutoff = 4096;
constexpr uint32_t kShortSectorSize = 64;

uint32_t u32At(const unsigned char* p, size_t size, size_t off) { return kiv::le32(p, size, off).value_or(0); }
uint16_t u16At(const unsigned char* p, size_t size, size_t off) { return kiv::le16(p, size, off).value_or(0); }

}  // namespace

namespace OLEUtil {
void chars2Shorts(const char* in, const int& inLength, short* out, const int& outLength) {
    if (out == nullptr || outLength <= 0) return;
    std::fill(out, out + outLength, static_cast<short>(0));
    if (in == nullptr || inLength <= 0) return;
    int n = std::min(inLength, outLength);
    for (int i = 0; i < n; ++i) out[i] = static_cast<short>(static_cast<signed char>(in[i]));
}

std::vector<unsigned char> readBytes(CFStream& stream, uint64_t offset, uint64_t length) {
    std::vector<unsigned char> out;
    if (offset > INT32_MAX || length > INT32_MAX) return out;
    char* raw = nullptr;
    int got = stream.readData(&raw, static_cast<int>(offset), static_cast<int>(length));
    std::unique_ptr<char[]> holder(raw);
    if (got > 0 && raw != nullptr) out.assign(raw, raw + got);
    return out;
}
}  // namespace OLEUtil

CFStreamSource::CFStreamSource(const CFStream& stream) : stream_(stream) { size_ = stream_.deliverableSize(); }

size_t CFStreamSource::doRead(uint64_t off, void* dst, size_t n) const {
    // readAt keeps every request inside size(), which a stream never lets exceed INT32_MAX.
    const int got = stream_.readInto(static_cast<unsigned char*>(dst), static_cast<int>(off), static_cast<int>(n));
    return static_cast<size_t>(std::max(got, 0));
}

uint32_t DirEntryData::leftSibling() const { return u32At(bytes, kSize, 0x44); }
uint32_t DirEntryData::rightSibling() const { return u32At(bytes, kSize, 0x48); }
uint32_t DirEntryData::child() const { return u32At(bytes, kSize, 0x4C); }
uint32_t DirEntryData::startSector() const { return u32At(bytes, kSize, 0x74); }
int32_t DirEntryData::streamSize() const { return static_cast<int32_t>(u32At(bytes, kSize, 0x78)); }

namespace {

// The name's units up to its terminator with ASCII letters upper-cased; zeros after it.
RBTree::Key foldedKey(const RBTree::Key& name) {
    RBTree::Key out{};
    for (size_t i = 0; i < out.size(); i += 2) {
        const unsigned char lo = name[i], hi = name[i + 1];
        if (lo == 0 && hi == 0) break;
        out[i] = hi == 0 ? static_cast<unsigned char>(kiv::asciiToUpper(lo)) : lo;
        out[i + 1] = hi;
    }
    return out;
}

// The first units (at most 32) of a name as key bytes, zero-padded; units answers how many.
RBTree::Key queryKey(const short* name, int length, int& units) {
    // Names hold 32 units; a longer count would compare past the stored name.
    units = std::min(length, 32);
    RBTree::Key query{};
    for (int i = 0; i < units; ++i) {
        uint16_t u = static_cast<uint16_t>(name[i]);
        query[2 * i] = static_cast<unsigned char>(u & 0xFF);
        query[2 * i + 1] = static_cast<unsigned char>(u >> 8);
    }
    return query;
}

// The smallest key at or above the zero-padded query is the first to carry its prefix.
int lookupPrefix(const std::map<RBTree::Key, int>& nodes, const RBTree::Key& query, int units) {
    auto it = nodes.lower_bound(query);
    if (it == nodes.end() || std::memcmp(it->first.data(), query.data(), 2 * static_cast<size_t>(units)) != 0)
        return -1;
    return it->second;
}

}  // namespace

void RBTree::insert(int id, const unsigned char* name) {
    Key key;
    std::memcpy(key.data(), name, key.size());
    // A name already present keeps its first entry, in either index.
    nodes_.emplace(key, id);
    folded_.emplace(foldedKey(key), id);
}

int RBTree::lookupNode(const short* name, int length) const {
    if (name == nullptr || length <= 0) return -1;
    int units = 0;
    const Key query = queryKey(name, length, units);
    return lookupPrefix(nodes_, query, units);
}

int RBTree::lookupNodeAnyCase(const short* name, int length) const {
    if (name == nullptr || length <= 0) return -1;
    int units = 0;
    const Key query = foldedKey(queryKey(name, length, units));
    return lookupPrefix(folded_, query, units);
}

int CFItem::createFrom(CompoundFile* owner, const DirectoryEntry& entry) {
    owner_ = owner;
    entry_ = entry;
    return 0;
}

int CFStream::readData(char** out, int offset, int length) {
    if (out != nullptr) *out = nullptr;
    if (owner_ == nullptr) return 0;
    return owner_->readData(out, entry_, offset, length);
}

int CFStream::readInto(unsigned char* dst, int offset, int length) {
    if (owner_ == nullptr) return 0;
    return owner_->readInto(dst, entry_, offset, length);
}

uint64_t CFStream::deliverableSize() { return owner_ == nullptr ? 0 : owner_->deliverable(entry_, 0, INT32_MAX); }

int CFStream::getData(char** out) {
    if (out != nullptr) *out = nullptr;
    if (owner_ == nullptr) return 0;
    return owner_->getData(out, entry_);
}

int CFStorage::createFrom(CompoundFile* owner, const DirectoryEntry& entry) {
    CFItem::createFrom(owner, entry);
    tree_ = std::make_shared<RBTree>();
    if (owner == nullptr || owner->getChildrenTree(entry.id, *tree_) != 0) {
        tree_.reset();
        return 1;
    }
    return 0;
}

int CFStorage::getCFItem(const char* name, CFItem* out, char type) {
    if (name == nullptr) return 1;
    // The terminator is part of the comparison, so only the whole name matches.
    size_t len = std::strlen(name) + 1;
    int units = static_cast<int>(std::min<size_t>(len, 32));
    short wide[32];
    OLEUtil::chars2Shorts(name, units, wide, 32);
    return getCFItem(wide, units, out, type);
}

int CFStorage::getCFItem(const short* name, int length, CFItem* out, char type) {
    if (!tree_ || owner_ == nullptr || out == nullptr) return 1;
    int id = tree_->lookupNode(name, length);
    if (id < 0) {
        const int other = tree_->lookupNodeAnyCase(name, length);
        if (anyCase_) {
            id = other;
        } else if (other >= 0) {
            missedByCase_ = true;
        }
    }
    DirectoryEntry found;
    if (id < 0 || owner_->getDirectoryEntry(id, found) != 0) return 1;
    if (found.data.objectType() != static_cast<uint8_t>(type)) return 1;
    return out->createFrom(owner_, found);
}

int CompoundFile::open(const std::string& path) {
    if (src_ != nullptr) return 1;
    auto file = std::make_unique<kiv::FileByteSource>(path);
    if (!file->isOpen()) return 1;
    owned_ = std::move(file);
    int rc = open(*owned_);
    if (rc != 0) owned_.reset();
    return rc;
}

int CompoundFile::open(const kiv::ByteSource& src) {
    if (src_ != nullptr) return 1;
    src_ = &src;
    fileSize_ = src.size();
    auto fail = [this](int rc) {
        close();
        return rc;
    };
    if (fileSize_ < sizeof(header_)) return fail(1);
    if (src.readAt(0, header_, sizeof(header_)) != sizeof(header_)) return fail(1);
    if (std::memcmp(header_, kSignature, sizeof(kSignature)) != 0) return fail(1);

    const size_t hs = sizeof(header_);
    uint16_t major = u16At(header_, hs, 0x1A);
    uint16_t byteOrder = u16At(header_, hs, 0x1C);
    uint64_t sectorSize = uint64_t{1} << (u16At(header_, hs, 0x1E) & 31);
    uint64_t shortSize = uint64_t{1} << (u16At(header_, hs, 0x20) & 31);
    bool geometry = (major == 3 && sectorSize == 512) || (major == 4 && sectorSize == 4096);
    if (!geometry || byteOrder != 0xFFFE || shortSize != kShortSectorSize || u16At(header_, hs, 0x22) != 0 ||
        u32At(header_, hs, 0x24) != 0 || u32At(header_, hs, 0x38) != kMiniStreamCutoff)
        return fail(2);
    sectorSize_ = static_cast<uint32_t>(sectorSize);
    shortSectorSize_ = static_cast<uint32_t>(shortSize);

    if (!buildMSAT() || !buildSAT() || !loadDirectory() || directory_.empty()) return fail(1);
    if (root_.createFrom(this, directory_[0]) != 0) return fail(1);
    return 0;
}

void CompoundFile::close() {
    src_ = nullptr;
    owned_.reset();
    fileSize_ = 0;
    sectorSize_ = shortSectorSize_ = 0;
    std::memset(header_, 0, sizeof(header_));
    msat_.clear();
    msat_.shrink_to_fit();
    sat_.clear();
    sat_.shrink_to_fit();
    ssat_.clear();
    ssat_.shrink_to_fit();
    ssatBuilt_ = ssatFailed_ = false;
    root_ = CFStorage();
    container_.clear();
    directory_.clear();
    offsetCache_.clear();
}

bool CompoundFile::buildMSAT() {
    if (!msat_.empty()) return true;
    const uint64_t ss = sectorSize_;
    const uint64_t n = u32At(header_, sizeof(header_), 0x2C);
    // Each FAT sector must be a sector of this file; the count is never taken on trust.
    const uint64_t fileSectors = (fileSize_ + ss - 1) / ss;
    if (n > fileSectors || n * ss > kiv::limits::kCfbMaxSatBytes) return false;
    msat_.assign(static_cast<size_t>(n), 0);
    size_t have = static_cast<size_t>(std::min<uint64_t>(n, kHeaderFatIds));
    for (size_t i = 0; i < have; ++i) msat_[i] = u32At(header_, sizeof(header_), 0x4C + 4 * i);

    // The rest of the ids come from the DIFAT chain: each sector holds ss/4 - 1 ids and
    // then the id of the next DIFAT sector. The chain is followed only while ids are still
    // needed, and never through the same sector twice.
    const size_t per = static_cast<size_t>(ss / 4 - 1);
    uint32_t next = u32At(header_, sizeof(header_), 0x44);
    std::vector<bool> seen(static_cast<size_t>(fileSectors), false);
    std::vector<unsigned char> buf(static_cast<size_t>(ss));
    while (have < n) {
        if (next > kMaxRegularId || next >= fileSectors || seen[next]) return false;
        seen[next] = true;
        size_t take = std::min<size_t>(per, static_cast<size_t>(n) - have);
        size_t bytes = take * 4 + (have + take < n ? 4 : 0);
        uint64_t off = (uint64_t{next} + 1) * ss;
        if (off > fileSize_ || bytes > fileSize_ - off) return false;
        if (src_->readAt(off, buf.data(), bytes) != bytes) return false;
        for (size_t i = 0; i < take; ++i) msat_[have + i] = u32At(buf.data(), bytes, 4 * i);
        have += take;
        if (have < n) next = u32At(buf.data(), bytes, per * 4);
    }
    return true;
}

bool CompoundFile::buildSAT() {
    if (!sat_.empty()) return true;
    const size_t idsPerSector = sectorSize_ / 4;
    sat_.assign(msat_.size() * idsPerSector, 0);
    std::vector<unsigned char> buf(sectorSize_);
    for (size_t i = 0; i < msat_.size(); ++i) {
        uint64_t off = (uint64_t{msat_[i]} + 1) * sectorSize_;
        if (off > fileSize_ || sectorSize_ > fileSize_ - off) return false;
        if (src_->readAt(off, buf.data(), sectorSize_) != sectorSize_) return false;
        for (size_t k = 0; k < idsPerSector; ++k) sat_[i * idsPerSector + k] = u32At(buf.data(), buf.size(), 4 * k);
    }
    return true;
}

bool CompoundFile::buildSSAT() {
    if (ssatBuilt_) return true;
    if (ssatFailed_) return false;
    ssatFailed_ = true;
    const uint64_t m = u32At(header_, sizeof(header_), 0x40);
    if (m * sectorSize_ > fileSize_) return false;
    std::vector<uint32_t> chain;
    if (!getSecIDChain(u32At(header_, sizeof(header_), 0x3C), chain, RegularSector)) return false;
    // Room only for the sectors the chain really has, however many the header claims.
    const size_t count = static_cast<size_t>(std::min<uint64_t>(m, chain.size()));
    const size_t idsPerSector = sectorSize_ / 4;
    ssat_.assign(count * idsPerSector, 0);
    std::vector<unsigned char> buf(sectorSize_);
    for (size_t i = 0; i < count; ++i) {
        std::fill(buf.begin(), buf.end(), 0);
        src_->readAt((uint64_t{chain[i]} + 1) * sectorSize_, buf.data(), buf.size());
        for (size_t k = 0; k < idsPerSector; ++k) ssat_[i * idsPerSector + k] = u32At(buf.data(), buf.size(), 4 * k);
    }
    // The short-stream container is the root entry's stream.
    if (!getSecIDChain(directory_[0].data.startSector(), container_, RegularSector)) return false;
    ssatBuilt_ = true;
    ssatFailed_ = false;
    return true;
}

bool CompoundFile::getSecIDChain(uint32_t start, std::vector<uint32_t>& out, SectorType type) const {
    out.clear();
    const std::vector<uint32_t>* table;
    uint64_t unit;
    if (type == RegularSector) {
        table = &sat_;
        unit = sectorSize_;
    } else if (type == ShortSector) {
        table = &ssat_;
        unit = shortSectorSize_;
    } else {
        return false;
    }
    // The seen bitmap bounds the walk by the table size, so a looping chain ends.
    std::vector<bool> seen(table->size(), false);
    uint32_t id = start;
    while (static_cast<int32_t>(id) >= 0) {
        uint64_t probe = sectorSize_ + uint64_t{id} * unit;
        if (probe > fileSize_ || id >= table->size() || seen[id]) return false;
        seen[id] = true;
        out.push_back(id);
        id = (*table)[id];
    }
    return true;
}

bool CompoundFile::loadDirectory() {
    std::vector<uint32_t> chain;
    if (!getSecIDChain(u32At(header_, sizeof(header_), 0x30), chain, RegularSector)) return false;
    const size_t perSector = sectorSize_ / DirEntryData::kSize;
    if (chain.size() * perSector > kiv::limits::kCfbMaxDirectoryEntries) return false;
    directory_.reserve(chain.size() * perSector);
    std::vector<unsigned char> buf(sectorSize_);
    for (uint32_t sid : chain) {
        uint64_t off = (uint64_t{sid} + 1) * sectorSize_;
        if (off > fileSize_) return false;
        std::fill(buf.begin(), buf.end(), 0);
        src_->readAt(off, buf.data(), buf.size());
        for (size_t k = 0; k < perSector; ++k) {
            DirectoryEntry e;
            std::memcpy(e.data.bytes, buf.data() + k * DirEntryData::kSize, DirEntryData::kSize);
            e.id = static_cast<int>(directory_.size());
            directory_.push_back(e);
        }
    }
    return true;
}

int CompoundFile::getDirectoryEntry(int id, DirectoryEntry& out) const {
    if (id < 0 || static_cast<size_t>(id) >= directory_.size()) return 1;
    out = directory_[static_cast<size_t>(id)];
    return 0;
}

int CompoundFile::getChildrenTree(int id, RBTree& tree) const {
    if (id < 0 || static_cast<size_t>(id) >= directory_.size()) return 1;
    const size_t count = directory_.size();
    uint32_t child = directory_[static_cast<size_t>(id)].data.child();
    if (child == kNoStream || child >= count || directory_[child].data.objectType() == 0) return 1;

    // Siblings form a binary tree that the file may make cyclic or arbitrarily deep, so the
    // walk keeps its own stack: for each entry its left subtree, then its right subtree,
    // then the entry itself. An entry met a second time (a cycle) is skipped.
    struct Frame {
        uint32_t id;
        uint8_t stage;
    };
    std::vector<bool> seen(count, false);
    std::vector<Frame> stack;
    stack.push_back({child, 0});
    seen[child] = true;
    while (!stack.empty()) {
        size_t top = stack.size() - 1;
        const DirEntryData& d = directory_[stack[top].id].data;
        if (stack[top].stage < 2) {
            uint32_t next = stack[top].stage == 0 ? d.leftSibling() : d.rightSibling();
            ++stack[top].stage;
            if (next == kNoStream) continue;
            if (next >= count) return 1;
            if (seen[next]) continue;
            seen[next] = true;
            stack.push_back({next, 0});
            continue;
        }
        tree.insert(static_cast<int>(stack[top].id), d.name());
        stack.pop_back();
    }
    return 0;
}

const std::vector<uint64_t>* CompoundFile::getSecOffsetChain(const DirectoryEntry& entry) {
    const bool isShort = entry.data.streamSize() < static_cast<int32_t>(kMiniStreamCutoff);
    const uint64_t key = (uint64_t{entry.data.startSector()} << 1) | (isShort ? 1 : 0);
    auto found = offsetCache_.find(key);
    if (found != offsetCache_.end()) return found->second.get();

    auto offsets = std::make_unique<std::vector<uint64_t>>();
    bool ok = true;
    std::vector<uint32_t> chain;
    if (!isShort) {
        ok = getSecIDChain(entry.data.startSector(), chain, RegularSector);
        for (size_t i = 0; ok && i < chain.size(); ++i) {
            uint64_t off = (uint64_t{chain[i]} + 1) * sectorSize_;
            if (off > fileSize_) ok = false;
            offsets->push_back(off);
        }
    } else {
        ok = buildSSAT() && getSecIDChain(entry.data.startSector(), chain, ShortSector);
        const uint32_t perSector = sectorSize_ / shortSectorSize_;
        for (size_t i = 0; ok && i < chain.size(); ++i) {
            uint32_t sid = chain[i];
            size_t index = sid / perSector;
            if (index >= container_.size()) {
                ok = false;
                break;
            }
            uint64_t off =
                uint64_t{shortSectorSize_} * (sid % perSector) + (uint64_t{container_[index]} + 1) * sectorSize_;
            if (off > fileSize_) ok = false;
            offsets->push_back(off);
        }
    }
    if (!ok) offsets.reset();
    const std::vector<uint64_t>* result = offsets.get();
    offsetCache_.emplace(key, std::move(offsets));
    return result;
}

uint64_t CompoundFile::deliverable(const DirectoryEntry& entry, int offset, int length) {
    if (src_ == nullptr || offset < 0 || length < 0) return 0;
    const int32_t size = entry.data.streamSize();
    if (size <= offset) return 0;
    const std::vector<uint64_t>* list = getSecOffsetChain(entry);
    if (list == nullptr) return 0;
    const uint64_t unit = size >= static_cast<int32_t>(kMiniStreamCutoff) ? sectorSize_ : shortSectorSize_;
    // A chain shorter than the size claims delivers only what its sectors cover.
    const uint64_t covered = list->size() * unit;
    uint64_t want = std::min<uint64_t>(static_cast<uint64_t>(length), static_cast<uint64_t>(size - offset));
    if (static_cast<uint64_t>(offset) >= covered) return 0;
    return std::min<uint64_t>(want, covered - static_cast<uint64_t>(offset));
}

int CompoundFile::readInto(unsigned char* dst, const DirectoryEntry& entry, int offset, int length) {
    const uint64_t want = deliverable(entry, offset, length);
    if (want == 0 || dst == nullptr) return 0;
    const std::vector<uint64_t>* list = getSecOffsetChain(entry);  // cached by deliverable
    const uint64_t unit =
        entry.data.streamSize() >= static_cast<int32_t>(kMiniStreamCutoff) ? sectorSize_ : shortSectorSize_;
    uint64_t pos = static_cast<uint64_t>(offset);
    uint64_t done = 0;
    while (done < want) {
        size_t idx = static_cast<size_t>(pos / unit);
        uint64_t within = pos % unit;
        // Consecutive sectors are read in one go.
        uint64_t run = unit - within;
        size_t last = idx;
        while (run < want - done && last + 1 < list->size() && (*list)[last + 1] == (*list)[last] + unit) {
            ++last;
            run += unit;
        }
        uint64_t n = std::min<uint64_t>(run, want - done);
        const size_t got = src_->readAt((*list)[idx] + within, dst + done, static_cast<size_t>(n));
        std::memset(dst + done + got, 0, static_cast<size_t>(n) - got);  // short reads read as zeros
        done += n;
        pos += n;
    }
    return static_cast<int>(want);
}

int CompoundFile::readData(char** out, const DirectoryEntry& entry, int offset, int length) {
    if (out == nullptr) return 0;
    *out = nullptr;
    const uint64_t want = deliverable(entry, offset, length);
    if (want == 0) return 0;
    char* buf = new char[want];
    readInto(reinterpret_cast<unsigned char*>(buf), entry, offset, length);
    *out = buf;
    return static_cast<int>(want);
}

int CompoundFile::getData(char** out, const DirectoryEntry& entry) {
    if (out != nullptr) *out = nullptr;
    int32_t size = entry.data.streamSize();
    if (size <= 0) return 0;
    return readData(out, entry, 0, size);
}
