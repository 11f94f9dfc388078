// lumerca-import converting a folder of markers: progress on standard error,
// one summary line at the end, and the exit status.

#include "tests/support/tool_fixture.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <regex>
#include <string>
#include <vector>

#include <sys/wait.h>

namespace lumerca::testing {
namespace {

namespace fs = std::filesystem;

class BatchTest : public ToolFixture {
protected:
  void SetUp() override {
    ToolFixture::SetUp();
    if (IsSkipped()) return;
    fs::create_directories(dir() / "markers");
  }

  fs::path Marker(const std::string& name, const ByteVector& bytes) {
    const fs::path path = dir() / "markers" / name;
    WriteBytes(path, bytes);
    return path;
  }

  // Runs the tool on `files`; returns its exit status and keeps its standard
  // error in err_.
  int Run(const std::vector<fs::path>& files) {
    std::vector<std::string> arguments;
    for (const auto& f : files) arguments.push_back(f.string());
    const int status = RunTool(arguments);
    err_ = tool_err_;
    return status;
  }

  std::string LastLine() const {
    std::string text = err_;
    while (!text.empty() && text.back() == '\n') text.pop_back();
    return text.substr(text.rfind('\n') == std::string::npos ? 0 : text.rfind('\n') + 1);
  }

  std::string err_;
};

TEST_F(BatchTest, FolderOfGoodEmptyAndBrokenFiles) {
  MarkerRecipe empty = BlouseMarker();
  empty.pieces.clear();
  empty.cuts.clear();
  MarkerRecipe corrupt = BlouseMarker();
  corrupt.pieces[1].croix_index = 50;
  const std::string text = "just some text, not a marker";
  ByteVector truncated = MarkerFile(JacketMarker());
  truncated.resize(700);

  const std::vector<fs::path> files = {
      Marker("blouse.mrk", MarkerFile(BlouseMarker())),
      Marker("empty.mrk", MarkerFile(empty)),
      Marker("jacket.mrk", MarkerFile(JacketMarker())),
      Marker("notes.txt", ByteVector(text.begin(), text.end())),
      Marker("corrupt.mrk", MarkerFile(corrupt)),
      Marker("truncated.mrk", truncated),
  };
  EXPECT_EQ(Run(files), 1) << err_;  // a file failed

  // Progress: one line per file, numbered.
  for (std::size_t i = 1; i <= files.size(); ++i) {
    std::string progress = "[";
    progress += std::to_string(i);
    progress += "/6] ";
    EXPECT_NE(err_.find(progress), std::string::npos) << progress << "\n" << err_;
  }
  // The summary: counts, then each reason with its count.
  const std::string summary = LastLine();
  std::smatch m;
  ASSERT_TRUE(std::regex_match(summary, m,
                               std::regex(R"(lumerca-import: (\d+) imported, (\d+) without pieces, (\d+) failed(.*))")))
      << summary;
  EXPECT_EQ(m[1], "2");
  EXPECT_EQ(m[2], "1");
  EXPECT_EQ(m[3], "3");
  const std::string reasons = m[4];
  EXPECT_NE(reasons.find("; 2 cannot be opened as a marker file"), std::string::npos) << reasons;
  EXPECT_NE(reasons.find("; 1 a cross-reference between its tables is out of range"), std::string::npos)
      << reasons;
  EXPECT_NE(reasons.find("; 1 holds no pieces"), std::string::npos) << reasons;

  // Each imported file has its own folder with both files.
  for (const char* name : {"blouse", "jacket"}) {
    EXPECT_TRUE(fs::exists(out() / name / "csvimprt.txt")) << name;
    EXPECT_TRUE(fs::exists(out() / name / "posimport.txt")) << name;
  }
  EXPECT_FALSE(fs::exists(out() / "empty" / "csvimprt.txt"));
}

TEST_F(BatchTest, ExitStatusFollowsTheWorstFile) {
  MarkerRecipe empty = BlouseMarker();
  empty.pieces.clear();
  empty.cuts.clear();
  const auto blouse = Marker("blouse.mrk", MarkerFile(BlouseMarker()));
  const auto jacket = Marker("jacket.mrk", MarkerFile(JacketMarker()));
  const auto nothing = Marker("empty.mrk", MarkerFile(empty));

  EXPECT_EQ(Run({blouse, jacket}), 0) << err_;
  EXPECT_EQ(LastLine(), "lumerca-import: 2 imported, 0 without pieces, 0 failed");
  EXPECT_EQ(Run({blouse, nothing}), 3) << err_;
  EXPECT_EQ(LastLine(), "lumerca-import: 1 imported, 1 without pieces, 0 failed; 1 holds no pieces");
}

// Two files of one name from different folders do not overwrite each
// other's output.
TEST_F(BatchTest, FilesOfOneNameGetFoldersOfTheirOwn) {
  const auto blouse = Marker("blouse.mrk", MarkerFile(BlouseMarker()));
  fs::create_directories(dir() / "markers" / "other");
  const fs::path jacket = dir() / "markers" / "other" / "blouse.mrk";
  WriteBytes(jacket, MarkerFile(JacketMarker()));

  EXPECT_EQ(Run({blouse, jacket}), 0) << err_;
  EXPECT_NE(ReadFile(out() / "blouse" / "csvimprt.txt").find("o:B------2"), std::string::npos);
  EXPECT_NE(ReadFile(out() / "blouse-2" / "csvimprt.txt").find("o:JACKET W-24-A"), std::string::npos);

  // A file whose own name is "blouse-2" does not share a folder with the
  // second "blouse"; a file that fails leaves no folder behind.
  fs::remove_all(out());
  fs::create_directories(out());
  const auto named = Marker("blouse-2.mrk", MarkerFile(JacketMarker()));
  const auto text = Marker("notes.txt", {'n', 'o'});
  EXPECT_EQ(Run({named, blouse, jacket, text}), 1) << err_;
  EXPECT_TRUE(fs::exists(out() / "blouse-2" / "csvimprt.txt"));
  EXPECT_NE(ReadFile(out() / "blouse" / "csvimprt.txt").find("o:B------2"), std::string::npos);
  EXPECT_NE(ReadFile(out() / "blouse-3" / "csvimprt.txt").find("o:JACKET W-24-A"), std::string::npos);
  EXPECT_FALSE(fs::exists(out() / "notes"));
}

}  // namespace
}  // namespace lumerca::testing
