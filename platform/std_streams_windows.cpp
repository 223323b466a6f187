// Windows backend of the console: text-mode standard output and a window
// that stays open until a key is pressed when the loader has its console to
// itself.
#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>

#include "platform/console_writer.h"
#include "platform/std_streams.h"

namespace {

// True when this process is the only one attached to its console: it was
// started from Explorer (a double-click), so its window closes the moment
// it ends. Started from cmd.exe, PowerShell or a script, the shell shares
// the console; with output redirected and no console at all (as under Wine
// in the tests) the count is 0.
bool aloneOnConsole() {
  DWORD processes[2] = {};
  return GetConsoleProcessList(processes, 2) == 1;
}

// Waits for one key press on the console's own input, whatever standard
// input was redirected to.
void waitForKey() {
  const HANDLE input =
      CreateFileA("CONIN$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                  nullptr, OPEN_EXISTING, 0, nullptr);
  if (input == INVALID_HANDLE_VALUE) {
    return;
  }
  FlushConsoleInputBuffer(input);
  for (;;) {
    INPUT_RECORD record{};
    DWORD read = 0;
    if (!ReadConsoleInputA(input, &record, 1, &read) || read == 0) {
      break;
    }
    if (record.EventType == KEY_EVENT && record.Event.KeyEvent.bKeyDown) {
      break;
    }
  }
  CloseHandle(input);
}

}  // namespace

void openStandardStreams() {
  // Files are opened as handles of their own (file_windows.cpp), never as
  // the C runtime's descriptors, so none can take a stream's place; a
  // stream the caller left without a handle writes to the null device.
  if (_fileno(stdin) < 0) {
    std::freopen("NUL", "r", stdin);
  }
  if (_fileno(stdout) < 0) {
    std::freopen("NUL", "w", stdout);
  }
  if (_fileno(stderr) < 0) {
    std::freopen("NUL", "w", stderr);
  }
}

void initStandardOutput() {
  // Text mode: every line feed written reaches the console, a pipe or a
  // file as CR LF, as a Windows console program's output does.
  _setmode(_fileno(stdout), _O_TEXT);
  std::setvbuf(stdout, nullptr, _IONBF, 0);
}

bool standardOutputIsTerminal() { return _isatty(_fileno(stdout)) != 0; }

void endProcess(int status) {
  std::fflush(stdout);
  if (aloneOnConsole()) {
    // Keep the window readable; the title says why it waits, the output
    // itself stays as it is.
    SetConsoleTitleA("Tovrin - press any key to close this window");
    waitForKey();
  }
  std::_Exit(status);
}

// The C runtime's descriptor in text mode (initStandardOutput), so that
// line feeds reach the console, a pipe or a file as CR LF.
bool writeStandardOutput(std::string_view text) {
  constexpr std::size_t CHUNK = 1u << 16;
  while (!text.empty()) {
    const auto size = static_cast<unsigned>(std::min(text.size(), CHUNK));
    const int n = _write(_fileno(stdout), text.data(), size);
    if (n <= 0) {
      return false;
    }
    text.remove_prefix(static_cast<std::size_t>(n));
  }
  return true;
}
