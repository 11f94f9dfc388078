#include "tools/stop_signals.h"

#include <atomic>
#include <cerrno>
#include <csignal>

namespace lumerca::tools {
namespace {

// Written by the handler, read by every thread of the run: a lock-free
// atomic is safe for both.
std::atomic<int> caught{0};
static_assert(std::atomic<int>::is_always_lock_free);

extern "C" void OnStopSignal(int signal_number) {
  const int saved = errno;
  int none = 0;
  caught.compare_exchange_strong(none, signal_number);
  errno = saved;
}

}  // namespace

void CatchStopSignals() {
  struct sigaction action = {};
  action.sa_handler = OnStopSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
}

int StopSignal() { return caught.load(); }

}  // namespace lumerca::tools
