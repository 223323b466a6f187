#include "cli/entry.h"

#include <cstdio>

#include "cli/console_out.h"
#include "cli/settings.h"
#include "cli/several.h"
#include "cli/texts.h"
#include "discovery/discovery.h"
#include "platform/console.h"
#include "tovrin_version.h"

namespace {

// Every run ends with this status, a completed programming run included;
// scripts around the loader rely on it.
constexpr int EXIT_STATUS = 1;
// The one exception: asking for the version is no run.
constexpr int VERSION_EXIT_STATUS = 0;

}  // namespace

int runEntry(int argc, char** argv) {
  const CommandLine line = readCommandLine(argc, argv);
  if (line.action == EntryAction::version) {
    std::printf("tovrin %s\n", TOVRIN_VERSION);
    return VERSION_EXIT_STATUS;
  }
  consoleInit();
  ConsoleOut out(stdout);
  printBanner(out);
  int status = EXIT_STATUS;
  switch (line.action) {
    case EntryAction::bareUsage:
    case EntryAction::usage:
      printUsage(out, line.settings.driveAddresses.front());
      break;
    case EntryAction::manual:
      printManual(out);
      break;
    case EntryAction::discovery:
      // Discovery writes its own lines: its opening line ends its line, each
      // drive's line does not.
      out.wroteElsewhere(runDiscovery().empty());
      break;
    case EntryAction::addressError:
      out.write("\nERROR : Check ip address");
      break;
    case EntryAction::fileNameError:
      out.write("\nERROR: You must specify file name");
      break;
    case EntryAction::recordNameError:
      out.write("\nERROR: You must specify record file name");
      break;
    case EntryAction::session:
      status = runSessions(line.settings, out, argc, argv);
      break;
    case EntryAction::version:
      break;  // returned above, before the banner
  }
  out.endRun(consoleIsTerminal());
  return status;
}
