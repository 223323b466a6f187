// A run of several drives side by side: the sessions over one transport,
// the console while they run, the summary at the end, the run records.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "fleet/console.h"
#include "fleet/drive_state.h"
#include "fleet/summary.h"
#include "image/image.h"
#include "link/transport.h"
#include "record/record.h"

struct FleetRun {
  std::vector<std::uint32_t> drives;     // each once, in the order given
  RunInfo info;                          // mode, file and its digest
  const FirmwareImage* image = nullptr;  // null in the identity run
  // For the retry line: the program as it was called and the run's other
  // options.
  std::string program;
  std::vector<std::string> retryOptions;
  QuoteStyle quoteStyle = QuoteStyle::posix;
  RecordFile* records = nullptr;  // -r: a record per drive as it ends
  bool skipCurrent = false;       // -s
  // -c: the first this many drives run first, the others only when every
  // one of them succeeded. 0: all at once.
  std::size_t canaries = 0;
};

// Runs every drive's session, showing their progress (redrawn in place in
// lines of at most redrawWidth columns, or with 0 a line per stage change;
// see redrawWidth in fleet/console.h) and then the summary table,
// the count line and, when some failed, the retry line, all through sink.
// Returns every drive as it ended, in the order given, and whether a record
// (-r) could not be written whole.
struct FleetEnd {
  std::vector<DriveState> drives;
  bool recordsLost = false;
};
FleetEnd runFleet(const FleetRun& run, Transport& transport, std::size_t redrawWidth,
                  const FleetConsole::Sink& sink);
