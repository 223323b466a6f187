// The process's standard streams, and the end of the process.
#pragma once

// Makes sure standard input, output and error are open, on the null device
// where the caller closed them, so that no file the run opens later (a
// record file) takes the place of one and receives console text. Called
// first thing in main, before anything else is opened.
void openStandardStreams();

// Makes standard output unbuffered, so that every text reaches the terminal
// the moment it is written (the countdown and the progress marks rely on
// it), and keeps a reader that goes away (a pipe closed by `head` or a
// pager) from ending the process: the writes then fail and the run goes on.
// Called once, first thing in the process entry.
void initStandardOutput();

// True when standard output is a terminal (not a file or a pipe).
bool standardOutputIsTerminal();

// Ends the process with the given status at once: flushes standard output,
// then leaves without running static destructors, so threads that are still
// running (the link threads, the discovery collector) never see the
// process-wide values torn down under them.
[[noreturn]] void endProcess(int status);
