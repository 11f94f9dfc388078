// On Windows a document is opened with the system's structured storage.

#include "storage/com_storage.h"

namespace lumerca::storage {

std::unique_ptr<Storage> OpenDocument(const std::filesystem::path& path) {
  return OpenComDocument(path);
}

}  // namespace lumerca::storage
