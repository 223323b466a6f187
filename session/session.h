// The programming session: connect, enter the monitor state, program,
// verify and reboot, or in the identity and verify modes wait for the
// drive's report.
#pragma once

// The firmware file's path as given after -fp; null until then.
extern const char* firmwarePath;

// Runs the session with the settings in force. Returns 1 when the run
// completed, 0 when an exchange got no answer. Ends the process itself on
// its fatal errors.
int runSession();
