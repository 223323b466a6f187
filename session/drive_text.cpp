#include "session/drive_text.h"

#include <vector>

#include "catalog/manifest.h"
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
  // A plan (-n) foresees a current drive; it reboots none.
  if (drive.result == DriveResult::current && drive.stage == Stage::reboot) {
    return std::string(resultPhrase(drive.result)) + ", rebooted";
  }
  if (drive.withheld &&
      (drive.result == DriveResult::incompatible || drive.result == DriveResult::newerOnDrive)) {
    return std::string(resultPhrase(drive.result)) + ": " + withheldText(drive);
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

namespace {

std::string ampereText(std::int64_t centiAmperes) {
  const std::string cents = std::to_string(centiAmperes % 100);
  return std::to_string(centiAmperes / 100) + "." + (cents.size() < 2 ? "0" : "") + cents + " A";
}

template <typename T, typename Text>
std::string listText(const std::vector<T>& values, Text text) {
  std::string list;
  for (const T& value : values) {
    list += (list.empty() ? "" : ", ") + text(value);
  }
  return list;
}

}  // namespace

std::string withheldText(const DriveState& drive) {
  if (!drive.withheld || drive.fileRelease == nullptr || !drive.identity) {
    return {};
  }
  const UnitIdentity& id = *drive.identity;
  const Compatibility& allowed = drive.fileRelease->manifest.compatibility;
  const std::string release = "release " + drive.fileRelease->manifest.version;
  const auto same = [](const std::string& text) { return text; };
  switch (*drive.withheld) {
    case Refusal::model:
      return "model " + modelText(id) + "; " + release + " is for " +
             listText(allowed.models, same);
    case Refusal::hardwareRevision:
      return "hardware revision " + hardwareRevisionText(id) + "; " + release + " is for " +
             listText(allowed.hardwareRevisions.value_or(std::vector<std::string>{}), same);
    case Refusal::currentRating: {
      const std::optional<std::int64_t> found =
          centiAmperes(static_cast<double>(id.currentCapability));
      return "current rating " + (found ? ampereText(*found) : std::string("unknown")) + "; " +
             release + " is for " +
             listText(allowed.currentRatings.value_or(std::vector<std::int64_t>{}), ampereText);
    }
    case Refusal::monitorRevision:
      return "monitor revision " + std::to_string(id.monitorRevision) + "; " + release + " needs " +
             std::to_string(allowed.minMonitorRevision.value_or(0)) + " or later";
    case Refusal::newerOnDrive:
      break;
  }
  return "the drive holds " + versionText(drive.driveRelease) + ", newer than the file's " +
         drive.fileRelease->manifest.version;
}

std::string versionText(const Release* release) {
  return release != nullptr ? release->manifest.version : "unknown";
}

std::string firmwareText(const DriveState& drive) {
  if ((drive.result == DriveResult::programmed || drive.result == DriveResult::wouldProgram) &&
      drive.fileRelease != nullptr) {
    return (drive.driveDigest ? versionText(drive.driveRelease) : std::string("unknown")) + " -> " +
           drive.fileRelease->manifest.version;
  }
  if (!drive.driveDigest) {
    return "-";
  }
  return versionText(drive.driveRelease);
}

std::string durationText(std::chrono::milliseconds time) {
  const long long seconds = (time.count() + 999) / 1000;
  if (seconds < 60) {
    return std::to_string(seconds) + " s";
  }
  return std::to_string(seconds / 60) + " min " + std::to_string(seconds % 60) + " s";
}

std::string secondsText(std::chrono::milliseconds time) {
  const long long tenths = (time.count() + 50) / 100;
  return std::to_string(tenths / 10) + "." + std::to_string(tenths % 10) + " s";
}
