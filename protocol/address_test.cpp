// The address reader against the C library as the oracle.
#include "protocol/address.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <cctype>
#include <string>
#include <utility>
#include <vector>

namespace {

// inet_aton has the classic rules; 255.255.255.255 stands for "not an
// address", as with inet_addr. A part of a leading 0 and more digits, octal
// to inet_aton, is refused.
std::uint32_t oracle(const std::string& text) {
  for (std::size_t at = 0; at < text.size(); at = text.find('.', at) + 1) {
    if (text[at] == '0' && at + 1 < text.size() && std::isdigit(text[at + 1]) != 0) {
      return ADDRESS_NONE;
    }
    if (text.find('.', at) == std::string::npos) {
      break;
    }
  }
  in_addr a{};
  return inet_aton(text.c_str(), &a) == 0 ? ADDRESS_NONE : ntohl(a.s_addr);
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
    EXPECT_EQ(parseInetAddress(text.c_str()), oracle(text)) << "text: \"" << text << "\"";
  }
}

}  // namespace
