// The several-drives console fed with sessions' events on a fake clock.
#include "fleet/console.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "fleet/progress.h"

namespace {

using std::chrono::milliseconds;
using Time = FleetConsole::Clock::time_point;

constexpr std::uint32_t FIRST = 0x0A000005;
constexpr std::uint32_t SECOND = 0x0A000006;
const std::chrono::system_clock::time_point WALL{};

struct Recorded {
  std::vector<std::string> writes;
  FleetConsole::Sink sink() {
    return [this](std::string_view text) { writes.emplace_back(text); };
  }
};

Time at(int ms) { return Time{} + milliseconds(ms); }

// Two drives: the first programmed, the second falling silent in block 10.
void runTwoDrives(FleetConsole& console) {
  console.stageStarted(0, DriveStage::connect, at(0));
  console.stageStarted(1, DriveStage::connect, at(0));
  console.countdown(0, 1000, at(10));
  console.countdown(1, 1000, at(10));
  console.countdown(0, 999, at(40));
  console.stageStarted(0, DriveStage::monitor, at(60));
  console.stageStarted(1, DriveStage::monitor, at(70));
  console.identity(0, 42, MacAddress{1, 2, 3, 4, 5, 6});
  console.stageStarted(0, DriveStage::program, at(2700));
  console.stageStarted(1, DriveStage::program, at(2710));
  console.stageStarted(1, DriveStage::program, at(2710));
  for (std::size_t block = 1; block <= 20; ++block) {
    console.blockConfirmed(0, block, 20, at(2700 + 60 * static_cast<int>(block)));
    if (block <= 10) {
      console.blockConfirmed(1, block, 20, at(2710 + 60 * static_cast<int>(block)));
    }
  }
  console.failed(1, DriveStage::program, 10, "no answer", at(3610), WALL);
  console.stageStarted(0, DriveStage::verify, at(3900));
  console.stageStarted(0, DriveStage::reboot, at(4020));
  console.finished(0, DriveResult::programmed, at(9100), WALL);
  console.close();
}

TEST(FleetConsoleTest, LogsOneWholeLinePerStageChange) {
  Recorded out;
  FleetConsole console({FIRST, SECOND}, false, out.sink());
  runTwoDrives(console);
  const std::vector<std::string> expected = {
      "10.0.0.5: connect\n",
      "10.0.0.6: connect\n",
      "10.0.0.5: monitor\n",
      "10.0.0.6: monitor\n",
      "10.0.0.5: program\n",
      "10.0.0.6: program\n",
      "10.0.0.6: failed at program, block 10: no answer\n",
      "10.0.0.5: verify\n",
      "10.0.0.5: reboot\n",
      "10.0.0.5: programmed and verified\n",
  };
  EXPECT_EQ(out.writes, expected);
  const auto& drives = console.drives();
  EXPECT_EQ(drives[0].elapsed, milliseconds(9100));
  EXPECT_EQ(drives[0].serialNumber, 42);
  EXPECT_EQ(drives[1].elapsed, milliseconds(3610));
  EXPECT_EQ(drives[1].failedBlock, 10u);
  EXPECT_FALSE(drives[1].serialNumber.has_value());
}

TEST(FleetConsoleTest, RedrawsTheTerminalAtMostEveryInterval) {
  Recorded out;
  FleetConsole console({FIRST, SECOND}, true, out.sink());
  runTwoDrives(console);
  // Every drawing after the first goes back over the two lines before it.
  ASSERT_GE(out.writes.size(), 3u);
  EXPECT_EQ(out.writes[0].rfind("\r10.0.0.5         connect", 0), 0u) << out.writes[0];
  for (std::size_t i = 1; i < out.writes.size(); ++i) {
    EXPECT_EQ(out.writes[i].rfind("\x1b[2A\r", 0), 0u) << out.writes[i];
  }
  // 9.1 s of events, drawn no more often than every 100 ms, and the last
  // drawing shows how each drive ended.
  EXPECT_LE(out.writes.size(), 9100u / 100 + 2);
  EXPECT_EQ(out.writes.back(), "\x1b[2A\r" + progressLine(console.drives()[0]) + "\x1b[K\n\r" +
                                   progressLine(console.drives()[1]) + "\x1b[K\n");
  EXPECT_NE(out.writes.back().find("programmed and verified"), std::string::npos);
}

// Two drives counting down every 30 ms for 30 s: a drawing per 100 ms at
// most, not one per event.
TEST(FleetConsoleTest, CountdownsDoNotFloodTheTerminal) {
  Recorded out;
  FleetConsole console({FIRST, SECOND}, true, out.sink());
  for (int left = 1000; left > 0; --left) {
    console.countdown(0, left, at(30 * (1000 - left)));
    console.countdown(1, left, at(30 * (1000 - left) + 1));
  }
  EXPECT_GE(out.writes.size(), 250u);
  EXPECT_LE(out.writes.size(), 301u);
}

TEST(FleetConsoleTest, QuietConsoleDrawsOnceAtTheEnd) {
  Recorded out;
  FleetConsole console({FIRST}, true, out.sink());
  console.close();
  EXPECT_EQ(out.writes, std::vector<std::string>{"\r10.0.0.5         waiting\x1b[K\n"});
}

}  // namespace
