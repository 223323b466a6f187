// The command line that runs again the drives of a run that did not
// complete, quoted for the shell the run was started from.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "protocol/address.h"

// How a word is quoted in the retry command line.
enum class QuoteStyle : std::uint8_t {
  posix,    // a POSIX shell: single quotes
  windows,  // cmd.exe and the C runtime's argument rules: double quotes
};

// Quotes word when a shell would split or change it; returns it as it is
// otherwise.
std::string quoteWord(std::string_view word, QuoteStyle style);

// "<program> -ip a,b <options>": the drives as one -ip list, then the
// run's other options (RunSettings::retryOptions), each word quoted.
std::string retryCommand(std::string_view program, const std::vector<std::string>& options,
                         const std::vector<DriveAddress>& drives, QuoteStyle style);
