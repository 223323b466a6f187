#include "session/plan.h"

#include <algorithm>

std::chrono::milliseconds Pacing::of(Pause pause) const {
  switch (pause) {
    case Pause::linkStart:
      return linkStart;
    case Pause::connect:
      return connect;
    case Pause::monitorPause:
      return monitorPause;
    case Pause::monitor:
      return monitor;
    case Pause::block:
      return block;
    case Pause::verify:
      return verify;
    case Pause::reboot:
      return reboot;
    case Pause::rebootPause:
      return rebootPause;
    case Pause::none:
      break;
  }
  return std::chrono::milliseconds{0};
}

namespace {

std::chrono::milliseconds plannedDriveTime(DriveResult result, const Pacing& p,
                                           std::size_t blockCount) {
  const auto reached = p.linkStart + p.connect + p.monitorPause + p.monitor;
  const auto reboot = p.reboot + p.rebootPause;
  switch (result) {
    case DriveResult::wouldProgram:
      return reached + static_cast<long>(blockCount) * p.block + p.verify + reboot;
    case DriveResult::current:
      return reached + p.verify + reboot;
    case DriveResult::incompatible:
    case DriveResult::newerOnDrive:
      return reached + reboot;
    default:
      return std::chrono::milliseconds{0};
  }
}

}  // namespace

std::chrono::milliseconds plannedRunTime(const std::vector<DriveState>& drives,
                                         std::size_t canaries, const Pacing& pacing,
                                         std::size_t blockCount) {
  const auto first =
      drives.begin() + static_cast<std::ptrdiff_t>(std::min(canaries, drives.size()));
  const auto longest = [&](auto from, auto to) {
    std::chrono::milliseconds most{0};
    for (auto drive = from; drive != to; ++drive) {
      most = std::max(most, plannedDriveTime(drive->result, pacing, blockCount));
    }
    return most;
  };
  if (first == drives.begin() || first == drives.end()) {
    return longest(drives.begin(), drives.end());
  }
  const bool canariesSucceed = std::all_of(drives.begin(), first, driveSucceeded);
  return longest(drives.begin(), first) +
         (canariesSucceed ? longest(first, drives.end()) : std::chrono::milliseconds{0});
}
