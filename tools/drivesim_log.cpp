#include "tools/drivesim_log.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>

namespace {

void write(const char* format, va_list args) {
  char text[1024];
  const int n = std::vsnprintf(text, sizeof text - 1, format, args);
  std::size_t length = n < 0 ? 0 : std::min(static_cast<std::size_t>(n), sizeof text - 2);
  text[length++] = '\n';
  std::fwrite(text, 1, length, stdout);
  std::fflush(stdout);
}

}  // namespace

void SimLog::line(const char* format, ...) const {
  va_list args;
  va_start(args, format);
  write(format, args);
  va_end(args);
}

void SimLog::datagram(const char* format, ...) const {
  if (quiet_) {
    return;
  }
  va_list args;
  va_start(args, format);
  write(format, args);
  va_end(args);
}
