// Encryption checks of binary (97-2003) Excel workbooks and PowerPoint presentations. A file
// counts as encrypted when its encryption information is present and the formats' built-in
// default password does not verify against the stored verifier: files "protected" with the
// default password open without one.
#pragma once

#include <cstdint>
#include <vector>

#include "formats/office/CompoundFile.h"

class Excel2003 {
public:
    // Record types the walk looks for. (EOF is a C macro, hence EOF_RECORD.)
    enum RecordType : uint16_t {
        BOF = 0x0809,
        FILEPASS = 0x002F,
        TEMPLATE = 0x0060,
        EOF_RECORD = 0x000A,
        WINDOW1 = 0x003D,
    };

    // Largest data length of a BIFF8 record.
    static constexpr int kMaxRecordData = 8224;

    struct Record {
        uint16_t type = 0;
        uint16_t size = 0;              // data length as the record header says
        unsigned char* data = nullptr;  // held only for BOF and FILEPASS records
        int dataLength = 0;             // bytes actually held in data
        int offset = -1;                // position in the stream once a search found it

        Record() = default;
        ~Record() { release(); }
        Record(const Record&) = delete;
        Record& operator=(const Record&) = delete;
        void release() {
            OLEUtil::freePtr(&data);
            dataLength = 0;
        }
    };

    struct RecordDataBOF {
        uint16_t vers = 0;  // 0x0600 for BIFF8
        uint16_t dt = 0;    // document type; 5 = workbook globals
        uint16_t rupBuild = 0;
        uint16_t rupYear = 0;
        uint32_t bfh = 0;
        uint32_t sfo = 0;
    };

    // RC4 (MD5) FILEPASS data: the first 54 bytes.
    struct RC4EncryptionHeader {
        uint16_t wEncryptionType = 0;
        uint16_t vMajor = 0;
        uint16_t vMinor = 0;
        unsigned char Salt[16] = {};
        unsigned char EncryptedVerifier[16] = {};
        unsigned char EncryptedVerifierHash[16] = {};
    };
    static constexpr int kRC4HeaderSize = 54;

    // CryptoAPI RC4 (SHA-1) FILEPASS fields.
    struct RC4CryptoAPIEncryptionHeader {
        uint32_t EncryptionHeaderSize = 0;
        uint32_t AlgID = 0;
        uint32_t AlgIDHash = 0;
        uint32_t KeySize = 0;  // bytes
        uint32_t ProviderType = 0;
        uint32_t SaltSize = 0;
        unsigned char Salt[16] = {};
        unsigned char EncryptedVerifier[16] = {};
        unsigned char EncryptedVerifierHash[20] = {};
    };

    // The default password, UTF-16LE without terminator.
    static const unsigned char defaultPass[30];

    // The record's data length, or -1 when it cannot be read or is invalid.
    static short parseBIFFRecord(CFStream& stream, int offset, Record& record);
    static short parseBIFFRecord(kiv::WindowReader& stream, int offset, Record& record);
    // 0 found, 1 invalid record met, 2 not found. A FILEPASS search stops at WINDOW1,
    // any other at EOF.
    static int searchStreamForRecord(CFStream stream, int streamSize, RecordType type, Record& record);
    static int searchStreamForRecordByOffset(CFStream stream, int streamSize, int startOffset, int maxRecords,
                                             RecordType type, Record& record);
    // 0 with dt set for a BIFF8 BOF, else 1.
    static int parseBOF(const Record& record, short& dt);
    // 1 when the record is no FILEPASS or names an unknown encryption, else 0; sets the flag.
    static int parseFilePass(const Record& record, bool& encrypted);
    static bool passwordVerificationRC4(const Record& record, const unsigned char* password, short length);
    static bool passwordVerificationRC4API(const Record& record, const unsigned char* password, short length);

    static void getEncryptionKeyRC4(const unsigned char* password, int length, const unsigned char* salt,
                                    unsigned char key[16]);
    static void getEncryptionKeyRC4API(const unsigned char* salt, const unsigned char* password, int length,
                                       unsigned int keyLength, unsigned char key[16]);
    static void getMD5Hash(const unsigned char* data, int length, unsigned char out[16]);
    static void getSHA1Hash(const unsigned char* data, int length, unsigned char out[20]);
    static void getRC4(const unsigned char* in, int length, const unsigned char* key, int keyLength,
                       unsigned char* out);
    static std::vector<unsigned char> concateArrays(const unsigned char* a, size_t aLength, const unsigned char* b,
                                                    size_t bLength);

    // Reads the header fields; false when the record is too short for them.
    static bool readEncryptionHeader(const Record& record, RC4EncryptionHeader& header);
    static bool readEncryptionHeader(const Record& record, RC4CryptoAPIEncryptionHeader& header);
    // Reads the CryptoAPI verifier at 14 + EncryptionHeaderSize; false when it lies past the data.
    static bool readEncryptionVerifier(const Record& record, RC4CryptoAPIEncryptionHeader& header);
    // Copies length data bytes at offset; false when they are not all held.
    static bool getDataFromRecord(const Record& record, size_t offset, size_t length, unsigned char* out);
};

class PowerPoint2003 {
public:
    // The head of one persist directory entry; cPersist stream offsets follow it.
    struct PersistDirectoryEntry {
        uint32_t persistIdAndCount = 0;  // persistId in the low 20 bits, cPersist in the high 12
        uint32_t persistId() const { return persistIdAndCount & 0xFFFFF; }
        uint32_t cPersist() const { return persistIdAndCount >> 20; }
    };
    // Where a persist directory's entries lie in the "PowerPoint Document" stream.
    struct PersistDirecoryRecord {
        unsigned char header[8] = {};
        uint64_t dataOffset = 0;  // stream offset of the first entry
        uint32_t dataLength = 0;  // bytes of entries the header claims
    };

    // The default password, UTF-16LE without terminator.
    static const unsigned char defaultPass[42];

    static bool checkIsEncrypted(CFStorage& root, const unsigned char* password, const unsigned int& length);
    // offsetToCurrentEdit of the "Current User" stream, 0xFFFFFFFF when not found.
    static uint32_t findOffsetToUserEditRecord(CFStorage& root);
    static bool parsePersistDirRecord(CFStorage& root, const unsigned int& userEditOffset,
                                      PersistDirecoryRecord& record, unsigned int& encryptSessionPersistIdRef);
    // The stream offset the directory gives persistId: the first entry whose range covers it
    // decides; 0xFFFFFFFF when none does or its offset lies past the delivered bytes.
    static uint32_t lookupPersistId(CFStream& doc, const PersistDirecoryRecord& record, uint32_t persistId);
    // Stream offset of the encryption session record, 0xFFFFFFFF when not found.
    static uint32_t findOffsetToEncryptFormat(CFStorage& root);
    // Fills 16 bytes of salt, 16 of verifier and 20 of verifier hash.
    static bool getEncryptionInfo(CFStorage& root, const unsigned int& offset, unsigned int& keyLength,
                                  unsigned char* salt, unsigned char* verifier, unsigned char* verifierHash);
    // Fills 20 bytes each: SHA-1 of the decrypted verifier, and the decrypted verifier hash.
    static bool getHashVerifierAndExpectedHashVerifier(CFStorage& root, const unsigned char* password,
                                                       const unsigned int& length, unsigned char* hash,
                                                       unsigned char* expected);

    static void getEncryptionKeyRC4API(const unsigned char* salt, const unsigned char* password, int length,
                                       unsigned int keyLength, unsigned char key[16]);
    static void getSHA1Hash(const unsigned char* data, int length, unsigned char out[20]);
    static void getRC4(const unsigned char* in, int length, const unsigned char* key, int keyLength,
                       unsigned char* out);
    static std::vector<unsigned char> concateArrays(const unsigned char* a, size_t aLength, const unsigned char* b,
                                                    size_t bLength);
};

namespace officecrypto {
// Key length in bytes of a CryptoAPI RC4 header: KeySize in bits / 8, or, when KeySize is 0,
// 5 for the Base provider and 16 for the Enhanced provider (older writers leave KeySize 0
// and let the provider imply it). providerName is the UTF-16LE name field as stored.
unsigned int cryptoApiKeyLength(uint32_t keySizeBits, const unsigned char* providerName, size_t nameLength);
// Bytes of the RC4 key built from a key of that length: a 40-bit key is padded with zeros to
// 128 bits, every other length keys RC4 with its own bytes (at most 16). A length of 0 keeps
// the 16 zero bytes it has always had.
int cryptoApiRc4KeyBytes(unsigned int keyLength);
}  // namespace officecrypto
