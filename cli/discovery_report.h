// -d and -a on the console: the opening line, a line per drive found and
// per failure as they happen, and the line naming the drives left out of a
// full list.
#pragma once

#include <string>
#include <vector>

#include "cli/run_output.h"
#include "discovery/discovery.h"
#include "platform/interrupt.h"

// Writes each drive found and each failure to out.
class DiscoveryReport final : public DiscoveryObserver {
 public:
  explicit DiscoveryReport(RunOutput& out) : out_(out) {}

  void driveFound(DriveAddress address) override;
  void failed(DiscoveryFailure failure) override;

 private:
  RunOutput& out_;
};

// The line that names the drives left out of a full list.
std::string leftOutLine(const std::vector<DriveAddress>& leftOut);

// Runs discovery with its opening line, its drives and its failures on out.
// Returns what discovery found. The line naming the drives left out
// (leftOutLine) is the caller's, written once where its run ends: after the
// list for -d, after the drives' summary for -a.
FoundDrives discoverOnConsole(RunOutput& out, const InterruptWatch& interrupts);
