// The firmware image: the file in memory with its 24-byte header.
//
// Layout (N = file size rounded up to a multiple of 4):
//   0   16  MD5 digest of bytes 20 to N - 1
//   16   4  zero word
//   20   4  N - 20, big-endian: the number of bytes the digest covers
//   24  ... the file's bytes 24 onward, then the 0 to 3 zero bytes of the
//           rounding
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>

#include "protocol/loader.h"

inline constexpr std::size_t IMAGE_HEADER_SIZE = 24;
// The smallest file that leaves room for the header once rounded up: 21
// bytes round up to 24.
inline constexpr std::uint64_t IMAGE_MIN_FILE_SIZE = IMAGE_HEADER_SIZE - 3;
// The largest file the digest can cover exactly: its bit count must fit in
// 32 bits, so the covered length stays below 2^29 bytes (512 MiB).
inline constexpr std::uint64_t IMAGE_MAX_FILE_SIZE = 512ULL * 1024 * 1024;

// A value owned by the run and shared read-only by its sessions.
struct FirmwareImage {
  std::unique_ptr<std::uint8_t[]> data;  // N bytes, header first
  std::size_t size = 0;                  // N
  Digest digest{};                       // the same 16 bytes as the header's first

  std::span<const std::uint8_t> bytes() const { return {data.get(), size}; }
};

enum class ImageError : std::uint8_t {
  none,
  cantOpen,  // no path, no such file, no regular file, or refused
  empty,
  tooSmall,  // 1 to 20 bytes: no room for the header
  tooLarge,  // over 512 MiB, or no memory for it
  cantRead,  // the file gave fewer bytes than its size
};

// Whether a firmware file of this many bytes can be loaded: none, empty,
// tooSmall or tooLarge.
ImageError fileSizeError(std::uint64_t size);

struct ImageLoad {
  ImageError error = ImageError::none;
  FirmwareImage image;  // empty unless error is none
};

// Reads the file at path (null: no -fp was given) into a new image and
// stamps its header. Accepts files of 21 bytes to 512 MiB; the bytes the
// rounding adds are zero. Prints nothing.
ImageLoad loadFirmwareImage(const char* path);

// Makes an image of a file's bytes: rounds them up to a multiple of 4 with
// zeros and writes the header over the first 24 bytes. file holds at least
// 21 bytes.
FirmwareImage makeImage(std::span<const std::uint8_t> file);
