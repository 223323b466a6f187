#include "image/image.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <system_error>

#include "image/md5.h"
#include "platform/coding.h"
#include "platform/console.h"

std::uint8_t fileDigest[16];

namespace {

// Offsets of the header fields (the layout is described in image.h).
constexpr std::size_t IMAGE_DIGEST_OFFSET = 0;
constexpr std::size_t IMAGE_ZERO_OFFSET = 16;
constexpr std::size_t IMAGE_LENGTH_OFFSET = 20;

// The smallest file that leaves room for the header once rounded up: 21
// bytes round up to 24.
constexpr std::uintmax_t MIN_FILE_SIZE = IMAGE_HEADER_SIZE - 3;
// The largest file the digest can cover exactly: its bit count must fit in
// 32 bits, so the covered length stays below 2^29 bytes (512 MiB).
constexpr std::uintmax_t MAX_FILE_SIZE = 512UL * 1024 * 1024;

constexpr int EXIT_STATUS = 1;

// A file beyond MAX_FILE_SIZE, or one whose image can't be allocated.
constexpr const char* TOO_LARGE = "\nERROR: File is too large for the loader.\r\n";

// The firmware file's messages end the process.
[[noreturn]] void fail(const char* message) {
  std::fputs(message, stdout);
  endProcess(EXIT_STATUS);
}

// "Can't open" and "Can't read" name the file: its path, or "(null)" when
// no file was named.
[[noreturn]] void failOnFile(const char* action, const char* shownPath) {
  std::printf("\nERROR: Can't %s file %s\r\n", action, shownPath);
  endProcess(EXIT_STATUS);
}

}  // namespace

FirmwareImage loadFirmwareImage(const char* path) {
  if (path == nullptr) {
    failOnFile("open", "(null)");
  }
  // Only a regular file has a size to take: a directory, a device or a pipe
  // may open, but would report a meaningless size or none. The size comes
  // from the file system in 64 bits, so a file of several GiB is "too large"
  // on every platform.
  std::error_code error;
  const bool regular = std::filesystem::is_regular_file(path, error);
  const std::uintmax_t fileSize = regular ? std::filesystem::file_size(path, error) : 0;
  if (!regular || error) {
    failOnFile("open", path);
  }
  if (fileSize == 0) {
    fail("\nERROR: File is empty. Nothing to load.\r\n");
  }
  if (fileSize < MIN_FILE_SIZE) {
    fail("\nERROR: File is too small for a firmware header.\r\n");
  }
  if (fileSize > MAX_FILE_SIZE) {
    fail(TOO_LARGE);
  }

  std::FILE* file = std::fopen(path, "rb");
  if (file == nullptr) {
    failOnFile("open", path);
  }
  const auto size = static_cast<std::size_t>(fileSize);
  const std::size_t roundedSize = (size + 3) & ~std::size_t{3};
  auto* bytes = static_cast<std::uint8_t*>(std::malloc(roundedSize));
  if (bytes == nullptr) {
    std::fclose(file);
    fail(TOO_LARGE);
  }
  // Exactly the bytes the size promised, in one read; anything less (the
  // file shrank, a read error) would send unread memory to the drive.
  const bool whole = std::fread(bytes, 1, size, file) == size;
  std::fclose(file);
  if (!whole) {
    failOnFile("read", path);
  }
  // The bytes the rounding adds are zero, so every load of the same file
  // gives the same image and digest.
  std::memset(bytes + size, 0, roundedSize - size);

  stampImageHeader(bytes, roundedSize);
  return FirmwareImage{bytes, roundedSize};
}

void stampImageHeader(std::uint8_t* image, std::size_t size) {
  const auto covered = static_cast<std::uint32_t>(size - IMAGE_LENGTH_OFFSET);
  putBig32(image + IMAGE_ZERO_OFFSET, 0);
  putBig32(image + IMAGE_LENGTH_OFFSET, covered);

  std::uint8_t digest[MD5_DIGEST_SIZE];
  md5Digest(digest, image + IMAGE_LENGTH_OFFSET, static_cast<std::int32_t>(covered));

  static constexpr char HEX_DIGITS[] = "0123456789abcdef";
  char hex[2 * MD5_DIGEST_SIZE + 1];
  for (std::size_t i = 0; i < MD5_DIGEST_SIZE; ++i) {
    image[IMAGE_DIGEST_OFFSET + i] = digest[i];
    fileDigest[i] = digest[i];
    hex[2 * i] = HEX_DIGITS[digest[i] >> 4];
    hex[2 * i + 1] = HEX_DIGITS[digest[i] & 0x0f];
  }
  hex[2 * MD5_DIGEST_SIZE] = '\0';
  std::printf("File Firmware MD5  : \t%s", hex);
  std::printf("\nFile Firmware Size : \t%d", static_cast<int>(covered));
}
