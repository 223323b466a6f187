// Which block an answer confirms, as sequences of sends and answers in time.
#include "session/block_tracker.h"

#include <gtest/gtest.h>

namespace {

using std::chrono::milliseconds;

const TimePoint T0 = TimePoint{} + std::chrono::hours(1);
TimePoint at(int ms) { return T0 + milliseconds(ms); }

// A 70 ms drive with a 60 ms pause: block 0 is sent twice; the answer to its
// retry comes while block 1 is under way and is taken for block 0's, so block
// 1 is confirmed only by an answer to its own send. (The drive's answer
// time is known from its answer to CMD_ENTER_MONITOR.)
TEST(BlockTracker, ALateAnswerToAnEarlierBlockConfirmsNothing) {
  BlockTracker t(milliseconds(60));
  t.noteAnswerTime(milliseconds(70));
  t.sent(0, at(0));
  t.sent(0, at(60));
  EXPECT_TRUE(t.answered(0, at(70)).confirms);
  t.sent(1, at(120));
  EXPECT_FALSE(t.answered(1, at(130)).confirms);
  EXPECT_TRUE(t.answered(1, at(190)).confirms);
  EXPECT_TRUE(t.drained(at(190)));
}

// Every block answer teaches the horizon, taken from the oldest send it
// could answer, before anything is given up: a drive that answers its
// identity request at once and every block later than the pause.
TEST(BlockTracker, EveryAnswerTeachesTheHorizonNeverTooShort) {
  BlockTracker t(milliseconds(60));
  t.noteAnswerTime(milliseconds(1));
  t.sent(0, at(0));
  t.sent(0, at(60));
  EXPECT_TRUE(t.answered(0, at(80)).confirms);  // at most 80 ms
  EXPECT_EQ(t.horizon(), milliseconds(160));
  EXPECT_FALSE(t.drained(at(120)));  // the retry's answer is still to come
  EXPECT_FALSE(t.answered(0, at(140)).resendFrom.has_value());
  EXPECT_TRUE(t.drained(at(140)));

  // Three sends before the first answer, 160 ms after the first: none of
  // them is given up by the pause-long horizon the answer proves too short.
  BlockTracker u(milliseconds(60));
  u.sent(0, at(0));
  u.sent(0, at(60));
  u.sent(0, at(120));
  EXPECT_TRUE(u.answered(0, at(160)).confirms);
  EXPECT_EQ(u.horizon(), milliseconds(320));
  EXPECT_FALSE(u.drained(at(380)));
  EXPECT_EQ(u.drainDeadline(at(380)), at(440));

  // A send given up as lost still teaches: the next answer may be its.
  BlockTracker v(milliseconds(60));
  v.sent(1, at(0));
  v.giveUpLost(at(60));
  EXPECT_TRUE(v.drained(at(60)));
  v.sent(2, at(60));
  v.answered(2, at(130));
  EXPECT_EQ(v.horizon(), milliseconds(260));
  // ... but not once it is older than MAX_HORIZON.
  v.sent(3, at(1200));
  v.answered(3, at(1210));
  EXPECT_EQ(v.horizon(), milliseconds(260));
}

// Outstanding sends count as lost once older than the horizon: twice the
// longest answer time, at least the pause, at most MAX_HORIZON.
TEST(BlockTracker, TheHorizonFollowsTheDrivesAnswerTime) {
  BlockTracker t(milliseconds(60));
  EXPECT_EQ(t.horizon(), milliseconds(60));
  t.noteAnswerTime(milliseconds(70));
  EXPECT_EQ(t.horizon(), milliseconds(140));
  t.sent(3, at(0));
  EXPECT_FALSE(t.drained(at(139)));
  EXPECT_EQ(t.drainDeadline(at(139)), at(140));
  EXPECT_TRUE(t.drained(at(140)));
  t.noteAnswerTime(milliseconds(5000));
  EXPECT_EQ(t.horizon(), BlockTracker::MAX_HORIZON);
  // An answer that can belong to one send only tells its time too.
  BlockTracker u(milliseconds(60));
  u.sent(0, at(0));
  EXPECT_TRUE(u.answered(0, at(45)).confirms);
  EXPECT_EQ(u.horizon(), milliseconds(90));
}

// An answer with nothing outstanding casts doubt on the blocks confirmed
// within the horizon: they are sent again from the earliest. From then on the
// drive is known to send copies and answers are matched by time: the next
// block waits until the sends before it are older than the horizon and the
// copy of the last answer is past.
TEST(BlockTracker, ADriveThatAnswersTwiceIsMatchedByTime) {
  BlockTracker t(milliseconds(60));
  t.sent(4, at(0));
  EXPECT_TRUE(t.answered(4, at(10)).confirms);
  t.sent(5, at(60));
  EXPECT_TRUE(t.answered(5, at(70)).confirms);
  const BlockTracker::Verdict doubt = t.answered(5, at(75));  // a copy, 5 ms on
  EXPECT_FALSE(doubt.confirms);
  EXPECT_EQ(doubt.resendFrom, 5u);  // block 4 was confirmed 65 ms ago
  t.sent(5, at(120));
  EXPECT_TRUE(t.answered(5, at(130)).confirms);
  EXPECT_TRUE(t.answered(5, at(135)).confirms);  // its copy: the same block
  EXPECT_FALSE(t.drained(at(179)));              // the send at 120 may still be answered
  EXPECT_EQ(t.drainDeadline(at(179)), at(180));
  t.giveUpLost(at(180));
  EXPECT_TRUE(t.drained(at(180)));
  // A copy that comes once the next block is under way is the drive's gap
  // growing: the block after waits it out.
  t.sent(6, at(180));
  EXPECT_TRUE(t.answered(6, at(190)).confirms);
  EXPECT_FALSE(t.answered(6, at(260)).resendFrom.has_value());
  EXPECT_FALSE(t.drained(at(260)));
}

// Asking whether the queue is drained gives nothing up: a send the pause-long
// horizon calls lost is still matched by an answer that widens the horizon,
// until it is given up.
TEST(BlockTracker, AskingGivesNothingUp) {
  BlockTracker t(milliseconds(60));
  t.sent(0, at(0));
  EXPECT_TRUE(t.drained(at(100)));
  EXPECT_TRUE(t.drained(at(100)));
  EXPECT_TRUE(t.answered(0, at(100)).confirms);

  BlockTracker u(milliseconds(60));
  u.sent(0, at(0));
  u.giveUpLost(at(100));
  EXPECT_FALSE(u.answered(0, at(100)).confirms);
}

TEST(BlockTracker, SendsBeyondItsCapacityDropTheOldest) {
  BlockTracker t(milliseconds(1000));
  t.sent(0, at(0));
  for (std::size_t i = 0; i < BlockTracker::CAPACITY; ++i) {
    t.sent(1, at(1));
  }
  EXPECT_TRUE(t.answered(1, at(2)).confirms);  // block 0's send is gone
}

}  // namespace
