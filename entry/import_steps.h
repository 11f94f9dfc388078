#pragma once

// The steps of an import, for the public functions and for the programs that
// measure or inspect the import step by step (the benchmark, the fuzz
// targets): the texts that say what a damaged stream lacks, and the write of
// both files of a marker.

#include <lumerca/marker.h>

#include "entry/walk.h"
#include "model/index.h"
#include "model/marker.h"
#include "output/writers.h"
#include "platform/codepage.h"
#include "platform/output_folder.h"

#include <filesystem>
#include <string>
#include <string_view>

namespace lumerca::entry {

// What is missing of a stream that ended before its declared layout, and
// what became of it: "holds 2 of its 3 cut lines, ending 22 bytes before its
// declared layout in cut line 2; not imported" (without salvage), "...;
// salvaged: the 2 imported" (with salvage), "... (not used by the output
// files)" when the output files use nothing that is missing.
std::string DamageText(const StreamRead& read, bool salvage);

// Of such a stream whose missing data the output files use: what an import
// with salvage keeps of it ("the 2", "what arrived", "none of them", "the
// file without it"). Empty for damage that the output files do not use.
std::string SalvageKeeps(const StreamRead& read);

// Why a walk's damage stops an import without salvage ("0.CUTS: holds ...;
// not imported"); empty when nothing missing is used by the output files.
std::string DamageReason(const WalkReport& report);

// Writes both files of `marker` under temporary names in `output_dir` and
// renames them into place together. `name` is the marker name to write (the
// stored one or the caller's), not yet normalised; every name is normalised
// in `code_page`. The cross-references must hold (model::CheckIndexes). With
// `deferred`, a pair into a folder that holds none is not flushed but
// recorded there (platform::OpenOutputFolder), and `*was_deferred` says
// whether it was. Throws platform::OutputError, and std::bad_alloc.
output::PositionCounts WriteOutputFiles(const model::CMarker& marker,
                                        const model::ModelIndex& index,
                                        const platform::CodePage& code_page, std::string_view name,
                                        const std::filesystem::path& output_dir,
                                        platform::DeferredFlushes* deferred = nullptr,
                                        bool* was_deferred = nullptr);

// The same into memory.
output::PositionCounts WriteOutputFiles(const model::CMarker& marker,
                                        const model::ModelIndex& index,
                                        const platform::CodePage& code_page, std::string_view name,
                                        OutputFiles& files);

}  // namespace lumerca::entry
