// Running a built executable with a terminal for its standard output, as a
// technician's console would be.
#pragma once

#include <chrono>
#include <string>
#include <vector>

#include "testkit/process.h"

// Runs argv with standard output (and standard error) on a new
// pseudo-terminal of 40 rows and `columns` columns, to its end or until
// timeout; out holds
// what the terminal received, its line feeds turned into CR LF by the
// terminal as usual.
ProcessResult runInTerminal(const std::vector<std::string>& argv, std::chrono::milliseconds timeout,
                            int columns = 120);
