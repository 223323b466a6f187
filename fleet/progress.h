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

#include "session/drive_state.h"

// Progress bar cells: one mark per 1/32 of the blocks confirmed.
inline constexpr std::size_t BAR_CELLS = 32;

// Lines fit a window of the usual 80 columns, one to spare: a line as wide
// as the window wraps on some terminals.
inline constexpr std::size_t DEFAULT_LINE_WIDTH = 79;
// The narrowest lines worth redrawing: address, stage and a percent figure.
inline constexpr std::size_t MIN_LINE_WIDTH = 40;

// A drive's terminal line, without a line end, at most width columns: the
// address, the stage and, by stage, the connection countdown (once it
// runs), a progress bar of the blocks confirmed with the percent (fewer
// cells, or the percent alone, where the width is short), or the result
// once the drive is finished (cut at the width).
std::string progressLine(const DriveState& drive, std::size_t width = DEFAULT_LINE_WIDTH);

// The bytes that write lines over the previousCount lines drawn last (0 for
// the first drawing; never more than lines.size()), from the start of the
// line below them, and leave the cursor at the start of the line below the
// new ones. ANSI cursor movement: up, carriage return, the text, erase to
// the end of the line. Each line must be narrower than the window: a line
// that wrapped would take two rows and throw the next drawing's count off.
std::string redrawLines(const std::vector<std::string>& lines, std::size_t previousCount);

// The line logged for a drive when its stage changes, with its line end:
// "10.0.0.5: programming\n", or the result for a finished drive.
std::string stageLine(const DriveState& drive);
