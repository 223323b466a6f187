#include <sys/ioctl.h>
#include <unistd.h>

#include "platform/terminal.h"

bool enableTerminalControl() { return isatty(STDOUT_FILENO) == 1; }

int terminalRows() {
  winsize size{};
  return ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) == 0 ? size.ws_row : 0;
}

int terminalColumns() {
  winsize size{};
  return ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) == 0 ? size.ws_col : 0;
}

bool windowsCommandLine() { return false; }
