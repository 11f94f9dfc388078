// The code pages of the WebAssembly build, which has no ICU at run time: the
// table files that the build wrote from ICU (codepage_builtin.h), so that
// names are normalised and texts decoded exactly as the native build does.
// The single-byte code pages are compiled in. A double-byte code page is read,
// when it is first needed, from the file kTableFolder/cp<id>.bin of the
// module's file system, which the module's host puts there (the page's worker
// fetches it from the folder codepages/ beside the module); while it is not
// there, the code page is not supported, and it is looked for again next time.

#include "platform/codepage.h"
#include "platform/codepage_builtin.h"
#include "platform/codepage_tables.h"

#include <fstream>
#include <iterator>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

namespace lumerca::platform {
namespace {

constexpr const char* kTableFolder = "/codepages";

struct Slot {
  std::mutex mutex;
  std::optional<CodePageTables> tables;
};

std::optional<CodePageTables> Load(const BuiltInCodePage& built_in) {
  if (built_in.table != nullptr) {
    return ReadCodePageTables(
        std::string_view(reinterpret_cast<const char*>(built_in.table), built_in.size));
  }
  std::ifstream in(std::string(kTableFolder) + "/cp" + std::to_string(built_in.id) + ".bin",
                   std::ios::binary);
  if (!in) return std::nullopt;
  const std::string file{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  if (in.bad()) return std::nullopt;
  return ReadCodePageTables(file);
}

// The tables of code page `id`; null when it is not known or not (yet) there.
const CodePageTables* Tables(unsigned id) {
  static const std::unique_ptr<Slot[]> slots(new Slot[kBuiltInCodePageCount]);
  for (std::size_t i = 0; i < kBuiltInCodePageCount; ++i) {
    if (kBuiltInCodePages[i].id != id) continue;
    Slot& slot = slots[i];
    const std::lock_guard<std::mutex> lock(slot.mutex);
    if (!slot.tables) slot.tables = Load(kBuiltInCodePages[i]);
    return slot.tables ? &*slot.tables : nullptr;
  }
  return nullptr;
}

}  // namespace

std::vector<unsigned> KnownCodePages() {
  std::vector<unsigned> ids;
  for (std::size_t i = 0; i < kBuiltInCodePageCount; ++i) ids.push_back(kBuiltInCodePages[i].id);
  return ids;
}

const CodePage* CodePage::Find(unsigned id) {
  const CodePageTables* tables = Tables(id);
  return tables != nullptr ? tables->page.get() : nullptr;
}

std::string AnsiToUtf8(std::string_view bytes, unsigned code_page) {
  if (bytes.empty()) return {};
  const CodePageTables* tables = Tables(code_page);
  if (tables == nullptr) return Latin1ToUtf8(bytes);
  return tables->decoder.ToUtf8(bytes);
}

}  // namespace lumerca::platform
