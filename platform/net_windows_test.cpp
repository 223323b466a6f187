// The Winsock backend where Winsock differs from POSIX sockets in ways the
// loader meets. Built into the Windows test program and run under Wine in a
// private network namespace, so the fixed ports below are the test's alone.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <thread>
#include <vector>

#include "platform/net.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr std::uint32_t LOOPBACK = 0x7F000001;  // 127.0.0.1
constexpr std::uint16_t PORT_A = 41001;
constexpr std::uint16_t PORT_B = 41002;
constexpr std::uint16_t PORT_NOBODY = 41003;

struct Received {
  NetResult result = NetResult::failed;
  std::size_t size = 99;
  std::uint16_t fromPort = 0;
  double seconds = 0;                    // how long the receive took
  std::array<std::uint8_t, 513> area{};  // one byte more than is offered
};

Received receive(NetSocket s) {
  Received r;
  std::uint32_t from = 0;
  const auto start = Clock::now();
  r.result = netReceiveFrom(s, r.area.data(), 512, &r.size, &from, &r.fromPort);
  r.seconds = std::chrono::duration<double>(Clock::now() - start).count();
  EXPECT_TRUE(r.result != NetResult::ok || from == LOOPBACK);
  return r;
}

struct Net : ::testing::Test {
  void SetUp() override { ASSERT_TRUE(netStartup()); }
  void TearDown() override {
    for (NetSocket s : opened) {
      netClose(s);
    }
    netCleanup();
  }
  // Bound to 127.0.0.1:port unless port is 0; waits timeoutMs (0: for ever).
  NetSocket openSocket(std::uint16_t port, int timeoutMs) {
    const NetSocket s = netOpenUdp();
    EXPECT_NE(s, NET_INVALID_SOCKET);
    opened.push_back(s);
    EXPECT_TRUE(port == 0 || (netSetReuseAddress(s) && netBind(s, LOOPBACK, port)));
    EXPECT_TRUE(timeoutMs == 0 || netSetReceiveTimeout(s, timeoutMs));
    return s;
  }
  std::vector<NetSocket> opened;
};

// Winsock reports a datagram longer than the area as WSAEMSGSIZE.
TEST_F(Net, LongDatagramsAreCutToTheAreaAndCountAsReceived) {
  const NetSocket rx = openSocket(PORT_A, 2000);
  const NetSocket tx = openSocket(PORT_B, 0);
  for (const unsigned sent : {0u, 4u, 512u, 513u, 1400u}) {
    std::vector<std::uint8_t> out(sent);
    for (std::size_t i = 0; i < sent; ++i) {
      out[i] = static_cast<std::uint8_t>(i * 7 + 1);
    }
    ASSERT_TRUE(netSendTo(tx, out.data(), sent, LOOPBACK, PORT_A, true)) << sent;
    const Received r = receive(rx);
    ASSERT_EQ(r.result, NetResult::ok) << sent;
    ASSERT_EQ(r.size, std::min<std::size_t>(sent, 512)) << sent;
    EXPECT_EQ(r.fromPort, PORT_B);
    EXPECT_TRUE(std::equal(out.begin(), out.begin() + r.size, r.area.begin())) << sent;
    EXPECT_EQ(r.area[512], 0) << "written past the area";
  }
}

// A discovery collector's socket: a receive before its first send neither
// blocks nor spins; after a send to a port nobody listens on (which Windows
// reports as WSAECONNRESET on the next receive) the receive waits out its
// time-out; the answer to a send comes back to the port that send gave it.
TEST_F(Net, ACollectorSocketFailsAtOnceUntilASendGivesItAPortAndIgnoresResets) {
  const NetSocket probe = openSocket(0, 0);
  const Received early = receive(probe);
  EXPECT_EQ(early.result, NetResult::failed);
  EXPECT_EQ(early.size, 0u);
  EXPECT_LT(early.seconds, 0.5);

  const NetSocket peer = openSocket(PORT_A, 2000);
  ASSERT_TRUE(netSetReceiveTimeout(probe, 300));
  const std::uint8_t ping[3] = {1, 2, 3};
  ASSERT_TRUE(netSendTo(probe, ping, 1, LOOPBACK, PORT_NOBODY, true));
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  const Received reset = receive(probe);
  EXPECT_EQ(reset.result, NetResult::timedOut);
  EXPECT_GE(reset.seconds, 0.29);
  EXPECT_LT(reset.seconds, 1.5);

  ASSERT_TRUE(netSendTo(probe, ping, sizeof ping, LOOPBACK, PORT_A, true));
  const Received asked = receive(peer);
  ASSERT_EQ(asked.result, NetResult::ok);
  ASSERT_TRUE(netSendTo(peer, ping, 2, LOOPBACK, asked.fromPort, true));
  EXPECT_EQ(receive(probe).size, 2u);
}

TEST_F(Net, ShutdownWakesAPendingReceiveAndFailsTheNextOnes) {
  const NetSocket rx = openSocket(PORT_A, 0);  // only the shutdown can end the wait
  std::atomic<int> result{-1};
  std::thread receiver([&] { result = static_cast<int>(receive(rx).result); });
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  EXPECT_EQ(result, -1) << "the receive must still be waiting";
  const auto shutAt = Clock::now();
  netShutdown(rx);
  receiver.join();
  EXPECT_EQ(result, static_cast<int>(NetResult::failed));
  EXPECT_LT(Clock::now() - shutAt, std::chrono::milliseconds(500));
  const Received next = receive(rx);
  EXPECT_EQ(next.result, NetResult::failed);
  EXPECT_LT(next.seconds, 0.5);
}

// Each socket holds a slot of a small table: closing frees it, and a socket
// that reuses a slot is not shut down.
TEST_F(Net, ClosedSocketsFreeTheirSlotsForFreshOnes) {
  for (int round = 0; round < 50; ++round) {
    const NetSocket s = netOpenUdp();
    ASSERT_NE(s, NET_INVALID_SOCKET) << round;
    netShutdown(s);
    netClose(s);
  }
  EXPECT_EQ(receive(openSocket(PORT_A, 100)).result, NetResult::timedOut);
}

}  // namespace
