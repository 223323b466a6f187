// The process entry: banner, options, and the one thing the run does.
#pragma once

#include "platform/interrupt.h"

// The whole process: prints the banner, reads the command line, does what it
// asks and returns the exit status: without -e, 1 on every path but
// --version (which prints "tovrin <version>" alone and gives 0) and a run of
// several drives that all did what was asked (0). With -e: 0 when every
// drive completed (or the usage text or manual was shown, or discovery found
// a drive), 1 when a drive failed, a digest differs or the run could not be
// completed, 2 when the command line, the firmware file or the record file
// was refused before any drive was touched. Only main ends the process.
// Discovery and the sessions stop when interrupts says the user asked to
// stop, after saying where they stopped; main then ends the process as the
// interruption would have.
int runEntry(int argc, char** argv, const InterruptWatch& interrupts);
