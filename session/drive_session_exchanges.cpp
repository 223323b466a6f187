// The exchanges of a drive session, one row each, and where each leads.
#include <chrono>
#include <cstddef>

#include "protocol/loader.h"
#include "session/drive_session.h"

namespace {

constexpr int EXCHANGE_TRIES = 5;    // sends at most per exchange
constexpr int CONNECT_TRIES = 1000;  // sends at most of CMD_CONNECT

}  // namespace

const DriveSession::Exchange& DriveSession::exchange(Step step) {
  using D = DriveSession;
  static constexpr Exchange EXCHANGES[] = {
      // The pause the link had to start in.
      {.step = Step::linkStart,
       .stage = Stage::connection,
       .pause = Pause::linkStart,
       .answered = &D::linkStarted},
      // -u, -v: a drive already in its monitor state answers at once.
      {.step = Step::identityProbe,
       .stage = Stage::identityProbe,
       .code = CMD_ENTER_MONITOR,
       .pause = Pause::monitor,
       .tries = EXCHANGE_TRIES,
       .take = &D::takeIdentityAnswer,
       .answered = &D::identityAnswered,
       .unanswered = &D::beginConnection},
      // An answer in the pause after the last send comes too late.
      {.step = Step::connection,
       .stage = Stage::connection,
       .code = CMD_CONNECT,
       .pause = Pause::connect,
       .tries = CONNECT_TRIES,
       .lastPauseHeard = false,
       .send = &D::sendConnect,
       .answered = &D::connected},
      {.step = Step::monitorPause,
       .stage = Stage::monitorPause,
       .pause = Pause::monitorPause,
       .answered = &D::monitorPauseOver},
      // -u, -v: an answer to the identity probe carries the same identity.
      {.step = Step::monitor,
       .stage = Stage::monitor,
       .code = CMD_ENTER_MONITOR,
       .pause = Pause::monitor,
       .tries = EXCHANGE_TRIES,
       .earlierAnswersServe = true,
       .take = &D::takeIdentityAnswer,
       .answered = &D::identityAnswered},
      // -s: a refusal or no answer at all has the drive programmed in full.
      {.step = Step::currentCheck,
       .stage = Stage::verify,
       .code = CMD_VERIFY,
       .pause = Pause::verify,
       .tries = EXCHANGE_TRIES,
       .refused = &D::noteCurrentRefused,
       .answered = &D::currentChecked,
       .unanswered = &D::beginProgramming},
      {.step = Step::programming,
       .stage = Stage::programming,
       .code = CMD_PROGRAM_BLOCK,
       .pause = Pause::block,
       .tries = EXCHANGE_TRIES,
       .send = &D::sendBlock,
       .take = &D::takeBlockAnswer,
       .answered = &D::blockAnswered},
      // Sends nothing; looks again whenever the block tracker may be drained.
      {.step = Step::draining,
       .stage = Stage::programming,
       .code = CMD_PROGRAM_BLOCK,
       .take = &D::takeBlockAnswer,
       .answered = &D::drainThenNext},
      {.step = Step::verify,
       .stage = Stage::verify,
       .code = CMD_VERIFY,
       .pause = Pause::verify,
       .tries = EXCHANGE_TRIES,
       .answered = &D::verified},
      {.step = Step::reboot,
       .stage = Stage::reboot,
       .code = CMD_REBOOT,
       .pause = Pause::reboot,
       .tries = EXCHANGE_TRIES,
       .answered = &D::rebootAnswered},
      {.step = Step::rebootPause,
       .stage = Stage::reboot,
       .pause = Pause::rebootPause,
       .answered = &D::rebootPauseOver},
      {.step = Step::done, .stage = Stage::reboot},
  };
  static_assert([] {
    std::size_t i = 0;
    for (const Exchange& row : EXCHANGES) {
      if (static_cast<std::size_t>(row.step) != i++) {
        return false;
      }
    }
    return i == static_cast<std::size_t>(Step::done) + 1;
  }());
  return EXCHANGES[static_cast<std::size_t>(step)];
}

void DriveSession::linkStarted(TimePoint now) {
  if (plan_.mode == RunMode::program) {
    beginConnection(now);
  } else {
    observer_.stageStarted(drive_, Stage::identityProbe);
    enter(Step::identityProbe, now);
  }
}

// Also where a drive that did not answer the identity probe goes: not in its
// monitor state yet, it is connected to as to be programmed.
void DriveSession::beginConnection(TimePoint now) {
  observer_.stageStarted(drive_, Stage::connection);
  enter(Step::connection, now);
}

void DriveSession::connected(TimePoint now) {
  observer_.stageCompleted(drive_, Stage::connection);
  enter(Step::monitorPause, now);
  observer_.stageStarted(drive_, Stage::monitorPause);
}

void DriveSession::monitorPauseOver(TimePoint now) {
  observer_.stageCompleted(drive_, Stage::monitorPause);
  observer_.stageStarted(drive_, Stage::monitor);
  enter(Step::monitor, now);
}

// The drive's identity came. -u, -v: an answer without the digest does not
// end the wait at once. A programming run goes on, unless the catalog
// refuses the drive the file's release (a drive whose answer lacked the
// identity can't be checked, and fails); with -s, a drive that reports the
// file's digest is first asked to verify what it holds.
void DriveSession::identityAnswered(TimePoint now) {
  if (plan_.mode != RunMode::program) {
    reportDue_ = true;
    if (identity_.digest() || now >= identity_.waitEnds()) {
      finishReport();
    } else {
      deadline_ = identity_.waitEnds();
    }
    return;
  }
  observer_.stageCompleted(drive_, Stage::monitor);
  if (plan_.releases.file != nullptr) {
    const std::optional<UnitIdentity> identity = identity_.identity();
    if (!identity) {
      fail(FailureReason::noIdentity);
      return;
    }
    if (const auto refusal = plan_.releases.check(*identity, identity_.digest())) {
      observer_.withheld(drive_, *refusal);
      observer_.stageStarted(drive_, Stage::reboot);
      enter(Step::reboot, now);
      return;
    }
  }
  if (skipCurrent_ && identity_.digest() && *identity_.digest() == plan_.image->digest) {
    enter(Step::currentCheck, now);
    return;
  }
  beginProgramming(now);
}

// The image the drive holds did not pass its own check: programmed in full
// once the pause after the send has run out.
void DriveSession::noteCurrentRefused() {
  currentRefused_ = true;
  answered_ = true;
}

void DriveSession::currentChecked(TimePoint now) {
  if (currentRefused_) {
    beginProgramming(now);
    return;
  }
  observer_.alreadyCurrent(drive_);
  observer_.stageStarted(drive_, Stage::reboot);
  enter(Step::reboot, now);
}

void DriveSession::beginProgramming(TimePoint now) {
  block_ = 0;
  programmingBegan_ = true;
  observer_.stageStarted(drive_, Stage::programming);
  enter(Step::programming, now);
}

// The pause after an answered block's send has run out.
void DriveSession::blockAnswered(TimePoint now) {
  if (block_ == blocksReported_) {
    observer_.blockConfirmed(drive_, block_, blockCount_);
    ++blocksReported_;
  }
  step_ = Step::draining;
  drainThenNext(now);
}

// The next block's first send waits until no answer to an earlier send can
// be taken for its own.
void DriveSession::drainThenNext(TimePoint now) {
  tracker_.giveUpLost(now);
  if (tracker_.drained(now)) {
    nextBlock(now);
  } else {
    deadline_ = tracker_.drainDeadline(now);
  }
}

void DriveSession::nextBlock(TimePoint now) {
  ++block_;
  if (block_ < blockCount_) {
    enter(Step::programming, now);
    return;
  }
  observer_.stageCompleted(drive_, Stage::programming);
  observer_.stageStarted(drive_, Stage::verify);
  enter(Step::verify, now);
}

void DriveSession::verified(TimePoint now) {
  observer_.stageCompleted(drive_, Stage::verify);
  observer_.stageStarted(drive_, Stage::reboot);
  enter(Step::reboot, now);
}

void DriveSession::rebootAnswered(TimePoint now) {
  observer_.stageCompleted(drive_, Stage::reboot);
  enter(Step::rebootPause, now);
}

void DriveSession::rebootPauseOver(TimePoint /*now*/) { finish(SessionResult::completed); }
