#include "tools/system.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <thread>

#include <pthread.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <unistd.h>

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

// The calling thread's mask before KeepStopSignalsFromNewThreads.
thread_local sigset_t mask_before;

}  // namespace

unsigned ProcessorsAvailable() {
  cpu_set_t set;
  CPU_ZERO(&set);
  if (sched_getaffinity(0, sizeof set, &set) == 0 && CPU_COUNT(&set) > 0) {
    return static_cast<unsigned>(CPU_COUNT(&set));
  }
  return std::max(1u, std::thread::hardware_concurrency());
}

bool ErrorIsTerminal() { return isatty(STDERR_FILENO) != 0; }

std::size_t TerminalColumns() {
  winsize size{};
  if (ioctl(STDERR_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 1) return size.ws_col - 1u;
  return 79;
}

// SIGHUP (the terminal went away) and SIGPIPE (standard output or error
// was a pipe whose reader went away, as with `| head`) stop a run as SIGTERM
// does; after SIGPIPE the writes to the pipe fail, and nothing more is said
// there.
constexpr int kStopSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGPIPE};

void CatchStopSignals() {
  struct sigaction action = {};
  action.sa_handler = OnStopSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  for (const int signal_number : kStopSignals) sigaction(signal_number, &action, nullptr);
}

int StopSignal() {
  if (const int number = caught.load(); number != 0) return number;
  // A stop signal that has come but whose handler has not run yet: the
  // threads that keep it out see it pending until the calling thread takes
  // it, which a busy machine may not schedule before they would start more
  // conversions.
  sigset_t pending;
  if (sigpending(&pending) != 0) return 0;
  for (const int signal_number : kStopSignals) {
    if (sigismember(&pending, signal_number) == 1) return signal_number;
  }
  return 0;
}

void KeepStopSignalsFromNewThreads() {
  sigset_t signals;
  sigemptyset(&signals);
  for (const int signal_number : kStopSignals) sigaddset(&signals, signal_number);
  // A thread starts with the mask of the thread that makes it.
  pthread_sigmask(SIG_BLOCK, &signals, &mask_before);
}

void LetNewThreadsTakeStopSignals() { pthread_sigmask(SIG_SETMASK, &mask_before, nullptr); }

}  // namespace lumerca::tools
