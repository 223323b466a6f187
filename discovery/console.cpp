// `-d` on the console, with the lines the loader has always printed.
#include <cstdio>

#include "discovery/discovery.h"

namespace {

class ConsoleReport final : public DiscoveryObserver {
 public:
  void driveFound(std::uint32_t address) override {
    std::printf("\n\t-->  %u.%u.%u.%u ", address >> 24, (address >> 16) & 0xFFu,
                (address >> 8) & 0xFFu, address & 0xFFu);
    std::fflush(stdout);
  }

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
};

}  // namespace

std::vector<std::uint32_t> runDiscovery(const InterruptWatch* interrupts) {
  std::fputs("\nRetrieving IP Address of all Drives on LAN, please wait....\n", stdout);
  std::fflush(stdout);
  if (!netStartup()) {
    return {};
  }
  SystemNetwork network(interrupts);
  ConsoleReport report;
  std::vector<std::uint32_t> found = discoverDrives(network, report);
  netCleanup();
  return found;
}
