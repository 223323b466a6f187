#include "cli/entry.h"

#include <cstdio>

#include "cli/console_out.h"
#include "cli/reporter.h"
#include "cli/settings.h"
#include "cli/texts.h"
#include "discovery/discovery.h"
#include "image/image.h"
#include "link/link.h"
#include "platform/console.h"
#include "session/runner.h"
#include "tovrin_version.h"

namespace {

// Every run ends with this status, a completed programming run included;
// scripts around the loader rely on it.
constexpr int EXIT_STATUS = 1;
// The one exception: asking for the version is no run.
constexpr int VERSION_EXIT_STATUS = 0;

// The sessions of a run: the link, the image, then one session per drive.
// Each failure before the sessions ends the run at once with its line.
void runSessions(const RunSettings& settings, ConsoleOut& out) {
  ConsoleReporter reporter(out, settings.mode);
  Link link;
  const LinkError linkError = link.open(settings.driveAddresses.front());
  if (linkError != LinkError::none) {
    reporter.linkFailed(linkError);
    return;
  }
  ImageLoad load;
  if (settings.mode != MODE_IDENTITY) {
    const char* path = settings.firmwarePath ? settings.firmwarePath->c_str() : nullptr;
    load = loadFirmwareImage(path);
    if (load.error != ImageError::none) {
      reporter.imageFailed(load.error, path);
      return;
    }
    reporter.imageLoaded(load.image);
  }
  runDrives(settings.driveAddresses, settings.mode,
            settings.mode == MODE_IDENTITY ? nullptr : &load.image, reporter, link);
}

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
  switch (line.action) {
    case EntryAction::bareUsage:
    case EntryAction::usage:
      printUsage(out, line.settings.driveAddresses.front());
      break;
    case EntryAction::manual:
      printManual(out);
      break;
    case EntryAction::discovery:
      runDiscovery();
      break;
    case EntryAction::addressError:
      out.write("\nERROR : Check ip address");
      break;
    case EntryAction::fileNameError:
      out.write("\nERROR: You must specify file name");
      break;
    case EntryAction::session:
      runSessions(line.settings, out);
      break;
    case EntryAction::version:
      break;  // returned above, before the banner
  }
  out.endRun(consoleIsTerminal());
  return EXIT_STATUS;
}
