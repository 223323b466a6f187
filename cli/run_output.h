// The loader's standard output: every console text of a run goes through
// one of these, which remembers the last byte written. The text goes to the
// console writer's queue, so a reader that does not keep up never holds up
// the run (platform/console_writer.h).
#pragma once

#include <chrono>
#include <functional>
#include <string_view>

#include "platform/console_writer.h"

class RunOutput {
 public:
  explicit RunOutput(ConsoleWriter& console) : console_(console) {}

  void write(std::string_view text);
  // printf-style; a text longer than 255 bytes is cut.
  void format(const char* pattern, ...) __attribute__((format(printf, 2, 3)));

  // True while written text waits for the reader: a display that redraws
  // may leave a drawing out.
  bool behind() const { return console_.behind(); }

  // The end of the run. On a terminal, a run whose last text did not end its
  // line gets a line feed, so that the shell's prompt starts on a line of
  // its own; files and pipes get the texts exactly as written. Then waits
  // for the reader to take the rest, while it takes some at least every
  // STALL_WAIT; once interrupted() says the user asked to stop, for at most
  // INTERRUPTED_WAIT more. What the reader did not take then is dropped.
  void endRun(bool terminal, const std::function<bool()>& interrupted);

  static constexpr std::chrono::milliseconds STALL_WAIT{1000};
  static constexpr std::chrono::milliseconds INTERRUPTED_WAIT{300};

 private:
  ConsoleWriter& console_;
  char last_ = '\n';
};
