// Host entry points of the scan pipeline, the information queries and the two string
// registries. Declared once here and included by their definitions, so a definition that
// drifts from this interface fails to compile; hosts and tests type their dlsym results
// from these declarations (decltype(&::scan)).
//
// Status convention: 0 success, 1 failure. Every char* handed out is a registered copy that
// the host gives back with freeString, except getLastError's own texts (libmagic's error,
// or why the archiver could not run).
#pragma once

#include <cstddef>
#include <cstdint>

#include "engine/Export.h"

// Lifecycle and information queries.
KIV_EXPORT int init();
KIV_EXPORT int deinit();
KIV_EXPORT int update();
KIV_EXPORT int reloadDatabase(void* ignored);
KIV_EXPORT int reloadConfig();
KIV_EXPORT int getEngineCapabilities(unsigned char* flags);
KIV_EXPORT int getDefinitionInfo(char** engineVersion, char** definitionVersion, char** definitionDate,
                                 uint64_t* definitionCount);
KIV_EXPORT int getFileTypeGroup(char** json);
KIV_EXPORT int getLastError(const char** text);
KIV_EXPORT int getInterfaceVersion(uint32_t* version);
KIV_EXPORT int getEngineType(uint32_t* type);
KIV_EXPORT int getProductName(char** name);

// Scanning. kivFileType is the second scan entry (the file's extension refines the answer).
KIV_EXPORT int scan(const char* path, uint32_t* status, char** json);
KIV_EXPORT int kivFileType(const char* path, const char* extension, char** json);

// Result strings handed to the host.
KIV_EXPORT const char* addString(const char* text);
KIV_EXPORT int freeString(char** text);

// Host-filled string registry and conversion shims.
KIV_EXPORT const char* addScanString(const char* text, int* id);
KIV_EXPORT int getLastScanError(int id, const char** text);
KIV_EXPORT int freeScanString(int id);
KIV_EXPORT int wcstombs_s(size_t* count, char* dst, size_t dstSize, const wchar_t* src, size_t max);
KIV_EXPORT int mbstowcs_s(size_t* count, wchar_t* dst, size_t dstSize, const char* src, size_t max);
KIV_EXPORT char* getCharConst(const wchar_t* text);
KIV_EXPORT wchar_t* getWCharConst(const char* text);
KIV_EXPORT int64_t getTimeSinceEpochInMs(uint32_t year, uint32_t month, uint32_t day, uint32_t hour, uint32_t minute,
                                         uint32_t second);
