// Structure-aware: the input becomes the marker streams of a well-formed
// document (fuzz/import_input.h), which is written to a file and imported with
// both writers into an output folder created once per process.
//
// Invariants, after every import: the output folder holds nothing but the two
// output files (no temporary file is left); an import that succeeds leaves
// both; one that fails (Damaged included) leaves the files of the last
// successful import exactly as they were; the name handed back is the
// normalised marker name. With salvage a file is never Damaged; an input that
// asks for salvage is imported without it first, and a Damaged result there
// must name the damage.

#include <lumerca/marker.h>

#include "fuzz/fuzz_target.h"
#include "fuzz/import_input.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <system_error>

#include <unistd.h>

namespace {

namespace fs = std::filesystem;

struct Folders {
  fs::path base;
  fs::path marker;
  fs::path out;
  std::string orders;     // the files of the last successful import
  std::string positions;
  bool have_output = false;
};

void RemoveFolders();

Folders& State() {
  static Folders* folders = [] {
    std::string pattern = (fs::temp_directory_path() / "lumerca-fuzz-import-XXXXXX").string();
    FUZZ_CHECK(::mkdtemp(pattern.data()) != nullptr, "cannot create a temporary folder");
    auto* f = new Folders;
    f->base = pattern;
    f->marker = f->base / "marker.mrk";
    f->out = f->base / "out";
    fs::create_directory(f->out);
    std::atexit(RemoveFolders);
    return f;
  }();
  return *folders;
}

void RemoveFolders() {
  std::error_code ignored;
  fs::remove_all(State().base, ignored);
}

std::string ReadAll(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void WriteAll(const fs::path& path, const lumerca::testing::ByteVector& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  FUZZ_CHECK(out.good(), "cannot write the marker file");
}

// Imports the marker file once and checks the output folder against the
// last successful import.
lumerca::ImportResult ImportAndCheck(const lumerca::fuzzing::ImportInput& input, bool salvage) {
  using namespace lumerca;
  Folders& state = State();
  ImportOptions options;
  options.salvage = salvage;
  const ImportResult result = ImportMarker(state.marker, input.caller_name, state.out, options);
  static const bool verbose = std::getenv("LUMERCA_FUZZ_VERBOSE") != nullptr;
  if (verbose) {
    std::fprintf(stderr, "  %s%s, name \"%s\", %zu diagnostics\n", salvage ? "salvage: " : "",
                 StatusText(result.status), result.name.c_str(), result.diagnostics.size());
  }

  std::size_t files = 0;
  for (const auto& entry : fs::directory_iterator(state.out)) {
    const std::string name = entry.path().filename().string();
    FUZZ_CHECK(name == "csvimprt.txt" || name == "posimport.txt",
               "a file other than the two output files is left in the output folder");
    ++files;
  }
  switch (result.status) {
    case ImportStatus::Imported:
      FUZZ_CHECK(files == 2, "an import that succeeded did not leave both files");
      FUZZ_CHECK(result.name.size() <= 255, "the name handed back is longer than 255 bytes");
      state.orders = ReadAll(state.out / "csvimprt.txt");
      state.positions = ReadAll(state.out / "posimport.txt");
      FUZZ_CHECK(state.orders.find("=:order\r\no:" + result.name + "\r\n") != std::string::npos,
                 "the order line does not hold the name handed back");
      state.have_output = true;
      break;
    case ImportStatus::Damaged:
      FUZZ_CHECK(!salvage, "a salvaging import reported Damaged");
      FUZZ_CHECK(std::any_of(result.diagnostics.begin(), result.diagnostics.end(),
                             [](const Diagnostic& d) { return d.kind == Diagnostic::Kind::StreamDamaged; }),
                 "a Damaged import names no damaged stream");
      [[fallthrough]];
    case ImportStatus::CannotOpen:
    case ImportStatus::NoPieces:
    case ImportStatus::CorruptIndex:
    case ImportStatus::OutputFailed:
    case ImportStatus::OutOfMemory:
      FUZZ_CHECK(result.name.empty(), "a failed import handed a name back");
      FUZZ_CHECK(files == (state.have_output ? 2u : 0u), "a failed import changed the output folder");
      if (state.have_output) {
        FUZZ_CHECK(ReadAll(state.out / "csvimprt.txt") == state.orders,
                   "a failed import changed csvimprt.txt");
        FUZZ_CHECK(ReadAll(state.out / "posimport.txt") == state.positions,
                   "a failed import changed posimport.txt");
      }
      break;
    default:
      FUZZ_CHECK(false, "unknown status %d", static_cast<int>(result.status));
  }
  // The writer's documents always open; OutputFailed would mean the folder
  // itself broke, and memory never runs out on inputs this small.
  FUZZ_CHECK(result.status != ImportStatus::CannotOpen, "a well-formed document was not opened");
  FUZZ_CHECK(result.status != ImportStatus::OutputFailed, "the output could not be written");
  FUZZ_CHECK(result.status != ImportStatus::OutOfMemory, "memory ran out");
  return result;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace lumerca;
  Folders& state = State();
  const auto input = fuzzing::DecodeImportInput(std::span<const std::uint8_t>(data, size));
  WriteAll(state.marker,
           testing::WriteCompoundFile(input.document, testing::WriteOptions{input.version, 0}));
  FUZZ_CHECK(SetAnsiCodePage(input.code_page) || AnsiCodePage() != input.code_page,
             "a listed code page is refused");

  const ImportResult plain = ImportAndCheck(input, false);
  if (input.salvage) {
    const ImportResult salvaged = ImportAndCheck(input, true);
    // Salvage changes nothing for a file that is not damaged.
    if (plain.status != ImportStatus::Damaged) {
      FUZZ_CHECK(salvaged.status == plain.status, "salvage changed the status of an undamaged file");
    }
  }
  return 0;
}
