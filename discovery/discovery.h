// LAN discovery: probe from every adapter of the PC and list every drive
// that answers.
//
// The probe and the reply are laid out in protocol/probe.h; at most the
// first MAX_PAYLOAD bytes of a reply are taken in.
//
// A run is five rounds one second apart. Each round sends the probe from
// every IPv4 adapter that is up and is not loopback, from a socket bound to
// the adapter's address, to 255.255.255.255 and to the adapter's own subnet
// broadcast address (address | ~mask), so that the probe leaves by every
// adapter whatever the routes say. The answers are heard on all the run's
// sockets in one wait, from the first round to the end of the run.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "platform/adapters.h"
#include "platform/clock.h"
#include "platform/interrupt.h"
#include "platform/net.h"
#include "protocol/address.h"
#include "protocol/probe.h"

inline constexpr int DISCOVERY_ROUNDS = 5;
inline constexpr int ROUND_INTERVAL_MS = 1000;
// At most this many drives are listed; later ones are left out, and told
// apart (at most MAX_LEFT_OUT of them).
inline constexpr std::size_t MAX_DISCOVERED = 100;
inline constexpr std::size_t MAX_LEFT_OUT = 1000;

enum class DiscoveryFailure : std::uint8_t {
  socketFailed,      // adapters were there, but no socket could be opened
  setsockoptFailed,  // sockets opened, but none could be allowed to broadcast
  sendFailed,        // no probe of a round could be sent
};

// Told what a run finds, as it finds it.
class DiscoveryObserver {
 public:
  virtual ~DiscoveryObserver() = default;
  // A drive answered for the first time in this run.
  virtual void driveFound(DriveAddress address) = 0;
  // A drive answered for the first time once MAX_DISCOVERED were listed.
  virtual void driveLeftOut(DriveAddress /*address*/) {}
  virtual void failed(DiscoveryFailure failure) = 0;
};

// The network and the clock as discovery uses them: the platform's in a
// run of the loader, a scripted one in tests. The adapters are as the
// platform lists them (its own form of their addresses, platform/adapters.h).
class DiscoveryNetwork {
 public:
  virtual ~DiscoveryNetwork() = default;
  virtual std::vector<NetAdapter> adapters() = 0;
  virtual NetSocket openUdp() = 0;
  virtual bool setBroadcast(NetSocket s) = 0;
  virtual bool bind(NetSocket s, DriveAddress addr) = 0;  // on a port of the system's choosing
  virtual bool sendTo(NetSocket s, std::span<const std::uint8_t> data, DriveAddress addr,
                      std::uint16_t port) = 0;
  // As netWaitAny; with no sockets it is a pause of timeout.
  virtual NetResult waitAny(std::span<const NetSocket> sockets, Duration timeout,
                            std::vector<std::size_t>* ready) = 0;
  virtual NetResult receiveFrom(NetSocket s, std::span<std::uint8_t> area, std::size_t* received,
                                DriveAddress* from) = 0;
  virtual void close(NetSocket s) = 0;
  // The time on the loader's one clock (a virtual one in tests).
  virtual TimePoint now() const = 0;
  // True once the user asked to stop: the run ends at once.
  virtual bool stopRequested() const { return false; }
};

// The platform's sockets, adapters and steady clock; with an interrupt
// watch, its waits also end the moment the user asks to stop.
class SystemNetwork final : public DiscoveryNetwork {
 public:
  explicit SystemNetwork(const InterruptWatch* interrupts = nullptr) : interrupts_(interrupts) {}

  std::vector<NetAdapter> adapters() override;
  NetSocket openUdp() override;
  bool setBroadcast(NetSocket s) override;
  bool bind(NetSocket s, DriveAddress addr) override;
  bool sendTo(NetSocket s, std::span<const std::uint8_t> data, DriveAddress addr,
              std::uint16_t port) override;
  NetResult waitAny(std::span<const NetSocket> sockets, Duration timeout,
                    std::vector<std::size_t>* ready) override;
  NetResult receiveFrom(NetSocket s, std::span<std::uint8_t> area, std::size_t* received,
                        DriveAddress* from) override;
  void close(NetSocket s) override;
  TimePoint now() const override;
  bool stopRequested() const override;

 private:
  UdpSocket* socketOf(NetSocket s);

  const InterruptWatch* interrupts_;
  std::vector<UdpSocket> sockets_;  // open, each closed when closed here or with the network
  std::vector<NetSocket> watched_;  // the sockets of a wait, and the wake handle
};

// Runs one discovery of DISCOVERY_ROUNDS rounds ROUND_INTERVAL_MS apart
// (about five seconds) and tells observer of each drive found and each
// failure. Adapters without a single socket that opens and may broadcast
// end the run at once with that failure; a round whose probes all fail is
// told and the run goes on. Returns the
// drives found, in the order of their first answer. Every socket it opened
// is closed when it returns. A request to stop ends it at once, with the
// drives found so far.
std::vector<DriveAddress> discoverDrives(DiscoveryNetwork& network, DiscoveryObserver& observer);

struct FoundDrives {
  std::vector<DriveAddress> drives;   // in the order of their first answer
  std::vector<DriveAddress> leftOut;  // answered once the list was full
};

// Discovery over the platform's network (-d, -a): tells observer of each
// drive found or left out and each failure as they happen. Returns the
// drives found (-a runs them all) and those left out of the full list.
// With interrupts, it stops the moment the user asks to stop.
FoundDrives runDiscovery(DiscoveryObserver& observer, const InterruptWatch* interrupts = nullptr);
