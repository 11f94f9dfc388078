#pragma once

// What lumerca-import shows on standard error while a run goes on.

#include <chrono>
#include <cstddef>
#include <filesystem>
#include <string>

namespace lumerca::tools {

struct Tally {
  std::size_t imported = 0;
  std::size_t without_pieces = 0;
  std::size_t failed = 0;
  std::size_t Done() const { return imported + without_pieces + failed; }
};

class Progress {
public:
  enum class Style {
    Silent,  // only the lines said
    Lines,   // a line "[i/N] file" for each file, in the order of the run
    Live,    // one line, rewritten in place: done of total, the tally, files/s, time left
  };

  Progress(Style style, std::size_t total);

  // The turn of file `index` (0-based) in the order of the run (its name
  // escaped).
  void Turn(std::size_t index, const std::filesystem::path& file);

  // A line that stays (a file not imported, a warning), its control
  // characters escaped (Printable); the live line is drawn again below it.
  void Say(const std::string& line);

  // Draws the live line with `tally`, at most ten times a second unless
  // `now`.
  void Show(const Tally& tally, bool now = false);

  // Takes the live line away.
  void Finish();

private:
  std::string LiveLine() const;
  void Draw();

  Style style_;
  std::size_t total_;
  std::chrono::steady_clock::time_point start_, drawn_;
  Tally tally_;         // as last shown
  bool shown_ = false;  // the live line stands on the terminal
};

// The live style when standard error is a terminal, else the lines.
Progress::Style ProgressStyleForStderr();

}  // namespace lumerca::tools
