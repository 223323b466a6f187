// The several-drives console while the drives run.
//
// On a terminal whose window holds every drive's line, in its height and
// its width, every drive has a line that is redrawn in place, at most every
// REDRAW_INTERVAL (a hundred drives counting down every 30 ms would
// otherwise flood the terminal), and only while the reader keeps up: a
// drawing due while the last one still waits for the reader is left out
// (the next change, or the last drawing, shows the drives as they are then);
// elsewhere each change of stage and each
// result is written as one whole line. Every text goes to the sink in one
// call, so lines never mix.
#pragma once

#include <chrono>
#include <cstddef>
#include <functional>
#include <optional>
#include <string_view>
#include <vector>

#include "link/transport.h"
#include "session/drive_state.h"

// The width of the lines the console may redraw in place for driveCount
// drives, or 0 when it must write a line per change of stage: output that is
// no terminal (or one that takes no cursor movement), a window of unknown
// size, fewer rows than drives (the cursor can't go back above the window's
// top), or too few columns for a useful line (a line that wraps takes two
// rows). The lines take one column less than the window has, and no more
// than DEFAULT_LINE_WIDTH.
std::size_t redrawWidth(bool terminal, int rows, int columns, std::size_t driveCount);

class FleetDisplay {
 public:
  using Sink = std::function<void(std::string_view)>;
  // True while text given to the sink waits for the reader.
  using Behind = std::function<bool()>;

  static constexpr std::chrono::milliseconds REDRAW_INTERVAL{100};

  // Lines redrawn in place of at most redrawWidth columns; 0: a line per
  // change of stage (see redrawWidth above).
  FleetDisplay(std::size_t redrawWidth, Sink sink, Behind behind = {})
      : width_(redrawWidth), sink_(std::move(sink)), behind_(std::move(behind)) {}

  // Drive number `drive` changed at `now`; newStage when it entered a stage
  // of another name or finished.
  void changed(const std::vector<DriveState>& drives, std::size_t drive, bool newStage,
               TimePoint now);

  // The last drawing, whatever the time: every drive as it ended.
  void close(const std::vector<DriveState>& drives);

 private:
  void draw(const std::vector<DriveState>& drives);

  std::size_t width_;
  Sink sink_;
  Behind behind_;
  std::size_t linesDrawn_ = 0;
  bool pending_ = false;  // a change not drawn yet
  std::optional<TimePoint> lastDrawn_;
};
