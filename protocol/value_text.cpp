#include "protocol/value_text.h"

#include <cstdio>

std::string addressText(DriveAddress address) {
  const auto parts = address.parts();
  char text[16];
  std::snprintf(text, sizeof text, "%u.%u.%u.%u", unsigned{parts[0]}, unsigned{parts[1]},
                unsigned{parts[2]}, unsigned{parts[3]});
  return text;
}

std::string macText(const MacAddress& mac) {
  char text[18];
  std::snprintf(text, sizeof text, "%02x:%02x:%02x:%02x:%02x:%02x", unsigned{mac[0]},
                unsigned{mac[1]}, unsigned{mac[2]}, unsigned{mac[3]}, unsigned{mac[4]},
                unsigned{mac[5]});
  return text;
}

std::string modelText(const UnitIdentity& identity) {
  const auto& code = identity.modelCode;
  return {static_cast<char>(code[0]), static_cast<char>(code[1]), static_cast<char>(code[2])};
}

std::string hardwareRevisionText(const UnitIdentity& identity) {
  const auto& revision = identity.hardwareRevision;
  return {static_cast<char>(revision[0]), '.', static_cast<char>(revision[1]),
          static_cast<char>(revision[2])};
}

std::string md5Text(const Digest& digest) {
  static constexpr char HEX[] = "0123456789abcdef";
  std::string text;
  for (const std::uint8_t byte : digest) {
    text += HEX[byte >> 4];
    text += HEX[byte & 0x0F];
  }
  return text;
}

int hexDigitValue(char c) {
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
