#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "platform/file.h"
#include "platform/pause.h"

namespace {

// How long an append waits for another loader's append to the same file
// before it writes without the lock.
constexpr int LOCK_TRIES = 200;
constexpr int LOCK_PAUSE_MS = 5;

int fdOf(AppendFile file) { return static_cast<int>(file); }

// Takes the file's lock, shared by every loader that appends to it, so that
// the size read before a write is the size the write starts from. False
// when it could not be had in time (or the file takes no lock).
bool lockFile(int fd) {
  for (int i = 0; i < LOCK_TRIES; ++i) {
    if (flock(fd, LOCK_EX | LOCK_NB) == 0) {
      return true;
    }
    if (errno != EWOULDBLOCK && errno != EINTR) {
      return false;
    }
    pauseMs(LOCK_PAUSE_MS);
  }
  return false;
}

// Writes all of text at the file's end; false at the first write that
// fails or takes nothing.
bool writeWhole(int fd, std::string_view text) {
  while (!text.empty()) {
    const ssize_t n = ::write(fd, text.data(), text.size());
    if (n < 0 && errno == EINTR) {
      continue;
    }
    if (n <= 0) {
      return false;
    }
    text.remove_prefix(static_cast<std::size_t>(n));
  }
  return true;
}

}  // namespace

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
  const int fd = fdOf(file);
  const bool locked = lockFile(fd);
  struct stat before {};
  const bool regular = fstat(fd, &before) == 0 && S_ISREG(before.st_mode);
  const bool whole = writeWhole(fd, text);
  if (!whole && regular) {
    // A full disk took part of the line: cut it back, so the file ends
    // with the last whole record and the next one starts on its own line.
    struct stat after {};
    if (fstat(fd, &after) == 0 && after.st_size > before.st_size) {
      while (ftruncate(fd, before.st_size) != 0 && errno == EINTR) {
      }
    }
  }
  if (locked) {
    flock(fd, LOCK_UN);
  }
  return whole;
}

void closeAppendFile(AppendFile file) {
  if (file != APPEND_FILE_NONE) {
    ::close(fdOf(file));
  }
}
