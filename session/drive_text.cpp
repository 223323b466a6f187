#include "session/drive_text.h"

#include "session/words.h"

const char* stageName(std::optional<Stage> stage) { return wordsOf(stage).wording; }

std::string reasonText(const Failure& failure) {
  std::string text = wordsOf(failure.reason).wording;
  if (failure.reason == FailureReason::refused) {
    text += " " + std::to_string(failure.status);
  }
  return text;
}

const char* resultPhrase(DriveResult result) { return wordsOf(result).wording; }

std::string resultText(const DriveState& drive) {
  if (drive.result == DriveResult::running) {
    return "running";
  }
  if (drive.result == DriveResult::current) {
    return std::string(resultPhrase(drive.result)) + ", rebooted";
  }
  if (drive.result == DriveResult::notStarted) {
    return std::string(resultPhrase(drive.result)) + " (" + wordsOf(drive.heldBack).wording + ")";
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
