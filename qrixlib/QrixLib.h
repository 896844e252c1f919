// The ten exports of libQrixLib, the signature-definition matcher. Callers normally bind
// them with dlsym on a private copy of the library (one copy per scan slot); the
// declarations here give the exact types for that.
//
// Every table the matcher answers about is 1-based. Exports return 1 for success and 0 for
// failure, or a count or value by query mode, and never let an exception out.
#pragma once

#include <stdint.h>
#include <wchar.h>

#ifdef __cplusplus
extern "C" {
#endif

// Reads "QrixDefs.QXD" from dir (a backslash is added unless dir is empty or ends in a
// colon or a backslash; backslashes in the path are read as slashes). Returns the number of
// definitions the package header declares, 0 when the package is missing or malformed.
int32_t Qrix_LoadDefsPack(char* dir);

// Parses a package held in memory. Only the address is passed, so the package is taken to
// span 8 + the RIFF size stored at offset 4: the caller must pass at least 8 readable bytes
// and a truthful RIFF size. Returns the number of definitions declared.
int32_t Qrix_SetDefsPack(const char* pack);

// Take one file for analysis: its first 2048 bytes are kept for the byte patterns.
// 1 when the file was opened, 0 when not. The narrow form opens the path bytes as given.
int32_t Qrix_SubmitFile(const wchar_t* path);
int32_t Qrix_SubmitFileA(const char* path);

// Scores every definition against the submitted file and ranks the hits by points.
// 0 when nothing is submitted or the file could not be read again for the string search.
int32_t Qrix_Analyze(void);

// One query by mode and index; text answers (at most 4095 bytes and a NUL) go to out, which
// must have room for 4096 bytes. Modes: 1 hit count, 2/3/4 type/extension/points of rank k,
// 100 definition number of rank k, 101-109 fields of definition j, 1001 version, 1004 number
// of definitions, 1005 "the submitted header looks like text".
int32_t Qrix_GetInfo(int32_t mode, int32_t index, char* out);

// Copies up to *count bytes of the loaded package, starting *offset bytes into it, to out;
// returns the number of bytes copied (0 outside the package).
int32_t PB_PEEK(const int64_t* offset, const int64_t* count, char* out);

// The larger / smaller of two values, clamped to the int32 range.
int32_t PB_MAX(const int64_t* a, const int64_t* b);
int32_t PB_MIN(int64_t a, int64_t b);

// A reference to a 1-based int32 array: the address of its element 0.
typedef struct QrixArrayRef {
    int32_t* data;
} QrixArrayRef;

// Sorts keys[1..n] in descending order with the matcher's shell sort, repeating every swap
// on perm[1..n]. Both arrays must hold n + 1 elements. Returns 1, or 0 when an argument is
// missing or n < 1.
int32_t SHELLSORT(int32_t n, const QrixArrayRef* keys, const QrixArrayRef* perm);

#ifdef __cplusplus
}
#endif
