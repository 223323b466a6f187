// The process entry: banner, options, and the one thing the run does.
#pragma once

// The whole process: prints the banner, reads the command line, does what it
// asks and returns the exit status: 1 on every path but --version, which
// prints "tovrin <version>" alone and gives 0. Only main ends the process.
int runEntry(int argc, char** argv);
