#include "cli/entry.h"

#include <cstdio>
#include <cstring>

#include "cli/address.h"
#include "cli/texts.h"
#include "discovery/discovery.h"
#include "link/link.h"
#include "platform/console.h"
#include "session/session.h"
#include "tovrin_version.h"

namespace {

// Every run ends with this status, a completed programming run included;
// scripts around the loader rely on it.
constexpr int EXIT_STATUS = 1;
// The one exception: asking for the version is no run.
constexpr int VERSION_EXIT_STATUS = 0;

bool is(const char* arg, const char* option) { return std::strcmp(arg, option) == 0; }

}  // namespace

EntryAction readCommandLine(int argc, char** argv) {
  if (argc < 2) {
    return EntryAction::bareUsage;
  }
  for (int i = 1; i < argc; ++i) {
    const char* arg = argv[i];
    if (is(arg, "-h")) {
      return EntryAction::usage;
    }
    if (is(arg, "--version")) {
      return EntryAction::version;
    }
    if (is(arg, "-m")) {
      return EntryAction::manual;
    }
    if (is(arg, "-d")) {
      return EntryAction::discovery;
    }
    if (is(arg, "-ip")) {
      if (++i >= argc) {
        return EntryAction::addressError;
      }
      const std::uint32_t address = parseInetAddress(argv[i]);
      if (address == ADDRESS_NONE) {
        return EntryAction::addressError;
      }
      driveIp = address;
    } else if (is(arg, "-fp")) {
      if (++i >= argc) {
        return EntryAction::fileNameError;
      }
      firmwarePath = argv[i];
    } else if (is(arg, "-u")) {
      runMode = MODE_IDENTITY;
      doneFlag = false;
    } else if (is(arg, "-v")) {
      runMode = MODE_VERIFY;
      doneFlag = false;
    } else {
      return EntryAction::usage;
    }
  }
  return EntryAction::session;
}

void runEntry(int argc, char** argv) {
  const EntryAction action = readCommandLine(argc, argv);
  if (action == EntryAction::version) {
    std::printf("tovrin %s\n", TOVRIN_VERSION);
    endProcess(VERSION_EXIT_STATUS);
  }
  consoleInit();
  printBanner();
  switch (action) {
    case EntryAction::bareUsage:
      printUsage();
      shutdownLink();
      break;
    case EntryAction::usage:
      printUsage();
      break;
    case EntryAction::manual:
      printManual();
      break;
    case EntryAction::discovery:
      runDiscovery();
      shutdownLink();
      break;
    case EntryAction::addressError:
      std::fputs("\nERROR : Check ip address", stdout);
      break;
    case EntryAction::fileNameError:
      std::fputs("\nERROR: You must specify file name", stdout);
      break;
    case EntryAction::session:
      runSession();
      shutdownLink();
      break;
    case EntryAction::version:
      break;  // ended above, before the banner
  }
  endProcess(EXIT_STATUS);
}
