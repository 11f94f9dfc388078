// The cross-references that the writers follow, checked before anything is
// written, so that a corrupt index ends an import before its output begins.

#include "entry/marker.h"
#include "output/model_index.h"
#include "output/printf_file.h"

#include <string>

namespace lumerca {
namespace {

[[noreturn]] void Fail(std::size_t piece, const char* what, long long index, const char* table,
                       std::size_t records) {
  std::string message = "piece ";
  AppendDecimal(message, static_cast<long long>(piece));
  message += ": ";
  message += what;
  message += ' ';
  AppendDecimal(message, index);
  message += " is outside ";
  message += table;
  message += " (";
  AppendDecimal(message, static_cast<long long>(records));
  message += " records)";
  throw IndexOutOfRange(message);
}

}  // namespace

// With at least one size, the model list looks up the CROIXES record of every
// piece (half pieces included) and the class of every piece of a size; the
// position file copies the first SplitCount cut lines of every piece that it
// writes. With no size, nothing is followed.
void CMarker::ValidateIndexes() const {
  if (m_sizes.Elements.IsEmpty()) return;
  const std::vector<bool> half = output::HalfPieces(*this);
  const std::vector<std::int32_t> first_split = output::FirstSplitElements(*this);

  const std::size_t pieces = m_pieces.GetSize();
  for (std::size_t j = 0; j < pieces; ++j) {
    const std::int16_t croix_index = m_pieces[j].CroixIndex;
    if (!m_croixes.Elements.Contains(croix_index)) {
      Fail(j, "CroixIndex", croix_index, "CROIXES", m_croixes.Elements.GetSize());
    }
    const CCroixesElement& croix = m_croixes.Elements[croix_index];
    if (!m_sizes.Elements.Contains(croix.SizeIndex)) continue;  // in no size: never written
    if (!m_classes.Elements.Contains(croix.ClassIndex)) {
      Fail(j, "ClassIndex", croix.ClassIndex, "CLASSES", m_classes.Elements.GetSize());
    }
    if (half[j] || first_split[j] < 0) continue;
    const CSplits::CElement& element = m_splits.Elements[first_split[j]];
    if (element.SplitCount > 0 &&
        static_cast<std::size_t>(element.SplitCount) > element.Splits.GetSize()) {
      Fail(j, "SplitCount", element.SplitCount, "its cut lines", element.Splits.GetSize());
    }
  }
}

}  // namespace lumerca
