#include "protocol/address.h"

#include <array>

namespace {

bool isDecimal(char c) { return c >= '0' && c <= '9'; }

int hexValue(char c) {
  if (c >= '0' && c <= '9') {
    return c - '0';
  }
  if (c >= 'a' && c <= 'f') {
    return c - 'a' + 10;
  }
  if (c >= 'A' && c <= 'F') {
    return c - 'A' + 10;
  }
  return -1;
}

bool isBlank(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

// Reads one part starting at text[pos], which must be a digit. Leaves pos
// after the last character read. False when the value exceeds 32 bits.
bool readPart(const char* text, std::size_t& pos, std::uint64_t& value) {
  constexpr std::uint64_t LIMIT = 0xFFFFFFFFu;
  value = 0;
  bool overflow = false;
  auto accumulate = [&](int base, int digit) {
    if (!overflow) {
      value = value * static_cast<std::uint64_t>(base) + static_cast<std::uint64_t>(digit);
      overflow = value > LIMIT;
    }
  };
  if (text[pos] == '0' && (text[pos + 1] == 'x' || text[pos + 1] == 'X') &&
      hexValue(text[pos + 2]) >= 0) {
    pos += 2;
    for (int d = hexValue(text[pos]); d >= 0; d = hexValue(text[pos])) {
      accumulate(16, d);
      ++pos;
    }
  } else if (text[pos] == '0') {
    // A part of a leading 0 and more digits would be octal by the classic
    // rules, but drives show their addresses zero-padded ("192.168.001.010"),
    // and reading that as octal names another drive: such a part is refused.
    // "0x" without a hexadecimal digit after it is the part 0 followed by the
    // letter, which then fails.
    ++pos;
    return !isDecimal(text[pos]);
  } else {
    while (isDecimal(text[pos])) {
      accumulate(10, text[pos] - '0');
      ++pos;
    }
  }
  return !overflow;
}

}  // namespace

std::uint32_t parseInetAddress(const char* text) {
  // Largest value of the last part, by the number of parts before it.
  constexpr std::array<std::uint64_t, 4> LAST_PART_MAX = {0xFFFFFFFFu, 0xFFFFFFu, 0xFFFFu, 0xFFu};
  std::array<std::uint64_t, 3> leading = {};
  std::size_t count = 0;
  std::size_t pos = 0;
  std::uint64_t value = 0;
  for (;;) {
    if (!isDecimal(text[pos]) || !readPart(text, pos, value)) {
      return ADDRESS_NONE;
    }
    if (text[pos] != '.') {
      break;
    }
    if (count == leading.size() || value > 0xFF) {
      return ADDRESS_NONE;
    }
    leading[count++] = value;
    ++pos;
  }
  if (text[pos] != '\0' && !isBlank(text[pos])) {
    return ADDRESS_NONE;
  }
  if (value > LAST_PART_MAX[count]) {
    return ADDRESS_NONE;
  }
  std::uint64_t address = value;
  for (std::size_t i = 0; i < count; ++i) {
    address |= leading[i] << (24 - 8 * i);
  }
  return static_cast<std::uint32_t>(address);
}
