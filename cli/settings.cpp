#include "cli/settings.h"

#include <cstring>
#include <optional>
#include <utility>

#include "cli/address_list.h"

namespace {

bool is(const char* arg, const char* option) { return std::strcmp(arg, option) == 0; }

bool takesValue(const char* arg) {
  return is(arg, "-ip") || is(arg, "-fp") || is(arg, "-r") || is(arg, "-c");
}

// 1 to MAX_CANARIES in decimal digits, without a leading zero.
std::optional<std::size_t> canaryCount(const char* text) {
  const std::size_t length = std::strlen(text);
  if (length == 0 || length > 3 || text[0] == '0') {
    return std::nullopt;
  }
  std::size_t n = 0;
  for (std::size_t i = 0; i < length; ++i) {
    if (text[i] < '0' || text[i] > '9') {
      return std::nullopt;
    }
    n = n * 10 + static_cast<std::size_t>(text[i] - '0');
  }
  return n <= MAX_CANARIES ? std::optional(n) : std::nullopt;
}

// An option that acts where it stands (-h, -m, -d), and a refused line,
// still honour -e among the options after it: -e counts wherever it stands.
CommandLine actNow(CommandLine line, EntryAction action, int next, int argc,
                   const char* const* argv) {
  line.action = action;
  for (int i = next; i < argc; ++i) {
    if (takesValue(argv[i])) {
      ++i;
    } else if (is(argv[i], "-e")) {
      line.settings.outcomeStatus = true;
    }
  }
  return line;
}

}  // namespace

bool refusedCommandLine(EntryAction action) {
  switch (action) {
    case EntryAction::addressError:
    case EntryAction::fileNameError:
    case EntryAction::recordNameError:
    case EntryAction::canaryCountError:
    case EntryAction::unknownArgument:
      return true;
    case EntryAction::session:
    case EntryAction::bareUsage:
    case EntryAction::usage:
    case EntryAction::version:
    case EntryAction::manual:
    case EntryAction::discovery:
      break;
  }
  return false;
}

CommandLine readCommandLine(int argc, const char* const* argv) {
  CommandLine line;
  RunSettings& settings = line.settings;
  if (argc < 2) {
    line.action = EntryAction::bareUsage;
    return line;
  }
  for (int i = 1; i < argc; ++i) {
    const char* arg = argv[i];
    if (is(arg, "-h") || is(arg, "--help")) {
      return actNow(std::move(line), EntryAction::usage, i + 1, argc, argv);
    }
    if (is(arg, "--version")) {
      line.action = EntryAction::version;
      return line;
    }
    if (is(arg, "-m")) {
      return actNow(std::move(line), EntryAction::manual, i + 1, argc, argv);
    }
    if (is(arg, "-d")) {
      return actNow(std::move(line), EntryAction::discovery, i + 1, argc, argv);
    }
    if (is(arg, "-ip")) {
      auto addresses = ++i < argc ? parseAddressList(argv[i]) : std::nullopt;
      if (!addresses) {
        return actNow(std::move(line), EntryAction::addressError, i + 1, argc, argv);
      }
      settings.driveAddresses = std::move(*addresses);
      settings.addressList = std::strchr(argv[i], ',') != nullptr;
      settings.everyDiscovered = false;
      continue;
    }
    if (is(arg, "-a")) {
      settings.everyDiscovered = true;
      continue;
    }
    settings.retryOptions.emplace_back(arg);
    if (is(arg, "-r")) {
      if (++i >= argc) {
        return actNow(std::move(line), EntryAction::recordNameError, i, argc, argv);
      }
      settings.recordPath = argv[i];
      settings.retryOptions.emplace_back(argv[i]);
    } else if (is(arg, "-fp")) {
      if (++i >= argc) {
        return actNow(std::move(line), EntryAction::fileNameError, i, argc, argv);
      }
      settings.firmwarePath = argv[i];
      settings.retryOptions.emplace_back(argv[i]);
    } else if (is(arg, "-c")) {
      const auto count = ++i < argc ? canaryCount(argv[i]) : std::nullopt;
      if (!count) {
        return actNow(std::move(line), EntryAction::canaryCountError, i + 1, argc, argv);
      }
      settings.canaries = *count;
      settings.retryOptions.emplace_back(argv[i]);
    } else if (is(arg, "-s")) {
      settings.skipCurrent = true;
    } else if (is(arg, "-e")) {
      settings.outcomeStatus = true;
    } else if (is(arg, "-u")) {
      settings.mode = RunMode::identity;
    } else if (is(arg, "-v")) {
      settings.mode = RunMode::verify;
    } else {
      return actNow(std::move(line), EntryAction::unknownArgument, i + 1, argc, argv);
    }
  }
  line.action = EntryAction::session;
  return line;
}
