// COM for each call of the import.
//
// The DLL has no start or end work of its own (the runtime's default DllMain):
// loading and unloading run under the loader lock, where COM must not be
// initialised or released, and they may run on another thread than the calls.
// COM is brought up by ComScope for each call, on the calling thread, and
// released by the same scope, balanced, before the call returns.

#include "entry/com_scope.h"

#include <windows.h>
#include <objbase.h>

namespace lumerca::entry {

ComScope::ComScope() noexcept {
  // The single-threaded apartment is what CoInitialize gives. S_FALSE (already
  // initialised in that model) took a reference too and must be balanced.
  const HRESULT hr = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE);
  if (SUCCEEDED(hr)) {
    balance_ = true;
    usable_ = true;
  } else if (hr == RPC_E_CHANGED_MODE) {
    // The thread is in the multithreaded apartment: use it as it is.
    usable_ = true;
  }
}

ComScope::~ComScope() {
  if (balance_) CoUninitialize();
}

}  // namespace lumerca::entry
