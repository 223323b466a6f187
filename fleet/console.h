// The several-drives console while the drives run.
//
// On a terminal every drive has a line that is redrawn in place, at most
// every REDRAW_INTERVAL (a hundred drives counting down every 30 ms would
// otherwise flood the terminal); elsewhere each change of stage and each
// result is written as one whole line. Every text goes to the sink in one
// call, so lines never mix.
#pragma once

#include <chrono>
#include <cstddef>
#include <functional>
#include <optional>
#include <string_view>
#include <vector>

#include "fleet/drive_state.h"
#include "link/transport.h"

class FleetConsole {
 public:
  using Sink = std::function<void(std::string_view)>;

  static constexpr std::chrono::milliseconds REDRAW_INTERVAL{100};

  FleetConsole(bool terminal, Sink sink) : terminal_(terminal), sink_(std::move(sink)) {}

  // Drive number `drive` changed at `now`; newStage when it entered a stage
  // of another name or finished.
  void changed(const std::vector<DriveState>& drives, std::size_t drive, bool newStage,
               TimePoint now);

  // The last drawing, whatever the time: every drive as it ended.
  void close(const std::vector<DriveState>& drives);

 private:
  void draw(const std::vector<DriveState>& drives);

  bool terminal_;
  Sink sink_;
  std::size_t linesDrawn_ = 0;
  bool pending_ = false;  // a change not drawn yet
  std::optional<TimePoint> lastDrawn_;
};
