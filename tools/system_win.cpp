#include "tools/system.h"

#include <atomic>
#include <csignal>

#include <windows.h>
#include <io.h>

namespace lumerca::tools {
namespace {

std::atomic<int> caught{0};

// Runs on a thread of its own that the system starts for each event.
BOOL WINAPI OnConsoleEvent(DWORD event) {
  int none = 0;
  switch (event) {
    case CTRL_C_EVENT:
      caught.compare_exchange_strong(none, SIGINT);
      return TRUE;
    case CTRL_BREAK_EVENT:
    case CTRL_CLOSE_EVENT:
      caught.compare_exchange_strong(none, SIGTERM);
      return TRUE;
    default:
      return FALSE;
  }
}

}  // namespace

unsigned ProcessorsAvailable() {
  DWORD_PTR process = 0, system = 0;
  unsigned count = 0;
  if (GetProcessAffinityMask(GetCurrentProcess(), &process, &system)) {
    for (; process != 0; process &= process - 1) ++count;
  }
  return count > 0 ? count : 1;
}

bool ErrorIsTerminal() { return _isatty(_fileno(stderr)) != 0; }

std::size_t TerminalColumns() {
  CONSOLE_SCREEN_BUFFER_INFO info{};
  if (GetConsoleScreenBufferInfo(GetStdHandle(STD_ERROR_HANDLE), &info)) {
    const int width = info.srWindow.Right - info.srWindow.Left + 1;
    if (width > 1) return static_cast<std::size_t>(width - 1);
  }
  return 79;
}

void CatchStopSignals() { SetConsoleCtrlHandler(OnConsoleEvent, TRUE); }

int StopSignal() { return caught.load(); }

void KeepStopSignalsFromNewThreads() {}

void LetNewThreadsTakeStopSignals() {}

}  // namespace lumerca::tools
