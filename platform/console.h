// The console and the end of the process.
#pragma once

// Makes standard output unbuffered, so that every text reaches the terminal
// the moment it is written (the countdown and the progress marks rely on
// it). Called once, first thing in the process entry.
void consoleInit();

// Ends the process with the given status at once: flushes standard output,
// then leaves without running static destructors, so threads that are still
// running (the link threads, the discovery collector) never see the
// process-wide values torn down under them.
[[noreturn]] void endProcess(int status);
