// Volumes of an archive cut into pieces (x.zip.001, x.z01, x.7z.002, a tar piece from split).
// The first piece starts like a whole archive, so content alone calls it ZIP, TAR, 7Z, GZ or
// XZ; the file's extension says it may be a volume, and these tests say whether the content
// is incomplete. Used by the second scan entry, which knows the extension.
#pragma once

#include <functional>
#include <map>
#include <string>

#include "core/ByteSource.h"

class SplitArchive {
public:
    // Volume test of one archive type: the file and its size; true when it is a piece.
    using SplitTest = std::function<bool(const kiv::ByteSource&, const unsigned long&)>;

    // Archive type id -> its volume test: "ZIP", "TAR", "XZ", "7Z", "GZ".
    static const std::map<std::string, SplitTest> splitFuntionHandler;
    // MIME type of a split verdict for "ZIP" and "TAR"; the others answer octet-stream.
    static const std::map<std::string, std::string> splitMimeType;

    // True when the extension (without the dot) looks like a volume number: it holds a digit
    // and no letter after its first digit (001, r00, z01, a1; not 1a, 7z or "").
    static bool isSplitExtension(const std::string& extension);

    // True when the content is a piece rather than a whole archive.
    static bool isSplitZip(const kiv::ByteSource& src, const unsigned long& size);
    static bool isSplitTar(const kiv::ByteSource& src, const unsigned long& size);
    static bool isSplitXZ(const kiv::ByteSource& src, const unsigned long& size);
    static bool isSplit7z(const kiv::ByteSource& src, const unsigned long& size);
    static bool isSplitGZ(const kiv::ByteSource& src, const unsigned long& size);
};
