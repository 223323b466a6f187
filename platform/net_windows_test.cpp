// The Winsock backend where Winsock differs from POSIX sockets in ways the
// loader meets. Built into the Windows test program and run under Wine in a
// private network namespace, so the fixed ports below are the test's alone.
#include <gtest/gtest.h>

#include <array>
#include <chrono>
#include <cstdint>
#include <thread>
#include <vector>

#include "platform/net.h"

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

constexpr std::uint32_t LOOPBACK = 0x7F000001;  // 127.0.0.1
constexpr std::uint16_t PORT_A = 41001;
constexpr std::uint16_t PORT_B = 41002;

struct Received {
  NetResult result = NetResult::failed;
  std::size_t size = 99;
  double seconds = 0;                    // how long the receive took
  std::array<std::uint8_t, 513> area{};  // one byte more than is offered
};

Received receive(NetSocket s) {
  Received r;
  const auto start = Clock::now();
  r.result = netReceiveFrom(s, r.area.data(), 512, &r.size, nullptr, nullptr);
  r.seconds = std::chrono::duration<double>(Clock::now() - start).count();
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
TEST_F(Net, ALongDatagramIsCutToTheAreaAndCountsAsReceived) {
  const NetSocket rx = openSocket(PORT_A, 2000);
  const std::vector<std::uint8_t> sent(1400, 0x5A);
  ASSERT_TRUE(netSendTo(openSocket(PORT_B, 0), sent.data(), sent.size(), LOOPBACK, PORT_A, true));
  const Received r = receive(rx);
  EXPECT_EQ(r.result, NetResult::ok);
  EXPECT_EQ(r.size, 512u);
  EXPECT_EQ(r.area[511], 0x5A);
  EXPECT_EQ(r.area[512], 0) << "written past the area";
}

// A socket that has no port yet: a receive before its first send neither
// blocks nor spins; after a send to a port nobody listens on (which Windows
// reports as WSAECONNRESET on the next receive) the receive waits out its
// time-out.
TEST_F(Net, ASocketWithoutAPortFailsAtOnceUntilItSendsAndIgnoresResets) {
  const NetSocket probe = openSocket(0, 0);
  const Received early = receive(probe);
  EXPECT_EQ(early.result, NetResult::failed);
  EXPECT_LT(early.seconds, 0.5);

  ASSERT_TRUE(netSetReceiveTimeout(probe, 300));
  const std::uint8_t ping = 1;
  ASSERT_TRUE(netSendTo(probe, &ping, 1, LOOPBACK, PORT_B, true));
  std::this_thread::sleep_for(100ms);
  const Received reset = receive(probe);
  EXPECT_EQ(reset.result, NetResult::timedOut);
  EXPECT_GE(reset.seconds, 0.29);
}

// A port bound for one socket alone can't be bound again, with address
// reuse or without: a second loader on the PC is refused.
TEST_F(Net, AnExclusiveBindKeepsThePortToItself) {
  const NetSocket first = netOpenUdp();
  opened.push_back(first);
  ASSERT_TRUE(netSetExclusiveAddress(first) && netBind(first, LOOPBACK, PORT_A));
  for (const bool reuse : {false, true}) {
    const NetSocket second = netOpenUdp();
    opened.push_back(second);
    EXPECT_TRUE(!reuse || netSetReuseAddress(second));
    EXPECT_FALSE(netBind(second, LOOPBACK, PORT_A)) << reuse;
  }
}

// The loader's wait: at once when a datagram waits, else after its time.
TEST_F(Net, AWaitEndsWithTheDatagramOrItsTime) {
  const NetSocket rx = openSocket(PORT_A, 0);
  const auto start = Clock::now();
  EXPECT_EQ(netWaitReadable(rx, 200), NetResult::timedOut);
  EXPECT_GE(Clock::now() - start, 190ms);
  const std::uint8_t ping = 1;
  ASSERT_TRUE(netSendTo(openSocket(PORT_B, 0), &ping, 1, LOOPBACK, PORT_A, true));
  EXPECT_EQ(netWaitReadable(rx, 2000), NetResult::ok);
}

// The loader's socket never holds the thread up: non-blocking, with the send
// queue it asks for, and a datagram still received whole after a wait.
TEST_F(Net, ANonBlockingSocketSendsAndReceivesAtOnce) {
  const NetSocket rx = openSocket(PORT_A, 50);
  ASSERT_TRUE(netSetNonBlocking(rx));
  EXPECT_GE(netSetSendBuffer(rx, 1 << 20), std::size_t{1} << 20);
  const std::vector<std::uint8_t> sent(524, 0x11);
  for (int i = 0; i < 50; ++i) {
    EXPECT_EQ(netSend(rx, sent.data(), sent.size(), LOOPBACK, PORT_B, true), NetSend::sent);
  }
  const std::uint8_t ping = 1;
  ASSERT_TRUE(netSendTo(openSocket(PORT_B, 0), &ping, 1, LOOPBACK, PORT_A, true));
  ASSERT_EQ(netWaitReadable(rx, 2000), NetResult::ok);
  const Received r = receive(rx);
  EXPECT_EQ(r.result, NetResult::ok);
  EXPECT_EQ(r.size, 1u);
}

}  // namespace
