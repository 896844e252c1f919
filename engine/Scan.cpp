// scan: one bounded reader over the file, the detector cascade, and when no detector
// decides, the generic stage (libmagic and the slot's matcher, mapped by the rule table and
// corrected by the post-rules). kivFileType shares the same path to the result.
#include <unistd.h>

#include <string>
#include <vector>

#include "core/ByteSource.h"
#include "engine/Cascade.h"
#include "engine/Engine.h"
#include "engine/Families.h"
#include "engine/GenericStage.h"
#include "engine/HostApi.h"
#include "engine/KivFileType.h"
#include "engine/Result.h"
#include "engine/mapping/regexptable.h"
#include "formats/archive/ZipArchive.h"

namespace kiv {

void foldMatcherAnswer(std::string& extText, std::string& typeText, std::string& magicDescription) {
    // PPSM, POTX and XLTX are not folded.
    static const char* const kOfficeOpenXml[] = {"DOCX", "DOCM", "DOTX", "DOTM", "PPTX", "PPTM",
                                                 "PPSX", "XLSX", "XLAM", "XLSM", "XLSB"};
    for (const char* ext : kOfficeOpenXml) {
        if (extText == ext) {
            extText = "ZIP";
            typeText = "ZIP archive";
            return;
        }
    }
    if (extText == "XEX/EXE") {
        extText = "data";
        magicDescription = "data";
    }
}

void blankLineBreaks(std::string& text) {
    for (char& c : text)
        if (c == '\r' || c == '\n') c = ' ';
}

namespace {

struct MagicAnswer {
    std::string description;
    std::string mime;
};

// libmagic reads a descriptor from its current offset (and puts the offset back); the
// engine's own reads use pread, but qpdf's stream shares the offset, so each call starts at 0.
const char* describe(magic_t handle, int fd) {
    if (::lseek(fd, 0, SEEK_SET) != 0) return nullptr;
    return magic_descriptor(handle, fd);
}

// Under the lock of a free slot: libmagic's two answers and the matcher's best hit, all read
// from the descriptor the scan checked, never from the path again. False when libmagic answers
// nothing or the matcher refuses the file; the lock is released on every path.
bool askSlot(const ByteSource& src, MagicAnswer& magic, std::string& extText, std::string& typeText) {
    const int fd = src.descriptor();
    if (fd < 0) return false;
    const int slot = lockFreeSlot();
    std::lock_guard<std::mutex> lock(m_scanLock[slot], std::adopt_lock);
    if (myt[slot] == nullptr || myt_mime[slot] == nullptr) return false;  // deinit ran meanwhile
    const char* description = describe(myt[slot], fd);
    const char* mime = describe(myt_mime[slot], fd);
    const char* error = magic_error(myt[slot]);
    if (error == nullptr) error = magic_error(myt_mime[slot]);
    setLastMagicError(error);
    if (description == nullptr || mime == nullptr) return false;
    magic.description = description;
    magic.mime = mime;

    // The matcher opens what it is given by name; this name is the open file itself, short,
    // free of backslashes and plain ASCII, so every file reaches it.
    qrix& matcher = qxd[slot];
    std::string self = "/proc/self/fd/" + std::to_string(fd);
    std::vector<char> writable(self.begin(), self.end());  // the export takes char*
    writable.push_back('\0');
    if (matcher.SubmitFileA(writable.data()) == 0) return false;
    if (matcher.Analyze() == 0) return false;
    pickBestHit([&](int mode, int index, char* out) { return matcher.GetInfo(mode, index, out); }, extText, typeText);
    return true;
}

bool genericStage(const ByteSource& src, DetectionResult& r) {
    MagicAnswer magic;
    std::string extText, typeText;
    if (!askSlot(src, magic, extText, typeText)) return false;
    blankLineBreaks(magic.description);
    blankLineBreaks(magic.mime);
    foldMatcherAnswer(extText, typeText, magic.description);
    if (regexpTable.check(extText.c_str(), typeText.c_str(), magic.mime.c_str(), magic.description.c_str(), r.typeId,
                          r.mime, r.description, r.extensions) != 0)
        return false;
    try {
        adjustFileTypeDetection(src, r.typeId, r.mime, r.extensions, r.description, r.encrypted);
    } catch (...) {
        // The result stands as far as the post-rules wrote it.
    }
    return true;
}

}  // namespace

bool scanToResult(const char* path, DetectionResult& result,
                  const std::function<void(const ByteSource&, DetectionResult&)>& refine) {
    setLastMagicError(nullptr);
    if (path == nullptr || !engineReady()) return false;
    // Opened once, then checked through the descriptor: every reader of this scan reads this
    // open file, so a name swapped after the check changes nothing. Only regular files: a FIFO
    // would block every reader, a device can read without end, and a directory has no bytes.
    FileByteSource src(path);
    if (!src.isRegular()) return false;
    const bool answered = runCascade(src, result) || genericStage(src, result);
    if (answered && refine) refine(src, result);
    // An answer built without a member that only 7za could read is a guess that looks real
    // (an encrypted package would pass for a plain one): no answer, and the host may ask why.
    const std::string& archiverFailure = ZipArchive::archiverFailure(src);
    if (!archiverFailure.empty()) {
        setLastMagicError(archiverFailure.c_str());
        return false;
    }
    return answered;
}

}  // namespace kiv

KIV_EXPORT int scan(const char* path, uint32_t* status, char** json) {
    if (status == nullptr || json == nullptr) return 1;
    *status = 1;
    *json = nullptr;
    try {
        kiv::DetectionResult r;
        if (!kiv::scanToResult(path, r)) return 1;

        std::string text = createOutputJson(r.typeId, r.mime, r.description, r.extensions, r.encrypted, {});
        const char* registered = addString(text.c_str());
        if (registered == nullptr) return 1;
        *json = const_cast<char*>(registered);
        return 0;
    } catch (...) {
        return 1;
    }
}
