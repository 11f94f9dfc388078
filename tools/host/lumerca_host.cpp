// lumerca-host [--x87 BITS] PATH [NAME]
//
// Loads lumerca_marker.dll from this program's folder, calls ImportLumercaFile
// as the host application does (the path in the ANSI code page, a 256-byte
// name buffer holding NAME or an empty string), and prints the result and the
// name buffer. --x87 sets the precision control of the calling thread's x87
// unit to 24, 53 or 64 bits first, as some hosts (and libraries they load) do. Exit status: 0 imported (1), 1 not imported (0), 3 no pieces
// (-1), 2 wrong usage, 4 the DLL or its export cannot be loaded, 5 any other
// result.

#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

using ImportFunction = int (*)(const char* path, char* name);

std::wstring ModuleFolder() {
  std::wstring buffer(MAX_PATH, L'\0');
  for (;;) {
    const DWORD length = GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
    if (length == 0) return {};
    if (length < buffer.size()) {
      buffer.resize(length);
      break;
    }
    buffer.resize(buffer.size() * 2);
  }
  const auto slash = buffer.find_last_of(L"\\/");
  return slash == std::wstring::npos ? std::wstring() : buffer.substr(0, slash + 1);
}

// Sets the x87 precision control (bits 8 and 9 of the control word: 00 for
// 24 bits, 10 for 53, 11 for 64) and returns the precision then in force.
int SetX87Precision(int bits) {
  const unsigned short field = bits == 24 ? 0x000 : bits == 53 ? 0x200 : 0x300;
  unsigned short word = 0;
  __asm__ volatile("fnstcw %0" : "=m"(word));
  word = static_cast<unsigned short>((word & ~0x300u) | field);
  __asm__ volatile("fldcw %0" : : "m"(word));
  __asm__ volatile("fnstcw %0" : "=m"(word));
  switch (word & 0x300u) {
    case 0x000: return 24;
    case 0x200: return 53;
    case 0x300: return 64;
    default: return 0;
  }
}

int Usage() {
  std::fputs("usage: lumerca-host [--x87 24|53|64] PATH [NAME]\n"
             "Imports a marker file into c:\\userroot\\temp\\ with lumerca_marker.dll.\n",
             stderr);
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  int x87_bits = 0;
  if (argc >= 3 && std::strcmp(argv[1], "--x87") == 0) {
    x87_bits = std::atoi(argv[2]);
    if (x87_bits != 24 && x87_bits != 53 && x87_bits != 64) return Usage();
    argv += 2;
    argc -= 2;
  }
  if (argc < 2 || argc > 3) return Usage();
  const char* path = argv[1];
  const char* given_name = argc == 3 ? argv[2] : "";
  if (std::strlen(given_name) > 255) {
    std::fputs("lumerca-host: NAME is longer than 255 bytes\n", stderr);
    return 2;
  }

  // The full path keeps the DLL search from picking up another copy.
  const std::wstring dll = ModuleFolder() + L"lumerca_marker.dll";
  HMODULE module = LoadLibraryW(dll.c_str());
  if (module == nullptr) {
    std::fprintf(stderr, "lumerca-host: cannot load lumerca_marker.dll (error %lu)\n",
                 static_cast<unsigned long>(GetLastError()));
    return 4;
  }
  // Through a function type without parameters, the accepted way to convert
  // what GetProcAddress returns.
  auto import = reinterpret_cast<ImportFunction>(
      reinterpret_cast<void (*)()>(GetProcAddress(module, "ImportLumercaFile")));
  if (import == nullptr) {
    std::fputs("lumerca-host: lumerca_marker.dll has no ImportLumercaFile\n", stderr);
    FreeLibrary(module);
    return 4;
  }

  char name[256] = {};
  std::strcpy(name, given_name);
  if (x87_bits != 0) std::printf("x87 precision: %d bits\n", SetX87Precision(x87_bits));
  const int result = import(path, name);
  name[255] = '\0';  // printed safely even if the library broke its contract

  std::printf("result: %d\nname: %s\n", result, name);
  std::fflush(stdout);
  FreeLibrary(module);

  switch (result) {
    case 1: return 0;
    case 0: return 1;
    case -1: return 3;
    default: return 5;
  }
}
