// Stand-ins for detectors and start-up hooks whose families are not wired into the cascade
// yet. Each answers "not this format" or does nothing. To wire a family: delete its block
// here and in Pending.cpp (the using-declarations included) and include the family's header
// where the block's names are called (Cascade.cpp, EngineInterface.cpp for the start-up hooks,
// Scan.cpp for adjustFileTypeDetection); the calls there already use the family's names.
#pragma once

#include <cstdint>
#include <string>

#include "engine/ByteSource.h"
#include "formats/archive/ArchiveFTAUtils.h"
#include "formats/media/AMRFTAUtils.h"
#include "formats/media/ASFHandler.h"
#include "formats/media/AtariFTAUtils.h"
#include "formats/media/AudioFTAUtils.h"
#include "formats/media/AutoCADUtil.h"
#include "formats/media/ImageFTAUtils.h"
#include "formats/media/PhotoshopFTAUtils.h"
#include "formats/media/SubtitleFTAUtils.h"
#include "formats/office/OLEFTAUtil.h"
#include "formats/office/PSTFTAUtils.h"
#include "formats/text/TextBasedFTAUtils.h"


// ---- formats/office: Office Open XML ----
namespace pending {
struct MSOffice2007 {
    static void adjustMsOfficeTypes(uint8_t code, std::string& typeId, std::string& mime, std::string& extensions,
                                    std::string& description, bool& encrypted);
};
}  // namespace pending
using pending::MSOffice2007;

// ---- engine-level detectors ----
namespace pending {
bool isOpenOfficeDocument(const kiv::ByteSource& src);
uint8_t determineOpenOfficeDocument(const kiv::ByteSource& src);
void adjustOpenDocumentTypes(uint8_t code, std::string& typeId, std::string& mime, std::string& extensions,
                             std::string& description, bool& encrypted);
int isMSOffice2007Document(const kiv::ByteSource& src);
uint8_t classifyOfficeFileType(const kiv::ByteSource& src);
int classifyPDFType(const kiv::ByteSource& src);
bool isPDFPasswordProtection(const kiv::ByteSource& src);
bool isRTF(const kiv::ByteSource& src);
bool isTNEF(const kiv::ByteSource& src);
void adjustImageTypes(uint8_t code, std::string& typeId, std::string& mime, std::string& extensions,
                      std::string& description);
void adjustSubtitleTypes(uint8_t code, std::string& typeId, std::string& mime, std::string& extensions,
                         std::string& description);
void initISOVecSignatures();
void initFallBackSignatures();
// Post-rules of the generic stage.
void adjustFileTypeDetection(const kiv::ByteSource& src, std::string& typeId, std::string& mime,
                             std::string& extensions, std::string& description, bool& encrypted);

}  // namespace pending
using pending::adjustFileTypeDetection;
using pending::adjustImageTypes;
using pending::adjustOpenDocumentTypes;
using pending::adjustSubtitleTypes;
using pending::classifyOfficeFileType;
using pending::classifyPDFType;
using pending::determineOpenOfficeDocument;
using pending::initFallBackSignatures;
using pending::initISOVecSignatures;
using pending::isMSOffice2007Document;
using pending::isOpenOfficeDocument;
using pending::isPDFPasswordProtection;
using pending::isRTF;
using pending::isTNEF;


