#include "storage/compound_file.h"

namespace lumerca::storage {

// Outside Windows the portable compound-file reader is the only backend.
std::unique_ptr<Storage> OpenDocument(const std::filesystem::path& path) {
  return OpenCompoundFile(path);
}

}  // namespace lumerca::storage
