// The user's request to stop a run: Ctrl+C, SIGTERM or a closed terminal
// (SIGHUP) on POSIX systems; Ctrl+C, Ctrl+Break or the console window being
// closed on Windows.
//
// One watch is made by the process entry and lives until the process ends.
// While it lives, the first request does not end the process: it is noted
// and makes the watch's wake handle readable, so that a wait over the run's
// sockets that also watches that handle returns at once; the run then stops
// sending, says and records where each drive stopped, and ends the process
// with endAsInterrupted. A second request ends the process at once, as the
// system would have.
//
// A signal handler can reach no object, so the backends keep what the
// handler needs in the process: the request (a volatile sig_atomic_t, or
// its Windows counterpart) and the handle it wakes the wait with. Nothing
// else is shared.
#pragma once

#include <optional>

#include "platform/net.h"

class InterruptWatch {
 public:
  // Installs the handlers. On POSIX a signal that was ignored when the
  // process started (nohup, a background job of a script) stays ignored.
  InterruptWatch();
  // Gives the signals back to the system's handling.
  ~InterruptWatch();
  InterruptWatch(const InterruptWatch&) = delete;
  InterruptWatch& operator=(const InterruptWatch&) = delete;

  // True once a stop was requested.
  bool requested() const;

  // A handle that the socket waits (netWaitAny) can watch beside sockets:
  // readable from the first request on (POSIX: the read end of a pipe;
  // Windows: a loopback socket). NET_INVALID_SOCKET when none could be made;
  // waits must then look at requested() between slices.
  NetSocket wakeHandle() const;

  // Requests a stop as the first Ctrl+C does (for tests, and the same path
  // the handlers take).
  void request();

  // Ends the process as the request would have ended it: POSIX systems
  // restore the signal's default action and raise it again, so the shell
  // and scripts see the interruption; Windows exits with the console's
  // interrupt code (0xC000013A). Flushes standard output first.
  [[noreturn]] void endAsInterrupted() const;

 private:
  void closeWake();

  // Windows: the socket library, held while the wake sockets are open.
  std::optional<NetLibrary> library_;
  // The wake handle, and what the handlers make it readable with (POSIX:
  // the pipe's write end; Windows: a socket that sends it a datagram).
  NetSocket wakeRead_ = NET_INVALID_SOCKET;
  NetSocket wakeWrite_ = NET_INVALID_SOCKET;
  unsigned installed_ = 0;  // POSIX: a bit per signal whose handler this watch set
};
