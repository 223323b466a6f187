#include "discovery/discovery.h"

#include <atomic>
#include <cstdio>
#include <system_error>
#include <thread>

#include "link/link.h"
#include "platform/net.h"
#include "platform/pause.h"
#include "protocol/loader.h"
#include "protocol/probe.h"

std::uint32_t discoveredAddrs[MAX_DISCOVERED] = {};

namespace {

// A receive waits at most this long, so that the collector sees doneFlag
// soon after the end of the run even where shutting the socket down does not
// wake a pending receive.
constexpr int RECEIVE_WAKE_MS = 100;
// A receive fails at once, again and again, on a socket that some socket
// layers consider unusable (no local port yet, an error left by the
// network); the collector waits this long before it tries again, so it never
// spins. Datagrams wait in the socket meanwhile, so nothing is lost.
constexpr int RECEIVE_RETRY_PAUSE_MS = 5;
// How long the end of the run waits for the collector to let go of the
// socket before the socket is closed anyway.
constexpr int COLLECTOR_END_WAIT_MS = 300;

// True from the start of the collector thread until it has ended.
std::atomic<bool> collectorRunning{false};

void collectorThread() {
  discoveryCollector();
  collectorRunning = false;
}

// Ends the collector before the socket is closed: a receive still running on
// a socket that another thread closes may pick up whatever the system opens
// next under the same handle. doneFlag is set first, so the woken receive
// finds it; the wait is bounded, so the end of the run never depends on the
// collector.
void stopCollector(NetSocket s) {
  doneFlag = true;
  netShutdown(s);
  for (int waited = 0; collectorRunning && waited < COLLECTOR_END_WAIT_MS; ++waited) {
    pauseMs(1);
  }
}

// A drive is listed when its address is in the table. 0.0.0.0 counts as
// listed always: it is no drive's address, and unfilled entries hold it.
bool alreadyListed(std::uint32_t addr) {
  if (addr == 0) {
    return true;
  }
  for (const std::uint32_t listed : discoveredAddrs) {
    if (listed == addr) {
      return true;
    }
  }
  return false;
}

int octet(std::uint32_t addr, int shift) { return static_cast<int>((addr >> shift) & 0xFFu); }

}  // namespace

bool sendDiscoveryProbe() {
  if (!netSendTo(udpSocket, DISCOVERY_PROBE.data(), DISCOVERY_PROBE.size(), BROADCAST_ADDRESS,
                 LOADER_PORT, true)) {
    std::fputs("\nERROR: server sendto failed", stdout);
    return false;
  }
  return true;
}

int discoveryCollector() {
  // Entries are filled from the first on and never cleared, so the first
  // unfilled one is the next free entry.
  std::size_t next = 0;
  while (next < MAX_DISCOVERED && discoveredAddrs[next] != 0) {
    ++next;
  }
  std::uint8_t area[MAX_PAYLOAD];
  while (!doneFlag) {
    std::size_t received = 0;
    std::uint32_t from = 0;
    const NetResult result =
        netReceiveFrom(udpSocket, area, sizeof area, &received, &from, nullptr);
    if (result != NetResult::ok) {
      // Also how the end of the run arrives: doneFlag is set, then the
      // socket is shut down, which makes the pending receive fail.
      if (result == NetResult::failed && !doneFlag) {
        pauseMs(RECEIVE_RETRY_PAUSE_MS);
      }
      continue;
    }
    if (!isDiscoveryReply({area, received}) || alreadyListed(from)) {
      continue;
    }
    if (next == MAX_DISCOVERED) {
      return 0;  // a new drive, but no room: listing ends here
    }
    discoveredAddrs[next++] = from;
    std::printf("\n\t-->  %d.%d.%d.%d ", octet(from, 24), octet(from, 16), octet(from, 8),
                octet(from, 0));
  }
  return 0;
}

void runDiscovery() {
  doneFlag = false;
  std::fputs("\nRetrieving IP Address of all Drives on LAN, please wait....\n", stdout);
  if (!netStartup()) {
    return;
  }
  const NetSocket s = netOpenUdp();
  udpSocket = s;
  if (s == NET_INVALID_SOCKET) {
    std::fputs("\nERROR: server socket failed", stdout);
    return;
  }
  if (!netSetBroadcast(s)) {
    std::fputs("\nERROR: server setsockopt failed", stdout);
    return;
  }
  // Any address, a port of the system's choosing: the same local endpoint
  // the first probe would give the socket, taken now so that the collector
  // has a port to receive on from its first receive. The probes go out from
  // this port and the drives answer to it. Should this fail, the first send
  // still gives the socket its port, so the run goes on.
  netBind(s, 0, 0);
  netSetReceiveTimeout(s, RECEIVE_WAKE_MS);
  collectorRunning = true;
  try {
    // Nobody joins the collector: it ends on doneFlag, or with the process.
    std::thread(collectorThread).detach();
  } catch (const std::system_error&) {
    collectorRunning = false;
    std::fputs("\nERROR: CreateThread failed", stdout);
    shutdownLink();
    return;
  }
  pauseMs(COLLECTOR_START_PAUSE_MS);
  for (int i = 0; i < DISCOVERY_PROBES; ++i) {
    sendDiscoveryProbe();  // a failed probe is reported and the run goes on
    pauseMs(PROBE_INTERVAL_MS);
  }
  stopCollector(s);
  shutdownLink();
}
