// The end of a several-drives run: a table with a row per drive, a count
// line and, when some drives failed, the command line that retries them.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "session/drive_state.h"

// Header and one row per drive, in the order given: address, serial number,
// MAC address, result, time; columns as wide as their widest entry, "-" for
// what the drive never told. Every line ends with a line feed.
std::string summaryTable(const std::vector<DriveState>& drives);

// "3 drives: 2 programmed and verified, 1 failed\n": the drives by result,
// each result that occurred once.
std::string countLine(const std::vector<DriveState>& drives);

// True when every drive did all that the run asked (driveSucceeded): the
// several-drives run then ends with exit status 0.
bool allSucceeded(const std::vector<DriveState>& drives);

// The run's arguments (argv[1] on) without the ones that chose the drives
// (-ip with its address list, -a), for the retry command line. The
// argument after -fp, -r or -c is kept whatever it says.
std::vector<std::string> retryOptions(int argc, const char* const* argv);

// How a word is quoted in the retry command line.
enum class QuoteStyle : std::uint8_t {
  posix,    // a POSIX shell: single quotes
  windows,  // cmd.exe and the C runtime's argument rules: double quotes
};

// Quotes word when a shell would split or change it; returns it as it is
// otherwise.
std::string quoteWord(std::string_view word, QuoteStyle style);

// "Retry the failed drives: <program> -ip a,b <options>\n" for the drives
// that failed, were interrupted or never started (those whose digest
// differs completed and are left out); empty when there are none. options
// are the run's other arguments as words.
std::string retryLine(std::string_view program, const std::vector<std::string>& options,
                      const std::vector<DriveState>& drives, QuoteStyle style);
