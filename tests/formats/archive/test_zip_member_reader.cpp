// The in-process member reader against 7za itself: whatever the reader answers must be exactly
// what `7za e -so -p -i!NAME -- PATH` prints, with a successful exit. Asked of every package
// fixture of the project (under many spellings of each member name) and of a few thousand
// archives written here: odd names and duplicates, stored and deflated members, data
// descriptors, encryption, damage of every header field, truncation and output bombs.
#include <zlib.h>

#include <atomic>
#include <functional>
#include <mutex>
#include <random>
#include <thread>

#include "ArchiveTestKit.h"
#include "core/ByteUtils.h"
#include "core/Limits.h"
#include "formats/archive/ZipArchive.h"
#include "formats/archive/ZipMemberReader.h"
#include "tests/formats/office/PackageFixtures.h"

using namespace kit;
namespace fs = std::filesystem;

namespace {

// One member as written; the damage fields spoil what the headers record of it.
struct Member {
    std::string name, data;
    uint16_t method = 8, flags = 0, madeBy = 20;  // made by version 2.0 on MS-DOS
    uint32_t attributes = 0;
    std::string centralExtra, localExtra, localName;  // localName: the local header's, when it differs
    bool descriptor = false;  // flag bit 3: zero local CRC and sizes, a descriptor after the data
    int strategy = Z_DEFAULT_STRATEGY;
    uint32_t crcDelta = 0, packedDelta = 0, sizeDelta = 0;
    std::string afterStream;    // bytes after the compressed stream, counted as packed data
    int localFieldDamage = -1;  // one local header byte (4..29) flipped
};

uint32_t crcOf(const std::string& s) {
    return uint32_t(crc32(0, reinterpret_cast<const Bytef*>(s.data()), uInt(s.size())));
}

std::string deflate(const std::string& data, int strategy) {
    z_stream zs{};
    deflateInit2(&zs, 6, Z_DEFLATED, -MAX_WBITS, 8, strategy);
    std::string out(deflateBound(&zs, uLong(data.size())), '\0');
    zs.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
    zs.avail_in = uInt(data.size());
    zs.next_out = reinterpret_cast<Bytef*>(out.data());
    zs.avail_out = uInt(out.size());
    deflate(&zs, Z_FINISH);
    out.resize(zs.total_out);
    deflateEnd(&zs);
    return out;
}

Bytes buildZip(const std::vector<Member>& members, const std::string& comment = "", const std::string& prefix = "",
               int16_t commentLengthDelta = 0) {
    ByteBuilder z;
    z.str(0, prefix);
    std::vector<size_t> offsets;
    std::vector<std::string> packedData;
    for (const Member& m : members) {
        std::string packed = (m.method == 8 ? deflate(m.data, m.strategy) : m.data) + m.afterStream;
        const uint32_t crc = crcOf(m.data);
        const std::string& localName = m.localName.empty() ? m.name : m.localName;
        const size_t at = z.size();
        offsets.push_back(at);
        z.le32(at, 0x04034B50).le16(at + 4, 20).le16(at + 6, m.flags).le16(at + 8, m.method).le16(at + 12, 0x21);
        if (!m.descriptor) {
            z.le32(at + 14, crc + m.crcDelta).le32(at + 18, uint32_t(packed.size()) + m.packedDelta);
            z.le32(at + 22, uint32_t(m.data.size()) + m.sizeDelta);
        }
        z.le16(at + 26, uint16_t(localName.size())).le16(at + 28, uint16_t(m.localExtra.size()));
        z.str(at + 30, localName).str(at + 30 + localName.size(), m.localExtra);
        if (m.localFieldDamage >= 4) z.b[at + size_t(m.localFieldDamage)] ^= 0x01;
        z.str(z.size(), packed);
        if (m.descriptor) {
            const size_t d = z.size();
            z.le32(d, 0x08074B50)
                .le32(d + 4, crc)
                .le32(d + 8, uint32_t(packed.size()))
                .le32(d + 12, uint32_t(m.data.size()));
        }
        packedData.push_back(std::move(packed));
    }
    const size_t cd = z.size();
    for (size_t i = 0; i < members.size(); ++i) {
        const Member& m = members[i];
        const uint32_t crc = crcOf(m.data);
        const size_t at = z.size();
        z.le32(at, 0x02014B50).le16(at + 4, m.madeBy).le16(at + 6, 20).le16(at + 8, m.flags).le16(at + 10, m.method);
        z.le16(at + 14, 0x21)
            .le32(at + 16, crc + m.crcDelta)
            .le32(at + 20, uint32_t(packedData[i].size()) + m.packedDelta);
        z.le32(at + 24, uint32_t(m.data.size()) + m.sizeDelta).le16(at + 28, uint16_t(m.name.size()));
        z.le16(at + 30, uint16_t(m.centralExtra.size()))
            .le32(at + 38, m.attributes)
            .le32(at + 42, uint32_t(offsets[i]));
        z.str(at + 46, m.name).str(at + 46 + m.name.size(), m.centralExtra);
    }
    const size_t end = z.size();
    z.le32(end, 0x06054B50).le16(end + 8, uint16_t(members.size())).le16(end + 10, uint16_t(members.size()));
    z.le32(end + 12, uint32_t(end - cd)).le32(end + 16, uint32_t(cd));
    z.le16(end + 20, uint16_t(comment.size() + size_t(commentLengthDelta))).pad(end + 22).str(end + 22, comment);
    return z.b;
}

// Names the engine asks packages for.
const std::vector<std::string> kEngineRequests = {"[Content_Types].xml", "_rels/.rels", "META-INF/manifest.xml",
                                                  "*.fdseq"};

struct Probe {
    std::string path, request;
    std::vector<char> bytes;  // the reader's answer
};

struct Differential {
    std::vector<Probe> answered;
    size_t asked = 0;

    // Asks the reader; what it answers is kept for the comparison with 7za.
    bool ask(const std::string& path, const std::string& request) {
        ++asked;
        kiv::FileByteSource src(path);
        std::vector<char> bytes;
        if (!kiv::zip::readMemberLike7za(src, request, bytes)) return false;
        answered.push_back(Probe{path, request, std::move(bytes)});
        return true;
    }

    // Runs 7za on every answered probe from 8 threads; answers the disagreements.
    std::vector<std::string> disagreements() const {
        std::vector<std::string> found;
        std::mutex mutex;
        std::atomic<size_t> next{0};
        auto worker = [&] {
            for (size_t i; (i = next.fetch_add(1)) < answered.size();) {
                const Probe& p = answered[i];
                std::vector<char> theirs;
                const int status = ZipArchive::runArchiver(kiv::FileByteSource(p.path), p.request, theirs);
                const bool succeeded = status != -1 && WIFEXITED(status) && WEXITSTATUS(status) == 0;
                if (succeeded && theirs == p.bytes) continue;
                std::lock_guard<std::mutex> lock(mutex);
                found.push_back(
                    p.path + " [" + p.request + "]: 7za status " + std::to_string(status) + ", " +
                    std::string(theirs.begin(), theirs.begin() + long(std::min<size_t>(theirs.size(), 80))));
            }
        };
        std::vector<std::thread> pool;
        for (int t = 0; t < 8; ++t) pool.emplace_back(worker);
        for (std::thread& t : pool) t.join();
        return found;
    }
};

void expectAgreement(const Differential& diff) {
    const std::vector<std::string> found = diff.disagreements();
    EXPECT_TRUE(found.empty()) << found.size() << " of " << diff.answered.size()
                               << " answers differ, first: " << found.front();
}

std::vector<std::string> listedNames(const std::string& path) {
    kiv::FileByteSource src(path);
    std::vector<std::string> names;
    ZipArchive::forEachCentralDirName(src, src.size(), [&](const char* n, uint16_t len) {
        names.emplace_back(n, len);
        return true;
    });
    return names;
}

// Spellings of a member name that 7za may or may not take for it, as requests and as names
// stored in an archive: case, backslashes, leading "/" and "./", folders, odd bytes and parts,
// patterns.
std::vector<std::string> spellings(const std::string& name) {
    std::string back = name;
    std::replace(back.begin(), back.end(), '/', '\\');
    std::vector<std::string> out = {name, kiv::asciiUpperCopy(name), back, "?" + name.substr(1)};
    for (const char* before : {"/", "./", "a//", "x/../", "~$", "\xFF"}) out.push_back(before + name);
    for (const char* after : {"x", "/", "/inner.xml", "\xC3\xA9", "\x01", "."}) out.push_back(name + after);
    const size_t slash = name.find('/');
    if (slash != std::string::npos && slash > 0) out.push_back(name.substr(0, slash));
    const size_t dot = name.rfind('.');
    if (dot != std::string::npos) out.push_back("*" + name.substr(dot));
    return out;
}

// An Info-ZIP Unicode path field naming the member otherwise.
std::string unicodePathExtra(const std::string& rawName, const std::string& newName) {
    ByteBuilder b;
    b.le16(0, 0x7075).le16(2, uint16_t(5 + newName.size())).u8(4, 1).le32(5, crcOf(rawName)).str(9, newName);
    return std::string(b.b.begin(), b.b.end());
}

// Features and kinds of damage, one named row each: a member gets one of them now and then in
// the random sweep, and each is also asked on its own (reads: whether the reader takes such a
// member itself rather than leaving it to 7za), so that a failure names the odd input.
struct Oddity {
    const char* name;
    bool reads;
    std::function<void(Member&)> apply;
};
const Oddity kMemberOddities[] = {
    {"timestamp extra field", true,
     [](Member& m) { m.centralExtra = m.localExtra = std::string("UT\x05\x00\x01\x00\x00\x00\x00", 9); }},
    {"unicode path field renames the member", false,
     [](Member& m) { m.centralExtra = unicodePathExtra(m.name, "renamed.xml"); }},
    {"zip64 field in the local header", false,
     [](Member& m) { m.localExtra = std::string("\x01\x00\x10\x00", 4) + std::string(16, '\0'); }},
    {"extra block longer than its field", false,
     [](Member& m) { m.centralExtra = std::string("\x09\x00\x09\x00", 4); }},
    {"local alignment padding", false, [](Member& m) { m.localExtra = std::string(3, '\0'); }},
    {"crc one off", false, [](Member& m) { m.crcDelta = 1; }},
    {"size one too large", false, [](Member& m) { m.sizeDelta = 1; }},
    {"size one too small", false, [](Member& m) { m.sizeDelta = uint32_t(-1); }},
    {"compressed size one too large", false, [](Member& m) { m.packedDelta = 1; }},
    {"junk after the stream", false, [](Member& m) { m.afterStream = "JUNK"; }},
    {"local name differs", false, [](Member& m) { m.localName = m.name + "2"; }},
    {"one local header field flipped", false, [](Member& m) { m.localFieldDamage = 4 + int(m.data.size() % 26); }},
    {"encrypted", false, [](Member& m) { m.flags |= 0x0001; }},
    {"strong encryption", false, [](Member& m) { m.flags |= 0x0040; }},
    {"masked local header", false, [](Member& m) { m.flags |= 0x2000; }},
    {"bzip2 method", false, [](Member& m) { m.method = 12; }},
    {"unknown method", false, [](Member& m) { m.method = 99; }},
    {"dos folder attribute", false, [](Member& m) { m.attributes = 0x10; }},
    {"unix folder", false, [](Member& m) { m.attributes = 040755u << 16; }},
    {"unix symbolic link", false, [](Member& m) { m.attributes = 0120777u << 16; }},
};

// One archive of one to four members with random features and, often, one kind of damage;
// requests gets the names to ask for.
Bytes randomArchive(std::mt19937& rng, std::vector<std::string>& requests) {
    static const std::vector<std::string> pool = {
        "[Content_Types].xml", "_rels/.rels", "word/document.xml",         "META-INF/manifest.xml",
        "FixedDocSeq.fdseq",   "mimetype",    "Documents/1/FixedDoc.fdoc", "a.txt"};
    auto pick = [&](size_t n) { return size_t(rng() % n); };
    std::vector<Member> members(1 + pick(4));
    for (Member& m : members) {
        m.name = pool[pick(pool.size())];
        if (pick(4) == 0) {
            const std::vector<std::string> odd = spellings(m.name);
            m.name = odd[pick(odd.size())];
        }
        requests.push_back(m.name);
        for (size_t i = 0, n = pick(5) == 0 ? 0 : pick(4000); i < n; ++i)
            m.data += pick(4) == 0 ? char(rng()) : "<xml attr=\"v\"> text </xml>\n"[i % 27];
        m.method = pick(3) == 0 ? 0 : 8;
        m.strategy = std::vector<int>{Z_DEFAULT_STRATEGY, Z_FILTERED, Z_HUFFMAN_ONLY, Z_RLE, Z_FIXED}[pick(5)];
        m.descriptor = pick(4) == 0;
        m.flags = uint16_t((m.descriptor ? 0x0008 : 0) | (pick(4) == 0 ? 0x0800 : 0) | (pick(4) == 0 ? 0x0002 : 0));
        m.madeBy = uint16_t(std::vector<int>{20, 0x0314, 0x0B14, 0x1314, 0x0A14}[pick(5)]);
        if (pick(3) == 0) kMemberOddities[pick(std::size(kMemberOddities))].apply(m);
    }
    if (pick(10) == 0) members.push_back(members[pick(members.size())]);  // a duplicate entry
    std::shuffle(members.begin(), members.end(), rng);

    const size_t layout = pick(20);
    const std::string comment = layout == 0   ? "a comment"
                                : layout == 1 ? std::string("PK\x05\x06", 4) + std::string(30, 'c')
                                : layout == 2 ? "x"
                                              : "";
    Bytes zip = buildZip(members, comment, layout == 3 ? "JUNK" : "", layout == 2 ? 1 : 0);
    const size_t damage = pick(24);
    if (damage == 0) zip.resize(pick(zip.size()));                     // truncated
    if (damage == 1) zip.push_back('j');                               // trailing byte
    if (damage == 2) zip[pick(zip.size())] ^= uint8_t(1 + pick(255));  // one byte anywhere
    if (damage == 3) zip[zip.size() - 22 + 4 + pick(18)] ^= 0x01;      // an end record field
    for (const std::string& r : kEngineRequests) requests.push_back(r);
    requests.push_back("renamed.xml");
    return zip;
}

}  // namespace

TEST(ZipMemberReader, AgreesWithTheArchiverOnEveryPackageFixture) {
    SevenZipHome home;
    ASSERT_NE(pkgtest::packagesDir(), "");
    Differential diff;
    const std::string src = KIV_SOURCE_DIR;
    for (const std::string& dir : {src + "/tests/conformance/files", src + "/tests/engine/detectors/fixtures",
                                   src + "/tests/formats/office/fixtures", src + "/samples", pkgtest::packagesDir()}) {
        for (const auto& entry : fs::recursive_directory_iterator(dir)) {
            const std::string path = entry.path().string();
            if (!entry.is_regular_file() || !kiv::FileByteSource(path).head(4).startsWith("PK\x03\x04", 4)) continue;
            std::vector<std::string> requests = kEngineRequests;
            std::vector<std::string> names = listedNames(path);
            if (names.size() > 12) names.resize(12);
            for (const std::string& n : names)
                for (const std::string& s : spellings(n)) requests.push_back(s);
            for (const std::string& r : requests) diff.ask(path, r);
        }
    }
    // Packages written by a real office suite are read without the archiver.
    for (const char* name : {"writer.docx", "calc.xlsx", "impress.pptx", "writer.odt", "calc.ods"}) {
        const std::string path = src + "/tests/engine/detectors/fixtures/real/" + name;
        const char* part =
            std::string(name).find(".od") != std::string::npos ? "META-INF/manifest.xml" : "[Content_Types].xml";
        EXPECT_TRUE(diff.ask(path, part)) << name;
    }
    EXPECT_GT(diff.answered.size(), 500u) << "of " << diff.asked;

    // Damaged copies of them: flips in the places 7za checks (the end record and the central
    // directory near the end, the first local header) and anywhere.
    TempDir d;
    std::mt19937 rng(1501);
    int n = 0;
    for (const char* name : {"writer.docx", "calc.xlsx", "impress.pptx", "writer.odt", "writer-password.odt"}) {
        const Bytes original = readFile(src + "/tests/engine/detectors/fixtures/real/" + name);
        const std::vector<std::string> names = listedNames(src + "/tests/engine/detectors/fixtures/real/" + name);
        ASSERT_FALSE(names.empty()) << name;
        for (int k = 0; k < 150; ++k) {
            Bytes copy = original;
            const size_t tail = std::min<size_t>(copy.size(), 4096), head = std::min<size_t>(copy.size(), 200);
            for (int flips = 1 + int(rng() % 3); flips > 0; --flips) {
                const size_t where = k % 3 == 0   ? rng() % copy.size()
                                     : k % 3 == 1 ? copy.size() - 1 - rng() % tail
                                                  : rng() % head;
                copy[where] ^= uint8_t(1 + rng() % 255);
            }
            const std::string path = d / ("m" + std::to_string(n++) + ".zip");
            writeFile(path, copy);
            for (const std::string& r : kEngineRequests) diff.ask(path, r);
            diff.ask(path, names[rng() % names.size()]);
        }
    }
    expectAgreement(diff);
}

TEST(ZipMemberReader, AgreesWithTheArchiverOnGeneratedArchives) {
    SevenZipHome home;
    TempDir d;
    Differential diff;
    std::mt19937 rng(15);
    for (int i = 0; i < 1500; ++i) {
        std::vector<std::string> requests;
        const Bytes zip = randomArchive(rng, requests);
        // Names 7za ties to other formats must not change the answer either.
        const char* ext = i % 50 == 0 ? ".tar" : (i % 50 == 1 ? ".z01" : ".zip");
        const std::string path = d / ("v" + std::to_string(i) + ext);
        writeFile(path, zip);
        for (const std::string& r : requests) diff.ask(path, r);
    }
    EXPECT_GT(diff.answered.size(), 1000u) << "of " << diff.asked;
    expectAgreement(diff);
}

TEST(ZipMemberReader, EachOddMemberOnItsOwn) {
    SevenZipHome home;
    TempDir d;
    Differential diff;
    int n = 0;
    for (const Oddity& odd : kMemberOddities) {
        for (uint16_t method : {uint16_t(0), uint16_t(8)}) {
            Member m, other;
            m.name = "word/document.xml";
            m.method = method;
            for (int i = 0; i < 40; ++i) m.data += "<w:p>line " + std::to_string(i) + "</w:p>\n";
            odd.apply(m);
            other.name = "[Content_Types].xml";
            other.data = "<Types/>";
            // The odd member first, so that its local header is the one 7za checks on opening.
            const std::string path = d / ("odd" + std::to_string(n++) + ".zip");
            writeFile(path, buildZip({m, other}));
            EXPECT_EQ(diff.ask(path, m.name), odd.reads) << odd.name << ", method " << method;
            diff.ask(path, other.name);
            diff.ask(path, "renamed.xml");
        }
    }
    expectAgreement(diff);
}

TEST(ZipMemberReader, MembersNearTheOutputCap) {
    SevenZipHome home;
    TempDir d;
    Differential diff;
    const size_t cap = kiv::limits::kCommandOutputCap;
    const size_t sizes[] = {cap - 1, cap, cap + 1};
    for (size_t size : sizes) {
        Member m;
        m.name = "manifest.xml";
        m.data.assign(size, '\0');
        const std::string path = d / ("bomb" + std::to_string(size) + ".zip");
        writeFile(path, buildZip({m}));
        // Only the member below the cap is read here; 7za's cut answer stays its own.
        EXPECT_EQ(diff.ask(path, m.name), size < cap) << size;
    }
    // A directory that understates what the stream inflates to.
    Member liar;
    liar.name = "manifest.xml";
    liar.data.assign(cap + 4096, 'x');
    liar.sizeDelta = uint32_t(-8192);
    writeFile(d / "liar.zip", buildZip({liar}));
    EXPECT_FALSE(diff.ask(d / "liar.zip", liar.name));
    expectAgreement(diff);
}
