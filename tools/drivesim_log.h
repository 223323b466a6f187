// The simulated drive's log: one line per event on standard output, flushed
// at once, so that tests can follow along.
#pragma once

#include <chrono>

class SimLog {
 public:
  // quiet: no lines about single datagrams; timestamps: those lines end with
  // " t=S.mmm", the seconds since the log was made.
  SimLog(bool quiet, bool timestamps)
      : quiet_(quiet), timestamps_(timestamps), start_(std::chrono::steady_clock::now()) {}
  // A line that is always written (start, image files, errors).
  void line(const char* format, ...) const __attribute__((format(printf, 2, 3)));
  // A line about one datagram; --quiet leaves these out.
  void datagram(const char* format, ...) const __attribute__((format(printf, 2, 3)));

 private:
  bool quiet_;
  bool timestamps_;
  std::chrono::steady_clock::time_point start_;
};
