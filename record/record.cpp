#include "record/record.h"

#include <cstdio>

#include "fleet/texts.h"
#include "record/json.h"

namespace {

const char* modeWord(RunMode mode) {
  switch (mode) {
    case MODE_VERIFY:
      return "verify";
    case MODE_IDENTITY:
      return "identity";
    case MODE_PROGRAM:
      break;
  }
  return "program";
}

const char* resultWord(DriveResult result) {
  switch (result) {
    case DriveResult::programmed:
      return "programmed";
    case DriveResult::digestEqual:
      return "digest-equal";
    case DriveResult::digestDiffers:
      return "digest-differs";
    case DriveResult::identified:
      return "identified";
    case DriveResult::failed:
      return "failed";
    case DriveResult::running:
      break;
  }
  return "unfinished";
}

std::string field(const char* name, const std::string& json) {
  return std::string("\"") + name + "\":" + json;
}

template <typename T, typename F>
std::string orNull(const std::optional<T>& value, F&& toJson) {
  return value ? toJson(*value) : std::string("null");
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

std::string recordLine(const RunInfo& run, const DriveState& drive) {
  const std::optional<Failure> failure =
      drive.result == DriveResult::failed ? drive.failure : std::nullopt;
  const auto quoted = [](const std::string& text) { return jsonString(text); };
  const auto md5 = [](const Digest& digest) { return jsonString(md5Text(digest)); };
  char seconds[32];
  std::snprintf(seconds, sizeof seconds, "%.3f", static_cast<double>(drive.elapsed.count()) / 1000);
  const std::string fields[] = {
      field("time", jsonString(utcTimeText(drive.finishedAt))),
      field("address", jsonString(addressText(drive.address))),
      field("mode", jsonString(modeWord(run.mode))),
      field("result", jsonString(resultWord(drive.result))),
      field("failedStage",
            orNull(failure, [](const Failure& f) { return jsonString(stageName(f.stage)); })),
      field("failedBlock",
            failure ? orNull(failure->block, [](std::size_t b) { return std::to_string(b); })
                    : "null"),
      field("reason", orNull(failure, [](const Failure& f) { return jsonString(reasonText(f)); })),
      field("serialNumber",
            orNull(drive.serialNumber, [](std::int32_t n) { return std::to_string(n); })),
      field("mac", orNull(drive.mac, [](const MacAddress& m) { return jsonString(macText(m)); })),
      field("file", run.mode == MODE_IDENTITY ? "null" : quoted(run.filePath)),
      field("fileDigest", orNull(run.fileDigest, md5)),
      field("driveDigest", orNull(drive.driveDigest, md5)),
      field("seconds", seconds),
  };
  std::string line = "{";
  for (const auto& f : fields) {
    line += (line.size() > 1 ? "," : "") + f;
  }
  return line + "}\n";
}
