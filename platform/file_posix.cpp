#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

#include "platform/file.h"

AppendFile openAppendFile(const char* path) {
  int fd = -1;
  do {
    // Non-blocking, so that a path naming a FIFO never hangs the run.
    fd = ::open(path, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NONBLOCK, 0644);
  } while (fd < 0 && errno == EINTR);
  return fd < 0 ? APPEND_FILE_NONE : fd;
}

bool appendToFile(AppendFile file, std::string_view text) {
  if (file == APPEND_FILE_NONE) {
    return false;
  }
  ssize_t written = -1;
  do {
    written = ::write(static_cast<int>(file), text.data(), text.size());
  } while (written < 0 && errno == EINTR);
  return written >= 0 && static_cast<std::size_t>(written) == text.size();
}

void closeAppendFile(AppendFile file) {
  if (file != APPEND_FILE_NONE) {
    ::close(static_cast<int>(file));
  }
}
