#include "image/image.h"

#include <cstring>
#include <new>

#include "image/md5.h"
#include "platform/coding.h"
#include "platform/read_file.h"

namespace {

// Offsets of the header fields (the layout is described in image.h).
constexpr std::size_t IMAGE_DIGEST_OFFSET = 0;
constexpr std::size_t IMAGE_ZERO_OFFSET = 16;
constexpr std::size_t IMAGE_LENGTH_OFFSET = 20;

ImageLoad failure(ImageError error) { return ImageLoad{error, {}}; }

std::size_t roundedSize(std::size_t size) { return (size + 3) & ~std::size_t{3}; }

// Zeroes the bytes the rounding adds, so that every load of the same file
// gives the same image and digest, and writes the header.
void stamp(FirmwareImage& image, std::size_t fileSize) {
  std::uint8_t* bytes = image.data.get();
  std::memset(bytes + fileSize, 0, image.size - fileSize);
  const auto covered = static_cast<std::uint32_t>(image.size - IMAGE_LENGTH_OFFSET);
  putBig32(bytes + IMAGE_ZERO_OFFSET, 0);
  putBig32(bytes + IMAGE_LENGTH_OFFSET, covered);
  md5Digest(image.digest.data(), bytes + IMAGE_LENGTH_OFFSET, static_cast<std::int32_t>(covered));
  std::memcpy(bytes + IMAGE_DIGEST_OFFSET, image.digest.data(), image.digest.size());
}

}  // namespace

ImageError fileSizeError(std::uint64_t size) {
  if (size == 0) {
    return ImageError::empty;
  }
  if (size < IMAGE_MIN_FILE_SIZE) {
    return ImageError::tooSmall;
  }
  if (size > IMAGE_MAX_FILE_SIZE) {
    return ImageError::tooLarge;
  }
  return ImageError::none;
}

ImageLoad loadFirmwareImage(const char* path) {
  if (path == nullptr) {
    return failure(ImageError::cantOpen);
  }
  const RegularFile file(path);
  if (!file.isOpen()) {
    return failure(ImageError::cantOpen);
  }
  if (const ImageError error = fileSizeError(file.size()); error != ImageError::none) {
    return failure(error);
  }
  const auto size = static_cast<std::size_t>(file.size());
  ImageLoad load;
  load.image.size = roundedSize(size);
  try {
    // Left unset: every byte is read or zeroed below.
    load.image.data = std::make_unique_for_overwrite<std::uint8_t[]>(load.image.size);
  } catch (const std::bad_alloc&) {
    return failure(ImageError::tooLarge);
  }
  // Exactly the bytes the size promised; anything less (the file shrank, a
  // read error) would send unread memory to the drive.
  if (!file.read(load.image.data.get(), size)) {
    return failure(ImageError::cantRead);
  }
  stamp(load.image, size);
  return load;
}

FirmwareImage makeImage(std::span<const std::uint8_t> file) {
  FirmwareImage image;
  image.size = roundedSize(file.size());
  image.data = std::make_unique_for_overwrite<std::uint8_t[]>(image.size);
  std::memcpy(image.data.get(), file.data(), file.size());
  stamp(image, file.size());
  return image;
}
