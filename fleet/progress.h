// The several-drives console while the drives run.
//
// On a terminal every drive has one line, rewritten in place as the drive
// goes on; otherwise each change of stage is one whole line of its own,
// prefixed with the drive's address, so that lines from different drives
// never mix in a log.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "fleet/drive_state.h"

// Progress bar cells: one mark per 1/32 of the blocks sent.
inline constexpr std::size_t BAR_CELLS = 32;

// A drive's terminal line, without a line end: the address, the stage and,
// by stage, the connection countdown, a progress bar with the percent, or
// the result once the drive is finished.
std::string progressLine(const DriveState& drive);

// The bytes that write lines over the previousCount lines drawn last (0 for
// the first drawing; never more than lines.size()), from the start of the
// line below them, and leave the cursor at the start of the line below the
// new ones. ANSI cursor movement: up, carriage return, the text cut to 79
// columns, erase to the end of the line.
std::string redrawLines(const std::vector<std::string>& lines, std::size_t previousCount);

// The line logged for a drive when its stage changes, with its line end:
// "10.0.0.5: program\n", or the result for a finished drive.
std::string stageLine(const DriveState& drive);
