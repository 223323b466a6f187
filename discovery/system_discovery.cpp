// Discovery over the platform's network, for -d and -a.
#include <optional>
#include <utility>
#include <vector>

#include "discovery/discovery.h"

namespace {

// Passes every event on and keeps the drives left out of a full list.
class LeftOutList final : public DiscoveryObserver {
 public:
  explicit LeftOutList(DiscoveryObserver& next) : next_(next) {}

  void driveFound(DriveAddress address) override { next_.driveFound(address); }
  void driveLeftOut(DriveAddress address) override {
    leftOut.push_back(address);
    next_.driveLeftOut(address);
  }
  void failed(DiscoveryFailure failure) override { next_.failed(failure); }

  std::vector<DriveAddress> leftOut;

 private:
  DiscoveryObserver& next_;
};

}  // namespace

FoundDrives runDiscovery(DiscoveryObserver& observer, const InterruptWatch* interrupts) {
  // Held until the network, declared after it, has closed its sockets.
  const std::optional<NetLibrary> library = NetLibrary::start();
  if (!library) {
    observer.failed(DiscoveryFailure::socketFailed);
    return {};
  }
  SystemNetwork network(interrupts);
  LeftOutList list(observer);
  return {discoverDrives(network, list), std::move(list.leftOut)};
}
