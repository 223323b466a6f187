// The user's stop over the fake clock: in every stage the run ends at the
// moment of the stop, sends nothing after it, and each unfinished session
// says where it stopped and whether its drive holds part of an image.
#include <gtest/gtest.h>

#include <numeric>
#include <string>
#include <vector>

#include "image/image.h"
#include "session/runner.h"
#include "testkit/fake_network.h"

namespace {

using fake::milliseconds;

// "drive:stage:b<block>:partial" for each interrupted session; "drive:done"
// for each that completed.
class StopRecorder final : public SessionObserver {
 public:
  std::string text;

  void failed(std::uint32_t drive, const Failure& f) override {
    static const char* const stages[] = {"probe",       "connection", "pause", "monitor",
                                         "programming", "verify",     "reboot"};
    text += std::to_string(drive & 0xFF) + ":" + stages[static_cast<int>(f.stage)] +
            (f.block ? ":b" + std::to_string(*f.block) : "") +
            (f.reason == FailureReason::interrupted ? "" : ":other-reason") +
            (f.imageIncomplete ? ":partial" : "") + " ";
  }
  void finished(std::uint32_t drive, SessionResult result) override {
    if (result == SessionResult::completed) {
      text += std::to_string(drive & 0xFF) + ":done ";
    }
  }
};

FirmwareImage imageOf(std::size_t fileSize) {
  std::vector<std::uint8_t> file(fileSize);
  std::iota(file.begin(), file.end(), std::uint8_t{3});
  return makeImage(file);
}

struct StopCase {
  const char* name;
  RunMode mode;
  int stopMs;
  std::string stopped;  // what the recorder tells
  bool silent = false;  // the drive never answers
};

void PrintTo(const StopCase& c, std::ostream* os) { *os << c.name; }

class StopInStage : public testing::TestWithParam<StopCase> {};

// A drive that answers at once: connection at 150, monitor at 2680, 18
// blocks from 2830 every 60 ms, verify at 3910, reboot at 4030, its pause
// to 9060.
TEST_P(StopInStage, EndsAtOnceSaysWhereAndSendsNothingMore) {
  const StopCase& c = GetParam();
  fake::Script script;
  if (c.silent) {
    script.silentUntil = milliseconds(1'000'000);
  }
  fake::Network net(script);
  net.stopAt = milliseconds(c.stopMs);
  const FirmwareImage image = imageOf(8706);
  StopRecorder recorder;
  const std::uint32_t drives[] = {fake::DRIVE};
  const auto outcomes =
      runDrives(drives, c.mode, c.mode == RunMode::identity ? nullptr : &image, recorder, net);

  EXPECT_EQ(outcomes.front().result, SessionResult::interrupted);
  EXPECT_EQ(recorder.text, c.stopped + " ");
  EXPECT_EQ(net.since(net.now()), milliseconds(c.stopMs));
  for (const fake::Sent& s : net.log) {
    EXPECT_LE(s.at, milliseconds(c.stopMs)) << "code " << s.code;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Session, StopInStage,
    testing::Values(StopCase{"LinkStart", RunMode::program, 100, "5:connection"},
                    StopCase{"Connecting", RunMode::program, 20000, "5:connection", true},
                    StopCase{"MonitorPause", RunMode::program, 1500, "5:pause"},
                    StopCase{"Monitor", RunMode::program, 2700, "5:monitor"},
                    StopCase{"FirstBlock", RunMode::program, 2831, "5:programming:b0:partial"},
                    StopCase{"MidProgramming", RunMode::program, 3000, "5:programming:b2:partial"},
                    StopCase{"Verify", RunMode::program, 3950, "5:verify:partial"},
                    StopCase{"RebootUnconfirmed", RunMode::program, 4031, "5:reboot:partial"},
                    StopCase{"RebootPause", RunMode::program, 6000, "5:reboot"},
                    StopCase{"IdentityProbe", RunMode::identity, 200, "5:probe", true},
                    StopCase{"VerifyConnecting", RunMode::verify, 5000, "5:connection", true}),
    [](const testing::TestParamInfo<StopCase>& p) { return std::string(p.param.name); });

// A session that has ended stays as it ended; those still running are
// interrupted, in the order of the run's drives.
TEST(StopTest, OnlyUnfinishedSessionsAreInterrupted) {
  fake::Network net;
  net.stopAt = milliseconds(2000);
  StopRecorder recorder;
  const std::uint32_t drives[] = {fake::OTHER, fake::DRIVE, fake::OWN};
  const auto outcomes = runDrives(drives, RunMode::identity, nullptr, recorder, net);
  EXPECT_EQ(recorder.text, "1:connection:other-reason 5:done 6:connection ");
  EXPECT_EQ(outcomes[0].result, SessionResult::interrupted);
  EXPECT_EQ(outcomes[1].result, SessionResult::completed);
  EXPECT_EQ(outcomes[2].result, SessionResult::failed);  // its own address
}

}  // namespace
