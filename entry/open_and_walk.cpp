// The one way a document is opened and walked: bounded by its size, with COM
// held while it is open.

#include "entry/com_scope.h"
#include "entry/walk.h"
#include "storage/compound_file.h"
#include "storage/storage.h"

namespace lumerca::entry {

bool OpenAndWalk(const std::filesystem::path& file, CMarker& model, WalkReport& report,
                 std::string* why, const std::function<void()>& opened) {
  [[maybe_unused]] ComScope com;  // COM for this thread while the document is open
  // The walk is bounded by the size of the file that was opened.
  std::uint64_t size = 0;
  std::unique_ptr<storage::Storage> root = storage::OpenDocument(file, why, &size);
  if (!root) return false;
  if (opened) opened();
  WalkStorage(model, *root, &report, LimitsFor(size));
  return true;  // the document is closed here, before COM
}

std::unique_ptr<storage::Storage> OpenAndWalk(std::span<const std::byte> bytes, CMarker& model,
                                              WalkReport& report, std::string* why) {
  std::unique_ptr<storage::Storage> root = storage::OpenCompoundFileInPlace(bytes, why);
  if (root) WalkStorage(model, *root, &report, LimitsFor(bytes.size()));
  return root;
}

}  // namespace lumerca::entry
