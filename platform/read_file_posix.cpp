#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "platform/read_file.h"

OpenedFile openRegularFile(const char* path) {
  // O_NONBLOCK: opening a FIFO with no writer would otherwise wait for one.
  const int fd = open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    return {};
  }
  struct stat st {};
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_size < 0) {
    close(fd);
    return {};
  }
  return {fd, static_cast<std::uint64_t>(st.st_size)};
}

bool readWholeFile(FileHandleValue file, std::uint8_t* out, std::size_t size) {
  std::size_t done = 0;
  while (done < size) {
    const ssize_t n = read(static_cast<int>(file), out + done, size - done);
    if (n < 0 && errno == EINTR) {
      continue;
    }
    if (n <= 0) {
      return false;
    }
    done += static_cast<std::size_t>(n);
  }
  return true;
}

void closeReadFile(FileHandleValue file) {
  if (file != READ_FILE_NONE) {
    close(static_cast<int>(file));
  }
}
