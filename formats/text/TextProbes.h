// Small probes of the text family: RTF by its opening control word (a cascade step, and a
// post-rule), and SVG, RDF or HTML by the closing tag that ends the file (a post-rule). The
// (path, size) forms are thin wrappers that open the file.
#pragma once

#include <string>

#include "core/ByteSource.h"

bool isRTF(const kiv::ByteSource& src);
bool isRTF(const std::string& path, unsigned long size);

// 1 SVG, 2 RDF, 3 HTML, by the closing tag in the last 20 bytes; 0 none.
int detemineSVGorRDForHTML(const kiv::ByteSource& src);
int detemineSVGorRDForHTML(const std::string& path, unsigned long size);
