// The -ip list: elements read as single addresses, duplicates once, a bound.
#include "cli/address_list.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "protocol/address.h"

namespace {

using Addresses = std::vector<DriveAddress>;

TEST(AddressListTest, ReadsListsAndRefusesBadOnes) {
  struct Case {
    const char* text;
    std::optional<Addresses> expected;
  };
  const std::vector<Case> cases = {
      {"10.0.0.5", Addresses{{10, 0, 0, 5}}},
      {"10.0.0.5,10.0.0.6,0x0a.0.0.7", Addresses{{10, 0, 0, 5}, {10, 0, 0, 6}, {10, 0, 0, 7}}},
      // the same drive however it is written counts once, at its first place
      {"10.0.0.6,10.0.0.5,0xa.0.0.6,167772166", Addresses{{10, 0, 0, 6}, {10, 0, 0, 5}}},
      {"", std::nullopt},
      {",", std::nullopt},
      {"10.0.0.5,", std::nullopt},
      {",10.0.0.5", std::nullopt},
      {"10.0.0.5,,10.0.0.6", std::nullopt},
      {"10.0.0.5,300.1.1.1", std::nullopt},
      {"10.0.0.5,255.255.255.255", std::nullopt},
      {"10.0.0.5;10.0.0.6", std::nullopt},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(parseAddressList(c.text), c.expected) << "text: \"" << c.text << "\"";
  }
}

// Whatever the single-address reader makes of a text, an element of a list
// reads the same, wherever it stands.
TEST(AddressListTest, ElementsReadAsSingleAddresses) {
  const std::vector<std::string> texts = {
      "192.168.124.120", "0x7f.1", "010.0.0.1", "10.258",     "0",         "1.2.3.4 ",
      "1.2.3.4x",        "0x",     "00.1.2.3",  "3232267384", "1.2.3.4.5", "08.1.1.1"};
  for (const auto& text : texts) {
    const std::optional<DriveAddress> single = DriveAddress::parse(text);
    const auto expect = [&](const std::string& list, const Addresses& good) {
      EXPECT_EQ(parseAddressList(list), single ? std::optional<Addresses>(good) : std::nullopt)
          << "list: \"" << list << "\"";
    };
    const DriveAddress other(10, 9, 9, 9);
    const DriveAddress read = single.value_or(DriveAddress());
    expect(text, {read});
    expect("10.9.9.9," + text, {other, read});
    expect(text + ",10.9.9.9", {read, other});
  }
}

TEST(AddressListTest, TakesAtMostAHundredDifferentDrives) {
  std::string list;
  for (unsigned i = 1; i <= MAX_DRIVES; ++i) {
    list += (i > 1 ? ",10.0.0." : "10.0.0.") + std::to_string(i);
  }
  const auto hundred = parseAddressList(list);
  ASSERT_TRUE(hundred.has_value());
  EXPECT_EQ(hundred->size(), MAX_DRIVES);
  EXPECT_EQ(hundred->back(), DriveAddress(10, 0, 0, 100));
  // repeats beyond the bound are no new drives
  EXPECT_TRUE(parseAddressList(list + ",10.0.0.1,10.0.0.100").has_value());
  EXPECT_FALSE(parseAddressList(list + ",10.0.0.101").has_value());
}

}  // namespace
