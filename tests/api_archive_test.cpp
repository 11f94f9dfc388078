// The archive API as the tool and the Python package use it: the
// conversions of a listing run in any order and at once, and the folders of
// the files not imported go, while those that hold a pair, or stood before,
// stay.

#include <lumerca/archive.h>

#include "tests/support/import_fixture.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <set>
#include <string>
#include <thread>
#include <vector>

namespace lumerca::testing {
namespace {

namespace fs = std::filesystem;

class ArchiveApiTest : public ImportFixture {
protected:
  fs::path Put(const fs::path& relative, const ByteVector& bytes) {
    const fs::path path = dir() / "archive" / relative;
    fs::create_directories(path.parent_path());
    WriteBytes(path, bytes);
    return path;
  }

  // Every folder and file below out(), relative to it (folders end in '/').
  std::set<std::string> Tree() const {
    std::set<std::string> tree;
    for (const auto& entry : fs::recursive_directory_iterator(out())) {
      tree.insert(fs::relative(entry.path(), out()).string() + (entry.is_directory() ? "/" : ""));
    }
    return tree;
  }
};

TEST_F(ArchiveApiTest, ConversionsInAnyOrderLeaveOnlyTheFoldersOfPairs) {
  const ByteVector blouse = MarkerFile(BlouseMarker());
  const ByteVector text = {'P', 'i', 'e', 'c', 'e', 's', '\n'};
  // x.mrk fails, and its folder x/ is the parent of x/m/, whose file is
  // imported; below y/ one file fails two folders deep, one is imported.
  Put("x.mrk", text);
  Put("x/m.mrk", blouse);
  Put("y/z/w/bad.mrk", text);
  Put("y/ok.mrk", blouse);
  Put("only-bad/deep/bad.mrk", text);
  fs::create_directories(out() / "stood-before" / "empty");

  const ArchiveListing listing = ListArchive({dir() / "archive"}, out());
  ASSERT_TRUE(listing.complete);
  ASSERT_EQ(listing.entries.size(), 5u);
  EXPECT_TRUE(listing.several);

  for (const bool reversed : {false, true}) {
    SCOPED_TRACE(reversed);
    for (const auto& entry : fs::directory_iterator(out())) {
      if (entry.path().filename() != "stood-before") fs::remove_all(entry.path());
    }
    std::vector<ArchiveRow> rows(listing.entries.size());
    // Two threads, each taking every other entry, in the listing's order or
    // backwards: folders that one conversion made may be filling with
    // another's pair meanwhile.
    std::vector<std::thread> threads;
    for (std::size_t t = 0; t < 2; ++t) {
      threads.emplace_back([&, t] {
        for (std::size_t k = t; k < rows.size(); k += 2) {
          const std::size_t i = reversed ? rows.size() - 1 - k : k;
          rows[i] = ConvertArchiveEntry(listing.entries[i]);
        }
      });
    }
    for (auto& thread : threads) thread.join();
    std::vector<fs::path> made;
    std::size_t imported = 0;
    for (const ArchiveRow& row : rows) {
      imported += row.imported();
      EXPECT_EQ(row.imported() || row.status == ImportStatus::CannotOpen, true) << row.reason;
      made.insert(made.end(), row.made.begin(), row.made.end());
    }
    EXPECT_EQ(imported, 2u);
    RemoveEmptyFolders(made);
    EXPECT_EQ(Tree(), (std::set<std::string>{"stood-before/", "stood-before/empty/", "x/", "x/m/",
                                              "x/m/csvimprt.txt", "x/m/posimport.txt", "y/", "y/ok/",
                                              "y/ok/csvimprt.txt", "y/ok/posimport.txt"}));
  }
}

TEST_F(ArchiveApiTest, FoldersMadeAndRemoved) {
  std::vector<fs::path> made;
  std::string error;
  ASSERT_TRUE(MakeArchiveFolder(out() / "a" / "b" / "c", made, error)) << error;
  EXPECT_EQ(made, (std::vector<fs::path>{out() / "a" / "b" / "c", out() / "a" / "b", out() / "a"}));
  ASSERT_TRUE(MakeArchiveFolder(out() / "a" / "d", made, error)) << error;
  EXPECT_EQ(made.back(), out() / "a" / "d");
  WriteBytes(out() / "a" / "d" / "keep.txt", {'k'});

  // A file where a folder would go: the reason, and nothing made.
  WriteBytes(out() / "file", {'f'});
  std::vector<fs::path> none;
  EXPECT_FALSE(MakeArchiveFolder(out() / "file" / "e", none, error));
  EXPECT_FALSE(error.empty());
  EXPECT_TRUE(none.empty());

  // In any order; a file named among them is left alone, a folder gone
  // already is passed over.
  made.push_back(out() / "file");
  made.push_back(out() / "gone");
  std::reverse(made.begin(), made.end());
  RemoveEmptyFolders(made);
  EXPECT_EQ(Tree(), (std::set<std::string>{"a/", "a/d/", "a/d/keep.txt", "file"}));
}

TEST_F(ArchiveApiTest, ReportFieldsOfARowThatWasNotConverted) {
  ArchiveEntry entry;
  entry.path = dir() / "archive" / std::string("caf\xe9\n.mrk");
  entry.skip_reason = "cannot be reached: File name too long";
  entry.skip_group = "cannot be reached";
  const ArchiveRow row = ConvertArchiveEntry(entry);
  EXPECT_EQ(row.status, ImportStatus::CannotOpen);
  EXPECT_EQ(row.group, "cannot be reached");
  EXPECT_TRUE(row.made.empty());
  const auto fields = ArchiveReportFields(row);
  EXPECT_EQ(fields[0], (dir() / "archive").string() + "/caf\\xe9\n.mrk");
  EXPECT_EQ(std::vector<std::string>(fields.begin() + 1, fields.end() - 1),
            (std::vector<std::string>{"cannot open", "", "", "", "", "0", entry.skip_reason}));
  EXPECT_NE(fields.back().find('.'), std::string::npos);
  EXPECT_EQ(fields.back().size() - fields.back().find('.'), 4u);  // three decimals
  EXPECT_EQ(std::string(ArchiveReportColumns()[4]), "pieces written");

  // The time: three decimals, rounded, in the "C" notation on every platform.
  ArchiveRow timed = row;
  for (const auto& [value, text] : std::vector<std::pair<double, std::string>>{
           {0.0, "0.000"}, {12.3456, "12.346"}, {0.0004, "0.000"}, {2500.0, "2500.000"},
           {86'400'000.25, "86400000.250"}, {-1.0, "0.000"}, {std::nan(""), "0.000"}}) {
    timed.milliseconds = value;
    EXPECT_EQ(ArchiveReportFields(timed).back(), text) << value;
  }
}

}  // namespace
}  // namespace lumerca::testing
