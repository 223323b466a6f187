#include "discovery/discovery.h"

#include <algorithm>
#include <chrono>

#include "protocol/loader.h"
#include "protocol/probe.h"

namespace {

// One adapter's part of the run: its socket and where its probes go.
struct Prober {
  NetSocket socket = NET_INVALID_SOCKET;
  std::vector<DriveAddress> destinations;
};

// The sockets of a run, closed when it ends however it ends.
class Probers {
 public:
  explicit Probers(DiscoveryNetwork& network) : network_(network) {}
  ~Probers() {
    for (const Prober& p : list) {
      network_.close(p.socket);
    }
  }
  Probers(const Probers&) = delete;
  Probers& operator=(const Probers&) = delete;

  std::vector<Prober> list;

 private:
  DiscoveryNetwork& network_;
};

// The drives found so far, and who is told of new ones.
class Listing {
 public:
  explicit Listing(DiscoveryObserver& observer) : observer_(observer) {}

  // Takes in one datagram from address from.
  void take(std::span<const std::uint8_t> datagram, DriveAddress from) {
    // 0.0.0.0 is no drive's address.
    if (!isDiscoveryReply(datagram) || from.isUnspecified() ||
        std::find(drives.begin(), drives.end(), from) != drives.end()) {
      return;
    }
    if (drives.size() < MAX_DISCOVERED) {
      drives.push_back(from);
      observer_.driveFound(from);
    } else if (leftOut.size() < MAX_LEFT_OUT &&
               std::find(leftOut.begin(), leftOut.end(), from) == leftOut.end()) {
      leftOut.push_back(from);
      observer_.driveLeftOut(from);
    }
  }

  std::vector<DriveAddress> drives;
  std::vector<DriveAddress> leftOut;

 private:
  DiscoveryObserver& observer_;
};

// Where an adapter's probes go: 255.255.255.255, and its subnet broadcast
// address unless that is the same (a /0 mask) or the adapter's own address
// (a /32). The subnet broadcast comes from the platform's form of the
// adapter's address and mask.
std::vector<DriveAddress> probeDestinations(const NetAdapter& adapter) {
  std::vector<DriveAddress> destinations = {BROADCAST_ADDRESS};
  const DriveAddress subnet = DriveAddress::fromNet(adapter.address | ~adapter.netmask);
  if (subnet != BROADCAST_ADDRESS && subnet != DriveAddress::fromNet(adapter.address)) {
    destinations.push_back(subnet);
  }
  return destinations;
}

// Opens one socket per adapter. An adapter whose socket can't be opened,
// allowed to broadcast or bound to its address is left out; the others go
// on. False, with the failure to report, when adapters were there but not
// one socket could be opened, or not one allowed to broadcast.
bool openProbers(DiscoveryNetwork& network, Probers& probers, DiscoveryFailure* failure) {
  const std::vector<NetAdapter> adapters = network.adapters();
  bool anyOpened = false;
  bool anyBroadcasts = false;
  for (const NetAdapter& adapter : adapters) {
    const NetSocket s = network.openUdp();
    if (s == NET_INVALID_SOCKET) {
      continue;
    }
    anyOpened = true;
    if (!network.setBroadcast(s)) {
      network.close(s);
      continue;
    }
    anyBroadcasts = true;
    if (!network.bind(s, DriveAddress::fromNet(adapter.address))) {
      network.close(s);
      continue;
    }
    probers.list.push_back({s, probeDestinations(adapter)});
  }
  // A bind that fails (the address went away meanwhile) is no fault of the
  // sockets: such a PC has no usable adapter, and its rounds fail.
  if (!adapters.empty() && !anyOpened) {
    *failure = DiscoveryFailure::socketFailed;
    return false;
  }
  if (!adapters.empty() && !anyBroadcasts) {
    *failure = DiscoveryFailure::setsockoptFailed;
    return false;
  }
  return true;
}

// Sends one round of probes. True when at least one went out.
bool sendRound(DiscoveryNetwork& network, const Probers& probers) {
  bool sent = false;
  for (const Prober& p : probers.list) {
    for (const DriveAddress destination : p.destinations) {
      sent = network.sendTo(p.socket, DISCOVERY_PROBE, destination, LOADER_PORT) || sent;
    }
  }
  return sent;
}

// Hears answers on every socket until the clock reaches deadline. A socket
// whose receive fails rests until then (what waits on it stays queued for
// the next round), so a broken socket never makes the wait spin; a wait
// that fails becomes a pause.
void collectUntil(DiscoveryNetwork& network, const Probers& probers, Listing& listing,
                  TimePoint deadline) {
  std::vector<NetSocket> live;
  for (const Prober& p : probers.list) {
    live.push_back(p.socket);
  }
  std::vector<std::size_t> ready;
  std::uint8_t area[MAX_PAYLOAD];
  for (TimePoint now = network.now(); now < deadline && !network.stopRequested();
       now = network.now()) {
    const Duration left = deadline - now;
    const NetResult waited = network.waitAny(live, left, &ready);
    if (waited == NetResult::failed) {
      network.waitAny({}, left, &ready);
      continue;
    }
    std::vector<NetSocket> resting;
    for (const std::size_t i : ready) {
      std::size_t received = 0;
      DriveAddress from;
      const NetResult r = network.receiveFrom(live[i], area, &received, &from);
      if (r == NetResult::ok) {
        listing.take({area, std::min(received, sizeof area)}, from);
      } else if (r == NetResult::failed) {
        resting.push_back(live[i]);
      }
    }
    std::erase_if(live, [&](NetSocket s) {
      return std::find(resting.begin(), resting.end(), s) != resting.end();
    });
  }
}

}  // namespace

std::vector<DriveAddress> discoverDrives(DiscoveryNetwork& network, DiscoveryObserver& observer) {
  Probers probers(network);
  DiscoveryFailure failure = DiscoveryFailure::socketFailed;
  if (!openProbers(network, probers, &failure)) {
    observer.failed(failure);
    return {};
  }
  Listing listing(observer);
  const TimePoint start = network.now();
  constexpr std::chrono::milliseconds INTERVAL(ROUND_INTERVAL_MS);
  for (int round = 0; round < DISCOVERY_ROUNDS; ++round) {
    collectUntil(network, probers, listing, start + round * INTERVAL);
    if (network.stopRequested()) {
      return listing.drives;
    }
    if (!sendRound(network, probers)) {
      observer.failed(DiscoveryFailure::sendFailed);
    }
  }
  collectUntil(network, probers, listing, start + DISCOVERY_ROUNDS * INTERVAL);
  return listing.drives;
}
