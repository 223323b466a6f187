// The drives' states from their sessions' events, on a fake clock.
#include "session/board.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "session/drive_text.h"

namespace {

using std::chrono::milliseconds;

constexpr DriveAddress FIRST{10, 0, 0, 5};
constexpr DriveAddress SECOND{10, 0, 0, 6};
const std::vector<DriveAddress> TWO = {FIRST, SECOND};

struct Fixture {
  explicit Fixture(RunMode mode, const std::vector<DriveAddress>& addresses = TWO,
                   ReleaseGuard releases = {})
      : board(addresses, SessionPlan{.mode = mode, .releases = releases},
              [this] { return TimePoint{} + milliseconds(clock); },
              {[this](const std::vector<DriveState>& drives, std::size_t i, bool newStage) {
                 log.push_back(std::to_string(i) + (newStage ? " stage " : " ") +
                               stageName(drives[i].stage));
               },
               [this](const DriveState& d) {
                 log.push_back(std::to_string(d.address.parts()[3]) + " ended");
               }}) {}
  int clock = 0;
  std::vector<std::string> log;
  DriveBoard board;
};

TEST(DriveBoardTest, ResultsByModeAndVerdict) {
  const Digest file{1};
  const Digest other{2};
  struct Case {
    RunMode mode;
    std::optional<bool> equal;  // the verdict reported, if any
    SessionResult result;
    DriveResult expected;
    bool current = false;  // the drive confirmed it holds the file (-s)
  };
  const std::vector<Case> cases = {
      {RunMode::program, std::nullopt, SessionResult::completed, DriveResult::programmed},
      {RunMode::program, std::nullopt, SessionResult::failed, DriveResult::failed},
      {RunMode::identity, std::nullopt, SessionResult::completed, DriveResult::identified},
      {RunMode::verify, true, SessionResult::completed, DriveResult::digestEqual},
      {RunMode::verify, false, SessionResult::completed, DriveResult::digestDiffers},
      // completed without a verdict is no verification
      {RunMode::verify, std::nullopt, SessionResult::completed, DriveResult::failed},
      {RunMode::program, std::nullopt, SessionResult::completed, DriveResult::current, true},
      // the reboot after the check may still fail
      {RunMode::program, std::nullopt, SessionResult::failed, DriveResult::failed, true},
  };
  for (const auto& c : cases) {
    Fixture f(c.mode, {FIRST});
    f.board.stageStarted(FIRST, Stage::identityProbe);
    if (c.equal) {
      f.board.digestVerdict(FIRST, file, *c.equal ? file : other, *c.equal);
    }
    if (c.current) {
      f.board.alreadyCurrent(FIRST);
    }
    f.board.finished(FIRST, c.result);
    const DriveState& d = f.board.drives()[0];
    EXPECT_EQ(d.result, c.expected) << "mode " << static_cast<int>(c.mode);
    if (c.mode == RunMode::verify && !c.equal) {
      ASSERT_TRUE(d.failure.has_value());
      EXPECT_EQ(d.failure->reason, FailureReason::noDigest);
    }
    if (c.equal) {
      EXPECT_EQ(d.driveDigest, *c.equal ? file : other);
    }
  }
}

TEST(DriveBoardTest, FollowsEachDriveOnItsOwn) {
  Fixture f(RunMode::program);
  f.board.stageStarted(FIRST, Stage::connection);
  f.clock = 5;
  f.board.stageStarted(SECOND, Stage::connection);
  f.board.countdown(FIRST, 1000);
  f.board.countdown(SECOND, 1000);
  f.board.stageStarted(FIRST, Stage::monitorPause);
  f.board.stageStarted(FIRST, Stage::monitor);  // the same word: no new line
  UnitIdentity identity;
  identity.serialNumber = 4711;
  identity.macAddress = {0, 0x1a, 0x2b, 0x3c, 0x4d, 0x5e};
  f.board.identityReceived(FIRST, identity);
  f.board.stageStarted(FIRST, Stage::programming);
  // a block confirmed out of order after a resend still counts once
  f.board.blockConfirmed(FIRST, 1, 3);
  f.board.blockConfirmed(FIRST, 0, 3);
  f.board.stageStarted({10, 0, 0, 153}, Stage::connection);  // not a drive of this run
  f.clock = 3000;
  f.board.failed(SECOND, Failure{Stage::connection, std::nullopt, FailureReason::noAnswer, 0});
  f.board.finished(SECOND, SessionResult::failed);
  f.clock = 9000;
  f.board.finished(FIRST, SessionResult::completed);

  const std::vector<std::string> expected = {
      "0 stage connection",
      "1 stage connection",
      "0 connection",
      "1 connection",
      "0 stage monitor state",
      "0 monitor state",
      "0 stage programming",
      "0 programming",
      "0 programming",
      "1 stage connection",
      "6 ended",
      "0 stage programming",
      "5 ended",
  };
  EXPECT_EQ(f.log, expected);
  const DriveState& first = f.board.drives()[0];
  const DriveState& second = f.board.drives()[1];
  EXPECT_EQ(first.blocksDone, 2u);
  EXPECT_EQ(first.blockCount, 3u);
  EXPECT_EQ(first.serialNumber, 4711);
  EXPECT_EQ(first.mac, identity.macAddress);
  EXPECT_EQ(first.elapsed, milliseconds(9000));
  EXPECT_EQ(resultText(first), "programmed and verified");
  EXPECT_EQ(second.elapsed, milliseconds(2995));
  EXPECT_EQ(resultText(second), "failed at connection: no answer");
  EXPECT_FALSE(second.serialNumber.has_value());
}

// -c: a drive left untouched ends as not started, told as any drive that
// ends; the identity read along the way is kept whole for the records.
TEST(DriveBoardTest, NotStartedAndTheWholeIdentity) {
  Fixture f(RunMode::identity);
  UnitIdentity identity;
  identity.buildNumber = 12;
  identity.vinNumber[0] = 'V';
  f.board.identityReceived(FIRST, identity);
  f.board.finished(FIRST, SessionResult::failed);
  f.board.notStarted(1, HeldBack::canaryFailed);
  EXPECT_EQ(f.log.back(), "6 ended");
  EXPECT_EQ(f.board.drives()[1].result, DriveResult::notStarted);
  EXPECT_EQ(resultText(f.board.drives()[1]), "not started (a canary failed)");
  ASSERT_TRUE(f.board.drives()[0].identity.has_value());
  EXPECT_EQ(f.board.drives()[0].identity->buildNumber, 12);
  EXPECT_EQ(f.board.drives()[0].identity->vinNumber[0], 'V');
}

}  // namespace
