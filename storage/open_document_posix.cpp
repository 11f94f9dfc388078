#include "storage/compound_file.h"

namespace lumerca::storage {

// Outside Windows the portable compound-file reader is the only backend.
std::unique_ptr<Storage> OpenDocument(const std::filesystem::path& path, std::string* why,
                                      std::uint64_t* size) {
  return OpenCompoundFile(path, why, size);
}

}  // namespace lumerca::storage
