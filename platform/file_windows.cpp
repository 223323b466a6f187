#include <windows.h>

#include "platform/file.h"

namespace {

HANDLE handleOf(AppendFile file) { return reinterpret_cast<HANDLE>(file); }

// The lock appends take turns with: one byte at the largest offset, which
// no write ever reaches.
constexpr DWORD LOCK_AT = MAXDWORD;
constexpr int LOCK_TRIES = 200;
constexpr DWORD LOCK_PAUSE_MS = 5;

bool lockFile(HANDLE h) {
  for (int i = 0; i < LOCK_TRIES; ++i) {
    OVERLAPPED at{};
    at.Offset = LOCK_AT;
    at.OffsetHigh = LOCK_AT;
    if (LockFileEx(h, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &at) != 0) {
      return true;
    }
    if (GetLastError() != ERROR_LOCK_VIOLATION) {
      return false;
    }
    Sleep(LOCK_PAUSE_MS);
  }
  return false;
}

void unlockFile(HANDLE h) {
  OVERLAPPED at{};
  at.Offset = LOCK_AT;
  at.OffsetHigh = LOCK_AT;
  UnlockFileEx(h, 0, 1, 0, &at);
}

}  // namespace

AppendFile openAppendFile(const char* path) {
  // Write access, so that a record cut short can be cut back; every write
  // goes to the end of the file (the offset all ones, below). Others may
  // read and append meanwhile.
  const HANDLE h = CreateFileA(path, FILE_APPEND_DATA | FILE_WRITE_DATA | SYNCHRONIZE,
                               FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                               FILE_ATTRIBUTE_NORMAL, nullptr);
  return h == INVALID_HANDLE_VALUE ? APPEND_FILE_NONE : reinterpret_cast<AppendFile>(h);
}

bool appendToFile(AppendFile file, std::string_view text) {
  if (file == APPEND_FILE_NONE || text.size() > MAXDWORD) {
    return false;
  }
  const HANDLE h = handleOf(file);
  const bool locked = lockFile(h);
  LARGE_INTEGER before{};
  const bool sized = GetFileType(h) == FILE_TYPE_DISK && GetFileSizeEx(h, &before) != 0;
  // Offset all ones: the write goes to the end of the file as it then is.
  OVERLAPPED atEnd{};
  atEnd.Offset = MAXDWORD;
  atEnd.OffsetHigh = MAXDWORD;
  DWORD written = 0;
  const bool whole =
      WriteFile(h, text.data(), static_cast<DWORD>(text.size()), &written, &atEnd) != 0 &&
      written == text.size();
  LARGE_INTEGER after{};
  if (!whole && sized && GetFileSizeEx(h, &after) != 0 && after.QuadPart > before.QuadPart) {
    FILE_END_OF_FILE_INFO end{};
    end.EndOfFile = before;
    SetFileInformationByHandle(h, FileEndOfFileInfo, &end, sizeof end);
  }
  if (locked) {
    unlockFile(h);
  }
  return whole;
}

void closeAppendFile(AppendFile file) {
  if (file != APPEND_FILE_NONE) {
    CloseHandle(handleOf(file));
  }
}
