// On Windows a document is opened with the system's structured storage.

#include "storage/com_storage.h"

namespace lumerca::storage {

std::unique_ptr<Storage> OpenDocument(const std::filesystem::path& path, std::string* why,
                                      std::uint64_t* size) {
  return OpenComDocument(path, why, size);
}

}  // namespace lumerca::storage
