// The order of release versions and the names a manifest may give.
#include "catalog/version.h"

#include <gtest/gtest.h>

namespace {

TEST(Version, Order) {
  const struct {
    const char* earlier;
    const char* later;
  } cases[] = {
      {"4.9", "4.10"},   // numbers as numbers
      {"4.2", "4.2.1"},  // a prefix first
      {"4.2.9", "4.3"},
      {"9", "10.0"},
      {"4.2", "4.beta"},                                      // numbers before text
      {"4.alpha", "4.beta"},                                  // text as text
      {"4.B", "4.a"},                                         // bytes: upper case first
      {"4.10", "4.2a"},                                       // "2a" is text: after every number
      {"1.99999999999999999999", "1.100000000000000000000"},  // beyond 64 bits
  };
  for (const auto& c : cases) {
    EXPECT_TRUE(compareVersions(c.earlier, c.later) < 0) << c.earlier << " < " << c.later;
    EXPECT_TRUE(compareVersions(c.later, c.earlier) > 0) << c.later << " > " << c.earlier;
  }
  for (const auto& [a, b] : {std::pair{"4.2", "4.2"}, {"4.02", "4.2"}, {"007", "7"}}) {
    EXPECT_TRUE(compareVersions(a, b) == 0) << a << " == " << b;
  }
}

TEST(Version, Valid) {
  for (const char* good : {"4", "4.2", "4.2.1-rc1", "v4.x"}) {
    EXPECT_TRUE(validVersion(good)) << good;
  }
  for (const char* bad : {"", ".", "4.", ".4", "4..2", "4 2", "4.2\n", "4.\xc3\xa9"}) {
    EXPECT_FALSE(validVersion(bad)) << bad;
  }
}

}  // namespace
