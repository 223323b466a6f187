// The fixed console texts of the front end.
#pragma once

#include <string>

#include "cli/run_output.h"
#include "protocol/address.h"

// The banner that opens every run: a rule, the family line, the loader line
// and the rule again, each 63 characters wide.
void printBanner(RunOutput& out);

// The usage text, showing ip as the drive's address.
void printUsage(RunOutput& out, DriveAddress ip);

// After the usage text, the argument that is no option, named.
void printNotUnderstood(RunOutput& out, const std::string& argument);

// The manual shown on -m.
void printManual(RunOutput& out);

// Discovery (-d, or -a's before any drive is touched) stopped by the user.
inline constexpr const char* DISCOVERY_INTERRUPTED = "\nERROR: Interrupted during discovery";
