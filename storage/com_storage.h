#pragma once

// The system's structured storage as a backend of the storage layer
// (Windows only).

#include "storage/storage.h"

#include <filesystem>
#include <memory>
#include <string>

namespace lumerca::storage {

#if defined(_WIN32)
// Opens a document with StgOpenStorageEx, read-only and denying writers to
// others (STGM_READ | STGM_SHARE_DENY_WRITE), in any format the system
// recognises. The file is opened first, without blocking, and held while the
// system opens it by its path, so that only a regular file, and the one whose
// size `size` (when given) receives, is opened. Null when it cannot be
// opened; `why` then receives the reason. The calling thread must have COM
// initialised.
std::unique_ptr<Storage> OpenComDocument(const std::filesystem::path& path, std::string* why = nullptr,
                                         std::uint64_t* size = nullptr);
#endif

}  // namespace lumerca::storage
