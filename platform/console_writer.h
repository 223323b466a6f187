// The run's console text, written by a thread of its own.
//
// A reader that does not keep up (a pipe nobody reads, a terminal stopped
// with Ctrl+S, a paused pager) blocks whoever writes to it. The run's one
// thread must never block there: the drives would sit mid-image and a stop
// request would go unheard. So the run hands its text to this writer, which
// queues it and returns at once; the writer's thread writes it out in order,
// the moment it is queued, so a reader that keeps up sees every text as it
// is written.
#pragma once

#include <cstddef>
#include <functional>
#include <memory>
#include <string_view>

#include "platform/clock.h"

class ConsoleWriter {
 public:
  // Writes text whole, blocking while the reader does not take it; false
  // when the output is gone (a closed pipe, a full disk).
  using Write = std::function<bool(std::string_view text)>;

  // Writes to standard output unless told otherwise (the tests).
  ConsoleWriter();
  explicit ConsoleWriter(Write write);
  // Text still queued is dropped. A thread still blocked in a write is left
  // to the end of the process, which ends it: the reader may never come.
  ~ConsoleWriter();
  ConsoleWriter(const ConsoleWriter&) = delete;
  ConsoleWriter& operator=(const ConsoleWriter&) = delete;

  // Queues text for the reader; never waits for it.
  void write(std::string_view text);

  // True while queued text waits for the reader.
  bool behind() const;

  // Waits until the reader has taken every text queued, or until `until`.
  // True when every text was written (or dropped as the output was gone).
  bool drain(TimePoint until);

  // When the reader last took a text; when the writer was made, before
  // the first.
  TimePoint lastTaken() const;

  struct State;

 private:
  std::shared_ptr<State> state_;
};

// Writes text whole to standard output as the process set it up, blocking
// while the reader does not take it; false when the output is gone.
bool writeStandardOutput(std::string_view text);
