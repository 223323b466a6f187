// Whether standard output is a terminal that the several-drives console may
// redraw in place, and how many lines and columns it shows.
#pragma once

// True when standard output is a terminal that takes ANSI cursor movement
// and line erasing. On Windows the console's virtual-terminal processing is
// switched on by this call; a console that refuses it (and output to a
// file or a pipe anywhere) gives false, and the caller writes plain lines.
bool enableTerminalControl();

// The number of lines the terminal on standard output shows, or 0 when that
// is not known. Lines redrawn in place must fit: the cursor can't go back
// above the top of the window.
int terminalRows();

// The number of columns of the terminal's window on standard output, or 0
// when that is not known. Lines redrawn in place must be narrower: a line
// that wraps takes two rows.
int terminalColumns();

// True when command lines are read by the Windows rules (the C runtime's
// double quotes and backslashes), false for a POSIX shell's.
bool windowsCommandLine();
