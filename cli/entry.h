// The process entry: banner, options, and the one thing the run does.
#pragma once

#include <functional>

#include "cli/run_output.h"
#include "cli/sessions.h"
#include "cli/settings.h"
#include "platform/interrupt.h"

// What a command line does on the network, handed to dispatch: discovery
// on the console (true when a drive answered, or the user stopped it) and
// the sessions.
struct NetworkActions {
  std::function<bool()> discovery;
  std::function<SessionsEnd()> sessions;
};

// Does what the command line asks, after the banner, all but --version
// (which the entry prints before any banner): the usage text, the manual, a
// refusal's message, discovery or the sessions. Returns the exit status.
int dispatch(const CommandLine& line, RunOutput& out, const NetworkActions& network);

// The whole process: prints the banner, reads the command line, does what it
// asks and returns the exit status: without -e, 1 on every path but
// --version (which prints "tovrin <version>" alone and gives 0), --manifest
// (which prints the manifest alone and gives 0) and a run of several drives
// that all did what was asked (0). With -e: 0 when every drive completed
// (or the usage text or manual was shown, or discovery found a drive), 1
// when a drive failed, a digest differs or the run could not be completed,
// 2 when the command line, the catalog, the firmware file (not a release of
// the catalog among them) or the record file was refused before any drive
// was touched. Only main ends the process.
// Discovery and the sessions stop when interrupts says the user asked to
// stop, after saying where they stopped; main then ends the process as the
// interruption would have.
int runEntry(int argc, char** argv, const InterruptWatch& interrupts);
