// The sessions of a run: one drive as always, or several side by side (-ip
// with a list of addresses, -a), with a run record per drive (-r).
#pragma once

#include "cli/console_out.h"
#include "cli/settings.h"

// Runs the sessions the settings ask for and returns the exit status. One
// drive: the console texts of a one-drive run, byte for byte, and status 1
// whatever the outcome. Several drives (or -a): the several-drives console
// and summary, and status 0 when every drive did all the run asked (for -v:
// every digest equal), 1 otherwise. argv is the run's command line, for the
// line that retries the drives that failed.
int runSessions(const RunSettings& settings, ConsoleOut& out, int argc, char** argv);
