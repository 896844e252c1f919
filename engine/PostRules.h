// Post-rules of the generic stage: some mapped answers of libmagic and the matcher need the
// file itself to be settled (an encrypted Office package seen as an encrypted compound file,
// SVG and RDF seen as XML, the MP4 family under shared type ids, formats that a byte test can
// still name although libmagic said "data").
#pragma once

#include <string>

#include "core/ByteSource.h"

// Reads the mapped result and rewrites it in place. The new values are computed first and
// written together, so an exception leaves the mapped result as it was.
void adjustFileTypeDetection(const kiv::ByteSource& src, std::string& typeId, std::string& mime,
                             std::string& extensions, std::string& description, bool& encrypted);
void adjustFileTypeDetection(const std::string& path, unsigned long size, std::string& typeId, std::string& mime,
                             std::string& extensions, std::string& description, bool& encrypted);
