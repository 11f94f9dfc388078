#pragma once

// The views of lumerca-import that show a file instead of converting it.

#include <filesystem>
#include <vector>

namespace lumerca::tools {

// --dump: one JSON document per file (an array of them for several files).
int Dump(const std::vector<std::filesystem::path>& files);

// --svg: the picture of one marker file.
int Svg(const std::filesystem::path& svg, const std::filesystem::path& file);

}  // namespace lumerca::tools
