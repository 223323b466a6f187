#include <windows.h>

#include <algorithm>

#include "platform/read_file.h"

namespace {

HANDLE handleOf(FileHandleValue file) { return reinterpret_cast<HANDLE>(file); }

// ReadFile takes at most a DWORD of bytes at a time.
constexpr std::size_t READ_PIECE = 1U << 30;

}  // namespace

OpenedFile openRegularFile(const char* path) {
  // A directory does not open without FILE_FLAG_BACKUP_SEMANTICS; a pipe or
  // a device opens, and its type is then not a disk file.
  const HANDLE h = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                               FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    return {};
  }
  LARGE_INTEGER size{};
  if (GetFileType(h) != FILE_TYPE_DISK || !GetFileSizeEx(h, &size) || size.QuadPart < 0) {
    CloseHandle(h);
    return {};
  }
  return {reinterpret_cast<FileHandleValue>(h), static_cast<std::uint64_t>(size.QuadPart)};
}

bool readWholeFile(FileHandleValue file, std::uint8_t* out, std::size_t size) {
  std::size_t done = 0;
  while (done < size) {
    const auto piece = static_cast<DWORD>(std::min(size - done, READ_PIECE));
    DWORD n = 0;
    if (!ReadFile(handleOf(file), out + done, piece, &n, nullptr) || n == 0) {
      return false;
    }
    done += n;
  }
  return true;
}

void closeReadFile(FileHandleValue file) {
  if (file != READ_FILE_NONE) {
    CloseHandle(handleOf(file));
  }
}
