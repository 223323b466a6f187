// Discovery and the sessions of -a on one network and one clock: the drives
// discovery lists are the ones the run programs, from where discovery ended.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <span>
#include <string>
#include <vector>

#include "discovery/discovery.h"
#include "fleet/fleet_run.h"
#include "testkit/fake_network.h"

namespace {

using namespace std::chrono_literals;

class Found final : public DiscoveryObserver {
 public:
  void driveFound(DriveAddress /*address*/) override {}
  void failed(DiscoveryFailure /*failure*/) override { ADD_FAILURE() << "discovery failed"; }
};

TEST(OneNetworkTest, TheDriveDiscoveryFindsIsProgrammedWhenDiscoveryEnds) {
  fake::Script script;
  script.discoverable = true;
  fake::Network net(script);
  // The PC's adapter on the drive's LAN, and one on another LAN.
  // (The platform's form of their addresses, as the system lists them.)
  net.adapterList = {{fake::OWN.toNet(), 0xFFFFFF00u},
                     {DriveAddress(192, 168, 124, 10).toNet(), 0xFFFFFF00u}};
  Found found;
  const std::vector<DriveAddress> drives = discoverDrives(net, found);
  ASSERT_EQ(drives, std::vector<DriveAddress>{fake::DRIVE});
  EXPECT_EQ(net.elapsed(), 5000ms);

  const FirmwareImage image = makeImage(std::vector<std::uint8_t>(1300, 0xa5));  // three blocks
  FleetRun run;
  run.drives = drives;
  run.info.mode = RunMode::program;
  run.plan.image = &image;
  std::string console;
  const FleetEnd end = runFleet(run, net, 0, [&](std::string_view text) { console += text; });

  ASSERT_EQ(end.drives.size(), 1u);
  EXPECT_EQ(end.drives[0].result, DriveResult::programmed) << console;
  ASSERT_FALSE(net.log.empty());
  EXPECT_GE(net.log.front().at, 5000ms) << "a command went out while discovery ran";
  const std::span<const std::uint8_t> sent = image.bytes();
  EXPECT_TRUE(std::equal(sent.begin(), sent.end(), net.memory.begin(), net.memory.end()));
}

}  // namespace
