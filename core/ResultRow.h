// A family's table of results: one row per detector code, with its type id, MIME type and
// extensions; the description is always the type id's entry of FileTypeDescription. Every
// family's adjust function and the fixed results of scan look their rows up here.
#pragma once

#include <cstddef>
#include <string>

#include "core/TypeTables.h"

namespace kiv {

template <class Code>
struct ResultRow {
    Code code;
    const char* typeId;
    const char* mime;
    const char* extensions;
};

// The row of code; null when no row has it.
template <class Code, size_t N>
const ResultRow<Code>* findRow(const ResultRow<Code> (&rows)[N], Code code) {
    for (const ResultRow<Code>& row : rows) {
        if (row.code == code) return &row;
    }
    return nullptr;
}

// The row of code, or otherwise when no row has it.
template <class Code, size_t N>
const ResultRow<Code>& rowFor(const ResultRow<Code> (&rows)[N], Code code, const ResultRow<Code>& otherwise) {
    const ResultRow<Code>* row = findRow(rows, code);
    return row != nullptr ? *row : otherwise;
}

// Writes the row's type id, MIME type and extensions, and the type id's description.
template <class Code>
void writeRow(const ResultRow<Code>& row, std::string& typeId, std::string& mime, std::string& extensions,
              std::string& description) {
    typeId = row.typeId;
    mime = row.mime;
    extensions = row.extensions;
    description = FileTypeDescription.at(typeId);
}

}  // namespace kiv
