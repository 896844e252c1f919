// Small probes of the text family: RTF by its opening control word (a cascade step, and a
// post-rule), SVG, RDF or HTML by the closing tag that ends the file, and PHP or PowerShell by
// the head of a script (post-rules). The (path, size) forms are thin wrappers that open the file.
#pragma once

#include <string>

#include "core/ByteSource.h"

bool isRTF(const kiv::ByteSource& src);
bool isRTF(const std::string& path, unsigned long size);

// 1 SVG, 2 RDF, 3 HTML, by the closing tag in the last 20 bytes; 0 none.
int detemineSVGorRDForHTML(const kiv::ByteSource& src);
int detemineSVGorRDForHTML(const std::string& path, unsigned long size);

// What a script's head says it is, in the shapes the matcher's fixed patterns cannot list:
// PHP when the file opens with "<?php" in any case, after an optional UTF-8 byte-order mark,
// or with an interpreter line naming php (any path, a versioned name such as php8.2, or run by
// env, with or without its options) followed by blank lines, if any, and a line that opens
// with "<?php" in any case; PowerShell when the interpreter line names pwsh in the same ways.
// LF or CRLF line ends. Only the first kScriptHeadWindow bytes are read.
enum class ScriptHead { None, Php, PowerShell };
ScriptHead scriptByHead(const kiv::ByteSource& src);
