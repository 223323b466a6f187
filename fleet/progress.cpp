#include "fleet/progress.h"

#include <cstdio>

#include "fleet/texts.h"

namespace {

// Address and stage columns: the longest address, the longest stage word.
constexpr int ADDRESS_WIDTH = 15;
constexpr int STAGE_WIDTH = 7;

// The widest line drawn on a terminal: one less than the usual 80 columns,
// so that no terminal wraps it.
constexpr std::size_t LINE_LIMIT = 79;

std::string bar(std::size_t done, std::size_t count) {
  const std::size_t marks = count == 0 ? BAR_CELLS : done * BAR_CELLS / count;
  const std::size_t percent = count == 0 ? 100 : done * 100 / count;
  std::string text = "[" + std::string(marks, '|') + std::string(BAR_CELLS - marks, ' ') + "]";
  const std::string figure = std::to_string(percent) + "%";
  return text + std::string(5 - figure.size(), ' ') + figure;
}

}  // namespace

std::string progressLine(const DriveState& drive) {
  char head[40];
  std::snprintf(head, sizeof head, "%-*s  ", ADDRESS_WIDTH, addressText(drive.address).c_str());
  std::string line = head;
  if (drive.result != DriveResult::running) {
    return line + resultText(drive);
  }
  char stage[16];
  std::snprintf(stage, sizeof stage, "%-*s", STAGE_WIDTH, stageName(drive.stage));
  line += stage;
  switch (drive.stage.value_or(Stage::identityProbe)) {
    case Stage::connection:
      return line + "  " + std::to_string(drive.countdown);
    case Stage::programming:
      return line + "  " + bar(drive.blocksDone, drive.blockCount);
    case Stage::verify:
    case Stage::reboot:
      return line + "  " + bar(1, 1);
    default:
      // The stage word alone, without the blanks that pad it.
      return line.erase(line.find_last_not_of(' ') + 1);
  }
}

std::string redrawLines(const std::vector<std::string>& lines, std::size_t previousCount) {
  std::string out;
  if (previousCount > 0) {
    out += "\x1b[" + std::to_string(previousCount) + "A";
  }
  for (const auto& line : lines) {
    // A line that wrapped would take two rows and throw the next drawing's
    // count off, so it is cut to fit a terminal of the usual width.
    out += "\r" + line.substr(0, LINE_LIMIT) + "\x1b[K\n";
  }
  return out;
}

std::string stageLine(const DriveState& drive) {
  const std::string said =
      drive.result != DriveResult::running ? resultText(drive) : stageName(drive.stage);
  return addressText(drive.address) + ": " + said + "\n";
}
