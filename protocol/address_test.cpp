// The address reader against the C library as the oracle; each address's
// text, kind, order and hash.
#include "protocol/address.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <cctype>
#include <optional>
#include <string>
#include <unordered_set>
#include <utility>
#include <vector>

#include "protocol/value_text.h"

namespace {

// inet_aton has the classic rules; 255.255.255.255 stands for "not an
// address", as with inet_addr. A part of a leading 0 and more digits, octal
// to inet_aton, is refused.
std::optional<DriveAddress> oracle(const std::string& text) {
  for (std::size_t at = 0; at < text.size(); at = text.find('.', at) + 1) {
    if (text[at] == '0' && at + 1 < text.size() && std::isdigit(text[at + 1]) != 0) {
      return std::nullopt;
    }
    if (text.find('.', at) == std::string::npos) {
      break;
    }
  }
  in_addr a{};
  if (inet_aton(text.c_str(), &a) == 0 || a.s_addr == INADDR_NONE) {
    return std::nullopt;
  }
  return DriveAddress::fromNet(ntohl(a.s_addr));
}

TEST(AddressTest, AgreesWithTheCLibrary) {
  std::vector<std::string> texts = {
      // four parts, each base
      "192.168.124.120", "10.0.0.5", "0.0.0.0", "1.2.3.4", "255.255.255.254", "255.255.255.255",
      "0x7f.1", "0X7F.0.0.1", "0xff.0xff.0xff.0xfe", "010.010.010.010", "0377.0.0.1", "00.00.00.00",
      "192.168.001.010", "192.168.1.08", "0.0.0.0", "0x0a.0.0.1", "0x0.0x00.0.0", "0xAbC",
      "0xFFFFFFFF", "0x100000000",
      // fewer parts: the last fills the rest
      "10", "10.258", "10.1.258", "3232267384", "4294967295", "4294967296", "127.1", "1.16777215",
      "1.16777216", "1.2.65535", "1.2.65536", "017777777777", "037777777777", "040000000000",
      // out of range and malformed
      "256.1.1.1", "1.256.1.1", "1.1.256.1", "1.1.1.256", "300.1.1.1", "1.2.3.4.5", "1..2.3",
      ".1.2.3", "1.2.3.", "1.2.3.4.", "", " ", " 1.2.3.4", "+1.2.3.4", "-1.2.3.4", "1.-2.3.4",
      "1.2.3.-4", "08.1.1.1", "09", "0x", "0x.1.1.1", "0xg", "1.2.3.4x", "1.2.3.0x", "abc",
      "1.2.3.4\t", "1.2.3.4 trailing words", "1.2.3.4\n", "1.2.3 4", "1 .2.3.4", "1. 2.3.4",
      "99999999999999999999", "1.2.3.99999999999999999999", "0x000000000000000001",
      "000000000000000000001.2.3.4", "1.2.3.4\v", "1.2.3.4\r", "localhost", "-ip", "-fp", "::1",
      "1,2,3,4", "1.2.3.4/24", "0xff.0xff.0xffff", "0xff.0xffffff", "0xff.0x1000000"};
  // Every text of one to four characters over what the rules care about:
  // digits of each base, the point, the hexadecimal prefix and a blank.
  std::vector<std::string> shorter = {""};
  for (int length = 1; length <= 4; ++length) {
    std::vector<std::string> longer;
    for (const auto& text : shorter) {
      for (const char c : std::string("0178x.aF ")) {
        longer.push_back(text + c);
      }
    }
    texts.insert(texts.end(), longer.begin(), longer.end());
    shorter = std::move(longer);
  }
  for (const auto& text : texts) {
    EXPECT_EQ(DriveAddress::parse(text), oracle(text)) << "text: \"" << text << "\"";
  }
  // A view ends where its text does, as a C string at its NUL.
  const std::string_view list = "10.0.0.5,10.0.0.6";
  EXPECT_EQ(DriveAddress::parse(list.substr(0, 8)), DriveAddress(10, 0, 0, 5));
  EXPECT_EQ(DriveAddress::parse(list.substr(0, 6)), DriveAddress(10, 0, 0, 0));
  EXPECT_EQ(DriveAddress::parse(std::string_view("10.0.0.5\0x", 10)), DriveAddress(10, 0, 0, 5));
}

enum class Kind : std::uint8_t { unspecified, unicast, multicast, reserved };

// In ascending order: each address's text and its kind.
const struct {
  DriveAddress address;
  const char* text;
  Kind kind;
} ADDRESSES[] = {
    {{0, 0, 0, 0}, "0.0.0.0", Kind::unspecified},
    {{0, 0, 0, 1}, "0.0.0.1", Kind::unicast},
    {{9, 255, 255, 255}, "9.255.255.255", Kind::unicast},
    {{10, 0, 0, 5}, "10.0.0.5", Kind::unicast},
    {{127, 0, 0, 1}, "127.0.0.1", Kind::unicast},
    {{192, 168, 124, 120}, "192.168.124.120", Kind::unicast},
    {{223, 255, 255, 255}, "223.255.255.255", Kind::unicast},
    {{224, 0, 0, 0}, "224.0.0.0", Kind::multicast},
    {{239, 255, 255, 255}, "239.255.255.255", Kind::multicast},
    {{240, 0, 0, 0}, "240.0.0.0", Kind::reserved},
    {{255, 255, 255, 254}, "255.255.255.254", Kind::reserved},
    {{255, 255, 255, 255}, "255.255.255.255", Kind::reserved},
};

// The text is dotted decimal, the first part first, and reads back as the
// address (but for the limited broadcast, never read as one); the kind
// goes by the first four bits, and 0.0.0.0 is told apart.
TEST(AddressTest, TextAndKind) {
  for (const auto& c : ADDRESSES) {
    EXPECT_EQ(addressText(c.address), c.text);
    const bool limitedBroadcast = c.address == DriveAddress(255, 255, 255, 255);
    EXPECT_EQ(DriveAddress::parse(c.text),
              limitedBroadcast ? std::nullopt : std::optional(c.address))
        << c.text;
    EXPECT_EQ(c.address.isUnspecified(), c.kind == Kind::unspecified) << c.text;
    EXPECT_EQ(c.address.isMulticast(), c.kind == Kind::multicast) << c.text;
    EXPECT_EQ(c.address.isReserved(), c.kind == Kind::reserved) << c.text;
    EXPECT_EQ(c.address.isUnicast(), c.kind == Kind::unicast || c.kind == Kind::unspecified)
        << c.text;
  }
}

// Addresses order by their first part first, then the next; equal ones
// hash alike, so a hashed set holds each address once.
TEST(AddressTest, OrderAndHash) {
  std::unordered_set<DriveAddress> seen;
  for (std::size_t i = 0; i < std::size(ADDRESSES); ++i) {
    const DriveAddress a = ADDRESSES[i].address;
    EXPECT_EQ(a, DriveAddress::fromNet(a.toNet()));
    if (i > 0) {
      EXPECT_LT(ADDRESSES[i - 1].address, a) << ADDRESSES[i].text;
      EXPECT_NE(ADDRESSES[i - 1].address, a) << ADDRESSES[i].text;
    }
    EXPECT_TRUE(seen.insert(a).second) << ADDRESSES[i].text;
  }
  EXPECT_FALSE(seen.insert(DriveAddress(10, 0, 0, 5)).second);
  EXPECT_EQ(std::hash<DriveAddress>{}(DriveAddress(10, 0, 0, 5)),
            std::hash<DriveAddress>{}(*DriveAddress::parse("10.5")));
}

}  // namespace
