// The run's settings, read from the command line left to right.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "session/observer.h"

inline constexpr std::uint32_t DEFAULT_DRIVE_IP = 0xC0A87C78u;  // 192.168.124.120

struct RunSettings {
  // The drives of the run, host byte order, each once, in the order given.
  std::vector<std::uint32_t> driveAddresses{DEFAULT_DRIVE_IP};
  RunMode mode = RunMode::program;
  std::optional<std::string> firmwarePath;  // the text after -fp
  // -ip with a list (a comma in its text): several drives, even when its
  // addresses are one drive written more than once.
  bool addressList = false;
  // -a: every drive that discovery finds, in place of driveAddresses. Of
  // -ip and -a the last one counts.
  bool everyDiscovered = false;
  std::optional<std::string> recordPath;  // -r: the run record file
  // -s: a drive that already holds the file's firmware (its digest equals
  // the file's and it confirms a verify) is rebooted without programming.
  bool skipCurrent = false;
  // -c N: the first N drives of the list run first; the others only when
  // every one of them succeeded. 0: no canaries.
  std::size_t canaries = 0;
  // -e: the exit status tells the outcome (0 done, 1 failed, 2 refused).
  bool outcomeStatus = false;
  // The arguments read, each option with its value, but for those that
  // chose the drives (-ip with its list, -a): the options that the line
  // retrying some of the drives repeats.
  std::vector<std::string> retryOptions;
};

inline constexpr std::size_t MAX_CANARIES = 100;

// What the command line asks for, once the options have been read.
enum class EntryAction : std::uint8_t {
  session,           // every argument read: run the sessions
  bareUsage,         // no argument at all
  usage,             // -h or --help
  version,           // --version
  manual,            // -m
  discovery,         // -d
  addressError,      // -ip without a valid address
  fileNameError,     // -fp as the last argument
  recordNameError,   // -r as the last argument
  canaryCountError,  // -c without a count of 1 to 100
  unknownArgument,   // an argument that is no option: the usage text
};

struct CommandLine {
  EntryAction action = EntryAction::session;
  RunSettings settings;  // as far as the options were read
};

// True when the command line was refused: a bad or missing option value,
// or an argument that is no option.
bool refusedCommandLine(EntryAction action);

// Reads the arguments left to right, up to the first option that acts (or
// the end). argv[0] is not examined. When the line is refused, -e still
// counts wherever it stands among the options after the refused one.
CommandLine readCommandLine(int argc, const char* const* argv);
