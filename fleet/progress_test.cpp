// The running console: a drive's terminal line by stage, the redrawing,
// and the logged line per stage change.
#include "fleet/progress.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

DriveState at(std::optional<Stage> stage) {
  DriveState drive;
  drive.address = 0xC0A87C78;
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
  const DriveState failed = failedAt(Stage::programming, 10);
  DriveState shortAddress = at(Stage::monitorPause);
  shortAddress.address = 0x0A000005;
  const std::string empty(BAR_CELLS, ' ');
  const std::string full(BAR_CELLS, '|');
  struct Case {
    DriveState drive;
    std::string line;
  };
  const std::vector<Case> cases = {
      {at(std::nullopt), "192.168.124.120  waiting"},
      {connecting, "192.168.124.120  connect  997"},
      {shortAddress, "10.0.0.5         monitor"},
      {started, "192.168.124.120  program  [" + empty + "]   0%"},
      {third,
       "192.168.124.120  program  [" + std::string(10, '|') + std::string(22, ' ') + "]  33%"},
      {last, "192.168.124.120  program  [" + std::string(31, '|') + " ]  99%"},
      {single, "192.168.124.120  program  [" + full + "] 100%"},
      {at(Stage::verify), "192.168.124.120  verify   [" + full + "] 100%"},
      {at(Stage::identityProbe), "192.168.124.120  probe"},
      {failed, "192.168.124.120  failed at program, block 10: no answer"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(progressLine(c.drive), c.line);
  }
}

TEST(ProgressTest, RedrawsOverThePreviousLines) {
  EXPECT_EQ(redrawLines({"a", "b"}, 0), "\ra\x1b[K\n\rb\x1b[K\n");
  EXPECT_EQ(redrawLines({"a", "b"}, 2), "\x1b[2A\ra\x1b[K\n\rb\x1b[K\n");
  // a line as wide as a terminal would wrap and push the others down
  const std::string wide(200, 'w');
  EXPECT_EQ(redrawLines({wide}, 1), "\x1b[1A\r" + std::string(79, 'w') + "\x1b[K\n");
}

TEST(ProgressTest, LoggedLinePerStage) {
  DriveState done = at(Stage::reboot);
  done.result = DriveResult::programmed;
  EXPECT_EQ(stageLine(at(Stage::connection)), "192.168.124.120: connect\n");
  EXPECT_EQ(stageLine(done), "192.168.124.120: programmed and verified\n");
  EXPECT_EQ(stageLine(failedAt(Stage::connection, std::nullopt)),
            "192.168.124.120: failed at connect: no answer\n");
}

}  // namespace
