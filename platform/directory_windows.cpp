#include <windows.h>

#include <cstring>

#include "platform/directory.h"

std::optional<std::vector<std::string>> listDirectory(const char* path) {
  const std::string pattern = std::string(path) + "\\*";
  WIN32_FIND_DATAA found{};
  const HANDLE search = FindFirstFileA(pattern.c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) {
    // An empty folder still lists "." and ".."; a folder that lists nothing
    // at all is none.
    return std::nullopt;
  }
  std::vector<std::string> names;
  do {
    if (std::strcmp(found.cFileName, ".") != 0 && std::strcmp(found.cFileName, "..") != 0) {
      names.emplace_back(found.cFileName);
    }
  } while (FindNextFileA(search, &found));
  FindClose(search);
  return names;
}

std::optional<std::string> resolvedPath(const char* path) {
  // Opened for no access at all, which folders and files allow alike; the
  // system's final path of the handle has every link followed.
  const HANDLE h = CreateFileA(path, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                               nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    return std::nullopt;
  }
  std::string text(MAX_PATH, '\0');
  DWORD length = GetFinalPathNameByHandleA(h, text.data(), static_cast<DWORD>(text.size()),
                                           FILE_NAME_NORMALIZED);
  if (length >= text.size()) {
    text.resize(length + 1);
    length = GetFinalPathNameByHandleA(h, text.data(), static_cast<DWORD>(text.size()),
                                       FILE_NAME_NORMALIZED);
  }
  CloseHandle(h);
  if (length == 0 || length >= text.size()) {
    return std::nullopt;
  }
  text.resize(length);
  return text;
}
