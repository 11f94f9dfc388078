#pragma once

// Import of marker files: a compound document whose streams describe one
// marker is turned into the model-and-order file "csvimprt.txt" and the piece
// position file "posimport.txt".
//
// In two steps: ReadMarker reads a marker file (from a path or from bytes in
// memory) into a Marker, the marker as data (<lumerca/model.h>); WriteMarker
// writes its two files into a folder, or into memory. ImportMarker does both.
// In one step, for the host applications of the original library:
// ImportLumercaFile (at the end of this header).

#include <lumerca/export.h>
#include <lumerca/version.h>

#ifdef __cplusplus
#include <lumerca/model.h>

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace lumerca {

// What became of an import, a read or a write. Of a read, Imported means
// that the marker can be written; the other values say why it cannot.
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
  UnknownCodePage, // the code page asked for is not supported here
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
  // Of damage that stops an import (a StreamDamaged entry whose missing data
  // the output files use, and the ImportFailed entry of a Damaged import):
  // what an import with salvage keeps ("the 2", "what arrived", "none of
  // them", "the file without it"); empty otherwise.
  std::string salvage;
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
  // The pair went into place without a flush, for ImportOptions::deferred's
  // Flush().
  bool deferred = false;
};

// ------------------------------------------------------------- durability

namespace detail {
struct DeferredFlushState;
}

// The flush to the storage device of the pairs of a batch, made once for all
// of them instead of once for each pair.
//
// Without it (the default), WriteMarker and ImportMarker flush both new files
// before they rename them into place and the folder after, so that a pair
// that replaces an earlier one survives a power cut whole. A pair written
// with a DeferredFlush in its options (WriteOptions::deferred,
// ImportOptions::deferred) into a folder that holds no pair yet (neither
// csvimprt.txt nor posimport.txt, judged under the folder's lock, so that
// another import's pair cannot come between) is committed the same way
// (temporary names, renamed into place together) but not flushed; it is
// recorded here, and Flush() brings every pair recorded to the storage
// device at once. Into a folder that holds an earlier file the pair is
// flushed as without it, since the earlier pair is at stake.
//
// Until Flush() has returned true, a crash of the system or a power cut can
// leave a deferred pair incomplete (a file empty or cut short, one of the two
// files, the import's temporary files), where nothing stood before;
// converting the file again mends it. A process that is killed loses nothing
// that the system had taken: its pairs are as whole as without deferring.
// Safe to share between threads.
class LUMERCA_API DeferredFlush {
public:
  DeferredFlush();
  ~DeferredFlush();  // does not flush
  DeferredFlush(const DeferredFlush&) = delete;
  DeferredFlush& operator=(const DeferredFlush&) = delete;

  // Brings every pair recorded since the last flush to the storage device,
  // with the folders' entries: one syncfs of each file system that holds
  // one (elsewhere than on Windows), FlushFileBuffers of each file on
  // Windows. False, with the system's reason, when the device reports an
  // error; the pairs then stay recorded.
  [[nodiscard]] bool Flush(std::string& reason) noexcept;
  // The pairs recorded since the last flush.
  [[nodiscard]] std::size_t Pending() const noexcept;

private:
  friend struct detail::DeferredFlushState;
  std::unique_ptr<detail::DeferredFlushState> state_;
};

struct ImportOptions {
  // Import a damaged file (status Damaged without this) from what arrived:
  // fields that did not arrive read as zero, texts are cut where the bytes
  // ended, and each table keeps its complete records only, with Count and
  // SplitCount set to what it kept. The diagnostics say what was missing.
  bool salvage = false;
  // The ANSI code page of the marker's texts, in which names are normalised
  // (0: the process's, AnsiCodePage()). Any supported code page holds on every
  // platform, for this import only.
  unsigned code_page = 0;
  // Into a folder that holds no pair, the pair is not flushed to the storage
  // device but recorded here for one flush of the batch (see DeferredFlush);
  // null: each pair is flushed before the import returns.
  DeferredFlush* deferred = nullptr;
};

// Reads `file` and writes csvimprt.txt and posimport.txt into `output_dir`.
// A non-empty `name` replaces the marker name stored in the file (at most 255
// bytes are used). The files are written under temporary names and renamed into
// place only when both are complete: on any status but Imported the files that
// were there before are left as they were. Never throws.
// It is ReadMarker (with `options.code_page` and `options.salvage`) and then
// WriteMarker (with `name` and `options.deferred`).
[[nodiscard]] LUMERCA_API ImportResult ImportMarker(const std::filesystem::path& file,
                                                    std::string_view name,
                                                    const std::filesystem::path& output_dir) noexcept;
[[nodiscard]] LUMERCA_API ImportResult ImportMarker(const std::filesystem::path& file,
                                                    std::string_view name,
                                                    const std::filesystem::path& output_dir,
                                                    const ImportOptions& options) noexcept;

// ---------------------------------------------------------------- reading

struct ReadOptions {
  // The ANSI code page of the marker's texts, in which names are normalised
  // (0: the process's, AnsiCodePage()). Any supported code page holds on every
  // platform.
  unsigned code_page = 0;
  // Read a damaged marker as one that can be written: see ImportOptions.
  bool salvage = false;
  // Record every element that the walk meets in ReadResult::walk; without it
  // only the elements not read whole, or not used, are recorded.
  bool walk = false;
};

// One element of the document as the read met it, in walk order (depth
// first, in each storage the order in which the system's structured storage
// lists it).
struct WalkElement {
  enum class Outcome {
    Read,           // a stream decoded (or consumed by a skipping reader)
    Damaged,        // a stream that ended before its declared layout: what arrived was read
    Skipped,        // a stream passed over (a .CUTS name without a piece number)
    Entered,        // a storage that was walked
    PassedOver,     // a name beginning with U+0005, or an element of another type
    CannotOpen,     // a storage or stream that cannot be opened: the rest of its storage is lost
    CannotList,     // a storage whose elements cannot be listed (this entry names it)
    ListingFailed,  // listing a storage failed part way (this entry names it)
    Stopped,        // the walk met more elements or bytes than the document holds and ended
  };
  // Element types as the system's structured storage numbers them; other
  // values are kept as the file gives them.
  enum Type : std::uint32_t { Storage = 1, Stream = 2, LockBytes = 3, Property = 4, Root = 5 };

  int depth = 0;            // 0 for the root's own elements
  std::int64_t parent = -1; // the position in the walk of the storage that holds it (-1: the
                            // root, or a walk not recorded whole)
  std::string path;         // UTF-8, '/'-separated from the root; a path of more than 512
                            // bytes keeps its end behind ".../"
  std::string name;         // UTF-8, its own name ("" for a CannotList or ListingFailed entry)
  std::uint32_t type = 0;
  std::uint64_t size = 0;
  std::string reader;       // the reader that took a stream ("" for anything else)
  Outcome outcome = Outcome::Read;
  // Of a stream that a reader took (and did not pass over): the bytes that its
  // layout declares through its counts and lengths (at least, when it ended
  // before all of them arrived), and the bytes that arrived.
  std::uint64_t declared = 0;
  bool declared_known = true;
  std::uint64_t arrived = 0;
  // Of a Damaged stream: what is missing, whether the output files would use
  // it, and (when they would) what salvage keeps of it.
  std::string damage;
  bool used = false;
  std::string salvage;
};

struct ReadResult {
  // What was read; of a file that cannot be opened, an empty marker.
  Marker marker;
  // Imported: the marker can be written. Otherwise why not: CannotOpen,
  // Damaged (read without salvage), NoPieces, CorruptIndex, OutOfMemory,
  // UnknownCodePage. A marker without pieces or with a cross-reference out of
  // range is still read whole, for those who want to look at it.
  ImportStatus status = ImportStatus::CannotOpen;
  std::string reason;   // why, when status is not Imported: the detail of the status
  std::string salvage;  // of a Damaged marker: what a read with salvage keeps
  // What the read met that a user may want to know about (never ImportFailed).
  std::vector<Diagnostic> warnings;
  // The document's elements (ReadOptions::walk), or those not read whole or not used.
  std::vector<WalkElement> walk;

  bool ok() const noexcept { return status == ImportStatus::Imported; }
};

// Reads the marker file at `file`: on Windows with the system's structured
// storage, elsewhere with the library's own compound-file reader.
[[nodiscard]] LUMERCA_API ReadResult ReadMarker(const std::filesystem::path& file,
                                                const ReadOptions& options = {}) noexcept;
// Reads a marker file held in memory (a blob from a database, an upload, a
// member of an archive) with the library's own compound-file reader. The
// bytes are not kept.
[[nodiscard]] LUMERCA_API ReadResult ReadMarker(std::span<const std::byte> bytes,
                                                const ReadOptions& options = {}) noexcept;

// ---------------------------------------------------------------- writing

struct WriteOptions {
  // A name that replaces the marker's stored name (at most 255 bytes are
  // used); empty: the stored name.
  std::string name;
  // The ANSI code page that names are normalised in (0: the one the marker
  // was read with).
  unsigned code_page = 0;
  // Into a folder that holds no pair, the pair is not flushed to the storage
  // device but recorded here for one flush of the batch (see DeferredFlush);
  // null: each pair is flushed before the write returns. Not used when
  // writing into memory.
  DeferredFlush* deferred = nullptr;
};

struct WriteResult {
  // Imported: both files were written. Otherwise why not: the marker's own
  // (its read's status: NoPieces, CorruptIndex, Damaged, ...), or OutputFailed,
  // OutOfMemory, UnknownCodePage.
  ImportStatus status = ImportStatus::OutputFailed;
  std::string reason;   // the detail of a status other than Imported
  std::string name;     // the normalised marker name, as "o:" writes it
  ImportCounts counts;  // what the files hold (when written)
  // The pair went into place without a flush, for WriteOptions::deferred's
  // Flush().
  bool deferred = false;

  bool ok() const noexcept { return status == ImportStatus::Imported; }
};

// The two files in memory, byte for byte what WriteMarker puts in a folder.
struct OutputFiles {
  std::string csvimprt;   // the model-and-order file
  std::string posimport;  // the piece position file
};

// Writes csvimprt.txt and posimport.txt into `output_dir`, under temporary
// names renamed into place only when both are complete: on any status but
// Imported the files that were there before are left as they were.
[[nodiscard]] LUMERCA_API WriteResult WriteMarker(const Marker& marker,
                                                  const std::filesystem::path& output_dir,
                                                  const WriteOptions& options = {}) noexcept;
// The same into memory: `files` receives both files (and is emptied when
// the status is not Imported).
[[nodiscard]] LUMERCA_API WriteResult WriteMarker(const Marker& marker, OutputFiles& files,
                                                  const WriteOptions& options = {}) noexcept;

// ---------------------------------------------------------------- helpers

// Short English text for a status.
[[nodiscard]] LUMERCA_API const char* StatusText(ImportStatus status) noexcept;

// The ANSI code page that names are normalised in by default. On Windows it is
// the system's; elsewhere it is a setting of the process, 1252 unless changed.
[[nodiscard]] LUMERCA_API unsigned AnsiCodePage() noexcept;
// Returns false (and changes nothing) for a code page that is not supported.
// Has no effect on Windows, where the system decides.
LUMERCA_API bool SetAnsiCodePage(unsigned code_page) noexcept;
// Whether names can be normalised in `code_page` here.
[[nodiscard]] LUMERCA_API bool IsSupportedCodePage(unsigned code_page) noexcept;

// `text` (bytes in the ANSI code page `code_page`) as UTF-8. A byte sequence
// that the code page does not map becomes U+FFFD (on Windows what the system
// maps it to); a code page not known here is read as Latin-1.
[[nodiscard]] LUMERCA_API std::string ToUtf8(std::string_view text, unsigned code_page);

// A name as the output files write it: every character that may not stand in
// a name becomes '-', and the name is upper-cased in `code_page` (0: the
// process's). The result has as many bytes as the name up to its first NUL.
[[nodiscard]] LUMERCA_API std::string NormalizedName(std::string_view name, unsigned code_page = 0);

// The folder that ImportLumercaFile writes into.
[[nodiscard]] LUMERCA_API std::filesystem::path FixedOutputFolder();

// The version of the library that runs, "major.minor.patch": its
// LUMERCA_MARKER_VERSION_STRING, which may differ from the headers' one.
[[nodiscard]] LUMERCA_API const char* Version() noexcept;

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
