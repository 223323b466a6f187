// Folders, for the release catalog: the names a folder holds, and where a
// path leads once every symbolic link on it is followed.
//
// The files themselves are opened and read through platform/read_file.h,
// which refuses whatever is no regular file without blocking on it.
#pragma once

#include <optional>
#include <string>
#include <vector>

// The separator this system's paths use between a folder and a name (both
// '/' and '\\' are read on Windows; '/' is one anywhere).
#if defined(_WIN32)
inline constexpr char PATH_SEPARATOR = '\\';
inline constexpr const char* PATH_SEPARATORS = "/\\";
#else
inline constexpr char PATH_SEPARATOR = '/';
inline constexpr const char* PATH_SEPARATORS = "/";
#endif

// The names of the entries of the folder at path, "." and ".." left out,
// in the order the system lists them; the bytes as the system gives them
// (on POSIX not necessarily UTF-8). nullopt when the folder can't be
// listed.
std::optional<std::vector<std::string>> listDirectory(const char* path);

// The absolute path that path leads to, every symbolic link followed.
// nullopt when nothing is there, or when it can't be resolved (a loop of
// links, no permission).
std::optional<std::string> resolvedPath(const char* path);
