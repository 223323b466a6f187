// The collector and the probe in process, over real sockets in a network
// namespace of the test's own (without root: loopback, and no broadcast).
#include "discovery/discovery.h"

#include <fcntl.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <ctime>
#include <string>
#include <thread>

#include "link/linktest.h"
#include "link/threads.h"
#include "testkit/expected.h"
#include "testkit/process.h"

using namespace linktest;

namespace {

// Routes the limited broadcast to a veth pair without addresses: a broadcast
// sent there comes back to this host's wildcard sockets from 0.0.0.0.
void routeBroadcastToBareLink() {
  const ProcessResult r =
      runProcess({"sh", "-c",
                  "ip link add bare0 type veth peer name bare1 && ip link set bare0 up && "
                  "ip link set bare1 up && ip route replace 255.255.255.255 dev bare0"},
                 std::chrono::seconds(10));
  ASSERT_EQ(r.exitCode, 0) << r.err;
}

// One datagram to port 8995: from addr to 127.0.0.1, or from 0.0.0.0 by
// broadcast when addr is 0.
void sendFrom(std::uint32_t addr, const Bytes& data) {
  TestSocket s;
  ASSERT_TRUE(openBound(s, addr, 0));
  ASSERT_TRUE(addr != 0 || netSetBroadcast(s.s));
  ASSERT_TRUE(netSendTo(s.s, data.data(), data.size(), addr != 0 ? HOST_IP : BROADCAST_ADDRESS,
                        PORT, addr == 0));
  pauseMs(2);  // keeps the order of arrival the order of sending
}

// 0.0.0.0 is no drive's address, and a drive answering again stays listed
// once. A collector whose receives fail at once does not spin; shutdownLink
// after discovery ends it promptly and leaves its socket open, since the
// collector may still be on its way out of a receive.
TEST(DiscoveryCollectorTest, ListsEachDriveOnceNeverSpinsAndEndsOnShutdown) {
  const bool isolated = enterPrivateNetwork();
  if (isolated) {
    routeBroadcastToBareLink();
  }
  std::fill(std::begin(discoveredAddrs), std::end(discoveredAddrs), 0u);
  ASSERT_TRUE(resetLink());
  TestSocket own;
  ASSERT_TRUE(openBound(own, isolated ? 0 : HOST_IP, PORT));
  udpSocket = own.s;
  doneFlag = false;
  std::atomic<bool> ended{false};
  testing::internal::CaptureStdout();
  std::thread collector([&] {
    discoveryCollector();
    ended = true;
  });
  const Bytes reply = {0x00, 0x00, 0x00, 0x00, DISCOVERY_REPLY_MARK};
  for (const std::uint32_t from : {0u, 0x7F000007u, 0x7F000007u, 0u, 0x7F000008u, 0x7F000007u}) {
    if (from != 0 || isolated) {
      sendFrom(from, reply);
    }
  }
  pauseMs(100);  // all have arrived

  netShutdown(own.s);  // from here on every receive fails at once
  const std::clock_t cpuBefore = std::clock();
  pauseMs(400);
  EXPECT_LT(static_cast<double>(std::clock() - cpuBefore) / CLOCKS_PER_SEC, 0.1) << "it spins";
  EXPECT_FALSE(ended);
  for (int i = 1; i <= 2; ++i) {
    const auto start = std::chrono::steady_clock::now();
    shutdownLink();
    EXPECT_LT(millisecondsSince(start), 150) << "shutdown " << i;
  }
  EXPECT_TRUE(waitUntil([&] { return ended.load(); }, 200));
  doneFlag = true;  // in case shutdownLink did not set it
  collector.join();
  EXPECT_NE(fcntl(own.s, F_GETFD), -1) << "the socket was closed";
  udpSocket = 0;
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "\n\t-->  127.0.0.7 \n\t-->  127.0.0.8 ");
}

TEST(DiscoveryProbeTest, OneProbeIsBroadcastToPort8995) {
  if (!enterPrivateNetwork()) {
    GTEST_SKIP() << "not root: no namespace of the test's own, so no broadcast is sent";
  }
  routeBroadcastToBareLink();
  TestSocket listener;
  TestSocket sender;
  ASSERT_TRUE(openBound(listener, 0, PORT));
  ASSERT_TRUE(openBound(sender, 0, 0) && netSetBroadcast(sender.s));
  udpSocket = sender.s;
  testing::internal::CaptureStdout();
  EXPECT_TRUE(sendDiscoveryProbe());
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
  std::uint8_t area[1024];
  std::size_t received = 0;
  ASSERT_EQ(netReceiveFrom(listener.s, area, sizeof area, &received, nullptr, nullptr),
            NetResult::ok);
  EXPECT_EQ(hex(std::string(area, area + received)), "0a0e20001100000000002323000000006d0000");
  udpSocket = 0;
}

}  // namespace
