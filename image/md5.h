// The MD5 message digest (RFC 1321) of one byte range, in one call.
#pragma once

#include <cstdint>

inline constexpr int MD5_DIGEST_SIZE = 16;

// Writes the 16-byte digest of length bytes at input into out and returns
// out. length is 0 to 2^29 - 1. Allocates nothing; re-entrant.
std::uint8_t* md5Digest(std::uint8_t* out, const std::uint8_t* input, std::int32_t length);
