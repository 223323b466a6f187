#include <unistd.h>

#include "platform/terminal.h"

bool enableTerminalControl() { return isatty(STDOUT_FILENO) == 1; }
bool windowsCommandLine() { return false; }
