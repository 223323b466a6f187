#include "session/words.h"

ValueWords wordsOf(DriveResult result) {
  switch (result) {
    case DriveResult::programmed:
      return {"programmed", "programmed and verified"};
    case DriveResult::current:
      return {"current", "already current"};
    case DriveResult::digestEqual:
      return {"digest-equal", "digest equal"};
    case DriveResult::digestDiffers:
      return {"digest-differs", "digest differs"};
    case DriveResult::identified:
      return {"identified", "identity read"};
    case DriveResult::notStarted:
      return {"not-started", "not started"};
    case DriveResult::failed:
      return {"failed", "failed"};
    case DriveResult::interrupted:
      return {"interrupted", "interrupted"};
    case DriveResult::incompatible:
      return {"incompatible", "incompatible"};
    case DriveResult::newerOnDrive:
      return {"newer-on-drive", "newer release on the drive"};
    case DriveResult::wouldProgram:
      return {"would-program", "would be programmed"};
    case DriveResult::running:
      break;
  }
  return {"interrupted", "unfinished"};
}

ValueWords wordsOf(FailureReason reason) {
  switch (reason) {
    case FailureReason::noAnswer:
      return {"no-answer", "no answer"};
    case FailureReason::refused:
      return {"refused", "refused with status"};
    case FailureReason::unreachable:
      return {"unreachable", "no network of this PC leads to the address"};
    case FailureReason::ownAddress:
      return {"own-address", "the address is this PC's own"};
    case FailureReason::notUnicast:
      // No one drive can be reached at a group address.
      return {"unreachable", "a multicast or reserved address, not a drive's"};
    case FailureReason::noIdentity:
      return {"no-identity", "no identity in the answer"};
    case FailureReason::interrupted:
      return {"interrupted", "interrupted"};
    case FailureReason::noDigest:
      break;
  }
  return {"no-digest", "no firmware digest in the answer"};
}

ValueWords wordsOf(std::optional<Stage> stage) {
  if (!stage) {
    return {"waiting", "waiting"};
  }
  switch (shownAs(*stage)) {
    case Stage::connection:
      return {"connection", "connection"};
    case Stage::programming:
      return {"programming", "programming"};
    case Stage::verify:
      return {"verify", "verify"};
    case Stage::reboot:
      return {"reboot", "reboot"};
    case Stage::identityProbe:
    case Stage::monitorPause:
    case Stage::monitor:
      break;
  }
  return {"monitor state", "monitor state"};
}

ValueWords wordsOf(HeldBack why) {
  if (why == HeldBack::interrupted) {
    return wordsOf(FailureReason::interrupted);
  }
  return {"canary-failed", "a canary failed"};
}

ValueWords wordsOf(Refusal refusal) {
  switch (refusal) {
    case Refusal::model:
      return {"model", "model"};
    case Refusal::hardwareRevision:
      return {"hardware-revision", "hardware revision"};
    case Refusal::currentRating:
      return {"current-rating", "current rating"};
    case Refusal::monitorRevision:
      return {"monitor-revision", "monitor revision"};
    case Refusal::newerOnDrive:
      break;
  }
  return {"newer-on-drive", "newer release on the drive"};
}

const char* modeWord(RunMode mode) {
  switch (mode) {
    case RunMode::verify:
      return "verify";
    case RunMode::identity:
      return "identity";
    case RunMode::plan:
      return "plan";
    case RunMode::program:
      break;
  }
  return "program";
}
