// The package probes: OpenDocument and Office Open XML packages (with their encryption) and the
// XPS family, told apart by the members their ZIP lists and by what 7za prints of them. A
// source without a path is never a package of any kind (members are read with 7za). The
// (path, size) forms are thin wrappers that open the file.
#pragma once

#include <cstdint>
#include <string>

#include "core/ByteSource.h"
#include "formats/office/MSOffice2007.h"

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
