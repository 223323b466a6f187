#include "fleet/fleet_run.h"

#include <algorithm>
#include <cstddef>
#include <span>

#include "session/board.h"
#include "session/drive_text.h"
#include "session/runner.h"

namespace {

std::string opening(const FleetRun& run) {
  const std::size_t n = run.drives.size();
  const std::string count = std::to_string(n) + (n == 1 ? " drive" : " drives");
  switch (run.info.mode) {
    case RunMode::verify:
      return "\nVerifying the firmware of " + count + "\n";
    case RunMode::identity:
      return "\nReading the unit identity of " + count + "\n";
    case RunMode::plan:
      return "\nPlanning the programming of " + count + "\n";
    case RunMode::program:
      break;
  }
  return "\nProgramming " + count + "\n";
}

}  // namespace

FleetEnd runFleet(const FleetRun& run, Transport& transport, std::size_t redrawWidth,
                  const FleetDisplay::Sink& sink, const FleetDisplay::Behind& behind) {
  sink(opening(run));
  FleetDisplay console(redrawWidth, sink, behind);
  DriveBoard board(run.drives, run.plan, [&transport] { return transport.now(); },
                   {[&](const std::vector<DriveState>& drives, std::size_t drive, bool newStage) {
                      console.changed(drives, drive, newStage, transport.now());
                    },
                    [&run](const DriveState& drive) {
                      if (run.driveEnded) {
                        run.driveEnded(drive);
                      }
                    }});
  const std::span<const DriveAddress> all(run.drives);
  // A plan reads every drive at once: the canaries hold back nothing that
  // is only read.
  const std::size_t canaries =
      run.info.mode == RunMode::plan ? 0 : std::min(run.canaries, all.size());
  if (canaries == 0 || canaries == all.size()) {
    runDrives(all, run.plan, board, transport);
  } else {
    runDrives(all.first(canaries), run.plan, board, transport);
    const auto& first = board.drives();
    // Stopped by the user during the canaries, or a canary failed: no
    // datagram goes to the others, and they say why.
    if (transport.stopRequested()) {
      for (std::size_t i = canaries; i < all.size(); ++i) {
        board.notStarted(i, HeldBack::interrupted);
      }
    } else if (std::all_of(first.begin(), first.begin() + static_cast<std::ptrdiff_t>(canaries),
                           driveSucceeded)) {
      runDrives(all.subspan(canaries), run.plan, board, transport);
    } else {
      for (std::size_t i = canaries; i < all.size(); ++i) {
        board.notStarted(i, HeldBack::canaryFailed);
      }
    }
  }
  console.close(board.drives());
  const auto& drives = board.drives();
  sink("\n" + summaryTable(drives, run.plan.releases.catalog != nullptr) + countLine(drives) +
       retryLine(drives, run.retryCommand));
  return {drives};
}
