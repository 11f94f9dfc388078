#include "tools/progress.h"

#include "tools/escape.h"
#include "tools/system.h"

#include <cstdio>

namespace lumerca::tools {
namespace {

using Clock = std::chrono::steady_clock;

void Write(const std::string& text) {
  std::fwrite(text.data(), 1, text.size(), stderr);
  std::fflush(stderr);
}

// "1:05" or "2:03:45".
std::string Duration(double seconds) {
  const auto s = static_cast<unsigned long long>(seconds + 0.5);
  char text[32];
  if (s >= 3600) {
    std::snprintf(text, sizeof text, "%llu:%02llu:%02llu", s / 3600, s / 60 % 60, s % 60);
  } else {
    std::snprintf(text, sizeof text, "%llu:%02llu", s / 60, s % 60);
  }
  return text;
}

}  // namespace

Progress::Style ProgressStyleForStderr() {
  return ErrorIsTerminal() ? Progress::Style::Live : Progress::Style::Lines;
}

Progress::Progress(Style style, std::size_t total)
    : style_(style), total_(total), start_(Clock::now()), drawn_() {}

void Progress::Turn(std::size_t index, const std::filesystem::path& file) {
  if (style_ != Style::Lines) return;
  std::string line = "[";
  line += std::to_string(index + 1);
  line += "/";
  line += std::to_string(total_);
  line += "] ";
  line += Printable(file.string());
  line += "\n";
  Write(line);
}

void Progress::Say(const std::string& line) {
  if (style_ == Style::Live && shown_) {
    Write("\r\x1b[K" + Printable(line) + "\n");
    Draw();
  } else {
    Write(Printable(line) + "\n");
  }
}

void Progress::Show(const Tally& tally, bool now) {
  if (style_ != Style::Live) return;
  tally_ = tally;
  const auto time = Clock::now();
  if (!now && shown_ && time - drawn_ < std::chrono::milliseconds(100)) return;
  drawn_ = time;
  Draw();
}

void Progress::Finish() {
  if (style_ == Style::Live && shown_) Write("\r\x1b[K");
  shown_ = false;
}

std::string Progress::LiveLine() const {
  const Tally& tally = tally_;
  const double seconds = std::chrono::duration<double>(Clock::now() - start_).count();
  const std::size_t done = tally.Done();
  char rate[64] = "";
  if (done > 0 && seconds > 0) {
    const double per_second = static_cast<double>(done) / seconds;
    std::snprintf(rate, sizeof rate, ", %.*f files/s, %s left", per_second < 10 ? 1 : 0, per_second,
                  Duration(static_cast<double>(total_ - done) / per_second).c_str());
  }
  return std::to_string(done) + "/" + std::to_string(total_) + ": " + std::to_string(tally.imported) +
         " imported, " + std::to_string(tally.without_pieces) + " without pieces, " +
         std::to_string(tally.failed) + " failed" + rate;
}

void Progress::Draw() {
  std::string text = LiveLine();
  if (text.size() > TerminalColumns()) text.resize(TerminalColumns());
  Write("\r" + text + "\x1b[K");
  shown_ = true;
}

}  // namespace lumerca::tools
