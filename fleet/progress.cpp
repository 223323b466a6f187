#include "fleet/progress.h"

#include <algorithm>
#include <cstdio>

#include "session/drive_text.h"

namespace {

// Address and stage columns: the longest address, the longest stage name.
constexpr int ADDRESS_WIDTH = 15;
constexpr int STAGE_WIDTH = 13;
// What a line holds before its bar: address, stage and their blanks.
constexpr std::size_t HEAD_WIDTH = ADDRESS_WIDTH + 2 + STAGE_WIDTH + 2;
// The brackets and the percent figure beside the bar's cells.
constexpr std::size_t BAR_FRAME = 7;
// Fewer cells than this tell nothing: the percent figure stands alone.
constexpr std::size_t MIN_BAR_CELLS = 8;

// The bar and the percent of the blocks confirmed, in at most width columns.
// Before the first block is confirmed (count 0) nothing is done yet.
std::string bar(std::size_t done, std::size_t count, std::size_t width) {
  const std::size_t percent = count == 0 ? 0 : done * 100 / count;
  std::string figure = std::to_string(percent) + "%";
  if (width < MIN_BAR_CELLS + BAR_FRAME) {
    return figure;
  }
  const std::size_t cells = std::min(BAR_CELLS, width - BAR_FRAME);
  const std::size_t marks = count == 0 ? 0 : done * cells / count;
  return "[" + std::string(marks, '|') + std::string(cells - marks, ' ') + "]" +
         std::string(5 - figure.size(), ' ') + figure;
}

std::string withinWidth(std::string line, std::size_t width) {
  if (line.size() > width) {
    line.resize(width);
  }
  return line;
}

}  // namespace

std::string progressLine(const DriveState& drive, std::size_t width) {
  char head[40];
  std::snprintf(head, sizeof head, "%-*s  ", ADDRESS_WIDTH, addressText(drive.address).c_str());
  std::string line = head;
  if (drive.result != DriveResult::running) {
    return withinWidth(line + resultText(drive), width);
  }
  char stage[24];
  std::snprintf(stage, sizeof stage, "%-*s  ", STAGE_WIDTH, stageName(drive.stage));
  line += stage;
  const std::size_t room = width > HEAD_WIDTH ? width - HEAD_WIDTH : 0;
  switch (drive.stage.value_or(Stage::identityProbe)) {
    case Stage::connection:
      // The countdown shows once the first request went out.
      if (drive.countdown > 0) {
        return withinWidth(line + std::to_string(drive.countdown), width);
      }
      break;
    case Stage::programming:
      return withinWidth(line + bar(drive.blocksDone, drive.blockCount, room), width);
    case Stage::verify:
    case Stage::reboot:
      // After programming the bar shows the blocks confirmed; a drive that
      // got no block (-s checks what it holds) shows no bar at all.
      if (drive.blockCount > 0) {
        return withinWidth(line + bar(drive.blocksDone, drive.blockCount, room), width);
      }
      break;
    default:
      break;
  }
  // The stage name alone, without the blanks that pad it.
  return withinWidth(line.erase(line.find_last_not_of(' ') + 1), width);
}

std::string redrawLines(const std::vector<std::string>& lines, std::size_t previousCount) {
  std::string out;
  if (previousCount > 0) {
    out += "\x1b[" + std::to_string(previousCount) + "A";
  }
  for (const auto& line : lines) {
    out += "\r" + line + "\x1b[K\n";
  }
  return out;
}

std::string stageLine(const DriveState& drive) {
  const std::string said =
      drive.result != DriveResult::running ? resultText(drive) : stageName(drive.stage);
  return addressText(drive.address) + ": " + said + "\n";
}
