#pragma once

// The last step of an import, for the tools that measure or inspect the import
// step by step: checking the cross-references and writing both files.

#include <lumerca/marker.h>

#include "entry/marker.h"

#include <filesystem>
#include <string>

namespace lumerca {

// Checks every cross-reference that the writers follow (IndexOutOfRange),
// writes csvimprt.txt and posimport.txt under temporary names in
// `output_dir` and renames both into place (OutputError). Returns the
// normalised marker name, which is computed before anything is renamed, and
// fills `counts` (when given) once both files are in place.
std::string WriteOutputFiles(const CMarker& model, const std::filesystem::path& output_dir,
                             ImportCounts* counts = nullptr);

}  // namespace lumerca
