#pragma once

// The two output files of a marker, each written whole into an open text
// file: the model-and-order file ("csvimprt.txt") and the piece position file
// ("posimport.txt"). Both take the model, its index and the code page that
// every name is normalised in; the cross-references must have been checked
// (model::CheckIndexes) before either is written.

#include "model/index.h"
#include "output/printf_file.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace lumerca::platform {
class CodePage;
}

namespace lumerca::output {

// NormalizeName of each class Name in one code page, computed when first
// asked for. The ClassIndex is checked (model::IndexOutOfRange).
class ClassNames {
public:
  ClassNames(const model::CMarker& marker, const platform::CodePage& code_page);

  const std::string& Of(std::int16_t class_index);

private:
  const model::CMarker& marker_;
  const platform::CodePage& code_page_;
  std::vector<std::string> names_;
  std::vector<bool> done_;
};

// One model name and one CMarker::ModelKind per size, in size order, into
// the two lists (emptied first). `marker_name` is the normalised name of the
// marker.
void BuildModelList(const model::CMarker& marker, const model::ModelIndex& index,
                    ClassNames& classes, const std::string& marker_name,
                    std::vector<std::string>& model_names, std::vector<std::uint16_t>& model_kinds);

// The model-and-order file. `name` is the marker's name as stored (the
// model's Name, or the caller's name that replaces it), not yet normalised.
void WriteModelOrderFile(const model::CMarker& marker, const model::ModelIndex& index,
                         const platform::CodePage& code_page, std::string_view name,
                         CPrintfFile& file);

// The lines of the position file: one per piece written, one per cut line.
struct PositionCounts {
  std::size_t pieces = 0;
  std::size_t cut_lines = 0;
};

// The piece position file.
PositionCounts WritePositionFile(const model::CMarker& marker, const model::ModelIndex& index,
                                 const platform::CodePage& code_page, CPrintfFile& file);

}  // namespace lumerca::output
