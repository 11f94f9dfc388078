// Writes the table file of each code page that the library knows here, from
// ICU (codepage_tables.h), for the builds that have no ICU at run time:
//
//   lumerca-codepage-tables FOLDER SOURCE.cpp
//
// FOLDER receives cp<id>.bin for every double-byte code page; SOURCE.cpp
// defines kBuiltInCodePages (codepage_builtin.h) with the single-byte ones
// compiled in. Exits 1, naming the code page, when one cannot be written.

#include "platform/codepage.h"
#include "platform/codepage_tables.h"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>

namespace fs = std::filesystem;
using namespace lumerca::platform;

namespace {

bool WriteFile(const fs::path& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  out.close();
  return static_cast<bool>(out);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::cerr << "usage: " << argv[0] << " FOLDER SOURCE.cpp\n";
    return 2;
  }
  const fs::path folder = argv[1];
  std::error_code error;
  fs::create_directories(folder, error);

  std::ostringstream arrays, entries;
  for (const unsigned id : KnownCodePages()) {
    const CodePage* page = CodePage::Find(id);
    if (page == nullptr) {
      std::cerr << "lumerca-codepage-tables: ICU has no converter for code page " << id << "\n";
      return 1;
    }
    const std::string table =
        WriteCodePageTables(*page, [id](std::string_view bytes) { return AnsiToUtf8(bytes, id); });
    if (table.empty()) {
      std::cerr << "lumerca-codepage-tables: code page " << id
                << " decodes a sequence that a table file cannot hold\n";
      return 1;
    }
    if (page->IsMultiByte()) {
      const fs::path file = folder / ("cp" + std::to_string(id) + ".bin");
      if (!WriteFile(file, table)) {
        std::cerr << "lumerca-codepage-tables: cannot write " << file.string() << "\n";
        return 1;
      }
      entries << "    {" << id << ", nullptr, 0},\n";
      continue;
    }
    arrays << "constexpr unsigned char kTable" << id << "[] = {";
    for (std::size_t i = 0; i < table.size(); ++i) {
      arrays << (i % 24 == 0 ? "\n    " : "") << static_cast<unsigned>(static_cast<unsigned char>(table[i]))
             << ",";
    }
    arrays << "\n};\n";
    entries << "    {" << id << ", kTable" << id << ", sizeof kTable" << id << "},\n";
  }

  std::ostringstream source;
  source << "// Written by lumerca-codepage-tables from ICU " << "when building: do not edit.\n"
         << "#include \"platform/codepage_builtin.h\"\n\n"
         << "namespace lumerca::platform {\nnamespace {\n\n"
         << arrays.str() << "\n}  // namespace\n\n"
         << "const BuiltInCodePage kBuiltInCodePages[] = {\n"
         << entries.str() << "};\n"
         << "const std::size_t kBuiltInCodePageCount = sizeof kBuiltInCodePages / sizeof kBuiltInCodePages[0];\n\n"
         << "}  // namespace lumerca::platform\n";
  if (!WriteFile(argv[2], source.str())) {
    std::cerr << "lumerca-codepage-tables: cannot write " << argv[2] << "\n";
    return 1;
  }
  return 0;
}
