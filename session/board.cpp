#include "session/board.h"

#include <algorithm>
#include <utility>

#include "session/drive_state.h"

DriveBoard::DriveBoard(std::span<const DriveAddress> addresses, const SessionPlan& plan,
                       std::function<TimePoint()> now, Listener listener)
    : mode_(plan.mode),
      releases_(plan.releases),
      now_(std::move(now)),
      listener_(std::move(listener)),
      drives_(addresses.size()),
      started_(addresses.size()),
      digestEqual_(addresses.size()) {
  for (std::size_t i = 0; i < addresses.size(); ++i) {
    drives_[i].address = addresses[i];
    drives_[i].fileRelease = releases_.file;
  }
}

std::optional<std::size_t> DriveBoard::touch(DriveAddress drive) {
  const auto it = std::find_if(drives_.begin(), drives_.end(),
                               [&](const DriveState& d) { return d.address == drive; });
  if (it == drives_.end()) {
    return std::nullopt;
  }
  const auto index = static_cast<std::size_t>(it - drives_.begin());
  if (!started_[index]) {
    started_[index] = now_();
  }
  return index;
}

void DriveBoard::changed(std::size_t index, bool newStage) const {
  if (listener_.changed) {
    listener_.changed(drives_, index, newStage);
  }
}

void DriveBoard::stageStarted(DriveAddress drive, Stage stage) {
  if (const auto i = touch(drive)) {
    DriveState& state = drives_[*i];
    const bool renamed = !state.stage || shownAs(*state.stage) != shownAs(stage);
    state.stage = stage;
    changed(*i, renamed);
  }
}

void DriveBoard::countdown(DriveAddress drive, int count) {
  if (const auto i = touch(drive)) {
    drives_[*i].countdown = count;
    changed(*i, false);
  }
}

void DriveBoard::blockConfirmed(DriveAddress drive, std::size_t /*index*/, std::size_t count) {
  if (const auto i = touch(drive)) {
    // Each block is confirmed once, whatever order the confirmations take.
    ++drives_[*i].blocksDone;
    drives_[*i].blockCount = count;
    changed(*i, false);
  }
}

void DriveBoard::identityReceived(DriveAddress drive, const UnitIdentity& identity) {
  if (const auto i = touch(drive)) {
    drives_[*i].serialNumber = identity.serialNumber;
    drives_[*i].mac = identity.macAddress;
    drives_[*i].identity = identity;
  }
}

void DriveBoard::digestVerdict(DriveAddress drive, const Digest& /*fileDigest*/,
                               const Digest& driveDigest, bool equal) {
  if (const auto i = touch(drive)) {
    drives_[*i].driveDigest = driveDigest;
    drives_[*i].driveRelease = releases_.releaseOf(driveDigest);
    digestEqual_[*i] = equal;
  }
}

void DriveBoard::digestReceived(DriveAddress drive, const Digest& driveDigest) {
  if (const auto i = touch(drive)) {
    drives_[*i].driveDigest = driveDigest;
    drives_[*i].driveRelease = releases_.releaseOf(driveDigest);
  }
}

void DriveBoard::alreadyCurrent(DriveAddress drive) {
  if (const auto i = touch(drive)) {
    drives_[*i].verifiedCurrent = true;
  }
}

void DriveBoard::withheld(DriveAddress drive, Refusal refusal) {
  if (const auto i = touch(drive)) {
    drives_[*i].withheld = refusal;
  }
}

void DriveBoard::failed(DriveAddress drive, const Failure& failure) {
  if (const auto i = touch(drive)) {
    drives_[*i].failure = failure;
  }
}

void DriveBoard::finished(DriveAddress drive, SessionResult result) {
  const auto i = touch(drive);
  if (!i) {
    return;
  }
  DriveState& state = drives_[*i];
  if (result == SessionResult::failed) {
    state.result = DriveResult::failed;
  } else if (result == SessionResult::interrupted) {
    state.result = DriveResult::interrupted;
  } else if ((mode_ == RunMode::program || mode_ == RunMode::plan) && state.withheld) {
    state.result =
        incompatible(*state.withheld) ? DriveResult::incompatible : DriveResult::newerOnDrive;
  } else if (mode_ == RunMode::program) {
    state.result = state.verifiedCurrent ? DriveResult::current : DriveResult::programmed;
  } else if (mode_ == RunMode::plan) {
    state.result = state.verifiedCurrent ? DriveResult::current : DriveResult::wouldProgram;
  } else if (mode_ == RunMode::identity) {
    state.result = DriveResult::identified;
  } else if (digestEqual_[*i]) {
    state.result = *digestEqual_[*i] ? DriveResult::digestEqual : DriveResult::digestDiffers;
  } else {
    // A verify run that completed without a verdict has not verified.
    state.result = DriveResult::failed;
    state.failure =
        Failure{state.stage.value_or(Stage::monitor), std::nullopt, FailureReason::noDigest, 0};
  }
  state.elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(now_() - *started_[*i]);
  state.finishedAt = std::chrono::system_clock::now();
  changed(*i, true);
  if (listener_.ended) {
    listener_.ended(state);
  }
}

void DriveBoard::notStarted(std::size_t drive, HeldBack why) {
  DriveState& state = drives_.at(drive);
  state.result = DriveResult::notStarted;
  state.heldBack = why;
  state.finishedAt = std::chrono::system_clock::now();
  changed(drive, true);
  if (listener_.ended) {
    listener_.ended(state);
  }
}
