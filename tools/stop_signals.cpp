#include "tools/stop_signals.h"

#include <csignal>

namespace lumerca::tools {
namespace {

volatile std::sig_atomic_t caught = 0;

extern "C" void OnStopSignal(int signal_number) {
  if (caught == 0) caught = signal_number;
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

int StopSignal() { return caught; }

}  // namespace lumerca::tools
