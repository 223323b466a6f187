// For the tests of sessions and of discovery: one network and clock of the
// test's own, on which both run. It is the link the sessions send through
// (Transport) and the adapters and sockets discovery probes from
// (DiscoveryNetwork), with a drive that answers as scripted.
//
// Time moves only when someone waits: a wait jumps to the next datagram
// due, or to its deadline. A whole programming run, or the five seconds of
// a discovery, take milliseconds.
#pragma once

#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <span>
#include <vector>

#include "discovery/discovery.h"
#include "link/transport.h"
#include "platform/clock.h"
#include "platform/net.h"
#include "protocol/identity.h"
#include "protocol/loader.h"

namespace fake {

using std::chrono::milliseconds;
using Bytes = std::vector<std::uint8_t>;

inline constexpr DriveAddress DRIVE{10, 0, 0, 5};
inline constexpr DriveAddress OTHER{10, 0, 0, 6};  // a host that is no drive
inline constexpr DriveAddress OWN{10, 0, 0, 1};    // this PC

// How the drive behaves. Sends to drives are numbered from 0 in the order
// they reach the network, whoever they are for.
struct Script {
  milliseconds latency{1};                   // from a command or probe to its answer
  std::optional<milliseconds> blockLatency;  // for CMD_PROGRAM_BLOCK alone, when set
  // An extra delay of the answer to send number n.
  std::function<milliseconds(std::size_t send)> jitter = [](std::size_t) {
    return milliseconds{0};
  };
  // By command code: when the drive answers the n-th command of that code it
  // takes (from 0), after the command arrived; never when empty. Codes not
  // named answer after the latency above.
  std::map<std::uint16_t, std::function<std::optional<milliseconds>(int n)>> answerAfter;
  std::set<std::size_t> lostCommands;      // never reach the drive
  std::set<std::size_t> lostAnswers;       // the drive answers, the answer is lost
  std::optional<milliseconds> twiceAfter;  // a second answer this long after the first
  int answerFromTry = 1;                   // the first try of a command (code and target) answered
  std::map<std::uint16_t, std::uint8_t> status;  // by code; 1 when not named
  bool digest = true;                            // the identity answer carries the digest
  Digest driveDigest{};
  milliseconds silentUntil{0};  // from the run's start, commands are not taken
  // The drive answers discovery probes that reach it: those sent to a
  // broadcast address from a socket bound to an adapter of its subnet.
  bool discoverable = false;
};

// A command sent to a drive.
struct Sent {
  milliseconds at;  // from the run's start
  DriveAddress to;
  std::uint16_t code = 0;
  std::uint32_t target = 0;
  std::size_t length = 0;
};

// A discovery probe sent from one of discovery's sockets.
struct Probe {
  NetSocket socket;
  DriveAddress to;
  milliseconds at;  // from the run's start
  friend bool operator==(const Probe&, const Probe&) = default;
};

UnitIdentity sampleIdentity();

class Network final : public Transport, public DiscoveryNetwork {
 public:
  explicit Network(Script script = {}) : script_(std::move(script)) {}

  TimePoint start() const { return START; }
  milliseconds since(TimePoint t) const {
    return std::chrono::duration_cast<milliseconds>(t - START);
  }
  milliseconds elapsed() const { return since(now_); }

  // When the user asks to stop, from the run's start; never when empty.
  std::optional<milliseconds> stopAt;
  int waits = 0;  // of sessions and of discovery

  // --- The sessions' side: the link to the drive at DRIVE ---

  // A datagram from anyone to the link, due at a time of the run.
  void inject(milliseconds at, DriveAddress from, Bytes bytes);
  // Sends fail: transient ones, then (when set) every later one unreachable.
  std::set<std::size_t> failingSends;
  bool unreachable = false;
  // Sends by number that take this long: the clock moves on while they go.
  std::map<std::size_t, milliseconds> slowSends;

  std::vector<Sent> log;  // every command sent, to whom
  Bytes memory;           // what the drive holds from 0x8000 on

  SendResult send(DriveAddress to, std::span<const std::uint8_t> datagram) override;
  std::optional<Received> receive(std::span<std::uint8_t> area, TimePoint deadline) override;
  bool isOwnAddress(DriveAddress to) const override { return to == OWN; }

  // --- Discovery's side: the PC's adapters and one socket per adapter ---
  // Sockets are numbered 100, 101, ... in the order they are opened. The
  // adapters are in the platform's form, as the system lists them.

  std::vector<NetAdapter> adapterList;
  std::function<bool(NetSocket)> openWorks = [](NetSocket) { return true; };
  std::function<bool(NetSocket)> broadcastWorks = [](NetSocket) { return true; };
  std::function<bool(NetSocket)> bindWorks = [](NetSocket) { return true; };
  std::function<bool(const Probe&)> sendWorks = [](const Probe&) { return true; };
  std::vector<NetSocket> brokenReceives;  // a receive fails at once, every time

  // A datagram that arrives on socket s at a time of the run.
  void arrive(milliseconds at, NetSocket s, DriveAddress from, Bytes data);

  std::map<NetSocket, DriveAddress> boundTo;
  std::vector<NetSocket> broadcasting;
  std::vector<NetSocket> closed;
  std::vector<Probe> probes;

  std::vector<NetAdapter> adapters() override { return adapterList; }
  NetSocket openUdp() override;
  bool setBroadcast(NetSocket s) override;
  bool bind(NetSocket s, DriveAddress addr) override;
  bool sendTo(NetSocket s, std::span<const std::uint8_t> data, DriveAddress addr,
              std::uint16_t port) override;
  NetResult waitAny(std::span<const NetSocket> sockets, Duration timeout,
                    std::vector<std::size_t>* ready) override;
  NetResult receiveFrom(NetSocket s, std::span<std::uint8_t> area, std::size_t* received,
                        DriveAddress* from) override;
  void close(NetSocket s) override { closed.push_back(s); }

  // --- Both ---
  TimePoint now() const override { return now_; }
  bool stopRequested() const override { return stopAt && now_ >= START + *stopAt; }

 private:
  static constexpr TimePoint START = TimePoint{} + std::chrono::hours(1);
  // The link's own socket, beside discovery's numbered ones.
  static constexpr NetSocket LINK_SOCKET = 1;

  struct Datagram {
    DriveAddress from;
    Bytes bytes;
  };
  using Queue = std::multimap<TimePoint, Datagram>;

  void takeCommand(std::size_t n, const Command& c);
  void answerProbe(NetSocket s, DriveAddress to);
  // Moves the clock to the earliest of deadline, the next datagram due on
  // sockets and the user's stop; true when a datagram is then due.
  bool advance(std::span<const NetSocket> sockets, TimePoint deadline);
  bool isBroken(NetSocket s) const;

  Script script_;
  TimePoint now_ = START;
  std::map<NetSocket, Queue> queues_;
  std::size_t sends_ = 0;
  std::pair<std::uint16_t, std::uint32_t> lastKey_{0, 0xFFFFFFFF};
  std::map<std::uint16_t, int> taken_;  // commands the drive took, by code
  int tries_ = 0;
  NetSocket nextSocket_ = 100;
};

}  // namespace fake
