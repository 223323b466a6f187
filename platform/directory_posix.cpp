#include <dirent.h>

#include <cstdlib>
#include <cstring>

#include "platform/directory.h"

std::optional<std::vector<std::string>> listDirectory(const char* path) {
  DIR* dir = opendir(path);
  if (dir == nullptr) {
    return std::nullopt;
  }
  std::vector<std::string> names;
  // readdir is safe on a stream no other thread reads (POSIX.1-2008 leaves
  // only a shared stream unsafe; readdir_r is deprecated).
  // cppcheck-suppress readdirCalled
  while (const dirent* entry = readdir(dir)) {  // NOLINT(concurrency-mt-unsafe)
    if (std::strcmp(entry->d_name, ".") != 0 && std::strcmp(entry->d_name, "..") != 0) {
      names.emplace_back(entry->d_name);
    }
  }
  closedir(dir);
  return names;
}

std::optional<std::string> resolvedPath(const char* path) {
  char* resolved = realpath(path, nullptr);
  if (resolved == nullptr) {
    return std::nullopt;
  }
  std::string text(resolved);
  std::free(resolved);  // NOLINT(cppcoreguidelines-no-malloc): realpath's allocation
  return text;
}
