// Detectors that belong to the engine rather than to a format family: OpenDocument and Office
// Open XML packages (with their encryption), PDF with its password test, RTF and TNEF, the
// results of the image and subtitle codes, and the probes the post-rules use to confirm or
// refine a generic answer (JAR, ISO 9660, Atari ATR, Apple disk image, closing tags, media
// brands, compound documents by byte signature).
//
// Each detector reads the file through a ByteSource; the (path, size) forms are thin wrappers
// that open the file. A file that cannot be read is not of the detector's format. Package
// members are read with 7za, so a source without a path is never a package of any kind.
#pragma once

#include <cstdint>
#include <string>

#include "engine/ByteSource.h"
#include "formats/media/MediaContainerFileType.h"
#include "formats/office/MSOffice2007.h"

// ---- byte access ----

// Copies min(n, size) bytes from the start (fromStart non-zero) or the end of the file into
// buffer; true when all of them were read.
bool readArbitraryBytesOfFile(const kiv::ByteSource& src, size_t n, unsigned char* buffer, int fromStart);
// 1 when the file holds the pattern at offset; 0 when it runs past the end or differs.
int checkBytesMatch(const kiv::ByteSource& src, const unsigned char* pattern, unsigned int length, unsigned int offset);
// 1 when the pattern occurs anywhere in the buffer, else 0.
int checkBytesMatchWithoutStaticOffset(const unsigned char* buffer, int bufferLength, const unsigned char* pattern,
                                       int patternLength);
// Two lower-case hex digits per byte, last byte first or first byte first.
std::string convertHexaBytesToStringWithLittleEndian(const unsigned char* bytes, size_t count);
std::string convertHexaBytesToStringWithBigEndian(const unsigned char* bytes, size_t count);

// ---- packages ----

bool isOpenOfficeDocument(const kiv::ByteSource& src);
bool isOpenOfficeDocument(const std::string& path, unsigned long size);
// 2 ODT, 3 OTT, 4 ODP, 5 ODS, 6 to 9 their encrypted forms, 10 a ZIP whose manifest needs a
// password, 0 none of these.
uint8_t determineOpenOfficeDocument(const kiv::ByteSource& src);
uint8_t determineOpenOfficeDocument(const std::string& path, unsigned long size);
void adjustOpenDocumentTypes(uint8_t code, std::string& typeId, std::string& mime, std::string& extensions,
                             std::string& description, bool& encrypted);

// 1 for an Office Open XML package, 0 otherwise.
int isMSOffice2007Document(const kiv::ByteSource& src);
int isMSOffice2007Document(const std::string& path, unsigned long size);
MsOfficeTypes classifyOfficeFileType(const kiv::ByteSource& src);
MsOfficeTypes classifyOfficeFileType(const std::string& path, unsigned long size);
// True when the archive lists the member and 7za cannot extract it without a password.
bool isEncryptedOfficeType(const kiv::ByteSource& src, const std::string& member, const unsigned char* memberBytes,
                           uint16_t memberLength);
bool isEncryptedOfficeType(const std::string& path, const std::string& member, const unsigned char* memberBytes,
                           uint16_t memberLength, unsigned long size);
// MSOFFICE_XPS, MSOFFICE_OXPS (which wins when both namespaces appear) or 0.
MsOfficeTypes determineXPSFamilyType(const kiv::ByteSource& src);
MsOfficeTypes determineXPSFamilyType(const std::string& path);

// ---- PDF ----

// 0 not PDF, 1 PDF, 2 Illustrator (a PDF carrying "/AIMetaData").
int classifyPDFType(const kiv::ByteSource& src);
int classifyPDFType(const std::string& path, unsigned long size);
// True when the document cannot be opened without a password.
bool isPDFPasswordProtection(const kiv::ByteSource& src);
bool isPDFPasswordProtection(const std::string& path);

// ---- single-type probes ----

bool isRTF(const kiv::ByteSource& src);
bool isRTF(const std::string& path, unsigned long size);
bool isTNEF(const kiv::ByteSource& src);
bool isTNEF(const std::string& path, unsigned long size);
bool isATR(const kiv::ByteSource& src);
bool isATR(const std::string& path, unsigned long size);
bool isJAR(const kiv::ByteSource& src);
bool isJAR(const std::string& path, unsigned long size);
bool isDMG(const kiv::ByteSource& src);
bool isDMG(const std::string& path, unsigned long size);
bool isISO(const kiv::ByteSource& src);
bool isISO(const std::string& path);

// 1 SVG, 2 RDF, 3 HTML, by the closing tag in the last 20 bytes; 0 none.
int detemineSVGorRDForHTML(const kiv::ByteSource& src);
int detemineSVGorRDForHTML(const std::string& path, unsigned long size);

// MPEG and CD-XA streams by their first bytes, the MP4 family by the brand of its ftyp box.
MediaContainerFileType determineMediaContainerType(const kiv::ByteSource& src);
MediaContainerFileType determineMediaContainerType(const std::string& path);

// A compound document's kind from the "MSOFFICE" signature rows: true when the header row and
// one of the kind rows match; that row's texts are written. Otherwise false, outputs untouched.
bool findMagicSignatureFallback(const kiv::ByteSource& src, std::string& typeId, std::string& mime,
                                std::string& description, std::string& extensions);
bool findMagicSignatureFallback(const std::string& path, unsigned long size, std::string& typeId, std::string& mime,
                                std::string& description, std::string& extensions);

// ---- results of the image and subtitle probes ----

void adjustImageTypes(uint8_t code, std::string& typeId, std::string& mime, std::string& extensions,
                      std::string& description);
void adjustSubtitleTypes(uint8_t code, std::string& typeId, std::string& mime, std::string& extensions,
                         std::string& description);
