#include <windows.h>

#include "platform/terminal.h"

#ifndef ENABLE_VIRTUAL_TERMINAL_PROCESSING
#define ENABLE_VIRTUAL_TERMINAL_PROCESSING 0x0004
#endif

bool enableTerminalControl() {
  const HANDLE output = GetStdHandle(STD_OUTPUT_HANDLE);
  DWORD mode = 0;
  // GetConsoleMode fails for a file or a pipe; SetConsoleMode fails on a
  // console older than Windows 10, which shows escape sequences as text.
  if (output == nullptr || output == INVALID_HANDLE_VALUE || GetConsoleMode(output, &mode) == 0) {
    return false;
  }
  return (mode & ENABLE_VIRTUAL_TERMINAL_PROCESSING) != 0 ||
         SetConsoleMode(output, mode | ENABLE_VIRTUAL_TERMINAL_PROCESSING) != 0;
}

int terminalRows() {
  CONSOLE_SCREEN_BUFFER_INFO info{};
  if (GetConsoleScreenBufferInfo(GetStdHandle(STD_OUTPUT_HANDLE), &info) == 0) {
    return 0;
  }
  return info.srWindow.Bottom - info.srWindow.Top + 1;
}

int terminalColumns() {
  CONSOLE_SCREEN_BUFFER_INFO info{};
  if (GetConsoleScreenBufferInfo(GetStdHandle(STD_OUTPUT_HANDLE), &info) == 0) {
    return 0;
  }
  return info.srWindow.Right - info.srWindow.Left + 1;
}

bool windowsCommandLine() { return true; }
