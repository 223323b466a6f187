#include <cstdio>
#include <cstdlib>

#include "platform/console.h"

void consoleInit() { std::setvbuf(stdout, nullptr, _IONBF, 0); }

void endProcess(int status) {
  std::fflush(stdout);
  std::_Exit(status);
}
