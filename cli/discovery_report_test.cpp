// Discovery's lines on the console.
#include "cli/discovery_report.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

namespace {

constexpr std::uint32_t ip(unsigned a, unsigned b, unsigned c, unsigned d) {
  return (a << 24) | (b << 16) | (c << 8) | d;
}

TEST(DiscoveryReportTest, LeftOutLineNamesEveryDriveLeftOut) {
  const std::vector<std::uint32_t> leftOut = {ip(192, 168, 125, 101), ip(192, 168, 125, 102),
                                              ip(192, 168, 125, 103)};
  EXPECT_EQ(leftOutLine(leftOut),
            "\nERROR: 3 more drives answered than a run serves (100), left out: 192.168.125.101 "
            "192.168.125.102 192.168.125.103");
}

}  // namespace
