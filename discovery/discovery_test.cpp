// The collector and the probe, in process, over real sockets in a private
// network: answers are sent from many loopback addresses (and, where the
// test has its own namespace, from 0.0.0.0) to a collector thread.
#include "discovery/discovery.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <ctime>
#include <string>
#include <thread>
#include <vector>

#include "link/datagram.h"
#include "link/link.h"
#include "platform/net.h"
#include "platform/pause.h"
#include "testkit/netlab.h"
#include "testkit/process.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

constexpr std::uint32_t LOOPBACK = 0x7F000001u;  // 127.0.0.1

std::uint32_t loopbackAddress(int third, int fourth) {
  return 0x7F000000u | (static_cast<std::uint32_t>(third) << 8) |
         static_cast<std::uint32_t>(fourth);
}

std::string line(std::uint32_t addr) {
  return "\n\t-->  " + std::to_string(addr >> 24) + "." + std::to_string((addr >> 16) & 0xFF) +
         "." + std::to_string((addr >> 8) & 0xFF) + "." + std::to_string(addr & 0xFF) + " ";
}

Bytes reply(std::size_t size) {
  Bytes b(size, 0x00);
  if (size > DISCOVERY_MARK_OFFSET) {
    b[DISCOVERY_MARK_OFFSET] = DISCOVERY_REPLY_MARK;
  }
  return b;
}

// One datagram from addr (any port) to the collector on 127.0.0.1:8995.
void sendFrom(std::uint32_t addr, const Bytes& data) {
  const NetSocket s = netOpenUdp();
  ASSERT_NE(s, NET_INVALID_SOCKET);
  ASSERT_TRUE(netBind(s, addr, 0));
  ASSERT_TRUE(netSendTo(s, data.data(), data.size(), LOOPBACK, LOADER_PORT, false));
  netClose(s);
  pauseMs(2);  // keep the arrival order the sending order
}

// A link without addresses (a veth pair, both ends in this namespace) that
// the limited broadcast is routed to. A broadcast sent there comes back to
// this host's own wildcard sockets, from 0.0.0.0 when the link has no
// address.
void routeBroadcastToBareLink() {
  runProcess({"ip", "link", "add", "bare0", "type", "veth", "peer", "name", "bare1"},
             std::chrono::seconds(10));
  runProcess({"ip", "link", "set", "bare0", "up"}, std::chrono::seconds(10));
  runProcess({"ip", "link", "set", "bare1", "up"}, std::chrono::seconds(10));
  runProcess({"ip", "route", "replace", "255.255.255.255", "dev", "bare0"},
             std::chrono::seconds(10));
}

void sendFromNowhere(const Bytes& data) {
  const NetSocket s = netOpenUdp();
  ASSERT_NE(s, NET_INVALID_SOCKET);
  ASSERT_TRUE(netSetBroadcast(s));
  ASSERT_TRUE(netSendTo(s, data.data(), data.size(), BROADCAST_ADDRESS, LOADER_PORT, true));
  netClose(s);
  pauseMs(2);
}

// A collector thread on its own socket, bound to port 8995 of every local
// address when the test has a namespace of its own (so broadcasts reach
// it), of 127.0.0.1 otherwise.
struct Collector {
  std::thread thread;
  std::atomic<bool> ended{false};
  NetSocket sock = 0;

  void start(bool isolated) {
    std::fill(std::begin(discoveredAddrs), std::end(discoveredAddrs), 0u);
    sock = netOpenUdp();
    ASSERT_NE(sock, NET_INVALID_SOCKET);
    ASSERT_TRUE(netSetReuseAddress(sock));
    ASSERT_TRUE(netBind(sock, isolated ? 0 : LOOPBACK, LOADER_PORT));
    udpSocket = sock;
    doneFlag = false;
    testing::internal::CaptureStdout();
    thread = std::thread([this] {
      discoveryCollector();
      ended = true;
    });
  }

  bool endsWithin(std::chrono::milliseconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!ended && std::chrono::steady_clock::now() < deadline) {
      pauseMs(5);
    }
    return ended;
  }

  // Ends the collector (however it stands) and returns what it printed.
  std::string stop() {
    pauseMs(100);  // let datagrams on their way arrive
    doneFlag = true;
    netShutdown(sock);
    thread.join();
    netClose(sock);
    udpSocket = 0;
    return testing::internal::GetCapturedStdout();
  }
};

std::vector<std::uint32_t> listed() {
  std::vector<std::uint32_t> out;
  for (const std::uint32_t a : discoveredAddrs) {
    if (a != 0) {
      out.push_back(a);
    }
  }
  return out;
}

TEST(DiscoveryCollectorTest, ListsEachAnsweringDriveOnceInOrderOfFirstAnswer) {
  const bool isolated = enterPrivateNetwork();
  if (isolated) {
    routeBroadcastToBareLink();
  }
  const std::uint32_t a = loopbackAddress(0, 7);
  const std::uint32_t b = loopbackAddress(0, 8);
  const std::uint32_t c = loopbackAddress(0, 6);
  const std::uint32_t d = loopbackAddress(0, 9);
  Bytes probe(DISCOVERY_PROBE, DISCOVERY_PROBE + DISCOVERY_PROBE_SIZE);
  Bytes longReply = reply(600);
  longReply[599] = DISCOVERY_REPLY_MARK;

  Collector collector;
  collector.start(isolated);
  if (isolated) {
    sendFromNowhere(reply(5));  // 0.0.0.0 is no drive
  }
  sendFrom(c, probe);      // the probe itself (byte 4 is 0x11) is no answer
  sendFrom(c, Bytes{});    // nor is an empty datagram
  sendFrom(a, reply(5));   // the shortest answer
  sendFrom(a, reply(5));   // a drive answering again stays listed once
  sendFrom(b, longReply);  // cut to 512 bytes, still an answer
  sendFrom(c, reply(4));   // 4 bytes: no byte 4, whatever the area held before
  sendFrom(c, Bytes{0x00, 0x00, 0x00, 0x00, 0x6C, 0x6D});  // the mark at the wrong place
  sendFrom(d, reply(5));
  sendFrom(a, reply(5));
  sendFrom(c, reply(19));  // c's first real answer
  sendFrom(b, reply(5));
  if (isolated) {
    sendFromNowhere(reply(5));
  }
  const std::string out = collector.stop();

  EXPECT_EQ(out, line(a) + line(b) + line(d) + line(c));
  EXPECT_EQ(listed(), (std::vector<std::uint32_t>{a, b, d, c}));
  EXPECT_EQ(line(0x0A010203u), "\n\t-->  10.1.2.3 ");
}

TEST(DiscoveryCollectorTest, AFullTableEndsTheCollectorAtTheNextNewDrive) {
  const bool isolated = enterPrivateNetwork();
  if (isolated) {
    routeBroadcastToBareLink();
  }
  Collector collector;
  collector.start(isolated);
  std::string expected;
  std::vector<std::uint32_t> drives;
  for (int i = 1; i <= 100; ++i) {
    drives.push_back(loopbackAddress(1, i));
    sendFrom(drives.back(), reply(5));
    expected += line(drives.back());
  }
  // Answers from drives already listed, and from 0.0.0.0, leave a full
  // table as it is and the collector running.
  sendFrom(drives.front(), reply(5));
  sendFrom(drives.back(), reply(5));
  if (isolated) {
    sendFromNowhere(reply(5));
  }
  sendFrom(loopbackAddress(2, 1), reply(4));  // not an answer either
  EXPECT_FALSE(collector.endsWithin(std::chrono::milliseconds(200)));

  sendFrom(loopbackAddress(2, 2), reply(5));  // the 101st drive
  EXPECT_TRUE(collector.endsWithin(std::chrono::seconds(2)));
  sendFrom(loopbackAddress(2, 3), reply(5));
  const std::string out = collector.stop();

  EXPECT_EQ(out, expected);
  EXPECT_EQ(listed(), drives);
}

// A socket whose receives fail at once (here: already shut down) must not
// make the collector loop hot; it keeps trying, gently, until told to end.
TEST(DiscoveryCollectorTest, FailingReceivesDoNotSpinAndDoneFlagEndsTheCollector) {
  const bool isolated = enterPrivateNetwork();
  Collector collector;
  collector.start(isolated);
  netShutdown(collector.sock);
  const std::clock_t cpuBefore = std::clock();
  pauseMs(400);
  const double cpuSeconds = static_cast<double>(std::clock() - cpuBefore) / CLOCKS_PER_SEC;
  EXPECT_FALSE(collector.ended);
  EXPECT_LT(cpuSeconds, 0.1) << "the collector spins on a failing receive";

  doneFlag = true;
  EXPECT_TRUE(collector.endsWithin(std::chrono::milliseconds(200)));
  EXPECT_EQ(collector.stop(), "");
}

TEST(DiscoveryProbeTest, OneProbeIsBroadcastToTheLoaderPort) {
  if (!enterPrivateNetwork()) {
    GTEST_SKIP() << "not root: no private network namespace, no broadcast is sent";
  }
  routeBroadcastToBareLink();
  const NetSocket listener = netOpenUdp();
  ASSERT_TRUE(netSetReuseAddress(listener));
  ASSERT_TRUE(netBind(listener, 0, LOADER_PORT));
  ASSERT_TRUE(netSetReceiveTimeout(listener, 2000));
  udpSocket = netOpenUdp();
  ASSERT_TRUE(netSetBroadcast(udpSocket));

  testing::internal::CaptureStdout();
  EXPECT_TRUE(sendDiscoveryProbe());
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "");

  std::uint8_t area[1024];
  std::size_t received = 0;
  ASSERT_EQ(netReceiveFrom(listener, area, sizeof area, &received, nullptr, nullptr),
            NetResult::ok);
  const Bytes expected = {0x0A, 0x0E, 0x20, 0x00, 0x11, 0x00, 0x00, 0x00, 0x00, 0x00,
                          0x23, 0x23, 0x00, 0x00, 0x00, 0x00, 0x6D, 0x00, 0x00};
  EXPECT_EQ(Bytes(area, area + received), expected);
  netClose(udpSocket);
  netClose(listener);
  udpSocket = 0;
}

TEST(DiscoveryProbeTest, AProbeWithoutARouteReportsItsFailure) {
  if (!enterPrivateNetwork()) {
    GTEST_SKIP() << "not root: no private network namespace, no broadcast is sent";
  }
  // Only loopback is left: the limited broadcast has nowhere to go.
  runProcess({"ip", "route", "del", "255.255.255.255"}, std::chrono::seconds(10));
  udpSocket = netOpenUdp();
  ASSERT_TRUE(netSetBroadcast(udpSocket));
  testing::internal::CaptureStdout();
  EXPECT_FALSE(sendDiscoveryProbe());
  EXPECT_FALSE(sendDiscoveryProbe());
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            "\nERROR: server sendto failed\nERROR: server sendto failed");
  netClose(udpSocket);
  udpSocket = 0;
}

}  // namespace
