#include "cli/run_output.h"

#include <cstdarg>

void RunOutput::write(std::string_view text) {
  if (text.empty()) {
    return;
  }
  // A closed pipe or a full disk must not stop a programming run: what can't
  // be written is dropped.
  std::fwrite(text.data(), 1, text.size(), out_);
  last_ = text.back();
}

void RunOutput::format(const char* pattern, ...) {
  char text[256];
  va_list args;
  va_start(args, pattern);
  const int n = std::vsnprintf(text, sizeof text, pattern, args);
  va_end(args);
  if (n > 0) {
    write({text, static_cast<std::size_t>(n) < sizeof text ? static_cast<std::size_t>(n)
                                                           : sizeof text - 1});
  }
}

void RunOutput::endRun(bool terminal) {
  if (terminal && last_ != '\n') {
    write("\n");
  }
  std::fflush(out_);
}
