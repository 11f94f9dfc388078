// On Windows a document is opened with the system's structured storage.

#include "storage/com_storage.h"

namespace lumerca::storage {

std::unique_ptr<Storage> OpenDocument(const std::filesystem::path& path, std::string* why) {
  return OpenComDocument(path, why);
}

}  // namespace lumerca::storage
