#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>

#include "platform/console.h"

void consoleInit() {
  std::setvbuf(stdout, nullptr, _IONBF, 0);
  // Without this, a write to a pipe whose reader has gone raises SIGPIPE,
  // which ends the process, possibly half-way through programming a drive.
  std::signal(SIGPIPE, SIG_IGN);
}

bool consoleIsTerminal() { return isatty(STDOUT_FILENO) == 1; }

void endProcess(int status) {
  std::fflush(stdout);
  std::_Exit(status);
}
