// The sessions of a run: one drive, or several side by side (-ip
// with a list of addresses, -a), with a run record per drive (-r).
#pragma once

#include <cstdint>

#include "cli/run_output.h"
#include "cli/settings.h"
#include "platform/interrupt.h"

// How the sessions of a run ended.
enum class RunOutcome : std::uint8_t {
  done,     // every drive did all the run asked (for -v: every digest equal)
  failed,   // a drive failed or its digest differs, or the run could not start
  refused,  // the catalog, the firmware file or the record file was refused; no drive touched
};

struct SessionsEnd {
  RunOutcome outcome = RunOutcome::failed;
  // Several drives (an -ip list, even of one drive written twice, or -a):
  // the several-drives console.
  bool several = false;
};

// Runs the sessions the settings ask for. One drive: the console texts of a
// one-drive run, byte for byte. Several drives (see above): the several-drives
// console and summary, and with -u each drive's identity after it. argv is
// the run's command line, for the line that retries the drives that failed.
// A request in interrupts stops every session at once; the run then says
// and records where each drive stopped, as a run that ends does.
SessionsEnd runSessions(const RunSettings& settings, RunOutput& out, int argc, char** argv,
                        const InterruptWatch& interrupts);
