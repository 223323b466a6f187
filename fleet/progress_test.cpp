// The running console: a drive's terminal line by stage and width. (The
// redrawing and the logged lines are the display's test.)
#include "fleet/progress.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

DriveState at(std::optional<Stage> stage) {
  DriveState drive;
  drive.address = {192, 168, 124, 120};
  drive.stage = stage;
  return drive;
}

DriveState failedAt(Stage stage, std::optional<std::size_t> block) {
  DriveState drive = at(stage);
  drive.result = DriveResult::failed;
  drive.failure = Failure{stage, block, FailureReason::noAnswer, 0};
  return drive;
}

TEST(ProgressTest, TerminalLineByStage) {
  DriveState connecting = at(Stage::connection);
  connecting.countdown = 997;
  DriveState started = at(Stage::programming);
  started.blockCount = 2048;
  DriveState third = started;
  third.blocksDone = 683;  // 33.3 %: 10 of 32 marks
  DriveState last = started;
  last.blocksDone = 2047;  // not yet 100 % nor a full bar
  DriveState single = at(Stage::programming);
  single.blockCount = 1;
  single.blocksDone = 1;
  DriveState programmed = single;
  programmed.stage = Stage::verify;
  const DriveState failed = failedAt(Stage::programming, 10);
  DriveState shortAddress = at(Stage::monitorPause);
  shortAddress.address = {10, 0, 0, 5};
  const std::string empty(BAR_CELLS, ' ');
  const std::string full(BAR_CELLS, '|');
  struct Case {
    DriveState drive;
    std::string line;
  };
  const std::vector<Case> cases = {
      {at(std::nullopt), "192.168.124.120  waiting"},
      // no request went out yet: no count
      {at(Stage::connection), "192.168.124.120  connection"},
      {connecting, "192.168.124.120  connection     997"},
      {shortAddress, "10.0.0.5         monitor state"},
      {at(Stage::identityProbe), "192.168.124.120  monitor state"},
      // before the first block is confirmed nothing is done
      {at(Stage::programming), "192.168.124.120  programming    [" + empty + "]   0%"},
      {started, "192.168.124.120  programming    [" + empty + "]   0%"},
      {third, "192.168.124.120  programming    [" + std::string(10, '|') + std::string(22, ' ') +
                  "]  33%"},
      {last, "192.168.124.120  programming    [" + std::string(31, '|') + " ]  99%"},
      {single, "192.168.124.120  programming    [" + full + "] 100%"},
      {programmed, "192.168.124.120  verify         [" + full + "] 100%"},
      // -s: checking what the drive holds, no block sent: no bar
      {at(Stage::verify), "192.168.124.120  verify"},
      {at(Stage::reboot), "192.168.124.120  reboot"},
      // the block in flight counted from 1, as on the one-drive console
      {failed, "192.168.124.120  failed at programming, block 11: no answer"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(progressLine(c.drive), c.line);
    EXPECT_LE(progressLine(c.drive).size(), DEFAULT_LINE_WIDTH);
  }
}

// A narrower window gets shorter lines: fewer bar cells, then the percent
// alone; a result is cut. No line is ever wider than asked for.
TEST(ProgressTest, LinesFitTheWidth) {
  DriveState third = at(Stage::programming);
  third.blockCount = 2048;
  third.blocksDone = 683;
  DriveState unreachable = at(Stage::connection);
  unreachable.result = DriveResult::failed;
  unreachable.failure = Failure{Stage::connection, std::nullopt, FailureReason::unreachable, 0};
  const struct {
    std::size_t width;
    std::string line;
  } cases[] = {
      {71, "192.168.124.120  programming    [" + std::string(10, '|') + std::string(22, ' ') +
               "]  33%"},
      {59,
       "192.168.124.120  programming    [" + std::string(6, '|') + std::string(14, ' ') + "]  33%"},
      {47, "192.168.124.120  programming    [||      ]  33%"},
      {46, "192.168.124.120  programming    33%"},
      {40, "192.168.124.120  programming    33%"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(progressLine(third, c.width), c.line) << c.width;
  }
  for (const std::size_t width : {40u, 59u, 79u}) {
    EXPECT_LE(progressLine(unreachable, width).size(), width);
    EXPECT_EQ(progressLine(unreachable, width).rfind("192.168.124.120  failed at connection", 0),
              0u);
  }
}

}  // namespace
