#include "formats/office/OLEFTAUtil.h"

#include <algorithm>
#include <climits>
#include <cstring>
#include <exception>
#include <iterator>
#include <vector>

#include "core/ByteUtils.h"
#include "core/Limits.h"
#include "core/TypeTables.h"
#include "formats/archive/ArchiveFTAUtils.h"
#include "formats/office/MSOffice2003.h"

namespace {

// Result row per code; encryptedTypeId only for the kinds whose test sets the flag.
struct OleResult {
    int code;
    const char* typeId;
    const char* encryptedTypeId;
    const char* mime;
    const char* extensions;
};

constexpr OleResult kResults[] = {
    {OLE_DOC, "DOC", "DOC-ENCRYPTED", "application/msword", "doc"},
    {OLE_DOT, "DOT", "DOT-ENCRYPTED", "application/msword", "dot"},
    {OLE_PPT, "PPT", "PPT-ENCRYPTED", "application/vnd.ms-powerpoint", "ppt"},
    {OLE_MSI, "MSI", nullptr, "application/x-msi", "msi"},
    {OLE_XLS, "XLS", "XLS-ENCRYPTED", "application/vnd.ms-excel", "xls"},
    {OLE_XLT, "XLT", "XLT-ENCRYPTED", "application/vnd.ms-excel", "xlt"},
    {OLE_VSD, "VSD", nullptr, "application/vnd.visio", "vsd"},
    {OLE_JTD, "JTD", "JTD-ENCRYPTED", "application/vnd.ms-office", "jtd"},
    {OLE_JTDC, "JTDC", nullptr, "application/vnd.ms-office", "jtdc"},
    {OLE_HWP, "HWP", nullptr, "application/x-hwp", "hwp"},
    {OLE_SUO, "SUO", nullptr, "application/CDFV2", "suo"},
    {OLE_MPP, "MPP", nullptr, "application/vnd.ms-project", "mpp"},
    {OLE_MSM, "MSM", nullptr, "application/octet-stream", "msm"},
    {OLE_MSO_ENCRYPTED, "MSO-ENCRYPTED", "MSO-ENCRYPTED", "application/encrypted",
     "docx,docm,xlsx,xlsb,xlsm,xltx,xltm,pptx,pptm,ppsx,ppsm,potx,potm"},
};

// {000C1084-0000-0000-C000-000000000046} as stored: the first three fields little-endian.
constexpr unsigned char kInstallerClassId[16] = {0x84, 0x10, 0x0C, 0x00, 0x00, 0x00, 0x00, 0x00,
                                                 0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46};
// Merge modules keep a table stream whose compressed name starts with these ten units.
constexpr short kMergeModuleName[10] = {0x4216, 0x42B5, 0x3DA8, 0x41F2, 0x43F8, 0x47A8, 0x3A8C, 0x430B, 0x4231, 0x4837};
// Property-set streams carry a leading control character in their names.
constexpr const char* kDigitalSignature =
    "\x05"
    "DigitalSignature";
constexpr const char* kMsiDigitalSignatureEx =
    "\x05"
    "MsiDigitalSignatureEx";
constexpr const char* kJsrvSummary =
    "\x04"
    "JSRV_SummaryInformation";
constexpr const char* kJsrvSegment =
    "\x04"
    "JSRV_SegmentInformation";
constexpr const char* kHwpSummary =
    "\x05"
    "HwpSummaryInformation";
constexpr const char* kCompObj =
    "\x01"
    "CompObj";

bool hasStream(CFStorage& root, const char* name) {
    CFStream s;
    return root.getStream(name, s) == 0;
}

// Test steps in cascade order; only the Word and Excel tests' "unreadable" answer counts.
struct Step {
    int (*test)(CFStorage&, bool&);
    bool damagedCounts;
};

constexpr Step kSteps[] = {
    {&OLEFTAUtil::isDOC, true},
    {&OLEFTAUtil::isPPT, false},
    {[](CFStorage& r, bool&) { return OLEFTAUtil::isMSI(r); }, false},
    {&OLEFTAUtil::isXLS, true},
    {&OLEFTAUtil::isVSD, false},
    {&OLEFTAUtil::isJTD, false},
    {[](CFStorage& r, bool&) { return OLEFTAUtil::isJTDC(r); }, false},
    {[](CFStorage& r, bool&) { return OLEFTAUtil::isHWP(r); }, false},
    {[](CFStorage& r, bool&) { return OLEFTAUtil::isSUO(r); }, false},
    {[](CFStorage& r, bool&) { return OLEFTAUtil::isMPP(r); }, false},
    {[](CFStorage& r, bool&) { return OLEFTAUtil::isMSM(r); }, false},
    {[](CFStorage& r, bool& e) {
         int code = OLEFTAUtil::isEncryptedMSOffice2007(r);
         if (code != 0) e = true;
         return code;
     },
     false},
};

}  // namespace

OleFileType OLEFTAUtil::isOLEFileType(const std::string& path, unsigned long size, std::string& typeId,
                                      std::string& mime, std::string& extensions, std::string& description,
                                      bool& encrypted) {
    if (size < 512) return OLE_NONE;
    kiv::FileByteSource src(path);
    return isOLEFileType(src, typeId, mime, extensions, description, encrypted);
}

OleFileType OLEFTAUtil::isOLEFileType(const kiv::ByteSource& src, std::string& typeId, std::string& mime,
                                      std::string& extensions, std::string& description, bool& encrypted) {
    try {
        if (src.size() < 512) return OLE_NONE;
        CompoundFile file;
        int rc = file.open(src);
        if (rc == 1) return OLE_NONE;
        if (rc != 0) return OLE_DAMAGED;
        CFStorage root = file.getRootStorage();

        bool flag = encrypted;
        int code = OLE_NONE;
        // The tests with names as written first, so that every file they decide keeps its
        // answer. When none decides, the tests that missed a name only by the case of its
        // letters run again, in order, with names in any case (the format's own rule); the
        // others would answer as they did, so only those can decide now.
        bool again[std::size(kSteps)] = {};
        for (bool anyCase : {false, true}) {
            root.setAnyCase(anyCase);
            for (size_t i = 0; i < std::size(kSteps) && code == OLE_NONE; ++i) {
                if (anyCase && !again[i]) continue;
                root.clearMissedByCase();
                int r = kSteps[i].test(root, flag);
                if (r == OLE_DAMAGED && kSteps[i].damagedCounts) return OLE_DAMAGED;
                if (r > OLE_DAMAGED) code = r;
                again[i] = root.missedByCase();
            }
        }
        if (code == OLE_NONE) return OLE_NONE;
        const OleResult* row = nullptr;
        for (const OleResult& candidate : kResults)
            if (candidate.code == code) row = &candidate;
        if (row == nullptr) return OLE_NONE;

        std::string id = flag && row->encryptedTypeId != nullptr ? row->encryptedTypeId : row->typeId;
        std::string desc = FileTypeDescription.at(id);
        typeId = id;
        mime = row->mime;
        extensions = row->extensions;
        description = desc;
        encrypted = flag;
        return code == OLE_XLT ? OLE_XLS : static_cast<OleFileType>(code);
    } catch (const std::exception&) {
        return OLE_NONE;
    }
}

int OLEFTAUtil::isDOC(CFStorage& root, bool& encrypted) {
    CFStream s;
    if (root.getStream("WordDocument", s) != 0) return OLE_NONE;
    // The flags word of the file information block: bit 0 template, bit 8 encrypted. A
    // stream that ends after byte 10 has no encrypted bit, so it reads as clear.
    std::vector<unsigned char> flags = OLEUtil::readBytes(s, 10, 2);
    if (flags.empty()) return OLE_DAMAGED;
    encrypted = flags.size() > 1 && (flags[1] & 0x01) != 0;
    return (flags[0] & 0x01) != 0 ? OLE_DOT : OLE_DOC;
}

int OLEFTAUtil::isPPT(CFStorage& root, bool& encrypted) {
    if (!hasStream(root, "PowerPoint Document")) return OLE_NONE;
    encrypted = PowerPoint2003::checkIsEncrypted(root, PowerPoint2003::defaultPass, 42);
    return OLE_PPT;
}

int OLEFTAUtil::isMSI(CFStorage& root) {
    DirEntryData d = root.GetDirEntryData();
    if (std::memcmp(d.classId(), kInstallerClassId, sizeof(kInstallerClassId)) != 0) return OLE_NONE;
    if (hasStream(root, kDigitalSignature) || hasStream(root, kMsiDigitalSignatureEx)) return OLE_MSI;
    // An unsigned package with the merge-module table is a merge module.
    CFStream s;
    if (root.getStream(kMergeModuleName, 10, s) != 0) return OLE_MSI;
    return OLE_NONE;
}

int OLEFTAUtil::isXLS(CFStorage& root, bool& encrypted) {
    CFStream s;
    bool found = false;
    for (const char* name : {"Workbook", "Book", "WORKBOOK"}) {
        if (root.getStream(name, s) == 0) {
            found = true;
            break;
        }
    }
    if (!found) return OLE_NONE;
    if (OLEUtil::readBytes(s, 0, 1).empty()) return OLE_DAMAGED;
    encrypted = false;
    int answer = OLE_XLS;
    const int size = s.GetDirEntryData().streamSize();

    Excel2003::Record bof;
    if (Excel2003::searchStreamForRecord(s, size, Excel2003::BOF, bof) != 0) return answer;
    short dt = 0;
    // Only a BIFF8 workbook-globals BOF leads to the template and encryption checks.
    if (Excel2003::parseBOF(bof, dt) != 0 || dt != 5) return answer;
    const int64_t next = int64_t{bof.offset} + bof.size + 4;
    Excel2003::Record templ;
    if (next <= INT32_MAX &&
        Excel2003::searchStreamForRecordByOffset(s, size, static_cast<int>(next), 4, Excel2003::TEMPLATE, templ) == 0)
        answer = OLE_XLT;
    Excel2003::Record filePass;
    if (Excel2003::searchStreamForRecord(s, size, Excel2003::FILEPASS, filePass) == 0)
        Excel2003::parseFilePass(filePass, encrypted);
    return answer;
}

int OLEFTAUtil::isVSD(CFStorage& root, bool&) { return hasStream(root, "VisioDocument") ? OLE_VSD : OLE_NONE; }

int OLEFTAUtil::isJTD(CFStorage& root, bool& encrypted) {
    if (!hasStream(root, kJsrvSummary) || !hasStream(root, "Font") || !hasStream(root, "DocumentViewStyles"))
        return OLE_NONE;
    CFStream segment;
    if (root.getStream(kJsrvSegment, segment) != 0) return OLE_NONE;
    if (segment.GetDirEntryData().streamSize() <= 95) return OLE_NONE;
    // Bytes 48 to 95 of the segment information are zero in a document without a password;
    // nothing past them is needed, however large the stream claims to be.
    std::vector<unsigned char> head = OLEUtil::readBytes(segment, 0, 96);
    encrypted = false;
    for (size_t i = 48; i < head.size(); ++i)
        if (head[i] != 0) encrypted = true;
    return OLE_JTD;
}

int OLEFTAUtil::isJTDC(CFStorage& root) {
    CFStream s;
    if (root.getStream("JSCompDocument", s) != 0) return OLE_NONE;
    const int32_t size = s.GetDirEntryData().streamSize();
    // Only the start is read, whatever the stream's size: LZH is named by "-lh" at offset 2,
    // and the rows tried before it sit at offset 0 and are at most 24 bytes long, so the walk
    // over the first 64 bytes answers LZH exactly when a walk over the whole stream would.
    constexpr size_t kHeaderBytes = 38;
    constexpr size_t kSignatureBytes = 64;
    const uint64_t wanted =
        std::min<uint64_t>(size > 0 ? static_cast<uint64_t>(size) : 0, kHeaderBytes + kSignatureBytes);
    std::vector<unsigned char> data = OLEUtil::readBytes(s, 0, wanted);
    if (data.empty()) return OLE_DAMAGED;
    // A compressed document starts with its own 38-byte header naming itself; the
    // compressed data follows it.
    static const char kMarker[] = "JustCompressedDocument";
    size_t start = 0;
    if (data.size() > 24 && std::memcmp(data.data() + 2, kMarker, 22) == 0) {
        if (data.size() <= kHeaderBytes) return OLE_NONE;
        start = kHeaderBytes;
    }
    const unsigned long rest = static_cast<unsigned long>(std::min<size_t>(data.size() - start, kSignatureBytes));
    return ArchiveFTAUtils::checkArchiveSignBytes(data.data() + start, rest) == ARCHIVE_LZH ? OLE_JTDC : OLE_NONE;
}

int OLEFTAUtil::isHWP(CFStorage& root) { return hasStream(root, kHwpSummary) ? OLE_HWP : OLE_NONE; }

int OLEFTAUtil::isSUO(CFStorage& root) { return hasStream(root, "ProjInfoEx") ? OLE_SUO : OLE_NONE; }

int OLEFTAUtil::isMPP(CFStorage& root) {
    CFStream s;
    if (root.getStream(kCompObj, s) != 0) return OLE_NONE;
    // CompObj: the user type text ("Microsoft Project ...") as a length-prefixed ANSI
    // string at 28.
    std::vector<unsigned char> lengthBytes = OLEUtil::readBytes(s, 28, 4);
    if (lengthBytes.size() < 4) return OLE_DAMAGED;
    uint64_t length = kiv::le32(lengthBytes.data(), lengthBytes.size(), 0).value_or(0);
    const int32_t size = s.GetDirEntryData().streamSize();
    if (length == 0 || size <= 32) return OLE_DAMAGED;
    length = std::min<uint64_t>(length, static_cast<uint64_t>(size) - 32);

    // The text runs to its first zero byte. It is read and searched a window at a time, so a
    // length field that claims the whole stream costs one pass and one window of memory; the
    // windows overlap so that a word split between two is still found.
    constexpr char kMicrosoft[] = "microsoft";
    constexpr char kProject[] = "project";
    const CFStreamSource bytes(s);
    kiv::WindowReader in(bytes);
    bool read = false, microsoft = false, project = false;
    in.walk(32, 32 + length, sizeof kMicrosoft - 2, kiv::WindowReader::npos,
            [&](const uint8_t* text, size_t got, uint64_t) {
                read = true;
                const uint8_t* zero = static_cast<const uint8_t*>(std::memchr(text, 0, got));
                const size_t n = zero ? static_cast<size_t>(zero - text) : got;
                auto holds = [&](const char* word, size_t length) {
                    return kiv::findBytesIgnoringAsciiCase(text, n, word, length) != SIZE_MAX;
                };
                microsoft = microsoft || holds(kMicrosoft, sizeof kMicrosoft - 1);
                project = project || holds(kProject, sizeof kProject - 1);
                return zero == nullptr && !(microsoft && project);
            });
    if (!read) return OLE_DAMAGED;
    return microsoft && project ? OLE_MPP : OLE_NONE;
}

int OLEFTAUtil::isMSM(CFStorage& root) {
    CFStream s;
    return root.getStream(kMergeModuleName, 10, s) == 0 ? OLE_MSM : OLE_NONE;
}

int OLEFTAUtil::isEncryptedMSOffice2007(CFStorage& root) {
    return hasStream(root, "EncryptedPackage") ? OLE_MSO_ENCRYPTED : OLE_NONE;
}
