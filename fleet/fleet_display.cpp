#include "fleet/fleet_display.h"

#include <algorithm>
#include <string>

#include "fleet/progress.h"

std::size_t redrawWidth(bool terminal, int rows, int columns, std::size_t driveCount) {
  if (!terminal || rows <= 0 || columns <= 0 || static_cast<std::size_t>(rows) <= driveCount) {
    return 0;
  }
  const auto width = static_cast<std::size_t>(columns) - 1;
  return width >= MIN_LINE_WIDTH ? std::min(width, DEFAULT_LINE_WIDTH) : 0;
}

void FleetDisplay::changed(const std::vector<DriveState>& drives, std::size_t drive, bool newStage,
                           TimePoint now) {
  if (width_ == 0) {
    if (newStage) {
      sink_(stageLine(drives[drive]));
    }
    return;
  }
  pending_ = true;
  if ((!lastDrawn_ || now - *lastDrawn_ >= REDRAW_INTERVAL) && !(behind_ && behind_())) {
    lastDrawn_ = now;
    draw(drives);
  }
}

void FleetDisplay::close(const std::vector<DriveState>& drives) {
  if (width_ > 0 && (pending_ || linesDrawn_ == 0)) {
    draw(drives);
  }
}

void FleetDisplay::draw(const std::vector<DriveState>& drives) {
  std::vector<std::string> lines;
  lines.reserve(drives.size());
  for (const auto& drive : drives) {
    lines.push_back(progressLine(drive, width_));
  }
  sink_(redrawLines(lines, linesDrawn_));
  linesDrawn_ = lines.size();
  pending_ = false;
}
