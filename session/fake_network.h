// For the session's tests: a network and clock of the test's own, with drives
// that answer as scripted. Time moves only when the runner waits: a receive
// jumps to the next answer due, or to the deadline. A whole programming run
// takes milliseconds.
#pragma once

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <vector>

#include "link/transport.h"
#include "protocol/identity.h"
#include "protocol/loader.h"

namespace fake {

using std::chrono::milliseconds;
using Bytes = std::vector<std::uint8_t>;

inline constexpr std::uint32_t DRIVE = 0x0A000005;  // 10.0.0.5
inline constexpr std::uint32_t OTHER = 0x0A000006;  // a host that is no drive
inline constexpr std::uint32_t OWN = 0x0A000001;    // this PC

// How a drive behaves. Sends are numbered from 0 in the order they reach
// the network, whoever they are for.
struct Script {
  milliseconds latency{1};                   // from a command to its answer
  std::optional<milliseconds> blockLatency;  // for CMD_PROGRAM_BLOCK alone, when set
  // An extra delay of the answer to send number n.
  std::function<milliseconds(std::size_t send)> jitter = [](std::size_t) {
    return milliseconds{0};
  };
  std::set<std::size_t> lostCommands;      // never reach the drive
  std::set<std::size_t> lostAnswers;       // the drive answers, the answer is lost
  std::optional<milliseconds> twiceAfter;  // a second answer this long after the first
  int answerFromTry = 1;                   // the first try of a command (code and target) answered
  std::map<std::uint16_t, std::uint8_t> status;  // by code; 1 when not named
  bool digest = true;                            // the identity answer carries the digest
  Digest driveDigest{};
  milliseconds silentUntil{0};  // from the run's start, commands are not taken
};

struct Sent {
  milliseconds at;  // from the run's start
  std::uint32_t to = 0;
  std::uint16_t code = 0;
  std::uint32_t target = 0;
  std::size_t length = 0;
};

inline UnitIdentity sampleIdentity() {
  UnitIdentity id;
  id.monitorRevision = 5;
  id.serialNumber = 123456;
  id.macAddress = {0x02, 0x00, 0x00, 0x12, 0x34, 0xab};
  return id;
}

class Network final : public Transport {
 public:
  explicit Network(Script script = {}) : script_(std::move(script)) {}

  TimePoint start() const { return START; }
  milliseconds since(TimePoint t) const {
    return std::chrono::duration_cast<milliseconds>(t - START);
  }

  // What a test injects: a datagram from anyone, due at a time of the run.
  void inject(milliseconds at, std::uint32_t from, Bytes bytes) {
    pending_.emplace(START + at, Datagram{from, std::move(bytes)});
  }
  // Sends fail: transient ones, then (when set) every later one unreachable.
  std::set<std::size_t> failingSends;
  bool unreachable = false;
  // Sends by number that take this long: the clock moves on while they go.
  std::map<std::size_t, milliseconds> slowSends;

  SendResult send(std::uint32_t to, std::span<const std::uint8_t> datagram) override {
    const std::size_t n = sends_++;
    if (slowSends.contains(n)) {
      now_ += slowSends.at(n);
    }
    if (unreachable) {
      return SendResult::unreachable;
    }
    if (failingSends.contains(n)) {
      return SendResult::failed;
    }
    const std::optional<Command> c = decodeCommand(datagram);
    log.push_back({since(now_), to, c->code, c->target, c->payload.size()});
    if (to == DRIVE && !script_.lostCommands.contains(n) && since(now_) >= script_.silentUntil) {
      takeCommand(n, *c);
    }
    return SendResult::sent;
  }

  std::optional<Received> receive(std::span<std::uint8_t> area, TimePoint deadline) override {
    ++waits;
    // The user's stop, due at a time of the run, ends the wait it falls in.
    const bool stopFirst = stopAt && START + *stopAt <= deadline &&
                           (pending_.empty() || pending_.begin()->first > START + *stopAt);
    if (stopped_ || stopFirst) {
      now_ = std::max(now_, START + stopAt.value_or(milliseconds{0}));
      stopped_ = true;
      return std::nullopt;
    }
    if (pending_.empty() || pending_.begin()->first > deadline) {
      now_ = std::max(now_, deadline);
      return std::nullopt;
    }
    const auto first = pending_.begin();
    now_ = std::max(now_, first->first);
    const Datagram d = first->second;
    pending_.erase(first);
    const std::size_t n = std::min(area.size(), d.bytes.size());
    std::copy_n(d.bytes.begin(), n, area.begin());
    return Received{d.from, n};
  }

  TimePoint now() const override { return now_; }
  bool isOwnAddress(std::uint32_t to) const override { return to == 0 || to == OWN; }
  bool stopRequested() const override { return stopped_; }

  // When the user asks to stop, from the run's start; never when empty.
  std::optional<milliseconds> stopAt;

  std::vector<Sent> log;
  Bytes memory;  // what the drive holds from 0x8000 on
  int waits = 0;

 private:
  static constexpr TimePoint START = TimePoint{} + std::chrono::hours(1);
  struct Datagram {
    std::uint32_t from;
    Bytes bytes;
  };

  void takeCommand(std::size_t n, const Command& c) {
    const auto key = std::make_pair(c.code, c.target);
    tries_ = key == lastKey_ ? tries_ + 1 : 1;
    lastKey_ = key;
    if (tries_ < script_.answerFromTry) {
      return;
    }
    const std::uint8_t status = script_.status.contains(c.code) ? script_.status.at(c.code) : 1;
    if (c.code == CMD_PROGRAM_BLOCK && status == STATUS_SUCCESS) {
      const std::size_t at = c.target - IMAGE_LOAD_ADDRESS;
      memory.resize(std::max(memory.size(), at + c.payload.size()));
      std::copy(c.payload.begin(), c.payload.end(), memory.begin() + static_cast<long>(at));
    }
    Bytes content;
    if (c.code == CMD_ENTER_MONITOR) {
      const IdentityBytes id = encodeIdentity(sampleIdentity());
      content.assign(id.begin(), id.end());
      if (script_.digest) {
        content.insert(content.end(), script_.driveDigest.begin(), script_.driveDigest.end());
      }
    }
    if (script_.lostAnswers.contains(n)) {
      return;
    }
    const milliseconds latency = c.code == CMD_PROGRAM_BLOCK && script_.blockLatency
                                     ? *script_.blockLatency
                                     : script_.latency;
    const TimePoint due = now_ + latency + script_.jitter(n);
    pending_.emplace(due, Datagram{DRIVE, encodeResponse(c.code, status, content)});
    if (script_.twiceAfter) {
      pending_.emplace(due + *script_.twiceAfter,
                       Datagram{DRIVE, encodeResponse(c.code, status, content)});
    }
  }

  Script script_;
  TimePoint now_ = START;
  std::multimap<TimePoint, Datagram> pending_;
  std::size_t sends_ = 0;
  bool stopped_ = false;
  std::pair<std::uint16_t, std::uint32_t> lastKey_{0, 0xFFFFFFFF};
  int tries_ = 0;
};

}  // namespace fake
