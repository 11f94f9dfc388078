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
// recognises. Null when the system cannot open it; `why` then receives the
// reason. The calling thread must have COM initialised.
std::unique_ptr<Storage> OpenComDocument(const std::filesystem::path& path, std::string* why = nullptr);
#endif

}  // namespace lumerca::storage
