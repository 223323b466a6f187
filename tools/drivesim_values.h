// The values the simulated drive's options take: numbers, addresses and
// address ranges, hex bytes and drop rules. Each reader names the option in
// the OptionError it throws for a value it can't take.
#pragma once

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "tools/drivesim_options.h"

// A whole number from low to high (decimal, 0x hex or 0 octal, no sign).
long long number(const std::string& name, const std::string& text, long long low, long long high);

// The comma-separated parts of text, empty ones included.
std::vector<std::string> splitCommas(const std::string& text);

// "A[,B,...]" where each item is an address or "A+N" (N addresses from A).
std::vector<DriveAddress> addressList(const std::string& name, const std::string& text);

// Hex digits, two per byte; blanks and colons between them are allowed.
std::vector<std::uint8_t> hexBytes(const std::string& name, const std::string& text);

// Exactly N bytes of hex digits.
template <std::size_t N>
std::array<std::uint8_t, N> hexArray(const std::string& name, const std::string& text) {
  const auto bytes = hexBytes(name, text);
  if (bytes.size() != N) {
    throw OptionError(name + " wants " + std::to_string(2 * N) + " hex digits");
  }
  std::array<std::uint8_t, N> out{};
  std::copy(bytes.begin(), bytes.end(), out.begin());
  return out;
}

// "C:K[,C:K...]", C a command code or "any".
std::vector<DropRule> dropRules(const std::string& name, const std::string& text);
