// The interrupt watch with real signals: the first one is noted and wakes a
// wait at once, a second one ends the process, the end re-raises the first,
// and a signal the process was started to ignore stays ignored.
#include "platform/interrupt.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <vector>

#include "platform/adapters.h"

namespace {

using Clock = std::chrono::steady_clock;

// Waits up to a second on the wake handle; true when it was readable.
bool wokeAtOnce(const InterruptWatch& watch) {
  const NetSocket wake = watch.wakeHandle();
  std::vector<std::size_t> ready;
  return wake != NET_INVALID_SOCKET &&
         netWaitAny(std::span(&wake, 1), std::chrono::milliseconds(1000), &ready) ==
             NetResult::ok &&
         ready.size() == 1;
}

class InterruptSignal : public testing::TestWithParam<int> {};

TEST_P(InterruptSignal, IsNotedAndWakesTheWait) {
  InterruptWatch watch;
  EXPECT_FALSE(watch.requested());
  std::vector<std::size_t> ready;
  const NetSocket wake = watch.wakeHandle();
  ASSERT_NE(wake, NET_INVALID_SOCKET);
  EXPECT_EQ(netWaitAny(std::span(&wake, 1), Duration::zero(), &ready), NetResult::timedOut);

  kill(getpid(), GetParam());  // the process goes on
  const auto start = Clock::now();
  EXPECT_TRUE(wokeAtOnce(watch));
  EXPECT_LT(Clock::now() - start, std::chrono::milliseconds(100));
  EXPECT_TRUE(watch.requested());
}

TEST_P(InterruptSignal, ASecondOneEndsTheProcessAtOnce) {
  EXPECT_EXIT(
      {
        InterruptWatch watch;
        std::raise(GetParam());
        std::raise(GetParam());
        std::_Exit(0);  // not reached
      },
      testing::KilledBySignal(GetParam()), "");
}

TEST_P(InterruptSignal, TheEndIsTheSignalItself) {
  EXPECT_EXIT(
      {
        InterruptWatch watch;
        std::raise(GetParam());
        watch.endAsInterrupted();
      },
      testing::KilledBySignal(GetParam()), "");
}

INSTANTIATE_TEST_SUITE_P(Stop, InterruptSignal, testing::Values(SIGINT, SIGTERM, SIGHUP),
                         [](const testing::TestParamInfo<int>& p) {
                           return std::string(p.param == SIGINT    ? "SIGINT"
                                              : p.param == SIGTERM ? "SIGTERM"
                                                                   : "SIGHUP");
                         });

TEST(InterruptWatchTest, ARequestFromTheProgramEndsAsCtrlC) {
  EXPECT_EXIT(
      {
        InterruptWatch watch;
        watch.request();
        if (!watch.requested() || !wokeAtOnce(watch)) {
          std::_Exit(3);
        }
        watch.endAsInterrupted();
      },
      testing::KilledBySignal(SIGINT), "");
}

// nohup, or a background job of a script: the signal stays ignored.
TEST(InterruptWatchTest, ASignalIgnoredAtTheStartStaysIgnored) {
  EXPECT_EXIT(
      {
        std::signal(SIGHUP, SIG_IGN);
        InterruptWatch watch;
        std::raise(SIGHUP);
        std::_Exit(watch.requested() ? 3 : 0);
      },
      testing::ExitedWithCode(0), "");
}

// Once the watch is gone, the signals are the system's again.
TEST(InterruptWatchTest, TheWatchGivesTheSignalsBack) {
  EXPECT_EXIT(
      {
        { InterruptWatch watch; }
        std::raise(SIGTERM);
        std::_Exit(0);  // not reached
      },
      testing::KilledBySignal(SIGTERM), "");
}

}  // namespace
