// POSIX backend of the interrupt watch: SIGINT, SIGTERM and SIGHUP, and a
// pipe whose read end becomes readable at the first of them (the self-pipe
// that wakes a poll at once).
#include <fcntl.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <csignal>
#include <cstddef>
#include <cstdio>
#include <cstdlib>

#include "platform/interrupt.h"

namespace {

constexpr std::array<int, 3> STOP_SIGNALS = {SIGINT, SIGTERM, SIGHUP};

// What the signal handler needs, and nothing more, since it can reach no
// object: the signal that asked for the stop (0: none yet) and the pipe's
// write end (-1: none). Written only while no handler is installed, or by
// the handler itself.
volatile std::sig_atomic_t requestedSignal = 0;
volatile std::sig_atomic_t wakeWriteEnd = -1;

// Makes the pipe readable; only async-signal-safe calls, errno kept.
void wake() {
  const int saved = errno;
  if (wakeWriteEnd >= 0) {
    const char byte = 1;
    // A full pipe is readable already; nothing is lost.
    [[maybe_unused]] const ssize_t n = ::write(wakeWriteEnd, &byte, 1);
  }
  errno = saved;
}

extern "C" void onStopSignal(int signal) {
  if (requestedSignal != 0) {
    // The second request: end at once, as the system would have. The
    // signal stays blocked while its own handler runs, so for the same
    // signal the default action strikes when the handler returns.
    const int saved = errno;
    std::signal(signal, SIG_DFL);
    std::raise(signal);
    // Reached: the signal stays blocked until this handler returns.
    // cppcheck-suppress unreachableCode
    errno = saved;
    return;
  }
  requestedSignal = signal;
  wake();
}

// Moves fd to 3 or above, close-on-exec, so that it never stands in for a
// standard stream.
int aboveStandardStreams(int fd) {
  if (fd >= 3) {
    return fd;
  }
  const int moved = fcntl(fd, F_DUPFD_CLOEXEC, 3);
  ::close(fd);
  return moved;
}

}  // namespace

InterruptWatch::InterruptWatch() {
  requestedSignal = 0;
  int ends[2] = {-1, -1};
  if (pipe2(ends, O_CLOEXEC | O_NONBLOCK) == 0) {
    wakeRead_ = aboveStandardStreams(ends[0]);
    wakeWrite_ = aboveStandardStreams(ends[1]);
    if (wakeRead_ < 0 || wakeWrite_ < 0) {
      closeWake();
    }
  }
  wakeWriteEnd = static_cast<std::sig_atomic_t>(wakeWrite_);
  for (std::size_t i = 0; i < STOP_SIGNALS.size(); ++i) {
    struct sigaction action {};
    action.sa_handler = onStopSignal;
    sigemptyset(&action.sa_mask);
    // Calls under way (a write to the console) go on; the wait for the
    // network wakes through the pipe, not through the interruption.
    action.sa_flags = SA_RESTART;
    struct sigaction found {};
    if (sigaction(STOP_SIGNALS[i], nullptr, &found) == 0 && found.sa_handler != SIG_IGN &&
        sigaction(STOP_SIGNALS[i], &action, nullptr) == 0) {
      installed_ |= 1u << i;
    }
  }
}

InterruptWatch::~InterruptWatch() {
  // A process starts with each signal at its default action or ignored,
  // and only those at the default were taken.
  for (std::size_t i = 0; i < STOP_SIGNALS.size(); ++i) {
    if ((installed_ & (1u << i)) != 0) {
      std::signal(STOP_SIGNALS[i], SIG_DFL);
    }
  }
  installed_ = 0;
  wakeWriteEnd = -1;
  closeWake();
}

void InterruptWatch::closeWake() {
  for (NetSocket* end : {&wakeRead_, &wakeWrite_}) {
    if (*end >= 0) {
      ::close(static_cast<int>(*end));
    }
    *end = NET_INVALID_SOCKET;
  }
}

bool InterruptWatch::requested() const { return requestedSignal != 0; }

NetSocket InterruptWatch::wakeHandle() const { return wakeRead_; }

void InterruptWatch::request() {
  if (requestedSignal == 0) {
    requestedSignal = SIGINT;
    wake();
  }
}

void InterruptWatch::endAsInterrupted() const {
  std::fflush(stdout);
  const int signal = requestedSignal != 0 ? static_cast<int>(requestedSignal) : SIGINT;
  std::signal(signal, SIG_DFL);
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, signal);
  pthread_sigmask(SIG_UNBLOCK, &set, nullptr);
  std::raise(signal);
  // Not reached; should the signal not end the process, the shell's code
  // for it does.
  std::_Exit(128 + signal);
}
