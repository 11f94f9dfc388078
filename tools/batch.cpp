#include "tools/batch.h"

#include "tools/escape.h"
#include "tools/exit_status.h"
#include "tools/ordered_pool.h"
#include "tools/progress.h"
#include "tools/report.h"
#include "tools/system.h"

#include <lumerca/archive.h>

#include <atomic>
#include <iostream>
#include <map>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace lumerca::tools {
namespace {

// What the run has told so far, in the order of the files.
struct Run {
  const Options& options;
  const ArchiveListing& list;
  Progress progress;
  Report report;
  Tally told;                                 // of the files taken in order
  std::map<std::string, std::size_t> groups;  // the summary's reasons
  bool report_failed = false;                 // a row could not be written
  std::vector<fs::path> made = {};            // the folders that the conversions made
  std::atomic<std::size_t> imported{0}, without_pieces{0}, failed{0};  // as they finish

  Tally Finished() const { return {imported.load(), without_pieces.load(), failed.load()}; }
};

Progress::Style StyleFor(const Options& options, const ArchiveListing& list) {
  if (options.quiet || !list.several) return Progress::Style::Silent;
  return ProgressStyleForStderr();
}

// A file imported, without pieces, or failed.
template <typename Counters>
auto& CounterOf(const ArchiveRow& row, Counters& tally) {
  if (row.status == ImportStatus::Imported) return tally.imported;
  if (row.status == ImportStatus::NoPieces) return tally.without_pieces;
  return tally.failed;
}

void Count(const ArchiveRow& row, Tally& tally) { ++CounterOf(row, tally); }

// One file's result, in the order of the files: its progress line, its lines
// when not imported, its warnings, its row.
void Tell(Run& run, std::size_t index, const ArchiveRow& outcome) {
  const ArchiveEntry& input = run.list.entries[index];
  const std::string file = input.path.string();
  run.progress.Turn(index, input.path);
  run.made.insert(run.made.end(), outcome.made.begin(), outcome.made.end());
  if (outcome.imported()) {
    if (!run.list.several && !run.options.quiet) {
      std::cout << Printable("imported " + file + " as " + outcome.stored_name + " into " +
                             (input.folder / "csvimprt.txt").string() + " and " +
                             (input.folder / "posimport.txt").string())
                << "\n";
    }
  } else {
    ++run.groups[outcome.group];
    run.progress.Say("lumerca-import: " + file + ": " + outcome.reason);
  }
  // A file imported has its warnings; one not imported has its one line
  // above, and its details with -v.
  const bool imported = outcome.imported();
  if (imported ? run.options.verbose || !run.options.quiet : run.options.verbose) {
    const std::string prefix = imported ? "warning: " : "note: ";
    for (const std::string& note : outcome.notes) run.progress.Say(prefix + file + ": " + note);
  }
  std::string problem;
  if (run.report.IsOpen() && !run.report.Add(outcome, problem)) {
    // Said at once, where it happened; the run goes on without the report.
    run.progress.Say("lumerca-import: report: " + problem + "; no more rows are written");
    run.report_failed = true;
  }
  Count(outcome, run.told);
}

void Summary(const Run& run) {
  const Tally& t = run.told;
  std::string line = "lumerca-import: " + std::to_string(t.imported) + " imported, " +
                     std::to_string(t.without_pieces) + " without pieces, " +
                     std::to_string(t.failed) + " failed";
  for (const auto& [group, count] : run.groups) line += "; " + std::to_string(count) + " " + group;
  std::cerr << Printable(line) << "\n";
  if (StopSignal() != 0) {
    std::cerr << "lumerca-import: stopped by a signal: " << run.list.entries.size() - t.Done()
              << " of " << run.list.entries.size() << " files not converted\n";
  }
}

void Convert(Run& run, const ArchiveConvertOptions& convert) {
  std::function<ArchiveRow(std::size_t)> work = [&](std::size_t i) {
    ArchiveRow outcome = ConvertArchiveEntry(run.list.entries[i], convert);
    ++CounterOf(outcome, run);
    return outcome;
  };
  std::function<void(std::size_t, ArchiveRow&)> take = [&](std::size_t i, ArchiveRow& outcome) {
    Tell(run, i, outcome);
    run.progress.Show(run.Finished());
  };
  RunInOrder<ArchiveRow>(
      run.list.entries.size(), run.options.jobs, work, take,
      [&] { run.progress.Show(run.Finished()); }, [] { return StopSignal() != 0; });
  run.progress.Finish();
}

int ExitStatus(const Tally& tally) {
  if (StopSignal() != 0) return kStoppedBySignal + StopSignal();
  if (tally.failed > 0) return kSomeFailed;
  if (tally.without_pieces > 0) return kSomeWithoutPieces;
  return kAllImported;
}

// The folders of `output` that are not there yet, the deepest first.
std::vector<fs::path> Missing(const fs::path& output) {
  fs::path folder = output.lexically_normal();
  if (!folder.has_filename()) folder = folder.parent_path();
  std::vector<fs::path> missing;
  std::error_code error;
  for (; !folder.empty() && !fs::exists(fs::symlink_status(folder, error)); folder = folder.parent_path()) {
    missing.push_back(folder);
    if (folder == folder.parent_path()) break;
  }
  return missing;
}

// The folders that the run made for `-o` go again when nothing was put in
// them: a file that is not imported leaves no folder behind.
void RemoveIfEmpty(const std::vector<fs::path>& made) {
  for (const fs::path& folder : made) {
    std::error_code error;
    if (!fs::remove(folder, error)) break;  // it holds something, or is gone
  }
}

}  // namespace

int RunConversions(const Options& options) {
  CatchStopSignals();
  std::error_code error;
  const std::vector<fs::path> made = Missing(options.output);
  fs::create_directories(options.output, error);
  if (error || !fs::is_directory(options.output)) {
    std::cerr << Printable("lumerca-import: cannot make the output folder " + options.output.string() +
                           (error ? ": " + error.message() : ": a file stands there"))
              << "\n";
    RemoveIfEmpty(made);
    return kUsage;
  }
  ArchiveListOptions listing;
  listing.leave_out = options.report;
  listing.stop = [] { return StopSignal() != 0; };
  const ArchiveListing list = ListArchive(options.inputs, options.output, listing);
  if (list.out_of_memory) {
    std::cerr << "lumerca-import: memory ran out while listing the files\n";
    RemoveIfEmpty(made);
    return kSomeFailed;
  }
  Run run{options, list, Progress(StyleFor(options, list), list.entries.size()), {}, {}, {}};
  std::string problem;
  if (!options.report.empty() && !run.report.Open(options.report, problem)) {
    std::cerr << Printable("lumerca-import: report: " + problem) << "\n";
    RemoveIfEmpty(made);
    return kUsage;
  }
  for (const std::string& note : list.notes) run.progress.Say("lumerca-import: " + note);

  // Pairs into folders that held none are flushed to the disk once, at the
  // end, with the report; the others each before it replaces its earlier
  // pair.
  DeferredFlush deferred;
  ArchiveConvertOptions convert;
  convert.name = options.name;
  convert.import = options.import;
  convert.import.deferred = &deferred;
  Convert(run, convert);
  RemoveEmptyFolders(std::move(run.made));  // of files not imported
  bool flush_failed = false;
  if (!deferred.Flush(problem)) {
    std::cerr << Printable("lumerca-import: " + problem) << "\n";
    flush_failed = true;
  }
  if (run.report.IsOpen() && !run.report.Sync(problem)) {
    std::cerr << Printable("lumerca-import: report: " + problem) << "\n";
    run.report_failed = true;
  }
  if (list.several || StopSignal() != 0) Summary(run);
  int status = ExitStatus(run.told);
  if (run.report.IsOpen() && !run.report.Close(problem)) {
    std::cerr << Printable("lumerca-import: report: " + problem) << "\n";
    run.report_failed = true;
  }
  if ((run.report_failed || flush_failed) && (status == kAllImported || status == kSomeWithoutPieces)) {
    status = kSomeFailed;
  }
  RemoveIfEmpty(made);
  return status;
}

}  // namespace lumerca::tools
