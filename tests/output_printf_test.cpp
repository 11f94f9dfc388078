// CPrintfFile: the platform runtime's "C"-locale text for %d and %f, "\n"
// stored as CR LF, buffering in chunks, and loud rejection of formats the
// writers do not use.

#include "output/printf_file.h"
#include "tests/support/fixed_reference.h"

#include <gtest/gtest.h>

#include <cfloat>
#include <clocale>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>
#include <random>
#include <string>
#include <vector>

namespace lumerca {

using namespace lumerca::output;
using namespace lumerca::platform;
namespace {

class StringSink : public TextSink {
public:
  void Write(const char* data, std::size_t size) override {
    writes.push_back(size);
    bytes.append(data, size);
  }
  std::string bytes;
  std::vector<std::size_t> writes;
};

class FailingSink : public TextSink {
public:
  void Write(const char*, std::size_t) override { throw OutputError("disk full"); }
};

template <class... Args>
std::string Format(const char* format, const Args&... args) {
  StringSink sink;
  CPrintfFile file(sink);
  file.Printf(format, args...);
  file.Close();
  return sink.bytes;
}

std::string Fixed(double value) {
  std::string text;
  AppendFixed(text, value);
  return text;
}

using testing::ReferenceFixed;

TEST(PrintfFileTest, FormatsLikePrintfAndStoresLineEndsAsCrLf) {
  EXPECT_EQ(Format("w:%f\n", 1.5), "w:1.500000\r\n");
  EXPECT_EQ(Format("=:model\n"), "=:model\r\n");
  EXPECT_EQ(Format("s:%d\n", 254), "s:254\r\n");
  EXPECT_EQ(Format("%d,%d,%d\n", -7, 0, std::numeric_limits<int>::min()),
            "-7,0,-2147483648\r\n");
  EXPECT_EQ(Format("%s,%d,%f\n", std::string("FRONT"), 38, -0.5), "FRONT,38,-0.500000\r\n");
  EXPECT_EQ(Format("100%% %s\n", "sure"), "100% sure\r\n");
  // Only "\n" is translated, also inside a string argument; CR and other
  // control bytes pass as they are.
  EXPECT_EQ(Format("a\nb\n\n"), "a\r\nb\r\n\r\n");
  EXPECT_EQ(Format("%s|\r\x1a\n", "x\ny"), "x\r\ny|\r\x1a\r\n");
  // A string holds all its bytes, a C string ends at its NUL.
  EXPECT_EQ(Format("%s\n", std::string("a\0b", 3)), std::string("a\0b\r\n", 5));
  EXPECT_EQ(Format("%s\n", "a\0b"), "a\r\n");
}

TEST(PrintfFileTest, FixedHasSixDecimalsByTheRuntimesRules) {
  const double values[] = {0.0,     -0.0,   1.5,     62.99212598425197, 2.0408143997192383,
                           1e-7,    -1e-7,  5e-7,    4.9999999e-7,      0.0000005000000000000001,
                           0.125,   2.5e-6, 1e15,    123456789.987654321, 1e300,
                           DBL_MAX, -DBL_MAX, DBL_MIN, std::numeric_limits<double>::denorm_min(),
                           7.8378e+115};
  for (double value : values) EXPECT_EQ(Fixed(value), ReferenceFixed(value)) << value;

  std::mt19937_64 random(20240611);
  std::uniform_real_distribution<double> moderate(-1e7, 1e7);
  for (int i = 0; i < 20000; ++i) {
    const double value = moderate(random);
    ASSERT_EQ(Fixed(value), ReferenceFixed(value)) << value;
  }
  for (int i = 0; i < 20000; ++i) {
    double value = 0;
    const std::uint64_t bits = random();
    std::memcpy(&value, &bits, sizeof(value));
    if (!std::isfinite(value)) continue;
    ASSERT_EQ(Fixed(value), ReferenceFixed(value)) << value;
  }
}

TEST(PrintfFileTest, NonFiniteValuesHaveTheRuntimesText) {
  const double inf = std::numeric_limits<double>::infinity();
  const double nan = std::numeric_limits<double>::quiet_NaN();
  EXPECT_EQ(Fixed(inf), "1.#INF00");
  EXPECT_EQ(Fixed(-inf), "-1.#INF00");
  EXPECT_EQ(Fixed(std::copysign(nan, 1.0)), "1.#QNAN0");
  EXPECT_EQ(Fixed(std::copysign(nan, -1.0)), "-1.#IND00");  // 0xFFF8000000000000
  for (double value : {inf, -inf, std::copysign(nan, 1.0), std::copysign(nan, -1.0)}) {
    EXPECT_EQ(Fixed(value), ReferenceFixed(value));
  }
  EXPECT_EQ(Format("xs:%f\n", inf), "xs:1.#INF00\r\n");
  EXPECT_EQ(Format("%f,%f,%d\n", nan, -inf, 2), "1.#QNAN0,-1.#INF00,2\r\n");
}

TEST(PrintfFileTest, LongStringsAreWrittenWholeAndHandedOverInChunks) {
  std::string name(100000, 'N');
  name[50000] = '\n';
  StringSink sink;
  {
    CPrintfFile file(sink);
    file.Printf("p:%s\n", name);
    EXPECT_EQ(sink.writes.size(), 1u);  // more than a chunk is handed over at once
    for (int i = 0; i < 20000; ++i) file.Printf("%d\n", i);
    file.Close();
  }
  std::string expected = "p:" + name.substr(0, 50000) + "\r\n" + name.substr(50001) + "\r\n";
  for (int i = 0; i < 20000; ++i) expected += std::to_string(i) + "\r\n";
  EXPECT_EQ(sink.bytes, expected);
  ASSERT_GE(sink.writes.size(), 2u);
  for (std::size_t i = 0; i + 1 < sink.writes.size(); ++i) {
    EXPECT_GE(sink.writes[i], CPrintfFile::kChunkSize);
  }
}

TEST(PrintfFileTest, NothingReachesTheSinkBeforeAChunkIsFullOrClose) {
  StringSink sink;
  {
    CPrintfFile file(sink);
    file.Printf("=:order\n");
    EXPECT_TRUE(sink.bytes.empty());
    file.Close();
    EXPECT_EQ(sink.bytes, "=:order\r\n");
    file.Close();  // a second Close hands over nothing more
  }
  EXPECT_EQ(sink.writes.size(), 1u);

  // Destroyed without Close: the incomplete file gets nothing more.
  StringSink dropped;
  { CPrintfFile file(dropped); file.Printf("partial\n"); }
  EXPECT_TRUE(dropped.writes.empty());
}

TEST(PrintfFileTest, SinkFailuresReachTheCaller) {
  FailingSink sink;
  CPrintfFile file(sink);
  file.Printf("=:order\n");
  EXPECT_THROW(file.Close(), OutputError);

  FailingSink chunk_sink;
  CPrintfFile chunked(chunk_sink);
  EXPECT_THROW(chunked.Printf("%s\n", std::string(CPrintfFile::kChunkSize, 'x')), OutputError);
}

TEST(PrintfFileTest, RejectsFormatsAndArgumentsTheWritersDoNotUse) {
  StringSink sink;
  CPrintfFile file(sink);
  file.Printf("ok\n");
  EXPECT_THROW(file.Printf("%x\n", 1), std::logic_error);
  EXPECT_THROW(file.Printf("%5d\n", 1), std::logic_error);
  EXPECT_THROW(file.Printf("%.2f\n", 1.0), std::logic_error);
  EXPECT_THROW(file.Printf("%ld\n", 1), std::logic_error);
  EXPECT_THROW(file.Printf("trailing %"), std::logic_error);
  EXPECT_THROW(file.Printf("%s\n", 1), std::logic_error);
  EXPECT_THROW(file.Printf("%d\n", 1.0), std::logic_error);
  EXPECT_THROW(file.Printf("%f\n", 1), std::logic_error);
  EXPECT_THROW(file.Printf("%s\n", static_cast<const char*>(nullptr)), std::logic_error);
  EXPECT_THROW(file.Printf("%d %d\n", 1), std::logic_error);
  EXPECT_THROW(file.Printf("%d\n", 1, 2), std::logic_error);
  // A rejected call adds nothing, not even the text before the bad conversion.
  file.Close();
  EXPECT_EQ(sink.bytes, "ok\r\n");
  EXPECT_THROW(file.Printf("late\n"), std::logic_error);
}

// The library never touches the process's locale: a decimal-comma locale set
// by the host changes neither the text nor the locale itself.
TEST(PrintfFileTest, DecimalCommaLocaleChangesNothing) {
  const std::string before = std::setlocale(LC_ALL, nullptr);
  if (std::setlocale(LC_ALL, "de_DE.UTF-8") == nullptr) {
    GTEST_SKIP() << "locale de_DE.UTF-8 is not installed";
  }
  const std::string german = std::setlocale(LC_ALL, nullptr);
  char probe[32];
  std::snprintf(probe, sizeof(probe), "%f", 1.5);
  EXPECT_STREQ(probe, "1,500000");  // the locale is in force for printf

  const std::string text = Format("w:%f\nxs:%f\n%d\n", 1.5, -2.040814, 1234567);
  const std::string fixed = Fixed(62.99212598425197);
  EXPECT_EQ(std::string(std::setlocale(LC_ALL, nullptr)), german);
  std::setlocale(LC_ALL, before.c_str());

  EXPECT_EQ(text, "w:1.500000\r\nxs:-2.040814\r\n1234567\r\n");
  EXPECT_EQ(fixed, "62.992126");
}

}  // namespace
}  // namespace lumerca
