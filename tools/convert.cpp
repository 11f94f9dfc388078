#include "tools/convert.h"


#include <chrono>
#include <new>
#include <system_error>

namespace fs = std::filesystem;

namespace lumerca::tools {
namespace {

// The report's word for a status and whether the file counts as imported,
// without pieces or failed.
Outcome::Kind KindOf(ImportStatus status, const char*& word) {
  switch (status) {
    case ImportStatus::Imported: word = "imported"; return Outcome::Kind::Imported;
    case ImportStatus::NoPieces: word = "no pieces"; return Outcome::Kind::WithoutPieces;
    case ImportStatus::CannotOpen: word = "cannot open"; return Outcome::Kind::Failed;
    case ImportStatus::CorruptIndex: word = "corrupt index"; return Outcome::Kind::Failed;
    case ImportStatus::OutputFailed: word = "output failed"; return Outcome::Kind::Failed;
    case ImportStatus::OutOfMemory: word = "out of memory"; return Outcome::Kind::Failed;
    case ImportStatus::Damaged: word = "damaged"; return Outcome::Kind::Failed;
    case ImportStatus::UnknownCodePage: word = "unknown code page"; return Outcome::Kind::Failed;
  }
  word = "unknown";
  return Outcome::Kind::Failed;
}

Outcome Failure(const char* status, std::string group, std::string reason) {
  Outcome outcome;
  outcome.status = status;
  outcome.group = std::move(group);
  outcome.reason = std::move(reason);
  return outcome;
}

}  // namespace

// A diagnostic's message, with the option that imports what salvage keeps.
std::string WithSalvageHint(const Diagnostic& d) {
  return d.salvage.empty() ? d.message : d.message + " (--salvage imports " + d.salvage + ")";
}

Outcome Describe(const ImportResult& result, unsigned code_page) {
  Outcome outcome;
  const char* word = nullptr;
  outcome.kind = KindOf(result.status, word);
  outcome.status = word;
  if (outcome.kind != Outcome::Kind::Imported) {
    outcome.group = StatusText(result.status);
    outcome.reason = outcome.group;
  }
  for (const auto& d : result.diagnostics) {
    if (d.kind == Diagnostic::Kind::ImportFailed) {
      if (outcome.reason == outcome.group) outcome.reason += " (" + WithSalvageHint(d) + ")";
      continue;
    }
    ++outcome.warnings;
    outcome.notes.push_back(d.path.empty() ? WithSalvageHint(d) : d.path + ": " + WithSalvageHint(d));
  }
  outcome.stored_name = result.name;
  outcome.name = ToUtf8(result.name, code_page == 0 ? AnsiCodePage() : code_page);
  outcome.counts = result.counts;
  return outcome;
}

bool OutputTree::Make(const fs::path& folder, std::error_code& error) {
  // Most folders' parents stand already: such a folder is made at once,
  // without holding up the other conversions while the file system makes it.
  if (fs::create_directory(folder, error)) {
    std::lock_guard lock(mutex_);
    if (folder != root_) made_.insert(folder);
    return true;
  }
  if (!error) return true;  // it stood there already
  error.clear();
  std::lock_guard lock(mutex_);
  for (fs::path p = folder; p != root_ && !p.empty() && !fs::exists(p, error); p = p.parent_path()) {
    made_.insert(p);
  }
  fs::create_directories(folder, error);
  if (!error) return true;
  RemoveEmpty(folder);  // what was made before the failure
  return false;
}

void OutputTree::Unmake(const fs::path& folder) {
  std::lock_guard lock(mutex_);
  RemoveEmpty(folder);
}

void OutputTree::RemoveEmpty(const fs::path& folder) {
  for (fs::path p = folder; p != root_ && made_.count(p) != 0; p = p.parent_path()) {
    std::error_code error;
    if (!fs::remove(p, error) && fs::exists(p, error)) break;  // it holds another file's output
    made_.erase(p);
  }
}

Outcome Convert(const Input& input, std::string_view name, const ImportOptions& options,
                OutputTree& tree) noexcept {
  const auto start = std::chrono::steady_clock::now();
  Outcome outcome;
  try {
    std::error_code error;
    if (!input.error.empty()) {
      outcome = Failure("cannot open", input.error_group, input.error);
    } else if (!tree.Make(input.folder, error)) {
      outcome = Failure("output failed", "cannot create the output folder",
                        "cannot create " + input.folder.string() + ": " + error.message());
    } else {
      outcome = Describe(ImportMarker(input.open, name, input.folder, options), options.code_page);
      if (outcome.kind != Outcome::Kind::Imported) tree.Unmake(input.folder);
    }
  } catch (const std::bad_alloc&) {
    outcome = Failure("out of memory", StatusText(ImportStatus::OutOfMemory), "memory ran out");
  } catch (const std::exception& e) {
    outcome = Failure("output failed", StatusText(ImportStatus::OutputFailed), e.what());
  }
  const std::chrono::duration<double, std::milli> taken = std::chrono::steady_clock::now() - start;
  outcome.milliseconds = taken.count();
  return outcome;
}

}  // namespace lumerca::tools
