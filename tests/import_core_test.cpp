// End-to-end imports through the public API: marker files built by the tests'
// writer, converted into a temporary folder, compared byte for byte.

#include <lumerca/marker.h>

#include "tests/support/fixed_output_folder.h"
#include "tests/support/import_fixture.h"
#include "tests/support/marker_streams.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cfloat>
#include <clocale>
#include <cstring>
#include <limits>
#include <string>

#include <pwd.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <signal.h>
#include <stdlib.h>
#include <unistd.h>

namespace lumerca {
namespace {

using testing::BlouseMarker;
using testing::ImportFixture;
using testing::ReadFile;
using testing::WriteBytes;

constexpr char kBlouseOrders[] =
    "=:model\r\nm:B------2-38\r\np:FRONT\r\ni:1\r\np:BACK\r\ni:1\r\n"
    "=:model\r\nm:B------2-42\r\np:FRONT\r\ni:1\r\np:SLEEVE\r\ni:1\r\n"
    "=:order\r\no:B------2\r\nd:lmr-import\r\nw:62.992126\r\nxs:2.040814\r\nys:0.000000\r\n"
    "m:B------2-38\r\nq:1\r\ns:38\r\nq:1\r\ns:40\r\nm:B------2-42\r\nq:1\r\ns:42\r\n";

constexpr char kBlousePositions[] =
    "FRONT,38,0,1,90.000000,120.000000,60.000000,80.000000,40.000000,1\r\n"
    "0.000000,-0.500000,10.000000,-0.500000,0\r\n"
    "BACK,38,0,0,0.000000,0.000000,0.000000,0.000000,0.000000,0\r\n"
    "FRONT,40,0,0,0.000000,0.000000,0.000000,0.000000,0.000000,0\r\n"
    "BACK,40,0,0,0.000000,0.000000,0.000000,0.000000,0.000000,0\r\n"
    "FRONT,42,0,0,0.000000,0.000000,0.000000,0.000000,0.000000,0\r\n"
    "SLEEVE,42,0,0,0.000000,0.000000,0.000000,0.000000,0.000000,0\r\n";

TEST_F(ImportFixture, ConvertsTheBlouseMarkerByteForByte) {
  auto result = Import(BlouseMarker());
  ASSERT_EQ(result.status, ImportStatus::Imported) << StatusText(result.status);
  EXPECT_EQ(result.name, "B------2");
  EXPECT_TRUE(result.diagnostics.empty());
  EXPECT_EQ(ReadFile(out() / "csvimprt.txt"), kBlouseOrders);
  EXPECT_EQ(ReadFile(out() / "posimport.txt"), kBlousePositions);
  EXPECT_EQ(FilesInOutput(), 2u) << "no temporary file may be left behind";
}

TEST_F(ImportFixture, CallersNameReplacesTheStoredOneAndIsCutTo255Bytes) {
  auto recipe = BlouseMarker();
  recipe.header.name = "MODEL 1.2";
  auto stored = Import(recipe);
  ASSERT_EQ(stored.status, ImportStatus::Imported);
  EXPECT_EQ(stored.name, "MODEL 1-2");

  auto renamed = Import(recipe, "JACKET/A#2.1");
  ASSERT_EQ(renamed.status, ImportStatus::Imported);
  EXPECT_EQ(renamed.name, "JACKET-A-2-1");
  EXPECT_NE(ReadFile(out() / "csvimprt.txt").find("o:JACKET-A-2-1\r\n"), std::string::npos);

  auto long_name = Import(recipe, std::string(400, 'Q'));
  ASSERT_EQ(long_name.status, ImportStatus::Imported);
  EXPECT_EQ(long_name.name, std::string(255, 'Q'));
}

// Every failure leaves the files of the earlier import exactly as they were and
// no temporary file behind.
TEST_F(ImportFixture, FailuresKeepTheEarlierFiles) {
  ASSERT_EQ(Import(BlouseMarker()).status, ImportStatus::Imported);
  const auto orders = ReadFile(out() / "csvimprt.txt");
  const auto positions = ReadFile(out() / "posimport.txt");
  auto unchanged = [&] {
    EXPECT_EQ(ReadFile(out() / "csvimprt.txt"), orders);
    EXPECT_EQ(ReadFile(out() / "posimport.txt"), positions);
    EXPECT_EQ(FilesInOutput(), 2u);
  };

  EXPECT_EQ(ImportPath(dir() / "missing.mrk").status, ImportStatus::CannotOpen);
  unchanged();
  EXPECT_EQ(ImportBytes({'h', 'e', 'l', 'l', 'o', '\n'}).status, ImportStatus::CannotOpen);
  unchanged();

  auto no_pieces = BlouseMarker();
  no_pieces.pieces.clear();
  no_pieces.cuts.clear();
  EXPECT_EQ(Import(no_pieces).status, ImportStatus::NoPieces);
  unchanged();

  auto bad_croix = BlouseMarker();
  bad_croix.pieces[5].croix_index = 6;  // CROIXES holds 6 records
  auto corrupt = Import(bad_croix);
  EXPECT_EQ(corrupt.status, ImportStatus::CorruptIndex);
  EXPECT_TRUE(corrupt.name.empty());
  unchanged();

  auto bad_class = BlouseMarker();
  bad_class.croixes[4].class_index = -1;
  EXPECT_EQ(Import(bad_class).status, ImportStatus::CorruptIndex);
  unchanged();
}

// The counts name what the files hold: sizes of the order, piece lines and cut
// lines of the position file (half pieces left out); nothing when not imported.
TEST_F(ImportFixture, CountsTellWhatTheFilesHold) {
  struct Case {
    const char* what;
    testing::MarkerRecipe recipe;
    std::size_t sizes;
  };
  const Case cases[] = {{"blouse", BlouseMarker(), 4},
                        {"jacket (half pieces)", testing::JacketMarker(), 6},
                        {"big blouse", testing::BigBlouse(), 4}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const auto result = Import(c.recipe);
    ASSERT_EQ(result.status, ImportStatus::Imported);
    std::size_t piece_lines = 0, cut_lines = 0;
    const std::string positions = ReadFile(out() / "posimport.txt");
    for (std::size_t at = 0, end; at < positions.size(); at = end + 2) {
      end = positions.find("\r\n", at);
      const auto commas = std::count(positions.begin() + static_cast<std::ptrdiff_t>(at),
                                     positions.begin() + static_cast<std::ptrdiff_t>(end), ',');
      (commas == 9 ? piece_lines : cut_lines) += 1;
    }
    EXPECT_EQ(result.counts.sizes, c.sizes);
    EXPECT_EQ(result.counts.pieces, piece_lines);
    EXPECT_EQ(result.counts.cut_lines, cut_lines);
    EXPECT_EQ(piece_lines, c.recipe.pieces.size() - c.recipe.halfs.size());
  }
  const auto blouse = Import(BlouseMarker());
  EXPECT_EQ(blouse.counts.pieces, 6u);
  EXPECT_EQ(blouse.counts.cut_lines, 1u);

  auto empty = BlouseMarker();
  empty.pieces.clear();
  const auto none = Import(empty);
  EXPECT_EQ(none.status, ImportStatus::NoPieces);
  EXPECT_EQ(none.counts.sizes + none.counts.pieces + none.counts.cut_lines, 0u);
  auto corrupt = BlouseMarker();
  corrupt.pieces[1].croix_index = 50;
  const auto failed = Import(corrupt);
  EXPECT_EQ(failed.status, ImportStatus::CorruptIndex);
  EXPECT_EQ(failed.counts.sizes + failed.counts.pieces + failed.counts.cut_lines, 0u);
}

TEST_F(ImportFixture, AMissingFolderOrAFileAsFolderFails) {
  WriteBytes(dir() / "marker.mrk", testing::MarkerFile(BlouseMarker()));
  auto missing = ImportMarker(dir() / "marker.mrk", "", dir() / "no-such-folder");
  EXPECT_EQ(missing.status, ImportStatus::OutputFailed);
  WriteBytes(dir() / "plain-file", {'x'});
  auto file_as_folder = ImportMarker(dir() / "marker.mrk", "", dir() / "plain-file");
  EXPECT_EQ(file_as_folder.status, ImportStatus::OutputFailed);
  EXPECT_EQ(ReadFile(dir() / "plain-file"), "x");
}

// A write that fails part way (the process may not grow a file beyond a few
// bytes) is reported, and the earlier pair stays.
TEST_F(ImportFixture, AFailedWriteKeepsTheEarlierFiles) {
  ASSERT_EQ(Import(BlouseMarker()).status, ImportStatus::Imported);
  const auto orders = ReadFile(out() / "csvimprt.txt");
  WriteBytes(dir() / "marker.mrk", testing::MarkerFile(BlouseMarker()));
  pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    signal(SIGXFSZ, SIG_IGN);
    rlimit limit{100, 100};
    setrlimit(RLIMIT_FSIZE, &limit);
    auto result = ImportMarker(dir() / "marker.mrk", "OTHER", out());
    _exit(result.status == ImportStatus::OutputFailed ? 0 : 1);
  }
  int status = 0;
  waitpid(child, &status, 0);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0) << "the import did not report the failed write";
  EXPECT_EQ(ReadFile(out() / "csvimprt.txt"), orders);
  EXPECT_EQ(FilesInOutput(), 2u);
}

// Links planted at the output names are replaced, never followed.
TEST_F(ImportFixture, PlantedLinksAreNotFollowed) {
  WriteBytes(dir() / "victim", {'v'});
  std::filesystem::create_symlink(dir() / "victim", out() / "csvimprt.txt");
  std::filesystem::create_symlink(dir() / "victim", out() / "posimport.txt");
  ASSERT_EQ(Import(BlouseMarker()).status, ImportStatus::Imported);
  EXPECT_EQ(ReadFile(dir() / "victim"), "v");
  EXPECT_FALSE(std::filesystem::is_symlink(out() / "csvimprt.txt"));
  EXPECT_EQ(ReadFile(out() / "csvimprt.txt"), kBlouseOrders);
}

// The numbers of both files as the Windows runtime prints them: exact ties
// rounded away from zero, 17 significant digits then zeros, the texts of the
// infinities and NaNs.
TEST_F(ImportFixture, NumbersAsTheWindowsRuntimePrintsThem) {
  const float inf = std::numeric_limits<float>::infinity();
  testing::MarkerRecipe recipe;
  recipe.header.name = "NUMBERS";
  recipe.header.scale_x = 0.0f;   // 1 / 0: infinite
  recipe.header.scale_y = -0.0f;  // 1 / -0: negative infinite
  recipe.sizes = {{38, "38"}};
  recipe.classes = {{"FRONT", ""}, {"BACK", ""}};
  recipe.croixes = {{0, 0}, {0, 1}};
  testing::PieceRecipe front;
  front.croix_index = 0;
  front.attr4 = -0.0f;
  front.place_x = 123547.2890625f;  // a tie at the sixth decimal
  front.place_y = FLT_MAX;
  front.min_x = -3e38f;  // the extent, 6.0000000109955115e38, only in double
  front.max_x = 3e38f;
  testing::PieceRecipe back;
  back.croix_index = 1;
  back.place_x = std::numeric_limits<float>::quiet_NaN();
  back.max_y = inf;
  recipe.pieces = {front, back};
  recipe.cuts[0] = {testing::SplitRecipe{100.0078125f, -0.0078125f, 0.0234375f, 16777215.0f, 0, 0, 0},
                  testing::SplitRecipe{1e-7f, -1e-7f, 9.5e-7f, -FLT_MAX, 0, 1, 0}};
  const std::string huge = "340282346638528860000000000000000000000.000000";

  const struct {
    float width;
    const char* line;
  } widths[] = {
      {1001.1171875f, "w:39.414063"},  // 39.4140625
      {std::numeric_limits<float>::quiet_NaN(), "w:1.#QNAN0"},
      {std::bit_cast<float>(0xFFC00000u), "w:-1.#IND00"},  // widened: 0xFFF8000000000000
  };
  for (const auto& width : widths) {
    recipe.header.width = width.width;
    const auto result = Import(recipe);
    ASSERT_EQ(result.status, ImportStatus::Imported) << StatusText(result.status);
    EXPECT_EQ(ReadFile(out() / "csvimprt.txt"),
              "=:model\r\nm:NUMBERS-38\r\np:FRONT\r\ni:1\r\np:BACK\r\ni:1\r\n=:order\r\n"
              "o:NUMBERS\r\nd:lmr-import\r\n" + std::string(width.line) +
                  "\r\nxs:1.#INF00\r\nys:-1.#INF00\r\nm:NUMBERS-38\r\nq:1\r\ns:38\r\n");
    EXPECT_EQ(ReadFile(out() / "posimport.txt"),
              "FRONT,38,0,0,-0.000000,123547.289063," + huge +
                  ",600000001099551150000000000000000000000.000000,0.000000,2\r\n"
                  "100.007813,-0.007813,0.023438,16777215.000000,0\r\n"
                  "0.000000,-0.000000,0.000001,-" + huge + ",1\r\n"
                  "BACK,38,0,0,0.000000,1.#QNAN0,1.#INF00,0.000000,1.#INF00,0\r\n");
  }
}

// Numbers never take the decimal comma of the process's locale, and the
// library leaves the locale as it found it.
TEST_F(ImportFixture, NumbersIgnoreTheProcessLocale) {
  const std::string before = std::setlocale(LC_ALL, nullptr);
  if (!std::setlocale(LC_ALL, "de_DE.UTF-8")) GTEST_SKIP() << "de_DE.UTF-8 is not installed";
  const std::string german = std::setlocale(LC_ALL, nullptr);
  auto result = Import(BlouseMarker());
  const std::string after = std::setlocale(LC_ALL, nullptr);
  std::setlocale(LC_ALL, before.c_str());
  ASSERT_EQ(result.status, ImportStatus::Imported);
  EXPECT_EQ(after, german);
  EXPECT_EQ(ReadFile(out() / "csvimprt.txt"), kBlouseOrders);
  EXPECT_EQ(ReadFile(out() / "posimport.txt"), kBlousePositions);
}

// The C entry point: results 1, 0 and -1, the name buffer written only on 1.
TEST_F(ImportFixture, TheCEntryPoint) {
  const testing::FixedOutputFolderInBuildTree fixed;
  const auto folder = FixedOutputFolder();
  ASSERT_EQ(folder, fixed.path());
  WriteBytes(dir() / "blouse.mrk", testing::MarkerFile(BlouseMarker()));
  char name[256] = "";
  ASSERT_EQ(ImportLumercaFile((dir() / "blouse.mrk").c_str(), name), 1);
  EXPECT_STREQ(name, "B------2");
  EXPECT_EQ(ReadFile(folder / "csvimprt.txt"), kBlouseOrders);

  std::strcpy(name, "keep me");
  EXPECT_EQ(ImportLumercaFile((dir() / "missing.mrk").c_str(), name), 0);
  EXPECT_STREQ(name, "keep me");

  auto no_pieces = BlouseMarker();
  no_pieces.pieces.clear();
  WriteBytes(dir() / "empty.mrk", testing::MarkerFile(no_pieces));
  EXPECT_EQ(ImportLumercaFile((dir() / "empty.mrk").c_str(), name), -1);
  EXPECT_STREQ(name, "keep me");
  EXPECT_EQ(ReadFile(folder / "csvimprt.txt"), kBlouseOrders);

  EXPECT_EQ(ImportLumercaFile(nullptr, name), 0);
}

// The fixed folder is the build's setting, a leading "~/" the home folder of
// the calling user from the password database: HOME, which anyone who starts
// the host can set, does not move it.
TEST(FixedOutputFolder, ComesFromThePasswordDatabaseNotTheEnvironment) {
  const char* home = std::getenv("HOME");
  const std::string saved = home ? home : "";
  ::setenv("HOME", "/nonexistent/elsewhere", 1);
  const std::filesystem::path folder = FixedOutputFolder();
  if (home) {
    ::setenv("HOME", saved.c_str(), 1);
  } else {
    ::unsetenv("HOME");
  }
  const std::string configured = LUMERCA_OUTPUT_DIR;
  if (configured.rfind("~/", 0) != 0) {
    EXPECT_EQ(folder, std::filesystem::path(configured));
    return;
  }
  const passwd* user = ::getpwuid(::getuid());
  ASSERT_NE(user, nullptr);
  EXPECT_EQ(folder, std::filesystem::path(user->pw_dir) / configured.substr(2));
}

}  // namespace
}  // namespace lumerca
