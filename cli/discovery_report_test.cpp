// Discovery's lines on the console.
#include "cli/discovery_report.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

TEST(DiscoveryReportTest, LeftOutLineNamesEveryDriveLeftOut) {
  const std::vector<DriveAddress> leftOut = {
      {192, 168, 125, 101}, {192, 168, 125, 102}, {192, 168, 125, 103}};
  EXPECT_EQ(leftOutLine(leftOut),
            "\nERROR: 3 more drives answered than a run serves (100), left out: 192.168.125.101 "
            "192.168.125.102 192.168.125.103");
}

}  // namespace
