#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <cerrno>

#include <csignal>
#include <cstdio>
#include <cstdlib>

#include "platform/console_writer.h"
#include "platform/std_streams.h"

void openStandardStreams() {
  // The system hands out the lowest free descriptor, so each open below
  // takes exactly the one that was closed.
  for (int fd = STDIN_FILENO; fd <= STDERR_FILENO; ++fd) {
    if (fcntl(fd, F_GETFD) < 0 && errno == EBADF) {
      const int opened = ::open("/dev/null", fd == STDIN_FILENO ? O_RDONLY : O_WRONLY);
      if (opened >= 0 && opened != fd) {
        ::close(opened);  // an earlier one could not be opened either
      }
    }
  }
}

void initStandardOutput() {
  std::setvbuf(stdout, nullptr, _IONBF, 0);
  // Without this, a write to a pipe whose reader has gone raises SIGPIPE,
  // which ends the process, possibly half-way through programming a drive.
  std::signal(SIGPIPE, SIG_IGN);
}

bool standardOutputIsTerminal() { return isatty(STDOUT_FILENO) == 1; }

void endProcess(int status) {
  std::fflush(stdout);
  std::_Exit(status);
}

bool writeStandardOutput(std::string_view text) {
  while (!text.empty()) {
    const ssize_t n = ::write(STDOUT_FILENO, text.data(), text.size());
    if (n > 0) {
      text.remove_prefix(static_cast<std::size_t>(n));
    } else if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      // Output that another program made non-blocking: wait until it takes more.
      pollfd out{STDOUT_FILENO, POLLOUT, 0};
      ::poll(&out, 1, -1);
    } else if (n == 0 || errno != EINTR) {
      return false;
    }
  }
  return true;
}
