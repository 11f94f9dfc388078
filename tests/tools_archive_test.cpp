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

#include <dirent.h>
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

  // The exit status; 256 + the signal's number for a tool killed by one
  // (what no exit status can be).
  static int Wait(pid_t pid) {
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : 256 + WTERMSIG(status);
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
  MarkerRecipe empty = BlouseMarker();
  empty.pieces.clear();
  empty.cuts.clear();
  MarkerRecipe corrupt = BlouseMarker();
  corrupt.pieces[1].croix_index = 50;
  ByteVector truncated = MarkerFile(JacketMarker());
  truncated.resize(700);
  MarkerRecipe named = BlouseMarker();
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

std::string LastLine(std::string text) {
  while (!text.empty() && text.back() == '\n') text.pop_back();
  const std::size_t end = text.rfind('\n');
  return end == std::string::npos ? text : text.substr(end + 1);
}

// Makes `levels` nested folders of `name` below `root` (with descriptors, so
// that paths longer than the system allows can be made), with `file` holding
// `bytes` in the folders of the levels listed.
void MakeDeepTree(const fs::path& root, const std::string& name, int levels, const std::vector<int>& with_file,
                  const std::string& file, const ByteVector& bytes) {
  int fd = ::open(root.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  ASSERT_GE(fd, 0);
  for (int level = 1; level <= levels; ++level) {
    ASSERT_EQ(::mkdirat(fd, name.c_str(), 0755), 0);
    const int next = ::openat(fd, name.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    ::close(fd);
    ASSERT_GE(next, 0);
    fd = next;
    if (std::find(with_file.begin(), with_file.end(), level) == with_file.end()) continue;
    const int out = ::openat(fd, file.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    ASSERT_GE(out, 0);
    ASSERT_EQ(::write(out, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
    ::close(out);
  }
  ::close(fd);
}

// Removes what is below the folder `fd` and closes it, however deep.
void RemoveBelow(int fd) {
  DIR* listing = ::fdopendir(fd);
  if (listing == nullptr) {
    ::close(fd);
    return;
  }
  std::vector<std::string> names;
  while (const dirent* entry = ::readdir(listing)) {
    const std::string name = entry->d_name;
    if (name != "." && name != "..") names.push_back(name);
  }
  for (const std::string& name : names) {
    if (::unlinkat(::dirfd(listing), name.c_str(), 0) == 0) continue;
    const int below = ::openat(::dirfd(listing), name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (below < 0) continue;
    RemoveBelow(below);
    ::unlinkat(::dirfd(listing), name.c_str(), AT_REMOVEDIR);
  }
  ::closedir(listing);
}

// A folder whose path is longer than the system allows is not passed over:
// it fails, with the reason, on standard error and in the report, and the
// files above it are converted.
TEST_F(ArchiveTest, PathsLongerThanTheSystemAllowsFail) {
  const std::string name(200, 'd');
  const fs::path archive = dir() / "archive";
  fs::create_directories(archive);
  // Level 21 is the first whose path passes 4,096 bytes, whatever the test
  // folder's path.
  MakeDeepTree(archive, name, 24, {5, 19, 21, 24}, "m.mrk", MarkerFile(BlouseMarker()));
  const fs::path report = dir() / "report.csv";
  const int status = Run({"-o", out().string(), "--report", report.string(), archive.string()});
  RemoveBelow(::open(archive.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));

  EXPECT_EQ(status, 1) << err_;
  const Rows rows = ParseCsv(ReadFile(report));
  ASSERT_GE(rows.size(), 3u);
  std::size_t imported = 0, unreachable = 0;
  for (std::size_t i = 1; i < rows.size(); ++i) {
    imported += rows[i][1] == "imported";
    if (rows[i][7].find("File name too long") != std::string::npos) {
      ++unreachable;
      EXPECT_EQ(rows[i][1], "cannot open");
      EXPECT_GT(rows[i][0].size(), 4096u - name.size());
      EXPECT_NE(err_.find(rows[i][0] + ": cannot be reached: File name too long"), std::string::npos) << err_;
    }
  }
  EXPECT_GE(imported, 1u);  // level 5; level 19 too where its output path fits
  EXPECT_EQ(unreachable, 1u);
  EXPECT_NE(LastLine(err_).find("failed; 1 cannot be reached"), std::string::npos) << LastLine(err_);
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
  // -q: nothing but what fails.
  EXPECT_EQ(Run({"-q", "-o", alone.string(), blouse.string()}), 0) << err_;
  EXPECT_EQ(out_, "");
  EXPECT_EQ(err_, "");

  // A file that is not imported leaves none of the folders made for it,
  // alone or with others.
  const auto text = Put("notes.txt", {'n', 'o'});
  EXPECT_EQ(Run({"-o", (dir() / "made" / "for" / "it").string(), text.string()}), 1) << err_;
  EXPECT_FALSE(fs::exists(dir() / "made"));
  EXPECT_EQ(Run({"-o", (dir() / "made" / "for" / "them").string(), text.string(), text.string()}), 1) << err_;
  EXPECT_FALSE(fs::exists(dir() / "made"));
}

// Whether `text` is UTF-8 throughout.
bool IsUtf8(const std::string& text) {
  for (std::size_t i = 0; i < text.size();) {
    const auto c = static_cast<unsigned char>(text[i]);
    const std::size_t length = c < 0x80 ? 1 : c >= 0xC2 && c <= 0xDF ? 2 : c >= 0xE0 && c <= 0xEF ? 3 : c >= 0xF0 && c <= 0xF4 ? 4 : 0;
    if (length == 0 || i + length > text.size()) return false;
    for (std::size_t k = 1; k < length; ++k) {
      if ((static_cast<unsigned char>(text[i + k]) & 0xC0) != 0x80) return false;
    }
    i += length;
  }
  return true;
}

// File names are shown escaped on standard error, whether or not it is a
// terminal: a line end in a name cannot forge a line, an escape character
// cannot command the terminal, bytes that are not UTF-8 show as \xNN. The
// report quotes a line end as it is and writes those bytes as \xNN, so that
// it stays UTF-8.
TEST_F(ArchiveTest, NamesCannotForgeLinesOrCommandTheTerminal) {
  const std::string text = "not a marker";
  const ByteVector bytes(text.begin(), text.end());
  Put("bad\nforged: 99 imported.mrk", bytes);
  Put("esc\x1b[31mred.mrk", bytes);
  Put("caf\xe9.mrk", MarkerFile(BlouseMarker()));
  Put("ok-\xc3\xa9.mrk", MarkerFile(BlouseMarker()));  // UTF-8: shown as it is
  const fs::path archive = dir() / "archive";
  const fs::path report = dir() / "report.csv";
  EXPECT_EQ(Run({"-o", out().string(), "--report", report.string(), archive.string()}), 1) << err_;

  std::istringstream lines(err_);
  for (std::string line; std::getline(lines, line);) {
    EXPECT_TRUE(line.rfind("lumerca-import: ", 0) == 0 || line.rfind("[", 0) == 0) << line;
  }
  EXPECT_EQ(err_.find('\x1b'), std::string::npos) << err_;
  EXPECT_TRUE(IsUtf8(err_)) << err_;
  for (const std::string& shown : std::vector<std::string>{"/bad\\nforged: 99 imported.mrk: cannot be opened", "/esc\\x1b[31mred.mrk: cannot",
                                  "] " + archive.string() + "/caf\\xe9.mrk\n", "/ok-\xc3\xa9.mrk\n"}) {
    EXPECT_NE(err_.find(shown), std::string::npos) << shown << "\n" << err_;
  }

  const std::string csv = ReadFile(report);
  EXPECT_TRUE(IsUtf8(csv));
  const auto rows = ByPath(ParseCsv(csv));
  EXPECT_EQ(rows.count(archive.string() + "/bad\nforged: 99 imported.mrk"), 1u);
  EXPECT_EQ(rows.count(archive.string() + "/esc\x1b[31mred.mrk"), 1u);
  EXPECT_EQ(rows.count(archive.string() + "/caf\\xe9.mrk"), 1u);
  EXPECT_EQ(rows.count(archive.string() + "/ok-\xc3\xa9.mrk"), 1u);
}

// A report that cannot be written is found out at the first row that fails,
// with the system's reason, and keeps the rows before it whole: on a full
// device the run does not start; past the largest file the process may
// write, the run goes on without the report and ends with 1.
TEST_F(ArchiveTest, AReportThatCannotBeWritten) {
  if (!fs::exists("/dev/full")) GTEST_SKIP() << "no /dev/full";
  const auto blouse = Put("blouse.mrk", MarkerFile(BlouseMarker()));
  EXPECT_EQ(Run({"-o", out().string(), "--report", "/dev/full", blouse.string(), blouse.string()}), 2);
  EXPECT_EQ(err_, "lumerca-import: report: cannot write /dev/full: No space left on device\n");
  EXPECT_EQ(FilesInOutput(), 0u);

  for (int i = 0; i < 20; ++i) Put("many/m" + std::to_string(10 + i) + ".mrk", MarkerFile(BlouseMarker()));
  const fs::path report = dir() / "report.csv";
  // 1,024 bytes: more than either output file, less than the report. The
  // limit is the tool's alone: its standard error goes through a pipe.
  const std::string command = "(trap '' XFSZ; ulimit -f 2; '" + std::string(kTool) + "' -o '" + out().string() +
                              "' --report '" + report.string() + "' '" + (dir() / "archive" / "many").string() +
                              "'; echo $? >'" + (dir() / "status.txt").string() + "') 2>&1 >/dev/null | cat >'" +
                              (dir() / "stderr.txt").string() + "'";
  ASSERT_EQ(std::system(command.c_str()), 0);
  err_ = ReadFile(dir() / "stderr.txt");
  EXPECT_EQ(ReadFile(dir() / "status.txt"), "1\n") << err_;
  const std::string said = "lumerca-import: report: cannot write " + report.string() +
                           ": File too large; no more rows are written\n";
  const std::size_t at = err_.find(said);
  ASSERT_NE(at, std::string::npos) << err_;
  EXPECT_NE(err_.find("[20/20]", at), std::string::npos) << "told only at the end:\n" << err_;
  const std::string text = ReadFile(report);
  EXPECT_TRUE(text.ends_with("\r\n"));
  const Rows rows = ParseCsv(text);
  EXPECT_GE(rows.size(), 2u);
  EXPECT_LT(rows.size(), 21u);
  for (const auto& row : rows) EXPECT_EQ(row.size(), 9u);
  EXPECT_NE(LastLine(err_).find("20 imported, 0 without pieces, 0 failed"), std::string::npos) << err_;
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

// A stop signal in the middle of a long run (Ctrl-C, SIGTERM, or SIGHUP when
// the terminal goes away): the conversions running finish, none starts
// after; every folder holds a complete pair or is not there, no temporary
// file is left, the report has a row for each file finished, and the tool
// ends with 128 + the signal's number after the summary.
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

  for (const int signal_number : {SIGINT, SIGTERM, SIGHUP}) {
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

// What a run left in each output folder below `out`.
struct Leftovers {
  std::size_t pairs = 0, mixed = 0, partial = 0, temporaries = 0;
};

Leftovers Survey(const fs::path& out, const std::string (&orders)[2], const std::string (&positions)[2]) {
  Leftovers seen;
  for (const auto& entry : fs::recursive_directory_iterator(out)) {
    if (entry.is_directory()) continue;
    const std::string name = entry.path().filename().string();
    if (name.rfind(".lumerca-", 0) == 0) ++seen.temporaries;
    if (name != "csvimprt.txt") continue;
    const fs::path folder = entry.path().parent_path();
    if (!fs::exists(folder / "posimport.txt")) {
      ++seen.partial;
      continue;
    }
    const std::string a = ReadFile(folder / "csvimprt.txt"), b = ReadFile(folder / "posimport.txt");
    if ((a == orders[0] && b == positions[0]) || (a == orders[1] && b == positions[1])) ++seen.pairs;
    else ++seen.mixed;
  }
  return seen;
}

// Batches into folders that hold earlier pairs, killed (SIGKILL) once a few,
// many and most of their rows stand in the report: each leaves mixed at most
// the pairs whose commits it cut between their two renames (one a job: the
// commits into one folder take turns), and the next run into the folders
// settles what they left: every folder holds a complete pair, and nothing
// else.
TEST_F(ArchiveTest, KilledBatchesLeaveNothingForTheNextRun) {
  const std::size_t files = 300;
  const ByteVector versions[2] = {MarkerFile(BlouseMarker()), MarkerFile(JacketMarker())};
  const auto numbered = [](const char* prefix, std::size_t n) {
    std::string name = prefix;
    name += std::to_string(n);
    return name;
  };
  std::string orders[2], positions[2];
  for (std::size_t v = 0; v < 2; ++v) {
    for (std::size_t i = 0; i < files; ++i) {
      Put(fs::path(numbered("v", v)) / numbered("d", i % 10) / (numbered("m", i) + ".mrk"), versions[v]);
    }
    const fs::path alone = dir() / numbered("alone", v);
    fs::create_directories(alone);
    ASSERT_EQ(ImportMarker(dir() / "archive" / numbered("v", v) / "d0" / "m0.mrk", "", alone).status,
              ImportStatus::Imported);
    orders[v] = ReadFile(alone / "csvimprt.txt");
    positions[v] = ReadFile(alone / "posimport.txt");
  }
  const auto archive = [&](int v) { return (dir() / "archive" / numbered("v", static_cast<std::size_t>(v))).string(); };
  const fs::path report = dir() / "report.csv";
  ASSERT_EQ(Run({"-q", "-j", "2", "-o", out().string(), archive(0)}), 0) << err_;

  std::size_t cut = 0;
  int version = 1;
  for (const std::size_t rows_before_kill : {3u, 100u, 250u}) {
    SCOPED_TRACE(rows_before_kill);
    fs::remove(report);
    const pid_t pid = Start({"-q", "-j", "2", "-o", out().string(), "--report", report.string(), archive(version)});
    const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(120);
    for (std::string text; static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n')) <= rows_before_kill &&
                           std::chrono::steady_clock::now() < give_up;
         text = ReadFile(report)) {
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    kill(pid, SIGKILL);
    const int status = Wait(pid);
    cut += status == 256 + SIGKILL;
    const Leftovers left = Survey(out(), orders, positions);
    EXPECT_LE(left.mixed + left.partial, 2u);
    version = 1 - version;
  }
  EXPECT_GE(cut, 1u) << "no run was killed before it ended";

  ASSERT_EQ(Run({"-q", "-j", "2", "-o", out().string(), archive(version)}), 0) << err_;
  const Leftovers left = Survey(out(), orders, positions);
  EXPECT_EQ(left.pairs, files);
  EXPECT_EQ(left.mixed, 0u);
  EXPECT_EQ(left.partial, 0u);
  EXPECT_EQ(left.temporaries, 0u);
  std::size_t entries = 0;
  for (const auto& entry : fs::recursive_directory_iterator(out())) entries += !entry.is_directory();
  EXPECT_EQ(entries, 2 * files) << "something besides the pairs is left";
}

// Batches into a fresh OUT, where no folder holds a pair and the pairs are
// flushed only once at the end, killed (SIGKILL) once a few and once most of
// their rows stand in the report: a kill loses nothing that the system took,
// so the pairs in place are whole, and a run again over the same archive
// leaves every folder holding the pair of a conversion of its own, and
// nothing else.
TEST_F(ArchiveTest, AKilledBatchIntoAFreshFolderIsMendedByARunAgain) {
  const std::size_t files = 300;
  const ByteVector marker = MarkerFile(JacketMarker());
  for (std::size_t i = 0; i < files; ++i) {
    Put(fs::path("d" + std::to_string(i % 10)) / ("m" + std::to_string(i) + ".mrk"), marker);
  }
  const fs::path alone = dir() / "alone";
  fs::create_directories(alone);
  ASSERT_EQ(ImportMarker(dir() / "archive" / "d0" / "m0.mrk", "", alone).status, ImportStatus::Imported);
  const std::string orders[2] = {ReadFile(alone / "csvimprt.txt"), ReadFile(alone / "csvimprt.txt")};
  const std::string positions[2] = {ReadFile(alone / "posimport.txt"), ReadFile(alone / "posimport.txt")};
  const fs::path report = dir() / "report.csv";

  std::size_t cut = 0;
  for (const std::size_t rows_before_kill : {3u, 200u}) {
    SCOPED_TRACE(rows_before_kill);
    fs::remove_all(out());
    fs::remove(report);
    const pid_t pid = Start({"-q", "-j", "2", "-o", out().string(), "--report", report.string(),
                             (dir() / "archive").string()});
    const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(120);
    for (std::string text; static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n')) <= rows_before_kill &&
                           std::chrono::steady_clock::now() < give_up;
         text = ReadFile(report)) {
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    kill(pid, SIGKILL);
    cut += Wait(pid) == 256 + SIGKILL;
    Leftovers left = Survey(out(), orders, positions);
    EXPECT_GE(left.pairs, rows_before_kill);
    EXPECT_LE(left.partial, 2u) << "more than the commits that the kill cut, one a job";
    EXPECT_EQ(left.mixed, 0u);

    ASSERT_EQ(Run({"-q", "-j", "2", "-o", out().string(), (dir() / "archive").string()}), 0) << err_;
    left = Survey(out(), orders, positions);
    EXPECT_EQ(left.pairs, files);
    EXPECT_EQ(left.mixed + left.partial + left.temporaries, 0u);
    std::size_t entries = 0;
    for (const auto& entry : fs::recursive_directory_iterator(out())) entries += !entry.is_directory();
    EXPECT_EQ(entries, 2 * files) << "something besides the pairs is left";
  }
  EXPECT_GE(cut, 1u) << "no run was killed before it ended";
}

// Standard error a pipe whose reader is gone (`2>&1 | head -2`): the first
// line written raises SIGPIPE, which stops the run as SIGTERM does; the
// files finished have their rows and complete pairs, none has a temporary
// file left, and the tool ends with 141.
TEST_F(ArchiveTest, ABrokenPipeStopsTheRunAsSigtermDoes) {
  const ByteVector jacket = MarkerFile(JacketMarker());
  const std::size_t files = 600;
  for (std::size_t i = 0; i < files; ++i) {
    char name[32];
    std::snprintf(name, sizeof name, "m%03zu.mrk", i);
    Put(name, jacket);
  }
  int channel[2];
  ASSERT_EQ(::pipe(channel), 0);
  ::close(channel[0]);  // no reader at all
  const fs::path report = dir() / "report.csv";
  const pid_t pid = Start({"-j", "2", "-o", out().string(), "--report", report.string(),
                           (dir() / "archive").string()},
                          channel[1]);
  ::close(channel[1]);
  ASSERT_EQ(Wait(pid), 128 + SIGPIPE);

  const Rows rows = ParseCsv(ReadFile(report));
  ASSERT_GE(rows.size(), 2u);
  EXPECT_LT(rows.size(), files + 1) << "conversions went on after the signal";
  std::size_t folders = 0;
  for (const auto& entry : fs::directory_iterator(out())) {
    ++folders;
    EXPECT_TRUE(fs::exists(entry.path() / "csvimprt.txt")) << entry.path();
    EXPECT_TRUE(fs::exists(entry.path() / "posimport.txt")) << entry.path();
    EXPECT_EQ(std::distance(fs::directory_iterator(entry.path()), fs::directory_iterator()), 2)
        << entry.path() << " holds a temporary file";
  }
  EXPECT_EQ(folders, rows.size() - 1);
  for (std::size_t i = 1; i < rows.size(); ++i) EXPECT_EQ(rows[i][1], "imported");
}

}  // namespace
}  // namespace lumerca::testing
