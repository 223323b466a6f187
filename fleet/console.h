// The several-drives console: the drives' states, kept up to date from
// their sessions' events, and shown as the run goes on.
//
// On a terminal every drive has a line that is redrawn in place, at most
// every REDRAW_INTERVAL (a hundred drives counting down every 30 ms would
// otherwise flood the terminal); elsewhere each stage change and each
// result is written as one whole line. Every text goes to the sink in one
// call, so lines never mix.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "fleet/drive_state.h"

class FleetConsole {
 public:
  using Clock = std::chrono::steady_clock;
  using Sink = std::function<void(std::string_view)>;

  static constexpr std::chrono::milliseconds REDRAW_INTERVAL{100};

  // One drive per address, in the order given.
  FleetConsole(const std::vector<std::uint32_t>& addresses, bool terminal, Sink sink);

  // The events of drive number `drive` (its place among the addresses).
  void stageStarted(std::size_t drive, DriveStage stage, Clock::time_point now);
  void countdown(std::size_t drive, int left, Clock::time_point now);
  void blockConfirmed(std::size_t drive, std::size_t done, std::size_t count,
                      Clock::time_point now);
  void identity(std::size_t drive, std::int32_t serialNumber, const MacAddress& mac);
  void driveDigest(std::size_t drive, const Digest& digest);
  // The drive's session ended: with its result, or failed in a stage (and
  // block) for a reason.
  void finished(std::size_t drive, DriveResult result, Clock::time_point now,
                std::chrono::system_clock::time_point wallTime);
  void failed(std::size_t drive, DriveStage stage, std::optional<std::size_t> block,
              std::string reason, Clock::time_point now,
              std::chrono::system_clock::time_point wallTime);

  // Redraws the terminal lines when something changed since the last
  // drawing and REDRAW_INTERVAL has passed.
  void refresh(Clock::time_point now);
  // The last drawing, whatever the time: every drive as it ended.
  void close();

  const std::vector<DriveState>& drives() const { return drives_; }

 private:
  DriveState& start(std::size_t drive, Clock::time_point now);
  void end(std::size_t drive, Clock::time_point now, std::chrono::system_clock::time_point wall);
  void draw();

  std::vector<DriveState> drives_;
  std::vector<std::optional<Clock::time_point>> started_;
  bool terminal_;
  Sink sink_;
  std::size_t linesDrawn_ = 0;
  bool changed_ = false;
  std::optional<Clock::time_point> lastDrawn_;
};
