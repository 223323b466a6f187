// A run of several drives side by side: the sessions over one transport,
// the console while they run, the summary at the end; each drive's end is
// told to the run's listener (the run records are written there).
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "fleet/fleet_display.h"
#include "fleet/summary.h"
#include "image/image.h"
#include "link/transport.h"
#include "protocol/address.h"
#include "session/drive_state.h"
#include "session/plan.h"

struct FleetRun {
  std::vector<DriveAddress> drives;  // each once, in the order given
  RunInfo info;                      // mode, file and its digest, for the records
  SessionPlan plan;                  // what every drive's session does
  // The command of the retry line, for the drives that did not complete.
  RetryCommand retryCommand;
  // Told of each drive the moment it ends, so that an interrupted run keeps
  // what it learnt of the drives before.
  std::function<void(const DriveState& drive)> driveEnded;
  // -c: the first this many drives run first, the others only when every
  // one of them succeeded. 0: all at once.
  std::size_t canaries = 0;
};

// Runs every drive's session, showing their progress (redrawn in place in
// lines of at most redrawWidth columns, or with 0 a line per stage change;
// see redrawWidth in fleet/fleet_display.h) and then the summary table,
// the count line and, when some failed, the retry line, all through sink;
// while behind says the reader has not taken the last text, drawings in
// place are left out (fleet/fleet_display.h). Returns every drive as it
// ended, in the order given.
struct FleetEnd {
  std::vector<DriveState> drives;
};
FleetEnd runFleet(const FleetRun& run, Transport& transport, std::size_t redrawWidth,
                  const FleetDisplay::Sink& sink, const FleetDisplay::Behind& behind = {});
