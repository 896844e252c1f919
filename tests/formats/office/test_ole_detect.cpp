// OLE document type detection and the Excel and PowerPoint encryption checks, on compound
// files written by CfbBuilder.h. The encrypted verifiers come from fixtures/verifiers.inc,
// made by fixtures/make_verifiers.py with Python's hashlib and its own RC4.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "core/ByteSource.h"
#include "core/TypeTables.h"
#include "formats/office/CompoundFile.h"
#include "formats/office/MSOffice2003.h"
#include "formats/office/OLEFTAUtil.h"
#include "tests/formats/office/CfbBuilder.h"
#include "tests/formats/office/fixtures/verifiers.inc"

using namespace cfbtest;

namespace {

using Bytes = std::vector<uint8_t>;

void add16(Bytes& b, uint16_t v) {
    b.push_back(static_cast<uint8_t>(v));
    b.push_back(static_cast<uint8_t>(v >> 8));
}
void add32(Bytes& b, uint32_t v) {
    for (int i = 0; i < 4; ++i) b.push_back(static_cast<uint8_t>(v >> (8 * i)));
}
void addBytes(Bytes& b, const unsigned char* p, size_t n) { b.insert(b.end(), p, p + n); }
void addUtf16z(Bytes& b, const std::string& s) {
    for (unsigned char c : s) add16(b, c);
    add16(b, 0);
}

struct Result {
    OleFileType code = OLE_NONE;
    std::string typeId, mime, extensions, description;
    bool encrypted = false;
};

Result detect(const Bytes& bytes) {
    kiv::MemoryByteSource src(bytes);
    Result r;
    r.code = OLEFTAUtil::isOLEFileType(src, r.typeId, r.mime, r.extensions, r.description, r.encrypted);
    return r;
}

Result detectStreams(std::vector<Entry> entries, const unsigned char* clsid = nullptr) {
    Plan plan;
    plan.entries = std::move(entries);
    if (clsid) std::memcpy(plan.rootClsid, clsid, 16);
    return detect(makeCfb(plan).bytes);
}

// ---- Excel workbook streams -------------------------------------------------------------

Bytes record(uint16_t type, const Bytes& data) {
    Bytes r;
    add16(r, type);
    add16(r, static_cast<uint16_t>(data.size()));
    r.insert(r.end(), data.begin(), data.end());
    return r;
}

Bytes bofData(uint16_t vers = 0x0600, uint16_t dt = 5) {
    Bytes d;
    add16(d, vers);
    add16(d, dt);
    d.resize(16, 0);
    return d;
}

Bytes filePassRc4(const VerifierBlob& blob) {
    Bytes d;
    add16(d, 1);  // RC4
    add16(d, 1);  // vMajor 1: RC4 with MD5
    add16(d, 1);
    addBytes(d, kVerifierSalt, 16);
    addBytes(d, blob.verifier, 16);
    addBytes(d, blob.verifierHash, 16);
    return d;
}

struct ApiOptions {
    uint16_t vMajor = 4;
    uint32_t keyBits = 128;
    uint32_t providerType = 1;
    uint32_t algIdHash = 0x8004;
    uint32_t saltSize = 16;
    std::string provider = "Microsoft Enhanced Cryptographic Provider v1.0";
};

// CryptoAPI RC4 header and verifier as the Excel FILEPASS and the PowerPoint encryption
// session both store them, from the flags word on.
Bytes cryptoApiInfo(const VerifierBlob& blob, const ApiOptions& o) {
    Bytes name;
    addUtf16z(name, o.provider);
    Bytes d;
    add32(d, 0x04);  // flags: CryptoAPI
    add32(d, static_cast<uint32_t>(32 + name.size()));
    add32(d, 0x04);
    add32(d, 0);
    add32(d, 0x6801);
    add32(d, o.algIdHash);
    add32(d, o.keyBits);
    add32(d, o.providerType);
    add32(d, 0);
    add32(d, 0);
    d.insert(d.end(), name.begin(), name.end());
    add32(d, o.saltSize);
    addBytes(d, kVerifierSalt, 16);
    addBytes(d, blob.verifier, 16);
    add32(d, 20);
    addBytes(d, blob.verifierHash, 20);
    return d;
}

Bytes filePassApi(const VerifierBlob& blob, const ApiOptions& o) {
    Bytes d;
    add16(d, 1);
    add16(d, o.vMajor);
    add16(d, 2);
    Bytes info = cryptoApiInfo(blob, o);
    d.insert(d.end(), info.begin(), info.end());
    return d;
}

// BOF [filler records] [TEMPLATE] FILEPASS WINDOW1 EOF
Bytes workbook(const Bytes& filePass, int templateAfter = -1, bool filePassAfterWindow = false) {
    Bytes w = record(Excel2003::BOF, bofData());
    for (int i = 0; i < 5; ++i) {
        if (i == templateAfter) {
            Bytes t = record(Excel2003::TEMPLATE, {});
            w.insert(w.end(), t.begin(), t.end());
        } else {
            Bytes f = record(0x00E1, {0, 0});  // filler
            w.insert(w.end(), f.begin(), f.end());
        }
    }
    Bytes fp = filePass.empty() ? Bytes() : record(Excel2003::FILEPASS, filePass);
    Bytes win = record(Excel2003::WINDOW1, Bytes(18, 0));
    if (filePassAfterWindow) std::swap(fp, win);
    w.insert(w.end(), fp.begin(), fp.end());
    w.insert(w.end(), win.begin(), win.end());
    Bytes end = record(Excel2003::EOF_RECORD, {});
    w.insert(w.end(), end.begin(), end.end());
    return w;
}

Result detectWorkbook(const Bytes& stream, const char* name = "Workbook") {
    return detectStreams({cfbtest::stream(name, stream)});
}

// ---- PowerPoint streams -----------------------------------------------------------------

Bytes currentUser(uint32_t offsetToCurrentEdit, size_t length = 28) {
    Bytes c;
    add16(c, 0);
    add16(c, 0x0FF6);
    add32(c, 20);
    add32(c, 20);
    add32(c, 0xF3D1C4DF);
    add32(c, offsetToCurrentEdit);
    add16(c, 0);
    add16(c, 0x03F4);
    c.push_back(3);
    c.push_back(0);
    add16(c, 0);
    c.resize(length, 0);
    return c;
}

struct PptLayout {
    Bytes document;
    uint32_t userEdit = 0;
};

struct PptOptions {
    bool encrypted = true;
    ApiOptions api;
    uint32_t sessionRef = 2;
    uint32_t sessionOffsetOverride = 0;
    bool headerSizeOverride = false;
    uint32_t headerSize = 0;
    uint32_t zeroHeads = 0;  // empty persist entries before the real ones
};

// Document stream: a dummy record, the encryption session, the persist directory (ids 1 and
// 2 in two entries, 2 being the session), then the user edit.
PptLayout pptDocument(const VerifierBlob& blob, const PptOptions& o) {
    PptLayout l;
    Bytes& d = l.document;
    add16(d, 0);
    add16(d, 0x03E8);
    add32(d, 0);
    const uint32_t session = static_cast<uint32_t>(d.size());
    Bytes info;
    add16(info, 2);
    add16(info, 2);
    Bytes api = cryptoApiInfo(blob, o.api);
    info.insert(info.end(), api.begin(), api.end());
    if (o.headerSizeOverride) {
        for (int i = 0; i < 4; ++i) info[8 + i] = static_cast<uint8_t>(o.headerSize >> (8 * i));
    }
    add16(d, 0x000F);
    add16(d, 0x2F14);
    add32(d, static_cast<uint32_t>(info.size()));
    d.insert(d.end(), info.begin(), info.end());

    const uint32_t persist = static_cast<uint32_t>(d.size());
    add16(d, 0);
    add16(d, 0x1772);
    add32(d, 16 + 4 * o.zeroHeads);
    d.resize(d.size() + 4 * size_t{o.zeroHeads}, 0);
    add32(d, 1 | (1u << 20));
    add32(d, 0);
    add32(d, 2 | (1u << 20));
    add32(d, o.sessionOffsetOverride ? o.sessionOffsetOverride : session);

    l.userEdit = static_cast<uint32_t>(d.size());
    add16(d, 0);
    add16(d, 0x0FF5);
    add32(d, 32);
    add32(d, 256);
    add16(d, 0);
    d.push_back(0);
    d.push_back(3);
    add32(d, 0);
    add32(d, persist);
    add32(d, 1);
    add32(d, 3);
    add16(d, 1);
    add16(d, 0);
    add32(d, o.encrypted ? o.sessionRef : 0);
    return l;
}

Result detectPpt(const VerifierBlob& blob, const PptOptions& o, size_t currentUserLength = 28) {
    PptLayout l = pptDocument(blob, o);
    return detectStreams({stream("Current User", currentUser(l.userEdit, currentUserLength)),
                          stream("PowerPoint Document", l.document)});
}

}  // namespace

// ---- OLE type detection -----------------------------------------------------------------

TEST(OleDetect, NotCompoundFilesAndDamage) {
    EXPECT_EQ(detect(Bytes(511, 0)).code, OLE_NONE);
    EXPECT_EQ(detect(Bytes(512, 0)).code, OLE_NONE);
    Cfb f = makeCfb([] {
        Plan s;
        s.entries.push_back(stream("WordDocument", Bytes(64, 0)));
        return s;
    }());
    f.put16(0x1E, 12);  // version 3 with 4096-byte sectors: unsupported, reported as data
    Result r = detect(f.bytes);
    EXPECT_EQ(r.code, OLE_DAMAGED);
    EXPECT_TRUE(r.typeId.empty());
    EXPECT_EQ(detectStreams({stream("Unrelated", Bytes(10, 1))}).code, OLE_NONE);

    // The path entry point refuses small files before opening them.
    std::string t, m, e, d;
    bool enc = false;
    EXPECT_EQ(OLEFTAUtil::isOLEFileType("/nonexistent/kiv", 100000, t, m, e, d, enc), OLE_NONE);
    EXPECT_EQ(OLEFTAUtil::isOLEFileType(::testing::TempDir(), 4096, t, m, e, d, enc), OLE_NONE);
}

TEST(OleDetect, WordHeaderFlags) {
    Bytes fib(64, 0);
    Result doc = detectStreams({stream("WordDocument", fib)});
    EXPECT_EQ(doc.code, OLE_DOC);
    EXPECT_EQ(doc.typeId, "DOC");
    EXPECT_EQ(doc.mime, "application/msword");
    EXPECT_EQ(doc.extensions, "doc");
    EXPECT_EQ(doc.description, "Microsoft Word 97-2003 Document");
    EXPECT_FALSE(doc.encrypted);

    fib[10] = 0x01;
    fib[11] = 0x01;
    Result dot = detectStreams({stream("WordDocument", fib)});
    EXPECT_EQ(dot.code, OLE_DOT);
    EXPECT_EQ(dot.typeId, "DOT-ENCRYPTED");
    EXPECT_EQ(dot.extensions, "dot");
    EXPECT_TRUE(dot.encrypted);

    EXPECT_EQ(detectStreams({stream("WordDocument", Bytes(10, 0))}).code, OLE_DAMAGED);
    // 11 bytes: the encrypted bit's byte is missing and reads as clear.
    Bytes eleven(11, 0);
    eleven[10] = 0x01;
    Result short11 = detectStreams({stream("WordDocument", eleven)});
    EXPECT_EQ(short11.typeId, "DOT");
    EXPECT_FALSE(short11.encrypted);
    // Order decides: Word before Excel.
    EXPECT_EQ(detectStreams({stream("Workbook", workbook({})), stream("WordDocument", Bytes(64, 0))}).typeId, "DOC");
}

TEST(OleDetect, InstallerPackagesAndMergeModules) {
    const unsigned char msiClsid[16] = {0x84, 0x10, 0x0C, 0x00, 0x00, 0x00, 0x00, 0x00,
                                        0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46};
    Entry merge;
    for (uint16_t u : {0x4216, 0x42B5, 0x3DA8, 0x41F2, 0x43F8, 0x47A8, 0x3A8C, 0x430B, 0x4231, 0x4837, 0x4255})
        merge.name.push_back(u);  // the table name goes on past the ten units compared
    merge.data = Bytes(8, 0);

    EXPECT_EQ(detectStreams({stream("Anything", Bytes(4, 0))}, msiClsid).typeId, "MSI");
    EXPECT_EQ(detectStreams({merge}, msiClsid).typeId, "MSM");
    Result signedMsm = detectStreams({merge, stream("\x05"
                                                    "DigitalSignature",
                                                    Bytes(4, 0))},
                                     msiClsid);
    EXPECT_EQ(signedMsm.code, OLE_MSI);
    EXPECT_EQ(signedMsm.mime, "application/x-msi");
    EXPECT_EQ(detectStreams({merge, stream("\x05"
                                           "MsiDigitalSignatureEx",
                                           Bytes(4, 0))},
                            msiClsid)
                  .typeId,
              "MSI");
    Result msm = detectStreams({merge});
    EXPECT_EQ(msm.code, OLE_MSM);
    EXPECT_EQ(msm.mime, "application/octet-stream");
}

TEST(OleDetect, SingleStreamKinds) {
    struct Case {
        std::vector<Entry> entries;
        OleFileType code;
        const char* typeId;
        bool encrypted;
    };
    Bytes segment(96, 0);
    Bytes locked = segment;
    locked[60] = 1;
    auto compObj = [](const std::string& text) {
        Bytes c(28, 0);
        add32(c, static_cast<uint32_t>(text.size() + 1));
        c.insert(c.end(), text.begin(), text.end());
        c.push_back(0);
        c.insert(c.end(), {'t', 'a', 'i', 'l'});
        return c;
    };
    auto jtd = [](const Bytes& seg) {
        return std::vector<Entry>{stream("\x04"
                                         "JSRV_SummaryInformation",
                                         Bytes(8, 0)),
                                  stream("Font", Bytes(8, 0)), stream("DocumentViewStyles", Bytes(8, 0)),
                                  stream("\x04"
                                         "JSRV_SegmentInformation",
                                         seg)};
    };
    const Case cases[] = {
        {{stream("VisioDocument", Bytes(16, 0))}, OLE_VSD, "VSD", false},
        {jtd(segment), OLE_JTD, "JTD", false},
        {jtd(locked), OLE_JTD, "JTD-ENCRYPTED", true},
        {jtd(Bytes(95, 1)), OLE_NONE, "", false},
        {{stream("\x05"
                 "HwpSummaryInformation",
                 Bytes(8, 0))},
         OLE_HWP,
         "HWP",
         false},
        {{stream("ProjInfoEx", Bytes(8, 0))}, OLE_SUO, "SUO", false},
        {{stream("\x01"
                 "CompObj",
                 compObj("Microsoft Project 4.0"))},
         OLE_MPP,
         "MPP",
         false},
        {{stream("\x01"
                 "CompObj",
                 compObj("MICROSOFT Office PROJECT 2007"))},
         OLE_MPP,
         "MPP",
         false},
        {{stream("\x01"
                 "CompObj",
                 compObj("Microsoft Word Document"))},
         OLE_NONE,
         "",
         false},
        {{stream("\x01"
                 "CompObj",
                 Bytes(30, 0))},
         OLE_NONE,
         "",
         false},
        {{stream("EncryptedPackage", Bytes(16, 0)), stream("EncryptionInfo", Bytes(16, 0))},
         OLE_MSO_ENCRYPTED,
         "MSO-ENCRYPTED",
         true},
    };
    for (const Case& c : cases) {
        Result r = detectStreams(c.entries);
        EXPECT_EQ(r.code, c.code) << c.typeId;
        EXPECT_EQ(r.typeId, c.typeId);
        EXPECT_EQ(r.encrypted, c.encrypted) << c.typeId;
    }
    // A CompObj whose length runs past the stream reads what is there.
    Bytes longLength(28, 0);
    add32(longLength, 0x7FFFFFF0);
    std::string text = "Microsoft Project";
    longLength.insert(longLength.end(), text.begin(), text.end());
    EXPECT_EQ(detectStreams({stream("\x01"
                                    "CompObj",
                                    longLength)})
                  .code,
              OLE_MPP);
    Result mso = detectStreams({stream("EncryptedPackage", Bytes(16, 0))});
    EXPECT_EQ(mso.mime, "application/encrypted");
    EXPECT_EQ(mso.extensions, "docx,docm,xlsx,xlsb,xlsm,xltx,xltm,pptx,pptm,ppsx,ppsm,potx,potm");
}

TEST(OleDetect, CompressedDocuments) {
    // The compressed payload is an LZH archive: "-lh5-" at offset 2.
    Bytes lzh = {0x20, 0x00, '-', 'l', 'h', '5', '-', 0x10, 0, 0, 0, 0x20, 0, 0, 0};
    lzh.resize(64, 0);
    Bytes marked(38, 0);
    std::memcpy(marked.data() + 2, "JustCompressedDocument", 22);
    Bytes withHeader = marked;
    withHeader.insert(withHeader.end(), lzh.begin(), lzh.end());

    EXPECT_EQ(detectStreams({stream("JSCompDocument", lzh)}).typeId, "JTDC");
    Result r = detectStreams({stream("JSCompDocument", withHeader)});
    EXPECT_EQ(r.code, OLE_JTDC);
    EXPECT_EQ(r.mime, "application/vnd.ms-office");
    // The marker but nothing after the 38-byte header: no archive to look at.
    EXPECT_EQ(detectStreams({stream("JSCompDocument", Bytes(marked.begin(), marked.begin() + 30))}).code, OLE_NONE);
    EXPECT_EQ(detectStreams({stream("JSCompDocument", marked)}).code, OLE_NONE);
    EXPECT_EQ(detectStreams({stream("JSCompDocument", Bytes(64, 0))}).code, OLE_NONE);

    // Long streams (regular sectors) are judged on their start as a whole read would judge
    // them: the LZH row still decides, and an earlier row ("MZ" at 0) still wins over it.
    Bytes longLzh = lzh;
    longLzh.resize(10000, 0x55);
    EXPECT_EQ(detectStreams({stream("JSCompDocument", longLzh)}).code, OLE_JTDC);
    Bytes longWithHeader = withHeader;
    longWithHeader.resize(10000, 0x55);
    EXPECT_EQ(detectStreams({stream("JSCompDocument", longWithHeader)}).code, OLE_JTDC);
    Bytes longMz = longLzh;
    longMz[0] = 'M';
    longMz[1] = 'Z';
    EXPECT_EQ(detectStreams({stream("JSCompDocument", longMz)}).code, OLE_NONE);
}

// ---- Excel ------------------------------------------------------------------------------

TEST(ExcelEncryption, StandardRc4AndXor) {
    Result plain = detectWorkbook(workbook({}));
    EXPECT_EQ(plain.code, OLE_XLS);
    EXPECT_EQ(plain.typeId, "XLS");
    EXPECT_EQ(plain.mime, "application/vnd.ms-excel");
    EXPECT_FALSE(plain.encrypted);

    EXPECT_FALSE(detectWorkbook(workbook(filePassRc4(kRc4XlsDefault))).encrypted);
    Result other = detectWorkbook(workbook(filePassRc4(kRc4Other)));
    EXPECT_TRUE(other.encrypted);
    EXPECT_EQ(other.typeId, "XLS-ENCRYPTED");
    EXPECT_EQ(other.description, "Encrypted Microsoft Excel Sheet");

    Bytes xorPass;
    add16(xorPass, 0);
    add16(xorPass, 0x1234);
    add16(xorPass, 0x5678);
    EXPECT_TRUE(detectWorkbook(workbook(xorPass)).encrypted);
    // Only a workbook-globals BIFF8 BOF leads to the FILEPASS search.
    Bytes biff5 = workbook(filePassRc4(kRc4Other));
    biff5[4] = 0x00;
    biff5[5] = 0x05;
    EXPECT_FALSE(detectWorkbook(biff5).encrypted);
    EXPECT_TRUE(detectWorkbook(workbook(filePassRc4(kRc4Other)), "Book").encrypted);
    // FILEPASS after WINDOW1 is not looked at.
    EXPECT_FALSE(detectWorkbook(workbook(filePassRc4(kRc4Other), -1, true)).encrypted);
}

TEST(ExcelEncryption, CryptoApiRc4) {
    struct Case {
        uint16_t vMajor;
        uint32_t keyBits;
        const VerifierBlob* blob;
        bool encrypted;
    };
    const Case cases[] = {
        {2, 40, &kApi40XlsDefault, false},   {3, 40, &kApi40XlsDefault, false},
        {4, 40, &kApi40XlsDefault, false},   {2, 128, &kApi128XlsDefault, false},
        {3, 128, &kApi128XlsDefault, false}, {4, 128, &kApi128XlsDefault, false},
        {4, 40, &kApi40Other, true},         {3, 128, &kApi128Other, true},
        {4, 40, &kApi128XlsDefault, true},  // key length must match the one used
        {4, 56, &kApi56XlsDefault, false},  // only 40-bit keys are padded: 7 bytes key RC4
        {2, 56, &kApi56Other, true},
    };
    for (const Case& c : cases) {
        ApiOptions o;
        o.vMajor = c.vMajor;
        o.keyBits = c.keyBits;
        EXPECT_EQ(detectWorkbook(workbook(filePassApi(*c.blob, o))).encrypted, c.encrypted)
            << c.vMajor << " " << c.keyBits;
    }
    ApiOptions aes;
    aes.providerType = 24;
    EXPECT_FALSE(detectWorkbook(workbook(filePassApi(kApi128XlsDefault, aes))).encrypted);
    ApiOptions md5;
    md5.algIdHash = 0x8003;
    EXPECT_TRUE(detectWorkbook(workbook(filePassApi(kApi128XlsDefault, md5))).encrypted);
    ApiOptions salt8;
    salt8.saltSize = 8;
    EXPECT_TRUE(detectWorkbook(workbook(filePassApi(kApi128XlsDefault, salt8))).encrypted);
    ApiOptions v5;
    v5.vMajor = 5;
    EXPECT_FALSE(detectWorkbook(workbook(filePassApi(kApi128Other, v5))).encrypted);
    // KeySize 0: the provider name gives the key length.
    ApiOptions base0;
    base0.keyBits = 0;
    base0.provider = "Microsoft Base Cryptographic Provider v1.0";
    EXPECT_FALSE(detectWorkbook(workbook(filePassApi(kApi40XlsDefault, base0))).encrypted);
    ApiOptions enhanced0;
    enhanced0.keyBits = 0;
    EXPECT_FALSE(detectWorkbook(workbook(filePassApi(kApi128XlsDefault, enhanced0))).encrypted);
}

TEST(ExcelEncryption, ShortAndHostileRecords) {
    // No encryption type at all: unknown, not encrypted.
    EXPECT_FALSE(detectWorkbook(workbook(Bytes{})).encrypted);
    Bytes empty = record(Excel2003::BOF, bofData());
    Bytes fp0 = record(Excel2003::FILEPASS, {});
    empty.insert(empty.end(), fp0.begin(), fp0.end());
    EXPECT_FALSE(detectWorkbook(empty).encrypted);
    EXPECT_FALSE(detectWorkbook(workbook(Bytes{1})).encrypted);
    // RC4 whose fields are cut short cannot verify: encrypted.
    Bytes cut = filePassRc4(kRc4XlsDefault);
    cut.resize(20);
    EXPECT_TRUE(detectWorkbook(workbook(cut)).encrypted);
    EXPECT_TRUE(detectWorkbook(workbook(Bytes{1, 0})).encrypted);
    Bytes api = filePassApi(kApi128XlsDefault, ApiOptions());
    api[10] = 0xF0;  // EncryptionHeaderSize far past the record
    api[13] = 0x7F;
    EXPECT_TRUE(detectWorkbook(workbook(api)).encrypted);
    Bytes apiCut = filePassApi(kApi128XlsDefault, ApiOptions());
    apiCut.resize(apiCut.size() - 1);
    EXPECT_TRUE(detectWorkbook(workbook(apiCut)).encrypted);

    // A record of 8225 bytes ends the search: the FILEPASS behind it is not seen.
    Bytes big = record(Excel2003::BOF, bofData());
    Bytes filler;
    add16(filler, 0x00E1);
    add16(filler, 8225);
    filler.resize(4 + 8225, 0);
    big.insert(big.end(), filler.begin(), filler.end());
    Bytes fp = record(Excel2003::FILEPASS, filePassRc4(kRc4Other));
    big.insert(big.end(), fp.begin(), fp.end());
    EXPECT_FALSE(detectWorkbook(big).encrypted);
    // A stream that ends inside a record header is no crash.
    Bytes truncated = workbook(filePassRc4(kRc4Other));
    truncated.resize(record(Excel2003::BOF, bofData()).size() + 3);
    EXPECT_EQ(detectWorkbook(truncated).code, OLE_XLS);
    // Unreadable first byte: damaged.
    EXPECT_EQ(detectWorkbook({}).code, OLE_DAMAGED);
}

TEST(ExcelTemplate, FoundOnlyAmongTheFourRecordsAfterTheBof) {
    for (int position = 0; position < 5; ++position) {
        Result r = detectWorkbook(workbook(filePassRc4(kRc4Other), position));
        EXPECT_EQ(r.code, OLE_XLS);
        EXPECT_EQ(r.typeId, position < 4 ? "XLT-ENCRYPTED" : "XLS-ENCRYPTED") << position;
    }
    EXPECT_EQ(detectWorkbook(workbook({}, 3)).extensions, "xlt");
}

// ---- PowerPoint -------------------------------------------------------------------------

// The session's persist id (2) equals the end of the first persist entry (1 + 1 entry), so
// every case here also needs the entry that really covers the reference.
TEST(PowerPointEncryption, DefaultAndOtherPasswords) {
    PptOptions base;
    base.api.keyBits = 0;  // Base provider: 40-bit key from the name
    base.api.provider = "Microsoft Base Cryptographic Provider v1.0";
    Result def = detectPpt(kApi40PptDefault, base);
    EXPECT_EQ(def.code, OLE_PPT);
    EXPECT_EQ(def.typeId, "PPT");
    EXPECT_FALSE(def.encrypted);
    Result other = detectPpt(kApi40Other, base);
    EXPECT_TRUE(other.encrypted);
    EXPECT_EQ(other.typeId, "PPT-ENCRYPTED");
    EXPECT_EQ(other.mime, "application/vnd.ms-powerpoint");

    PptOptions enhanced;
    EXPECT_FALSE(detectPpt(kApi128PptDefault, enhanced).encrypted);
    EXPECT_TRUE(detectPpt(kApi128Other, enhanced).encrypted);
    enhanced.api.keyBits = 0;
    EXPECT_FALSE(detectPpt(kApi128PptDefault, enhanced).encrypted);
    EXPECT_TRUE(detectPpt(kApi128Other, enhanced).encrypted);
    PptOptions key56;
    key56.api.keyBits = 56;
    EXPECT_FALSE(detectPpt(kApi56PptDefault, key56).encrypted);
    EXPECT_TRUE(detectPpt(kApi56Other, key56).encrypted);
    // The Excel default password does not open a presentation.
    EXPECT_TRUE(detectPpt(kApi128XlsDefault, PptOptions()).encrypted);
}

TEST(PowerPointEncryption, AnythingMissingCountsAsNotEncrypted) {
    PptOptions o;
    EXPECT_FALSE(detectPpt(kApi128Other, o, 27).encrypted);  // short Current User
    PptOptions plain;
    plain.encrypted = false;  // no session reference
    EXPECT_FALSE(detectPpt(kApi128Other, plain).encrypted);
    PptOptions aes;
    aes.api.providerType = 24;
    EXPECT_FALSE(detectPpt(kApi128Other, aes).encrypted);
    PptOptions md5;
    md5.api.algIdHash = 0x8003;
    EXPECT_FALSE(detectPpt(kApi128Other, md5).encrypted);
    PptOptions missingRef;
    missingRef.sessionRef = 3;  // no persist entry covers it
    EXPECT_FALSE(detectPpt(kApi128Other, missingRef).encrypted);
    PptOptions far;
    far.sessionOffsetOverride = 0xFFFFFFF0u;
    EXPECT_FALSE(detectPpt(kApi128Other, far).encrypted);
    PptOptions smallHeader;
    smallHeader.headerSizeOverride = true;
    smallHeader.headerSize = 8;
    EXPECT_FALSE(detectPpt(kApi128Other, smallHeader).encrypted);
    PptOptions hugeHeader;
    hugeHeader.headerSizeOverride = true;
    hugeHeader.headerSize = 0xFFFFFFF0u;
    EXPECT_FALSE(detectPpt(kApi128Other, hugeHeader).encrypted);

    // Current User pointing far beyond the document, or at 0 (no room for the persist
    // directory before it).
    PptLayout l = pptDocument(kApi128Other, PptOptions());
    for (uint32_t edit : {0xFFFFFFF0u, 0x7FFFFFFFu, 0u, static_cast<uint32_t>(l.document.size() - 39)}) {
        Result r =
            detectStreams({stream("Current User", currentUser(edit)), stream("PowerPoint Document", l.document)});
        EXPECT_EQ(r.code, OLE_PPT);
        EXPECT_FALSE(r.encrypted) << edit;
    }
    // A persist directory whose length runs past the user edit.
    PptLayout bad = pptDocument(kApi128Other, PptOptions());
    uint32_t persistAt = bad.userEdit - 24;
    bad.document[persistAt + 4] = 0xFF;
    bad.document[persistAt + 5] = 0xFF;
    EXPECT_FALSE(
        detectStreams({stream("Current User", currentUser(bad.userEdit)), stream("PowerPoint Document", bad.document)})
            .encrypted);
}

// The record walks read their streams a window at a time; records, entries and words that
// straddle a window edge count as they always did.
TEST(OleCost, WalksAcrossWindowEdges) {
    // Excel: the FILEPASS header straddles the first window edge (65534); a WINDOW1 before it
    // still ends the search.
    Bytes w = record(Excel2003::BOF, bofData());
    Bytes two = record(0x00E1, {0, 0});
    w.insert(w.end(), two.begin(), two.end());
    for (int i = 0; i < 16377; ++i) add32(w, 0x00E1);
    ASSERT_EQ(w.size(), 65534u);
    Bytes xorPass = record(Excel2003::FILEPASS, {0, 0, 0x34, 0x12, 0x78, 0x56});
    Bytes window = record(Excel2003::WINDOW1, Bytes(18, 0));
    Bytes encrypted = w, windowFirst = w;
    encrypted.insert(encrypted.end(), xorPass.begin(), xorPass.end());
    windowFirst.insert(windowFirst.end(), window.begin(), window.end());
    windowFirst.insert(windowFirst.end(), xorPass.begin(), xorPass.end());
    EXPECT_TRUE(detectWorkbook(encrypted).encrypted);
    EXPECT_FALSE(detectWorkbook(windowFirst).encrypted);

    // PowerPoint: 40000 empty entries before the two real ones; the session is still found,
    // and not when the claimed length stops before its offset.
    PptOptions many;
    many.zeroHeads = 40000;
    EXPECT_TRUE(detectPpt(kApi128Other, many).encrypted);
    PptLayout cut = pptDocument(kApi128Other, many);
    const uint32_t persistAt = cut.userEdit - 24 - 4 * many.zeroHeads;
    cut.document[persistAt + 4] -= 1;  // the last offset is no longer whole
    EXPECT_FALSE(
        detectStreams({stream("Current User", currentUser(cut.userEdit)), stream("PowerPoint Document", cut.document)})
            .encrypted);

    // Project: a length that claims 2 GiB over a text whose words straddle the edge; a zero
    // byte ends the text.
    auto project = [](const std::string& text) {
        Bytes c(28, 0);
        add32(c, 0x7FFFFFF0);
        c.insert(c.end(), text.begin(), text.end());
        return detectStreams({stream("\x01"
                                     "CompObj",
                                     c)})
            .code;
    };
    EXPECT_EQ(project(std::string(65532, 'x') + "Microsoft Project"), OLE_MPP);
    EXPECT_EQ(project(std::string(65532, 'x') + "Micro" + std::string(1, '\0') + "soft Project"), OLE_NONE);
    EXPECT_EQ(project(std::string(200000, 'x') + "PROJECT by microsoft"), OLE_MPP);

    // A compressed-document stream is judged on its start whatever size it claims (here past
    // 64 MiB over a chain of a few sectors).
    Bytes lzh = {0x20, 0x00, '-', 'l', 'h', '5', '-'};
    lzh.resize(10000, 0);
    Plan plan;
    plan.entries = {stream("JSCompDocument", lzh)};
    Cfb cfb = makeCfb(plan);
    cfb.setDir32(1, 0x78, 65u << 20);
    EXPECT_EQ(detect(cfb.bytes).code, OLE_JTDC);
}

// Random corruption of 1% of the bytes of files that exercise every test: whatever the
// answer, the detectors stay inside the data (the sanitizer build checks it).

// Random corruption of 1% of the bytes of files that exercise every test: the detectors stay
// inside the data (the sanitizer build checks it), and every answer is a whole one: refused
// with the result untouched, or a catalogue type with its own description.
TEST(OleDetect, CorruptedFilesNeverReadOutside) {
    PptLayout ppt = pptDocument(kApi128Other, PptOptions());
    Plan plan;
    plan.entries = {stream("Workbook", workbook(filePassApi(kApi128Other, ApiOptions()), 2)),
                    stream("Current User", currentUser(ppt.userEdit)), stream("PowerPoint Document", ppt.document),
                    stream("\x01"
                           "CompObj",
                           Bytes(64, 'x')),
                    stream("Big", Bytes(5000, 7))};
    const Bytes original = makeCfb(plan).bytes;
    const Result whole = detect(original);
    ASSERT_EQ(whole.code, OLE_PPT);
    EXPECT_TRUE(whole.encrypted);
    int decided = 0;
    uint32_t seed = 12345;
    auto next = [&seed] {
        seed = seed * 1103515245u + 12345u;
        return seed >> 8;
    };
    for (int round = 0; round < 400; ++round) {
        Bytes b = original;
        for (size_t k = 0; k < b.size() / 100; ++k) b[next() % b.size()] = static_cast<uint8_t>(next());
        Result r = detect(b);
        if (r.code == OLE_NONE || r.code == OLE_DAMAGED) {
            EXPECT_EQ(r.typeId + r.mime + r.extensions + r.description, "") << round;
            EXPECT_FALSE(r.encrypted) << round;
        } else {
            ++decided;
            ASSERT_EQ(FileTypeDescription.count(r.typeId), 1u) << round << " " << r.typeId;
            EXPECT_EQ(r.description, FileTypeDescription.at(r.typeId)) << round;
        }
        // The streams alone, without the Word and Excel tests in front.
        kiv::MemoryByteSource src(b);
        CompoundFile cf;
        if (cf.open(src) != 0) continue;
        CFStorage root = cf.getRootStorage();
        bool enc = false;
        OLEFTAUtil::isPPT(root, enc);
        OLEFTAUtil::isMPP(root);
        OLEFTAUtil::isXLS(root, enc);
    }
    EXPECT_GT(decided, 0) << "no corrupted copy reached a decision";
}
