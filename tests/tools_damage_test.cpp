// lumerca-import on damaged and foreign files: one line on standard error for
// each file not imported, with the reason; warnings of imported files on lines
// that begin with "warning:"; every diagnostic with -v; --salvage.

#include "tests/support/tool_fixture.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include <sys/wait.h>

namespace lumerca::testing {
namespace {

namespace fs = std::filesystem;

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

class DamageCliTest : public ToolFixture {
protected:

  // The jacket with one byte cut off the end of the stream `name` at the root.
  fs::path Cut(const std::string& file, const std::u16string& name) {
    Node root = MarkerDocument(JacketMarker());
    for (Node& child : root.children) {
      if (child.name == name) child.data.pop_back();
    }
    const fs::path path = dir() / file;
    WriteBytes(path, WriteCompoundFile(root));
    return path;
  }

  // Runs the tool with `arguments` (each quoted); returns its exit status and
  // keeps what it wrote.
  int Run(const std::vector<std::string>& arguments) {
    const int status = RunTool(arguments);
    out_text_ = tool_out_;
    err_ = Lines(tool_err_);
    return status;
  }

  std::string out_text_;
  std::vector<std::string> err_;
};

TEST_F(DamageCliTest, ADamagedFileIsOneLineAndSalvageImportsIt) {
  const fs::path file = Cut("halfs.mrk", u"HALFS");
  const std::string prefix = "lumerca-import: " + file.string() + ": ";
  const std::string damage =
      "HALFS: holds 1 of its 2 HALFS records, ending 1 byte before its declared layout in HALFS "
      "record 1";

  EXPECT_EQ(Run({file.string()}), 1);
  ASSERT_EQ(err_.size(), 1u);
  EXPECT_EQ(err_[0], prefix + "damaged: data that the output files need is missing (" + damage +
                         "; not imported (--salvage imports the 1))");
  EXPECT_FALSE(fs::exists(out() / "csvimprt.txt"));

  // -v: the same line, then every diagnostic.
  EXPECT_EQ(Run({"-v", file.string()}), 1);
  ASSERT_EQ(err_.size(), 2u);
  EXPECT_EQ(err_[0].rfind(prefix + "damaged: ", 0), 0u);
  EXPECT_EQ(err_[1], "note: " + file.string() + ": " + damage + "; not imported (--salvage imports the 1)");

  EXPECT_EQ(Run({"--salvage", file.string()}), 0);
  EXPECT_EQ(out_text_.rfind("imported " + file.string() + " as JACKET W-24-A", 0), 0u) << out_text_;
  ASSERT_EQ(err_.size(), 1u);
  EXPECT_EQ(err_[0], "warning: " + file.string() + ": " + damage + "; salvaged: the 1 imported");
  EXPECT_TRUE(fs::exists(out() / "posimport.txt"));
}

TEST_F(DamageCliTest, DamageNotUsedByTheOutputIsAWarning) {
  const fs::path file = Cut("sizes.mrk", u"SIZES");
  EXPECT_EQ(Run({file.string()}), 0);
  ASSERT_EQ(err_.size(), 1u);
  EXPECT_EQ(err_[0], "warning: " + file.string() +
                         ": SIZES: ends 1 byte before its declared layout, in the name of size 5 "
                         "(not used by the output files)");
  // -q keeps it quiet.
  EXPECT_EQ(Run({"-q", file.string()}), 0);
  EXPECT_TRUE(err_.empty());
}

// (A folder given to the tool is an archive to convert; the library's reason
// for a folder is tested with the import.)
TEST_F(DamageCliTest, FilesThatCannotBeOpenedSayWhy) {
  WriteBytes(dir() / "notes.txt", {'n', 'o', 't', 'e', 's', '\n'});
  WriteBytes(dir() / "photo.png", {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n', 0, 0, 0, 0x0D});
  const struct {
    fs::path path;
    const char* reason;
  } cases[] = {
      {dir() / "missing.mrk", "no such file"},
      {dir() / "notes.txt", "not a compound file: it holds text: \"notes\""},
      {dir() / "photo.png", "not a compound file: it looks like a PNG image"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.path.string());
    EXPECT_EQ(Run({c.path.string()}), 1);
    ASSERT_EQ(err_.size(), 1u);
    EXPECT_EQ(err_[0], "lumerca-import: " + c.path.string() + ": cannot be opened as a marker file (" +
                           c.reason + ")");
  }
}

// Several files: a damaged one counts as failed under its own reason.
TEST_F(DamageCliTest, SeveralFiles) {
  const fs::path halfs = Cut("halfs.mrk", u"HALFS");
  const fs::path sizes = Cut("sizes.mrk", u"SIZES");
  EXPECT_EQ(Run({"-q", halfs.string(), sizes.string()}), 1);
  ASSERT_EQ(err_.size(), 2u);
  EXPECT_EQ(err_[0].rfind("lumerca-import: " + halfs.string() + ": damaged: ", 0), 0u);
  EXPECT_EQ(err_[1],
            "lumerca-import: 1 imported, 0 without pieces, 1 failed; 1 damaged: data that the output "
            "files need is missing");
}

}  // namespace
}  // namespace lumerca::testing
