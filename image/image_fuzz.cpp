// Fuzz target: the firmware image loader and the MD5 digest.
//
// The input is the content of a firmware file (the fuzzer is run with
// inputs of 0 to 4096 bytes). md5Digest of the input must equal a second,
// independent MD5 (OpenSSL's). The input is then written to a file and
// loaded as the session loads it; the image must be the file rounded up to
// a multiple of 4 with zeros, stamped with the header: the digest of bytes
// 20 onward (also the image's digest), a zero word and the length N - 20.
// Files of 0 to 20 bytes are refused as empty or too small.
//
// fuzz-options: -max_len=4096
#include <openssl/evp.h>
#include <unistd.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "image/image.h"
#include "image/md5.h"
#include "platform/coding.h"

namespace {

constexpr std::size_t SMALLEST_LOADABLE = 21;

std::string scratchPath;

void check(bool condition) {
  if (!condition) {
    std::abort();
  }
}

void opensslMd5(const std::uint8_t* data, std::size_t size, std::uint8_t* out) {
  unsigned int outSize = 0;
  check(EVP_Digest(data, size, out, &outSize, EVP_md5(), nullptr) == 1 && outSize == 16);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  check(std::freopen("/dev/null", "w", stdout) != nullptr);
  const char* dir = access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
  scratchPath = std::string(dir) + "/tovrin-image-fuzz-" + std::to_string(getpid()) + ".bin";
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::uint8_t ours[MD5_DIGEST_SIZE];
  std::uint8_t theirs[MD5_DIGEST_SIZE];
  md5Digest(ours, data, static_cast<std::int32_t>(size));
  opensslMd5(data, size, theirs);
  check(std::memcmp(ours, theirs, sizeof ours) == 0);

  std::FILE* file = std::fopen(scratchPath.c_str(), "wb");
  check(file != nullptr);
  check(size == 0 || std::fwrite(data, 1, size, file) == size);
  check(std::fclose(file) == 0);

  const ImageLoad load = loadFirmwareImage(scratchPath.c_str());
  std::remove(scratchPath.c_str());
  if (size < SMALLEST_LOADABLE) {
    check(load.error == (size == 0 ? ImageError::empty : ImageError::tooSmall));
    return 0;
  }
  check(load.error == ImageError::none);
  const FirmwareImage& image = load.image;
  const std::uint8_t* bytes = image.data.get();
  const std::size_t rounded = (size + 3) / 4 * 4;
  const std::size_t content = size > IMAGE_HEADER_SIZE ? size - IMAGE_HEADER_SIZE : 0;
  check(image.size == rounded);
  check(getBig32(bytes + 16) == 0);
  check(getBig32(bytes + 20) == rounded - 20);
  check(std::memcmp(bytes + IMAGE_HEADER_SIZE, data + IMAGE_HEADER_SIZE, content) == 0);
  for (std::size_t i = std::max(size, IMAGE_HEADER_SIZE); i < rounded; ++i) {
    check(bytes[i] == 0);
  }
  opensslMd5(bytes + 20, rounded - 20, theirs);
  check(std::memcmp(bytes, theirs, sizeof theirs) == 0);
  check(std::memcmp(image.digest.data(), theirs, sizeof theirs) == 0);
  return 0;
}
