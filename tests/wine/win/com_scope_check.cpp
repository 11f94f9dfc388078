// lumerca-com-scope-check
//
// Checks ComScope on threads in each COM state: inside the scope COM is
// usable; after it the thread is as it was before (no apartment left behind,
// the caller's own initialisation neither released nor doubled). One line per
// check; exit status 0 when all pass.

#include "entry/com_scope.h"

#include <windows.h>
#include <objbase.h>

#include <cstdio>

namespace {

int g_failures = 0;

void Expect(const char* check, bool ok) {
  std::printf("%s: %s\n", check, ok ? "ok" : "FAIL");
  if (!ok) ++g_failures;
}

// What CoInitializeEx(MTA) says on this thread, undone again: S_OK when the
// thread has no COM, S_FALSE in the multithreaded apartment,
// RPC_E_CHANGED_MODE in a single-threaded one.
HRESULT Probe() {
  const HRESULT hr = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
  if (SUCCEEDED(hr)) CoUninitialize();
  return hr;
}

DWORD WINAPI WithoutCom(void*) {
  {
    lumerca::entry::ComScope scope;
    Expect("none: usable", scope.usable());
    Expect("none: apartment inside", Probe() == RPC_E_CHANGED_MODE);
    {
      lumerca::entry::ComScope nested;
      Expect("none: nested usable", nested.usable());
    }
    Expect("none: nested released", Probe() == RPC_E_CHANGED_MODE);
  }
  Expect("none: nothing left", Probe() == S_OK);
  return 0;
}

DWORD WINAPI InSta(void*) {
  if (CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED) != S_OK) {
    Expect("sta: setup", false);
    return 0;
  }
  {
    lumerca::entry::ComScope scope;
    Expect("sta: usable", scope.usable());
  }
  CoUninitialize();
  Expect("sta: balanced", Probe() == S_OK);
  return 0;
}

DWORD WINAPI InMta(void*) {
  if (CoInitializeEx(nullptr, COINIT_MULTITHREADED) != S_OK) {
    Expect("mta: setup", false);
    return 0;
  }
  {
    lumerca::entry::ComScope scope;
    Expect("mta: usable", scope.usable());
    Expect("mta: still multithreaded inside", Probe() == S_FALSE);
  }
  Expect("mta: still multithreaded after", Probe() == S_FALSE);
  CoUninitialize();
  Expect("mta: caller's reference intact", Probe() == S_OK);
  return 0;
}

void Run(LPTHREAD_START_ROUTINE body) {
  HANDLE thread = CreateThread(nullptr, 0, body, nullptr, 0, nullptr);
  if (thread == nullptr) {
    Expect("CreateThread", false);
    return;
  }
  WaitForSingleObject(thread, INFINITE);
  CloseHandle(thread);
}

}  // namespace

int main() {
  Run(WithoutCom);
  Run(InSta);
  Run(InMta);
  std::fflush(stdout);
  return g_failures == 0 ? 0 : 1;
}
