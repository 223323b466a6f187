// The run's settings, read from the command line left to right.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "protocol/address.h"
#include "session/observer.h"

inline constexpr DriveAddress DEFAULT_DRIVE_IP{192, 168, 124, 120};

struct RunSettings {
  // The drives of the run, each once, in the order given.
  std::vector<DriveAddress> driveAddresses{DEFAULT_DRIVE_IP};
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
  // --catalog DIR, or TOVRIN_CATALOG where the option is absent: the folder
  // of the release catalog; a programming or verify run takes only a file
  // that is one of its releases.
  std::optional<std::string> catalogFolder;
  // --allow-older: with a catalog, a drive that holds a newer release than
  // the file's is programmed all the same.
  bool allowOlder = false;
  std::optional<std::string> manifestPath;  // --manifest FILE
  // The arguments read, each option with its value, but for those that
  // chose the drives (-ip with its list, -a): the options that the line
  // retrying some of the drives repeats.
  std::vector<std::string> retryOptions;
};

inline constexpr std::size_t MAX_CANARIES = 100;

// What the command line asks for, once the options have been read.
enum class EntryAction : std::uint8_t {
  session,          // every argument read: run the sessions
  bareUsage,        // no argument at all
  usage,            // -h or --help
  version,          // --version
  manual,           // -m
  discovery,        // -d
  manifest,         // --manifest FILE: a manifest for the file, as JSON
  refused,          // an option's value is missing or bad: its message
  unknownArgument,  // an argument that is no option: the usage text and its name
};

struct CommandLine {
  EntryAction action = EntryAction::session;
  RunSettings settings;  // as far as the options were read
  // refused: the option's message; unknownArgument: the argument.
  std::string refusal;
};

// True when the command line was refused: a bad or missing option value,
// or an argument that is no option.
bool refusedCommandLine(EntryAction action);

// Reads the arguments left to right, up to the first option that acts (or
// the end). argv[0] is not examined. -e counts wherever it stands, also
// after an option that acts or was refused.
CommandLine readCommandLine(int argc, const char* const* argv);

// The name of the environment variable that names the catalog's folder
// where --catalog is absent.
inline constexpr const char* CATALOG_VARIABLE = "TOVRIN_CATALOG";

// A line that runs the sessions, without --catalog, takes the catalog's
// folder from the environment variable's value (null: not set); an empty
// value is refused as an empty --catalog is.
CommandLine withCatalogFromEnvironment(CommandLine line, const char* value);

// The usage text's sections, in the order it shows them.
enum class UsageSection : std::uint8_t { info, programming, moreInfo, severalDrives };

// A line of the usage text: its section and text, with the run's default
// drive address in place of "%s" where it has one.
struct UsageLine {
  UsageSection section = UsageSection::info;
  const char* text = nullptr;  // null: no line
};

// Every option of the command line, once: its names, whether it takes the
// next argument as its value, how it applies, and its usage lines (an
// option may show in two sections).
struct Option {
  const char* name = nullptr;
  const char* otherName = nullptr;
  bool takesValue = false;
  // The line that retries some drives repeats it (not -ip or -a, which
  // chose the drives).
  bool repeatedOnRetry = true;
  // An option that acts where it stands (-h, -m, -d, --version, and with
  // its value --manifest): what it does; session for one that only sets
  // something.
  EntryAction acts = EntryAction::session;
  // Sets what the option sets from its value (null without one); false
  // when the value is refused.
  bool (*apply)(RunSettings& settings, const char* value) = nullptr;
  // The message for a missing or refused value.
  const char* refusal = nullptr;
  UsageLine usage[2] = {};
};

// The options, in the order the usage text lists them within a section.
std::span<const Option> commandLineOptions();
