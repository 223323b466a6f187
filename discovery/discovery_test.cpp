// A discovery run over a scripted network whose clock moves only when the
// run waits, so the five seconds take no time and every step is seen.
#include "discovery/discovery.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <deque>
#include <functional>
#include <map>
#include <optional>
#include <string>

#include "testkit/expected.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

constexpr std::uint32_t ip(unsigned a, unsigned b, unsigned c, unsigned d) {
  return (a << 24) | (b << 16) | (c << 8) | d;
}

const Bytes REPLY = {0x00, 0x00, 0x00, 0x00, DISCOVERY_REPLY_MARK};

struct Sent {
  NetSocket socket;
  std::uint32_t to;
  std::int64_t at;
  friend bool operator==(const Sent&, const Sent&) = default;
};

// Sockets are numbered 100, 101, ... in the order they are opened.
class FakeNetwork final : public DiscoveryNetwork {
 public:
  std::vector<NetAdapter> adapterList;
  std::function<bool(NetSocket)> openWorks = [](NetSocket) { return true; };
  std::function<bool(NetSocket)> broadcastWorks = [](NetSocket) { return true; };
  std::function<bool(NetSocket)> bindWorks = [](NetSocket) { return true; };
  std::function<bool(const Sent&)> sendWorks = [](const Sent&) { return true; };
  std::vector<NetSocket> brokenReceives;  // a receive fails at once, every time

  std::map<NetSocket, std::uint32_t> boundTo;
  std::vector<NetSocket> broadcasting;
  std::vector<NetSocket> closed;
  std::vector<Sent> sent;
  std::int64_t nowMs = 0;
  int waits = 0;
  std::optional<std::int64_t> stopAt;  // the user asks to stop then

  // A datagram that arrives on socket s at time at.
  void arrive(std::int64_t at, NetSocket s, std::uint32_t from, const Bytes& data) {
    queued[s].push_back({at, from, data});
  }

  std::vector<NetAdapter> adapters() override { return adapterList; }
  NetSocket openUdp() override {
    const NetSocket s = nextSocket++;
    return openWorks(s) ? s : NET_INVALID_SOCKET;
  }
  bool setBroadcast(NetSocket s) override {
    if (!broadcastWorks(s)) {
      return false;
    }
    broadcasting.push_back(s);
    return true;
  }
  bool bind(NetSocket s, std::uint32_t addr) override {
    boundTo[s] = addr;
    return bindWorks(s);
  }
  bool sendTo(NetSocket s, std::span<const std::uint8_t> data, std::uint32_t addr,
              std::uint16_t port) override {
    EXPECT_EQ(hex(std::string(data.begin(), data.end())), "0a0e20001100000000002323000000006d0000");
    EXPECT_EQ(port, 8995);
    EXPECT_NE(std::find(broadcasting.begin(), broadcasting.end(), s), broadcasting.end());
    sent.push_back({s, addr, nowMs});
    return sendWorks(sent.back());
  }
  NetResult waitAny(std::span<const NetSocket> sockets, Duration timeout,
                    std::vector<std::size_t>* ready) override {
    ++waits;
    ready->clear();
    std::int64_t next =
        nowMs + std::chrono::duration_cast<std::chrono::milliseconds>(timeout).count();
    for (std::size_t i = 0; i < sockets.size(); ++i) {
      if (isBroken(sockets[i])) {
        ready->push_back(i);
      } else if (!queued[sockets[i]].empty()) {
        next = std::min(next, queued[sockets[i]].front().at);
      }
    }
    if (!ready->empty()) {
      return NetResult::ok;
    }
    if (stopAt && *stopAt >= nowMs && *stopAt < next) {
      nowMs = *stopAt;  // the stop ends the wait at once
      return NetResult::timedOut;
    }
    nowMs = std::max(nowMs, next);
    for (std::size_t i = 0; i < sockets.size(); ++i) {
      if (!queued[sockets[i]].empty() && queued[sockets[i]].front().at <= nowMs) {
        ready->push_back(i);
      }
    }
    return ready->empty() ? NetResult::timedOut : NetResult::ok;
  }
  NetResult receiveFrom(NetSocket s, std::span<std::uint8_t> area, std::size_t* received,
                        std::uint32_t* from) override {
    auto& q = queued[s];
    if (isBroken(s) || q.empty() || q.front().at > nowMs) {
      return isBroken(s) ? NetResult::failed : NetResult::timedOut;
    }
    *received = std::min(area.size(), q.front().data.size());
    std::copy_n(q.front().data.begin(), *received, area.begin());
    *from = q.front().from;
    q.pop_front();
    return NetResult::ok;
  }
  void close(NetSocket s) override { closed.push_back(s); }
  // The test's milliseconds on the one clock type.
  TimePoint now() override { return TimePoint{} + std::chrono::milliseconds(nowMs); }
  bool stopRequested() override { return stopAt && nowMs >= *stopAt; }

 private:
  struct Datagram {
    std::int64_t at;
    std::uint32_t from;
    Bytes data;
  };
  bool isBroken(NetSocket s) const {
    return std::find(brokenReceives.begin(), brokenReceives.end(), s) != brokenReceives.end();
  }
  NetSocket nextSocket = 100;
  std::map<NetSocket, std::deque<Datagram>> queued;
};

// What the observer was told, as text: "+a.b.c.d" per drive, a word per
// failure.
class Record final : public DiscoveryObserver {
 public:
  std::vector<std::string> events;
  void driveFound(std::uint32_t a) override {
    events.push_back("+" + std::to_string(a >> 24) + "." + std::to_string((a >> 16) & 255) + "." +
                     std::to_string((a >> 8) & 255) + "." + std::to_string(a & 255));
  }
  void driveLeftOut(std::uint32_t a) override { leftOut.push_back(a); }
  std::vector<std::uint32_t> leftOut;
  void failed(DiscoveryFailure f) override {
    events.push_back(f == DiscoveryFailure::socketFailed       ? "socket"
                     : f == DiscoveryFailure::setsockoptFailed ? "setsockopt"
                                                               : "sendto");
  }
};

const NetAdapter OFFICE = {ip(10, 20, 30, 10), 0xFFFFFF00u};
const NetAdapter MACHINE = {ip(192, 168, 124, 10), 0xFFFF0000u};

// Every round, one second apart, sends the probe from each adapter's own
// socket to the limited broadcast and to the adapter's subnet broadcast
// (none apart for a /32 or a /0), and the run ends at five seconds with
// every socket closed.
TEST(DiscoveryTest, EveryRoundProbesFromEveryAdapterToBothBroadcasts) {
  FakeNetwork net;
  net.adapterList = {OFFICE, MACHINE, {ip(172, 16, 0, 5), 0xFFFFFFFFu}, {ip(10, 1, 1, 1), 0}};
  Record record;
  EXPECT_TRUE(discoverDrives(net, record).empty());

  EXPECT_EQ(net.boundTo, (std::map<NetSocket, std::uint32_t>{{100, OFFICE.address},
                                                             {101, MACHINE.address},
                                                             {102, ip(172, 16, 0, 5)},
                                                             {103, ip(10, 1, 1, 1)}}));
  std::vector<Sent> expected;
  for (std::int64_t at = 0; at < 5000; at += 1000) {
    expected.insert(expected.end(), {{100, BROADCAST_ADDRESS, at},
                                     {100, ip(10, 20, 30, 255), at},
                                     {101, BROADCAST_ADDRESS, at},
                                     {101, ip(192, 168, 255, 255), at},
                                     {102, BROADCAST_ADDRESS, at},
                                     {103, BROADCAST_ADDRESS, at}});
  }
  EXPECT_EQ(net.sent, expected);
  EXPECT_EQ(net.nowMs, 5000);
  EXPECT_EQ(net.closed, (std::vector<NetSocket>{100, 101, 102, 103}));
  EXPECT_EQ(record.events, std::vector<std::string>{});
}

// Drives are listed once each in the order of their first answer, whichever
// socket hears them and however often; what is no answer (too short, byte 4
// not 0x6D, from 0.0.0.0) lists nothing; a long answer is cut and listed;
// answers up to the end of the run count; a socket whose receives fail at
// once rests without making the wait spin, and the others go on.
TEST(DiscoveryTest, EachDriveIsListedOnceInTheOrderOfItsFirstAnswer) {
  FakeNetwork net;
  net.adapterList = {OFFICE, MACHINE, {ip(172, 16, 0, 5), 0xFFFF0000u}};
  net.brokenReceives = {102};
  const std::uint32_t a = ip(192, 168, 124, 120);
  const std::uint32_t b = ip(10, 20, 30, 120);
  const std::uint32_t c = ip(192, 168, 124, 121);
  net.arrive(10, 101, a, REPLY);
  net.arrive(10, 100, a, REPLY);  // the same drive heard on the other adapter
  net.arrive(20, 100, ip(10, 20, 30, 7), {0x00, 0x00, 0x00, DISCOVERY_REPLY_MARK});
  net.arrive(30, 100, ip(10, 20, 30, 8), {0x0A, 0x0E, 0x20, 0x00, 0x11});
  net.arrive(40, 101, 0, REPLY);
  net.arrive(1500, 100, b, Bytes(5000, DISCOVERY_REPLY_MARK));
  net.arrive(2010, 101, a, REPLY);
  net.arrive(4999, 101, c, REPLY);
  net.arrive(5001, 101, ip(192, 168, 124, 122), REPLY);  // the run is over
  Record record;

  EXPECT_EQ(discoverDrives(net, record), (std::vector<std::uint32_t>{a, b, c}));
  EXPECT_EQ(record.events,
            (std::vector<std::string>{"+192.168.124.120", "+10.20.30.120", "+192.168.124.121"}));
  EXPECT_EQ(net.nowMs, 5000);
  EXPECT_LT(net.waits, 40) << "the broken socket makes the wait spin";
}

// Stopped by the user, discovery ends at that moment with the drives found
// so far, sends no further probe and closes every socket.
TEST(DiscoveryTest, AStopEndsTheRunAtOnce) {
  FakeNetwork net;
  net.adapterList = {MACHINE};
  const std::uint32_t a = ip(192, 168, 124, 120);
  net.arrive(10, 100, a, REPLY);
  net.arrive(3000, 100, ip(192, 168, 124, 121), REPLY);
  net.stopAt = 2500;
  Record record;
  EXPECT_EQ(discoverDrives(net, record), std::vector<std::uint32_t>{a});
  EXPECT_EQ(net.nowMs, 2500);
  ASSERT_FALSE(net.sent.empty());
  EXPECT_EQ(net.sent.back().at, 2000);
  EXPECT_EQ(net.closed, std::vector<NetSocket>{100});
}

TEST(DiscoveryTest, AHundredDrivesAreListedAndNoMore) {
  FakeNetwork net;
  net.adapterList = {MACHINE};
  for (unsigned i = 0; i < 101; ++i) {
    net.arrive(1 + i, 100, ip(192, 168, 125, 1 + i), REPLY);
  }
  Record record;
  const std::vector<std::uint32_t> found = discoverDrives(net, record);
  ASSERT_EQ(found.size(), 100u);
  EXPECT_EQ(found.back(), ip(192, 168, 125, 100));
  EXPECT_EQ(record.events.size(), 100u);
  // The rest are told apart, each once.
  FakeNetwork more;
  more.adapterList = {MACHINE};
  for (unsigned i = 0; i < 103; ++i) {
    more.arrive(1 + i, 100, ip(192, 168, 125, 1 + i), REPLY);
    more.arrive(2000 + i, 100, ip(192, 168, 125, 1 + i), REPLY);
  }
  Record told;
  EXPECT_EQ(discoverDrives(more, told).size(), 100u);
  EXPECT_EQ(told.leftOut,
            (std::vector<std::uint32_t>{ip(192, 168, 125, 101), ip(192, 168, 125, 102),
                                        ip(192, 168, 125, 103)}));
}

// An adapter whose socket can't be set up is left out and the others go on;
// set-up failing on every adapter ends the run at once with its failure
// (a failed bind leaves the PC with no usable adapter, like having none);
// a round is reported failed only when none of its probes went out.
TEST(DiscoveryTest, FailuresAreReportedOnlyWhenNothingIsLeftToProbeWith) {
  struct Case {
    const char* name;
    std::vector<NetAdapter> adapters;
    std::function<bool(NetSocket)> open, broadcast, bind;
    std::function<bool(const Sent&)> send;
    std::vector<std::string> events;
    std::int64_t ends;
  };
  const auto yes = [](NetSocket) { return true; };
  const auto no = [](NetSocket) { return false; };
  const auto all = [](const Sent&) { return true; };
  const auto first = [](NetSocket s) { return s != 100; };
  const std::string found = "+192.168.124.120";
  const std::vector<std::string> fiveFailures(5, "sendto");
  const Case cases[] = {
      {"no adapter", {}, yes, yes, yes, all, fiveFailures, 5000},
      {"no socket", {OFFICE, MACHINE}, no, yes, yes, all, {"socket"}, 0},
      {"no broadcast", {OFFICE, MACHINE}, yes, no, yes, all, {"setsockopt"}, 0},
      {"no bind", {OFFICE, MACHINE}, yes, yes, no, all, fiveFailures, 5000},
      {"first adapter's socket", {OFFICE, MACHINE}, first, yes, yes, all, {found}, 5000},
      {"first adapter's broadcast", {OFFICE, MACHINE}, yes, first, yes, all, {found}, 5000},
      {"first adapter's bind", {OFFICE, MACHINE}, yes, yes, first, all, {found}, 5000},
      {"first adapter's sends",
       {OFFICE, MACHINE},
       yes,
       yes,
       yes,
       [](const Sent& s) { return s.socket != 100; },
       {found},
       5000},
      {"limited broadcasts",
       {OFFICE, MACHINE},
       yes,
       yes,
       yes,
       [](const Sent& s) { return s.to != BROADCAST_ADDRESS; },
       {found},
       5000},
      {"rounds two and four",
       {OFFICE, MACHINE},
       yes,
       yes,
       yes,
       [](const Sent& s) { return s.at != 1000 && s.at != 3000; },
       {found, "sendto", "sendto"},
       5000},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    FakeNetwork net;
    net.adapterList = c.adapters;
    net.openWorks = c.open;
    net.broadcastWorks = c.broadcast;
    net.bindWorks = c.bind;
    net.sendWorks = c.send;
    net.arrive(500, 101, ip(192, 168, 124, 120), REPLY);
    Record record;
    discoverDrives(net, record);
    EXPECT_EQ(record.events, c.events);
    EXPECT_EQ(net.nowMs, c.ends);
    // Every socket opened is closed.
    std::vector<NetSocket> opened;
    for (NetSocket s = 100; s < 100 + static_cast<NetSocket>(c.adapters.size()); ++s) {
      if (c.open(s)) {
        opened.push_back(s);
      }
    }
    EXPECT_EQ(net.closed.size(), opened.size());
  }
}

}  // namespace
