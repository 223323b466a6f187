#include "cli/discovery_report.h"

#include "protocol/value_text.h"

void DiscoveryReport::driveFound(DriveAddress address) {
  out_.write("\n\t-->  " + addressText(address) + " ");
}

void DiscoveryReport::failed(DiscoveryFailure failure) {
  switch (failure) {
    case DiscoveryFailure::socketFailed:
      out_.write("\nERROR: server socket failed");
      break;
    case DiscoveryFailure::setsockoptFailed:
      out_.write("\nERROR: server setsockopt failed");
      break;
    case DiscoveryFailure::sendFailed:
      out_.write("\nERROR: server sendto failed");
      break;
  }
}

std::string leftOutLine(const std::vector<DriveAddress>& leftOut) {
  std::string line = "\nERROR: " + std::to_string(leftOut.size()) + " more drive" +
                     (leftOut.size() == 1 ? "" : "s") + " answered than a run serves (" +
                     std::to_string(MAX_DISCOVERED) + "), left out:";
  for (const DriveAddress a : leftOut) {
    line += " " + addressText(a);
  }
  return line;
}

FoundDrives discoverOnConsole(RunOutput& out, const InterruptWatch& interrupts) {
  out.write("\nRetrieving IP Address of all Drives on LAN, please wait....\n");
  DiscoveryReport report(out);
  return runDiscovery(report, &interrupts);
}
