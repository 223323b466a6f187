// The firmware image a simulated drive holds: blocks written at their target
// addresses, the digest it reports, the check it makes on verify, and the
// file it is written to.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "protocol/loader.h"

class ImageStore {
 public:
  // Drive memory address of image byte 0; a block lands at its target
  // minus this.
  static constexpr std::uint32_t BASE = IMAGE_LOAD_ADDRESS;
  // The largest image kept: firmware is far smaller; anything beyond is
  // hostile or broken input and is refused.
  static constexpr std::size_t LIMIT = (64u << 20) + (64u << 10);

  enum class Stored : std::uint8_t { ok, belowBase, beyondLimit };

  // Writes a block at its target. A block at BASE starts a new image:
  // whatever an earlier programming left behind is dropped.
  Stored store(std::uint32_t target, const std::uint8_t* data, std::size_t size);

  // The digest the drive reports: the one in the header of the image it
  // holds, or, before any image was programmed, initial.
  Digest digest(const Digest& initial) const;

  // The drive's own check of what it received: the header's length covers
  // bytes the drive holds, and their MD5 is the header's digest.
  bool matchesHeader() const;

  // Writes the image held to path; false when that failed.
  bool writeTo(const std::string& path) const;

  std::size_t size() const { return bytes_.size(); }

 private:
  std::vector<std::uint8_t> bytes_;
  bool hasHeader_ = false;  // a block at BASE arrived
};
