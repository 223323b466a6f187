// `-d` on the console, with the lines the loader has always printed.
#include <cstdio>
#include <string>
#include <vector>

#include "discovery/discovery.h"
#include "protocol/value_text.h"

namespace {

class ConsoleReport final : public DiscoveryObserver {
 public:
  void driveFound(std::uint32_t address) override {
    std::printf("\n\t-->  %s ", addressText(address).c_str());
    std::fflush(stdout);
  }

  void driveLeftOut(std::uint32_t address) override { leftOut.push_back(address); }

  void failed(DiscoveryFailure failure) override {
    switch (failure) {
      case DiscoveryFailure::socketFailed:
        std::fputs("\nERROR: server socket failed", stdout);
        break;
      case DiscoveryFailure::setsockoptFailed:
        std::fputs("\nERROR: server setsockopt failed", stdout);
        break;
      case DiscoveryFailure::sendFailed:
        std::fputs("\nERROR: server sendto failed", stdout);
        break;
    }
    std::fflush(stdout);
  }

  std::vector<std::uint32_t> leftOut;
};

}  // namespace

std::string leftOutLine(const std::vector<std::uint32_t>& leftOut) {
  std::string line = "\nERROR: " + std::to_string(leftOut.size()) + " more drive" +
                     (leftOut.size() == 1 ? "" : "s") + " answered than a run serves (" +
                     std::to_string(MAX_DISCOVERED) + "), left out:";
  for (const std::uint32_t a : leftOut) {
    line += " " + addressText(a);
  }
  return line;
}

FoundDrives runDiscovery(const InterruptWatch* interrupts) {
  std::fputs("\nRetrieving IP Address of all Drives on LAN, please wait....\n", stdout);
  std::fflush(stdout);
  if (!netStartup()) {
    return {};
  }
  SystemNetwork network(interrupts);
  ConsoleReport report;
  FoundDrives found{discoverDrives(network, report), report.leftOut};
  netCleanup();
  if (!found.leftOut.empty() && (interrupts == nullptr || !interrupts->requested())) {
    std::fputs(leftOutLine(found.leftOut).c_str(), stdout);
    std::fflush(stdout);
  }
  return found;
}
