// The SHA-256 digest (FIPS 180-4) of one byte range, in one call: how the
// release catalog names a release's file.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

inline constexpr std::size_t SHA256_DIGEST_SIZE = 32;
using Sha256Digest = std::array<std::uint8_t, SHA256_DIGEST_SIZE>;

// How the compression function is computed: in portable code, or with the
// processor's SHA extensions (x86), which are about five times as fast.
enum class Sha256Engine : std::uint8_t { portable, shaExtensions };

// The fastest engine this processor has.
Sha256Engine fastestSha256Engine();

// The digest of input. Allocates nothing; re-entrant. engine must be one
// this processor has (portable always is).
Sha256Digest sha256Digest(std::span<const std::uint8_t> input,
                          Sha256Engine engine = fastestSha256Engine());
