// The run's settings, read from the command line left to right.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "session/observer.h"

inline constexpr std::uint32_t DEFAULT_DRIVE_IP = 0xC0A87C78u;  // 192.168.124.120

struct RunSettings {
  // The drives of the run, host byte order, each once, in the order given.
  std::vector<std::uint32_t> driveAddresses{DEFAULT_DRIVE_IP};
  RunMode mode = MODE_PROGRAM;
  std::optional<std::string> firmwarePath;  // the text after -fp
  // -a: every drive that discovery finds, in place of driveAddresses. Of
  // -ip and -a the last one counts.
  bool everyDiscovered = false;
  std::optional<std::string> recordPath;  // -r: the run record file
};

// What the command line asks for, once the options have been read.
enum class EntryAction : std::uint8_t {
  session,          // every argument read: run the sessions
  bareUsage,        // no argument at all
  usage,            // -h or --help, or an argument that is no option
  version,          // --version
  manual,           // -m
  discovery,        // -d
  addressError,     // -ip without a valid address
  fileNameError,    // -fp as the last argument
  recordNameError,  // -r as the last argument
};

struct CommandLine {
  EntryAction action = EntryAction::session;
  RunSettings settings;  // as far as the options were read
};

// Reads the arguments left to right, up to the first option that acts (or
// the end). argv[0] is not examined.
CommandLine readCommandLine(int argc, char** argv);
