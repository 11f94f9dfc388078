#include "storage/compound_file.h"

#include "platform/input_file.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace lumerca::storage {
namespace {

using Bytes = std::vector<std::uint8_t>;

constexpr std::uint32_t kEnd = 0xFFFFFFFE;   // end of a chain
constexpr std::uint32_t kFree = 0xFFFFFFFF;  // free sector
constexpr std::uint32_t kFatSect = 0xFFFFFFFD;
constexpr std::uint32_t kNone = 0xFFFFFFFF;  // no sibling or child

constexpr std::uint8_t kStorage = 1;
constexpr std::uint8_t kStream = 2;
constexpr std::uint8_t kRoot = 5;

void Put16(Bytes& b, std::size_t at, std::uint16_t v) {
  b[at] = static_cast<std::uint8_t>(v);
  b[at + 1] = static_cast<std::uint8_t>(v >> 8);
}
void Put32(Bytes& b, std::size_t at, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) b[at + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(v >> (8 * i));
}
void Put64(Bytes& b, std::size_t at, std::uint64_t v) {
  Put32(b, at, static_cast<std::uint32_t>(v));
  Put32(b, at + 4, static_cast<std::uint32_t>(v >> 32));
}

// Version 3: sector n starts at (n + 1) * 512.
constexpr std::size_t Sector(std::uint32_t n) { return (static_cast<std::size_t>(n) + 1) * 512; }
constexpr std::size_t FatEntry(std::uint32_t n) { return Sector(0) + 4 * n; }
constexpr std::size_t MiniFatEntry(std::uint32_t n) { return Sector(2) + 4 * n; }
constexpr std::size_t DirEntry(std::uint32_t id) { return Sector(1) + 128 * id; }

std::uint8_t SmallByte(std::size_t i) { return static_cast<std::uint8_t>(i * 7 + 3); }
std::uint8_t BigByte(std::size_t i) { return static_cast<std::uint8_t>(i * 13 + i / 512); }

// The header of a version-3 file whose FAT is sector 0 and directory sector 1.
void WriteHeader(Bytes& f, std::uint32_t first_mini_fat, std::uint32_t mini_fat_count) {
  const std::uint8_t signature[8] = {0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1};
  std::copy(std::begin(signature), std::end(signature), f.begin());  // 0x00 signature
  // 0x08 CLSID: 16 zero bytes
  Put16(f, 0x18, 0x003E);          // minor version
  Put16(f, 0x1A, 3);               // major version
  Put16(f, 0x1C, 0xFFFE);          // byte order
  Put16(f, 0x1E, 9);               // sector shift: 512-byte sectors
  Put16(f, 0x20, 6);               // mini sector shift: 64-byte mini sectors
  // 0x22 six reserved bytes
  Put32(f, 0x28, 0);               // directory sector count (0 in version 3)
  Put32(f, 0x2C, 1);               // FAT sector count
  Put32(f, 0x30, 1);               // first directory sector
  Put32(f, 0x34, 0);               // transaction signature
  Put32(f, 0x38, 4096);            // mini stream cutoff
  Put32(f, 0x3C, first_mini_fat);  // first mini FAT sector
  Put32(f, 0x40, mini_fat_count);  // mini FAT sector count
  Put32(f, 0x44, kEnd);            // first DIFAT sector: none
  Put32(f, 0x48, 0);               // DIFAT sector count
  Put32(f, 0x4C, 0);               // DIFAT[0]: the FAT is sector 0
  for (std::uint32_t i = 1; i < 109; ++i) Put32(f, 0x4C + 4 * i, kFree);
}

// The directory entry at byte `at`.
void WriteEntry(Bytes& f, std::size_t at, const std::u16string& name, std::uint8_t type,
                std::uint32_t left, std::uint32_t right, std::uint32_t child,
                std::uint32_t start, std::uint64_t size) {
  for (std::size_t i = 0; i < name.size(); ++i) Put16(f, at + 2 * i, name[i]);  // 0x00 name
  Put16(f, at + 0x40, static_cast<std::uint16_t>(2 * (name.size() + 1)));      // name bytes with NUL
  f[at + 0x42] = type;                                                           // object type
  f[at + 0x43] = 1;                                                              // colour: black
  Put32(f, at + 0x44, left);                                                     // left sibling
  Put32(f, at + 0x48, right);                                                    // right sibling
  Put32(f, at + 0x4C, child);                                                    // child
  // 0x50 CLSID, 0x60 state bits, 0x64 and 0x6C times: zero
  Put32(f, at + 0x74, start);                                                    // start sector
  Put64(f, at + 0x78, size);                                                     // stream size
}

// A minimal valid version-3 file of 13 sectors' worth (6656 bytes):
//   sector 0      FAT
//   sector 1      directory: 0 root, 1 "Small", 2 "Big", 3 "Sub"
//   sector 2      mini FAT: mini sectors 0 -> 1 -> end
//   sector 3      mini stream (the root's chain, 128 bytes): "Small", 100 bytes
//   sectors 4-11  "Big", 4096 bytes, chained 4 -> 5 -> ... -> 11
// The tree of the root: "Small" on top, "Big" its left, "Sub" the right of "Big".
Bytes MinimalV3() {
  Bytes f(Sector(12), 0);
  WriteHeader(f, 2, 1);

  for (std::uint32_t i = 0; i < 128; ++i) Put32(f, FatEntry(i), kFree);
  Put32(f, FatEntry(0), kFatSect);  // the FAT itself
  Put32(f, FatEntry(1), kEnd);      // directory
  Put32(f, FatEntry(2), kEnd);      // mini FAT
  Put32(f, FatEntry(3), kEnd);      // mini stream
  for (std::uint32_t s = 4; s < 11; ++s) Put32(f, FatEntry(s), s + 1);
  Put32(f, FatEntry(11), kEnd);

  WriteEntry(f, DirEntry(0), u"Root Entry", kRoot, kNone, kNone, 1, 3, 128);
  WriteEntry(f, DirEntry(1), u"Small", kStream, 2, kNone, kNone, 0, 100);
  WriteEntry(f, DirEntry(2), u"Big", kStream, kNone, 3, kNone, 4, 4096);
  WriteEntry(f, DirEntry(3), u"Sub", kStorage, kNone, kNone, kNone, 0, 0);

  for (std::uint32_t i = 0; i < 128; ++i) Put32(f, MiniFatEntry(i), kFree);
  Put32(f, MiniFatEntry(0), 1);
  Put32(f, MiniFatEntry(1), kEnd);

  for (std::size_t i = 0; i < 100; ++i) f[Sector(3) + i] = SmallByte(i);
  for (std::size_t i = 0; i < 4096; ++i) f[Sector(4) + i] = BigByte(i);
  return f;
}

struct TreeEntry {
  std::u16string name;
  std::uint8_t type = kStream;
  std::uint32_t left = kNone;
  std::uint32_t right = kNone;
  std::uint32_t child = kNone;
};

// A version-3 file made of a FAT (sectors 0 to f - 1) and a directory (the
// k sectors after it, chained in order) holding the root (id 0, whose child is
// `top`) and then `entries` with ids from 1. Streams are empty; there is no
// mini FAT.
Bytes TreeFile(std::uint32_t top, const std::vector<TreeEntry>& entries) {
  const auto k = static_cast<std::uint32_t>((entries.size() + 1 + 3) / 4);
  std::uint32_t fat = 1;
  while (fat * 128 < fat + k) ++fat;
  Bytes f(Sector(fat + k), 0);
  WriteHeader(f, kEnd, 0);
  Put32(f, 0x2C, fat);  // FAT sector count
  Put32(f, 0x30, fat);  // first directory sector
  for (std::uint32_t i = 0; i < fat; ++i) Put32(f, 0x4C + 4 * i, i);  // DIFAT
  for (std::uint32_t i = 0; i < fat * 128; ++i) Put32(f, FatEntry(i), kFree);
  for (std::uint32_t i = 0; i < fat; ++i) Put32(f, FatEntry(i), kFatSect);
  for (std::uint32_t s = fat; s < fat + k; ++s) Put32(f, FatEntry(s), s + 1 == fat + k ? kEnd : s + 1);
  WriteEntry(f, Sector(fat), u"Root Entry", kRoot, kNone, kNone, top, kEnd, 0);
  for (std::size_t i = 0; i < entries.size(); ++i) {
    const TreeEntry& e = entries[i];
    WriteEntry(f, Sector(fat) + 128 * (i + 1), e.name, e.type, e.left, e.right, e.child, kEnd, 0);
  }
  return f;
}

std::unique_ptr<Storage> Open(const Bytes& bytes) {
  return OpenCompoundFile(std::as_bytes(std::span(bytes)));
}

// Every element of a storage, in the enumerator's order. Stops (and fails the
// test) after `cap` elements rather than hang.
std::vector<Element> List(Storage& storage, std::size_t cap = 1000) {
  std::vector<Element> elements;
  auto enumerator = storage.EnumElements();
  if (!enumerator) {
    ADD_FAILURE() << "no enumerator";
    return elements;
  }
  Element element;
  while (enumerator->Next(element) == Enumerator::Result::Element) {
    elements.push_back(element);
    if (elements.size() > cap) {
      ADD_FAILURE() << "enumeration does not end";
      break;
    }
  }
  return elements;
}

std::vector<std::u16string> Names(Storage& storage) {
  std::vector<std::u16string> names;
  for (const Element& e : List(storage)) names.push_back(e.name);
  return names;
}

// Reads to the end in chunks that cycle through 1..`max_chunk` bytes.
Bytes ReadAll(Stream& stream, std::uint32_t max_chunk = 86) {
  Bytes out;
  std::uint8_t buffer[4096];
  for (std::uint32_t chunk = 1;; chunk = chunk % max_chunk + 1) {
    const std::uint32_t got = stream.Read(buffer, chunk);
    EXPECT_LE(got, chunk);
    out.insert(out.end(), buffer, buffer + got);
    if (got < chunk) break;
  }
  return out;
}

Bytes Expected(std::uint8_t (*pattern)(std::size_t), std::size_t count) {
  Bytes out(count);
  for (std::size_t i = 0; i < count; ++i) out[i] = pattern(i);
  return out;
}

// Walks every storage and stream depth first without recursion, as the import
// does. Returns the number of elements met; stops at `cap`.
std::size_t WalkAll(Storage& root, std::size_t cap = 100000) {
  struct Level {
    std::unique_ptr<Storage> owned;
    Storage* storage;
    std::unique_ptr<Enumerator> enumerator;
  };
  std::vector<Level> stack;
  stack.push_back({nullptr, &root, root.EnumElements()});
  std::size_t met = 0;
  std::uint8_t buffer[512];
  while (!stack.empty() && met < cap) {
    Level& level = stack.back();
    Element element;
    if (!level.enumerator || level.enumerator->Next(element) != Enumerator::Result::Element) {
      stack.pop_back();
      continue;
    }
    ++met;
    if (element.type == kStorage) {
      auto sub = level.storage->OpenStorage(element.name);
      if (!sub) {
        stack.pop_back();  // a storage that cannot be opened ends its parent's walk
        continue;
      }
      Storage* raw = sub.get();
      stack.push_back({std::move(sub), raw, raw->EnumElements()});
    } else if (element.type == kStream) {
      auto stream = level.storage->OpenStream(element.name);
      if (!stream) {
        stack.pop_back();
        continue;
      }
      std::uint64_t total = 0;
      while (std::uint32_t got = stream->Read(buffer, sizeof buffer)) total += got;
      EXPECT_LE(total, element.size);
    }
  }
  EXPECT_LT(met, cap) << "walk does not end";
  return met;
}

// ------------------------------------------------------------ well-formed

TEST(CompoundFile, ReadsMinimalVersion3) {
  const Bytes file = MinimalV3();
  auto root = Open(file);
  ASSERT_TRUE(root);

  const std::vector<Element> elements = List(*root);
  ASSERT_EQ(elements.size(), 3U);
  EXPECT_EQ(elements[0].name, u"Big");
  EXPECT_EQ(elements[0].type, kStream);
  EXPECT_EQ(elements[0].size, 4096U);
  EXPECT_EQ(elements[1].name, u"Sub");
  EXPECT_EQ(elements[1].type, kStorage);
  EXPECT_EQ(elements[1].size, 0U);
  EXPECT_EQ(elements[2].name, u"Small");
  EXPECT_EQ(elements[2].size, 100U);

  auto small = root->OpenStream(u"SMALL");  // names match whatever their case
  ASSERT_TRUE(small);
  EXPECT_EQ(ReadAll(*small), Expected(SmallByte, 100));
  EXPECT_EQ(small->Read(nullptr, 0), 0U);

  auto big = root->OpenStream(u"big");
  ASSERT_TRUE(big);
  auto sub = root->OpenStorage(u"Sub");
  ASSERT_TRUE(sub);
  EXPECT_TRUE(List(*sub).empty());

  // Wrong kinds and unknown names give nothing.
  EXPECT_FALSE(root->OpenStorage(u"Small"));
  EXPECT_FALSE(root->OpenStream(u"Sub"));
  EXPECT_FALSE(root->OpenStream(u"Smal"));
  EXPECT_FALSE(root->OpenStream(u""));
  EXPECT_FALSE(root->OpenStorage(u"Root Entry"));

  // Every object stays valid whatever the order of release.
  root.reset();
  sub.reset();
  EXPECT_EQ(ReadAll(*big, 1), Expected(BigByte, 4096));
}

// Opened in place, a file reads the caller's bytes where they lie (a stream
// sees what they hold when it is read); opened as a copy, it no longer
// depends on them. Both list and read alike.
TEST(CompoundFile, InPlaceReadsTheCallersBytesAndTheCopyDoesNot) {
  Bytes bytes = MinimalV3();
  auto copied = OpenCompoundFile(std::as_bytes(std::span(bytes)));
  auto in_place = OpenCompoundFileInPlace(std::as_bytes(std::span(bytes)));
  ASSERT_TRUE(copied);
  ASSERT_TRUE(in_place);
  EXPECT_EQ(Names(*in_place), Names(*copied));
  auto small = in_place->OpenStream(u"Small");
  ASSERT_TRUE(small);
  EXPECT_EQ(ReadAll(*small), Expected(SmallByte, 100));

  // The small stream's bytes (in the mini stream, at sector 3) change.
  for (std::size_t i = 0; i < 100; ++i) bytes[Sector(3) + i] ^= 0xFF;
  auto again = in_place->OpenStream(u"Small");
  ASSERT_TRUE(again);
  EXPECT_NE(ReadAll(*again), Expected(SmallByte, 100));
  auto from_copy = copied->OpenStream(u"Small");
  ASSERT_TRUE(from_copy);
  EXPECT_EQ(ReadAll(*from_copy), Expected(SmallByte, 100));
}

TEST(CompoundFile, OpensFromPathAndDocument) {
  const Bytes file = MinimalV3();
  const auto path = std::filesystem::temp_directory_path() / "lumerca_storage_compound_test.cfb";
  {
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(file.data()), static_cast<std::streamsize>(file.size()));
  }
  auto root = OpenDocument(path);
  ASSERT_TRUE(root);
  EXPECT_EQ(Names(*root), (std::vector<std::u16string>{u"Big", u"Sub", u"Small"}));
  std::filesystem::remove(path);
  std::string why;
  EXPECT_FALSE(OpenDocument(path, &why));
  EXPECT_EQ(why, "no such file");
  EXPECT_FALSE(OpenDocument(std::filesystem::temp_directory_path(), &why));  // a folder
  EXPECT_EQ(why, "it is a folder, not a file");
}

// What stands at the path is checked on the file opened, which is the file
// read: a link given as the path is followed to a file; a pipe, a device or
// a file swapped in just before the open is never mixed up with the file
// that was there, and a pipe never blocks the open. (The opens run in a
// child whose alarm ends a hang; the margin only catches hangs.)
TEST(CompoundFile, OnlyTheRegularFileOpenedIsRead) {
  namespace fs = std::filesystem;
  const fs::path dir = fs::temp_directory_path() / ("lumerca_storage_open_" + std::to_string(::getpid()));
  fs::remove_all(dir);
  fs::create_directories(dir);
  const auto write = [&](const fs::path& path, const Bytes& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  };
  const Bytes small = MinimalV3();
  Bytes larger = small;
  larger.resize(larger.size() + 4096, 0);  // the same document, with unused sectors after it
  write(dir / "small.cfb", small);
  write(dir / "larger.cfb", larger);
  fs::create_symlink(dir / "small.cfb", dir / "link.cfb");
  ASSERT_EQ(::mkfifo((dir / "pipe").c_str(), 0600), 0);
  ASSERT_EQ(::mkfifo((dir / "pipe2").c_str(), 0600), 0);

  struct Case {
    const char* what;
    fs::path path;
    std::function<void(const fs::path&)> before_open;  // what happens at the path just before the open
    std::string why;                                   // empty: opens
    std::uint64_t size;
  };
  const Case cases[] = {
      {"a link to a file", dir / "link.cfb", {}, "", small.size()},
      {"a named pipe", dir / "pipe", {}, "it is a named pipe, not a file", 0},
      {"a device", "/dev/null", {}, "it is a device, not a file", 0},
      {"a file swapped for a pipe", dir / "small.cfb",
       [&](const fs::path& path) { fs::rename(dir / "pipe2", path); }, "it is a named pipe, not a file", 0},
      {"a file swapped for a larger one", dir / "link.cfb",
       [&](const fs::path& path) { fs::rename(dir / "larger.cfb", fs::read_symlink(path)); }, "",
       larger.size()},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    int channel[2];
    ASSERT_EQ(::pipe(channel), 0);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      ::alarm(120);
      platform::SetBeforeInputOpenHook(c.before_open);
      std::string why;
      std::uint64_t size = 0;
      const bool opened = OpenDocument(c.path, &why, &size) != nullptr;
      const std::string said = (opened ? "opened " + std::to_string(size) : why);
      ssize_t ignored = ::write(channel[1], said.data(), said.size());
      (void)ignored;
      ::_exit(0);
    }
    ::close(channel[1]);
    std::string said;
    char buffer[256];
    for (ssize_t n; (n = ::read(channel[0], buffer, sizeof buffer)) > 0;) said.append(buffer, static_cast<std::size_t>(n));
    ::close(channel[0]);
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status)) << "the open hung";
    EXPECT_EQ(said, c.why.empty() ? "opened " + std::to_string(c.size) : c.why);
  }
  fs::remove_all(dir);
}

// Fields that the reader does not need or that are damaged in a way it can
// stand: the file still opens and reads.
TEST(CompoundFile, ToleratedFields) {
  struct Case {
    const char* what;
    std::function<void(Bytes&)> change;
    std::u16string stream;
    std::size_t delivered;
  };
  const Case cases[] = {
      {"a storage's start sector and size", [](Bytes& f) {
         Put32(f, DirEntry(3) + 0x74, 999);
         Put64(f, DirEntry(3) + 0x78, 0xFFFFFFFFFFFFULL);
       }, u"Small", 100},
      {"the high half of a size in version 3", [](Bytes& f) { Put32(f, DirEntry(1) + 0x7C, 1); },
       u"Small", 100},
      {"two red nodes in a row", [](Bytes& f) { f[DirEntry(1) + 0x43] = 0; f[DirEntry(2) + 0x43] = 0; },
       u"Big", 4096},
      {"name length 0 (the name ends at its NUL)", [](Bytes& f) { Put16(f, DirEntry(1) + 0x40, 0); },
       u"Small", 100},
      {"name length odd", [](Bytes& f) { Put16(f, DirEntry(1) + 0x40, 7); }, u"Small", 100},
      {"name length above 64", [](Bytes& f) { Put16(f, DirEntry(1) + 0x40, 200); }, u"Small", 100},
      {"file not a whole number of sectors", [](Bytes& f) { f.resize(f.size() + 100, 0xAA); },
       u"Big", 4096},
      {"last sector cut short", [](Bytes& f) { f.resize(f.size() - 96); }, u"Big", 4000},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Bytes file = MinimalV3();
    c.change(file);
    auto root = Open(file);
    ASSERT_TRUE(root);
    EXPECT_EQ(Names(*root), (std::vector<std::u16string>{u"Big", u"Sub", u"Small"}));
    auto stream = root->OpenStream(c.stream);
    ASSERT_TRUE(stream);
    const Bytes data = ReadAll(*stream);
    const auto pattern = c.stream == u"Small" ? SmallByte : BigByte;
    EXPECT_EQ(data, Expected(pattern, c.delivered));
    ASSERT_TRUE(root->OpenStorage(u"Sub"));
    EXPECT_TRUE(List(*root->OpenStorage(u"Sub")).empty());
  }
}

TEST(CompoundFile, NameLengthFieldLimitsTheName) {
  Bytes file = MinimalV3();
  Put16(file, DirEntry(1) + 0x40, 4);  // one unit and the NUL: "S"
  auto root = Open(file);
  ASSERT_TRUE(root);
  // "S", on top, is now smaller than "Big" and "Sub" on its left: after "Big"
  // no search finds a larger name, as the enumerator on Windows would show.
  EXPECT_EQ(Names(*root), (std::vector<std::u16string>{u"Big"}));
  EXPECT_TRUE(root->OpenStream(u"s"));
  EXPECT_FALSE(root->OpenStream(u"Small"));
}

// ------------------------------------------------------------ damage that fails the open

TEST(CompoundFile, RejectsDamagedHeaderFatAndDirectory) {
  // Each damage with what the reason must say: the field or sector at fault
  // and its value.
  struct Case {
    const char* what;
    std::function<void(Bytes&)> damage;
    const char* reason;
  };
  const Case cases[] = {
      {"signature", [](Bytes& f) { f[7] = 0xE0; },
       "not a compound file: its first bytes are D0 CF 11 E0 A1 B1 1A E0, not the compound-file signature"},
      {"byte order", [](Bytes& f) { Put16(f, 0x1C, 0xFEFF); }, "byte order 0xFEFF, not 0xFFFE"},
      {"version 2", [](Bytes& f) { Put16(f, 0x1A, 2); }, "header: version 2 (only versions 3 and 4"},
      {"version 3 with 4096-byte sectors", [](Bytes& f) { Put16(f, 0x1E, 12); },
       "sector shift 12 in version 3"},
      {"version 4 with 512-byte sectors", [](Bytes& f) { Put16(f, 0x1A, 4); },
       "sector shift 9 in version 4"},
      {"mini sector shift 7", [](Bytes& f) { Put16(f, 0x20, 7); }, "mini sector shift 7, not 6"},
      {"mini stream cutoff 4095", [](Bytes& f) { Put32(f, 0x38, 4095); },
       "mini stream cutoff 4095, not 4096"},
      {"FAT sector count 0xFFFFFFF0", [](Bytes& f) { Put32(f, 0x2C, 0xFFFFFFF0); },
       "4294967280 FAT sectors declared, but the file holds 12 sectors of 512 bytes"},
      {"FAT sector count above the file's sectors", [](Bytes& f) { Put32(f, 0x2C, 13); },
       "13 FAT sectors declared"},
      {"mini FAT sector count 0xFFFFFFF0", [](Bytes& f) { Put32(f, 0x40, 0xFFFFFFF0); },
       "4294967280 mini FAT sectors declared"},
      {"DIFAT sector count 0xFFFFFFF0", [](Bytes& f) { Put32(f, 0x48, 0xFFFFFFF0); },
       "4294967280 DIFAT sectors declared"},
      {"FAT sector past the end", [](Bytes& f) { Put32(f, 0x4C, 12); },
       "DIFAT: FAT sector 0 of 1 is sector 12, past the end of the file (12 sectors of 512 bytes): "
       "the file may be truncated"},
      {"FAT sector free", [](Bytes& f) { Put32(f, 0x4C, kFree); },
       "FAT sector 0 of 1 is a free sector (0xFFFFFFFF)"},
      {"no FAT", [](Bytes& f) { Put32(f, 0x2C, 0); }, "header: no FAT sector"},
      {"two FAT sectors, no second location", [](Bytes& f) { Put32(f, 0x2C, 2); },
       "DIFAT: FAT sector 1 of 2 is a free sector"},
      {"DIFAT sector its own successor", [](Bytes& f) {
         Put32(f, 0x44, 3);               // first DIFAT sector: 3 (past the mini stream's 128 bytes)
         Put32(f, Sector(3) + 508, 3);    // its last word: the next DIFAT sector, itself
       }, "DIFAT: its chain comes back to sector 3 (a loop)"},
      {"directory: no first sector", [](Bytes& f) { Put32(f, 0x30, kEnd); },
       "directory: its first sector is end of chain"},
      {"directory: first sector past the end", [](Bytes& f) { Put32(f, 0x30, 12); },
       "directory: its chain leads after 0 sectors to sector 12, past the end of the file"},
      {"directory: FAT loop", [](Bytes& f) { Put32(f, FatEntry(1), 1); },
       "directory: its chain comes back to sector 1 after 1 sector (a loop)"},
      {"directory: longer loop", [](Bytes& f) { Put32(f, FatEntry(1), 2); Put32(f, FatEntry(2), 1); },
       "directory: its chain comes back to sector 1 after 2 sectors (a loop)"},
      {"directory: chain ends on a free sector", [](Bytes& f) { Put32(f, FatEntry(1), kFree); },
       "directory: its chain leads after 1 sector to a free sector (0xFFFFFFFF)"},
      {"directory: chain runs past the end", [](Bytes& f) { Put32(f, FatEntry(1), 5000); },
       "to sector 5000, past the end of the file"},
      {"first entry not the root", [](Bytes& f) { f[DirEntry(0) + 0x42] = kStorage; },
       "directory: the first entry is of type 1, not the root (5)"},
      {"truncated inside the header", [](Bytes& f) { f.resize(511); },
       "truncated: the file holds 511 bytes, less than the 512-byte header"},
      {"truncated inside the signature", [](Bytes& f) { f.resize(5); }, "truncated: the file holds 5 bytes"},
      {"empty", [](Bytes& f) { f.clear(); }, "the file is empty"},
      {"truncated before the directory", [](Bytes& f) { f.resize(Sector(1)); },
       "directory: its chain leads after 0 sectors to sector 1, past the end of the file (1 sector of "
       "512 bytes): the file may be truncated"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Bytes file = MinimalV3();
    c.damage(file);
    std::string why;
    EXPECT_FALSE(OpenCompoundFile(std::as_bytes(std::span(file)), &why));
    EXPECT_NE(why.find(c.reason), std::string::npos) << why;
  }
}

// What a file of another kind looks like, from its first bytes.
TEST(CompoundFile, ForeignFilesSayWhatTheyLookLike) {
  const auto describe = [](std::string_view text) {
    return DescribeForeignBytes(std::as_bytes(std::span(text.data(), text.size())));
  };
  using namespace std::string_view_literals;
  EXPECT_EQ(describe(""), "the file is empty");
  EXPECT_EQ(describe("%PDF-1.7\n%\xE2\xE3"), "it looks like a PDF document");
  EXPECT_EQ(describe("PK\x03\x04\x14\0\0\0"sv), "it looks like a ZIP archive (or a document stored as one)");
  EXPECT_EQ(describe("\x89PNG\r\n\x1A\n\0\0\0\x0DIHDR"sv), "it looks like a PNG image");
  EXPECT_EQ(describe("\x0E\x11\xFC\x0D\xD0\xCF\x11\x0E"sv),
            "it looks like a compound file of the early beta format, which is not supported");
  EXPECT_EQ(describe("just some text, not a marker\r\nsecond line"),
            "it holds text: \"just some text, not a marker\"");
  EXPECT_EQ(describe("caf\xE9 \"quoted\" and a long line that goes on and on and on"),
            "it holds text: \"caf\\xE9 \\x22quoted\\x22 and a long line that goes ...\"");
  EXPECT_EQ(describe("\x01\x02\x03\x04\x05\x06\x07\x08\x09"),
            "its first bytes are 01 02 03 04 05 06 07 08, not the compound-file signature D0 CF 11 E0 "
            "A1 B1 1A E1");
  // Through the reader: a PDF is not a compound file.
  std::string why;
  const std::string_view pdf = "%PDF-1.4 and the rest";
  EXPECT_FALSE(OpenCompoundFile(std::as_bytes(std::span(pdf.data(), pdf.size())), &why));
  EXPECT_EQ(why, "not a compound file: it looks like a PDF document");
}

TEST(CompoundFile, FileErrorsInWords) {
  EXPECT_EQ(FileErrorText(std::make_error_code(std::errc::no_such_file_or_directory)), "no such file");
  EXPECT_EQ(FileErrorText(std::make_error_code(std::errc::is_a_directory)), "it is a folder, not a file");
  EXPECT_EQ(FileErrorText(std::make_error_code(std::errc::permission_denied)),
            "no permission to read it (" + std::make_error_code(std::errc::permission_denied).message() +
                ")");
  EXPECT_EQ(FileErrorText(std::make_error_code(std::errc::io_error)),
            "it cannot be read (" + std::make_error_code(std::errc::io_error).message() + ")");
}

// ------------------------------------------------------------ damaged streams

TEST(CompoundFile, DamagedStreamDeliversWhatItsChainHolds) {
  struct Case {
    const char* what;
    std::function<void(Bytes&)> damage;
    std::u16string stream;
    std::size_t delivered;
  };
  const Case cases[] = {
      {"chain shorter than the size", [](Bytes& f) { Put32(f, FatEntry(7), kEnd); }, u"Big", 2048},
      {"chain ends on a free sector", [](Bytes& f) { Put32(f, FatEntry(5), kFree); }, u"Big", 1024},
      {"loop back to the first sector", [](Bytes& f) { Put32(f, FatEntry(6), 4); }, u"Big", 1536},
      {"sector its own successor", [](Bytes& f) { Put32(f, FatEntry(4), 4); }, u"Big", 512},
      {"sector past the end", [](Bytes& f) { Put32(f, FatEntry(5), 1000); }, u"Big", 1024},
      {"first sector past the end", [](Bytes& f) { Put32(f, DirEntry(2) + 0x74, 1000); }, u"Big", 0},
      {"size far above the file", [](Bytes& f) { Put32(f, DirEntry(2) + 0x78, 0xFFFFFFFF); }, u"Big", 4096},
      {"mini sector its own successor", [](Bytes& f) { Put32(f, MiniFatEntry(0), 0); }, u"Small", 64},
      {"mini sector past the mini stream", [](Bytes& f) { Put32(f, MiniFatEntry(0), 2); }, u"Small", 64},
      {"first mini sector past the mini stream", [](Bytes& f) { Put32(f, DirEntry(1) + 0x74, 50); },
       u"Small", 0},
      {"mini stream shorter than the stream", [](Bytes& f) { Put64(f, DirEntry(0) + 0x78, 70); },
       u"Small", 70},
      {"mini stream chain broken", [](Bytes& f) { Put32(f, DirEntry(0) + 0x74, 999); }, u"Small", 0},
      {"mini FAT chain broken", [](Bytes& f) { Put32(f, 0x3C, 999); }, u"Small", 0},
      {"mini FAT chain a loop", [](Bytes& f) { Put32(f, FatEntry(2), 2); }, u"Small", 100},
      {"file cut inside the stream", [](Bytes& f) { f.resize(Sector(6) + 10); }, u"Big", 1034},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Bytes file = MinimalV3();
    c.damage(file);
    auto root = Open(file);
    ASSERT_TRUE(root);
    auto stream = root->OpenStream(c.stream);
    ASSERT_TRUE(stream);
    const auto pattern = c.stream == u"Small" ? SmallByte : BigByte;
    EXPECT_EQ(ReadAll(*stream), Expected(pattern, c.delivered));
    EXPECT_EQ(stream->Read(file.data(), 1), 0U);  // and then nothing, every time
  }
}

// No prefix of the file and no single damaged byte makes the reader crash,
// hang or deliver more than a stream's size (the sanitizers watch the rest).
TEST(CompoundFile, TruncationsAndByteDamageAreSafe) {
  const Bytes good = MinimalV3();
  for (std::size_t length = 0; length <= good.size(); length += 7) {
    Bytes file(good.begin(), good.begin() + static_cast<std::ptrdiff_t>(length));
    if (auto root = Open(file)) WalkAll(*root);
  }
  std::uint32_t seed = 12345;
  const auto next = [&seed] { return seed = seed * 1103515245U + 12345U; };
  // The header, the FAT, the directory and the mini FAT: every byte that steers.
  for (int round = 0; round < 3000; ++round) {
    Bytes file = good;
    for (int hits = 0; hits < 3; ++hits) {
      const std::size_t at = (next() >> 8) % Sector(3);
      file[at] = static_cast<std::uint8_t>(next() >> 16);
    }
    if (auto root = Open(file)) WalkAll(*root);
  }
}

// ------------------------------------------------------------ enumeration order

// A search tree over `count` entries (ids first..first+count-1, given in name
// order): the middle one on top, each half below it.
std::uint32_t Balance(std::vector<TreeEntry>& entries, std::uint32_t first, std::uint32_t count) {
  if (count == 0) return kNone;
  const std::uint32_t middle = first + count / 2;
  TreeEntry& e = entries[middle - 1];
  e.left = Balance(entries, first, middle - first);
  e.right = Balance(entries, middle + 1, first + count - middle - 1);
  return middle;
}

// The same tree with ids in reverse (entry i becomes n + 1 - i), so that the
// directory's own order is the opposite of the name order.
std::uint32_t Reverse(std::vector<TreeEntry>& entries, std::uint32_t top) {
  const auto n = static_cast<std::uint32_t>(entries.size());
  const auto flip = [n](std::uint32_t id) { return id == kNone ? kNone : n + 1 - id; };
  std::reverse(entries.begin(), entries.end());
  for (TreeEntry& e : entries) {
    e.left = flip(e.left);
    e.right = flip(e.right);
  }
  return flip(top);
}

TEST(CompoundFile, EnumerationFollowsTheNameOrder) {
  // In name order: shorter first, then unit by unit upper-cased, so '_' (0x5F)
  // and '~' (0x7E) come after every letter and "zz" before "Z_".
  const std::vector<std::u16string> ordered = {
      u"A", u"b", u"_", u"~", u"ab", u"a~", u"zz", u"Z_", u"aB_", u"\u00e9t\u00e9", u"CLASSES",
  };
  std::vector<TreeEntry> entries;
  for (const auto& name : ordered) entries.push_back({name});
  std::uint32_t top = Balance(entries, 1, static_cast<std::uint32_t>(entries.size()));
  top = Reverse(entries, top);
  auto root = Open(TreeFile(top, entries));
  ASSERT_TRUE(root);
  EXPECT_EQ(Names(*root), ordered);
  EXPECT_TRUE(root->OpenStream(u"\u00c9T\u00c9"));  // Latin-1 letters match upper-cased
  EXPECT_TRUE(root->OpenStream(u"classes"));
  EXPECT_TRUE(root->OpenStream(u"Zz"));
  EXPECT_FALSE(root->OpenStream(u"z"));

  // An unallocated entry below the smallest one is passed over.
  std::uint32_t smallest = top;
  while (entries[smallest - 1].left != kNone) smallest = entries[smallest - 1].left;
  entries.push_back({u"", 0});
  entries[smallest - 1].left = static_cast<std::uint32_t>(entries.size());
  root = Open(TreeFile(top, entries));
  ASSERT_TRUE(root);
  EXPECT_EQ(Names(*root), ordered);

  // The largest entry made its own right sibling: no longer a clean search
  // tree, so each step searches the tree anew; the order is the same.
  std::uint32_t largest = top;
  while (entries[largest - 1].right != kNone) largest = entries[largest - 1].right;
  entries[largest - 1].right = largest;
  root = Open(TreeFile(top, entries));
  ASSERT_TRUE(root);
  EXPECT_EQ(Names(*root), ordered);
}

TEST(CompoundFile, UpperCasingBeyondAscii) {
  // Pairs equal when upper-cased are listed once; other pairs stay apart.
  struct Case {
    std::u16string small, capital;
    bool equal;
  };
  const Case cases[] = {
      {u"\u00e0", u"\u00c0", true},   // a grave
      {u"\u00fe", u"\u00de", true},   // thorn
      {u"\u00ff", u"\u0178", true},   // y diaeresis
      {u"\u00b5", u"\u039c", true},   // micro sign, Greek capital mu
      {u"\u0101", u"\u0100", true},   // a macron
      {u"\u03c9", u"\u03a9", true},   // omega
      {u"\u0436", u"\u0416", true},   // zhe
      {u"\uff41", u"\uff21", true},   // full-width a
      {u"\u00f7", u"\u00d7", false},  // division and multiplication signs
      {u"\u00df", u"\u1e9e", false},  // sharp s has no simple capital
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.small[0]));
    // The smaller unit on top with the other as its right sibling: a search
    // tree both when they differ and when they are equal upper-cased.
    const bool small_first = !c.equal && c.small < c.capital;
    const std::u16string& first = small_first ? c.small : c.capital;
    const std::u16string& second = small_first ? c.capital : c.small;
    auto root = Open(TreeFile(1, {{first, kStream, kNone, 2}, {second}}));
    ASSERT_TRUE(root);
    const auto names = Names(*root);
    if (c.equal) {
      EXPECT_EQ(names, (std::vector<std::u16string>{c.capital}));
    } else {
      EXPECT_EQ(names, (std::vector<std::u16string>{first, second}));
    }
    EXPECT_TRUE(root->OpenStream(c.small));
    EXPECT_TRUE(root->OpenStream(c.capital));
  }
}

TEST(CompoundFile, NamesEqualButForCaseAreListedOnce) {
  // "abc" on top; "ABC" (a storage) its right sibling; "x" its left.
  auto root = Open(TreeFile(1, {{u"abc", kStream, 3, 2}, {u"ABC", kStorage}, {u"x"}}));
  ASSERT_TRUE(root);
  EXPECT_EQ(Names(*root), (std::vector<std::u16string>{u"x", u"abc"}));
  EXPECT_TRUE(root->OpenStream(u"ABC"));  // the name finds the entry on top
  EXPECT_FALSE(root->OpenStorage(u"ABC"));
}

TEST(CompoundFile, OutOfOrderTreeLeavesEntriesUnreached) {
  // C on top, A left, E right; B (smaller than C) hangs left of E, F right of E.
  auto root = Open(TreeFile(1, {{u"C", kStream, 2, 3}, {u"A"}, {u"E", kStream, 4, 5}, {u"B"}, {u"F"}}));
  ASSERT_TRUE(root);
  EXPECT_EQ(Names(*root), (std::vector<std::u16string>{u"A", u"C", u"E", u"F"}));
  EXPECT_FALSE(root->OpenStream(u"B"));

  // M on top with Z on its left and A on its right: only Z is reached.
  root = Open(TreeFile(1, {{u"M", kStream, 2, 3}, {u"Z"}, {u"A"}}));
  ASSERT_TRUE(root);
  EXPECT_EQ(Names(*root), (std::vector<std::u16string>{u"Z"}));
}

TEST(CompoundFile, EntriesOfOtherTypes) {
  // An unallocated entry in the tree steers the search but is never listed;
  // unknown types are listed with their type and open as nothing.
  auto root = Open(TreeFile(1, {{u"M", 0, 2, 3}, {u"B", 7}, {u"X"}}));
  ASSERT_TRUE(root);
  const auto elements = List(*root);
  ASSERT_EQ(elements.size(), 2U);
  EXPECT_EQ(elements[0].name, u"B");
  EXPECT_EQ(elements[0].type, 7U);
  EXPECT_EQ(elements[1].name, u"X");
  EXPECT_FALSE(root->OpenStream(u"B"));
  EXPECT_FALSE(root->OpenStorage(u"B"));
  EXPECT_FALSE(root->OpenStream(u"M"));
  EXPECT_EQ(WalkAll(*root), 2U);
}

TEST(CompoundFile, CyclicTreesTerminate) {
  struct Case {
    const char* what;
    std::uint32_t top;
    std::vector<TreeEntry> entries;
    std::vector<std::u16string> names;
  };
  const Case cases[] = {
      {"own left sibling", 1, {{u"A", kStream, 1}}, {u"A"}},
      {"own right sibling", 1, {{u"A", kStream, kNone, 1}}, {u"A"}},
      {"siblings pointing at each other", 1, {{u"A", kStream, kNone, 2}, {u"B", kStream, 1}}, {u"A", u"B"}},
      {"left and right at each other", 1, {{u"B", kStream, 2}, {u"A", kStream, kNone, 1}}, {u"A", u"B"}},
      {"sibling id past the directory", 1, {{u"A", kStream, 5000, 77}}, {u"A"}},
      {"the root inside its own tree", 0, {}, {u"Root Entry"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    auto root = Open(TreeFile(c.top, c.entries));
    ASSERT_TRUE(root);
    EXPECT_EQ(Names(*root), c.names);
    WalkAll(*root);
  }
}

TEST(CompoundFile, StoragesLeadingBackDoNotRepeat) {
  // "S" holds itself: listed, but it opens only under its own parent.
  auto root = Open(TreeFile(1, {{u"S", kStorage, kNone, kNone, 1}}));
  ASSERT_TRUE(root);
  auto s = root->OpenStorage(u"S");
  ASSERT_TRUE(s);
  EXPECT_EQ(Names(*s), (std::vector<std::u16string>{u"S"}));
  EXPECT_FALSE(s->OpenStorage(u"S"));

  // "P" holds "Q" which holds the tree of the root again.
  root = Open(TreeFile(1, {{u"P", kStorage, kNone, kNone, 2}, {u"Q", kStorage, kNone, kNone, 1}}));
  ASSERT_TRUE(root);
  EXPECT_EQ(WalkAll(*root), 3U);  // P, Q, then P listed in Q but not opened

  // Thirty levels of storages "a" and "b" both holding the next level: a walk
  // that followed both would meet 2^30 storages.
  std::vector<TreeEntry> entries;
  for (std::uint32_t level = 0; level < 30; ++level) {
    const std::uint32_t a = 2 * level + 1;
    const std::uint32_t next = level + 1 < 30 ? a + 2 : kNone;
    entries.push_back({u"a", kStorage, kNone, a + 1, next});
    entries.push_back({u"b", kStorage, kNone, kNone, next});
  }
  root = Open(TreeFile(1, entries));
  ASSERT_TRUE(root);
  const std::size_t met = WalkAll(*root);
  EXPECT_GE(met, 60U);  // every level is still reached through "a"
  EXPECT_LE(met, 200U);
}

// ------------------------------------------------------------ tree shapes and their cost

// `prefix` and `i` in five digits: names of one length, in the order of i.
std::u16string Numbered(char16_t prefix, std::uint32_t i) {
  std::u16string name(6, u'0');
  name[0] = prefix;
  for (std::size_t at = 5; i != 0 && at > 0; --at, i /= 10) name[at] = static_cast<char16_t>(u'0' + i % 10);
  return name;
}

// Lists a storage to its end. Returns how the listing ended.
Enumerator::Result ListToEnd(Storage& storage, std::vector<std::u16string>& names, std::size_t cap) {
  auto enumerator = storage.EnumElements();
  if (!enumerator) return Enumerator::Result::Failed;
  Element element;
  for (;;) {
    const Enumerator::Result result = enumerator->Next(element);
    if (result != Enumerator::Result::Element || names.size() >= cap) return result;
    names.push_back(element.name);
  }
}

TEST(CompoundFile, OneSidedTreesListAndOpenEveryElement) {
  // A chain through right links (smallest on top) or through left links
  // (largest on top) is a valid search tree however deep: every element is
  // listed and opens. A descent of the chain for every name would cost
  // 5,600^2 / 2 steps, far past what the document may spend on searches.
  constexpr std::uint32_t kCount = 5600;
  for (const bool right : {true, false}) {
    SCOPED_TRACE(right ? "right links" : "left links");
    std::vector<TreeEntry> entries;
    for (std::uint32_t i = 1; i <= kCount; ++i) {
      TreeEntry entry{Numbered(u'N', i), i % 97 == 0 ? kStorage : kStream};
      if (right && i < kCount) entry.right = i + 1;
      if (!right && i > 1) entry.left = i - 1;
      entries.push_back(entry);
    }
    auto root = Open(TreeFile(right ? 1 : kCount, entries));
    ASSERT_TRUE(root);
    std::vector<std::u16string> names;
    EXPECT_EQ(ListToEnd(*root, names, kCount + 1), Enumerator::Result::Done);
    ASSERT_EQ(names.size(), kCount);
    for (std::uint32_t i = 0; i < kCount; ++i) {
      if (names[i] != Numbered(u'N', i + 1)) {
        ADD_FAILURE() << "element " << i << " out of order";
        break;
      }
    }
    EXPECT_EQ(WalkAll(*root), kCount);  // a failed open would end the walk early
    // Names open whatever their case; absent names find nothing.
    EXPECT_TRUE(root->OpenStream(u"n00001"));
    EXPECT_TRUE(root->OpenStorage(u"n05529"));
    EXPECT_FALSE(root->OpenStream(u"n05529"));
    EXPECT_FALSE(root->OpenStream(Numbered(u'N', 0)));
    EXPECT_FALSE(root->OpenStream(Numbered(u'N', kCount + 1)));
    EXPECT_FALSE(root->OpenStream(u"N0001"));
  }
}

// Storage "Bad" holds `count` streams chained in name order through right
// links, the last linking back to the first: not a search tree, so every step
// of its listing descends the chain anew. Storage "Good" holds "A", "B" and
// "C" in a clean tree.
Bytes BadAndGood(std::uint32_t count) {
  const std::uint32_t good = count + 3;  // ids of A, B, C: good, good + 1, good + 2
  std::vector<TreeEntry> entries;
  entries.push_back({u"Bad", kStorage, kNone, 2, 3});
  entries.push_back({u"Good", kStorage, kNone, kNone, good + 1});
  for (std::uint32_t i = 1; i <= count; ++i)
    entries.push_back({Numbered(u'N', i), kStream, kNone, i < count ? i + 3 : 3});
  entries.push_back({u"A"});
  entries.push_back({u"B", kStream, good, good + 2});
  entries.push_back({u"C"});
  return TreeFile(1, entries);
}

TEST(CompoundFile, SearchesOfDamagedTreesHaveABoundedCost) {
  // Small enough for the document's allowance: searched exactly as before,
  // every stream listed in order and opened.
  {
    auto root = Open(BadAndGood(200));
    ASSERT_TRUE(root);
    auto bad = root->OpenStorage(u"Bad");
    ASSERT_TRUE(bad);
    std::vector<std::u16string> names;
    EXPECT_EQ(ListToEnd(*bad, names, 400), Enumerator::Result::Done);
    ASSERT_EQ(names.size(), 200U);
    EXPECT_EQ(names.back(), Numbered(u'N', 200));
    EXPECT_EQ(WalkAll(*root), 2U + 200U + 3U);
  }

  // 20,000 streams would take 20,000^2 / 2 steps to list: the listing fails
  // part way, after a prefix in name order.
  const Bytes file = BadAndGood(20000);
  auto root = Open(file);
  ASSERT_TRUE(root);
  auto bad = root->OpenStorage(u"Bad");
  ASSERT_TRUE(bad);
  auto enumerator = bad->EnumElements();
  ASSERT_TRUE(enumerator);
  std::vector<std::u16string> names;
  Element element;
  Enumerator::Result result;
  while ((result = enumerator->Next(element)) == Enumerator::Result::Element && names.size() < 20000)
    names.push_back(element.name);
  EXPECT_EQ(result, Enumerator::Result::Failed);
  EXPECT_EQ(enumerator->Next(element), Enumerator::Result::Failed);  // for good
  // 64 steps per directory entry let about 1,600 of them through.
  EXPECT_GE(names.size(), 1000U);
  EXPECT_LT(names.size(), 20000U);
  for (std::uint32_t i = 0; i < names.size(); ++i) {
    if (names[i] != Numbered(u'N', i + 1)) {
      ADD_FAILURE() << "element " << i << " out of order";
      break;
    }
  }
  // The allowance is the document's: no search of a damaged tree succeeds
  // any more, not even for the name on top...
  EXPECT_FALSE(bad->OpenStream(Numbered(u'N', 1)));
  names.clear();
  EXPECT_EQ(ListToEnd(*root->OpenStorage(u"Bad"), names, 10), Enumerator::Result::Failed);
  EXPECT_TRUE(names.empty());
  // ...while a clean tree needs no such search.
  auto good = root->OpenStorage(u"Good");
  ASSERT_TRUE(good);
  EXPECT_EQ(Names(*good), (std::vector<std::u16string>{u"A", u"B", u"C"}));
  EXPECT_TRUE(good->OpenStream(u"c"));

  // Another document has an allowance of its own: one search deep down the
  // chain is well within it.
  root = Open(file);
  ASSERT_TRUE(root);
  bad = root->OpenStorage(u"Bad");
  ASSERT_TRUE(bad);
  EXPECT_TRUE(bad->OpenStream(Numbered(u'N', 19999)));
  EXPECT_FALSE(bad->OpenStream(Numbered(u'N', 20001)));
}

TEST(CompoundFile, TreesSharedByManyStoragesHaveABoundedCost) {
  // 2,000 storages each hold a stream "ZZZZZZ" whose left sibling is one
  // chain of 2,000 streams shared by all. Each storage's tree is a clean
  // search tree, but putting every one in order would cost 2,000 x 2,000
  // steps: the storages listed first are whole, the later ones fail.
  constexpr std::uint32_t kStorages = 2000;
  constexpr std::uint32_t kShared = 2000;
  constexpr std::uint32_t kFirstShared = 2 * kStorages + 1;
  std::vector<TreeEntry> entries;
  for (std::uint32_t i = 1; i <= kStorages; ++i)
    entries.push_back({Numbered(u'S', i), kStorage, kNone, i < kStorages ? i + 1 : kNone, kStorages + i});
  for (std::uint32_t i = 1; i <= kStorages; ++i) entries.push_back({u"ZZZZZZ", kStream, kFirstShared});
  for (std::uint32_t i = 0; i < kShared; ++i)
    entries.push_back({Numbered(u'A', i), kStream, kNone, i + 1 < kShared ? kFirstShared + i + 1 : kNone});
  auto root = Open(TreeFile(1, entries));
  ASSERT_TRUE(root);

  std::size_t whole = 0;
  std::size_t failed = 0;
  for (std::uint32_t i = 1; i <= kStorages; ++i) {
    auto storage = root->OpenStorage(Numbered(u's', i));
    ASSERT_TRUE(storage);
    std::vector<std::u16string> names;
    const Enumerator::Result result = ListToEnd(*storage, names, kShared + 2);
    if (result == Enumerator::Result::Done && names.size() == kShared + 1 && failed == 0) {
      ++whole;
    } else {
      EXPECT_EQ(result, Enumerator::Result::Failed) << "storage " << i;
      EXPECT_TRUE(names.empty()) << "storage " << i;
      ++failed;
    }
  }
  EXPECT_GE(whole, 100U);
  EXPECT_GT(failed, 0U);
  // The root's own tree was put in order before the allowance ran out.
  EXPECT_TRUE(root->OpenStorage(Numbered(u'S', kStorages)));
}

}  // namespace
}  // namespace lumerca::storage
