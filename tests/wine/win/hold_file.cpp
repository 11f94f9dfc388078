// lumerca-hold-file MODE FILE PROGRAM [ARG...]
//
// Opens FILE as MODE says, runs PROGRAM with its arguments as a separate
// process while the file is held, waits for it, and exits with its exit code.
//
//   write-exclusive     write access, no sharing
//   write-share-read    write access, others may read
//   write-share-all     write access, others may read and write
//   read-share-read     read access only, others may read
//
// Exit status 100 when the file cannot be opened or the program not started.

#include <windows.h>

#include <cstdio>
#include <cstring>
#include <string>

namespace {

struct Mode {
  const char* name;
  DWORD access;
  DWORD share;
};

const Mode kModes[] = {
    {"write-exclusive", GENERIC_WRITE, 0},
    {"write-share-read", GENERIC_WRITE, FILE_SHARE_READ},
    {"write-share-all", GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE},
    {"read-share-read", GENERIC_READ, FILE_SHARE_READ},
};

void AppendQuoted(std::string& command, const char* arg) {
  if (!command.empty()) command.push_back(' ');
  command.push_back('"');
  command.append(arg);
  command.push_back('"');
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 4) {
    std::fputs("usage: lumerca-hold-file MODE FILE PROGRAM [ARG...]\n", stderr);
    return 2;
  }
  const Mode* mode = nullptr;
  for (const auto& m : kModes) {
    if (std::strcmp(m.name, argv[1]) == 0) mode = &m;
  }
  if (mode == nullptr) {
    std::fprintf(stderr, "unknown mode %s\n", argv[1]);
    return 2;
  }

  HANDLE file = CreateFileA(argv[2], mode->access, mode->share, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    std::fprintf(stderr, "cannot open %s (error %lu)\n", argv[2],
                 static_cast<unsigned long>(GetLastError()));
    return 100;
  }

  std::string command;
  for (int i = 3; i < argc; ++i) AppendQuoted(command, argv[i]);
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  if (!CreateProcessA(nullptr, command.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr,
                      &startup, &process)) {
    std::fprintf(stderr, "cannot start %s (error %lu)\n", argv[3],
                 static_cast<unsigned long>(GetLastError()));
    CloseHandle(file);
    return 100;
  }
  WaitForSingleObject(process.hProcess, INFINITE);
  DWORD code = 100;
  GetExitCodeProcess(process.hProcess, &code);
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  CloseHandle(file);
  return static_cast<int>(code);
}
