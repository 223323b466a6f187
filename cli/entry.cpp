#include "cli/entry.h"

#include <cstdio>
#include <cstdlib>

#include "cli/catalog_check.h"
#include "cli/discovery_report.h"
#include "cli/fixed_texts.h"
#include "cli/run_output.h"
#include "cli/sessions.h"
#include "cli/settings.h"
#include "platform/std_streams.h"
#include "tovrin_version.h"

namespace {

// Without -e every run ends with this status, a completed one-drive
// programming run included; scripts around the loader rely on it.
constexpr int EXIT_STATUS = 1;
// The one exception: asking for the version is no run.
constexpr int VERSION_EXIT_STATUS = 0;
// Several drives without -e: every drive did all the run asked, or not.
constexpr int ALL_DONE_STATUS = 0;
constexpr int NOT_ALL_DONE_STATUS = 1;
// -e: the status tells the outcome.
constexpr int DONE_STATUS = 0;
constexpr int FAILED_STATUS = 1;
constexpr int REFUSED_STATUS = 2;

int sessionsStatus(const RunSettings& settings, const SessionsEnd& end) {
  if (settings.outcomeStatus) {
    switch (end.outcome) {
      case RunOutcome::done:
        return DONE_STATUS;
      case RunOutcome::refused:
        return REFUSED_STATUS;
      case RunOutcome::failed:
        break;
    }
    return FAILED_STATUS;
  }
  if (!end.several) {
    return EXIT_STATUS;
  }
  return end.outcome == RunOutcome::done ? ALL_DONE_STATUS : NOT_ALL_DONE_STATUS;
}

// --manifest: 0 once the manifest is written; a file that can't be read is
// refused as -fp's file is.
int manifestStatus(const CommandLine& line, RunOutput& out) {
  if (writeDraftManifest(line.settings.manifestPath.value_or(""), out)) {
    return DONE_STATUS;
  }
  return line.settings.outcomeStatus ? REFUSED_STATUS : EXIT_STATUS;
}

}  // namespace

int dispatch(const CommandLine& line, RunOutput& out, const NetworkActions& network) {
  printBanner(out);
  const bool outcome = line.settings.outcomeStatus;
  int status = EXIT_STATUS;
  if (refusedCommandLine(line.action) && outcome) {
    status = REFUSED_STATUS;
  } else if (outcome) {
    status = DONE_STATUS;  // the usage text, the manual: what was asked for
  }
  switch (line.action) {
    case EntryAction::bareUsage:
    case EntryAction::usage:
      printUsage(out, line.settings.driveAddresses.front());
      break;
    case EntryAction::unknownArgument:
      printUsage(out, line.settings.driveAddresses.front());
      printNotUnderstood(out, line.refusal);
      break;
    case EntryAction::manual:
      printManual(out);
      break;
    case EntryAction::discovery:
      if (!network.discovery() && outcome) {
        status = FAILED_STATUS;
      }
      break;
    case EntryAction::refused:
      out.write(line.refusal);
      break;
    case EntryAction::session:
      status = sessionsStatus(line.settings, network.sessions());
      break;
    case EntryAction::version:
    case EntryAction::manifest:
      break;  // printed by the entry, without the banner
  }
  return status;
}

int runEntry(int argc, char** argv, const InterruptWatch& interrupts) {
  // Read before any thread starts; nothing in the process sets variables.
  const CommandLine line = withCatalogFromEnvironment(
      readCommandLine(argc, argv), std::getenv(CATALOG_VARIABLE));  // NOLINT(concurrency-mt-unsafe)
  if (line.action == EntryAction::version) {
    std::printf("tovrin %s\n", TOVRIN_VERSION);
    return VERSION_EXIT_STATUS;
  }
  initStandardOutput();
  ConsoleWriter console;
  RunOutput out(console);
  const NetworkActions network{
      .discovery =
          [&] {
            const FoundDrives found = discoverOnConsole(out, interrupts);
            if (interrupts.requested()) {
              out.write(DISCOVERY_INTERRUPTED);
              return true;
            }
            if (!found.leftOut.empty()) {
              out.write(leftOutLine(found.leftOut));
            }
            return !found.drives.empty();
          },
      .sessions = [&] { return runSessions(line.settings, out, argc, argv, interrupts); },
  };
  // A manifest is JSON alone on standard output, for a file of its own.
  const int status = line.action == EntryAction::manifest ? manifestStatus(line, out)
                                                          : dispatch(line, out, network);
  out.endRun(standardOutputIsTerminal(), [&interrupts] { return interrupts.requested(); });
  return status;
}
