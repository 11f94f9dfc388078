#pragma once

// The views of lumerca-import that show a file instead of converting it.

#include <filesystem>
#include <vector>

namespace lumerca::tools {

// The views read names in `code_page` (0: the process's).

// --dump: one JSON document per file (an array of them for several files).
int Dump(const std::vector<std::filesystem::path>& files, unsigned code_page);

// --svg: the picture of one marker file.
int Svg(const std::filesystem::path& svg, const std::filesystem::path& file, unsigned code_page);

}  // namespace lumerca::tools
