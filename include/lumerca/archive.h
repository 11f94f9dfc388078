#pragma once

// Converting an archive: files and folders of marker files into a tree of
// output folders, one folder with its two files for each marker, and one
// report row for each file. lumerca-import -o OUT and the Python package's
// convert_archive are this, with their own ways of running the conversions
// (threads, processes, the machines of a cluster).
//
// In three steps:
//   1. ListArchive lists the conversions of the inputs: each file with the
//      output folder of its pair, or the reason why it is not converted;
//   2. ConvertArchiveEntry runs one of them and returns its report row; the
//      conversions are independent of each other and may run at once, in
//      threads or processes that share the file system;
//   3. RemoveEmptyFolders takes away the output folders that the
//      conversions made and left empty (their `made` rows), once all are
//      done.
// ArchiveReportColumns and ArchiveReportFields give the report's columns and
// a row's fields as text.

#include <lumerca/export.h>
#include <lumerca/marker.h>

#include <array>
#include <cstddef>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

namespace lumerca {

struct ArchiveListOptions {
  // A file that is not converted where the walk of a folder meets it (a
  // report that is written into the archive); empty: none.
  std::filesystem::path leave_out;
  // Asked as the listing goes on: once it returns true, the listing ends
  // with what it has (ArchiveListing::complete is false). Empty: never.
  std::function<bool()> stop;
};

// One conversion of an archive.
struct ArchiveEntry {
  std::filesystem::path path;    // as given, or as found below a folder given
  std::filesystem::path open;    // what is opened: `path`, or where a link below a folder leads
  std::filesystem::path folder;  // the folder for its two files
  // Set for what below a folder given cannot be listed or reached (a path
  // longer than the system allows, say): the reason, and the reason without
  // its detail (to group the files that failed alike). Such an entry is not
  // converted; its row says why.
  std::string skip_reason;
  std::string skip_group;
};

struct ArchiveListing {
  std::vector<ArchiveEntry> entries;  // in the order of the run
  std::vector<std::string> notes;     // what the listing passed over, and why ("PATH: WHY")
  // The files go into subfolders of the output folder: more than one input,
  // or a folder among them. Otherwise the one file goes into the output
  // folder itself.
  bool several = false;
  // False when ArchiveListOptions::stop ended the listing early, or memory
  // ran out (out_of_memory); `entries` then holds what was listed before.
  bool complete = true;
  bool out_of_memory = false;
};

// The conversions of `inputs` into the output folder `output`, in order:
// each input in turn; a file as given, a folder as every regular file below
// it, sorted by path. One file alone goes into `output` itself; otherwise a
// file given goes into `output`/<its name without extension>/, and a file
// below a folder DIR into the same place relative to `output` that it has
// relative to DIR (DIR/a/b/m7.mrk into `output`/a/b/m7/). A folder that
// another file of the archive has taken, or that would stand where a file of
// the archive is written, is <name>-2 (or -3, ...). Links below a folder are
// followed only to regular files inside it; folders are entered as they are,
// not through links; `output` itself and `options.leave_out` are passed over
// (with a note). Nothing is written. Never throws.
[[nodiscard]] LUMERCA_API ArchiveListing ListArchive(const std::vector<std::filesystem::path>& inputs,
                                                     const std::filesystem::path& output,
                                                     const ArchiveListOptions& options = {}) noexcept;

struct ArchiveConvertOptions {
  // A name that replaces the stored marker name of every file (at most 255
  // bytes are used); empty: each file's own.
  std::string name;
  // The import's options: salvage, the code page of the names (0: the
  // process's), and what else an import takes.
  ImportOptions import;
};

// The report row of one conversion.
struct ArchiveRow {
  std::filesystem::path path;  // the entry's path
  // Imported, NoPieces, or why the file was not imported; CannotOpen also for
  // an entry that the listing could not reach, OutputFailed also when its
  // folder cannot be made.
  ImportStatus status = ImportStatus::CannotOpen;
  std::string group;        // the reason without its detail; empty when imported
  std::string reason;       // why the file was not imported, with its most telling detail
  std::string stored_name;  // the normalised marker name, in the ANSI code page (imported)
  std::string name;         // the same in UTF-8
  ImportCounts counts;      // what the two files hold (imported)
  // Of an imported file its warnings, of one not imported the details, one
  // line each ("PATH: MESSAGE" or "MESSAGE").
  std::vector<std::string> notes;
  double milliseconds = 0;  // the time the conversion took
  // The folders that the conversion made for its pair and that still stand
  // after it, deepest first: a conversion that fails takes away its own
  // folder, and leaves the folders above it, which other conversions may be
  // filling meanwhile, to RemoveEmptyFolders at the end.
  std::vector<std::filesystem::path> made;

  bool imported() const noexcept { return status == ImportStatus::Imported; }
};

// Runs one conversion: makes the entry's folder (with the folders above it
// that are missing) and imports the file into it. Of a file not imported the
// earlier pair in its folder stays as it was, and the folder goes again when
// this conversion made it. Safe to call from several threads and processes
// at once for entries of one listing. Never throws.
[[nodiscard]] LUMERCA_API ArchiveRow ConvertArchiveEntry(const ArchiveEntry& entry,
                                                         const ArchiveConvertOptions& options = {}) noexcept;

// The report: the columns' names, and one row's fields as UTF-8 text (a
// path's bytes that are not UTF-8 as \xNN; on Windows an unpaired surrogate
// as \uXXXX); sizes, pieces and cut lines are empty for a file not imported,
// milliseconds have three decimals.
inline constexpr std::size_t kArchiveReportColumns = 9;
[[nodiscard]] LUMERCA_API std::array<const char*, kArchiveReportColumns> ArchiveReportColumns() noexcept;
[[nodiscard]] LUMERCA_API std::array<std::string, kArchiveReportColumns> ArchiveReportFields(const ArchiveRow& row);
// The report's word for a status: "imported", "no pieces", "cannot open", ...
[[nodiscard]] LUMERCA_API const char* ArchiveStatusWord(ImportStatus status) noexcept;

// Makes `folder` with the folders above it that are missing, and adds those
// it made to `made`, deepest first. False, with the system's reason in
// `error`, when it cannot (what it made before the failure is taken away
// again).
[[nodiscard]] LUMERCA_API bool MakeArchiveFolder(const std::filesystem::path& folder,
                                                 std::vector<std::filesystem::path>& made,
                                                 std::string& error) noexcept;

// Removes each of `folders` that is empty, the deepest first (a folder
// emptied by the removal of the ones below it goes too). Folders that hold
// anything, or are gone already, are left. Never throws.
LUMERCA_API void RemoveEmptyFolders(std::vector<std::filesystem::path> folders) noexcept;

}  // namespace lumerca
