// The Winsock backend against the behaviours the loader relies on, over
// loopback. Built into the Windows test program and run under Wine in a
// private network namespace, so the fixed ports below are the test's alone.
#include <gtest/gtest.h>

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

double secondsSince(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

struct Net : ::testing::Test {
  void SetUp() override { ASSERT_TRUE(netStartup()); }
  void TearDown() override {
    for (NetSocket s : opened) {
      netClose(s);
    }
    netCleanup();
  }
  NetSocket open(std::uint16_t port) {
    const NetSocket s = netOpenUdp();
    EXPECT_NE(s, NET_INVALID_SOCKET);
    EXPECT_NE(s, 0);
    opened.push_back(s);
    if (port != 0) {
      EXPECT_TRUE(netSetReuseAddress(s));
      EXPECT_TRUE(netBind(s, LOOPBACK, port));
    }
    return s;
  }
  std::vector<NetSocket> opened;
};

TEST_F(Net, DatagramsOfEverySizeArriveWithTheirSenderAndLongOnesAreCutToTheArea) {
  const NetSocket rx = open(PORT_A);
  const NetSocket tx = open(PORT_B);
  ASSERT_TRUE(netSetReceiveTimeout(rx, 2000));
  struct Case {
    std::size_t sent;
    std::size_t expected;
  };
  for (const Case c : {Case{0, 0}, Case{4, 4}, Case{512, 512}, Case{513, 512}, Case{1400, 512}}) {
    std::vector<std::uint8_t> out(c.sent);
    for (std::size_t i = 0; i < out.size(); ++i) {
      out[i] = static_cast<std::uint8_t>(i * 7 + 1);
    }
    ASSERT_TRUE(netSendTo(tx, out.data(), out.size(), LOOPBACK, PORT_A, true)) << c.sent;
    std::uint8_t area[600] = {};
    std::size_t received = 99;
    std::uint32_t from = 0;
    std::uint16_t fromPort = 0;
    ASSERT_EQ(netReceiveFrom(rx, area, 512, &received, &from, &fromPort), NetResult::ok) << c.sent;
    EXPECT_EQ(received, c.expected) << c.sent;
    EXPECT_EQ(from, LOOPBACK);
    EXPECT_EQ(fromPort, PORT_B);
    for (std::size_t i = 0; i < received; ++i) {
      ASSERT_EQ(area[i], out[i]) << c.sent << " byte " << i;
    }
    EXPECT_EQ(area[512], 0) << "nothing written past the area";
  }
}

TEST_F(Net, AReceiveWaitsForItsTimeOutAndNoLonger) {
  const NetSocket rx = open(PORT_A);
  ASSERT_TRUE(netSetReceiveTimeout(rx, 300));
  std::uint8_t area[512];
  std::size_t received = 0;
  const auto start = Clock::now();
  EXPECT_EQ(netReceiveFrom(rx, area, sizeof area, &received, nullptr, nullptr),
            NetResult::timedOut);
  const double took = secondsSince(start);
  EXPECT_GE(took, 0.29);
  EXPECT_LT(took, 1.5);
}

TEST_F(Net, AReceiveOnASocketWithoutALocalPortFailsAtOnce) {
  const NetSocket s = open(0);  // no time-out: it would otherwise wait for ever
  std::uint8_t area[512];
  std::size_t received = 7;
  const auto start = Clock::now();
  EXPECT_EQ(netReceiveFrom(s, area, sizeof area, &received, nullptr, nullptr), NetResult::failed);
  EXPECT_EQ(received, 0u);
  EXPECT_LT(secondsSince(start), 0.5);
}

TEST_F(Net, ASendGivesTheSocketItsPortAndTheAnswerComesBackToIt) {
  const NetSocket probe = open(0);
  const NetSocket peer = open(PORT_A);
  ASSERT_TRUE(netSetReceiveTimeout(peer, 2000));
  ASSERT_TRUE(netSetReceiveTimeout(probe, 2000));
  const std::uint8_t ping[3] = {1, 2, 3};
  ASSERT_TRUE(netSendTo(probe, ping, sizeof ping, LOOPBACK, PORT_A, true));
  std::uint8_t area[512];
  std::size_t received = 0;
  std::uint32_t from = 0;
  std::uint16_t port = 0;
  ASSERT_EQ(netReceiveFrom(peer, area, sizeof area, &received, &from, &port), NetResult::ok);
  ASSERT_NE(port, 0);
  ASSERT_TRUE(netSendTo(peer, ping, 2, from, port, true));
  EXPECT_EQ(netReceiveFrom(probe, area, sizeof area, &received, nullptr, nullptr), NetResult::ok);
  EXPECT_EQ(received, 2u);
}

TEST_F(Net, ShutdownWakesAPendingReceiveAndFailsTheNextOnes) {
  const NetSocket rx = open(PORT_A);  // no time-out: only the shutdown can end the wait
  std::atomic<int> result{-1};
  std::thread receiver([&] {
    std::uint8_t area[512];
    std::size_t received = 0;
    result = static_cast<int>(netReceiveFrom(rx, area, sizeof area, &received, nullptr, nullptr));
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  EXPECT_EQ(result, -1) << "the receive must still be waiting";
  const auto shutAt = Clock::now();
  netShutdown(rx);
  receiver.join();
  EXPECT_EQ(result, static_cast<int>(NetResult::failed));
  EXPECT_LT(secondsSince(shutAt), 0.5);

  std::uint8_t area[512];
  std::size_t received = 0;
  const auto start = Clock::now();
  EXPECT_EQ(netReceiveFrom(rx, area, sizeof area, &received, nullptr, nullptr), NetResult::failed);
  EXPECT_LT(secondsSince(start), 0.5);
}

TEST_F(Net, ASendToAPortWithoutListenerLeavesTheNextReceiveWaitingNotFailing) {
  const NetSocket s = open(PORT_A);
  ASSERT_TRUE(netSetReceiveTimeout(s, 300));
  const std::uint8_t byte = 0;
  ASSERT_TRUE(netSendTo(s, &byte, 1, LOOPBACK, PORT_NOBODY, true));
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  std::uint8_t area[512];
  std::size_t received = 0;
  EXPECT_EQ(netReceiveFrom(s, area, sizeof area, &received, nullptr, nullptr), NetResult::timedOut);
}

TEST_F(Net, TheAddressFacingADestinationIsALocalOne) {
  std::uint32_t local = 0;
  ASSERT_TRUE(netSourceAddressFor(0x7F000002, &local));  // 127.0.0.2
  EXPECT_EQ(local >> 24, 127u);
  std::uint32_t named = 0;
  EXPECT_TRUE(netHostNameAddress(&named));
  EXPECT_NE(named, 0u);
}

TEST_F(Net, SocketsBeyondTheFirstAreIndependentAndHandlesAreReusableAfterClose) {
  for (int round = 0; round < 50; ++round) {
    const NetSocket s = netOpenUdp();
    ASSERT_NE(s, NET_INVALID_SOCKET) << round;
    ASSERT_TRUE(netSetReceiveTimeout(s, 10));
    netShutdown(s);
    netClose(s);
  }
  // A socket opened after others were shut down and closed is not shut down.
  const NetSocket s = open(PORT_A);
  ASSERT_TRUE(netSetReceiveTimeout(s, 100));
  std::uint8_t area[512];
  std::size_t received = 0;
  EXPECT_EQ(netReceiveFrom(s, area, sizeof area, &received, nullptr, nullptr), NetResult::timedOut);
}

TEST(NetLibrary, StartupIsCounted) {
  ASSERT_TRUE(netStartup());
  ASSERT_TRUE(netStartup());
  netCleanup();
  const NetSocket s = netOpenUdp();  // one start is still in force
  EXPECT_NE(s, NET_INVALID_SOCKET);
  if (s != NET_INVALID_SOCKET) {
    netClose(s);
  }
  netCleanup();
}

}  // namespace
