#pragma once

// Import of marker files: a compound document whose streams describe one
// marker is turned into the model-and-order file "csvimprt.txt" and the piece
// position file "posimport.txt".

#include <lumerca/export.h>
#include <lumerca/version.h>

#ifdef __cplusplus
#include <cstddef>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace lumerca {

enum class ImportStatus {
  Imported,        // both files were written completely
  CannotOpen,      // the file is missing, unreadable or not a compound document
  NoPieces,        // the document holds no placed piece; nothing was written
  CorruptIndex,    // a cross-reference between the tables is out of range
  OutputFailed,    // a file could not be created, written or renamed
  OutOfMemory,     // memory ran out while reading or writing
  Damaged,         // a stream ends before its declared layout, and what did not arrive
                   // would be used by the output files; nothing was written
                   // (ImportOptions::salvage imports such a file from what arrived)
};

// Something the walk met that a user may want to know about.
struct Diagnostic {
  enum class Kind {
    StreamDamaged,       // a stream ended before its declared layout: the message says
                         // where, what is missing and whether the output files use it
    StreamRejected = StreamDamaged,  // the earlier name of StreamDamaged
    StreamSkipped,       // a stream was passed over (e.g. a .CUTS name without a number)
    StorageUnreadable,   // a storage could not be enumerated or opened
    StreamUnreadable,    // a stream could not be opened
    EnumerationFailed,   // listing a storage's elements failed part way
    ImportFailed,        // why the import as a whole failed: why the file cannot be
                         // opened, the damage that stopped it, a corrupt index, an
                         // output error
  };
  Kind kind;
  std::string path;     // the element's path inside the document, UTF-8, '/'-separated
  std::string message;  // a short English text
};

// What the two files of an import hold.
struct ImportCounts {
  std::size_t sizes = 0;      // sizes in the order of the model-and-order file
  std::size_t pieces = 0;     // piece lines of the position file (half pieces are left out)
  std::size_t cut_lines = 0;  // cut lines of the position file
};

struct ImportResult {
  ImportStatus status = ImportStatus::CannotOpen;
  std::string name;  // the normalised marker name (set when status is Imported)
  // Of an imported file, warnings; of one that was not, the details, with
  // one ImportFailed entry that gives the reason.
  std::vector<Diagnostic> diagnostics;
  ImportCounts counts;  // set when status is Imported, zero otherwise
};

struct ImportOptions {
  // Import a damaged file (status Damaged without this) from what arrived:
  // fields that did not arrive read as zero, texts are cut where the bytes
  // ended, and each table keeps its complete records only, with Count and
  // SplitCount set to what it kept. The diagnostics say what was missing.
  bool salvage = false;
};

// Reads `file` and writes csvimprt.txt and posimport.txt into `output_dir`.
// A non-empty `name` replaces the marker name stored in the file (at most 255
// bytes are used). The files are written under temporary names and renamed into
// place only when both are complete: on any status but Imported the files that
// were there before are left as they were. Never throws.
LUMERCA_API ImportResult ImportMarker(const std::filesystem::path& file, std::string_view name,
                                      const std::filesystem::path& output_dir) noexcept;
LUMERCA_API ImportResult ImportMarker(const std::filesystem::path& file, std::string_view name,
                                      const std::filesystem::path& output_dir,
                                      const ImportOptions& options) noexcept;

// Short English text for a status.
LUMERCA_API const char* StatusText(ImportStatus status) noexcept;

// The ANSI code page that names are normalised in. On Windows it is the
// system's; elsewhere it is a setting of the process, 1252 unless changed.
LUMERCA_API unsigned AnsiCodePage() noexcept;
// Returns false (and changes nothing) for a code page that is not supported.
// Has no effect on Windows, where the system decides.
LUMERCA_API bool SetAnsiCodePage(unsigned code_page) noexcept;

// The folder that ImportLumercaFile writes into.
LUMERCA_API std::filesystem::path FixedOutputFolder();

// The version of the library that runs, "major.minor.patch": its
// LUMERCA_MARKER_VERSION_STRING, which may differ from the headers' one.
LUMERCA_API const char* Version() noexcept;

}  // namespace lumerca

extern "C" {
#endif

// Imports the marker file at `path` (ANSI code page) into the fixed output
// folder. `name` must hold 256 bytes: on entry an empty string or the name to
// give the marker; on result 1 it receives the normalised marker name.
// Results: 1 imported, 0 not imported (cannot be opened, damaged, a corrupt
// cross-reference, or the output could not be written), -1 the file holds no
// pieces. A damaged file is never salvaged here.
LUMERCA_API int ImportLumercaFile(const char* path, char* name);

#ifdef __cplusplus
}
#endif
