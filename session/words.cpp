#include "session/words.h"

const char* modeWord(RunMode mode) {
  switch (mode) {
    case RunMode::verify:
      return "verify";
    case RunMode::identity:
      return "identity";
    case RunMode::program:
      break;
  }
  return "program";
}

const char* resultWord(DriveResult result) {
  switch (result) {
    case DriveResult::programmed:
      return "programmed";
    case DriveResult::current:
      return "current";
    case DriveResult::digestEqual:
      return "digest-equal";
    case DriveResult::digestDiffers:
      return "digest-differs";
    case DriveResult::identified:
      return "identified";
    case DriveResult::notStarted:
      return "not-started";
    case DriveResult::failed:
      return "failed";
    case DriveResult::interrupted:
    case DriveResult::running:
      break;
  }
  // A drive still running when its record is written was cut short.
  return "interrupted";
}

const char* reasonWord(FailureReason reason) {
  switch (reason) {
    case FailureReason::noAnswer:
      return "no-answer";
    case FailureReason::refused:
      return "refused";
    case FailureReason::unreachable:
      return "unreachable";
    case FailureReason::ownAddress:
      return "own-address";
    case FailureReason::notUnicast:
      return "unreachable";  // no one drive can be reached at a group address
    case FailureReason::noIdentity:
      return "no-identity";
    case FailureReason::interrupted:
      return "interrupted";
    case FailureReason::noDigest:
      break;
  }
  return "no-digest";
}

const char* heldBackWord(HeldBack why) {
  return why == HeldBack::interrupted ? reasonWord(FailureReason::interrupted) : "canary-failed";
}

const char* stageWord(std::optional<Stage> stage) {
  switch (shownStage(stage)) {
    case ShownStage::waiting:
      return "waiting";
    case ShownStage::connection:
      return "connection";
    case ShownStage::monitorState:
      return "monitor state";
    case ShownStage::programming:
      return "programming";
    case ShownStage::verify:
      return "verify";
    case ShownStage::reboot:
      break;
  }
  return "reboot";
}
