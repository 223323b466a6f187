#include "cli/sessions.h"

#include <algorithm>
#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "cli/catalog_check.h"
#include "cli/discovery_report.h"
#include "cli/fixed_texts.h"
#include "cli/reporter.h"
#include "cli/retry_command.h"
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

// -u with several drives: each drive's identity as a one-drive run shows
// it, under a line naming the drive, in the order of the list; with a
// catalog, followed by the release the drive holds (firmwareText).
void writeInventory(const std::vector<DriveState>& drives, bool withReleases, RunOutput& out) {
  ConsoleReporter reporter(out, RunMode::identity);
  for (const auto& drive : drives) {
    out.write("\nDrive " + addressText(drive.address) + " :");
    if (drive.identity) {
      reporter.identityReceived(drive.address, *drive.identity);
      if (withReleases) {
        out.write("Firmware Release              " + firmwareText(drive) + "\n");
      }
    } else {
      out.write(" no unit identity read\n");
    }
  }
}

// The run's steps, in order: the record file, the drives (the list, or
// discovery for -a), the link, the image, then one drive or several. Each
// step that can stop the run says why and leaves the run's end set.
class SessionsRun {
 public:
  SessionsRun(const RunSettings& settings, RunOutput& out, int argc, char** argv,
              const InterruptWatch& interrupts)
      : settings_(settings),
        out_(out),
        program_(argc > 0 ? argv[0] : "tovrin"),
        interrupts_(interrupts),
        reporter_(out, settings.mode),
        drives_(settings.driveAddresses) {
    // A list is several drives, whatever its duplicates left of it.
    end_.several = settings.everyDiscovered || settings.addressList || drives_.size() > 1;
  }

  SessionsEnd run() {
    if (checkCatalog() && openRecords() && chooseDrives() && openLink() && loadImage()) {
      end_.outcome = end_.several ? runSeveral() : runOne();
    }
    return end_;
  }

 private:
  // With a catalog (--catalog, TOVRIN_CATALOG): it is valid, and the
  // firmware file is one of its releases, before anything is sent.
  bool checkCatalog() {
    CatalogGate gate = catalogGate(settings_, out_, reporter_);
    catalog_ = std::move(gate.catalog);
    if (catalog_ && gate.fileSha256) {
      release_ = catalog_->releaseOfFile(*gate.fileSha256);
    }
    reporter_.nameReleases(plan().releases);
    if (!gate.admitted) {
      end_.outcome = RunOutcome::refused;
    }
    return gate.admitted;
  }

  // A path that can't take records is known before any drive is touched.
  bool openRecords() {
    if (!settings_.recordPath) {
      return true;
    }
    records_.emplace(settings_.recordPath->c_str());
    if (!records_->isOpen()) {
      out_.format("\nERROR: Can't open the record file %s", settings_.recordPath->c_str());
      end_.outcome = RunOutcome::refused;
      return false;
    }
    return true;
  }

  // -a: the drives that discovery finds. Drives that answered beyond what
  // one run serves are left out; the run names them once at its end and
  // ends with status 1.
  bool chooseDrives() {
    if (!settings_.everyDiscovered) {
      return true;
    }
    FoundDrives found = discoverOnConsole(out_, interrupts_);
    drives_ = std::move(found.drives);
    leftOut_ = std::move(found.leftOut);
    if (interrupts_.requested()) {
      out_.write(DISCOVERY_INTERRUPTED);
      return false;
    }
    if (drives_.empty()) {
      out_.write("\nERROR: No drive answered on the LAN");
      return false;
    }
    // Discovery's last line stays open after the last address; what
    // follows starts a line of its own.
    out_.write("\n");
    return true;
  }

  bool openLink() {
    LinkOpening opened = Link::open(drives_);
    if (opened.error != LinkError::none) {
      reporter_.linkFailed(opened.error);
      return false;
    }
    link_ = std::move(opened.link);
    link_->watch(interrupts_);
    info_ = RunInfo{settings_.mode, settings_.firmwarePath.value_or(""), std::nullopt, 0,
                    runIdText(startTime_, processId())};
    return true;
  }

  // Every mode but -u programs or verifies the firmware file.
  bool loadImage() {
    if (settings_.mode == RunMode::identity) {
      return true;
    }
    const char* path = settings_.firmwarePath ? settings_.firmwarePath->c_str() : nullptr;
    load_ = loadFirmwareImage(path);
    if (load_.error != ImageError::none) {
      reporter_.imageFailed(load_.error, path);
      end_.outcome = RunOutcome::refused;
      return false;
    }
    // The file was read once for its SHA-256 and once here: the image sent
    // must be the release's, whatever happened to the file in between.
    if (release_ != nullptr && load_.image.digest != release_->driveDigest) {
      out_.write(notAReleaseLine(path));
      end_.outcome = RunOutcome::refused;
      return false;
    }
    reporter_.imageLoaded(load_.image);
    info_.fileDigest = load_.image.digest;
    info_.blockCount = (load_.image.size + BLOCK_SIZE - 1) / BLOCK_SIZE;
    return true;
  }

  // What every drive's session does, decided once.
  SessionPlan plan() const {
    return SessionPlan{.mode = settings_.mode,
                       .image = settings_.mode == RunMode::identity ? nullptr : &load_.image,
                       .skipCurrent = settings_.skipCurrent,
                       .releases = {.catalog = catalog_ ? &*catalog_ : nullptr,
                                    .file = release_,
                                    .allowOlder = settings_.allowOlder}};
  }
  // -n: how long the programming run would take.
  void writePlannedTime(const std::vector<DriveState>& drives) {
    if (settings_.mode != RunMode::plan || interrupts_.requested()) {
      return;
    }
    const SessionPlan planned = plan();
    const auto time = plannedRunTime(drives, settings_.canaries, planned.pacing, info_.blockCount);
    out_.write("\nThe programming run would take about " + durationText(time) + "\n");
  }

  RecordFile* recordFile() { return records_ ? &*records_ : nullptr; }

  // One drive, with the one-drive console texts; with -r the drive's record
  // is written when its session ends.
  RunOutcome runOne() {
    const std::vector<DriveState> ended = runDrives(drives_, plan(), reporter_, *link_);
    writePlannedTime(ended);
    const bool recorded = recordFile() == nullptr || recordFile()->append(info_, ended.front());
    if (!recorded) {
      out_.write("\nERROR: The run record could not be written");
    }
    return outcomeOf(ended, recorded);
  }

  // Several drives side by side, with their console, table and records.
  RunOutcome runSeveral() {
    bool recordsLost = false;
    const QuoteStyle style = windowsCommandLine() ? QuoteStyle::windows : QuoteStyle::posix;
    const FleetRun fleet{drives_,
                         info_,
                         plan(),
                         [&](const std::vector<DriveAddress>& again) {
                           return retryCommand(program_, settings_.retryOptions, again, style);
                         },
                         [&](const DriveState& drive) {
                           if (recordFile() != nullptr && !recordFile()->append(info_, drive)) {
                             recordsLost = true;
                           }
                         },
                         settings_.canaries};
    // Lines redrawn in place must all fit in the window; with more drives
    // than rows, or too few columns, the console writes a line per stage
    // change, as for a log.
    const bool terminal = enableTerminalControl();
    const std::size_t width = redrawWidth(terminal, terminal ? terminalRows() : 0,
                                          terminal ? terminalColumns() : 0, drives_.size());
    const FleetEnd ended = runFleet(
        fleet, *link_, width, [this](std::string_view text) { out_.write(text); },
        [this] { return out_.behind(); });
    if (recordsLost) {
      out_.write("ERROR: Run records could not all be written\n");
    }
    if (settings_.mode == RunMode::identity) {
      writeInventory(ended.drives, catalog_.has_value(), out_);
    }
    writePlannedTime(ended.drives);
    if (!leftOut_.empty()) {
      out_.write(leftOutLine(leftOut_));
    }
    // Records that could not all be written, or drives left out, fail the run.
    const RunOutcome outcome = outcomeOf(ended.drives, !recordsLost);
    return leftOut_.empty() ? outcome : RunOutcome::failed;
  }

  const RunSettings& settings_;
  RunOutput& out_;
  const std::string program_;
  const InterruptWatch& interrupts_;
  const std::chrono::system_clock::time_point startTime_ = std::chrono::system_clock::now();
  ConsoleReporter reporter_;
  SessionsEnd end_;
  std::optional<Catalog> catalog_;
  const Release* release_ = nullptr;  // the firmware file's, in catalog_
  std::optional<RecordFile> records_;
  std::vector<DriveAddress> drives_;
  std::vector<DriveAddress> leftOut_;
  std::unique_ptr<Link> link_;
  RunInfo info_;
  ImageLoad load_;
};

}  // namespace

SessionsEnd runSessions(const RunSettings& settings, RunOutput& out, int argc, char** argv,
                        const InterruptWatch& interrupts) {
  return SessionsRun(settings, out, argc, argv, interrupts).run();
}
