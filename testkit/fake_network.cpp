#include "testkit/fake_network.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "protocol/probe.h"

namespace fake {

UnitIdentity sampleIdentity() {
  UnitIdentity id;
  id.monitorRevision = 5;
  id.serialNumber = 123456;
  id.macAddress = {0x02, 0x00, 0x00, 0x12, 0x34, 0xab};
  return id;
}

bool Network::advance(std::span<const NetSocket> sockets, TimePoint deadline) {
  TimePoint next = deadline;
  for (const NetSocket s : sockets) {
    const Queue& q = queues_[s];
    if (!q.empty()) {
      next = std::min(next, q.begin()->first);
    }
  }
  // The user's stop, due before anything else, ends the wait there.
  if (stopAt && START + *stopAt < next) {
    now_ = std::max(now_, START + *stopAt);
    return false;
  }
  now_ = std::max(now_, next);
  return std::any_of(sockets.begin(), sockets.end(), [&](NetSocket s) {
    const Queue& q = queues_[s];
    return !q.empty() && q.begin()->first <= now_;
  });
}

// --- The sessions' side ---

void Network::inject(milliseconds at, DriveAddress from, Bytes bytes) {
  queues_[LINK_SOCKET].emplace(START + at, Datagram{from, std::move(bytes)});
}

SendResult Network::send(DriveAddress to, std::span<const std::uint8_t> datagram) {
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
  log.push_back({elapsed(), to, c->code, c->target, c->payload.size()});
  if (to == DRIVE && !script_.lostCommands.contains(n) && elapsed() >= script_.silentUntil) {
    takeCommand(n, *c);
  }
  return SendResult::sent;
}

std::optional<Received> Network::receive(std::span<std::uint8_t> area, TimePoint deadline) {
  ++waits;
  const NetSocket link = LINK_SOCKET;
  if (stopRequested() || !advance(std::span(&link, 1), deadline)) {
    return std::nullopt;
  }
  Queue& q = queues_[LINK_SOCKET];
  const Datagram d = q.begin()->second;
  q.erase(q.begin());
  const std::size_t n = std::min(area.size(), d.bytes.size());
  std::copy_n(d.bytes.begin(), n, area.begin());
  return Received{d.from, n};
}

void Network::takeCommand(std::size_t n, const Command& c) {
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
  milliseconds latency =
      c.code == CMD_PROGRAM_BLOCK && script_.blockLatency ? *script_.blockLatency : script_.latency;
  if (const auto after = script_.answerAfter.find(c.code); after != script_.answerAfter.end()) {
    const std::optional<milliseconds> delay = after->second(taken_[c.code]++);
    if (!delay) {
      return;
    }
    latency = *delay;
  }
  const TimePoint due = now_ + latency + script_.jitter(n);
  Queue& q = queues_[LINK_SOCKET];
  q.emplace(due, Datagram{DRIVE, encodeResponse(c.code, status, content)});
  if (script_.twiceAfter) {
    q.emplace(due + *script_.twiceAfter, Datagram{DRIVE, encodeResponse(c.code, status, content)});
  }
}

// --- Discovery's side ---

void Network::arrive(milliseconds at, NetSocket s, DriveAddress from, Bytes data) {
  queues_[s].emplace(START + at, Datagram{from, std::move(data)});
}

NetSocket Network::openUdp() {
  const NetSocket s = nextSocket_++;
  return openWorks(s) ? s : NET_INVALID_SOCKET;
}

bool Network::setBroadcast(NetSocket s) {
  if (!broadcastWorks(s)) {
    return false;
  }
  broadcasting.push_back(s);
  return true;
}

bool Network::bind(NetSocket s, DriveAddress addr) {
  boundTo[s] = addr;
  return bindWorks(s);
}

bool Network::sendTo(NetSocket s, std::span<const std::uint8_t> data, DriveAddress addr,
                     std::uint16_t port) {
  // Discovery sends nothing but the probe, to the loader's port, from a
  // socket allowed to broadcast.
  static constexpr std::uint8_t PROBE[] = {0x0a, 0x0e, 0x20, 0x00, 0x11, 0x00, 0x00,
                                           0x00, 0x00, 0x00, 0x23, 0x23, 0x00, 0x00,
                                           0x00, 0x00, 0x6d, 0x00, 0x00};
  EXPECT_TRUE(std::equal(data.begin(), data.end(), std::begin(PROBE), std::end(PROBE)));
  EXPECT_EQ(port, LOADER_PORT);
  EXPECT_NE(std::find(broadcasting.begin(), broadcasting.end(), s), broadcasting.end());
  probes.push_back({s, addr, elapsed()});
  if (!sendWorks(probes.back())) {
    return false;
  }
  answerProbe(s, addr);
  return true;
}

void Network::answerProbe(NetSocket s, DriveAddress to) {
  if (!script_.discoverable || !boundTo.contains(s)) {
    return;
  }
  // The adapters' subnets in the platform's form, as the system gives them.
  const std::uint32_t from = boundTo.at(s).toNet();
  for (const NetAdapter& a : adapterList) {
    const bool onItsLan = a.address == from && (DRIVE.toNet() & a.netmask) == (from & a.netmask);
    if (onItsLan && (to == BROADCAST_ADDRESS || to == DriveAddress::fromNet(from | ~a.netmask))) {
      arrive(elapsed() + script_.latency, s, DRIVE,
             Bytes(DISCOVERY_REPLY.begin(), DISCOVERY_REPLY.end()));
      return;
    }
  }
}

NetResult Network::waitAny(std::span<const NetSocket> sockets, Duration timeout,
                           std::vector<std::size_t>* ready) {
  ++waits;
  ready->clear();
  for (std::size_t i = 0; i < sockets.size(); ++i) {
    if (isBroken(sockets[i])) {
      ready->push_back(i);
    }
  }
  if (!ready->empty()) {
    return NetResult::ok;
  }
  if (stopRequested() || !advance(sockets, now_ + timeout)) {
    return NetResult::timedOut;
  }
  for (std::size_t i = 0; i < sockets.size(); ++i) {
    const Queue& q = queues_[sockets[i]];
    if (!q.empty() && q.begin()->first <= now_) {
      ready->push_back(i);
    }
  }
  return NetResult::ok;
}

NetResult Network::receiveFrom(NetSocket s, std::span<std::uint8_t> area, std::size_t* received,
                               DriveAddress* from) {
  if (isBroken(s)) {
    return NetResult::failed;
  }
  Queue& q = queues_[s];
  if (q.empty() || q.begin()->first > now_) {
    return NetResult::timedOut;
  }
  const Datagram& d = q.begin()->second;
  *received = std::min(area.size(), d.bytes.size());
  std::copy_n(d.bytes.begin(), *received, area.begin());
  *from = d.from;
  q.erase(q.begin());
  return NetResult::ok;
}

bool Network::isBroken(NetSocket s) const {
  return std::find(brokenReceives.begin(), brokenReceives.end(), s) != brokenReceives.end();
}

}  // namespace fake
