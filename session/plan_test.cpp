// How long a plan (-n) says the programming run would take.
#include "session/plan.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

using std::chrono::milliseconds;

std::vector<DriveState> drivesEnding(std::initializer_list<DriveResult> results) {
  std::vector<DriveState> drives;
  for (const DriveResult result : results) {
    drives.emplace_back().result = result;
  }
  return drives;
}

TEST(PlannedRunTime, TheLongestDriveOfEachPhase) {
  const Pacing pacing;  // the drive's own pacing
  // link start, connection, monitor pause, monitor state; reboot and its pause
  const milliseconds reached{150 + 30 + 2500 + 150};
  const milliseconds reboot{30 + 5000};
  const milliseconds programmed = reached + 10 * milliseconds(60) + milliseconds(120) + reboot;
  using R = DriveResult;
  const struct {
    const char* name;
    std::vector<DriveState> drives;
    std::size_t canaries;
    milliseconds time;
  } cases[] = {
      {"side by side", drivesEnding({R::current, R::wouldProgram, R::incompatible}), 0, programmed},
      {"current", drivesEnding({R::current}), 0, reached + milliseconds(120) + reboot},
      {"refused", drivesEnding({R::newerOnDrive, R::incompatible}), 0, reached + reboot},
      {"failed adds nothing", drivesEnding({R::failed}), 0, milliseconds(0)},
      {"canary, then the rest", drivesEnding({R::current, R::wouldProgram}), 1,
       reached + milliseconds(120) + reboot + programmed},
      // a canary that would not succeed holds the others back
      {"canary refused", drivesEnding({R::incompatible, R::wouldProgram}), 1, reached + reboot},
      {"every drive a canary", drivesEnding({R::wouldProgram, R::wouldProgram}), 2, programmed},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(plannedRunTime(c.drives, c.canaries, pacing, 10), c.time) << c.name;
  }
}

}  // namespace
