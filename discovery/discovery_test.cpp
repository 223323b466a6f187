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

#include "protocol/value_text.h"
#include "testkit/expected.h"
#include "testkit/fake_network.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

constexpr DriveAddress ip(unsigned a, unsigned b, unsigned c, unsigned d) {
  return {static_cast<std::uint8_t>(a), static_cast<std::uint8_t>(b), static_cast<std::uint8_t>(c),
          static_cast<std::uint8_t>(d)};
}

// An adapter as the platform lists it: its address and mask in the
// platform's form.
NetAdapter adapter(DriveAddress address, std::uint32_t netmask) {
  return {address.toNet(), netmask};
}

const Bytes REPLY = {0x00, 0x00, 0x00, 0x00, DISCOVERY_REPLY_MARK};

using fake::Probe;
using namespace std::chrono_literals;

// What the observer was told, as text: "+a.b.c.d" per drive, a word per
// failure.
class Record final : public DiscoveryObserver {
 public:
  std::vector<std::string> events;
  void driveFound(DriveAddress a) override { events.push_back("+" + addressText(a)); }
  void driveLeftOut(DriveAddress a) override { leftOut.push_back(a); }
  std::vector<DriveAddress> leftOut;
  void failed(DiscoveryFailure f) override {
    events.push_back(f == DiscoveryFailure::socketFailed       ? "socket"
                     : f == DiscoveryFailure::setsockoptFailed ? "setsockopt"
                                                               : "sendto");
  }
};

const NetAdapter OFFICE = adapter(ip(10, 20, 30, 10), 0xFFFFFF00u);
const NetAdapter MACHINE = adapter(ip(192, 168, 124, 10), 0xFFFF0000u);

// Every round, one second apart, sends the probe from each adapter's own
// socket to the limited broadcast and to the adapter's subnet broadcast
// (none apart for a /32 or a /0), and the run ends at five seconds with
// every socket closed.
TEST(DiscoveryTest, EveryRoundProbesFromEveryAdapterToBothBroadcasts) {
  fake::Network net;
  net.adapterList = {OFFICE, MACHINE, adapter(ip(172, 16, 0, 5), 0xFFFFFFFFu),
                     adapter(ip(10, 1, 1, 1), 0)};
  Record record;
  EXPECT_TRUE(discoverDrives(net, record).empty());

  EXPECT_EQ(net.boundTo, (std::map<NetSocket, DriveAddress>{{100, ip(10, 20, 30, 10)},
                                                            {101, ip(192, 168, 124, 10)},
                                                            {102, ip(172, 16, 0, 5)},
                                                            {103, ip(10, 1, 1, 1)}}));
  std::vector<Probe> expected;
  for (auto at = 0ms; at < 5000ms; at += 1000ms) {
    expected.insert(expected.end(), {{100, BROADCAST_ADDRESS, at},
                                     {100, ip(10, 20, 30, 255), at},
                                     {101, BROADCAST_ADDRESS, at},
                                     {101, ip(192, 168, 255, 255), at},
                                     {102, BROADCAST_ADDRESS, at},
                                     {103, BROADCAST_ADDRESS, at}});
  }
  EXPECT_EQ(net.probes, expected);
  EXPECT_EQ(net.elapsed(), 5000ms);
  EXPECT_EQ(net.closed, (std::vector<NetSocket>{100, 101, 102, 103}));
  EXPECT_EQ(record.events, std::vector<std::string>{});
}

// Drives are listed once each in the order of their first answer, whichever
// socket hears them and however often; what is no answer (too short, byte 4
// not 0x6D, from 0.0.0.0) lists nothing; a long answer is cut and listed;
// answers up to the end of the run count; a socket whose receives fail at
// once rests without making the wait spin, and the others go on.
TEST(DiscoveryTest, EachDriveIsListedOnceInTheOrderOfItsFirstAnswer) {
  fake::Network net;
  net.adapterList = {OFFICE, MACHINE, adapter(ip(172, 16, 0, 5), 0xFFFF0000u)};
  net.brokenReceives = {102};
  const DriveAddress a = ip(192, 168, 124, 120);
  const DriveAddress b = ip(10, 20, 30, 120);
  const DriveAddress c = ip(192, 168, 124, 121);
  net.arrive(10ms, 101, a, REPLY);
  net.arrive(10ms, 100, a, REPLY);  // the same drive heard on the other adapter
  net.arrive(20ms, 100, ip(10, 20, 30, 7), {0x00, 0x00, 0x00, DISCOVERY_REPLY_MARK});
  net.arrive(30ms, 100, ip(10, 20, 30, 8), {0x0A, 0x0E, 0x20, 0x00, 0x11});
  net.arrive(40ms, 101, ip(0, 0, 0, 0), REPLY);
  net.arrive(1500ms, 100, b, Bytes(5000, DISCOVERY_REPLY_MARK));
  net.arrive(2010ms, 101, a, REPLY);
  net.arrive(4999ms, 101, c, REPLY);
  net.arrive(5001ms, 101, ip(192, 168, 124, 122), REPLY);  // the run is over
  Record record;

  EXPECT_EQ(discoverDrives(net, record), (std::vector<DriveAddress>{a, b, c}));
  EXPECT_EQ(record.events,
            (std::vector<std::string>{"+192.168.124.120", "+10.20.30.120", "+192.168.124.121"}));
  EXPECT_EQ(net.elapsed(), 5000ms);
  EXPECT_LT(net.waits, 40) << "the broken socket makes the wait spin";
}

// Stopped by the user, discovery ends at that moment with the drives found
// so far, sends no further probe and closes every socket.
TEST(DiscoveryTest, AStopEndsTheRunAtOnce) {
  fake::Network net;
  net.adapterList = {MACHINE};
  const DriveAddress a = ip(192, 168, 124, 120);
  net.arrive(10ms, 100, a, REPLY);
  net.arrive(3000ms, 100, ip(192, 168, 124, 121), REPLY);
  net.stopAt = 2500ms;
  Record record;
  EXPECT_EQ(discoverDrives(net, record), std::vector<DriveAddress>{a});
  EXPECT_EQ(net.elapsed(), 2500ms);
  ASSERT_FALSE(net.probes.empty());
  EXPECT_EQ(net.probes.back().at, 2000ms);
  EXPECT_EQ(net.closed, std::vector<NetSocket>{100});
}

TEST(DiscoveryTest, AHundredDrivesAreListedAndNoMore) {
  fake::Network net;
  net.adapterList = {MACHINE};
  for (unsigned i = 0; i < 101; ++i) {
    net.arrive(1ms * (1 + i), 100, ip(192, 168, 125, 1 + i), REPLY);
  }
  Record record;
  const std::vector<DriveAddress> found = discoverDrives(net, record);
  ASSERT_EQ(found.size(), 100u);
  EXPECT_EQ(found.back(), ip(192, 168, 125, 100));
  EXPECT_EQ(record.events.size(), 100u);
  // The rest are told apart, each once.
  fake::Network more;
  more.adapterList = {MACHINE};
  for (unsigned i = 0; i < 103; ++i) {
    more.arrive(1ms * (1 + i), 100, ip(192, 168, 125, 1 + i), REPLY);
    more.arrive(1ms * (2000 + i), 100, ip(192, 168, 125, 1 + i), REPLY);
  }
  Record told;
  EXPECT_EQ(discoverDrives(more, told).size(), 100u);
  EXPECT_EQ(told.leftOut, (std::vector<DriveAddress>{ip(192, 168, 125, 101), ip(192, 168, 125, 102),
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
    std::function<bool(const Probe&)> send;
    std::vector<std::string> events;
    std::chrono::milliseconds ends;
  };
  const auto yes = [](NetSocket) { return true; };
  const auto no = [](NetSocket) { return false; };
  const auto all = [](const Probe&) { return true; };
  const auto first = [](NetSocket s) { return s != 100; };
  const std::string found = "+192.168.124.120";
  const std::vector<std::string> fiveFailures(5, "sendto");
  const Case cases[] = {
      {"no adapter", {}, yes, yes, yes, all, fiveFailures, 5000ms},
      {"no socket", {OFFICE, MACHINE}, no, yes, yes, all, {"socket"}, 0ms},
      {"no broadcast", {OFFICE, MACHINE}, yes, no, yes, all, {"setsockopt"}, 0ms},
      {"no bind", {OFFICE, MACHINE}, yes, yes, no, all, fiveFailures, 5000ms},
      {"first adapter's socket", {OFFICE, MACHINE}, first, yes, yes, all, {found}, 5000ms},
      {"first adapter's broadcast", {OFFICE, MACHINE}, yes, first, yes, all, {found}, 5000ms},
      {"first adapter's bind", {OFFICE, MACHINE}, yes, yes, first, all, {found}, 5000ms},
      {"first adapter's sends",
       {OFFICE, MACHINE},
       yes,
       yes,
       yes,
       [](const Probe& s) { return s.socket != 100; },
       {found},
       5000ms},
      {"limited broadcasts",
       {OFFICE, MACHINE},
       yes,
       yes,
       yes,
       [](const Probe& s) { return s.to != BROADCAST_ADDRESS; },
       {found},
       5000ms},
      {"rounds two and four",
       {OFFICE, MACHINE},
       yes,
       yes,
       yes,
       [](const Probe& s) { return s.at != 1000ms && s.at != 3000ms; },
       {found, "sendto", "sendto"},
       5000ms},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    fake::Network net;
    net.adapterList = c.adapters;
    net.openWorks = c.open;
    net.broadcastWorks = c.broadcast;
    net.bindWorks = c.bind;
    net.sendWorks = c.send;
    net.arrive(500ms, 101, ip(192, 168, 124, 120), REPLY);
    Record record;
    discoverDrives(net, record);
    EXPECT_EQ(record.events, c.events);
    EXPECT_EQ(net.elapsed(), c.ends);
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
