// lumerca-wait-input
//
// Prints "waiting" and waits for the end of its standard input, then exits
// with 0. While it waits, the Wine test "runner" looks at the program that
// the system runs for its process: Wine's own loader, or an emulator.

#include <cstdio>

int main() {
  std::puts("waiting");
  std::fflush(stdout);
  while (std::getchar() != EOF) {
  }
  return 0;
}
