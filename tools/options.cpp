#include "tools/options.h"

#include "tools/exit_status.h"

#include <lumerca/marker.h>

#include <CLI/CLI.hpp>

#include "tools/system.h"

namespace lumerca::tools {

std::optional<int> ParseOptions(int argc, char** argv, Options& options) {
  CLI::App app{"Converts marker files into the model-and-order file csvimprt.txt and the piece "
               "position file posimport.txt."};
  app.set_version_flag("--version", std::string("lumerca-import ") + lumerca::Version());
  app.add_option("-o,--output", options.output,
                 "Folder for the two files (default: the current folder; made with its parents "
                 "when missing); with several files or a folder, each file gets a subfolder named "
                 "after it, and a folder's tree is mirrored");
  app.add_option("--name", options.name, "Name to give the marker instead of the one stored in it");
  app.add_option("--codepage", options.code_page,
                 "ANSI code page of the names (874, 932, 936, 949, 950, 1250-1258; default 1252)");
  app.add_option("-j,--jobs", options.jobs,
                 "Conversions at a time (default: the processors this process may use)")
      ->check(CLI::Range(1u, 1024u));
  app.add_option("--report", options.report,
                 "Write a CSV report with one row per file: path, status, name, sizes, pieces "
                 "written, cut lines written, warnings, reason, milliseconds");
  app.add_flag("-q,--quiet", options.quiet,
               "Print only the files not imported and the summary: no progress, no warnings");
  app.add_flag("-v,--verbose", options.verbose,
               "Print every diagnostic, also those of files that are not imported");
  app.add_flag("--salvage", options.import.salvage,
               "Import a damaged file (a stream cut short of data the output uses) from what "
               "arrived: missing fields read as zero, texts cut where the bytes end, each table "
               "keeps its whole records; warnings say what was missing");
  app.add_flag("--dump", options.dump,
               "Print what is read from each file (the walk, the header, every table, the pieces, "
               "the cut lines) as JSON on standard output, instead of converting");
  app.add_option("--svg", options.svg, "Draw the marker of the one FILE into this SVG file, "
                                       "instead of converting");
  app.add_option("FILE", options.inputs,
                 "Marker files, and folders whose files (all of them, below every subfolder) are "
                 "converted")
      ->required();

  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    return e.get_exit_code() == 0 ? app.exit(e) : (app.exit(e), kUsage);
  }
  if (options.jobs == 0) options.jobs = ProcessorsAvailable();
  return std::nullopt;
}

}  // namespace lumerca::tools
