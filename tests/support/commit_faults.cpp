#include "tests/support/commit_faults.h"

#include <lumerca/marker.h>

#include "platform/output_faults.h"

#include <algorithm>
#include <fstream>
#include <iterator>
#include <optional>
#include <sstream>
#include <system_error>

namespace lumerca::testing {
namespace {

namespace fs = std::filesystem;
using platform::Fault;
using platform::OutputStep;

constexpr char kOurs[] = ".lumerca-";

// Both files of a folder; a file that is not there is nullopt.
struct Pair {
  std::optional<std::string> orders, positions;
  bool operator==(const Pair&) const = default;
};

std::optional<std::string> Contents(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::nullopt;
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

struct Look {
  Pair pair;
  std::vector<std::string> ours;    // files of an import's journal
  std::vector<std::string> others;  // anything but the pair and those
};

Look LookAt(const fs::path& folder) {
  Look look;
  look.pair = {Contents(folder / "csvimprt.txt"), Contents(folder / "posimport.txt")};
  std::error_code error;
  for (const auto& entry : fs::directory_iterator(folder, error)) {
    const std::string name = entry.path().filename().string();
    if (name == "csvimprt.txt" || name == "posimport.txt") continue;
    (name.rfind(kOurs, 0) == 0 ? look.ours : look.others).push_back(name);
  }
  std::sort(look.ours.begin(), look.ours.end());
  return look;
}

std::string Join(const std::vector<std::string>& names) {
  std::string text;
  for (const std::string& name : names) text += (text.empty() ? "" : ", ") + name;
  return text;
}

// One step as the hook saw it.
struct Step {
  OutputStep step;
  std::string name;
  Fault fault;
};

std::string Name(const Step& s) { return std::string(platform::OutputStepName(s.step)) + " " + s.name; }

// What the hook does during one import.
struct Plan {
  long fail_at = -1;   // the index of a step made to fail
  long stop_at = -1;   // the index of a step at which the import stops
  bool fail_mark = false;  // the first MarkForward fails
};

class Driver {
public:
  Driver(const std::vector<fs::path>& markers, const fs::path& work, const CommitFaultOptions& options)
      : markers_(markers), folder_(work / "out"), options_(options) {
    const fs::path alone = work / "alone";
    for (const fs::path& marker : markers_) {
      fs::remove_all(alone);
      fs::create_directories(alone);
      if (ImportMarker(marker, "", alone).status != ImportStatus::Imported) {
        report_.problems.push_back(marker.string() + " does not import");
      }
      pairs_.push_back({Contents(alone / "csvimprt.txt"), Contents(alone / "posimport.txt")});
    }
    fs::remove_all(alone);
    for (std::size_t i = 0; i < pairs_.size(); ++i) {
      for (std::size_t j = 0; j < i; ++j) {
        if (pairs_[i].orders == pairs_[j].orders || pairs_[i].positions == pairs_[j].positions) {
          report_.problems.push_back("the markers' pairs do not differ in both files");
        }
      }
    }
  }

  CommitFaultReport Run() {
    if (!report_.problems.empty() || pairs_.size() != 3) return report_;
    for (const bool earlier : {true, false}) {
      const std::vector<Step> clean = Scenario(earlier, {{}}, "count").front();
      if (earlier) {
        for (const Step& s : clean) report_.steps.push_back(Name(s));
      }
      for (long k = 0; k < static_cast<long>(clean.size()); ++k) {
        const std::string at = " at step " + std::to_string(k) + " (" + Name(clean[static_cast<std::size_t>(k)]) + ")";
        // One failure; then, after it, a stop at each step that follows.
        const std::vector<Step> failing = Scenario(earlier, {{k, -1, false}}, "failure" + at).front();
        for (long s = k + 1; s < static_cast<long>(failing.size()); ++s) {
          Scenario(earlier, {{k, s, false}}, "failure" + at + " and a stop at step " + std::to_string(s) + " (" +
                                                 Name(failing[static_cast<std::size_t>(s)]) + ")");
        }
        // A stop; then the next import stopped at each of its steps.
        const std::vector<std::vector<Step>> stopped = Scenario(earlier, {{-1, k, false}, {}}, "stop" + at);
        if (!earlier) continue;
        for (long j = 0; j < static_cast<long>(stopped[1].size()); ++j) {
          // The steps of the next import's recovery: those before its own
          // mark. Each made to fail, and (when asked) each stopped.
          const Step& step = stopped[1][static_cast<std::size_t>(j)];
          if (step.step == OutputStep::MarkForward) break;
          if (step.step != OutputStep::PutInPlace && step.step != OutputStep::Restore &&
              step.step != OutputStep::RemoveFinal && step.step != OutputStep::RemoveTemporary &&
              step.step != OutputStep::RemoveLock) {
            continue;
          }
          const std::string next = " at step " + std::to_string(j) + " (" + Name(step) + ")";
          Scenario(earlier, {{-1, k, false}, {j, -1, false}}, "stop" + at + " and the next import's failure" + next);
          if (options_.stops_in_recovery) {
            Scenario(earlier, {{-1, k, false}, {-1, j, false}}, "stop" + at + " and the next import's stop" + next);
          }
        }
      }
    }
    return report_;
  }

private:
  // A folder that holds the first marker's pair, or nothing; then the
  // imports of the second and third markers, in turn, each with its plan;
  // then an import whose commit fails after it settled what it found; then
  // a clean one. Checks what each leaves. Returns the steps of each planned
  // import.
  std::vector<std::vector<Step>> Scenario(bool earlier, const std::vector<Plan>& plans, const std::string& what) {
    const std::string context = what + (earlier ? ", into a folder holding a pair" : ", into an empty folder") +
                                (options_.links_refused ? ", links refused" : "") +
                                (options_.deferred ? ", flush deferred" : "") + ": ";
    std::error_code error;
    fs::remove_all(folder_, error);
    fs::create_directories(folder_);
    Pair expected;
    if (earlier) {
      Import(0, {});
      expected = pairs_[0];
    }
    std::vector<std::vector<Step>> steps;
    for (std::size_t i = 0; i < plans.size(); ++i) {
      const Plan& plan = plans[i];
      const std::size_t marker = i % 2 == 0 ? 1 : 2;
      const Pair before = expected;
      const ImportStatus status = Import(marker, plan);
      const std::vector<Step>& done = steps_;
      steps.push_back(done);
      // Its state, from the marks that went through: a commit that reached
      // forward and not back is finished by the next import.
      bool forward = false, back = false;
      for (const Step& s : done) {
        forward |= s.step == OutputStep::MarkForward && s.fault == Fault::None;
        back |= s.step == OutputStep::MarkBack && s.fault == Fault::None;
      }
      if (status == ImportStatus::Imported || (forward && !back)) expected = pairs_[marker];
      if (plan.stop_at >= 0 || plans.size() > 1) continue;
      // A failure alone: the import says what it did, the folder holds that
      // pair, and nothing of the import is left unless removing it failed.
      const Look look = LookAt(folder_);
      if (plan.fail_at >= 0 && (status == ImportStatus::Imported) != (expected == pairs_[marker])) {
        Problem(context + "the import says " + StatusText(status) + " of its pair");
      }
      if (look.pair != expected) {
        Problem(context + "the folder holds " + Describe(look.pair, before, marker) + ", not " +
                Describe(expected, before, marker));
      }
      const bool removal_failed =
          plan.fail_at >= 0 && plan.fail_at < static_cast<long>(done.size()) &&
          (done[static_cast<std::size_t>(plan.fail_at)].step == OutputStep::RemoveTemporary ||
           done[static_cast<std::size_t>(plan.fail_at)].step == OutputStep::RemoveLock);
      if (!look.ours.empty() && !removal_failed) Problem(context + "it leaves " + Join(look.ours));
      if (!look.others.empty()) Problem(context + "it leaves " + Join(look.others));
    }
    // The next import settles what the others left, then fails its own
    // commit: the folder shows what they left, settled.
    const ImportStatus status = Import(2, {-1, -1, true});
    if (status == ImportStatus::Imported) Problem(context + "an import whose commit fails says it imported");
    Look look = LookAt(folder_);
    if (look.pair != expected) {
      Problem(context + "the next import leaves " + Describe(look.pair, expected, 1) + ", not " +
              Describe(expected, expected, 1));
    }
    if (!look.ours.empty()) Problem(context + "the next import leaves " + Join(look.ours));
    if (!look.others.empty()) Problem(context + "the next import leaves " + Join(look.others));
    // And one more puts its own pair in place.
    if (Import(2, {}) != ImportStatus::Imported) Problem(context + "a clean import afterwards fails");
    look = LookAt(folder_);
    if (look.pair != pairs_[2] || !look.ours.empty() || !look.others.empty()) {
      Problem(context + "a clean import afterwards leaves " + Describe(look.pair, expected, 2) + " and " +
              Join(look.ours) + Join(look.others));
    }
    return steps;
  }

  ImportStatus Import(std::size_t marker, const Plan& plan) {
    steps_.clear();
    bool marked = false;
    platform::SetOutputFaultHook([&](OutputStep step, const std::string& name) {
      const long index = static_cast<long>(steps_.size());
      Fault fault = Fault::None;
      if (index == plan.stop_at) {
        fault = Fault::Stop;
      } else if (index == plan.fail_at || (options_.links_refused && step == OutputStep::Link) ||
                 (plan.fail_mark && !marked && step == OutputStep::MarkForward)) {
        fault = Fault::Fail;
      }
      marked |= step == OutputStep::MarkForward;
      steps_.push_back({step, name, fault});
      return fault;
    });
    ImportOptions import;
    if (options_.deferred) import.deferred = &deferred_;
    const ImportStatus status = ImportMarker(markers_[marker], "", folder_, import).status;
    platform::SetOutputFaultHook({});
    ++report_.imports;
    std::string why;
    if (!deferred_.Flush(why)) Problem("the deferred flush fails: " + why);
    return status;
  }

  // "the pair of marker 2", "the earlier pair", "no pair", "a mixed pair".
  std::string Describe(const Pair& pair, const Pair& earlier, std::size_t marker) const {
    if (!pair.orders && !pair.positions) return "no pair";
    for (std::size_t i = 0; i < pairs_.size(); ++i) {
      if (pair == pairs_[i]) {
        return "the pair of marker " + std::to_string(i + 1) +
               (pair == earlier && i != marker ? " (the earlier pair)" : "");
      }
    }
    return "a mixed or partial pair";
  }

  void Problem(const std::string& text) {
    if (report_.problems.size() < 50) report_.problems.push_back(text);
  }

  std::vector<fs::path> markers_;
  fs::path folder_;
  CommitFaultOptions options_;
  std::vector<Pair> pairs_;
  std::vector<Step> steps_;  // of the last import
  CommitFaultReport report_;
  DeferredFlush deferred_;
};

}  // namespace

CommitFaultReport RunCommitFaults(const std::vector<fs::path>& markers, const fs::path& work,
                                  const CommitFaultOptions& options) {
  return Driver(markers, work, options).Run();
}

}  // namespace lumerca::testing
