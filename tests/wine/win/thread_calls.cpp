// lumerca-thread-calls FILE_A FILE_B
//
// Calls ImportLumercaFile of lumerca_marker.dll (from this program's folder)
// on threads in every COM state, and checks that each call imports and leaves
// the thread's COM state as it found it:
//
//   load      loading the DLL initialises no COM on the loading thread
//   main      a call on the loading thread, which has no COM
//   none      a call on a new thread without COM; no apartment is left behind
//   sta       a call on a thread in a single-threaded apartment; afterwards one
//             CoUninitialize ends that apartment (the call took no reference)
//   mta       a call on a thread in the multithreaded apartment; the thread
//             is still in it afterwards
//   parallel  four threads importing FILE_A and FILE_B alternately, six
//             calls each, at the same time
//
// Prints one line per check; exit status 0 when all pass.

#include <windows.h>
#include <objbase.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

namespace {

using ImportFunction = int (*)(const char* path, char* name);

ImportFunction g_import = nullptr;
const char* g_files[2] = {};
int g_failures = 0;

void Report(const char* check, bool ok, const std::string& detail = {}) {
  std::printf("%s: %s%s%s\n", check, ok ? "ok" : "FAIL", detail.empty() ? "" : " ", detail.c_str());
  if (!ok) ++g_failures;
}

std::string Hex(HRESULT hr) {
  char buffer[16];
  std::snprintf(buffer, sizeof buffer, "0x%08lx", static_cast<unsigned long>(hr));
  return buffer;
}

// One import of FILE_A; true when it returned 1 with a non-empty name.
bool ImportOnce(const char* path) {
  char name[256] = {};
  return g_import(path, name) == 1 && name[0] != '\0';
}

// What is checked on each thread; the thread procedure stores its verdict.
struct ThreadCheck {
  ThreadCheck(const char* l, DWORD (*b)(ThreadCheck&)) : label(l), body(b) {}
  const char* label;
  DWORD (*body)(ThreadCheck&);
  bool ok = false;
  std::string detail;
};

DWORD WINAPI RunCheck(void* param) {
  auto& check = *static_cast<ThreadCheck*>(param);
  return check.body(check);
}

void RunOnThread(ThreadCheck& check) {
  HANDLE thread = CreateThread(nullptr, 0, RunCheck, &check, 0, nullptr);
  if (thread == nullptr) {
    Report(check.label, false, "CreateThread failed");
    return;
  }
  WaitForSingleObject(thread, INFINITE);
  CloseHandle(thread);
  Report(check.label, check.ok, check.detail);
}

DWORD NoCom(ThreadCheck& check) {
  if (!ImportOnce(g_files[0])) {
    check.detail = "import failed";
    return 0;
  }
  // S_OK: the thread had no apartment left over from the call.
  const HRESULT hr = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
  if (SUCCEEDED(hr)) CoUninitialize();
  check.ok = hr == S_OK;
  if (!check.ok) check.detail = "COM left initialised: " + Hex(hr);
  return 0;
}

DWORD InSta(ThreadCheck& check) {
  if (CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED) != S_OK) {
    check.detail = "setup";
    return 0;
  }
  const bool imported = ImportOnce(g_files[0]);
  CoUninitialize();
  const HRESULT hr = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
  if (SUCCEEDED(hr)) CoUninitialize();
  check.ok = imported && hr == S_OK;
  if (!imported) check.detail = "import failed";
  else if (hr != S_OK) check.detail = "references not balanced: " + Hex(hr);
  return 0;
}

DWORD InMta(ThreadCheck& check) {
  if (CoInitializeEx(nullptr, COINIT_MULTITHREADED) != S_OK) {
    check.detail = "setup";
    return 0;
  }
  const bool imported = ImportOnce(g_files[0]);
  // S_FALSE: still in the multithreaded apartment.
  const HRESULT hr = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
  if (SUCCEEDED(hr)) CoUninitialize();
  CoUninitialize();
  check.ok = imported && hr == S_FALSE;
  if (!imported) check.detail = "import failed";
  else if (hr != S_FALSE) check.detail = "apartment changed: " + Hex(hr);
  return 0;
}

LONG g_parallel_failures = 0;

DWORD WINAPI Parallel(void* param) {
  const auto start = reinterpret_cast<std::uintptr_t>(param);
  for (std::uintptr_t i = 0; i < 6; ++i) {
    if (!ImportOnce(g_files[(start + i) % 2])) InterlockedIncrement(&g_parallel_failures);
  }
  return 0;
}

std::wstring ModuleFolder() {
  wchar_t buffer[MAX_PATH];
  const DWORD length = GetModuleFileNameW(nullptr, buffer, MAX_PATH);
  std::wstring path(buffer, length);
  return path.substr(0, path.find_last_of(L"\\/") + 1);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fputs("usage: lumerca-thread-calls FILE_A FILE_B\n", stderr);
    return 2;
  }
  g_files[0] = argv[1];
  g_files[1] = argv[2];

  HMODULE module = LoadLibraryW((ModuleFolder() + L"lumerca_marker.dll").c_str());
  if (module == nullptr) {
    std::fputs("cannot load lumerca_marker.dll\n", stderr);
    return 4;
  }
  g_import = reinterpret_cast<ImportFunction>(
      reinterpret_cast<void (*)()>(GetProcAddress(module, "ImportLumercaFile")));
  if (g_import == nullptr) {
    std::fputs("no ImportLumercaFile\n", stderr);
    return 4;
  }

  {
    const HRESULT hr = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    if (SUCCEEDED(hr)) CoUninitialize();
    Report("load", hr == S_OK, hr == S_OK ? "" : "COM initialised by the load: " + Hex(hr));
  }
  Report("main", ImportOnce(g_files[0]));

  ThreadCheck none{"none", NoCom};
  RunOnThread(none);
  ThreadCheck sta{"sta", InSta};
  RunOnThread(sta);
  ThreadCheck mta{"mta", InMta};
  RunOnThread(mta);

  HANDLE threads[4];
  int started = 0;
  for (std::uintptr_t i = 0; i < 4; ++i) {
    threads[started] = CreateThread(nullptr, 0, Parallel, reinterpret_cast<void*>(i), 0, nullptr);
    if (threads[started] != nullptr) ++started;
  }
  WaitForMultipleObjects(static_cast<DWORD>(started), threads, TRUE, INFINITE);
  for (int i = 0; i < started; ++i) CloseHandle(threads[i]);
  Report("parallel", started == 4 && g_parallel_failures == 0,
         std::to_string(g_parallel_failures) + " failed calls");

  FreeLibrary(module);
  std::fflush(stdout);
  return g_failures == 0 ? 0 : 1;
}
