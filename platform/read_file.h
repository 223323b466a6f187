// Reading a regular file whole, for the firmware image.
//
// The file is opened without blocking, and the opened handle (not the path)
// is checked for a regular file: a path that names a FIFO, a device or a
// directory, or that is swapped for one between a check and the open, is
// refused at once instead of hanging in the open or the read.
#pragma once

#include <cstddef>
#include <cstdint>

// The handle of an open regular file; READ_FILE_NONE when none is open.
using FileHandleValue = std::intptr_t;
inline constexpr FileHandleValue READ_FILE_NONE = -1;

struct OpenedFile {
  FileHandleValue handle = READ_FILE_NONE;
  std::uint64_t size = 0;  // bytes, from the opened file
};

// Opens path for reading. READ_FILE_NONE when it can't be opened or is no
// regular file.
OpenedFile openRegularFile(const char* path);

// Reads exactly size bytes from the file's start into out. False when the
// file gives fewer (it shrank, a read error).
bool readWholeFile(FileHandleValue file, std::uint8_t* out, std::size_t size);

// Closes the file; harmless with READ_FILE_NONE.
void closeReadFile(FileHandleValue file);

// A regular file open for reading, closed on every way out.
class RegularFile {
 public:
  explicit RegularFile(const char* path) : opened_(openRegularFile(path)) {}
  ~RegularFile() { closeReadFile(opened_.handle); }
  RegularFile(const RegularFile&) = delete;
  RegularFile& operator=(const RegularFile&) = delete;
  bool isOpen() const { return opened_.handle != READ_FILE_NONE; }
  std::uint64_t size() const { return opened_.size; }
  // Reads exactly size bytes from the start (readWholeFile).
  bool read(std::uint8_t* out, std::size_t size) const {
    return readWholeFile(opened_.handle, out, size);
  }

 private:
  OpenedFile opened_;
};
