#pragma once

// The last step of an import, for the tools that measure or inspect the import
// step by step: checking the cross-references and writing both files.

#include <lumerca/marker.h>

#include "entry/marker.h"
#include "entry/walk.h"

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

// What is missing of a stream that ended before its declared layout and what
// became of it, as the import's diagnostics say it: "holds 2 of its 3 cut
// lines, ...; not imported (--salvage imports the 2)".
std::string DamageText(const StreamRead& read, bool salvage);

// Why a walk's damage stops an import without salvage ("0.CUTS: holds ...");
// empty when nothing missing is used by the output files.
std::string DamageReason(const WalkReport& report);

}  // namespace lumerca
