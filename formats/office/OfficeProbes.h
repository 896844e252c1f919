// Small probes of the Office family: TNEF attachments (the winmail.dat of Outlook) by their
// signature (a cascade step), and the kind of a compound document by the signature rows of its
// first sectors (a post-rule). The (path, size) forms are thin wrappers that open the file.
#pragma once

#include <string>

#include "core/ByteSource.h"

bool isTNEF(const kiv::ByteSource& src);
bool isTNEF(const std::string& path, unsigned long size);

// A compound document's kind from the "MSOFFICE" signature rows: true when the header row and
// one of the kind rows match; that row's texts are written. Otherwise false, outputs untouched.
bool findMagicSignatureFallback(const kiv::ByteSource& src, std::string& typeId, std::string& mime,
                                std::string& description, std::string& extensions);
bool findMagicSignatureFallback(const std::string& path, unsigned long size, std::string& typeId, std::string& mime,
                                std::string& description, std::string& extensions);
