// lumerca-stg-list [--portable] FILE...
//
// Lists the tree of each compound document depth first, in the enumerator's
// order, one element a line:
//
//   <path> TAB <type> TAB <size> [TAB <bytes read> TAB <FNV-1a 64 of the bytes>]
//
// Streams are read through the storage layer's Stream::Read in 1000-byte
// pieces. Names are printed with every character outside printable ASCII (and
// the backslash) as \uXXXX, so that the listing is plain ASCII on every
// system. The same source is built natively (the portable reader) and for
// Windows (the system's structured storage through the COM backend, or with
// --portable the portable reader of the 32-bit build), so that the listings
// can be compared line by line.

#include "storage/compound_file.h"
#include "storage/storage.h"

#if defined(_WIN32)
#include "storage/com_storage.h"

#include <fcntl.h>
#include <io.h>
#include <objbase.h>
#include <windows.h>
#endif

#include <cinttypes>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

namespace {

using lumerca::storage::Element;
using lumerca::storage::Enumerator;
using lumerca::storage::Storage;

std::string Escape(const std::u16string& name) {
  std::string out;
  for (char16_t c : name) {
    if (c >= 0x20 && c < 0x7F && c != u'\\') {
      out.push_back(static_cast<char>(c));
    } else {
      char buffer[8];
      std::snprintf(buffer, sizeof buffer, "\\u%04X", static_cast<unsigned>(c));
      out += buffer;
    }
  }
  return out;
}

void Line(const std::string& text) {
  std::fwrite(text.data(), 1, text.size(), stdout);
  std::fputc('\n', stdout);
}

void ListStream(Storage& storage, const Element& element, const std::string& line) {
  auto stream = storage.OpenStream(element.name);
  if (!stream) {
    Line(line + "\topen-failed");
    return;
  }
  std::uint64_t hash = 0xcbf29ce484222325ULL;
  std::uint64_t total = 0;
  unsigned char buffer[1000];
  for (;;) {
    const std::uint32_t got = stream->Read(buffer, sizeof buffer);
    for (std::uint32_t i = 0; i < got; ++i) {
      hash ^= buffer[i];
      hash *= 0x100000001b3ULL;
    }
    total += got;
    if (got < sizeof buffer) break;
  }
  char tail[64];
  std::snprintf(tail, sizeof tail, "\t%" PRIu64 "\t%016" PRIx64, total, hash);
  Line(line + tail);
}

void ListStorage(Storage& storage, const std::string& prefix) {
  auto enumerator = storage.EnumElements();
  if (!enumerator) {
    Line(prefix + "\tenum-failed");
    return;
  }
  Element element;
  for (;;) {
    const auto result = enumerator->Next(element);
    if (result == Enumerator::Result::Done) return;
    if (result == Enumerator::Result::Failed) {
      Line(prefix + "\tnext-failed");
      return;
    }
    const std::string path = prefix + "/" + Escape(element.name);
    char fields[64];
    std::snprintf(fields, sizeof fields, "\t%" PRIu32 "\t%" PRIu64, element.type, element.size);
    const std::string line = path + fields;
    if (element.type == static_cast<std::uint32_t>(lumerca::storage::ElementType::Storage)) {
      auto sub = storage.OpenStorage(element.name);
      if (!sub) {
        Line(line + "\topen-failed");
        continue;
      }
      Line(line);
      ListStorage(*sub, path);
    } else if (element.type == static_cast<std::uint32_t>(lumerca::storage::ElementType::Stream)) {
      ListStream(storage, element, line);
    } else {
      Line(line);
    }
  }
}

}  // namespace

int main(int argc, char** argv) {
#if defined(_WIN32)
  _setmode(_fileno(stdout), _O_BINARY);
  if (FAILED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) return 3;
#endif
  int first = 1;
  bool portable = false;
  if (argc > 1 && std::strcmp(argv[1], "--portable") == 0) {
    portable = true;
    first = 2;
  }
  if (first >= argc) {
    std::fputs("usage: lumerca-stg-list [--portable] FILE...\n", stderr);
    return 2;
  }
  for (int i = first; i < argc; ++i) {
    const std::filesystem::path path(argv[i]);
    Line("== " + path.filename().string());
    std::unique_ptr<Storage> root;
#if defined(_WIN32)
    root = portable ? lumerca::storage::OpenCompoundFile(path)
                    : lumerca::storage::OpenComDocument(path);
#else
    static_cast<void>(portable);
    root = lumerca::storage::OpenCompoundFile(path);
#endif
    if (!root) {
      Line("open-failed");
      continue;
    }
    ListStorage(*root, "");
  }
  std::fflush(stdout);
#if defined(_WIN32)
  CoUninitialize();
#endif
  return 0;
}
