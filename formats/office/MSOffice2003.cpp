#include "formats/office/MSOffice2003.h"

#include <algorithm>
#include <cstring>

#include "core/ByteUtils.h"
#include "formats/office/MD5.h"
#include "formats/office/RC4.h"
#include "formats/office/SHA1.h"

namespace {

constexpr uint32_t kNotFound = 0xFFFFFFFFu;
constexpr uint32_t kAlgRC4 = 0x6801;
constexpr uint32_t kAlgSHA1 = 0x8004;
constexpr uint32_t kProviderRC4 = 1;
constexpr uint32_t kProviderAES = 24;

// UTF-16LE with the terminating zero unit, as the CryptoAPI header stores them.
#define KIV_W(c) static_cast<unsigned char>(c), 0
constexpr unsigned char kBaseProvider[] = {
    KIV_W('M'), KIV_W('i'), KIV_W('c'), KIV_W('r'), KIV_W('o'), KIV_W('s'), KIV_W('o'), KIV_W('f'), KIV_W('t'),
    KIV_W(' '), KIV_W('B'), KIV_W('a'), KIV_W('s'), KIV_W('e'), KIV_W(' '), KIV_W('C'), KIV_W('r'), KIV_W('y'),
    KIV_W('p'), KIV_W('t'), KIV_W('o'), KIV_W('g'), KIV_W('r'), KIV_W('a'), KIV_W('p'), KIV_W('h'), KIV_W('i'),
    KIV_W('c'), KIV_W(' '), KIV_W('P'), KIV_W('r'), KIV_W('o'), KIV_W('v'), KIV_W('i'), KIV_W('d'), KIV_W('e'),
    KIV_W('r'), KIV_W(' '), KIV_W('v'), KIV_W('1'), KIV_W('.'), KIV_W('0'), 0,          0};
constexpr unsigned char kEnhancedProvider[] = {
    KIV_W('M'), KIV_W('i'), KIV_W('c'), KIV_W('r'), KIV_W('o'), KIV_W('s'), KIV_W('o'), KIV_W('f'),
    KIV_W('t'), KIV_W(' '), KIV_W('E'), KIV_W('n'), KIV_W('h'), KIV_W('a'), KIV_W('n'), KIV_W('c'),
    KIV_W('e'), KIV_W('d'), KIV_W(' '), KIV_W('C'), KIV_W('r'), KIV_W('y'), KIV_W('p'), KIV_W('t'),
    KIV_W('o'), KIV_W('g'), KIV_W('r'), KIV_W('a'), KIV_W('p'), KIV_W('h'), KIV_W('i'), KIV_W('c'),
    KIV_W(' '), KIV_W('P'), KIV_W('r'), KIV_W('o'), KIV_W('v'), KIV_W('i'), KIV_W('d'), KIV_W('e'),
    KIV_W('r'), KIV_W(' '), KIV_W('v'), KIV_W('1'), KIV_W('.'), KIV_W('0'), 0,          0};
static_assert(sizeof(kBaseProvider) == 86, "Base provider name is 43 units");
static_assert(sizeof(kEnhancedProvider) == 94, "Enhanced provider name is 47 units");

uint16_t le16At(const unsigned char* p, size_t size, size_t off) { return kiv::le16(p, size, off).value_or(0); }
uint32_t le32At(const unsigned char* p, size_t size, size_t off) { return kiv::le32(p, size, off).value_or(0); }

}  // namespace

// "VelvetSweatshop": the password binary Excel uses when a workbook is protected without
// an open password.
const unsigned char Excel2003::defaultPass[30] = {KIV_W('V'), KIV_W('e'), KIV_W('l'), KIV_W('v'), KIV_W('e'),
                                                  KIV_W('t'), KIV_W('S'), KIV_W('w'), KIV_W('e'), KIV_W('a'),
                                                  KIV_W('t'), KIV_W('s'), KIV_W('h'), KIV_W('o'), KIV_W('p')};

// "/01Hannes Ruescher/01": the password binary PowerPoint uses when a presentation is
// encrypted without an open password.
const unsigned char PowerPoint2003::defaultPass[42] = {
    KIV_W('/'), KIV_W('0'), KIV_W('1'), KIV_W('H'), KIV_W('a'), KIV_W('n'), KIV_W('n'),
    KIV_W('e'), KIV_W('s'), KIV_W(' '), KIV_W('R'), KIV_W('u'), KIV_W('e'), KIV_W('s'),
    KIV_W('c'), KIV_W('h'), KIV_W('e'), KIV_W('r'), KIV_W('/'), KIV_W('0'), KIV_W('1')};
#undef KIV_W

namespace officecrypto {
unsigned int cryptoApiKeyLength(uint32_t keySizeBits, const unsigned char* providerName, size_t nameLength) {
    if (keySizeBits != 0) return keySizeBits / 8;
    auto named = [&](const unsigned char* constant, size_t n) {
        // The constant carries its terminator, so padding after the name does not matter.
        return providerName != nullptr && nameLength >= n && std::memcmp(providerName, constant, n) == 0;
    };
    if (named(kBaseProvider, sizeof(kBaseProvider))) return 5;
    if (named(kEnhancedProvider, sizeof(kEnhancedProvider))) return 16;
    return 0;
}

int cryptoApiRc4KeyBytes(unsigned int keyLength) {
    if (keyLength == 5 || keyLength == 0) return 16;
    return static_cast<int>(std::min(keyLength, 16u));
}
}  // namespace officecrypto

// ---------------------------------------------------------------------------------------
// Shared primitives

void Excel2003::getMD5Hash(const unsigned char* data, int length, unsigned char out[16]) {
    md5_context ctx;
    md5_starts(&ctx);
    md5_update(&ctx, data, length);
    md5_finish(&ctx, out);
}

void Excel2003::getSHA1Hash(const unsigned char* data, int length, unsigned char out[20]) {
    kiv::CSHA1 sha;
    if (data != nullptr && length > 0) sha.Update(data, static_cast<unsigned int>(length));
    sha.Final();
    sha.GetHash(out);
}

void Excel2003::getRC4(const unsigned char* in, int length, const unsigned char* key, int keyLength,
                       unsigned char* out) {
    RC4 rc4(key, keyLength);
    std::vector<unsigned char> copy(in, in + std::max(length, 0));
    rc4.process(copy.data(), length, out);
}

std::vector<unsigned char> Excel2003::concateArrays(const unsigned char* a, size_t aLength, const unsigned char* b,
                                                    size_t bLength) {
    std::vector<unsigned char> out;
    out.reserve(aLength + bLength);
    if (a != nullptr) out.insert(out.end(), a, a + aLength);
    if (b != nullptr) out.insert(out.end(), b, b + bLength);
    return out;
}

void Excel2003::getEncryptionKeyRC4API(const unsigned char* salt, const unsigned char* password, int length,
                                       unsigned int keyLength, unsigned char key[16]) {
    // H0 = SHA-1(salt || password); H1 = SHA-1(H0 || block 0); the key is the first
    // keyLength bytes of H1, zero-filled to 16 bytes (cryptoApiRc4KeyBytes: how many key RC4).
    unsigned char h0[20];
    std::vector<unsigned char> in = concateArrays(salt, 16, password, static_cast<size_t>(std::max(length, 0)));
    getSHA1Hash(in.data(), static_cast<int>(in.size()), h0);
    const unsigned char block[4] = {0, 0, 0, 0};
    std::vector<unsigned char> in2 = concateArrays(h0, 20, block, 4);
    unsigned char h1[20];
    getSHA1Hash(in2.data(), static_cast<int>(in2.size()), h1);
    std::memset(key, 0, 16);
    std::memcpy(key, h1, std::min(keyLength, 16u));
}

void PowerPoint2003::getEncryptionKeyRC4API(const unsigned char* salt, const unsigned char* password, int length,
                                            unsigned int keyLength, unsigned char key[16]) {
    Excel2003::getEncryptionKeyRC4API(salt, password, length, keyLength, key);
}
void PowerPoint2003::getSHA1Hash(const unsigned char* data, int length, unsigned char out[20]) {
    Excel2003::getSHA1Hash(data, length, out);
}
void PowerPoint2003::getRC4(const unsigned char* in, int length, const unsigned char* key, int keyLength,
                            unsigned char* out) {
    Excel2003::getRC4(in, length, key, keyLength, out);
}
std::vector<unsigned char> PowerPoint2003::concateArrays(const unsigned char* a, size_t aLength, const unsigned char* b,
                                                         size_t bLength) {
    return Excel2003::concateArrays(a, aLength, b, bLength);
}

// ---------------------------------------------------------------------------------------
// Excel: BIFF8 record walk

short Excel2003::parseBIFFRecord(CFStream& stream, int offset, Record& record) {
    // One record: no window beyond what it asks for.
    const CFStreamSource bytes(stream);
    kiv::WindowReader in(bytes, 0);
    return parseBIFFRecord(in, offset, record);
}

short Excel2003::parseBIFFRecord(kiv::WindowReader& in, int offset, Record& record) {
    record.release();
    if (offset < 0) return -1;
    // Type and size, two little-endian u16; a header cut short by the stream end keeps the
    // bytes it has, as two separate reads would.
    size_t got = 0;
    const unsigned char* head = in.view(static_cast<uint64_t>(offset), 4, got);
    if (got < 3) return -1;
    record.type = le16At(head, got, 0);
    record.size = static_cast<uint16_t>(head[2] | (got > 3 ? head[3] << 8 : 0));
    if (record.size >= 0x8000 || record.type == 0) return -1;
    if (record.size != 0 && record.type != EOF_RECORD && record.size <= kMaxRecordData &&
        (record.type == FILEPASS || record.type == BOF)) {
        const unsigned char* body = in.view(static_cast<uint64_t>(offset) + 4, record.size, got);
        if (got > 0) {
            record.data = new unsigned char[got];
            std::memcpy(record.data, body, got);
            record.dataLength = static_cast<int>(got);
        }
    }
    return static_cast<short>(record.size);
}

int Excel2003::searchStreamForRecord(CFStream stream, int streamSize, RecordType type, Record& record) {
    const uint16_t stop = type == FILEPASS ? WINDOW1 : EOF_RECORD;
    // Records are parsed from a window of the stream: a workbook of millions of tiny
    // records costs one read per window.
    const CFStreamSource bytes(stream);
    kiv::WindowReader in(bytes);
    int64_t offset = 0;
    while (offset < streamSize) {
        // Valid records of other types whose header lies in the window are passed over here;
        // parseBIFFRecord takes the others. The record keeps the type and size of the last
        // one passed, as if each had been parsed into it.
        size_t got = 0;
        const unsigned char* p = in.view(static_cast<uint64_t>(offset), kiv::limits::kReadWindow, got);
        const size_t starts = static_cast<size_t>(streamSize - offset);  // records start below this
        size_t at = 0;
        uint16_t lastType = 0, lastSize = 0;
        while (at + 4 <= got && at < starts) {
            const uint16_t t = static_cast<uint16_t>(p[at] | p[at + 1] << 8);
            const uint16_t n = static_cast<uint16_t>(p[at + 2] | p[at + 3] << 8);
            if (t == 0 || n > kMaxRecordData || t == stop || t == type) break;
            lastType = t;
            lastSize = n;
            at += 4 + size_t{n};
        }
        if (at > 0) {
            record.type = lastType;
            record.size = lastSize;
            offset += static_cast<int64_t>(at);
            continue;
        }
        short size = parseBIFFRecord(in, static_cast<int>(offset), record);
        if (size < 0 || size > kMaxRecordData) return 1;
        if (record.type == stop) return 2;
        if (record.type == type) {
            record.offset = static_cast<int>(offset);
            return 0;
        }
        record.release();
        offset += int64_t{size} + 4;
    }
    return 2;
}

int Excel2003::searchStreamForRecordByOffset(CFStream stream, int streamSize, int startOffset, int maxRecords,
                                             RecordType type, Record& record) {
    int64_t offset = startOffset;
    if (offset < 0) return 2;
    const CFStreamSource bytes(stream);
    kiv::WindowReader in(bytes);
    for (int n = 0; n < maxRecords && offset <= streamSize && offset <= INT32_MAX; ++n) {
        short size = parseBIFFRecord(in, static_cast<int>(offset), record);
        if (size < 0 || size > kMaxRecordData) return 1;
        if (record.type == type) {
            record.offset = static_cast<int>(offset);
            return 0;
        }
        offset += int64_t{size} + 4;
        record.release();
    }
    return 2;
}

int Excel2003::parseBOF(const Record& record, short& dt) {
    // A BOF shorter than its 16 bytes reads as zeros past its end.
    unsigned char raw[16] = {};
    if (record.data != nullptr) std::memcpy(raw, record.data, std::min(record.dataLength, 16));
    RecordDataBOF bof;
    bof.vers = le16At(raw, sizeof(raw), 0);
    bof.dt = le16At(raw, sizeof(raw), 2);
    if (bof.vers != 0x0600) return 1;
    dt = static_cast<short>(bof.dt);
    return 0;
}

bool Excel2003::getDataFromRecord(const Record& record, size_t offset, size_t length, unsigned char* out) {
    if (record.data == nullptr || record.dataLength <= 0) return false;
    size_t have = static_cast<size_t>(record.dataLength);
    if (offset > have || length > have - offset) return false;
    std::memcpy(out, record.data + offset, length);
    return true;
}

bool Excel2003::readEncryptionHeader(const Record& record, RC4EncryptionHeader& header) {
    unsigned char raw[kRC4HeaderSize];
    if (!getDataFromRecord(record, 0, sizeof(raw), raw)) return false;
    header.wEncryptionType = le16At(raw, sizeof(raw), 0);
    header.vMajor = le16At(raw, sizeof(raw), 2);
    header.vMinor = le16At(raw, sizeof(raw), 4);
    std::memcpy(header.Salt, raw + 6, 16);
    std::memcpy(header.EncryptedVerifier, raw + 22, 16);
    std::memcpy(header.EncryptedVerifierHash, raw + 38, 16);
    return true;
}

bool Excel2003::readEncryptionHeader(const Record& record, RC4CryptoAPIEncryptionHeader& header) {
    // EncryptionHeaderSize at 10; the header itself starts at 14 with Flags and SizeExtra.
    unsigned char raw[38];
    if (!getDataFromRecord(record, 0, sizeof(raw), raw)) return false;
    header.EncryptionHeaderSize = le32At(raw, sizeof(raw), 10);
    header.AlgID = le32At(raw, sizeof(raw), 22);
    header.AlgIDHash = le32At(raw, sizeof(raw), 26);
    uint32_t keyBits = le32At(raw, sizeof(raw), 30);
    header.ProviderType = le32At(raw, sizeof(raw), 34);
    // The provider name follows the eight header words, up to the header's end.
    const size_t nameStart = 46;
    const uint64_t headerEnd = 14 + uint64_t{header.EncryptionHeaderSize};
    const size_t have = static_cast<size_t>(record.dataLength);
    const unsigned char* name = nullptr;
    size_t nameLength = 0;
    if (headerEnd > nameStart && have > nameStart) {
        name = record.data + nameStart;
        nameLength = static_cast<size_t>(std::min<uint64_t>(headerEnd, have)) - nameStart;
    }
    header.KeySize = officecrypto::cryptoApiKeyLength(keyBits, name, nameLength);
    return true;
}

bool Excel2003::readEncryptionVerifier(const Record& record, RC4CryptoAPIEncryptionHeader& header) {
    const uint64_t v = 14 + uint64_t{header.EncryptionHeaderSize};
    unsigned char raw[60];
    if (v > static_cast<uint64_t>(std::max(record.dataLength, 0))) return false;
    if (!getDataFromRecord(record, static_cast<size_t>(v), sizeof(raw), raw)) return false;
    header.SaltSize = le32At(raw, sizeof(raw), 0);
    std::memcpy(header.Salt, raw + 4, 16);
    std::memcpy(header.EncryptedVerifier, raw + 20, 16);
    std::memcpy(header.EncryptedVerifierHash, raw + 40, 20);
    return true;
}

void Excel2003::getEncryptionKeyRC4(const unsigned char* password, int length, const unsigned char* salt,
                                    unsigned char key[16]) {
    unsigned char h0[16];
    getMD5Hash(password, length, h0);
    // 5 bytes of H0 and the salt, repeated 16 times: 336 bytes.
    unsigned char buffer[21 * 16];
    for (int i = 0; i < 16; ++i) {
        std::memcpy(buffer + 21 * i, h0, 5);
        std::memcpy(buffer + 21 * i + 5, salt, 16);
    }
    unsigned char h1[16];
    getMD5Hash(buffer, sizeof(buffer), h1);
    unsigned char last[9] = {};
    std::memcpy(last, h1, 5);  // then block number 0 as four zero bytes
    getMD5Hash(last, sizeof(last), key);
}

bool Excel2003::passwordVerificationRC4(const Record& record, const unsigned char* password, short length) {
    RC4EncryptionHeader header;
    if (!readEncryptionHeader(record, header)) return false;
    unsigned char key[16];
    getEncryptionKeyRC4(password, length, header.Salt, key);
    std::vector<unsigned char> in = concateArrays(header.EncryptedVerifier, 16, header.EncryptedVerifierHash, 16);
    unsigned char plain[32];
    getRC4(in.data(), 32, key, 16, plain);
    unsigned char hash[16];
    getMD5Hash(plain, 16, hash);
    return std::memcmp(hash, plain + 16, 16) == 0;
}

bool Excel2003::passwordVerificationRC4API(const Record& record, const unsigned char* password, short length) {
    RC4CryptoAPIEncryptionHeader header;
    if (!readEncryptionHeader(record, header) || !readEncryptionVerifier(record, header)) return false;
    if (header.AlgID != kAlgRC4 || header.AlgIDHash != kAlgSHA1 ||
        (header.ProviderType != kProviderRC4 && header.ProviderType != kProviderAES) || header.SaltSize != 16)
        return false;
    unsigned char key[16];
    getEncryptionKeyRC4API(header.Salt, password, length, header.KeySize, key);
    std::vector<unsigned char> in = concateArrays(header.EncryptedVerifier, 16, header.EncryptedVerifierHash, 20);
    unsigned char plain[36];
    getRC4(in.data(), 36, key, officecrypto::cryptoApiRc4KeyBytes(header.KeySize), plain);
    unsigned char hash[20];
    getSHA1Hash(plain, 16, hash);
    return std::memcmp(hash, plain + 16, 20) == 0;
}

int Excel2003::parseFilePass(const Record& record, bool& encrypted) {
    encrypted = false;
    if (record.type != FILEPASS) return 1;
    unsigned char raw[4] = {};
    if (!getDataFromRecord(record, 0, 2, raw)) return 1;  // no encryption type: unknown
    const uint16_t encryptionType = le16At(raw, sizeof(raw), 0);
    if (encryptionType == 0) {  // XOR obfuscation: no verifier to try
        encrypted = true;
        return 0;
    }
    if (encryptionType != 1) return 1;
    // RC4 whose version cannot be read has nothing that could verify.
    if (!getDataFromRecord(record, 2, 2, raw + 2)) {
        encrypted = true;
        return 0;
    }
    const uint16_t vMajor = le16At(raw, sizeof(raw), 2);
    if (vMajor == 1)
        encrypted = !passwordVerificationRC4(record, defaultPass, sizeof(defaultPass));
    else if (vMajor >= 2 && vMajor <= 4)
        encrypted = !passwordVerificationRC4API(record, defaultPass, sizeof(defaultPass));
    return 0;
}

// ---------------------------------------------------------------------------------------
// PowerPoint: current edit -> persist directory -> encryption session

uint32_t PowerPoint2003::findOffsetToUserEditRecord(CFStorage& root) {
    CFStream current;
    if (root.getStream("Current User", current) != 0) return kNotFound;
    if (current.GetDirEntryData().streamSize() < 28) return kNotFound;
    std::vector<unsigned char> head = OLEUtil::readBytes(current, 0, 28);
    if (head.size() < 28) return kNotFound;
    return le32At(head.data(), head.size(), 16);
}

bool PowerPoint2003::parsePersistDirRecord(CFStorage& root, const unsigned int& userEditOffset,
                                           PersistDirecoryRecord& record, unsigned int& encryptSessionPersistIdRef) {
    CFStream doc;
    if (root.getStream("PowerPoint Document", doc) != 0) return false;
    const int32_t streamSize = doc.GetDirEntryData().streamSize();
    if (streamSize < 0 || static_cast<uint64_t>(streamSize) < uint64_t{userEditOffset} + 40) return false;
    std::vector<unsigned char> edit = OLEUtil::readBytes(doc, userEditOffset, 40);
    if (edit.size() < 40) return false;
    const uint32_t persistOffset = le32At(edit.data(), edit.size(), 20);
    if (userEditOffset <= persistOffset) return false;
    std::vector<unsigned char> head = OLEUtil::readBytes(doc, persistOffset, 8);
    if (head.size() < 8) return false;
    std::memcpy(record.header, head.data(), 8);
    const uint32_t length = le32At(head.data(), head.size(), 4);
    if (uint64_t{userEditOffset} < uint64_t{persistOffset} + length) return false;
    // The entries are not read here: lookupPersistId walks them in place.
    record.dataOffset = uint64_t{persistOffset} + 8;
    record.dataLength = length;
    encryptSessionPersistIdRef = le32At(edit.data(), edit.size(), 36);
    return true;
}

uint32_t PowerPoint2003::lookupPersistId(CFStream& doc, const PersistDirecoryRecord& record, uint32_t persistId) {
    // A directory may claim most of the stream; its entries are walked a window at a time and
    // none is kept. Every u32 must lie inside the bytes the stream delivers of the record.
    const CFStreamSource bytes(doc);
    kiv::WindowReader in(bytes);
    const uint64_t length = record.dataLength;
    uint64_t pos = 0;  // the next entry head, from the start of the entries
    while (pos + 4 <= length) {
        size_t got = 0;
        const unsigned char* p =
            in.view(record.dataOffset + pos,
                    static_cast<size_t>(std::min<uint64_t>(length - pos, kiv::limits::kReadWindow)), got);
        if (got < 4) return kNotFound;
        const uint64_t windowStart = pos;
        const uint64_t windowEnd = windowStart + got;
        while (pos + 4 <= windowEnd) {
            // An entry without offsets (cPersist 0, the top 12 bits) covers no id: a run of
            // them is passed over at a fixed stride.
            while (pos + 4 <= windowEnd && (p[pos - windowStart + 3] | (p[pos - windowStart + 2] & 0xF0)) == 0)
                pos += 4;
            if (pos + 4 > windowEnd) break;
            PersistDirectoryEntry entry;
            entry.persistIdAndCount = le32At(p, got, static_cast<size_t>(pos - windowStart));
            pos += 4;
            // The first entry that covers the id decides: persistId <= id < persistId + cPersist.
            const uint64_t first = entry.persistId();
            if (persistId >= first && persistId < first + entry.cPersist()) {
                const uint64_t at = pos + 4 * (persistId - first);
                if (at + 4 > length) return kNotFound;
                const unsigned char* q = in.view(record.dataOffset + at, 4, got);
                return got == 4 ? le32At(q, got, 0) : kNotFound;
            }
            pos += 4 * uint64_t{entry.cPersist()};
        }
    }
    return kNotFound;
}

uint32_t PowerPoint2003::findOffsetToEncryptFormat(CFStorage& root) {
    const uint32_t userEdit = findOffsetToUserEditRecord(root);
    if (userEdit == kNotFound) return kNotFound;
    PersistDirecoryRecord record;
    unsigned int ref = 0;
    if (!parsePersistDirRecord(root, userEdit, record, ref)) return kNotFound;
    CFStream doc;
    if (root.getStream("PowerPoint Document", doc) != 0) return kNotFound;
    return lookupPersistId(doc, record, ref);
}

bool PowerPoint2003::getEncryptionInfo(CFStorage& root, const unsigned int& offset, unsigned int& keyLength,
                                       unsigned char* salt, unsigned char* verifier, unsigned char* verifierHash) {
    CFStream doc;
    if (root.getStream("PowerPoint Document", doc) != 0) return false;
    const int32_t streamSize = doc.GetDirEntryData().streamSize();
    if (streamSize < 8 || uint64_t{offset} + 8 > static_cast<uint64_t>(streamSize)) return false;
    std::vector<unsigned char> head = OLEUtil::readBytes(doc, offset, 8);
    if (head.size() < 8) return false;
    const uint32_t length = le32At(head.data(), head.size(), 4);
    if (uint64_t{offset} + 8 + length > static_cast<uint64_t>(streamSize)) return false;

    // Version and flags (8 bytes), EncryptionHeaderSize, then the header: Flags, SizeExtra,
    // AlgID, AlgIDHash, KeySize, ProviderType, two reserved words and the provider name. Only
    // the fixed fields, as much of the name as the known names span, and the verifier are
    // read, however long the record claims to be.
    constexpr size_t kNameAt = 44;
    constexpr size_t kNameBytes = 94;  // the longer provider name, terminator included
    const uint64_t data = uint64_t{offset} + 8;
    std::vector<unsigned char> fixed = OLEUtil::readBytes(doc, data, std::min<uint64_t>(length, kNameAt + kNameBytes));
    const size_t n = fixed.size();
    if (n < 12) return false;
    const uint64_t headerSize = le32At(fixed.data(), n, 8);
    const uint64_t v = 12 + headerSize;  // the verifier
    if (headerSize < 32 || v + 60 > length) return false;
    std::vector<unsigned char> tail = OLEUtil::readBytes(doc, data + v, 60);
    if (tail.size() < 60) return false;
    const uint32_t algId = le32At(fixed.data(), n, 20);
    const uint32_t algIdHash = le32At(fixed.data(), n, 24);
    const uint32_t keyBits = le32At(fixed.data(), n, 28);
    const uint32_t providerType = le32At(fixed.data(), n, 32);
    keyLength = officecrypto::cryptoApiKeyLength(keyBits, fixed.data() + kNameAt,
                                                 static_cast<size_t>(std::min<uint64_t>(headerSize - 32, kNameBytes)));
    if (algId != kAlgRC4 || algIdHash != kAlgSHA1 || providerType != kProviderRC4) return false;
    std::memcpy(salt, tail.data() + 4, 16);
    std::memcpy(verifier, tail.data() + 20, 16);
    std::memcpy(verifierHash, tail.data() + 40, 20);
    return true;
}

bool PowerPoint2003::getHashVerifierAndExpectedHashVerifier(CFStorage& root, const unsigned char* password,
                                                            const unsigned int& length, unsigned char* hash,
                                                            unsigned char* expected) {
    std::memset(hash, 0, 20);
    std::memset(expected, 0, 20);
    const uint32_t offset = findOffsetToEncryptFormat(root);
    if (offset == kNotFound) return false;
    unsigned int keyLength = 0;
    unsigned char salt[16], verifier[16], verifierHash[20];
    if (!getEncryptionInfo(root, offset, keyLength, salt, verifier, verifierHash)) return false;
    unsigned char key[16];
    getEncryptionKeyRC4API(salt, password, static_cast<int>(length), keyLength, key);
    std::vector<unsigned char> in = concateArrays(verifier, 16, verifierHash, 20);
    unsigned char plain[36];
    getRC4(in.data(), 36, key, officecrypto::cryptoApiRc4KeyBytes(keyLength), plain);
    std::memcpy(expected, plain + 16, 20);
    getSHA1Hash(plain, 16, hash);
    return true;
}

bool PowerPoint2003::checkIsEncrypted(CFStorage& root, const unsigned char* password, const unsigned int& length) {
    unsigned char hash[20], expected[20];
    if (!getHashVerifierAndExpectedHashVerifier(root, password, length, hash, expected)) return false;
    static const unsigned char zero[20] = {};
    if (std::memcmp(hash, zero, 20) == 0 && std::memcmp(expected, zero, 20) == 0) return true;
    return std::memcmp(hash, expected, 20) != 0;
}
