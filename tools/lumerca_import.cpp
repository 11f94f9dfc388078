// lumerca-import: converts marker files into csvimprt.txt and posimport.txt.

#include <lumerca/marker.h>

#include <CLI/CLI.hpp>

#include <filesystem>
#include <iostream>
#include <map>
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
  app.add_option("-o,--output", output,
                 "Folder for the two files (default: the current folder); with several files, "
                 "each goes into a subfolder named after the file")
      ->check(CLI::ExistingDirectory);
  app.add_option("--name", name, "Name to give the marker instead of the one stored in it");
  app.add_option("--codepage", code_page,
                 "ANSI code page of the names (874, 932, 936, 949, 950, 1250-1258; default 1252)");
  app.add_flag("-q,--quiet", quiet, "No progress lines");
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

  const bool several = files.size() > 1;
  std::size_t imported = 0, without_pieces = 0, failed = 0;
  std::map<std::string, std::size_t> reasons;
  std::size_t index = 0;
  for (const auto& file : files) {
    ++index;
    if (several && !quiet) {
      std::cerr << "[" << index << "/" << files.size() << "] " << file.string() << "\n";
    }
    fs::path folder = output;
    if (several) {
      folder = output / file.stem();
      std::error_code error;
      fs::create_directories(folder, error);
      if (error) {
        std::cerr << "lumerca-import: " << file.string() << ": cannot create " << folder.string()
                  << ": " << error.message() << "\n";
        ++failed;
        ++reasons["cannot create the output folder"];
        continue;
      }
    }
    auto result = lumerca::ImportMarker(file, name, folder);
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
    for (const auto& d : result.diagnostics) {
      if (d.kind != lumerca::Diagnostic::Kind::ImportFailed && !quiet) {
        std::cerr << "lumerca-import: " << file.string() << ": " << d.path << ": " << d.message
                  << "\n";
      }
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
