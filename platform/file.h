// A file that records are appended to, one whole line at a time.
//
// Each append is one write to a file opened for appending only (O_APPEND on
// POSIX, FILE_APPEND_DATA on Windows): the system puts every write at the
// file's end at the moment it happens, so records from several runs that
// share a file never overwrite each other, and a process that ends between
// two appends leaves only whole lines behind.
#pragma once

#include <cstdint>
#include <string_view>

// A file handle; APPEND_FILE_NONE when none is open.
using AppendFile = std::intptr_t;
inline constexpr AppendFile APPEND_FILE_NONE = -1;

// Opens path for appending, creating it when it does not exist (readable
// and writable by its owner, readable by others, less what the user's file
// creation mask takes away). APPEND_FILE_NONE when it can't be opened.
AppendFile openAppendFile(const char* path);

// Writes text at the file's end, whole or not at all: when the system takes
// only part of it (a full disk) or refuses it, a regular file is cut back
// to its size before the append, so it still ends with the last whole
// line. Appends of loaders that share the file take turns (a lock on the
// file, given up after about a second). False when text was not written
// whole.
bool appendToFile(AppendFile file, std::string_view text);

// Closes the file; harmless with APPEND_FILE_NONE.
void closeAppendFile(AppendFile file);
