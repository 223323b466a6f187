#include "testkit/netlab.h"

#include <gtest/gtest.h>

#include "testkit/process.h"

namespace {

std::string routeTo(const NetLab& lab, const std::string& dest) {
  const auto r = runProcess(lab.inHost({"ip", "route", "get", dest}), std::chrono::seconds(5));
  return r.exitCode == 0 ? r.out : "no route: " + r.err;
}

// The lab is what every end-to-end test stands on: each shape gives the host
// the routes it promises (the drive reached from the right adapter, the
// default route where the shape puts it, or none), and nothing of it is left
// behind.
TEST(NetLabTest, EachShapeRoutesAsItSaysAndIsRemoved) {
  struct Case {
    LabShape shape;
    const char* toDrive;        // in `ip route get <drive>`, "" when unreachable
    const char* toSecondDrive;  // likewise for the second LAN's drive
    const char* defaultRoute;   // in `ip route show default`, "" for none
  };
  const Case cases[] = {
      {LabShape::gatewayRoute, "dev lan0 src 192.168.124.10", "",
       "default via 192.168.124.1 dev lan0"},
      {LabShape::noDefaultRoute, "dev lan0 src 192.168.124.10", "", ""},
      {LabShape::twoLans, "dev lan0 src 192.168.124.10", "dev lan2 src 10.20.30.10",
       "default via 10.20.30.1 dev lan2"},
      {LabShape::twoAdaptersOneLan, "src 192.168.124.1", "", "default via 192.168.124.1 dev lan0"},
      {LabShape::loopbackOnly, "", "", ""},
  };
  std::vector<std::string> namespaces;
  for (const Case& c : cases) {
    SCOPED_TRACE(static_cast<int>(c.shape));
    auto lab = makeNetLab({.extraDriveAddresses = 2, .shape = c.shape});
    ASSERT_EQ(lab->extraDriveIps.size(), c.shape == LabShape::loopbackOnly ? 0u : 2u);
    if (!lab->isolated) {
      GTEST_SKIP() << "not root: network namespaces unavailable, loopback fallback in use";
    }
    namespaces.insert(namespaces.end(), {lab->hostNs, lab->driveNs, lab->secondDriveNs});
    const std::string toDrive = routeTo(*lab, "192.168.124.120");
    const std::string toSecond = routeTo(*lab, "10.20.30.120");
    const auto defaults =
        runProcess(lab->inHost({"ip", "route", "show", "default"}), std::chrono::seconds(5));
    if (*c.toDrive != '\0') {
      EXPECT_NE(toDrive.find(c.toDrive), std::string::npos) << toDrive;
    } else {
      EXPECT_NE(toDrive.find("no route"), std::string::npos) << toDrive;
    }
    if (*c.toSecondDrive != '\0') {
      EXPECT_NE(toSecond.find(c.toSecondDrive), std::string::npos) << toSecond;
    } else if (*c.defaultRoute == '\0') {
      EXPECT_NE(toSecond.find("no route"), std::string::npos) << toSecond;
    }
    if (*c.defaultRoute != '\0') {
      EXPECT_EQ(defaults.out.rfind(c.defaultRoute, 0), 0u) << defaults.out;
    } else {
      EXPECT_EQ(defaults.out, "");
    }
  }
  const auto list = runProcess({"ip", "netns", "list"}, std::chrono::seconds(5));
  for (const std::string& ns : namespaces) {
    if (!ns.empty()) {
      EXPECT_EQ(list.out.find(ns + " "), std::string::npos) << ns;
      EXPECT_EQ(list.out.find(ns + "\n"), std::string::npos) << ns;
    }
  }
}

}  // namespace
