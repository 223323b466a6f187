#include "session/drive_text.h"

const char* stageName(std::optional<Stage> stage) {
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

std::string reasonText(const Failure& failure) {
  switch (failure.reason) {
    case FailureReason::noAnswer:
      return "no answer";
    case FailureReason::refused:
      return "refused with status " + std::to_string(failure.status);
    case FailureReason::unreachable:
      return "no network of this PC leads to the address";
    case FailureReason::ownAddress:
      return "the address is this PC's own";
    case FailureReason::notUnicast:
      return "a multicast or reserved address, not a drive's";
    case FailureReason::noIdentity:
      return "no identity in the answer";
    case FailureReason::interrupted:
      return "interrupted";
    case FailureReason::noDigest:
      break;
  }
  return "no firmware digest in the answer";
}

const char* resultPhrase(DriveResult result) {
  switch (result) {
    case DriveResult::running:
      return "unfinished";
    case DriveResult::programmed:
      return "programmed and verified";
    case DriveResult::digestEqual:
      return "digest equal";
    case DriveResult::digestDiffers:
      return "digest differs";
    case DriveResult::identified:
      return "identity read";
    case DriveResult::current:
      return "already current";
    case DriveResult::notStarted:
      return "not started";
    case DriveResult::failed:
      return "failed";
    case DriveResult::interrupted:
      return "interrupted";
  }
  return "unfinished";
}

std::string resultText(const DriveState& drive) {
  if (drive.result == DriveResult::running) {
    return "running";
  }
  if (drive.result == DriveResult::current) {
    return std::string(resultPhrase(drive.result)) + ", rebooted";
  }
  if (drive.result == DriveResult::notStarted) {
    return std::string(resultPhrase(drive.result)) +
           (drive.heldBack == HeldBack::interrupted ? " (interrupted)" : " (a canary failed)");
  }
  if (drive.result != DriveResult::failed && drive.result != DriveResult::interrupted) {
    return resultPhrase(drive.result);
  }
  const bool interrupted = drive.result == DriveResult::interrupted;
  const char* word = resultPhrase(drive.result);
  if (!drive.failure) {
    return word;
  }
  std::string text = std::string(word) + " at " + stageName(drive.failure->stage);
  if (drive.failure->block) {
    // Counted from 1, as the one-drive console counts them.
    text += ", block " + std::to_string(*drive.failure->block + 1);
  }
  if (!interrupted) {
    text += ": " + reasonText(*drive.failure);
  }
  if (drive.failure->imageIncomplete) {
    text += std::string(": ") + PARTIAL_IMAGE_TEXT;
  }
  return text;
}

std::string secondsText(std::chrono::milliseconds time) {
  const long long tenths = (time.count() + 50) / 100;
  return std::to_string(tenths / 10) + "." + std::to_string(tenths % 10) + " s";
}
