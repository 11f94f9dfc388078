// lumerca-stg-generate OUTDIR FIRST_SEED COUNT [--fold-order]
//
// Writes compound documents with the system's structured storage
// (StgCreateDocfile, and StgCreateStorageEx for 4096-byte sectors), for
// comparing the portable reader with the system's reader:
//
//   gen-<seed>.cfb   a random tree of storages and streams from the seed:
//                    names of every length from 1 to 31 characters, with
//                    case variants of names used elsewhere (a variant within
//                    the same storage is refused and skipped), some
//                    characters beyond ASCII; streams of sizes around the
//                    64-byte mini sector, the 512-byte sector and the
//                    4096-byte mini-stream cutoff, written in interleaved
//                    pieces so that their sector chains are fragmented; some
//                    streams shrunk or grown across the cutoff after being
//                    written; some elements destroyed again. Odd seeds use
//                    512-byte sectors, even seeds 4096-byte sectors.
//   big.cfb          one stream large enough that the FAT needs more than the
//                    109 sectors the header can list (the DIFAT is used).
//
// With --fold-order the documents are order-<seed>.cfb instead, whose names
// also hold small letters beyond ASCII, with root elements whose order
// depends on whether those letters are upper-cased when names are compared.
//
// Prints one line per document with the number of names refused as equal to
// a sibling's.

#include <windows.h>
#include <objbase.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <set>
#include <string>
#include <vector>

namespace {

class Random {
public:
  explicit Random(std::uint64_t seed) : state_(seed) {}
  std::uint64_t Next() {  // splitmix64
    std::uint64_t z = (state_ += 0x9E3779B97F4A7C15ULL);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
    return z ^ (z >> 31);
  }
  // Uniform in [0, n).
  std::uint32_t Below(std::uint32_t n) { return static_cast<std::uint32_t>(Next() % n); }
  bool Chance(std::uint32_t percent) { return Below(100) < percent; }

private:
  std::uint64_t state_;
};

struct Releaser {
  void operator()(IUnknown* p) const { p->Release(); }
};
template <class T>
using Ptr = std::unique_ptr<T, Releaser>;

// Characters allowed in element names ('/', '\\', ':' and '!' are not). The
// characters beyond ASCII are capitals or have no case, so upper-casing all
// letters and upper-casing ASCII letters only sort names the same way.
const std::wstring kNameChars =
    L"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789 _-.#$%&()+,;=@[]^`{}~"
    L"\u00C9\u00DF\u00DC\u0416\u03A9\u4E2D";
// Small letters beyond ASCII: their upper-casing moves them past other
// characters (U+00E9 to U+00C9, below U+00DC).
const std::wstring kFoldChars = L"\u00E9\u00FC\u0436\u03C9";

// Sizes at the edges that matter to a reader: empty, the 64-byte mini sector,
// the 512-byte sector, the 4096-byte cutoff between the mini stream and the
// regular sectors, and the 4096-byte sector.
const std::uint32_t kEdgeSizes[] = {0,    1,    2,    63,   64,   65,   127,  128,  511,
                                    512,  513,  1000, 4032, 4095, 4096, 4097, 4098, 4608,
                                    8191, 8192, 8193, 12288, 20000, 65539};

std::uint32_t PickSize(Random& random) {
  if (random.Chance(75)) return kEdgeSizes[random.Below(sizeof kEdgeSizes / sizeof kEdgeSizes[0])];
  return random.Below(70000);
}

// Flips the case of some ASCII letters: within one storage the system refuses
// such a variant of an existing name; in another storage it is a new name.
std::wstring FlipCase(std::wstring name, Random& random) {
  for (auto& c : name) {
    if (!random.Chance(50)) continue;
    if (c >= L'a' && c <= L'z') c = static_cast<wchar_t>(c - 32);
    else if (c >= L'A' && c <= L'Z') c = static_cast<wchar_t>(c + 32);
  }
  return name;
}

// Whether `name` equals a sibling when case is ignored the way the format
// compares names (every letter, not only ASCII). Wine's structured storage
// folds only ASCII letters and would accept such a pair, which a compound file
// cannot hold; the generator does not write it.
bool ClashesWith(const std::wstring& name, const std::vector<std::wstring>& siblings) {
  for (const auto& s : siblings) {
    if (CompareStringOrdinal(name.c_str(), -1, s.c_str(), -1, TRUE) == CSTR_EQUAL) return true;
  }
  return false;
}

std::wstring RandomName(Random& random, const std::vector<std::wstring>& used,
                        const std::wstring& chars) {
  if (!used.empty() && random.Chance(30)) {
    return FlipCase(used[random.Below(static_cast<std::uint32_t>(used.size()))], random);
  }
  const std::uint32_t length = 1 + random.Below(31);
  std::wstring name;
  for (std::uint32_t i = 0; i < length; ++i) {
    name.push_back(chars[random.Below(static_cast<std::uint32_t>(chars.size()))]);
  }
  return name;
}

struct Generator {
  explicit Generator(std::uint64_t seed) : random(seed) {}

  Random random;
  bool fold_order = false;         // names whose order depends on the folding
  std::wstring chars = kNameChars;
  std::vector<std::wstring> used;  // every name created, for case variants
  int refused = 0;
  int failures = 0;

  void Check(HRESULT hr, const char* what) {
    if (FAILED(hr)) {
      std::fprintf(stderr, "%s failed: 0x%08lx\n", what, static_cast<unsigned long>(hr));
      ++failures;
    }
  }

  std::vector<unsigned char> Bytes(std::uint32_t size) {
    std::vector<unsigned char> bytes(size);
    for (auto& b : bytes) b = static_cast<unsigned char>(random.Next());
    return bytes;
  }

  struct Pending {
    Ptr<IStream> stream;
    std::vector<unsigned char> bytes;
    std::size_t written = 0;
    std::uint32_t final_size = 0;  // set after writing (shrink or grow)
  };

  void Fill(IStorage& storage, int depth) {
    const std::uint32_t count = depth == 0 ? 4 + random.Below(8) : random.Below(7);
    std::vector<Pending> streams;
    std::vector<std::wstring> names;
    // Names whose order depends on upper-casing beyond ASCII: with ASCII-only
    // folding U+00E9 sorts after U+00DC and U+0436 after U+0420, with full
    // folding (U+00C9, U+0416) before them.
    std::vector<std::wstring> planned;
    if (depth == 0 && fold_order) {
      planned = {L"\u00E9", L"\u00DC", L"x\u0436", L"x\u0420", L"\u00E9\u00E9\u00E9", L"\u00DC\u00DC\u00DC"};
    }
    for (std::uint32_t i = 0; i < count + planned.size(); ++i) {
      const std::wstring name = i < planned.size() ? planned[i] : RandomName(random, used, chars);
      if (ClashesWith(name, names)) {
        ++refused;
        continue;
      }
      const DWORD mode = STGM_READWRITE | STGM_SHARE_EXCLUSIVE | STGM_FAILIFTHERE;
      if (depth < 4 && random.Chance(25)) {
        IStorage* raw = nullptr;
        const HRESULT hr = storage.CreateStorage(name.c_str(), mode, 0, 0, &raw);
        if (hr == STG_E_FILEALREADYEXISTS) {
          ++refused;
          continue;
        }
        Check(hr, "CreateStorage");
        if (FAILED(hr)) continue;
        Ptr<IStorage> sub(raw);
        used.push_back(name);
        names.push_back(name);
        Fill(*sub, depth + 1);
      } else {
        IStream* raw = nullptr;
        const HRESULT hr = storage.CreateStream(name.c_str(), mode, 0, 0, &raw);
        if (hr == STG_E_FILEALREADYEXISTS) {
          ++refused;
          continue;
        }
        Check(hr, "CreateStream");
        if (FAILED(hr)) continue;
        used.push_back(name);
        names.push_back(name);
        Pending pending{Ptr<IStream>(raw), Bytes(PickSize(random)), 0, 0};
        pending.final_size = static_cast<std::uint32_t>(pending.bytes.size());
        if (random.Chance(15)) pending.final_size = PickSize(random);
        streams.push_back(std::move(pending));
      }
    }
    // Interleaved writes: every stream of this storage grows a little per
    // round, so their chains take turns in the FAT and the mini FAT.
    for (bool more = true; more;) {
      more = false;
      for (auto& s : streams) {
        if (s.written == s.bytes.size()) continue;
        const std::size_t chunk = std::min<std::size_t>(s.bytes.size() - s.written, 1 + random.Below(3000));
        ULONG done = 0;
        Check(s.stream->Write(s.bytes.data() + s.written, static_cast<ULONG>(chunk), &done), "Write");
        s.written += chunk;
        more = true;
      }
    }
    // A new size after the writes: shrinking moves a stream below the cutoff
    // into the mini stream, growing moves it out (the new bytes are zero).
    for (auto& s : streams) {
      if (s.final_size == s.bytes.size()) continue;
      ULARGE_INTEGER size;
      size.QuadPart = s.final_size;
      Check(s.stream->SetSize(size), "SetSize");
    }
    streams.clear();
    if (!names.empty() && random.Chance(30)) {
      Check(storage.DestroyElement(names[random.Below(static_cast<std::uint32_t>(names.size()))].c_str()),
            "DestroyElement");
    }
  }
};

Ptr<IStorage> Create(const std::wstring& path, bool large_sectors) {
  IStorage* raw = nullptr;
  const DWORD mode = STGM_CREATE | STGM_READWRITE | STGM_SHARE_EXCLUSIVE;
  HRESULT hr;
  if (large_sectors) {
    STGOPTIONS options{};
    options.usVersion = 1;
    options.ulSectorSize = 4096;
    hr = StgCreateStorageEx(path.c_str(), mode, STGFMT_DOCFILE, 0, &options, nullptr, IID_IStorage,
                            reinterpret_cast<void**>(&raw));
  } else {
    hr = StgCreateDocfile(path.c_str(), mode, 0, &raw);
  }
  if (FAILED(hr)) {
    std::fprintf(stderr, "cannot create %ls: 0x%08lx\n", path.c_str(), static_cast<unsigned long>(hr));
    return nullptr;
  }
  return Ptr<IStorage>(raw);
}

std::wstring Widen(const char* s) {
  std::wstring out;
  while (*s != '\0') out.push_back(static_cast<wchar_t>(static_cast<unsigned char>(*s++)));
  return out;
}

}  // namespace

int main(int argc, char** argv) {
  const bool fold_order = argc == 5 && std::strcmp(argv[4], "--fold-order") == 0;
  if (argc != 4 && !fold_order) {
    std::fputs("usage: lumerca-stg-generate OUTDIR FIRST_SEED COUNT [--fold-order]\n", stderr);
    return 2;
  }
  const std::wstring folder = Widen(argv[1]) + L"\\";
  const unsigned long first = std::strtoul(argv[2], nullptr, 10);
  const unsigned long count = std::strtoul(argv[3], nullptr, 10);
  if (FAILED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) return 3;

  int failures = 0;
  const std::wstring stem = fold_order ? L"order-" : L"gen-";
  for (unsigned long seed = first; seed < first + count; ++seed) {
    const std::wstring file = stem + std::to_wstring(seed) + L".cfb";
    const bool large = seed % 2 == 0;
    auto root = Create(folder + file, large);
    if (!root) {
      ++failures;
      continue;
    }
    Generator generator(seed);
    if (fold_order) {
      generator.fold_order = true;
      generator.chars += kFoldChars;
    }
    generator.Fill(*root, 0);
    failures += generator.failures;
    std::printf("%ls: %s sectors, %zu names, %d refused\n", file.c_str(), large ? "4096" : "512",
                generator.used.size(), generator.refused);
  }

  if (!fold_order) {
    // 120 FAT sectors of 512 bytes map 7.5 MB; the header lists 109.
    auto root = Create(folder + L"big.cfb", false);
    if (!root) {
      ++failures;
    } else {
      Generator generator(7);
      IStream* raw = nullptr;
      generator.Check(root->CreateStream(L"Big", STGM_READWRITE | STGM_SHARE_EXCLUSIVE, 0, 0, &raw),
                      "CreateStream");
      if (raw != nullptr) {
        Ptr<IStream> stream(raw);
        const auto bytes = generator.Bytes(120u * 128u * 512u + 777u);
        ULONG done = 0;
        generator.Check(stream->Write(bytes.data(), static_cast<ULONG>(bytes.size()), &done), "Write");
      }
      generator.Fill(*root, 1);
      failures += generator.failures;
      std::printf("big.cfb\n");
    }
  }

  CoUninitialize();
  return failures == 0 ? 0 : 1;
}
