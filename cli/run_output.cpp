#include "cli/run_output.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <optional>

void RunOutput::write(std::string_view text) {
  if (text.empty()) {
    return;
  }
  // A closed pipe or a full disk must not stop a programming run: what can't
  // be written is dropped.
  console_.write(text);
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

void RunOutput::endRun(bool terminal, const std::function<bool()>& interrupted) {
  if (terminal && last_ != '\n') {
    write("\n");
  }
  // Looked at in slices, so that a stop request during the wait is seen.
  constexpr std::chrono::milliseconds SLICE{50};
  const TimePoint began = Clock::now();
  std::optional<TimePoint> stopBy;
  for (;;) {
    const TimePoint now = Clock::now();
    if (!stopBy && interrupted()) {
      stopBy = now + INTERRUPTED_WAIT;
    }
    TimePoint giveUp = std::max(console_.lastTaken(), began) + STALL_WAIT;
    if (stopBy) {
      giveUp = std::min(giveUp, *stopBy);
    }
    if (now >= giveUp || console_.drain(std::min(giveUp, now + SLICE))) {
      return;
    }
  }
}
