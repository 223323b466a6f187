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

// Writes text at the file's end in one write. False when the system took
// less than the whole text (a full disk) or refused it.
bool appendToFile(AppendFile file, std::string_view text);

// Closes the file; harmless with APPEND_FILE_NONE.
void closeAppendFile(AppendFile file);
