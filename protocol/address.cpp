#include "protocol/address.h"

#include <array>

#include "protocol/value_text.h"

namespace {

bool isDecimal(char c) { return c >= '0' && c <= '9'; }

// The character at pos, or NUL past the end of the text.
char at(std::string_view text, std::size_t pos) { return pos < text.size() ? text[pos] : '\0'; }

bool isBlank(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

// Reads one part starting at text[pos], which must be a digit. Leaves pos
// after the last character read. False when the value exceeds 32 bits.
bool readPart(std::string_view text, std::size_t& pos, std::uint64_t& value) {
  constexpr std::uint64_t LIMIT = 0xFFFFFFFFu;
  value = 0;
  bool overflow = false;
  auto accumulate = [&](int base, int digit) {
    if (!overflow) {
      value = value * static_cast<std::uint64_t>(base) + static_cast<std::uint64_t>(digit);
      overflow = value > LIMIT;
    }
  };
  if (at(text, pos) == '0' && (at(text, pos + 1) == 'x' || at(text, pos + 1) == 'X') &&
      hexDigitValue(at(text, pos + 2)) >= 0) {
    pos += 2;
    for (int d = hexDigitValue(at(text, pos)); d >= 0; d = hexDigitValue(at(text, pos))) {
      accumulate(16, d);
      ++pos;
    }
  } else if (at(text, pos) == '0') {
    // A part of a leading 0 and more digits would be octal by the classic
    // rules, but drives show their addresses zero-padded ("192.168.001.010"),
    // and reading that as octal names another drive: such a part is refused.
    // "0x" without a hexadecimal digit after it is the part 0 followed by the
    // letter, which then fails.
    ++pos;
    return !isDecimal(at(text, pos));
  } else {
    while (isDecimal(at(text, pos))) {
      accumulate(10, at(text, pos) - '0');
      ++pos;
    }
  }
  return !overflow;
}

}  // namespace

std::optional<DriveAddress> DriveAddress::parse(std::string_view text) {
  // Largest value of the last part, by the number of parts before it.
  constexpr std::array<std::uint64_t, 4> LAST_PART_MAX = {0xFFFFFFFFu, 0xFFFFFFu, 0xFFFFu, 0xFFu};
  std::array<std::uint64_t, 3> leading = {};
  std::size_t count = 0;
  std::size_t pos = 0;
  std::uint64_t value = 0;
  for (;;) {
    if (!isDecimal(at(text, pos)) || !readPart(text, pos, value)) {
      return std::nullopt;
    }
    if (at(text, pos) != '.') {
      break;
    }
    if (count == leading.size() || value > 0xFF) {
      return std::nullopt;
    }
    leading[count++] = value;
    ++pos;
  }
  if (at(text, pos) != '\0' && !isBlank(at(text, pos))) {
    return std::nullopt;
  }
  if (value > LAST_PART_MAX[count]) {
    return std::nullopt;
  }
  std::uint64_t address = value;
  for (std::size_t i = 0; i < count; ++i) {
    address |= leading[i] << (24 - 8 * i);
  }
  // The all-ones value is what the classic rules return for "not an
  // address", so they can't read it as one.
  if (address == 0xFFFFFFFFu) {
    return std::nullopt;
  }
  DriveAddress parsed;
  parsed.value_ = static_cast<std::uint32_t>(address);
  return parsed;
}
