// The simulated drive's log: one line per event on standard output, flushed
// at once, so that tests can follow along.
#pragma once

class SimLog {
 public:
  explicit SimLog(bool quiet) : quiet_(quiet) {}
  // A line that is always written (start, image files, errors).
  void line(const char* format, ...) const __attribute__((format(printf, 2, 3)));
  // A line about one datagram; --quiet leaves these out.
  void datagram(const char* format, ...) const __attribute__((format(printf, 2, 3)));

 private:
  bool quiet_;
};
