// Stand-ins for families not wired yet: every detector answers "not this format", every
// adjust function and start-up hook does nothing. See Pending.h for how to wire a family.
#include "engine/Pending.h"

namespace pending {

using kiv::ByteSource;


// ---- formats/office ----
void MSOffice2007::adjustMsOfficeTypes(uint8_t, std::string&, std::string&, std::string&, std::string&, bool&) {}

// ---- engine-level detectors ----
bool isOpenOfficeDocument(const ByteSource&) { return false; }
uint8_t determineOpenOfficeDocument(const ByteSource&) { return 0; }
void adjustOpenDocumentTypes(uint8_t, std::string&, std::string&, std::string&, std::string&, bool&) {}
int isMSOffice2007Document(const ByteSource&) { return 0; }
uint8_t classifyOfficeFileType(const ByteSource&) { return 0; }
int classifyPDFType(const ByteSource&) { return 0; }
bool isPDFPasswordProtection(const ByteSource&) { return false; }
bool isRTF(const ByteSource&) { return false; }
bool isTNEF(const ByteSource&) { return false; }
void adjustImageTypes(uint8_t, std::string&, std::string&, std::string&, std::string&) {}
void adjustSubtitleTypes(uint8_t, std::string&, std::string&, std::string&, std::string&) {}
void initISOVecSignatures() {}
void initFallBackSignatures() {}
void adjustFileTypeDetection(const ByteSource&, std::string&, std::string&, std::string&, std::string&, bool&) {}



}  // namespace pending
