// The several-drives console on a fake clock: lines for logs, in-place
// drawings for a terminal.
#include "fleet/fleet_display.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "fleet/progress.h"
#include "session/board.h"

namespace {

using std::chrono::milliseconds;

constexpr DriveAddress FIRST{10, 0, 0, 5};
constexpr DriveAddress SECOND{10, 0, 0, 6};

// A board wired to a console, as a several-drives run has them.
struct ConsoleRun {
  explicit ConsoleRun(std::size_t redrawWidth,
                      std::vector<DriveAddress> addresses = {FIRST, SECOND})
      : console(
            redrawWidth, [this](std::string_view text) { writes.emplace_back(text); },
            [this] { return readerBehind; }),
        board(addresses, SessionPlan{}, [this] { return now(); },
              {[this](const std::vector<DriveState>& drives, std::size_t i, bool newStage) {
                 console.changed(drives, i, newStage, now());
               },
               {}}) {}
  TimePoint now() const { return TimePoint{} + milliseconds(clock); }
  int clock = 0;
  bool readerBehind = false;  // the reader has not taken the last text
  std::vector<std::string> writes;
  FleetDisplay console;
  DriveBoard board;
};

// The first drive programmed, the second falling silent in block 11 (10
// counted from 0).
void runTwoDrives(ConsoleRun& run) {
  DriveBoard& b = run.board;
  b.stageStarted(FIRST, Stage::connection);
  b.stageStarted(SECOND, Stage::connection);
  for (int count = 1000; count > 990; --count) {
    run.clock += 30;
    b.countdown(FIRST, count);
    b.countdown(SECOND, count);
  }
  b.stageStarted(FIRST, Stage::monitorPause);
  b.stageStarted(SECOND, Stage::monitorPause);
  run.clock += 2500;
  b.stageStarted(FIRST, Stage::monitor);
  b.stageStarted(SECOND, Stage::monitor);
  b.stageStarted(FIRST, Stage::programming);
  b.stageStarted(SECOND, Stage::programming);
  for (std::size_t block = 0; block < 20; ++block) {
    run.clock += 60;
    b.blockConfirmed(FIRST, block, 20);
    if (block < 10) {
      b.blockConfirmed(SECOND, block, 20);
    }
  }
  b.failed(SECOND, Failure{Stage::programming, 10, FailureReason::noAnswer, 0});
  b.finished(SECOND, SessionResult::failed);
  b.stageStarted(FIRST, Stage::verify);
  b.stageStarted(FIRST, Stage::reboot);
  run.clock += 5000;
  b.finished(FIRST, SessionResult::completed);
  run.console.close(b.drives());
}

TEST(FleetDisplayTest, LogsOneWholeLinePerStageChange) {
  ConsoleRun run(0);
  runTwoDrives(run);
  const std::vector<std::string> expected = {
      "10.0.0.5: connection\n",
      "10.0.0.6: connection\n",
      "10.0.0.5: monitor state\n",
      "10.0.0.6: monitor state\n",
      "10.0.0.5: programming\n",
      "10.0.0.6: programming\n",
      "10.0.0.6: failed at programming, block 11: no answer\n",
      "10.0.0.5: verify\n",
      "10.0.0.5: reboot\n",
      "10.0.0.5: programmed and verified\n",
  };
  EXPECT_EQ(run.writes, expected);
}

TEST(FleetDisplayTest, RedrawsTheTerminalInPlace) {
  ConsoleRun run(DEFAULT_LINE_WIDTH);
  runTwoDrives(run);
  ASSERT_GE(run.writes.size(), 3u);
  EXPECT_EQ(run.writes[0].rfind("\r10.0.0.5         connection", 0), 0u) << run.writes[0];
  // Every drawing after the first goes back over the two lines before it,
  // and the last shows how each drive ended.
  for (std::size_t i = 1; i < run.writes.size(); ++i) {
    EXPECT_EQ(run.writes[i].rfind("\x1b[2A\r", 0), 0u) << run.writes[i];
  }
  EXPECT_EQ(run.writes.back(), "\x1b[2A\r" + progressLine(run.board.drives()[0]) + "\x1b[K\n\r" +
                                   progressLine(run.board.drives()[1]) + "\x1b[K\n");
  EXPECT_NE(run.writes.back().find("programmed and verified"), std::string::npos);
  EXPECT_NE(run.writes.back().find("failed at programming, block 11"), std::string::npos);
}

// Two drives counting down every 30 ms for 30 s: a drawing per 100 ms at
// most, not one per event. A reader that stops taking text (a terminal
// stopped with Ctrl+S) gets no drawing while it has not taken the last, and
// the drives as they ended once the run closes.
TEST(FleetDisplayTest, CountdownsDoNotFloodTheTerminal) {
  for (const bool stalled : {false, true}) {
    ConsoleRun run(DEFAULT_LINE_WIDTH);
    for (int count = 1000; count > 0; --count) {
      run.clock += 30;
      run.board.countdown(FIRST, count);
      run.board.countdown(SECOND, count);
      run.readerBehind = stalled && !run.writes.empty();
    }
    if (!stalled) {
      EXPECT_GE(run.writes.size(), 250u);
      EXPECT_LE(run.writes.size(), 301u);
      continue;
    }
    EXPECT_EQ(run.writes.size(), 1u);
    run.board.failed(FIRST, Failure{Stage::connection, {}, FailureReason::noAnswer, 0});
    run.board.finished(FIRST, SessionResult::failed);
    run.console.close(run.board.drives());
    ASSERT_EQ(run.writes.size(), 2u);
    EXPECT_NE(run.writes.back().find("failed at connection"), std::string::npos);
  }
}

// Lines are redrawn only where the window holds them all, in rows and in
// columns (one spare), and never wider than the usual 79 columns.
TEST(FleetDisplayTest, RedrawsOnlyWhereTheLinesFit) {
  const struct {
    bool terminal;
    int rows;
    int columns;
    std::size_t drives;
    std::size_t width;
  } cases[] = {
      {false, 40, 120, 3, 0},  // a file or a pipe
      {true, 0, 0, 3, 0},      // a window of unknown size
      {true, 40, 120, 3, 79}, {true, 40, 80, 3, 79}, {true, 40, 60, 3, 59},
      {true, 40, 41, 3, 40},  {true, 40, 40, 3, 0},  // too narrow for a useful line
      {true, 4, 80, 3, 79},   {true, 3, 80, 3, 0},   // one row short
      {true, 24, 80, 100, 0},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(redrawWidth(c.terminal, c.rows, c.columns, c.drives), c.width)
        << c.rows << "x" << c.columns << " for " << c.drives;
  }
}

TEST(FleetDisplayTest, QuietRunDrawsOnceAtTheEnd) {
  ConsoleRun run(DEFAULT_LINE_WIDTH, {FIRST});
  run.console.close(run.board.drives());
  EXPECT_EQ(run.writes, std::vector<std::string>{"\r10.0.0.5         waiting\x1b[K\n"});
}

}  // namespace
