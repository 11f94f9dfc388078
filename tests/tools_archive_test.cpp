// lumerca-import converting an archive: folders of markers mirrored into the
// output folder, the same results for any number of conversions at a time,
// the CSV report, the progress on a terminal, and a stop by Ctrl-C that
// leaves no half-written pair.

#include "tests/support/tool_fixture.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <filesystem>
#include <map>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <spawn.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace lumerca::testing {
namespace {

namespace fs = std::filesystem;

using Rows = std::vector<std::vector<std::string>>;

// RFC 4180: fields bare or in quotes (a quote inside doubled), separated by
// commas, rows ended by CR LF. Malformed text fails the test.
Rows ParseCsv(const std::string& text) {
  Rows rows;
  std::vector<std::string> row;
  std::size_t i = 0;
  while (i < text.size()) {
    std::string field;
    if (text[i] == '"') {
      for (++i;; ++i) {
        if (i >= text.size()) {
          ADD_FAILURE() << "a quote is not closed";
          return rows;
        }
        if (text[i] == '"' && (i + 1 >= text.size() || text[i + 1] != '"')) break;
        if (text[i] == '"') ++i;
        field += text[i];
      }
      ++i;
    } else {
      while (i < text.size() && text[i] != ',' && text[i] != '\r' && text[i] != '"') field += text[i++];
    }
    row.push_back(std::move(field));
    if (i < text.size() && text[i] == ',') {
      ++i;
      continue;
    }
    if (text.compare(i, 2, "\r\n") != 0) {
      ADD_FAILURE() << "no CR LF after a field at byte " << i;
      return rows;
    }
    i += 2;
    rows.push_back(std::move(row));
    row.clear();
  }
  return rows;
}

// Every file below `root` with its bytes, and every folder (as "<path>/").
std::map<std::string, std::string> Tree(const fs::path& root) {
  std::map<std::string, std::string> tree;
  for (const auto& entry : fs::recursive_directory_iterator(root)) {
    const std::string relative = fs::relative(entry.path(), root).string();
    if (entry.is_directory()) tree[relative + "/"] = "";
    else tree[relative] = ReadFile(entry.path());
  }
  return tree;
}

class ArchiveTest : public ToolFixture {
protected:

  fs::path Put(const fs::path& relative, const ByteVector& bytes) {
    const fs::path path = dir() / "archive" / relative;
    fs::create_directories(path.parent_path());
    WriteBytes(path, bytes);
    return path;
  }

  // Starts the tool with `args`; its standard output and error go to files
  // of the test folder, or standard error to `stderr_fd`.
  pid_t Start(const std::vector<std::string>& args, int stderr_fd = -1) {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, (dir() / "stdout.txt").c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (stderr_fd >= 0) {
      posix_spawn_file_actions_adddup2(&actions, stderr_fd, 2);
    } else {
      posix_spawn_file_actions_addopen(&actions, 2, (dir() / "stderr.txt").c_str(),
                                       O_WRONLY | O_CREAT | O_TRUNC, 0644);
    }
    std::vector<char*> argv = {const_cast<char*>(kTool)};
    for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    pid_t pid = -1;
    EXPECT_EQ(posix_spawn(&pid, kTool, &actions, nullptr, argv.data(), environ), 0);
    posix_spawn_file_actions_destroy(&actions);
    return pid;
  }

  // The exit status; 128 + the signal's number for a tool killed by one.
  static int Wait(pid_t pid) {
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  }

  int Run(const std::vector<std::string>& args) {
    const int status = Wait(Start(args));
    out_ = ReadFile(dir() / "stdout.txt");
    err_ = ReadFile(dir() / "stderr.txt");
    return status;
  }

  std::string out_, err_;
};

// The report's rows by path, without the header.
std::map<std::string, std::vector<std::string>> ByPath(const Rows& rows) {
  std::map<std::string, std::vector<std::string>> by_path;
  for (std::size_t i = 1; i < rows.size(); ++i) by_path[rows[i].at(0)] = rows[i];
  return by_path;
}

TEST_F(ArchiveTest, AnyNumberOfJobsGivesTheSameTreeReportAndStatus) {
  MarkerSpec empty = BlouseMarker();
  empty.pieces.clear();
  empty.cuts.clear();
  MarkerSpec corrupt = BlouseMarker();
  corrupt.pieces[1].croix_index = 50;
  ByteVector truncated = MarkerFile(JacketMarker());
  truncated.resize(700);
  MarkerSpec named = BlouseMarker();
  named.header.name = "\x80 B\x99";  // the euro sign, a space, B, the trade mark sign
  const std::string text = "not a marker";

  const std::string odd = "odd, \"quoted\"\nname.mrk";
  std::map<std::string, std::string> expected = {
      {"line1/week2/blouse.mrk", "imported"},   {"line1/week2/jacket.mrk", "imported"},
      {"line2/blouse.mrk", "imported"},         {"line2/blouse.txt", "cannot open"},
      {"empty.mrk", "no pieces"},               {"corrupt.mrk", "corrupt index"},
      {"truncated.mrk", "cannot open"},         {"notes.txt", "cannot open"},
      {odd, "imported"}};
  Put("line1/week2/blouse.mrk", MarkerFile(BlouseMarker()));
  Put("line1/week2/jacket.mrk", MarkerFile(JacketMarker()));
  Put("line2/blouse.mrk", MarkerFile(BigBlouse()));
  Put("line2/blouse.txt", ByteVector(text.begin(), text.end()));
  Put("empty.mrk", MarkerFile(empty));
  Put("corrupt.mrk", MarkerFile(corrupt));
  Put("truncated.mrk", truncated);
  Put("notes.txt", ByteVector(text.begin(), text.end()));
  Put(odd, MarkerFile(named));
  // Files of different lengths, so that with several at a time they finish
  // out of order.
  for (int i = 0; i < 24; ++i) {
    const std::string name = "many/m" + std::to_string(10 + i) + ".mrk";
    const int kind = i % 3;
    Put(name, kind == 0 ? MarkerFile(BigBlouse()) : kind == 1 ? ByteVector(text.begin(), text.end())
                                                              : MarkerFile(empty));
    expected[name] = kind == 0 ? "imported" : kind == 1 ? "cannot open" : "no pieces";
  }
  const std::string archive = (dir() / "archive").string();

  std::vector<std::map<std::string, std::string>> trees;
  std::vector<Rows> reports;
  std::vector<std::string> errs;
  for (const char* jobs : {"1", "4"}) {
    SCOPED_TRACE(std::string("-j ") + jobs);
    const fs::path out = dir() / ("out" + std::string(jobs)) / "made";  // made with its parent
    const fs::path report = dir() / ("report" + std::string(jobs) + ".csv");
    EXPECT_EQ(Run({"-j", jobs, "-o", out.string(), "--report", report.string(), archive}), 1) << err_;
    trees.push_back(Tree(out));
    Rows rows = ParseCsv(ReadFile(report));
    ASSERT_EQ(rows.size(), expected.size() + 1);
    for (auto& row : rows) {
      ASSERT_EQ(row.size(), 9u);
      row.back() = row.back() == "milliseconds" ? row.back() : "";  // the time differs
    }
    reports.push_back(rows);
    errs.push_back(err_);
  }
  EXPECT_EQ(trees[0], trees[1]);
  EXPECT_EQ(reports[0], reports[1]);
  EXPECT_EQ(errs[0], errs[1]);  // the same lines in the same order

  // The mirrored tree: a folder per imported file, nothing for the others.
  std::vector<std::string> folders;
  for (const auto& [path, bytes] : trees[0]) {
    if (path.ends_with("/")) folders.push_back(path);
  }
  EXPECT_EQ(folders, (std::vector<std::string>{"line1/", "line1/week2/", "line1/week2/blouse/",
                                               "line1/week2/jacket/", "line2/", "line2/blouse/",
                                               "many/", "many/m10/", "many/m13/", "many/m16/",
                                               "many/m19/", "many/m22/", "many/m25/", "many/m28/",
                                               "many/m31/", odd.substr(0, odd.size() - 4) + "/"}));
  EXPECT_NE(trees[0]["line2/blouse/csvimprt.txt"], trees[0]["line1/week2/blouse/csvimprt.txt"]);

  const Rows& rows = reports[0];
  EXPECT_EQ(rows[0], (std::vector<std::string>{"path", "status", "name", "sizes", "pieces written",
                                               "cut lines written", "warnings", "reason",
                                               "milliseconds"}));
  // In the order of the paths.
  for (std::size_t i = 2; i < rows.size(); ++i) EXPECT_LT(fs::path(rows[i - 1][0]), fs::path(rows[i][0]));
  const auto by_path = ByPath(rows);
  for (const auto& [relative, status] : expected) {
    const auto row = by_path.find((fs::path(archive) / relative).string());
    ASSERT_NE(row, by_path.end()) << relative;
    EXPECT_EQ(row->second[1], status) << relative;
    EXPECT_EQ(row->second[7].empty(), status == "imported") << relative << ": the reason";
  }
  const auto& blouse = by_path.at(archive + "/line1/week2/blouse.mrk");
  EXPECT_EQ(std::vector<std::string>(blouse.begin() + 2, blouse.begin() + 8),
            (std::vector<std::string>{"B------2", "4", "6", "1", "0", ""}));
  EXPECT_EQ(by_path.at(archive + "/" + odd)[2], "\xE2\x82\xAC B\xE2\x84\xA2");  // UTF-8
  EXPECT_EQ(by_path.at(archive + "/corrupt.mrk")[7].rfind("a cross-reference", 0), 0u);
  EXPECT_EQ(by_path.at(archive + "/empty.mrk")[3], "");  // nothing was written
}

// Folders are walked without following links out of them, into other
// folders or to what is not a regular file; the output folder inside the
// archive is passed over.
TEST_F(ArchiveTest, LinksPipesAndTheOutputFolderInsideTheArchive) {
  const fs::path marker = Put("a/blouse.mrk", MarkerFile(BlouseMarker()));
  const fs::path outside = dir() / "outside.mrk";
  WriteBytes(outside, MarkerFile(JacketMarker()));
  const fs::path archive = dir() / "archive";
  fs::create_symlink("../a/blouse.mrk", archive / "a" / "inside.mrk");
  fs::create_symlink(outside, archive / "a" / "outside.mrk");
  fs::create_symlink(archive / "a", archive / "folder-link");
  ASSERT_EQ(mkfifo((archive / "pipe.mrk").c_str(), 0600), 0);
  const fs::path out = archive / "out";

  for (int run = 0; run < 2; ++run) {  // the second run finds the first's output
    SCOPED_TRACE(run);
    EXPECT_EQ(Run({"-o", out.string(), "--report", (archive / "report.csv").string(), archive.string()}), 0)
        << err_;
    const auto rows = ByPath(ParseCsv(ReadFile(archive / "report.csv")));
    EXPECT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows.count((archive / "a" / "blouse.mrk").string()), 1u);
    EXPECT_EQ(rows.count((archive / "a" / "inside.mrk").string()), 1u);
    EXPECT_EQ(ReadFile(out / "a" / "inside" / "csvimprt.txt"), ReadFile(out / "a" / "blouse" / "csvimprt.txt"));
    EXPECT_NE(err_.find("a/outside.mrk: link not followed: it leads out of the folder"), std::string::npos);
    EXPECT_NE(err_.find("folder-link: link not followed: it does not lead to a file"), std::string::npos);
    EXPECT_EQ(fs::exists(out / "outside"), false);
  }
  EXPECT_NE(err_.find("/out: the output folder, not converted"), std::string::npos) << err_;
  EXPECT_EQ(ReadFile(marker).size(), MarkerFile(BlouseMarker()).size());
}

// Files given one by one keep their folders <name>/ and <name>-2/; a name
// that leaves no folder name is used whole, and no folder takes the name of
// an output file. One file alone goes into the output folder itself, which
// is made when missing.
TEST_F(ArchiveTest, FilesGivenOneByOne) {
  const auto blouse = Put("..mrk", MarkerFile(BlouseMarker()));
  const auto jacket = Put("csvimprt.txt.mrk", MarkerFile(JacketMarker()));
  const auto again = Put("x/..mrk", MarkerFile(JacketMarker()));
  EXPECT_EQ(Run({"-o", out().string(), blouse.string(), jacket.string(), again.string()}), 0) << err_;
  EXPECT_TRUE(fs::exists(out() / "..mrk" / "csvimprt.txt"));
  EXPECT_TRUE(fs::exists(out() / "..mrk-2" / "posimport.txt"));
  EXPECT_TRUE(fs::exists(out() / "csvimprt.txt-2" / "posimport.txt"));
  EXPECT_FALSE(fs::exists(out() / "csvimprt.txt"));
  EXPECT_FALSE(fs::exists(dir() / "csvimprt.txt"));

  const fs::path alone = dir() / "new" / "deeper";
  EXPECT_EQ(Run({"-o", alone.string(), blouse.string()}), 0) << err_;
  EXPECT_EQ(out_, "imported " + blouse.string() + " as B------2 into " + (alone / "csvimprt.txt").string() +
                      " and " + (alone / "posimport.txt").string() + "\n");
  EXPECT_EQ(err_, "");
}

TEST_F(ArchiveTest, UsageErrors) {
  const auto blouse = Put("blouse.mrk", MarkerFile(BlouseMarker()));
  WriteBytes(dir() / "plain", {'x'});
  const struct {
    const char* what;
    std::vector<std::string> args;
  } cases[] = {
      {"no jobs", {"-j", "0", "-o", out().string(), blouse.string()}},
      {"the output folder is a file", {"-o", (dir() / "plain").string(), blouse.string()}},
      {"the report cannot be made",
       {"-o", out().string(), "--report", (dir() / "plain" / "r.csv").string(), blouse.string()}},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(Run(c.args), 2) << c.what << "\n" << err_;
    EXPECT_EQ(FilesInOutput(), 0u) << c.what;
  }
  EXPECT_EQ(ReadFile(dir() / "plain"), "x");
}

// -q: only the files not imported and the summary. On a terminal: one line
// rewritten in place, and no line per file.
TEST_F(ArchiveTest, QuietAndTerminalProgress) {
  Put("a.mrk", MarkerFile(BlouseMarker()));
  Put("b.txt", {'n', 'o'});
  Put("c.mrk", MarkerFile(JacketMarker()));
  const std::string archive = (dir() / "archive").string();
  EXPECT_EQ(Run({"-q", "-o", out().string(), archive}), 1);
  EXPECT_EQ(err_, "lumerca-import: " + archive +
                      "/b.txt: cannot be opened as a marker file (not a compound file: it holds "
                      "text: \"no\")\n"
                  "lumerca-import: 2 imported, 0 without pieces, 1 failed; 1 cannot be opened as a "
                  "marker file\n");

  const int terminal = posix_openpt(O_RDWR | O_NOCTTY);
  ASSERT_GE(terminal, 0);
  ASSERT_EQ(grantpt(terminal), 0);
  ASSERT_EQ(unlockpt(terminal), 0);
  const int side = open(ptsname(terminal), O_RDWR | O_NOCTTY);
  ASSERT_GE(side, 0);
  const pid_t pid = Start({"-o", out().string(), archive}, side);
  close(side);
  EXPECT_EQ(Wait(pid), 1);
  std::string shown;
  char buffer[4096];
  for (ssize_t n; (n = read(terminal, buffer, sizeof buffer)) > 0;) shown.append(buffer, static_cast<std::size_t>(n));
  close(terminal);
  EXPECT_TRUE(std::regex_search(shown, std::regex("\r[0-3]/3: [0-2] imported, 0 without "
                                                  "pieces, [01] failed.*\x1b\\[K")))
      << shown;
  EXPECT_NE(shown.find("lumerca-import: " + archive + "/b.txt: cannot be opened"), std::string::npos)
      << shown;
  EXPECT_EQ(shown.find("[1/3]"), std::string::npos) << shown;
  EXPECT_NE(shown.find("lumerca-import: 2 imported"), std::string::npos) << shown;
}

// Whether process `pid` waits for a lock of `folder` (a line "->" of
// /proc/locks: a FLOCK request blocked, by that process, on that inode).
bool WaitsForLock(pid_t pid, const fs::path& folder) {
  struct stat info {};
  if (stat(folder.c_str(), &info) != 0) return false;
  std::istringstream locks(ReadFile("/proc/locks"));
  for (std::string line; std::getline(locks, line);) {
    std::istringstream fields(line);
    std::string number, arrow, kind, mode, access, owner, file;
    fields >> number >> arrow >> kind >> mode >> access >> owner >> file;
    if (arrow != "->" || kind != "FLOCK") continue;
    const std::string inode = file.substr(file.rfind(':') + 1);
    if (owner == std::to_string(pid) && inode == std::to_string(info.st_ino)) return true;
  }
  return false;
}

// A stop signal in the middle of a long run: the conversions running finish,
// none starts after; every folder holds a complete pair or is not there, no
// temporary file is left, and the report has a row for each file finished.
//
// The run is held in its middle whatever the machine's speed: the test holds
// shared locks on the output folders of m010 and m011 (made beforehand), and
// an import takes an exclusive lock of its folder to put its pair in place.
// The tool takes the files in order, two at a time, so while the locks are
// held it starts no file after m011. The signal comes once the tool waits for
// either lock (so m000 to m010 have started); then the locks go, and m000 to
// m010, and m011 if it had started, finish.
TEST_F(ArchiveTest, AStopSignalLeavesNoHalfWrittenPair) {
  const ByteVector jacket = MarkerFile(JacketMarker());
  const std::size_t files = 600;
  for (std::size_t i = 0; i < files; ++i) {
    char name[32];
    std::snprintf(name, sizeof name, "m%03zu.mrk", i);
    Put(name, jacket);
  }
  const fs::path reference = dir() / "reference";
  fs::create_directories(reference);
  ASSERT_EQ(ImportMarker(dir() / "archive" / "m000.mrk", "", reference).status, ImportStatus::Imported);
  const std::string orders = ReadFile(reference / "csvimprt.txt");
  const std::string positions = ReadFile(reference / "posimport.txt");
  const std::vector<std::string> held_names = {"m010", "m011"};

  for (const int signal_number : {SIGINT, SIGTERM}) {
    SCOPED_TRACE(signal_number);
    fs::remove_all(out());
    std::vector<int> held;
    for (const std::string& name : held_names) {
      fs::create_directories(out() / name);
      held.push_back(open((out() / name).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
      ASSERT_GE(held.back(), 0);
      ASSERT_EQ(flock(held.back(), LOCK_SH), 0);
    }
    const fs::path report = dir() / "report.csv";
    fs::remove(report);
    const pid_t pid = Start({"-j", "2", "-o", out().string(), "--report", report.string(),
                             (dir() / "archive").string()});
    // No time limit (CTest's catches a hang), but a tool that ended is not
    // waited for.
    bool ended = false;
    while (!WaitsForLock(pid, out() / "m010") && !WaitsForLock(pid, out() / "m011") && !ended) {
      siginfo_t info{};
      ended = waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOHANG | WNOWAIT) == 0 &&
              info.si_pid == pid;
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    const bool m011_started = WaitsForLock(pid, out() / "m011");
    kill(pid, signal_number);
    for (const int fd : held) close(fd);
    ASSERT_FALSE(ended) << "the tool ended before the signal\n" << ReadFile(dir() / "stderr.txt");
    ASSERT_EQ(Wait(pid), 128 + signal_number) << ReadFile(dir() / "stderr.txt");

    const Rows rows = ParseCsv(ReadFile(report));
    ASSERT_GE(rows.size(), 1u + (m011_started ? 12u : 11u)) << "a conversion that ran did not finish";
    ASSERT_LE(rows.size(), 1u + 12u) << "a conversion started after the signal";
    // A held folder whose file was not converted is the test's, not the tool's.
    for (const std::string& name : held_names) {
      std::error_code ignored;
      if (fs::is_empty(out() / name)) fs::remove(out() / name, ignored);
    }
    std::size_t folders = 0;
    for (const auto& entry : fs::directory_iterator(out())) {
      ++folders;
      EXPECT_EQ(ReadFile(entry.path() / "csvimprt.txt"), orders) << entry.path();
      EXPECT_EQ(ReadFile(entry.path() / "posimport.txt"), positions) << entry.path();
      EXPECT_EQ(std::distance(fs::directory_iterator(entry.path()), fs::directory_iterator()), 2)
          << entry.path() << " holds a temporary file";
    }
    // The rows are the files finished, in order, and each has its folder.
    EXPECT_EQ(folders, rows.size() - 1);
    for (std::size_t i = 1; i < rows.size(); ++i) {
      char name[32];
      std::snprintf(name, sizeof name, "m%03zu", i - 1);
      EXPECT_EQ(rows[i][0], (dir() / "archive" / (std::string(name) + ".mrk")).string());
      EXPECT_EQ(rows[i][1], "imported");
      EXPECT_TRUE(fs::exists(out() / name)) << name;
    }
    EXPECT_NE(ReadFile(dir() / "stderr.txt")
                  .find("stopped by a signal: " + std::to_string(files + 1 - rows.size()) + " of 600"),
              std::string::npos);
  }
}

}  // namespace
}  // namespace lumerca::testing
