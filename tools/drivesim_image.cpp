#include "tools/drivesim_image.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "image/image.h"
#include "image/md5.h"
#include "platform/coding.h"

namespace {

// The header's length field (image/image.h): big-endian, the number of bytes
// the digest covers, from this field on.
constexpr std::size_t LENGTH_OFFSET = 20;

}  // namespace

ImageStore::Stored ImageStore::store(std::uint32_t target, const std::uint8_t* data,
                                     std::size_t size) {
  if (target < BASE) {
    return Stored::belowBase;
  }
  const std::size_t offset = target - BASE;
  if (offset > LIMIT || size > LIMIT - offset) {
    return Stored::beyondLimit;
  }
  if (offset == 0) {
    bytes_.clear();
    hasHeader_ = true;
  }
  if (bytes_.size() < offset + size) {
    bytes_.resize(offset + size, 0);
  }
  if (size > 0) {
    std::memcpy(bytes_.data() + offset, data, size);
  }
  return Stored::ok;
}

Digest ImageStore::digest(const Digest& initial) const {
  if (!hasHeader_) {
    return initial;
  }
  Digest out{};
  std::copy_n(bytes_.begin(), std::min(bytes_.size(), DIGEST_SIZE), out.begin());
  return out;
}

bool ImageStore::matchesHeader() const {
  if (!hasHeader_ || bytes_.size() < IMAGE_HEADER_SIZE) {
    return false;
  }
  const std::uint32_t length = getBig32(bytes_.data() + LENGTH_OFFSET);
  if (length > bytes_.size() - LENGTH_OFFSET) {
    return false;
  }
  std::uint8_t sum[MD5_DIGEST_SIZE];
  md5Digest(sum, bytes_.data() + LENGTH_OFFSET, static_cast<std::int32_t>(length));
  return std::memcmp(sum, bytes_.data(), MD5_DIGEST_SIZE) == 0;
}

bool ImageStore::writeTo(const std::string& path) const {
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (f == nullptr) {
    return false;
  }
  const bool written =
      bytes_.empty() || std::fwrite(bytes_.data(), 1, bytes_.size(), f) == bytes_.size();
  return std::fclose(f) == 0 && written;
}
