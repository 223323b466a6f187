#include "cli/settings.h"

#include <cstring>
#include <utility>

#include "cli/address_list.h"

namespace {

bool is(const char* arg, const char* option) { return std::strcmp(arg, option) == 0; }

}  // namespace

CommandLine readCommandLine(int argc, char** argv) {
  CommandLine line;
  RunSettings& settings = line.settings;
  if (argc < 2) {
    line.action = EntryAction::bareUsage;
    return line;
  }
  for (int i = 1; i < argc; ++i) {
    const char* arg = argv[i];
    if (is(arg, "-h") || is(arg, "--help")) {
      line.action = EntryAction::usage;
      return line;
    }
    if (is(arg, "--version")) {
      line.action = EntryAction::version;
      return line;
    }
    if (is(arg, "-m")) {
      line.action = EntryAction::manual;
      return line;
    }
    if (is(arg, "-d")) {
      line.action = EntryAction::discovery;
      return line;
    }
    if (is(arg, "-ip")) {
      auto addresses = ++i < argc ? parseAddressList(argv[i]) : std::nullopt;
      if (!addresses) {
        line.action = EntryAction::addressError;
        return line;
      }
      settings.driveAddresses = std::move(*addresses);
      settings.everyDiscovered = false;
    } else if (is(arg, "-a")) {
      settings.everyDiscovered = true;
    } else if (is(arg, "-r")) {
      if (++i >= argc) {
        line.action = EntryAction::recordNameError;
        return line;
      }
      settings.recordPath = argv[i];
    } else if (is(arg, "-fp")) {
      if (++i >= argc) {
        line.action = EntryAction::fileNameError;
        return line;
      }
      settings.firmwarePath = argv[i];
    } else if (is(arg, "-u")) {
      settings.mode = MODE_IDENTITY;
    } else if (is(arg, "-v")) {
      settings.mode = MODE_VERIFY;
    } else {
      line.action = EntryAction::usage;
      return line;
    }
  }
  line.action = EntryAction::session;
  return line;
}
