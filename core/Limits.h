// Every size cap the engine applies to what it reads, in one place.
#pragma once

#include <cstddef>
#include <cstdint>

namespace kiv::limits {

// ByteSource: bytes read at once for the shared head window.
constexpr size_t kHeadCache = 64 * 1024;
// Walks and searches (ZIP headers, Excel records, persist directories, the PDF markers) read
// windows of this size, so that a file of many tiny records costs one read per window, not
// one per record.
constexpr size_t kReadWindow = 64 * 1024;

// Output kept from an outside program (7za extracting one member).
constexpr size_t kCommandOutputCap = 16 * 1024 * 1024;

}  // namespace kiv::limits

// Configuration (ini settings readers, schema JSON).
namespace kiv::limits {

// Configuration: bytes read from one ini settings file (real ones are a few hundred bytes).
constexpr size_t kIniFileMaxBytes = 1024 * 1024;
// Configuration: nesting levels of option entries written into the schema JSON.
constexpr size_t kConfigNestingMax = 100;

}  // namespace kiv::limits

// Media and drawing probes (images, subtitles, ASF, AutoCAD, MP3).
namespace kiv::limits {

// PNG: chunks walked before the first IDAT; real files have a few dozen.
constexpr uint32_t kPngMaxChunksBeforeImage = 65536;
// ASF: child objects of the header object walked looking for the codec list (real files: < 50).
constexpr uint32_t kAsfMaxHeaderObjects = 4096;
// ASF: codec list entries read (real files: one per stream, a handful).
constexpr uint32_t kAsfMaxCodecEntries = 1024;
// Text DXF: a longer line ends the test (group codes and values are short).
constexpr size_t kDxfMaxLineLength = 1024;
// Text DXF: lines and bytes looked at before the test gives up.
constexpr uint32_t kDxfMaxLines = 100000;
constexpr uint64_t kDxfMaxBytes = 8 * 1024 * 1024;

}  // namespace kiv::limits

// Archives (signatures, ZIP members, post-rules, self-extracting executables, PE resources).
namespace kiv::limits {

// ZIP: the end record lies within the last 65535 (largest comment) + 22 bytes.
constexpr uint64_t kZipEndRecordWindow = 65535 + 22;
// ZIP: local and central headers walked from the start when the end record is not near the
// end; no archive without ZIP64 records comes near this.
constexpr uint32_t kZipForwardWalkMaxRecords = 1000000;
// 7za extracting one member: wall-clock limit of one run (the output cap is kCommandOutputCap).
// A run stopped here gives no answer: the scan that needed the member fails and says why.
constexpr unsigned kArchiverTimeoutMs = 30000;
// 7za's start-up check (one tiny member from memory, a few milliseconds when 7za works): its
// own wall-clock limit, so that a hanging 7za holds an engine start no longer than this.
constexpr unsigned kArchiverCheckTimeoutMs = 5000;
// In-process member reads: a larger central directory is left to 7za (a package of 10,000
// parts has one of about 1 MiB).
constexpr uint32_t kZipMemberReaderMaxDirectory = 4 * 1024 * 1024;
// In-process member reads: compressed bytes read, and inflated bytes produced, at a time.
constexpr size_t kZipInflateChunk = 64 * 1024;
// CD sector images (2352-byte sectors): sectors checked; a DVD-sized raw image has ~2 million.
constexpr uint64_t kCdSectorWalkMaxSectors = 4u * 1024 * 1024;
// PE resources: directory nodes and data entries read in one walk (real files: a few hundred).
constexpr uint32_t kPeResourceMaxNodes = 65536;
// PE resources: UTF-16 units of all entry names of one walk (real names are a few dozen units).
constexpr uint64_t kPeResourceMaxNameUnits = 1024 * 1024;

// Compound documents and Office.
// Compound files: the sector allocation table is never built larger than this (enough for
// files of 8 GiB with 512-byte sectors).
constexpr uint64_t kCfbMaxSatBytes = 64 * 1024 * 1024;
// Compound files: directory entries read at most; real documents hold at most a few thousand.
constexpr size_t kCfbMaxDirectoryEntries = 1 << 20;

}  // namespace kiv::limits

// ---- Engine spine: scan slots, matcher hand-off, result strings ----
namespace kiv::limits {

// Scan slots: each owns two libmagic handles and a private copy of the matcher.
constexpr int kScanSlots = 30;
// The matcher writes up to 4095 characters and a NUL into a caller's answer buffer.
constexpr size_t kQrixAnswerBytes = 4096;
// libmagic's last error text kept per thread for getLastError (longer texts are cut).
constexpr size_t kLastErrorBytes = 1024;

}  // namespace kiv::limits

// Text, markup and mail formats.
namespace kiv::limits {

// Markup: bytes of a file walked for tags. The probe on the first non-blank byte runs before
// anything is read whole; beyond this a huge markup file is judged on its start.
constexpr size_t kMarkupReadCap = 32 * 1024 * 1024;
// Markup: bytes of a file read at a time by the tag walk; the buffer grows to hold a longer
// tag (or comment), up to the whole text.
constexpr size_t kMarkupWindow = 1024 * 1024;
// Calendar: one content line (RFC 5545 folds at 75 octets; inline attachments stay far below).
constexpr size_t kCalendarMaxLine = 1024 * 1024;
// Calendar: components open at once, and the bytes of their names kept on the stack.
constexpr size_t kCalendarMaxDepth = 1000;
constexpr size_t kCalendarMaxStackBytes = 1024 * 1024;
// Mail: one header or boundary line (RFC 5322 allows 998 characters).
constexpr size_t kMailMaxLine = 64 * 1024;
// Mail: bytes of one header block, continuation lines included.
constexpr uint64_t kMailMaxHeaderBlock = 4 * 1024 * 1024;

}  // namespace kiv::limits

// ---- Matcher (libQrixLib and its definitions compiler) ----
namespace kiv::limits {
// Largest definitions package the matcher loads; ours is tens of KiB, so this leaves room
// for any real set while bounding what a damaged RIFF size or file can make it allocate.
constexpr uint64_t kQrixPackMax = 64 * 1024 * 1024;
// Longest text a matcher query writes (the caller's buffer holds 4096 bytes with the NUL).
constexpr size_t kQrixTextMax = 4095;
// Longest TYPE or EXT text the compiler accepts, so that a 1024-byte buffer still holds one.
constexpr size_t kQrixDefTextMax = 1023;
// Header bytes scored against byte patterns.
constexpr size_t kQrixHeaderBytes = 2048;
// Files above this are searched for strings in their head and tail only.
constexpr uint64_t kQrixWholeFileLimit = 10 * 1024 * 1024;
// Head and tail windows for large files.
constexpr uint64_t kQrixWindow = 5 * 1024 * 1024;
// Bytes of the file read at a time by the string search.
constexpr size_t kQrixSearchChunk = 256 * 1024;
}  // namespace kiv::limits

// Engine-level detectors (OpenDocument, Office Open XML, PDF, post-rule probes).
namespace kiv::limits {

// PDF: readers accept the "%PDF-" header anywhere in the first KiB.
constexpr size_t kPdfHeaderWindow = 1024;
// PDF: a damaged file is handed to qpdf's repair only with at most this many "%%EOF" markers;
// the repair's cost grows with the square of their number (16,000 take seconds).
constexpr uint64_t kPdfRepairMaxEofMarkers = 1024;
// JAR: "META-INF/" is looked for in the first bytes only (the first entries of a jar).
constexpr size_t kJarHeaderWindow = 200;
// Closing tags of SVG, RDF and HTML are looked for in the last bytes only.
constexpr size_t kClosingTagWindow = 20;
// Scripts: the interpreter line, the blank lines after it and PHP's open tag are looked for in
// the first bytes only (Linux reads at most 256 bytes of an interpreter line).
constexpr size_t kScriptHeadWindow = 1024;

}  // namespace kiv::limits
