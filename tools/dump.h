#pragma once

// The model dump: everything that the import reads from a marker file, as
// JSON, for a user whose file does not import as expected.

#include <filesystem>
#include <iosfwd>

namespace lumerca::tools {

// Writes the JSON document of `file`: the walk (each element with its depth,
// name, type, size, the reader that took it and what became of it, with the
// reason when it was not used or not whole; for each stream that a reader
// took the bytes its layout declares and the bytes that arrived), the header, every table with its records,
// the pieces with their centre and extent, the split table with the decoded
// offsets, and what an import would conclude. Texts are decoded from the
// ANSI code page `code_page` (0: the process's) to UTF-8; non-finite
// numbers are written as the strings "nan", "inf" and "-inf". The output holds
// one record per line and is written as it goes, so that its memory does not
// grow with the file. Returns false when the file cannot be opened (the JSON
// then says so).
bool WriteDump(std::ostream& out, const std::filesystem::path& file, unsigned code_page = 0);

}  // namespace lumerca::tools
