// The loader's standard output: every console text of a run goes through
// one of these, which remembers the last byte written.
#pragma once

#include <cstdio>
#include <string_view>

class RunOutput {
 public:
  explicit RunOutput(std::FILE* out) : out_(out) {}

  void write(std::string_view text);
  // printf-style; a text longer than 255 bytes is cut.
  void format(const char* pattern, ...) __attribute__((format(printf, 2, 3)));

  // The end of the run. On a terminal, a run whose last text did not end its
  // line gets a line feed, so that the shell's prompt starts on a line of
  // its own; files and pipes get the texts exactly as written.
  void endRun(bool terminal);

 private:
  std::FILE* out_;
  char last_ = '\n';
};
