// Which block an answer to CMD_PROGRAM_BLOCK confirms.
//
// The drive's answers carry no block number, and a drive may answer later
// than the pause after a send: a late answer to block j's retry must never
// be taken for the answer to block j + 1, or a block that was lost on the way
// would leave a hole in the drive's image while the run goes on. So:
//
// - Answers are matched to sends first-in-first-out. Every send goes into a
//   queue of outstanding sends (block, time sent); an answer with status 1
//   takes the oldest. The current block is confirmed only when the send taken
//   was one of the current block. Sends go out in the order of their blocks,
//   so when the oldest outstanding send is of the current block, every send
//   the answer can belong to is of the current block.
// - Before the next block's first send, the queue is drained: every send of
//   the blocks before is answered, or old enough to count as lost (older than
//   the horizon). The next block then starts with nothing outstanding that
//   its answers could be mistaken for. A good run (each block answered
//   within its pause) has nothing to drain, so its pacing is the same.
// - The horizon is twice the longest answer time seen, at least the pause
//   after a send and at most MAX_HORIZON. Every answer teaches it: the
//   drive's answer to CMD_ENTER_MONITOR, taken from the exchange's first
//   send, and every block answer, taken from the oldest send it could
//   answer: the oldest outstanding, or one given up as lost within
//   MAX_HORIZON (its answer may still come). The time an answer is taken
//   for is never shorter than its own, so the horizon is never learnt too
//   short from an answer that could belong to more than one send. It is
//   learnt before anything is given up, so the answer that shows the
//   horizon too short keeps the sends it would have dropped.
// - An answer with nothing outstanding (a drive that answers twice) is a
//   surplus, and a sign that an earlier answer may have been matched to the
//   wrong send. Rewriting a block is harmless (the same bytes at the same
//   address), so the blocks confirmed within the last horizon are sent again,
//   from the earliest of them. Each block is the start of such a re-send at
//   most once, so a drive that always answers twice costs at most one extra
//   round per block and the run still ends.
// - A drive that answers twice (a surplus, or a second answer to the one
//   CMD_ENTER_MONITOR sent) makes counting worthless: a copy can stand in for
//   the answer to a block that was lost. From then on answers are matched by
//   time instead. Sends leave the queue only by age, so the next block's
//   first send waits until every send before it is older than the horizon,
//   and until twice the gap seen between an answer and its copy has passed
//   since the last answer. Whatever arrives while only the current block's
//   sends are outstanding is then the current block's: every answer and copy
//   of an earlier block has come in before. Only such a drive is slowed (a
//   block takes about twice its answer time); a good run never enters this.
//
// What this guarantees: a drive that answers each send at most once (or is
// caught answering twice), within twice the longest answer time seen before
// and within MAX_HORIZON, never has an answer taken for a later block; the
// sends that answers are taken from are at or before the ones answered, so
// a lost send or answer costs tries and time, never a block. It can still be
// fooled by a drive whose answer time jumps beyond twice everything seen so
// far (or beyond MAX_HORIZON) exactly when the next block's send is lost,
// by answers that overtake one another by more than a pause, or by a stranger that forges the
// drive's answers from its address. Against those the drive's own check of the whole image at
// CMD_VERIFY is the last guard: "Reboot : DONE" follows only its success.
#pragma once

#include <chrono>
#include <cstddef>
#include <optional>

#include "link/transport.h"
#include "session/ring.h"

class BlockTracker {
 public:
  using Duration = Clock::duration;
  static constexpr Duration MAX_HORIZON = std::chrono::milliseconds(1000);
  // Sends kept at most; a send beyond is taken as lost, the oldest first.
  static constexpr std::size_t CAPACITY = 32;

  explicit BlockTracker(Duration pause) : pause_(pause) {}

  // An answer time seen outside programming (the drive's answer to
  // CMD_ENTER_MONITOR).
  void noteAnswerTime(Duration taken);
  // A second answer came this long after the first answer to one send.
  void noteCopyGap(Duration gap);

  // A send of block went out at time at.
  void sent(std::size_t block, TimePoint at);

  struct Verdict {
    bool confirms = false;                  // the current block is confirmed
    std::optional<std::size_t> resendFrom;  // in doubt: send again from here
  };
  // An answer with status 1 to CMD_PROGRAM_BLOCK arrived while current is the
  // block being sent.
  Verdict answered(std::size_t current, TimePoint now);

  // Sends older than the horizon count as lost: they leave the queue.
  void giveUpLost(TimePoint now);
  // Every outstanding send is older than the horizon, and the copy of the
  // last answer, if the drive sends copies, is past.
  bool drained(TimePoint now) const;
  // When to look again while !drained(now): the oldest send younger than the
  // horizon turns lost, or the copy of the last answer is past.
  TimePoint drainDeadline(TimePoint now) const;

  Duration horizon() const;

 private:
  // A send of a block, or a block's confirmation, and when it happened.
  struct Event {
    std::size_t block = 0;
    TimePoint at;
  };

  void giveUpOldest();
  Duration longestPossible(TimePoint now) const;
  void learn(TimePoint now);
  Verdict answeredByTime(std::size_t current, TimePoint now);

  Duration pause_;
  Duration longestAnswer_{0};
  bool copies_ = false;                  // the drive answers twice
  Duration copyGap_{0};                  // seen between an answer and its copy
  std::optional<TimePoint> lastAnswer_;  // the last answer taken for a send
  Ring<Event, CAPACITY> sends_;          // outstanding, in the order sent
  // When the sends given up as lost went out: their answers may still come
  // within MAX_HORIZON.
  Ring<TimePoint, CAPACITY> givenUp_;
  Ring<Event, CAPACITY> confirmations_;  // the latest blocks confirmed
  std::optional<std::size_t> lastResendFrom_;
};
