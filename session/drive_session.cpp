#include "session/drive_session.h"

#include <algorithm>
#include <chrono>

#include "protocol/identity.h"
#include "protocol/loader.h"

namespace {

using std::chrono::milliseconds;

constexpr int EXCHANGE_TRIES = 5;    // sends at most per exchange
constexpr int CONNECT_TRIES = 1000;  // sends at most of CMD_CONNECT

// Pauses.
constexpr milliseconds LINK_START_PAUSE{150};
constexpr milliseconds MONITOR_PAUSE{2500};
constexpr milliseconds REBOOT_PAUSE{5000};
// The pause after each send, by command.
constexpr milliseconds CONNECT_PAUSE{30};
constexpr milliseconds ENTER_MONITOR_PAUSE{150};
constexpr milliseconds PROGRAM_BLOCK_PAUSE{60};
constexpr milliseconds VERIFY_PAUSE{120};
constexpr milliseconds REBOOT_SEND_PAUSE{30};

}  // namespace

DriveSession::DriveSession(std::uint32_t drive, RunMode mode, const FirmwareImage* image,
                           Transport& transport, SessionObserver& observer, bool skipCurrent)
    : drive_(drive),
      mode_(mode),
      image_(image),
      skipCurrent_(skipCurrent && mode == MODE_PROGRAM && image != nullptr),
      transport_(transport),
      observer_(observer),
      tracker_(PROGRAM_BLOCK_PAUSE) {
  if (image_ != nullptr) {
    blockCount_ = (image_->size + BLOCK_SIZE - 1) / BLOCK_SIZE;
  }
}

void DriveSession::start(TimePoint now) {
  // 224.0.0.0/4 names a group of hosts, 240.0.0.0/4 is reserved: neither is
  // one drive.
  if ((drive_ >> 28) >= 0xEu) {
    fail(FailureReason::notUnicast);
    return;
  }
  if (transport_.isOwnAddress(drive_)) {
    fail(FailureReason::ownAddress);
    return;
  }
  // The pause the link had to start in; kept so that a run's timing is the
  // same as it always was.
  deadline_ = now + LINK_START_PAUSE;
}

// ---- sending ------------------------------------------------------------------

// A failed or deferred send is a try without an answer; after an
// unreachable one the session has ended.
SendResult DriveSession::sendCommand(std::uint16_t code, std::uint32_t target,
                                     std::span<const std::uint8_t> payload) {
  const CommandBytes datagram = encodeCommand(code, target, payload);
  const SendResult sent = transport_.send(drive_, datagram);
  if (sent == SendResult::unreachable) {
    fail(FailureReason::unreachable);
  } else if (sent == SendResult::failed) {
    observer_.sendFailed(drive_);
  }
  return sent;
}

void DriveSession::beginExchange(Phase phase, TimePoint now) {
  phase_ = phase;
  tries_ = 0;
  answered_ = false;
  exchangeStarted_ = now;
  sendTry();
}

// One send of the exchange under way, then its pause. The pause runs from the
// moment the send went out, read after it: whatever else the thread did
// before (other drives' sends, a slow send), the drive gets its whole pause.
void DriveSession::sendTry() {
  ++tries_;
  SendResult sent = SendResult::sent;
  milliseconds pause{};
  switch (phase_) {
    case Phase::identityProbe:
    case Phase::monitor:
      sent = sendCommand(CMD_ENTER_MONITOR, 0, {});
      pause = ENTER_MONITOR_PAUSE;
      break;
    case Phase::programming: {
      const std::size_t offset = block_ * BLOCK_SIZE;
      const std::size_t length = std::min(BLOCK_SIZE, image_->size - offset);
      const TimePoint began = transport_.now();
      sent = sendCommand(CMD_PROGRAM_BLOCK, IMAGE_LOAD_ADDRESS + static_cast<std::uint32_t>(offset),
                         image_->bytes().subspan(offset, length));
      // Only a send that went out can be answered.
      if (sent == SendResult::sent) {
        tracker_.sent(block_, began);
      }
      pause = PROGRAM_BLOCK_PAUSE;
      break;
    }
    case Phase::currentCheck:
    case Phase::verify:
      sent = sendCommand(CMD_VERIFY, 0, {});
      pause = VERIFY_PAUSE;
      break;
    case Phase::reboot:
      sent = sendCommand(CMD_REBOOT, 0, {});
      pause = REBOOT_SEND_PAUSE;
      break;
    default:
      return;
  }
  if (sent != SendResult::unreachable) {
    pauseFrom(pause);
  }
}

void DriveSession::pauseFrom(std::chrono::milliseconds pause) {
  lastSend_ = transport_.now();
  deadline_ = lastSend_ + pause;
}

void DriveSession::retryOrFail(TimePoint now) {
  if (tries_ < EXCHANGE_TRIES) {
    sendTry();
  } else if (phase_ == Phase::identityProbe) {
    beginConnection();  // not in its monitor state yet: connect as to program
  } else if (phase_ == Phase::currentCheck) {
    beginProgramming(now);  // no confirmation: the drive is programmed in full
  } else {
    fail(FailureReason::noAnswer);
  }
}

// ---- the stages -----------------------------------------------------------------

void DriveSession::beginConnection() {
  phase_ = Phase::connection;
  answered_ = false;
  countdown_ = CONNECT_TRIES;
  observer_.stageStarted(drive_, Stage::connection);
  sendConnect();
}

void DriveSession::sendConnect() {
  if (sendCommand(CMD_CONNECT, 0, {}) == SendResult::unreachable) {
    return;
  }
  observer_.countdown(drive_, countdown_--);
  pauseFrom(CONNECT_PAUSE);
}

// The monitor state is reached in a programming run. With -s, a drive that
// reports the file's digest is first asked to verify what it holds.
void DriveSession::afterMonitor(TimePoint now) {
  observer_.stageCompleted(drive_, Stage::monitor);
  if (skipCurrent_ && identity_.digest() && *identity_.digest() == image_->digest) {
    beginExchange(Phase::currentCheck, now);
    return;
  }
  beginProgramming(now);
}

void DriveSession::beginProgramming(TimePoint now) {
  block_ = 0;
  programmingBegan_ = true;
  observer_.stageStarted(drive_, Stage::programming);
  beginBlock(now);
}

void DriveSession::beginBlock(TimePoint now) {
  answered_ = false;
  beginExchange(Phase::programming, now);
}

void DriveSession::nextBlock(TimePoint now) {
  ++block_;
  if (block_ < blockCount_) {
    beginBlock(now);
    return;
  }
  observer_.stageCompleted(drive_, Stage::programming);
  observer_.stageStarted(drive_, Stage::verify);
  beginExchange(Phase::verify, now);
}

// The pause after a block's send has run out.
void DriveSession::afterBlockPause(TimePoint now) {
  if (!answered_) {
    retryOrFail(now);
    return;
  }
  if (block_ == blocksReported_) {
    observer_.blockConfirmed(drive_, block_, blockCount_);
    ++blocksReported_;
  }
  tracker_.giveUpLost(now);
  if (tracker_.drained(now)) {
    nextBlock(now);
  } else {
    phase_ = Phase::draining;
    deadline_ = tracker_.drainDeadline(now);
  }
}

void DriveSession::onDeadline(TimePoint now) {
  switch (phase_) {
    case Phase::linkStart:
      if (mode_ == MODE_PROGRAM) {
        beginConnection();
      } else {
        observer_.stageStarted(drive_, Stage::identityProbe);
        beginExchange(Phase::identityProbe, now);
      }
      break;
    case Phase::connection:
      // An answer in the pause after the last send comes too late.
      if (countdown_ == 0) {
        fail(FailureReason::noAnswer);
      } else if (answered_) {
        observer_.stageCompleted(drive_, Stage::connection);
        phase_ = Phase::monitorPause;
        observer_.stageStarted(drive_, Stage::monitorPause);
        deadline_ = now + MONITOR_PAUSE;
      } else {
        sendConnect();
      }
      break;
    case Phase::monitorPause:
      observer_.stageCompleted(drive_, Stage::monitorPause);
      observer_.stageStarted(drive_, Stage::monitor);
      beginExchange(Phase::monitor, now);
      break;
    case Phase::identityProbe:
    case Phase::monitor:
      if (!answered_) {
        retryOrFail(now);
      } else if (mode_ != MODE_PROGRAM) {
        // An answer without the digest does not end the wait at once.
        reportDue_ = true;
        if (identity_.digest() || now >= identity_.waitEnds()) {
          finishReport();
        } else {
          deadline_ = identity_.waitEnds();
        }
      } else {
        afterMonitor(now);
      }
      break;
    case Phase::currentCheck:
      if (currentRefused_) {
        beginProgramming(now);
      } else if (!answered_) {
        retryOrFail(now);
      } else {
        observer_.alreadyCurrent(drive_);
        observer_.stageStarted(drive_, Stage::reboot);
        beginExchange(Phase::reboot, now);
      }
      break;
    case Phase::programming:
      afterBlockPause(now);
      break;
    case Phase::draining:
      tracker_.giveUpLost(now);
      if (tracker_.drained(now)) {
        nextBlock(now);
      } else {
        deadline_ = tracker_.drainDeadline(now);
      }
      break;
    case Phase::verify:
      if (!answered_) {
        retryOrFail(now);
      } else {
        observer_.stageCompleted(drive_, Stage::verify);
        observer_.stageStarted(drive_, Stage::reboot);
        beginExchange(Phase::reboot, now);
      }
      break;
    case Phase::reboot:
      if (!answered_) {
        retryOrFail(now);
      } else {
        observer_.stageCompleted(drive_, Stage::reboot);
        phase_ = Phase::rebootPause;
        deadline_ = now + REBOOT_PAUSE;
      }
      break;
    case Phase::rebootPause:
      finish(SessionResult::completed);
      break;
    case Phase::done:
      break;
  }
}

// ---- answers ----------------------------------------------------------------------

void DriveSession::onDatagram(std::uint32_t from, std::span<const std::uint8_t> datagram,
                              TimePoint now) {
  const std::optional<std::uint8_t> code = codeInFlight();
  const std::optional<Response> response = decodeResponse(datagram);
  if (from != drive_ || !code || !response || response->code != *code) {
    return;  // not an answer to the command in flight
  }
  if (response->status != STATUS_SUCCESS) {
    if (phase_ == Phase::currentCheck) {
      // The image the drive holds did not pass its own check: programmed in
      // full once the pause after the send has run out.
      currentRefused_ = true;
      return;
    }
    fail(FailureReason::refused, response->status);
    return;
  }
  switch (phase_) {
    case Phase::identityProbe:
    case Phase::monitor:
      takeIdentityAnswer(*response, now);
      break;
    case Phase::programming:
    case Phase::draining:
      takeBlockAnswer(now);
      break;
    default:
      answered_ = true;
      break;
  }
}

void DriveSession::takeIdentityAnswer(const Response& response, TimePoint now) {
  if (answered_ && mode_ == MODE_PROGRAM) {
    // The first answer counts; a drive that answers twice is heard once. A
    // second answer to a single send is a copy, whose lateness the blocks
    // must wait out.
    if (tries_ == 1) {
      tracker_.noteCopyGap(now - identityAnswered_);
    }
    return;
  }
  if (!answered_) {
    answered_ = true;
    identityAnswered_ = now;
    // At most the time since the exchange's first send: it may answer any try.
    tracker_.noteAnswerTime(now - exchangeStarted_);
  }
  if (const std::optional<UnitIdentity> shown = identity_.take(response, now)) {
    observer_.identityReceived(drive_, *shown);
  }
  // Once the pause after the send has run out, the answer that brings the
  // digest ends the wait at once.
  if (reportDue_ && identity_.digest()) {
    finishReport();
  }
  if (mode_ == MODE_PROGRAM && identity_.digest()) {
    observer_.digestReceived(drive_, *identity_.digest());
  }
}

void DriveSession::takeBlockAnswer(TimePoint now) {
  const BlockTracker::Verdict verdict = tracker_.answered(block_, now);
  if (verdict.resendFrom) {
    // Sent again once the pause after the last send has run out.
    block_ = *verdict.resendFrom;
    phase_ = Phase::programming;
    answered_ = false;
    tries_ = 0;
    deadline_ = std::max(now, lastSend_ + PROGRAM_BLOCK_PAUSE);
    return;
  }
  if (!verdict.confirms) {
    if (phase_ == Phase::draining && tracker_.drained(now)) {
      nextBlock(now);
    }
    return;
  }
  answered_ = true;
  if (phase_ == Phase::draining && tracker_.drained(now)) {
    nextBlock(now);
  }
}

void DriveSession::finishReport() {
  if (!identity_.identityShown()) {
    fail(FailureReason::noIdentity);
    return;
  }
  const std::optional<Digest>& driveDigest = identity_.digest();
  if (!driveDigest) {
    fail(FailureReason::noDigest);
    return;
  }
  if (mode_ == MODE_VERIFY) {
    const Digest& fileDigest = image_->digest;
    observer_.digestVerdict(drive_, fileDigest, *driveDigest, fileDigest == *driveDigest);
  } else {
    observer_.digestReceived(drive_, *driveDigest);
  }
  finish(SessionResult::completed);
}

Failure DriveSession::failureHere(FailureReason reason, std::uint8_t status) const {
  Failure failure;
  failure.stage = stageOf(phase_);
  failure.reason = reason;
  failure.status = status;
  const bool programming = phase_ == Phase::programming || phase_ == Phase::draining;
  if (programming) {
    failure.block = block_;
  }
  // From the first block's send to the reboot's answer the drive holds part
  // of an image (a reboot answered leaves it verified).
  failure.imageIncomplete = programmingBegan_ && phase_ != Phase::rebootPause;
  return failure;
}

void DriveSession::fail(FailureReason reason, std::uint8_t status) {
  observer_.failed(drive_, failureHere(reason, status));
  finish(SessionResult::failed);
}

void DriveSession::interrupt() {
  if (phase_ == Phase::done) {
    return;
  }
  observer_.failed(drive_, failureHere(FailureReason::interrupted, 0));
  finish(SessionResult::interrupted);
}

void DriveSession::finish(SessionResult result) {
  phase_ = Phase::done;
  deadline_.reset();
  result_ = result;
  observer_.finished(drive_, result);
}
