// lumerca-fault-checks CHECK WORK
//
// What the output folder promises under faults, on Windows, in the folder
// WORK (made when missing):
//
//   commit  every step of an import made to fail, and stopped as a kill
//           stops it: after each the folder holds the earlier pair or the
//           new one, and the next import leaves nothing of the others behind
//           (tests/support/commit_faults.h)
//   dead    a process that ends between putting its two files in place: the
//           next import puts the second in place and removes the rest
//   input   a named pipe (with a server waiting), a device and a folder given
//           as the marker file are refused at once, without reading them
//
// Prints one line per check; exit status 0 when all pass.

#include <lumerca/marker.h>

#include "platform/output_faults.h"
#include "tests/support/commit_faults.h"
#include "tests/support/sample_markers.h"

#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;
using lumerca::platform::Fault;
using lumerca::platform::OutputStep;

int g_failures = 0;

void Report(const char* check, bool ok, const std::string& detail = {}) {
  std::printf("%s: %s%s%s\n", check, ok ? "ok" : "FAIL", detail.empty() ? "" : "\n", detail.c_str());
  std::fflush(stdout);
  if (!ok) ++g_failures;
}

std::string Read(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// Three markers whose pairs differ in both files.
std::vector<fs::path> WriteMarkers(const fs::path& folder) {
  std::vector<fs::path> markers;
  for (int i = 0; i < 3; ++i) {
    lumerca::testing::MarkerRecipe recipe = lumerca::testing::JacketMarker();
    recipe.header.name = "MARKER ";
    recipe.header.name += std::to_string(i + 1);
    for (auto& piece : recipe.pieces) piece.place_x += static_cast<float>(1000 * i);
    const auto bytes = lumerca::testing::MarkerFile(recipe);
    std::string name = "m";
    name += std::to_string(i + 1);
    markers.push_back(folder / (name + ".mrk"));
    std::ofstream out(markers.back(), std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  }
  return markers;
}

void CheckCommit(const fs::path& work) {
  const std::vector<fs::path> markers = WriteMarkers(work);
  // Windows moves the earlier file aside (no hard links): one run, and one
  // with the flushes deferred (FlushFileBuffers of each file afterwards).
  for (const bool deferred : {false, true}) {
    lumerca::testing::CommitFaultOptions options;
    options.stops_in_recovery = false;  // the native test covers them; Wine is slow
    options.deferred = deferred;
    const auto report = lumerca::testing::RunCommitFaults(markers, work / "faults", options);
    std::string detail;
    for (const auto& p : report.problems) {
      detail += "  ";
      detail += p;
      detail += "\n";
    }
    detail += "  (" + std::to_string(report.imports) + " imports, " + std::to_string(report.steps.size()) +
              " steps:";
    for (const auto& s : report.steps) {
      detail += ' ';
      detail.append(s, 0, s.find(" .lumerca-"));
      detail += ';';
    }
    detail += ")";
    Report(deferred ? "commit, flush deferred" : "commit", report.problems.empty() && report.imports > 100 &&
                         std::any_of(report.steps.begin(), report.steps.end(),
                                     [](const std::string& s) { return s.rfind("move the earlier file aside", 0) == 0; }),
           detail);
  }
}

// The child of CheckDead: stops before the second file's earlier file is
// moved aside, that is after the first new file is in place, and ends.
int Die(const fs::path& out, const fs::path& marker) {
  lumerca::platform::SetOutputFaultHook([](OutputStep step, const std::string& name) {
    return (step == OutputStep::Link || step == OutputStep::MoveAside) && name == "posimport.txt" ? Fault::Stop
                                                                                                   : Fault::None;
  });
  lumerca::ImportMarker(marker, "", out);
  ExitProcess(0);  // as a kill: nothing cleaned up
}

std::size_t Ours(const fs::path& folder) {
  std::size_t count = 0;
  for (const auto& entry : fs::directory_iterator(folder)) {
    count += entry.path().filename().string().rfind(".lumerca-", 0) == 0;
  }
  return count;
}

void CheckDead(const fs::path& work, const std::string& self) {
  const std::vector<fs::path> markers = WriteMarkers(work);
  const fs::path out = work / "dead", alone = work / "alone";
  fs::remove_all(out);
  fs::remove_all(alone);
  fs::create_directories(out);
  fs::create_directories(alone);
  lumerca::ImportMarker(markers[1], "", alone);
  lumerca::ImportMarker(markers[0], "", out);
  const std::string earlier_positions = Read(out / "posimport.txt");

  std::string command = "\"";
  command += self;
  command += "\" die \"" + out.string() + "\" \"" + markers[1].string() + "\"";
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  if (!CreateProcessA(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process)) {
    Report("dead", false, "cannot start " + command);
    return;
  }
  WaitForSingleObject(process.hProcess, INFINITE);
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  const bool mixed = Read(out / "csvimprt.txt") == Read(alone / "csvimprt.txt") &&
                     Read(out / "posimport.txt") == earlier_positions && Ours(out) == 3;

  bool failed = false;
  lumerca::platform::SetOutputFaultHook([&](OutputStep step, const std::string&) {
    if (step != OutputStep::MarkForward || failed) return Fault::None;
    failed = true;
    return Fault::Fail;
  });
  const auto status = lumerca::ImportMarker(markers[2], "", out).status;
  lumerca::platform::SetOutputFaultHook({});
  const bool settled = Read(out / "csvimprt.txt") == Read(alone / "csvimprt.txt") &&
                       Read(out / "posimport.txt") == Read(alone / "posimport.txt") && Ours(out) == 0;
  Report("dead", mixed && settled && status == lumerca::ImportStatus::OutputFailed,
         std::string("  the ended process left ") + (mixed ? "the new csvimprt.txt and the earlier posimport.txt"
                                                          : "something else") +
             "; the next import " + (settled ? "settled it" : "did not settle it"));
}

struct Call {
  fs::path path, out;
  lumerca::ImportResult result;
};

DWORD WINAPI ImportOnThread(void* argument) {
  auto* c = static_cast<Call*>(argument);
  c->result = lumerca::ImportMarker(c->path, "", c->out);
  return 0;
}

// Imports `path` on a thread of its own; false when it does not end in two
// minutes (a margin that only catches a hang).
bool ImportWithin(const fs::path& path, const fs::path& out, lumerca::ImportResult& result) {
  static Call call;  // outlives a thread left hanging
  call = {path, out, {}};
  const HANDLE thread = CreateThread(nullptr, 0, ImportOnThread, &call, 0, nullptr);
  if (thread == nullptr) return false;
  const bool ended = WaitForSingleObject(thread, 120000) == WAIT_OBJECT_0;
  if (!ended) return false;  // the thread is left hanging; the process ends with the check
  CloseHandle(thread);
  result = call.result;
  return true;
}

std::string Reason(const lumerca::ImportResult& result) {
  for (const auto& d : result.diagnostics) {
    if (d.kind == lumerca::Diagnostic::Kind::ImportFailed) return d.message;
  }
  return "";
}

void CheckInput(const fs::path& work) {
  const fs::path out = work / "out";
  fs::create_directories(out);
  const std::wstring pipe_name = L"\\\\.\\pipe\\lumerca-fault-checks-" + std::to_wstring(GetCurrentProcessId());
  const HANDLE server = CreateNamedPipeW(pipe_name.c_str(), PIPE_ACCESS_OUTBOUND, PIPE_TYPE_BYTE | PIPE_WAIT, 1,
                                         4096, 4096, 0, nullptr);
  if (server == INVALID_HANDLE_VALUE) {
    Report("input", false, "cannot create a named pipe");
    return;
  }
  const struct {
    const char* what;
    fs::path path;
    const char* why;
  } cases[] = {
      {"a named pipe", fs::path(pipe_name), "it is a named pipe, not a file"},
      {"a device", fs::path(L"NUL"), "it is a device, not a file"},
      {"a folder", work, "it is a folder, not a file"},
  };
  for (const auto& c : cases) {
    lumerca::ImportResult result;
    const bool ended = ImportWithin(c.path, out, result);
    const bool ok = ended && result.status == lumerca::ImportStatus::CannotOpen && Reason(result) == c.why;
    Report((std::string("input: ") + c.what).c_str(), ok,
           ended ? "  " + std::string(lumerca::StatusText(result.status)) + ": " + Reason(result) : "  it hung");
    if (!ended) ExitProcess(1);
  }
  CloseHandle(server);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 4 && std::strcmp(argv[1], "die") == 0) return Die(argv[2], argv[3]);
  if (argc != 3) {
    std::fputs("usage: lumerca-fault-checks commit|dead|input WORK\n", stderr);
    return 2;
  }
  const fs::path work = argv[2];
  fs::create_directories(work);
  if (std::strcmp(argv[1], "commit") == 0) {
    CheckCommit(work);
  } else if (std::strcmp(argv[1], "input") == 0) {
    CheckInput(work);
  } else if (std::strcmp(argv[1], "dead") == 0) {
    char self[MAX_PATH];
    const DWORD units = GetModuleFileNameA(nullptr, self, MAX_PATH);
    if (units == 0 || units == MAX_PATH) return 2;
    CheckDead(work, self);
  } else {
    std::fprintf(stderr, "unknown check %s\n", argv[1]);
    return 2;
  }
  return g_failures == 0 ? 0 : 1;
}
