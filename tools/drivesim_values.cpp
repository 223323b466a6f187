#include "tools/drivesim_values.h"

#include <cstdlib>
#include <optional>

#include "protocol/address.h"

namespace {

bool parseNumber(const std::string& text, long long low, long long high, long long* out) {
  if (text.empty() || text.size() > 18 || text[0] == '-' || text[0] == '+' || text[0] == ' ') {
    return false;
  }
  char* end = nullptr;
  const long long v = std::strtoll(text.c_str(), &end, 0);
  if (*end != '\0' || v < low || v > high) {
    return false;
  }
  *out = v;
  return true;
}

int hexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

}  // namespace

long long number(const std::string& name, const std::string& text, long long low, long long high) {
  long long v = 0;
  if (!parseNumber(text, low, high, &v)) {
    throw OptionError(name + " wants a number from " + std::to_string(low) + " to " +
                      std::to_string(high) + ", not '" + text + "'");
  }
  return v;
}

std::vector<std::string> splitCommas(const std::string& text) {
  std::vector<std::string> parts;
  std::size_t start = 0;
  while (true) {
    const std::size_t comma = text.find(',', start);
    parts.push_back(text.substr(start, comma - start));
    if (comma == std::string::npos) {
      return parts;
    }
    start = comma + 1;
  }
}

std::vector<DriveAddress> addressList(const std::string& name, const std::string& text) {
  std::vector<DriveAddress> out;
  for (const std::string& item : splitCommas(text)) {
    const std::size_t plus = item.find('+');
    const std::optional<DriveAddress> start = DriveAddress::parse(item.substr(0, plus));
    if (!start) {
      throw OptionError(name + ": '" + item + "' is not an IPv4 address or a range A+N");
    }
    // A range counts up in the platform's form of the address, whose last
    // part is the least significant.
    const std::uint32_t first = start->toNet();
    long long count = 1;
    if (plus != std::string::npos) {
      count = number(name + " count", item.substr(plus + 1), 1, MAX_DRIVES);
    }
    if (std::uint64_t{first} + static_cast<std::uint64_t>(count) - 1 > 0xFFFFFFFFull) {
      throw OptionError(name + ": the range '" + item + "' runs past 255.255.255.255");
    }
    for (long long i = 0; i < count; ++i) {
      const DriveAddress a = DriveAddress::fromNet(first + static_cast<std::uint32_t>(i));
      if (a.isUnspecified() || a == BROADCAST_ADDRESS) {
        throw OptionError(name + ": " + addressText(a) + " can't be a drive address");
      }
      out.push_back(a);
    }
  }
  return out;
}

std::vector<std::uint8_t> hexBytes(const std::string& name, const std::string& text) {
  std::vector<std::uint8_t> bytes;
  int high = -1;
  for (char c : text) {
    if (c == ' ' || c == ':') {
      continue;
    }
    const int v = hexValue(c);
    if (v < 0) {
      throw OptionError(name + ": '" + text + "' is not hexadecimal");
    }
    if (high < 0) {
      high = v;
    } else {
      bytes.push_back(static_cast<std::uint8_t>(high * 16 + v));
      high = -1;
    }
  }
  if (high >= 0) {
    throw OptionError(name + ": odd number of hex digits");
  }
  return bytes;
}

std::vector<DropRule> dropRules(const std::string& name, const std::string& text) {
  std::vector<DropRule> rules;
  for (const std::string& item : splitCommas(text)) {
    const std::size_t colon = item.find(':');
    if (colon == std::string::npos) {
      throw OptionError(name + ": '" + item + "' is not CODE:K");
    }
    const std::string code = item.substr(0, colon);
    rules.push_back({code == "any" ? -1L : static_cast<long>(number(name, code, 0, 0xFFFF)),
                     static_cast<long>(number(name, item.substr(colon + 1), 1, 1000000000))});
  }
  return rules;
}
