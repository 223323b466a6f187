#include "cli/sessions.h"

#include <algorithm>
#include <chrono>
#include <optional>
#include <string>
#include <vector>

#include "cli/discovery_report.h"
#include "cli/fixed_texts.h"
#include "cli/reporter.h"
#include "cli/retry_command.h"
#include "fleet/board.h"
#include "fleet/fleet_run.h"
#include "fleet/summary.h"
#include "image/image.h"
#include "link/link.h"
#include "platform/process_id.h"
#include "platform/terminal.h"
#include "record/record.h"
#include "session/drive_text.h"
#include "session/runner.h"

namespace {

// The outcome of drives that ended so: done when every one did all the run
// asked; refused when nothing was sent to any, as -ip named only this PC,
// multicast or reserved addresses (the command line alone is at fault).
RunOutcome outcomeOf(const std::vector<DriveState>& drives, bool recorded) {
  if (allSucceeded(drives) && recorded) {
    return RunOutcome::done;
  }
  const bool addressesRefused =
      !drives.empty() && std::all_of(drives.begin(), drives.end(), [](const DriveState& d) {
        return d.failure && (d.failure->reason == FailureReason::ownAddress ||
                             d.failure->reason == FailureReason::notUnicast);
      });
  return addressesRefused ? RunOutcome::refused : RunOutcome::failed;
}

// One drive, with the one-drive console texts; with -r the
// drive's record is written when its session ends.
RunOutcome runOneDrive(const RunSettings& settings, const std::vector<std::uint32_t>& drives,
                       const RunInfo& info, const FirmwareImage* image, ConsoleReporter& reporter,
                       Link& link, RecordFile* records, RunOutput& out) {
  bool recorded = true;
  DriveBoard board(drives, info.mode, [&link] { return link.now(); },
                   {{}, [&](const DriveState& drive) {
                      if (records != nullptr) {
                        recorded = records->append(info, drive);
                      }
                    }});
  SessionFanOut both{&reporter, &board};
  runDrives(drives, info.mode, image, both, link, settings.skipCurrent);
  if (!recorded) {
    out.write("\nERROR: The run record could not be written");
  }
  return outcomeOf(board.drives(), recorded);
}

// -u with several drives: each drive's identity as a one-drive run shows
// it, under a line naming the drive, in the order of the list.
void writeInventory(const std::vector<DriveState>& drives, RunOutput& out) {
  ConsoleReporter reporter(out, RunMode::identity);
  for (const auto& drive : drives) {
    out.write("\nDrive " + addressText(drive.address) + " :");
    if (drive.identity) {
      reporter.identityReceived(drive.address, *drive.identity);
    } else {
      out.write(" no unit identity read\n");
    }
  }
}

}  // namespace

SessionsEnd runSessions(const RunSettings& settings, RunOutput& out, int argc, char** argv,
                        const InterruptWatch& interrupts) {
  const auto startTime = std::chrono::system_clock::now();
  SessionsEnd end;
  std::vector<std::uint32_t> drives = settings.driveAddresses;
  // A list is several drives, whatever its duplicates left of it.
  end.several = settings.everyDiscovered || settings.addressList || drives.size() > 1;
  // The record file first: a path that can't take records is known before
  // any drive is touched.
  std::optional<RecordFile> records;
  if (settings.recordPath) {
    records.emplace(settings.recordPath->c_str());
    if (!records->isOpen()) {
      out.format("\nERROR: Can't open the record file %s", settings.recordPath->c_str());
      end.outcome = RunOutcome::refused;
      return end;
    }
  }
  // -a: drives that answered beyond what one run serves; the run serves the
  // others, names these once at its end and ends with status 1.
  std::vector<std::uint32_t> leftOut;
  if (settings.everyDiscovered) {
    FoundDrives found = discoverOnConsole(out, interrupts);
    drives = std::move(found.drives);
    leftOut = std::move(found.leftOut);
    if (interrupts.requested()) {
      out.write(DISCOVERY_INTERRUPTED);
      return end;
    }
    if (drives.empty()) {
      out.write("\nERROR: No drive answered on the LAN");
      return end;
    }
    // Discovery's last line stays open after the last address; what
    // follows starts a line of its own.
    out.write("\n");
  }

  ConsoleReporter reporter(out, settings.mode);
  const LinkOpening opened = Link::open(drives);
  if (opened.error != LinkError::none) {
    reporter.linkFailed(opened.error);
    return end;
  }
  Link& link = *opened.link;
  link.watch(interrupts);
  RunInfo info{settings.mode, settings.firmwarePath.value_or(""), std::nullopt, 0,
               runIdText(startTime, processId())};
  ImageLoad load;
  if (settings.mode != RunMode::identity) {
    const char* path = settings.firmwarePath ? settings.firmwarePath->c_str() : nullptr;
    load = loadFirmwareImage(path);
    if (load.error != ImageError::none) {
      reporter.imageFailed(load.error, path);
      end.outcome = RunOutcome::refused;
      return end;
    }
    reporter.imageLoaded(load.image);
    info.fileDigest = load.image.digest;
    info.blockCount = (load.image.size + BLOCK_SIZE - 1) / BLOCK_SIZE;
  }
  const FirmwareImage* image = settings.mode == RunMode::identity ? nullptr : &load.image;
  RecordFile* recordFile = records ? &*records : nullptr;
  if (!end.several) {
    end.outcome = runOneDrive(settings, drives, info, image, reporter, link, recordFile, out);
    return end;
  }
  bool recordsLost = false;
  const std::string program = argc > 0 ? argv[0] : "tovrin";
  const QuoteStyle style = windowsCommandLine() ? QuoteStyle::windows : QuoteStyle::posix;
  const FleetRun run{drives,
                     info,
                     image,
                     [&](const std::vector<std::uint32_t>& again) {
                       return retryCommand(program, settings.retryOptions, again, style);
                     },
                     [&](const DriveState& drive) {
                       if (recordFile != nullptr && !recordFile->append(info, drive)) {
                         recordsLost = true;
                       }
                     },
                     settings.skipCurrent,
                     settings.canaries};
  // Lines redrawn in place must all fit in the window; with more drives
  // than rows, or too few columns, the console writes a line per stage
  // change, as for a log.
  const bool terminal = enableTerminalControl();
  const std::size_t width = redrawWidth(terminal, terminal ? terminalRows() : 0,
                                        terminal ? terminalColumns() : 0, drives.size());
  const FleetEnd ended = runFleet(
      run, link, width, [&out](std::string_view text) { out.write(text); },
      [&out] { return out.behind(); });
  if (recordsLost) {
    out.write("ERROR: Run records could not all be written\n");
  }
  if (settings.mode == RunMode::identity) {
    writeInventory(ended.drives, out);
  }
  if (!leftOut.empty()) {
    out.write(leftOutLine(leftOut));
  }
  // Records that could not all be written, or drives left out, fail the run.
  end.outcome = outcomeOf(ended.drives, !recordsLost);
  if (!leftOut.empty()) {
    end.outcome = RunOutcome::failed;
  }
  return end;
}
