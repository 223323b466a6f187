#include "tools/drivesim_log.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>

namespace {

// Writes the formatted line, then suffix (may be empty), then a line end.
void write(const char* suffix, const char* format, va_list args) {
  char text[1024];
  const int n = std::vsnprintf(text, sizeof text - 40, format, args);
  std::size_t length = n < 0 ? 0 : std::min(static_cast<std::size_t>(n), sizeof text - 41);
  const int m = std::snprintf(text + length, 32, "%s", suffix);
  length += m < 0 ? 0 : std::min(static_cast<std::size_t>(m), std::size_t{31});
  text[length++] = '\n';
  std::fwrite(text, 1, length, stdout);
  std::fflush(stdout);
}

}  // namespace

void SimLog::line(const char* format, ...) const {
  va_list args;
  va_start(args, format);
  write("", format, args);
  va_end(args);
}

void SimLog::datagram(const char* format, ...) const {
  if (quiet_) {
    return;
  }
  char suffix[32] = "";
  if (timestamps_) {
    const std::chrono::duration<double> since = std::chrono::steady_clock::now() - start_;
    std::snprintf(suffix, sizeof suffix, " t=%.3f", since.count());
  }
  va_list args;
  va_start(args, format);
  write(suffix, format, args);
  va_end(args);
}
