// The two scan entries' shared path to a result, and the rules by which kivFileType lets the
// file's extension refine it: split volumes, the PowerPoint, Visio and mail families whose
// variants share one content signature, plain text named by its extension, XML-based names,
// and unrecognised files whose extension is a known mismatch.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "core/ByteSource.h"
#include "engine/Result.h"

namespace kiv {

// From the path to the result: regular files only, the cascade, then the generic stage on
// the first free slot. False when the engine is not ready or nothing could be decided. When the
// result is decided, refine (if given) may rewrite it while the scan's reader is still open,
// so a second look at the file neither reopens nor rereads it.
bool scanToResult(const char* path, DetectionResult& result,
                  const std::function<void(const ByteSource&, DetectionResult&)>& refine = {});

// The extension's alternative name ("HTM" -> "HTML"), otherwise the extension itself.
std::string alterFileExtension(const std::string& extension);
// False for the type ids whose list never takes the extension (the encrypted Office types).
bool shouldAddExtensionToTypeIds(const std::string& typeId);
// Rewrites the result from the upper-case extension when the type id's family has a variant
// of that name (PPT -> POT, MHT -> EML, ...).
void changeFTAElementsBasedOnExtension(std::string& typeId, std::string& mime, std::string& description,
                                       std::string& extensions, bool& encrypted, const std::string& extension);
// The rewrite itself; false (and the encrypted flag cleared) when no row names the extension.
bool getInformationBasedOnExtension(const std::string& extension, std::string& typeId, std::string& mime,
                                    std::string& description, std::string& extensions, bool& encrypted);

// True when the upper-case extension looks like a volume number and the type id is an
// archive type that has a volume test.
bool isSplitVolumeCandidate(const std::string& extension, const std::string& typeId);
// Runs the type's volume test on the file; on a piece the result becomes "SPLIT_ARC" and
// true is answered.
bool markSplitVolume(const ByteSource& src, DetectionResult& result);

// The rules after the split-volume test, on the upper-case extension: the family variants,
// the plain-text rename, the XML-based names and the mismatch mark. Answers the "type_ids"
// list: the type id's "/" alternatives plus the extension where it adds information.
std::vector<std::string> applyExtensionRules(const std::string& extension, DetectionResult& result);

}  // namespace kiv
