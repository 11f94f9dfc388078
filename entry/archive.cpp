// An archive's conversions: the listing of the inputs into a tree of output
// folders, one conversion with its report row, and the folders' upkeep.

#include <lumerca/archive.h>
#include "entry/utf8.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <new>
#include <set>
#include <system_error>

namespace fs = std::filesystem;

namespace lumerca {
namespace {

// ---------------------------------------------------------------- listing

// A file's folder name: its name without the extension; its whole name where
// that leaves nothing, "." or "..".
std::string FolderName(const fs::path& file) {
  const std::string stem = file.stem().string();
  if (stem.empty() || stem == "." || stem == "..") return file.filename().string();
  return stem;
}

// The output folders of one archive, each taken once. The names of the two
// output files are never taken, so that no folder stands where a file of the
// archive is written.
class FolderNames {
public:
  explicit FolderNames(fs::path output) : output_(std::move(output)) {}

  fs::path Take(const fs::path& parent, const std::string& name) {
    std::string chosen = name;
    for (std::size_t n = 2; Reserved(chosen) || !taken_.insert(parent / chosen).second; ++n) {
      chosen = name + "-" + std::to_string(n);
    }
    return output_ / parent / chosen;
  }

private:
  static bool Reserved(const std::string& name) {
    return name == "csvimprt.txt" || name == "posimport.txt";
  }

  fs::path output_;
  std::set<fs::path> taken_;
};

struct Found {
  fs::path relative;  // below the folder given
  fs::path open;
  std::string error;
  std::string error_group;
};

// Whether the canonical `path` is `root` or lies below it.
bool Within(const fs::path& path, const fs::path& root) {
  return std::mismatch(root.begin(), root.end(), path.begin(), path.end()).first == root.end();
}

bool Same(const fs::path& a, const fs::path& b) {
  std::error_code error;
  return !b.empty() && fs::equivalent(a, b, error);
}

// The walk of one folder given.
class FolderWalk {
public:
  FolderWalk(const fs::path& root, const fs::path& output, const fs::path& leave_out,
             std::vector<std::string>& notes)
      : root_(root), output_(output), leave_out_(leave_out), notes_(notes) {
    std::error_code error;
    canonical_root_ = fs::canonical(root, error);
  }

  std::vector<Found> Run(const std::function<bool()>& stop) {
    std::vector<Found> found;
    std::vector<fs::path> pending = {fs::path()};
    while (!pending.empty() && !stop()) {
      const fs::path relative = pending.back();
      pending.pop_back();
      List(relative, pending, found);
    }
    std::sort(found.begin(), found.end(),
              [](const Found& a, const Found& b) { return a.relative < b.relative; });
    return found;
  }

private:
  bool IsLeftOut(const fs::path& file) const {
    return file.filename() == leave_out_.filename() && Same(file, leave_out_);
  }

  fs::path Path(const fs::path& relative) const {
    return relative.empty() ? root_ : root_ / relative;
  }

  void List(const fs::path& relative, std::vector<fs::path>& pending, std::vector<Found>& found) {
    std::error_code error;
    fs::directory_iterator it(Path(relative), error);
    for (; !error && it != fs::directory_iterator(); it.increment(error)) {
      const fs::path entry = relative / it->path().filename();
      std::error_code status_error;
      const fs::file_status status = it->symlink_status(status_error);
      if (status_error) {
        // Nothing below it is known either: it fails, with the reason (a
        // path longer than the system allows, most often).
        found.push_back({entry, {}, "cannot be reached: " + status_error.message(), "cannot be reached"});
      } else if (fs::is_directory(status)) {
        if (!Same(it->path(), output_)) pending.push_back(entry);
        else notes_.push_back(Path(entry).string() + ": the output folder, not converted");
      } else if (fs::is_regular_file(status)) {
        if (!IsLeftOut(it->path())) found.push_back({entry, Path(entry), {}, {}});
      } else if (fs::is_symlink(status)) {
        FollowLink(entry, found);
      }  // devices, pipes and sockets are not marker files
    }
    if (error) {
      found.push_back({relative, {}, "folder cannot be listed: " + error.message(), "folder cannot be listed"});
    }
  }

  // A link is followed to a regular file inside the folder given only.
  void FollowLink(const fs::path& relative, std::vector<Found>& found) {
    std::error_code error;
    const fs::path target = fs::canonical(Path(relative), error);
    const char* why = nullptr;
    if (error) {
      why = "it leads nowhere";
    } else if (canonical_root_.empty() || !Within(target, canonical_root_)) {
      why = "it leads out of the folder";
    } else if (!fs::is_regular_file(target, error)) {
      why = "it does not lead to a file";
    } else if (IsLeftOut(target)) {
      return;
    }
    if (why) notes_.push_back(Path(relative).string() + ": link not followed: " + why);
    else found.push_back({relative, target, {}, {}});
  }

  fs::path root_, canonical_root_, output_, leave_out_;
  std::vector<std::string>& notes_;
};

void List(const std::vector<fs::path>& arguments, const fs::path& output, const fs::path& leave_out,
          const std::function<bool()>& stop, ArchiveListing& list) {
  std::vector<bool> folder(arguments.size());
  for (std::size_t i = 0; i < arguments.size(); ++i) {
    std::error_code error;
    folder[i] = fs::is_directory(arguments[i], error);
  }
  list.several = arguments.size() > 1 || std::count(folder.begin(), folder.end(), true) > 0;
  FolderNames names(output);
  for (std::size_t i = 0; i < arguments.size() && !stop(); ++i) {
    const fs::path& argument = arguments[i];
    if (!folder[i]) {
      const fs::path into = list.several ? names.Take({}, FolderName(argument)) : output;
      list.entries.push_back({argument, argument, into, {}, {}});
      continue;
    }
    FolderWalk walk(argument, output, leave_out, list.notes);
    for (Found& f : walk.Run(stop)) {
      const fs::path path = f.relative.empty() ? argument : argument / f.relative;
      if (!f.error.empty()) {
        list.entries.push_back({path, {}, {}, std::move(f.error), std::move(f.error_group)});
      } else {
        const fs::path into = names.Take(f.relative.parent_path(), FolderName(f.relative));
        list.entries.push_back({path, std::move(f.open), into, {}, {}});
      }
    }
  }
}

// ---------------------------------------------------------------- one conversion

// A diagnostic's message, with the option that imports what salvage keeps.
std::string WithSalvageHint(const Diagnostic& d) {
  return d.salvage.empty() ? d.message : d.message + " (--salvage imports " + d.salvage + ")";
}

void Describe(const ImportResult& result, unsigned code_page, ArchiveRow& row) {
  row.status = result.status;
  if (!row.imported()) {
    row.group = StatusText(result.status);
    row.reason = row.group;
  }
  for (const auto& d : result.diagnostics) {
    if (d.kind == Diagnostic::Kind::ImportFailed) {
      if (row.reason == row.group) row.reason += " (" + WithSalvageHint(d) + ")";
      continue;
    }
    row.notes.push_back(d.path.empty() ? WithSalvageHint(d) : d.path + ": " + WithSalvageHint(d));
  }
  row.stored_name = result.name;
  row.name = ToUtf8(result.name, code_page == 0 ? AnsiCodePage() : code_page);
  row.counts = result.counts;
}

void Fail(ArchiveRow& row, ImportStatus status, std::string group, std::string reason) {
  row.status = status;
  row.group = std::move(group);
  row.reason = std::move(reason);
}

// Removes each of `folders` (deepest first) that is empty, up to the first
// that is not.
void RemoveWhileEmpty(const std::vector<fs::path>& folders) {
  for (const fs::path& folder : folders) {
    std::error_code error;
    if (!fs::is_directory(fs::symlink_status(folder, error))) continue;
    if (!fs::remove(folder, error)) break;
  }
}

// ---------------------------------------------------------------- the report

// A path as UTF-8 text: as it is where it is UTF-8, each byte that is not
// part of a UTF-8 sequence as \xNN. On Windows, the path's UTF-16 name in
// UTF-8, an unpaired surrogate as \uXXXX.
std::string PathText(const fs::path& path) {
  std::string out;
#if defined(_WIN32)
  const std::wstring& name = path.native();
  for (std::size_t i = 0; i < name.size(); ++i) {
    std::uint32_t c = static_cast<std::uint16_t>(name[i]);
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < name.size() && name[i + 1] >= 0xDC00 && name[i + 1] <= 0xDFFF) {
      c = 0x10000 + ((c - 0xD800) << 10) + (static_cast<std::uint16_t>(name[++i]) - 0xDC00u);
    } else if (c >= 0xD800 && c <= 0xDFFF) {
      char text[8];
      std::snprintf(text, sizeof text, "\\u%04X", static_cast<unsigned>(c));
      out += text;
      continue;
    }
    entry::AppendUtf8(out, c);
  }
#else
  const std::string& text = path.native();
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size();) {
    const std::size_t length = entry::Utf8Length(std::string_view(text).substr(i));
    if (length == 0) {
      char hex[8];
      std::snprintf(hex, sizeof hex, "\\x%02x", static_cast<unsigned char>(text[i++]));
      out += hex;
    } else {
      out.append(text, i, length);
      i += length;
    }
  }
#endif
  return out;
}

// Milliseconds with three decimals, in the "C" notation whatever the locale:
// the whole microseconds, half away from zero, in integer arithmetic (which
// every C++ library's to_chars has).
std::string Milliseconds(double value) {
  const double microseconds = std::round(value * 1000.0);
  // A time is not negative, nor beyond a year; anything else reads as 0.
  const std::uint64_t whole =
      microseconds >= 0.0 && microseconds < 3.2e13 ? static_cast<std::uint64_t>(microseconds) : 0;
  char text[32];
  char* end = std::to_chars(text, text + sizeof text, whole / 1000).ptr;
  const auto fraction = static_cast<unsigned>(whole % 1000);
  *end++ = '.';
  *end++ = static_cast<char>('0' + fraction / 100);
  *end++ = static_cast<char>('0' + fraction / 10 % 10);
  *end++ = static_cast<char>('0' + fraction % 10);
  return std::string(text, end);
}

}  // namespace

ArchiveListing ListArchive(const std::vector<fs::path>& inputs, const fs::path& output,
                           const ArchiveListOptions& options) noexcept {
  ArchiveListing list;
  const std::function<bool()> stop = [&] {
    if (!options.stop || !options.stop()) return false;
    list.complete = false;
    return true;
  };
  try {
    List(inputs, output, options.leave_out, stop, list);
  } catch (const std::bad_alloc&) {
    list.complete = false;
    list.out_of_memory = true;
  }
  return list;
}

ArchiveRow ConvertArchiveEntry(const ArchiveEntry& entry, const ArchiveConvertOptions& options) noexcept {
  const auto start = std::chrono::steady_clock::now();
  ArchiveRow row;
  try {
    row.path = entry.path;
    std::string error;
    if (!entry.skip_reason.empty()) {
      Fail(row, ImportStatus::CannotOpen, entry.skip_group, entry.skip_reason);
    } else if (!MakeArchiveFolder(entry.folder, row.made, error)) {
      Fail(row, ImportStatus::OutputFailed, "cannot create the output folder",
           "cannot create " + entry.folder.string() + ": " + error);
    } else {
      Describe(ImportMarker(entry.open, options.name, entry.folder, options.import), options.import.code_page, row);
      // A file not imported leaves no folder of its own behind; the folders
      // above it may be filling with other files' pairs meanwhile, and go
      // at the end when they are left empty.
      if (!row.imported() && !row.made.empty() && row.made.front() == entry.folder) {
        std::error_code removed;
        if (fs::remove(entry.folder, removed)) row.made.erase(row.made.begin());
      }
    }
  } catch (const std::bad_alloc&) {
    row.notes.clear();
    Fail(row, ImportStatus::OutOfMemory, StatusText(ImportStatus::OutOfMemory), "memory ran out");
  } catch (const std::exception& e) {
    row.notes.clear();
    Fail(row, ImportStatus::OutputFailed, StatusText(ImportStatus::OutputFailed), e.what());
  }
  const std::chrono::duration<double, std::milli> taken = std::chrono::steady_clock::now() - start;
  row.milliseconds = taken.count();
  return row;
}

std::array<const char*, kArchiveReportColumns> ArchiveReportColumns() noexcept {
  return {"path", "status", "name", "sizes", "pieces written", "cut lines written", "warnings", "reason",
          "milliseconds"};
}

std::array<std::string, kArchiveReportColumns> ArchiveReportFields(const ArchiveRow& row) {
  const bool imported = row.imported();
  const auto count = [&](std::size_t value) { return imported ? std::to_string(value) : std::string(); };
  return {PathText(row.path),
          ArchiveStatusWord(row.status),
          row.name,
          count(row.counts.sizes),
          count(row.counts.pieces),
          count(row.counts.cut_lines),
          std::to_string(row.notes.size()),
          row.reason,
          Milliseconds(row.milliseconds)};
}

const char* ArchiveStatusWord(ImportStatus status) noexcept {
  switch (status) {
    case ImportStatus::Imported: return "imported";
    case ImportStatus::NoPieces: return "no pieces";
    case ImportStatus::CannotOpen: return "cannot open";
    case ImportStatus::CorruptIndex: return "corrupt index";
    case ImportStatus::OutputFailed: return "output failed";
    case ImportStatus::OutOfMemory: return "out of memory";
    case ImportStatus::Damaged: return "damaged";
    case ImportStatus::UnknownCodePage: return "unknown code page";
  }
  return "unknown";
}

bool MakeArchiveFolder(const fs::path& folder, std::vector<fs::path>& made, std::string& error) noexcept {
  try {
    std::error_code code;
    // Most folders' parents stand already: such a folder is made at once.
    if (fs::create_directory(folder, code)) {
      made.push_back(folder);
      return true;
    }
    if (!code) return true;  // it stood there already
    // Its parents are missing too. Another conversion that fails may take
    // away an empty parent between the look and the making: then again.
    for (int attempt = 0;; ++attempt) {
      std::vector<fs::path> missing;  // deepest first
      for (fs::path p = folder; !p.empty() && !fs::exists(p, code); p = p.parent_path()) {
        missing.push_back(p);
        if (p == p.parent_path()) break;
      }
      code.clear();
      fs::create_directories(folder, code);
      if (!code) {
        made.insert(made.end(), missing.begin(), missing.end());
        return true;
      }
      if (code == std::errc::no_such_file_or_directory && attempt < 100) continue;
      RemoveWhileEmpty(missing);  // what was made before the failure
      error = code.message();
      return false;
    }
  } catch (const std::bad_alloc&) {
    error = "memory ran out";
    return false;
  }
}

void RemoveEmptyFolders(std::vector<fs::path> folders) noexcept {
  try {
    // The deepest first: a folder's path is longer than its parent's.
    std::sort(folders.begin(), folders.end(), [](const fs::path& a, const fs::path& b) {
      if (a.native().size() != b.native().size()) return a.native().size() > b.native().size();
      return a < b;
    });
    folders.erase(std::unique(folders.begin(), folders.end()), folders.end());
    for (const fs::path& folder : folders) {
      // Only an empty folder goes; one that holds anything stays, and what
      // is no folder (any more) is not touched.
      std::error_code error;
      if (fs::is_directory(fs::symlink_status(folder, error))) fs::remove(folder, error);
    }
  } catch (const std::bad_alloc&) {
  }
}

}  // namespace lumerca
