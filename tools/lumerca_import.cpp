// lumerca-import: converts marker files into csvimprt.txt and posimport.txt;
// with --dump prints what it reads from a file as JSON, with --svg draws it.

#include <lumerca/marker.h>

#include "tools/dump.h"
#include "tools/svg.h"

#include <CLI/CLI.hpp>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <set>
#include <string>
#include <system_error>
#include <vector>

namespace fs = std::filesystem;

namespace {

// Exit statuses.
constexpr int kAllImported = 0;
constexpr int kSomeFailed = 1;
constexpr int kUsage = 2;
constexpr int kSomeWithoutPieces = 3;

std::string Reason(const lumerca::ImportResult& result) {
  std::string reason = lumerca::StatusText(result.status);
  for (const auto& d : result.diagnostics) {
    if (d.kind == lumerca::Diagnostic::Kind::ImportFailed) {
      reason += " (" + d.message + ")";
      break;
    }
  }
  return reason;
}

// --dump: one JSON document per file (an array of them for several files).
int Dump(const std::vector<fs::path>& files) {
  bool all_opened = true;
  if (files.size() > 1) std::cout << "[\n";
  for (std::size_t i = 0; i < files.size(); ++i) {
    if (i > 0) std::cout << ",\n";
    all_opened = lumerca::tools::WriteDump(std::cout, files[i]) && all_opened;
  }
  if (files.size() > 1) std::cout << "]\n";
  std::cout.flush();
  if (!std::cout) {
    std::cerr << "lumerca-import: cannot write the dump\n";
    return kSomeFailed;
  }
  return all_opened ? kAllImported : kSomeFailed;
}

// One diagnostic as a line of standard error: "FILE: PATH: MESSAGE".
void PrintDiagnostic(const char* prefix, const fs::path& file, const lumerca::Diagnostic& d) {
  std::cerr << prefix << file.string() << ": " << (d.path.empty() ? "" : d.path + ": ") << d.message
            << "\n";
}

// --svg: the picture of one marker file.
int Svg(const fs::path& svg, const fs::path& file) {
  lumerca::WalkReport report;
  std::string why;
  const auto model = lumerca::tools::LoadMarker(file, report, &why);
  if (!model) {
    std::cerr << "lumerca-import: " << file.string() << ": "
              << lumerca::StatusText(lumerca::ImportStatus::CannotOpen) << " (" << why << ")\n";
    return kSomeFailed;
  }
  std::ofstream out(svg, std::ios::binary | std::ios::trunc);
  const auto counts = lumerca::tools::WriteSvg(out, *model);
  out.close();
  if (!out) {
    std::cerr << "lumerca-import: cannot write " << svg.string() << "\n";
    return kSomeFailed;
  }
  std::cerr << "lumerca-import: drew " << counts.pieces << " pieces (" << counts.halfs
            << " half pieces) and " << counts.cut_lines << " cut lines into " << svg.string();
  if (counts.left_out > 0) std::cerr << "; " << counts.left_out << " with coordinates not finite left out";
  std::cerr << "\n";
  return kAllImported;
}

}  // namespace

int main(int argc, char** argv) {
  CLI::App app{"Converts marker files into the model-and-order file csvimprt.txt and the piece "
               "position file posimport.txt."};
  app.set_version_flag("--version", std::string("lumerca-import ") + lumerca::Version());

  fs::path output = ".";
  std::string name;
  unsigned code_page = 0;
  std::vector<fs::path> files;
  bool quiet = false;
  bool verbose = false;
  bool dump = false;
  lumerca::ImportOptions options;
  fs::path svg;
  app.add_option("-o,--output", output,
                 "Folder for the two files (default: the current folder); with several files, "
                 "each goes into a subfolder named after the file")
      ->check(CLI::ExistingDirectory);
  app.add_option("--name", name, "Name to give the marker instead of the one stored in it");
  app.add_option("--codepage", code_page,
                 "ANSI code page of the names (874, 932, 936, 949, 950, 1250-1258; default 1252)");
  app.add_flag("-q,--quiet", quiet, "No progress lines and no warnings");
  app.add_flag("-v,--verbose", verbose,
               "Print every diagnostic, also those of files that are not imported");
  app.add_flag("--salvage", options.salvage,
               "Import a damaged file (a stream cut short of data the output uses) from what "
               "arrived: missing fields read as zero, texts cut where the bytes end, each table "
               "keeps its whole records; warnings say what was missing");
  app.add_flag("--dump", dump,
               "Print what is read from each file (the walk, the header, every table, the pieces, "
               "the cut lines) as JSON on standard output, instead of converting");
  app.add_option("--svg", svg, "Draw the marker of the one FILE into this SVG file, instead of "
                               "converting");
  app.add_option("FILE", files, "Marker files")->required();

  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    return e.get_exit_code() == 0 ? app.exit(e) : (app.exit(e), kUsage);
  }

  if (code_page != 0 && !lumerca::SetAnsiCodePage(code_page)) {
    std::cerr << "lumerca-import: code page " << code_page << " is not supported\n";
    return kUsage;
  }

  if (!svg.empty() && files.size() != 1) {
    std::cerr << "lumerca-import: --svg draws exactly one file\n";
    return kUsage;
  }
  if (dump || !svg.empty()) {
    int status = kAllImported;
    if (!svg.empty()) status = Svg(svg, files.front());
    if (dump) status = std::max(status, Dump(files));
    return status;
  }

  const bool several = files.size() > 1;
  std::size_t imported = 0, without_pieces = 0, failed = 0;
  std::map<std::string, std::size_t> reasons;
  std::set<std::string> folders_used;
  std::size_t index = 0;
  for (const auto& file : files) {
    ++index;
    if (several && !quiet) {
      std::cerr << "[" << index << "/" << files.size() << "] " << file.string() << "\n";
    }
    fs::path folder = output;
    bool created = false;
    if (several) {
      // Two files of one name (from different folders) get folders of their
      // own: the second is "<name>-2", or the first of "-3", "-4", ... that no
      // other file of this run took.
      const std::string stem = file.stem().string();
      std::string chosen = stem;
      for (std::size_t n = 2; !folders_used.insert(chosen).second; ++n) {
        chosen = stem + "-" + std::to_string(n);
      }
      folder = output / chosen;
      std::error_code error;
      created = fs::create_directories(folder, error);
      if (error) {
        std::cerr << "lumerca-import: " << file.string() << ": cannot create " << folder.string()
                  << ": " << error.message() << "\n";
        ++failed;
        ++reasons["cannot create the output folder"];
        continue;
      }
    }
    auto result = lumerca::ImportMarker(file, name, folder, options);
    switch (result.status) {
      case lumerca::ImportStatus::Imported:
        ++imported;
        if (!several) {
          std::cout << "imported " << file.string() << " as " << result.name << " into "
                    << (folder / "csvimprt.txt").string() << " and "
                    << (folder / "posimport.txt").string() << "\n";
        }
        break;
      case lumerca::ImportStatus::NoPieces:
        ++without_pieces;
        ++reasons[lumerca::StatusText(result.status)];
        std::cerr << "lumerca-import: " << file.string() << ": " << Reason(result) << "\n";
        break;
      default:
        ++failed;
        ++reasons[lumerca::StatusText(result.status)];
        std::cerr << "lumerca-import: " << file.string() << ": " << Reason(result) << "\n";
        break;
    }
    if (created && result.status != lumerca::ImportStatus::Imported) {
      std::error_code ignored;
      fs::remove(folder, ignored);  // only while it is still empty
    }
    // A file imported has its warnings; one not imported has its one line
    // above, and its details with -v.
    const bool done = result.status == lumerca::ImportStatus::Imported;
    for (const auto& d : result.diagnostics) {
      if (d.kind == lumerca::Diagnostic::Kind::ImportFailed) continue;
      if (done && (verbose || !quiet)) PrintDiagnostic("warning: ", file, d);
      if (!done && verbose) PrintDiagnostic("note: ", file, d);
    }
  }

  if (several) {
    std::cerr << "lumerca-import: " << imported << " imported, " << without_pieces
              << " without pieces, " << failed << " failed";
    for (const auto& [reason, count] : reasons) std::cerr << "; " << count << " " << reason;
    std::cerr << "\n";
  }
  if (failed > 0) return kSomeFailed;
  if (without_pieces > 0) return kSomeWithoutPieces;
  return kAllImported;
}
