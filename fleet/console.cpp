#include "fleet/console.h"

#include <string>

#include "fleet/progress.h"

void FleetConsole::changed(const std::vector<DriveState>& drives, std::size_t drive, bool newStage,
                           TimePoint now) {
  if (!terminal_) {
    if (newStage) {
      sink_(stageLine(drives[drive]));
    }
    return;
  }
  pending_ = true;
  if (!lastDrawn_ || now - *lastDrawn_ >= REDRAW_INTERVAL) {
    lastDrawn_ = now;
    draw(drives);
  }
}

void FleetConsole::close(const std::vector<DriveState>& drives) {
  if (terminal_ && (pending_ || linesDrawn_ == 0)) {
    draw(drives);
  }
}

void FleetConsole::draw(const std::vector<DriveState>& drives) {
  std::vector<std::string> lines;
  lines.reserve(drives.size());
  for (const auto& drive : drives) {
    lines.push_back(progressLine(drive));
  }
  sink_(redrawLines(lines, linesDrawn_));
  linesDrawn_ = lines.size();
  pending_ = false;
}
