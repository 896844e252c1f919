#include "engine/Cascade.h"

#include "engine/Families.h"

namespace kiv {

namespace {

using R = DetectionResult;

bool markerTest(const ByteSource& src, R& r) {
    if (!ArchiveFTAUtils::ignoreDetectionFiletype(src)) return false;
    writeFixedRow(FixedRow::Data, r);
    return true;
}

bool compoundDocument(const ByteSource& src, R& r) {
    auto code = OLEFTAUtil::isOLEFileType(src, r.typeId, r.mime, r.extensions, r.description, r.encrypted);
    if (code == 0) return false;
    // 1 is a damaged compound file; higher codes wrote their own result.
    if (code == 1) writeFixedRow(FixedRow::Data, r);
    return true;
}

bool openDocument(const ByteSource& src, R& r) {
    if (!isOpenOfficeDocument(src)) return false;
    auto code = determineOpenOfficeDocument(src);
    adjustOpenDocumentTypes(code, r.typeId, r.mime, r.extensions, r.description, r.encrypted);
    return true;
}

bool officeOpenXml(const ByteSource& src, R& r) {
    if (isMSOffice2007Document(src) != 1) return false;
    auto code = classifyOfficeFileType(src);
    MSOffice2007::adjustMsOfficeTypes(code, r.typeId, r.mime, r.extensions, r.description, r.encrypted);
    return true;
}

bool archive(const ByteSource& src, R& r) {
    auto code = ArchiveFTAUtils::isArchive(src);
    if (code == 0) return false;
    ArchiveFTAUtils::adjustArchiveTypes(code, r.typeId, r.mime, r.extensions, r.description);
    return true;
}

bool pdf(const ByteSource& src, R& r) {
    auto code = classifyPDFType(src);
    if (code == 0) return false;
    if (isPDFPasswordProtection(src))
        writeFixedRow(FixedRow::PdfEncrypted, r);
    else
        writeFixedRow(code == 2 ? FixedRow::Ai : FixedRow::Pdf, r);
    return true;
}

bool image(const ByteSource& src, R& r) {
    auto code = ImageFTAUtils::isImage(src);
    if (code == 0) return false;
    adjustImageTypes(code, r.typeId, r.mime, r.extensions, r.description);
    return true;
}

bool subtitle(const ByteSource& src, R& r) {
    auto code = SubtitleFTAUtils::isSubtitle(src);
    if (code == 0) return false;
    adjustSubtitleTypes(code, r.typeId, r.mime, r.extensions, r.description);
    return true;
}

bool rtf(const ByteSource& src, R& r) {
    if (!isRTF(src)) return false;
    writeFixedRow(FixedRow::Rtf, r);
    return true;
}

bool asf(const ByteSource& src, R& r) {
    auto code = ASFHandler::isASFFileBased(src);
    if (code == 0) return false;
    ASFHandler::adjustASFBasedTypes(code, r.typeId, r.mime, r.extensions, r.description);
    return true;
}

bool photoshop(const ByteSource& src, R& r) {
    auto code = PhotoshopFTAUtils::isPTSFileBased(src);
    if (code == 0) return false;
    PhotoshopFTAUtils::adjustPTSBasedTypes(code, r.typeId, r.mime, r.extensions, r.description);
    return true;
}

bool amr(const ByteSource& src, R& r) {
    if (!AMRFTAUtils::isAMRFileBased(src)) return false;
    writeFixedRow(FixedRow::Amr, r);
    return true;
}

bool atari(const ByteSource& src, R& r) {
    // 2 is a load-file marker with a broken segment chain: not decided, the cascade goes on.
    if (AtariFTAUtils::isAtariFileBased(src) != 1) return false;
    writeFixedRow(FixedRow::XexExe, r);
    return true;
}

bool outlookStore(const ByteSource& src, R& r) {
    if (!PSTFTAUtils::isPSTFileBased(src)) return false;
    writeFixedRow(FixedRow::Pst, r);
    return true;
}

bool textBased(const ByteSource& src, R& r) {
    auto code = TextBasedFTAUtils::isTextBased(src);
    if (code == 0) return false;
    TextBasedFTAUtils::adjustTextBasedTypes(code, r.typeId, r.mime, r.extensions, r.description);
    return true;
}

bool tnef(const ByteSource& src, R& r) {
    if (!isTNEF(src)) return false;
    writeFixedRow(FixedRow::Tnef, r);
    return true;
}

bool autoCad(const ByteSource& src, R& r) {
    AutoCADExts family{};
    auto code = AutoCADUtil::determineAutoCADType(src, family);
    if (code == 0) return false;
    AutoCADUtil::adjustAutoCADTypes(code, family, r.typeId, r.mime, r.extensions, r.description);
    return true;
}

bool wav(const ByteSource& src, R& r) {
    if (!AudioFTAUtils::isWAVFileBased(src)) return false;
    writeFixedRow(FixedRow::Wav, r);
    return true;
}

bool mp3(const ByteSource& src, R& r) {
    if (!AudioFTAUtils::isMP3FileBased(src)) return false;
    writeFixedRow(FixedRow::Mp3, r);
    return true;
}

// Order is behaviour: the first detector that decides wins even where a later one would
// also match (an OpenDocument package is never reported as a ZIP archive).
const CascadeStep kSteps[] = {
    {"marker", "files carrying the plain-data marker are data, whatever they resemble", markerTest},
    {"compound", "compound documents first: many other probes would misread their sectors", compoundDocument},
    {"opendocument", "a ZIP with an ODF manifest, before the generic ZIP test claims it", openDocument},
    {"officeopenxml", "a ZIP with Office content types, before the generic ZIP test claims it", officeOpenXml},
    {"archive", "archives, disk images, compressed streams and self-extractors by signature", archive},
    {"pdf", "PDF before the text stage, which would call it text", pdf},
    {"image", "images with cheap fixed headers", image},
    {"subtitle", "subtitle files with fixed headers", subtitle},
    {"rtf", "RTF is text, so it must precede the text stage", rtf},
    {"asf", "ASF media by header GUID", asf},
    {"photoshop", "Photoshop documents by their header", photoshop},
    {"amr", "AMR speech by its magic line", amr},
    {"atari", "Atari load files: only an accepted chain decides", atari},
    {"outlookstore", "Outlook stores by their header", outlookStore},
    {"text", "markup, calendars and mail: the costly text stage after every binary probe", textBased},
    {"tnef", "TNEF attachments by their signature", tnef},
    {"autocad", "drawings, including text DXF that the text stage leaves", autoCad},
    {"wav", "RIFF WAVE audio", wav},
    {"mp3", "MP3 last: bare MPEG frame sync is the weakest signature", mp3},
};

}  // namespace

bool runCascade(const ByteSource& src, DetectionResult& result, const char** decidedBy) {
    for (const CascadeStep& step : kSteps) {
        if (step.decide(src, result)) {
            if (decidedBy) *decidedBy = step.name;
            return true;
        }
    }
    return false;
}

}  // namespace kiv
