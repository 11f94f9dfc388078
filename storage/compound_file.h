#pragma once

// Portable reader of compound files (versions 3 and 4). The whole file is held
// in memory; every chain is resolved once, checked against the file, and every
// offset is computed in 64 bits.

#include "storage/storage.h"

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace lumerca::storage {

// Opens the file at `path` (a regular file, opened once and without
// blocking) and reads it whole. Null when it cannot be read or is not a valid
// compound file (bad header, FAT, DIFAT or directory chain); `why` then
// receives what is wrong, with the field or sector concerned and its value.
// `size` (when given) receives the size of the file opened.
std::unique_ptr<Storage> OpenCompoundFile(const std::filesystem::path& path, std::string* why = nullptr,
                                          std::uint64_t* size = nullptr);

// Same, over bytes already in memory (copied).
std::unique_ptr<Storage> OpenCompoundFile(std::span<const std::byte> bytes, std::string* why = nullptr);

// Same, over bytes read where they are, without a copy: they must outlive the
// storage and everything opened from it.
std::unique_ptr<Storage> OpenCompoundFileInPlace(std::span<const std::byte> bytes, std::string* why = nullptr);

// What bytes that are not a compound file look like: "the file is empty",
// "it looks like a PDF document", "it holds text: \"...\"", or its first bytes
// in hex.
std::string DescribeForeignBytes(std::span<const std::byte> bytes);

}  // namespace lumerca::storage
