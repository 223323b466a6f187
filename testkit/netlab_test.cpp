#include "testkit/netlab.h"

#include <gtest/gtest.h>

#include "testkit/process.h"

namespace {

// The lab is what every end-to-end test stands on: a drive address that the
// host side reaches, and nothing of it left behind.
TEST(NetLabTest, TheHostReachesTheDriveAndTheLabIsRemoved) {
  std::string hostNs;
  {
    auto lab = makeNetLab({.extraDriveAddresses = 2, .requireIsolation = false});
    hostNs = lab->hostNs;
    ASSERT_EQ(lab->extraDriveIps.size(), 2u);
    if (!lab->isolated) {
      GTEST_SKIP() << "not root: network namespaces unavailable, loopback fallback in use";
    }
    const auto route =
        runProcess(lab->inHost({"ip", "route", "get", lab->driveIp}), std::chrono::seconds(5));
    EXPECT_NE(route.out.find("dev lan0 src " + lab->hostIp), std::string::npos) << route.out;
    const auto broadcast =
        runProcess(lab->inHost({"ip", "route", "get", "255.255.255.255"}), std::chrono::seconds(5));
    EXPECT_EQ(broadcast.exitCode, 0) << broadcast.err;
  }
  const auto list = runProcess({"ip", "netns", "list"}, std::chrono::seconds(5));
  EXPECT_EQ(list.out.find(hostNs), std::string::npos);
}

}  // namespace
