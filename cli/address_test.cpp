#include "cli/address.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

// The C library's reading of the same text: its inet_aton has the classic
// rules, and 255.255.255.255 stands for "not an address" as in inet_addr.
std::uint32_t oracle(const char* text) {
  in_addr a{};
  if (inet_aton(text, &a) == 0) {
    return ADDRESS_NONE;
  }
  return ntohl(a.s_addr);
}

TEST(AddressTest, AgreesWithTheCLibraryOverACorpus) {
  const std::vector<std::string> corpus = {
      // four parts, each base
      "192.168.124.120", "10.0.0.5", "0.0.0.0", "1.2.3.4", "255.255.255.254", "255.255.255.255",
      "0x7f.1", "0X7F.0.0.1", "0xff.0xff.0xff.0xfe", "010.010.010.010", "0377.0.0.1", "00.00.00.00",
      "0x0.0x00.0.0", "0xAbC", "0xFFFFFFFF", "0x100000000",
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
  for (const auto& text : corpus) {
    EXPECT_EQ(parseInetAddress(text.c_str()), oracle(text.c_str())) << "text: \"" << text << "\"";
  }
}

TEST(AddressTest, AgreesWithTheCLibraryOnGeneratedTexts) {
  // Every text of up to four characters over the alphabet that the rules
  // care about: digits of each base, the points, the hexadecimal prefix,
  // and a blank.
  const std::string alphabet = "0178x.aF ";
  std::vector<std::string> texts = {""};
  for (int len = 0; len < 4; ++len) {
    std::vector<std::string> longer;
    for (const auto& t : texts) {
      for (char c : alphabet) {
        longer.push_back(t + c);
      }
    }
    for (const auto& t : longer) {
      EXPECT_EQ(parseInetAddress(t.c_str()), oracle(t.c_str())) << "text: \"" << t << "\"";
    }
    texts = std::move(longer);
  }
}

TEST(AddressTest, GivesHostOrderWithTheFirstPartMostSignificant) {
  EXPECT_EQ(parseInetAddress("192.168.124.120"), 0xC0A87C78u);
  EXPECT_EQ(parseInetAddress("10.258"), 0x0A000102u);
  EXPECT_EQ(parseInetAddress("255.255.255.255"), ADDRESS_NONE);
}

}  // namespace
