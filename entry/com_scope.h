#pragma once

// COM for the length of one call of the import.
//
// The library does no COM work while it is being loaded or unloaded: both run
// under the loader lock, where initialising or releasing COM is not allowed.
// Instead each call of ImportLumercaFile holds a ComScope around the open and
// the walk of the document. On a thread without COM the scope initialises it
// (single-threaded apartment, as CoInitialize does) and releases it when it
// ends; on a thread whose COM is already initialised it only adds and removes
// a reference, leaving the thread as it found it; on a thread initialised in
// the multithreaded apartment (RPC_E_CHANGED_MODE) it changes nothing and the
// call uses that apartment. Every interface of the document must be released
// before the scope ends.
//
// Elsewhere than on Windows there is no COM and the scope does nothing.

namespace lumerca::entry {

#if defined(_WIN32)

class ComScope {
public:
  ComScope() noexcept;
  ~ComScope();
  ComScope(const ComScope&) = delete;
  ComScope& operator=(const ComScope&) = delete;

  // Whether COM is usable on this thread for the scope's length (initialised
  // here, or already before in either apartment model).
  bool usable() const { return usable_; }

private:
  bool balance_ = false;  // this scope's initialisation must be released
  bool usable_ = false;
};

#else

class ComScope {
public:
  ComScope() noexcept = default;
  ComScope(const ComScope&) = delete;
  ComScope& operator=(const ComScope&) = delete;
  bool usable() const { return true; }
};

#endif

}  // namespace lumerca::entry
