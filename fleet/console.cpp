#include "fleet/console.h"

#include <utility>

#include "fleet/progress.h"

FleetConsole::FleetConsole(const std::vector<std::uint32_t>& addresses, bool terminal, Sink sink)
    : drives_(addresses.size()),
      started_(addresses.size()),
      terminal_(terminal),
      sink_(std::move(sink)) {
  for (std::size_t i = 0; i < addresses.size(); ++i) {
    drives_[i].address = addresses[i];
  }
}

DriveState& FleetConsole::start(std::size_t drive, Clock::time_point now) {
  if (!started_[drive]) {
    started_[drive] = now;
  }
  changed_ = true;
  return drives_[drive];
}

void FleetConsole::stageStarted(std::size_t drive, DriveStage stage, Clock::time_point now) {
  DriveState& state = start(drive, now);
  if (state.stage == stage) {
    return;
  }
  state.stage = stage;
  if (terminal_) {
    refresh(now);
  } else {
    sink_(stageLine(state));
  }
}

void FleetConsole::countdown(std::size_t drive, int left, Clock::time_point now) {
  start(drive, now).countdown = left;
  refresh(now);
}

void FleetConsole::blockConfirmed(std::size_t drive, std::size_t done, std::size_t count,
                                  Clock::time_point now) {
  DriveState& state = start(drive, now);
  state.blocksDone = done;
  state.blockCount = count;
  refresh(now);
}

void FleetConsole::identity(std::size_t drive, std::int32_t serialNumber, const MacAddress& mac) {
  drives_[drive].serialNumber = serialNumber;
  drives_[drive].mac = mac;
}

void FleetConsole::driveDigest(std::size_t drive, const Digest& digest) {
  drives_[drive].driveDigest = digest;
}

void FleetConsole::finished(std::size_t drive, DriveResult result, Clock::time_point now,
                            std::chrono::system_clock::time_point wallTime) {
  drives_[drive].result = result;
  end(drive, now, wallTime);
}

void FleetConsole::failed(std::size_t drive, DriveStage stage, std::optional<std::size_t> block,
                          std::string reason, Clock::time_point now,
                          std::chrono::system_clock::time_point wallTime) {
  DriveState& state = drives_[drive];
  state.result = DriveResult::failed;
  state.failedStage = stage;
  state.failedBlock = block;
  state.reason = std::move(reason);
  end(drive, now, wallTime);
}

void FleetConsole::end(std::size_t drive, Clock::time_point now,
                       std::chrono::system_clock::time_point wall) {
  DriveState& state = start(drive, now);
  state.stage = DriveStage::finished;
  state.elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(now - *started_[drive]);
  state.finishedAt = wall;
  if (terminal_) {
    refresh(now);
  } else {
    sink_(stageLine(state));
  }
}

void FleetConsole::refresh(Clock::time_point now) {
  if (!terminal_ || !changed_ || (lastDrawn_ && now - *lastDrawn_ < REDRAW_INTERVAL)) {
    return;
  }
  lastDrawn_ = now;
  draw();
}

void FleetConsole::close() {
  if (terminal_ && (changed_ || linesDrawn_ == 0)) {
    draw();
  }
}

void FleetConsole::draw() {
  std::vector<std::string> lines;
  lines.reserve(drives_.size());
  for (const auto& drive : drives_) {
    lines.push_back(progressLine(drive));
  }
  sink_(redrawLines(lines, linesDrawn_));
  linesDrawn_ = lines.size();
  changed_ = false;
}
