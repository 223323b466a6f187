// Canaries and -s in a several-drives run, on the sessions' fake network
// and clock: which drives get datagrams at all, and what the summary says.
#include "fleet/fleet_run.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <string>
#include <vector>

#include "protocol/value_text.h"
#include "testkit/fake_network.h"

namespace {

using fake::DRIVE;  // answers as scripted
using fake::Network;
using fake::OTHER;  // never answers
using fake::Script;

const std::vector<std::uint8_t> FILE_BYTES(1500, 0x5a);  // three blocks

// The retry command: the drives as one -ip list, then the options.
RetryCommand commandOf(const std::string& options) {
  return [options](const std::vector<DriveAddress>& drives) {
    std::string command = "tovrin -ip ";
    for (std::size_t i = 0; i < drives.size(); ++i) {
      command += (i > 0 ? "," : "") + addressText(drives[i]);
    }
    return options.empty() ? command : command + " " + options;
  };
}

std::size_t sendsTo(const Network& net, DriveAddress address) {
  return static_cast<std::size_t>(std::count_if(
      net.log.begin(), net.log.end(), [&](const fake::Sent& s) { return s.to == address; }));
}

TEST(FleetRunTest, CanariesFirst) {
  const FirmwareImage image = makeImage(FILE_BYTES);
  const struct {
    const char* name;
    std::vector<DriveAddress> drives;
    std::size_t canaries;
    std::string countLine;
    std::string retry;  // the drives the retry line names, "" for none
    bool otherTouched;
    bool driveTouched;
  } cases[] = {
      // the silent canary fails: the drive after it gets not one datagram
      {"failing canary",
       {OTHER, DRIVE},
       1,
       "2 drives: 1 failed, 1 not started\n",
       "-ip 10.0.0.6,10.0.0.5 -c 1 -fp fw.bin\n",
       true,
       false},
      {"passing canary",
       {DRIVE, OTHER},
       1,
       "2 drives: 1 programmed and verified, 1 failed\n",
       "-ip 10.0.0.6 -c 1 -fp fw.bin\n",
       true,
       true},
      // as many canaries as drives, or none: all at once
      {"every drive a canary",
       {OTHER, DRIVE},
       2,
       "2 drives: 1 programmed and verified, 1 failed\n",
       "-ip 10.0.0.6 -c 2 -fp fw.bin\n",
       true,
       true},
      {"no canaries",
       {OTHER, DRIVE},
       0,
       "2 drives: 1 programmed and verified, 1 failed\n",
       "-ip 10.0.0.6 -fp fw.bin\n",
       true,
       true},
  };
  for (const auto& c : cases) {
    Network net;
    std::string console;
    const FleetRun run{
        c.drives,
        RunInfo{RunMode::program, "fw.bin", image.digest, 3, "20261207T000000.000Z-1"},
        SessionPlan{.image = &image},
        commandOf(c.canaries > 0 ? "-c " + std::to_string(c.canaries) + " -fp fw.bin"
                                 : "-fp fw.bin"),
        nullptr,
        c.canaries};
    const auto drives =
        runFleet(run, net, 0, [&](std::string_view text) { console += text; }).drives;
    EXPECT_NE(console.find(c.countLine), std::string::npos) << c.name << "\n" << console;
    EXPECT_TRUE(console.ends_with(c.retry)) << c.name << "\n" << console;
    EXPECT_EQ(sendsTo(net, OTHER) > 0, c.otherTouched) << c.name;
    EXPECT_EQ(sendsTo(net, DRIVE) > 0, c.driveTouched) << c.name;
    EXPECT_EQ(drives.size(), c.drives.size());
    // The drives after the canaries start once the canaries have ended.
    if (c.canaries > 0 && c.canaries < c.drives.size() && c.otherTouched && c.driveTouched) {
      const auto isCanary = [&](const fake::Sent& s) { return s.to == c.drives[0]; };
      const auto firstOther = std::find_if_not(net.log.begin(), net.log.end(), isCanary);
      EXPECT_TRUE(std::none_of(firstOther, net.log.end(), isCanary)) << c.name;
    }
  }
}

// Stopped by the user during the canaries, the drives after them get no
// datagram: not started, as the run was interrupted, not a stage they never
// entered.
TEST(FleetStopTest, AStopDuringTheCanariesStartsNoOtherDrive) {
  const FirmwareImage image = makeImage(FILE_BYTES);
  Network net;
  net.stopAt = std::chrono::milliseconds(2900);  // the canary is programming
  FleetRun run;
  run.drives = {fake::DRIVE, fake::OTHER};
  run.info.mode = RunMode::program;
  run.plan.image = &image;
  run.retryCommand = commandOf("");
  run.canaries = 1;
  std::string console;
  const FleetEnd end = runFleet(run, net, 0, [&](std::string_view text) { console += text; });

  ASSERT_EQ(end.drives.size(), 2u);
  EXPECT_EQ(end.drives[0].result, DriveResult::interrupted);
  ASSERT_TRUE(end.drives[0].failure);
  EXPECT_EQ(end.drives[0].failure->stage, Stage::programming);
  EXPECT_TRUE(end.drives[0].failure->imageIncomplete);
  EXPECT_EQ(end.drives[1].result, DriveResult::notStarted);
  EXPECT_EQ(end.drives[1].heldBack, HeldBack::interrupted);
  EXPECT_FALSE(end.drives[1].failure);
  for (const fake::Sent& s : net.log) {
    EXPECT_EQ(s.to, fake::DRIVE) << "a send to the drive after the canary";
    EXPECT_LE(s.at, std::chrono::milliseconds(2900));
  }
  EXPECT_NE(console.find("not started (interrupted)"), std::string::npos) << console;
  EXPECT_NE(console.find("2 drives: 1 interrupted, 1 not started\n"), std::string::npos) << console;
  EXPECT_NE(console.find("Retry the failed drives: tovrin -ip 10.0.0.5,10.0.0.6\n"),
            std::string::npos)
      << console;
}

}  // namespace
