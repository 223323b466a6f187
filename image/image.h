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

inline constexpr std::size_t IMAGE_HEADER_SIZE = 24;

struct FirmwareImage {
  std::uint8_t* bytes = nullptr;  // allocated once, kept to the end of the process
  std::size_t size = 0;           // N, a multiple of 4
};

// The digest in the header of the image last loaded.
extern std::uint8_t fileDigest[16];

// Reads the file at path (which may be null) into a new image and stamps its
// header. Accepts files of 21 bytes to 512 MiB; the bytes the rounding adds
// are zero. The buffer comes from std::malloc and is meant to be kept to the
// end of the process. On any failure (no path, can't open, not a regular
// file, empty, too small, too large or no memory, can't read whole) prints
// the message and ends the process with status 1.
FirmwareImage loadFirmwareImage(const char* path);

// Writes the header over the first 24 bytes of image (size bytes, a multiple
// of 4, at least 24), fills fileDigest and prints the digest and size lines.
void stampImageHeader(std::uint8_t* image, std::size_t size);
