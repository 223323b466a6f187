#include <windows.h>

#include "platform/file.h"

namespace {

HANDLE handleOf(AppendFile file) { return reinterpret_cast<HANDLE>(file); }

}  // namespace

AppendFile openAppendFile(const char* path) {
  // FILE_APPEND_DATA without FILE_WRITE_DATA: every write goes to the end
  // of the file. Others may read and append meanwhile.
  const HANDLE h =
      CreateFileA(path, FILE_APPEND_DATA | SYNCHRONIZE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                  OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  return h == INVALID_HANDLE_VALUE ? APPEND_FILE_NONE : reinterpret_cast<AppendFile>(h);
}

bool appendToFile(AppendFile file, std::string_view text) {
  if (file == APPEND_FILE_NONE || text.size() > MAXDWORD) {
    return false;
  }
  DWORD written = 0;
  return WriteFile(handleOf(file), text.data(), static_cast<DWORD>(text.size()), &written,
                   nullptr) != 0 &&
         written == text.size();
}

void closeAppendFile(AppendFile file) {
  if (file != APPEND_FILE_NONE) {
    CloseHandle(handleOf(file));
  }
}
