#include "record/record.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <optional>
#include <string_view>
#include <vector>

#include "record/json.h"
#include "session/drive_text.h"
#include "session/words.h"
#include "tovrin_version.h"

namespace {

std::string field(const char* name, const std::string& json) {
  return std::string("\"") + name + "\":" + json;
}

template <typename T, typename F>
std::string orNull(const std::optional<T>& value, F&& toJson) {
  return value ? toJson(*value) : std::string("null");
}

std::string object(const std::vector<std::string>& fields) {
  std::string text = "{";
  for (const auto& f : fields) {
    text += (text.size() > 1 ? "," : "") + f;
  }
  return text + "}";
}

// A real as JSON: enough digits to give the same single back; JSON has no
// infinities or NaN, so those are null.
std::string realJson(float value) {
  if (!std::isfinite(value)) {
    return "null";
  }
  char text[32];
  std::snprintf(text, sizeof text, "%.9g", static_cast<double>(value));
  return text;
}

std::string charsJson(const char* format, const std::array<std::uint8_t, 4>& chars) {
  char text[8];
  std::snprintf(text, sizeof text, format, chars[0], chars[1], chars[2]);
  // A zero byte ends the text as it ends the console's.
  return jsonString(std::string_view(text, std::strlen(text)));
}

std::string identityJson(const UnitIdentity& id) {
  const auto& vin = id.vinNumber;
  const auto vinEnd = std::find(vin.begin(), vin.end(), std::uint8_t{0});
  const std::string vinText(vin.begin(), vinEnd);
  return object({
      field("monitorRevision", std::to_string(id.monitorRevision)),
      field("buildNumber", std::to_string(id.buildNumber)),
      field("currentCapability", realJson(id.currentCapability)),
      field("busSensorResolution", realJson(id.busSensorResolution)),
      field("currentSensorResolution", realJson(id.currentSensorResolution)),
      field("serialNumber", std::to_string(id.serialNumber)),
      field("manufacturingCode", std::to_string(id.manufacturingCode)),
      field("hardwareRevision", charsJson("%c.%c%c", id.hardwareRevision)),
      field("modelCode", charsJson("%c%c%c", id.modelCode)),
      field("vin", jsonString(vinText)),
      field("mac", jsonString(macText(id.macAddress))),
      field("checksum", std::to_string(id.checksum)),
  });
}

// The drive received blocks of the file (or its programming began) and did
// not end verified and rebooted: it must be programmed again.
bool imageIncomplete(const RunInfo& run, const DriveState& drive) {
  // A drive the catalog refused got no block.
  if (run.mode != RunMode::program || drive.verifiedCurrent || drive.withheld ||
      driveSucceeded(drive)) {
    return false;
  }
  if (drive.failure) {
    return drive.failure->imageIncomplete;  // the session knows it best
  }
  if (drive.blocksDone > 0) {
    return true;
  }
  const std::optional<Stage> stage =
      drive.failure ? std::optional(drive.failure->stage) : drive.stage;
  return stage == Stage::programming || stage == Stage::verify || stage == Stage::reboot;
}

}  // namespace

std::string utcTimeText(std::chrono::system_clock::time_point time) {
  using namespace std::chrono;
  const auto ms = time_point_cast<milliseconds>(time);
  const auto day = floor<days>(ms);
  const year_month_day date{day};
  const hh_mm_ss clock{ms - day};
  char text[32];
  std::snprintf(text, sizeof text, "%04d-%02u-%02uT%02d:%02d:%02d.%03dZ", int{date.year()},
                unsigned{date.month()}, unsigned{date.day()},
                static_cast<int>(clock.hours().count()), static_cast<int>(clock.minutes().count()),
                static_cast<int>(clock.seconds().count()),
                static_cast<int>(clock.subseconds().count()));
  return text;
}

std::string runIdText(std::chrono::system_clock::time_point start, std::uint32_t processId) {
  // The record's time without its separators: 2026-12-07T21:45:01.123Z.
  std::string text;
  for (const char c : utcTimeText(start)) {
    if (c != '-' && c != ':') {
      text += c;
    }
  }
  return text + "-" + std::to_string(processId);
}

namespace {

// Where and why a drive stopped, as the record's words; null fields stay
// empty.
struct Stop {
  std::string stage = "null";
  std::string block = "null";
  std::string reason = "null";
  std::string status = "null";
  bool message = false;
};

Stop stopOf(const DriveState& drive) {
  Stop stop;
  const bool cut = drive.result == DriveResult::interrupted || drive.result == DriveResult::running;
  if (drive.result == DriveResult::notStarted) {
    stop.reason = jsonString(wordsOf(drive.heldBack).word);
    stop.message = true;
  }
  // The catalog withheld the file's release: an incompatible drive's
  // reason is the field at fault.
  if (drive.withheld) {
    if (incompatible(*drive.withheld)) {
      stop.reason = jsonString(wordsOf(*drive.withheld).word);
    }
    stop.message = true;
  }
  if (drive.result != DriveResult::failed && !cut) {
    return stop;
  }
  stop.message = true;
  if (drive.failure) {
    const Failure& f = *drive.failure;
    stop.stage = jsonString(wordsOf(f.stage).word);
    // Counted from 1, as the console counts them.
    stop.block = f.block ? std::to_string(*f.block + 1) : "null";
    stop.reason = jsonString(wordsOf(f.reason).word);
    stop.status = f.reason == FailureReason::refused ? std::to_string(f.status) : "null";
    return stop;
  }
  if (cut) {
    stop.reason = jsonString(wordsOf(FailureReason::interrupted).word);
    if (drive.stage) {
      stop.stage = jsonString(wordsOf(std::optional(*drive.stage)).word);
      if (*drive.stage == Stage::programming) {
        stop.block = std::to_string(drive.blocksDone + 1);  // the block in flight
      }
    }
  }
  return stop;
}

std::string versionOrNull(const Release* release) {
  return release != nullptr ? jsonString(release->manifest.version) : "null";
}

}  // namespace

std::string recordLine(const RunInfo& run, const DriveState& drive) {
  const Stop stop = stopOf(drive);
  const auto md5 = [](const Digest& digest) { return jsonString(md5Text(digest)); };
  char seconds[32];
  std::snprintf(seconds, sizeof seconds, "%.3f", static_cast<double>(drive.elapsed.count()) / 1000);
  return object({
             field("run", jsonString(run.runId)),
             field("version", jsonString(TOVRIN_VERSION)),
             field("time", jsonString(utcTimeText(drive.finishedAt))),
             field("address", jsonString(addressText(drive.address))),
             field("mode", jsonString(modeWord(run.mode))),
             field("result", jsonString(wordsOf(drive.result).word)),
             field("failedStage", stop.stage),
             field("failedBlock", stop.block),
             field("blockCount", run.mode == RunMode::program || run.mode == RunMode::plan
                                     ? std::to_string(run.blockCount)
                                     : "null"),
             field("reason", stop.reason),
             field("status", stop.status),
             field("message", stop.message ? jsonString(resultText(drive)) : "null"),
             field("imageIncomplete", imageIncomplete(run, drive) ? "true" : "false"),
             field("serialNumber",
                   orNull(drive.serialNumber, [](std::int32_t n) { return std::to_string(n); })),
             field("mac",
                   orNull(drive.mac, [](const MacAddress& m) { return jsonString(macText(m)); })),
             field("identity", orNull(drive.identity, identityJson)),
             field("file", run.mode == RunMode::identity ? "null" : jsonString(run.filePath)),
             field("fileDigest", orNull(run.fileDigest, md5)),
             field("driveDigest", orNull(drive.driveDigest, md5)),
             field("fileVersion", versionOrNull(drive.fileRelease)),
             field("driveVersion", versionOrNull(drive.driveRelease)),
             field("seconds", seconds),
         }) +
         "\n";
}
