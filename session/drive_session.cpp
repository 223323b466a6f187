#include "session/drive_session.h"

#include <algorithm>
#include <chrono>

#include "protocol/identity.h"
#include "protocol/loader.h"

DriveSession::DriveSession(DriveAddress drive, const SessionPlan& plan, Transport& transport,
                           SessionObserver& observer)
    : drive_(drive),
      plan_(plan),
      skipCurrent_(plan.skipCurrent && plan.mode == RunMode::program && plan.image != nullptr),
      transport_(transport),
      observer_(observer),
      tracker_(lengthOf(exchange(Step::programming).pause)) {
  if (plan_.image != nullptr) {
    blockCount_ = (plan_.image->size + BLOCK_SIZE - 1) / BLOCK_SIZE;
  }
}

void DriveSession::start(TimePoint now) {
  // A multicast address names a group of hosts, a reserved one none: neither
  // is one drive.
  if (!drive_.isUnicast()) {
    fail(FailureReason::notUnicast);
    return;
  }
  if (drive_.isUnspecified() || transport_.isOwnAddress(drive_)) {
    fail(FailureReason::ownAddress);
    return;
  }
  enter(Step::linkStart, now);
}

// ---- sending ------------------------------------------------------------------

// A failed or deferred send is a try without an answer; after an
// unreachable one the session has ended.
SendResult DriveSession::sendCommand(std::uint16_t code, std::uint32_t target,
                                     std::span<const std::uint8_t> payload) {
  const CommandBytes datagram = encodeCommand(code, target, payload);
  const SendResult sent = transport_.send(drive_, datagram);
  if (sent == SendResult::sent) {
    ledger_.sent(code);
  }
  if (sent == SendResult::unreachable) {
    fail(FailureReason::unreachable);
  } else if (sent == SendResult::failed) {
    observer_.sendFailed(drive_);
  }
  return sent;
}

// Enters a step: an exchange sends its first try, a pause begins.
void DriveSession::enter(Step step, TimePoint now) {
  step_ = step;
  tries_ = 0;
  answered_ = false;
  exchangeStarted_ = now;
  const Exchange& row = exchange(step);
  ledger_.begin(row.code);
  // Earlier sends of the command still unanswered: a try more for each, so
  // that a drive that answers every send shows an answer of this exchange's.
  triesAllowed_ =
      row.tries + (row.earlierAnswersServe ? 0 : std::min(ledger_.unanswered(row.code), row.tries));
  if (row.tries > 0) {
    sendTry();
  } else {
    deadline_ = now + lengthOf(row.pause);
  }
}

// One send of the exchange under way, then its pause. The pause runs from the
// moment the send went out, read after it: whatever else the thread did
// before (other drives' sends, a slow send), the drive gets its whole pause.
void DriveSession::sendTry() {
  const Exchange& row = exchange(step_);
  ++tries_;
  const SendResult sent =
      row.send != nullptr ? (this->*row.send)(row) : sendCommand(row.code, 0, {});
  if (sent != SendResult::unreachable) {
    pauseFrom(row.pause);
  }
}

void DriveSession::pauseFrom(Pause pause) {
  lastSend_ = transport_.now();
  deadline_ = lastSend_ + lengthOf(pause);
}

// Each CMD_CONNECT is shown with the sends that remain, from 1000 down.
SendResult DriveSession::sendConnect(const Exchange& row) {
  const SendResult sent = sendCommand(row.code, 0, {});
  if (sent != SendResult::unreachable) {
    observer_.countdown(drive_, row.tries + 1 - tries_);
  }
  return sent;
}

SendResult DriveSession::sendBlock(const Exchange& row) {
  const std::size_t offset = block_ * BLOCK_SIZE;
  const std::size_t length = std::min(BLOCK_SIZE, plan_.image->size - offset);
  const TimePoint began = transport_.now();
  const SendResult sent =
      sendCommand(row.code, IMAGE_LOAD_ADDRESS + static_cast<std::uint32_t>(offset),
                  plan_.image->bytes().subspan(offset, length));
  // Only a send that went out can be answered.
  if (sent == SendResult::sent) {
    tracker_.sent(block_, began);
  }
  return sent;
}

void DriveSession::onDeadline(TimePoint now) {
  if (step_ == Step::done) {
    return;
  }
  const Exchange& row = exchange(step_);
  if (row.tries == 0 || (answered_ && (tries_ < triesAllowed_ || row.lastPauseHeard))) {
    (this->*row.answered)(now);
  } else if (tries_ < triesAllowed_) {
    sendTry();
  } else if (row.unanswered != nullptr) {
    (this->*row.unanswered)(now);
  } else {
    fail(FailureReason::noAnswer);
  }
}

// ---- answers ----------------------------------------------------------------------

void DriveSession::onDatagram(DriveAddress from, std::span<const std::uint8_t> datagram,
                              TimePoint now) {
  const Exchange& row = exchange(step_);
  const std::optional<Response> response = decodeResponse(datagram);
  if (from != drive_ || !response) {
    return;
  }
  // Every answer of the drive's is counted, whenever it comes.
  const bool ownExchange = ledger_.answered(response->code) || row.earlierAnswersServe ||
                           response->code == CMD_PROGRAM_BLOCK;
  if (row.code == 0 || response->code != row.code || !ownExchange) {
    return;  // not an answer to the command in flight
  }
  if (response->status != STATUS_SUCCESS) {
    if (row.refused != nullptr) {
      (this->*row.refused)();
    } else {
      fail(FailureReason::refused, response->status);
    }
    return;
  }
  if (row.take != nullptr) {
    (this->*row.take)(*response, now);
  } else {
    answered_ = true;
  }
}

void DriveSession::takeIdentityAnswer(const Response& response, TimePoint now) {
  if (answered_ && plan_.mode == RunMode::program) {
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
  if (plan_.mode == RunMode::program && identity_.digest()) {
    observer_.digestReceived(drive_, *identity_.digest());
  }
}

void DriveSession::takeBlockAnswer(const Response& /*response*/, TimePoint now) {
  const BlockTracker::Verdict verdict = tracker_.answered(block_, now);
  if (verdict.resendFrom) {
    // Sent again once the pause after the last send has run out.
    block_ = *verdict.resendFrom;
    step_ = Step::programming;
    answered_ = false;
    tries_ = 0;
    deadline_ = std::max(now, lastSend_ + lengthOf(exchange(Step::programming).pause));
    return;
  }
  if (verdict.confirms) {
    answered_ = true;
  }
  if (step_ == Step::draining && tracker_.drained(now)) {
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
  if (plan_.mode == RunMode::verify) {
    const Digest& fileDigest = plan_.image->digest;
    observer_.digestVerdict(drive_, fileDigest, *driveDigest, fileDigest == *driveDigest);
  } else {
    observer_.digestReceived(drive_, *driveDigest);
  }
  if (plan_.mode == RunMode::plan) {
    planDrive(*driveDigest);
  }
  finish(SessionResult::completed);
}

// -n: what the programming run would decide for the drive in its monitor
// state, before any block, from the same identity and digest.
void DriveSession::planDrive(const Digest& driveDigest) {
  if (const auto refusal = plan_.releases.check(*identity_.identity(), driveDigest)) {
    observer_.withheld(drive_, *refusal);
  } else if (plan_.skipCurrent && driveDigest == plan_.image->digest) {
    observer_.alreadyCurrent(drive_);
  }
}

Failure DriveSession::failureHere(FailureReason reason, std::uint8_t status) const {
  Failure failure;
  failure.stage = exchange(step_).stage;
  failure.reason = reason;
  failure.status = status;
  const bool programming = step_ == Step::programming || step_ == Step::draining;
  if (programming) {
    failure.block = block_;
  }
  // From the first block's send to the reboot's answer the drive holds part
  // of an image (a reboot answered leaves it verified).
  failure.imageIncomplete = programmingBegan_ && step_ != Step::rebootPause;
  return failure;
}

void DriveSession::fail(FailureReason reason, std::uint8_t status) {
  observer_.failed(drive_, failureHere(reason, status));
  finish(SessionResult::failed);
}

void DriveSession::interrupt() {
  if (step_ == Step::done) {
    return;
  }
  observer_.failed(drive_, failureHere(FailureReason::interrupted, 0));
  finish(SessionResult::interrupted);
}

void DriveSession::finish(SessionResult result) {
  step_ = Step::done;
  deadline_.reset();
  result_ = result;
  observer_.finished(drive_, result);
}
