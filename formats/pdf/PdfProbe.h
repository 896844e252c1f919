// PDF: the header test with the Illustrator variant, and the password test through qpdf. The
// (path, size) forms are thin wrappers that open the file.
#pragma once

#include <string>

#include "core/ByteSource.h"

// 0 not PDF, 1 PDF, 2 Illustrator (a PDF carrying "/AIMetaData").
int classifyPDFType(const kiv::ByteSource& src);
int classifyPDFType(const std::string& path, unsigned long size);
// True when the document cannot be opened without a password.
bool isPDFPasswordProtection(const kiv::ByteSource& src);
bool isPDFPasswordProtection(const std::string& path);
