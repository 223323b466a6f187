#include "cli/several.h"

#include <algorithm>
#include <optional>
#include <string>
#include <vector>

#include "cli/reporter.h"
#include "discovery/discovery.h"
#include "fleet/board.h"
#include "fleet/fleet_run.h"
#include "fleet/observer_pair.h"
#include "image/image.h"
#include "link/link.h"
#include "platform/terminal.h"
#include "record/record.h"
#include "session/runner.h"

namespace {

// A one-drive run ends with this status whatever its outcome, as it always
// has; scripts around the loader rely on it.
constexpr int ONE_DRIVE_STATUS = 1;
constexpr int FAILED_STATUS = 1;
constexpr int ALL_DONE_STATUS = 0;

// One drive, its console texts as they have always been; with -r the
// drive's record is written when its session ends.
void runOneDrive(const std::vector<std::uint32_t>& drives, const RunInfo& info,
                 const FirmwareImage* image, ConsoleReporter& reporter, Link& link,
                 RecordFile* records, ConsoleOut& out) {
  if (records == nullptr) {
    runDrives(drives, info.mode, image, reporter, link);
    return;
  }
  bool recorded = true;
  DriveBoard board(drives, info.mode, [&link] { return link.now(); },
                   {{}, [&](const DriveState& drive) { recorded = records->append(info, drive); }});
  ObserverPair both(reporter, board);
  runDrives(drives, info.mode, image, both, link);
  if (!recorded) {
    out.write("\nERROR: The run record could not be written");
  }
}

}  // namespace

int runSessions(const RunSettings& settings, ConsoleOut& out, int argc, char** argv) {
  // The record file first: a path that can't take records is known before
  // any drive is touched.
  std::optional<RecordFile> records;
  if (settings.recordPath) {
    records.emplace(settings.recordPath->c_str());
    if (!records->isOpen()) {
      out.format("\nERROR: Can't open the record file %s", settings.recordPath->c_str());
      return FAILED_STATUS;
    }
  }
  std::vector<std::uint32_t> drives = settings.driveAddresses;
  const bool several = settings.everyDiscovered || drives.size() > 1;
  if (settings.everyDiscovered) {
    drives = runDiscovery();
    if (drives.empty()) {
      out.write("\nERROR: No drive answered on the LAN");
      return FAILED_STATUS;
    }
  }

  ConsoleReporter reporter(out, settings.mode);
  Link link;
  const LinkError linkError = link.open(drives);
  if (linkError != LinkError::none) {
    reporter.linkFailed(linkError);
    return FAILED_STATUS;
  }
  RunInfo info{settings.mode, settings.firmwarePath.value_or(""), std::nullopt};
  ImageLoad load;
  if (settings.mode != MODE_IDENTITY) {
    const char* path = settings.firmwarePath ? settings.firmwarePath->c_str() : nullptr;
    load = loadFirmwareImage(path);
    if (load.error != ImageError::none) {
      reporter.imageFailed(load.error, path);
      return FAILED_STATUS;
    }
    reporter.imageLoaded(load.image);
    info.fileDigest = load.image.digest;
  }
  const FirmwareImage* image = settings.mode == MODE_IDENTITY ? nullptr : &load.image;
  RecordFile* recordFile = records ? &*records : nullptr;
  if (!several) {
    runOneDrive(drives, info, image, reporter, link, recordFile, out);
    return ONE_DRIVE_STATUS;
  }
  const FleetRun run{drives,
                     info,
                     image,
                     argc > 0 ? argv[0] : "tovrin",
                     retryOptions(argc, argv),
                     windowsCommandLine() ? QuoteStyle::windows : QuoteStyle::posix,
                     recordFile};
  // Lines redrawn in place must all fit in the window; with more drives
  // than that the console writes a line per stage change, as for a log.
  const bool redraw = enableTerminalControl() &&
                      static_cast<std::size_t>(std::max(terminalRows(), 0)) > drives.size();
  const bool allDone =
      runFleet(run, link, redraw, [&out](std::string_view text) { out.write(text); });
  return allDone ? ALL_DONE_STATUS : FAILED_STATUS;
}
