// Test helper: writes small compound files byte by byte (header, FAT, DIFAT, directory, mini
// FAT, mini stream and regular streams), and reports where each table went so that tests
// can damage it.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace cfbtest {

constexpr uint32_t NOSTREAM = 0xFFFFFFFFu;
constexpr uint32_t FREESECT = 0xFFFFFFFFu;
constexpr uint32_t ENDOFCHAIN = 0xFFFFFFFEu;
constexpr uint32_t FATSECT = 0xFFFFFFFDu;
constexpr uint32_t DIFSECT = 0xFFFFFFFCu;

struct Entry {
    std::vector<uint16_t> name;  // UTF-16 units without the terminator
    uint8_t type = 2;            // 1 storage, 2 stream
    std::vector<uint8_t> data;
    // Used only with Plan::customLinks; directory ids (root 0, entries from 1).
    uint32_t left = NOSTREAM, right = NOSTREAM, child = NOSTREAM;
};

inline std::vector<uint16_t> units(const std::string& s) {
    std::vector<uint16_t> u;
    for (unsigned char c : s) u.push_back(c);
    return u;
}

inline Entry stream(const std::string& name, std::vector<uint8_t> data) {
    Entry e;
    e.name = units(name);
    e.data = std::move(data);
    return e;
}

struct Plan {
    uint16_t major = 3;
    std::vector<Entry> entries;  // directory ids 1..n; the root is id 0
    unsigned char rootClsid[16] = {};
    // Off: the root's child is entry 1 and each entry's right sibling is the next one.
    bool customLinks = false;
    uint32_t rootChild = 1;
    uint32_t minFatSectors = 0;  // pad the FAT (more than 109 sectors needs the DIFAT)
    bool reverseChains = false;  // lay each stream's sectors out back to front
};

struct Cfb {
    std::vector<uint8_t> bytes;
    uint32_t sectorSize = 512;
    std::vector<uint32_t> fatSectors;
    std::vector<uint32_t> difatSectors;
    std::vector<uint32_t> dirSectors;
    std::vector<uint32_t> miniFatSectors;
    std::vector<uint32_t> containerSectors;
    std::vector<std::vector<uint32_t>> chains;  // per entry: regular sector ids or short sector ids

    uint64_t sectorOffset(uint32_t id) const { return (uint64_t{id} + 1) * sectorSize; }
    uint64_t dirEntryOffset(uint32_t id) const {
        uint32_t per = sectorSize / 128;
        return sectorOffset(dirSectors.at(id / per)) + 128 * (id % per);
    }
    void put16(uint64_t off, uint16_t v) {
        bytes.at(off) = static_cast<uint8_t>(v);
        bytes.at(off + 1) = static_cast<uint8_t>(v >> 8);
    }
    void put32(uint64_t off, uint32_t v) {
        for (int i = 0; i < 4; ++i) bytes.at(off + i) = static_cast<uint8_t>(v >> (8 * i));
    }
    uint32_t get32(uint64_t off) const {
        uint32_t v = 0;
        for (int i = 0; i < 4; ++i) v |= static_cast<uint32_t>(bytes.at(off + i)) << (8 * i);
        return v;
    }
    // Rewrites the FAT entry of sector id.
    void setFat(uint32_t id, uint32_t value) {
        uint32_t per = sectorSize / 4;
        put32(sectorOffset(fatSectors.at(id / per)) + 4 * (id % per), value);
    }
    // Rewrites a directory entry field.
    void setDir32(uint32_t id, uint32_t field, uint32_t value) { put32(dirEntryOffset(id) + field, value); }
};

inline Cfb makeCfb(const Plan& plan) {
    Cfb out;
    const uint32_t ss = plan.major == 4 ? 4096 : 512;
    out.sectorSize = ss;
    const uint32_t perFat = ss / 4;
    const size_t nEntries = plan.entries.size() + 1;
    const uint32_t dirCount = static_cast<uint32_t>((nEntries * 128 + ss - 1) / ss);

    // Short streams go to the mini stream in 64-byte units.
    std::vector<uint8_t> mini;
    std::vector<uint32_t> miniFat;
    out.chains.resize(plan.entries.size());
    std::vector<bool> isShort(plan.entries.size(), false);
    for (size_t i = 0; i < plan.entries.size(); ++i) {
        const Entry& e = plan.entries[i];
        if (e.type != 2 || e.data.size() >= 4096) continue;
        isShort[i] = true;
        size_t n = (e.data.size() + 63) / 64;
        uint32_t first = static_cast<uint32_t>(miniFat.size());
        for (size_t k = 0; k < n; ++k) {
            out.chains[i].push_back(first + static_cast<uint32_t>(k));
            miniFat.push_back(k + 1 < n ? first + static_cast<uint32_t>(k) + 1 : ENDOFCHAIN);
        }
        std::vector<uint8_t> padded = e.data;
        padded.resize(n * 64, 0);
        mini.insert(mini.end(), padded.begin(), padded.end());
    }
    const uint32_t miniFatCount = static_cast<uint32_t>((miniFat.size() * 4 + ss - 1) / ss);
    const uint32_t containerCount = static_cast<uint32_t>((mini.size() + ss - 1) / ss);
    uint64_t regular = 0;
    for (size_t i = 0; i < plan.entries.size(); ++i)
        if (plan.entries[i].type == 2 && !isShort[i]) regular += (plan.entries[i].data.size() + ss - 1) / ss;
    const uint64_t nonFat = dirCount + miniFatCount + containerCount + regular;

    uint32_t nFat = 1, nDifat = 0;
    for (int iter = 0; iter < 10; ++iter) {
        uint64_t total = nonFat + nFat + nDifat;
        nFat = std::max<uint32_t>(plan.minFatSectors, static_cast<uint32_t>((total + perFat - 1) / perFat));
        nDifat = nFat > 109 ? (nFat - 109 + perFat - 2) / (perFat - 1) : 0;
    }
    const uint32_t totalSectors = static_cast<uint32_t>(nonFat + nFat + nDifat);
    std::vector<uint32_t> fat(static_cast<size_t>(nFat) * perFat, FREESECT);
    uint32_t next = 0;
    auto take = [&](uint32_t count) {
        std::vector<uint32_t> ids;
        for (uint32_t k = 0; k < count; ++k) ids.push_back(next++);
        return ids;
    };
    auto link = [&](std::vector<uint32_t>& ids, bool reverse) {
        if (reverse) std::reverse(ids.begin(), ids.end());
        for (size_t k = 0; k < ids.size(); ++k) fat[ids[k]] = k + 1 < ids.size() ? ids[k + 1] : ENDOFCHAIN;
    };
    out.fatSectors = take(nFat);
    for (uint32_t id : out.fatSectors) fat[id] = FATSECT;
    out.difatSectors = take(nDifat);
    for (uint32_t id : out.difatSectors) fat[id] = DIFSECT;
    out.dirSectors = take(dirCount);
    link(out.dirSectors, false);
    out.miniFatSectors = take(miniFatCount);
    link(out.miniFatSectors, false);
    out.containerSectors = take(containerCount);
    link(out.containerSectors, plan.reverseChains);
    for (size_t i = 0; i < plan.entries.size(); ++i) {
        if (plan.entries[i].type != 2 || isShort[i]) continue;
        out.chains[i] = take(static_cast<uint32_t>((plan.entries[i].data.size() + ss - 1) / ss));
        link(out.chains[i], plan.reverseChains);
    }

    out.bytes.assign((uint64_t{totalSectors} + 1) * ss, 0);
    static const uint8_t sig[8] = {0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1};
    std::memcpy(out.bytes.data(), sig, 8);
    out.put16(0x18, 0x3E);
    out.put16(0x1A, plan.major);
    out.put16(0x1C, 0xFFFE);
    out.put16(0x1E, plan.major == 4 ? 12 : 9);
    out.put16(0x20, 6);
    out.put32(0x28, plan.major == 4 ? dirCount : 0);
    out.put32(0x2C, nFat);
    out.put32(0x30, out.dirSectors.front());
    out.put32(0x38, 4096);
    out.put32(0x3C, miniFatCount ? out.miniFatSectors.front() : ENDOFCHAIN);
    out.put32(0x40, miniFatCount);
    out.put32(0x44, nDifat ? out.difatSectors.front() : ENDOFCHAIN);
    out.put32(0x48, nDifat);
    for (uint32_t i = 0; i < 109; ++i) out.put32(0x4C + 4 * i, i < nFat ? out.fatSectors[i] : FREESECT);
    for (uint32_t d = 0; d < nDifat; ++d) {
        uint64_t base = out.sectorOffset(out.difatSectors[d]);
        for (uint32_t k = 0; k < perFat - 1; ++k) {
            uint32_t index = 109 + d * (perFat - 1) + k;
            out.put32(base + 4 * k, index < nFat ? out.fatSectors[index] : FREESECT);
        }
        out.put32(base + 4 * (perFat - 1), d + 1 < nDifat ? out.difatSectors[d + 1] : ENDOFCHAIN);
    }
    for (size_t i = 0; i < fat.size(); ++i) out.setFat(static_cast<uint32_t>(i), fat[i]);
    for (size_t i = 0; i < miniFat.size(); ++i)
        out.put32(out.sectorOffset(out.miniFatSectors[i / perFat]) + 4 * (i % perFat), miniFat[i]);
    for (size_t i = miniFat.size(); i < size_t{miniFatCount} * perFat; ++i)
        out.put32(out.sectorOffset(out.miniFatSectors[i / perFat]) + 4 * (i % perFat), FREESECT);

    // Data: the mini stream in the container's sectors, then the regular streams. With
    // reversed chains the k-th piece goes to the k-th id of the (reversed) chain.
    for (size_t k = 0; k < containerCount; ++k) {
        size_t n = std::min<size_t>(ss, mini.size() - k * ss);
        std::memcpy(out.bytes.data() + out.sectorOffset(out.containerSectors[k]), mini.data() + k * ss, n);
    }
    for (size_t i = 0; i < plan.entries.size(); ++i) {
        if (plan.entries[i].type != 2 || isShort[i]) continue;
        const std::vector<uint8_t>& d = plan.entries[i].data;
        for (size_t k = 0; k < out.chains[i].size(); ++k) {
            size_t n = std::min<size_t>(ss, d.size() - k * ss);
            std::memcpy(out.bytes.data() + out.sectorOffset(out.chains[i][k]), d.data() + k * ss, n);
        }
    }

    // Directory: the root, then the entries; unused slots stay empty with no links.
    for (uint32_t id = 0; id < dirCount * (ss / 128); ++id) {
        uint64_t base = out.dirEntryOffset(id);
        out.put32(base + 0x44, NOSTREAM);
        out.put32(base + 0x48, NOSTREAM);
        out.put32(base + 0x4C, NOSTREAM);
    }
    auto writeName = [&](uint64_t base, const std::vector<uint16_t>& name) {
        size_t n = std::min<size_t>(name.size(), 31);
        for (size_t k = 0; k < n; ++k) out.put16(base + 2 * k, name[k]);
        out.put16(base + 0x40, static_cast<uint16_t>((n + 1) * 2));
    };
    uint64_t root = out.dirEntryOffset(0);
    writeName(root, units("Root Entry"));
    out.bytes[root + 0x42] = 5;
    out.bytes[root + 0x43] = 1;
    out.put32(root + 0x4C, plan.customLinks ? plan.rootChild : (plan.entries.empty() ? NOSTREAM : 1));
    std::memcpy(out.bytes.data() + root + 0x50, plan.rootClsid, 16);
    out.put32(root + 0x74, containerCount ? out.containerSectors.front() : ENDOFCHAIN);
    out.put32(root + 0x78, static_cast<uint32_t>(mini.size()));
    for (size_t i = 0; i < plan.entries.size(); ++i) {
        const Entry& e = plan.entries[i];
        const uint32_t id = static_cast<uint32_t>(i + 1);
        uint64_t base = out.dirEntryOffset(id);
        writeName(base, e.name);
        out.bytes[base + 0x42] = e.type;
        out.bytes[base + 0x43] = 1;
        if (plan.customLinks) {
            out.put32(base + 0x44, e.left);
            out.put32(base + 0x48, e.right);
            out.put32(base + 0x4C, e.child);
        } else {
            out.put32(base + 0x48, id < plan.entries.size() ? id + 1 : NOSTREAM);
        }
        if (e.type == 2) {
            out.put32(base + 0x74, out.chains[i].empty() ? ENDOFCHAIN : out.chains[i].front());
            out.put32(base + 0x78, static_cast<uint32_t>(e.data.size()));
        }
    }
    return out;
}

}  // namespace cfbtest
