// The adapter list and the wait over several sockets, in a network namespace
// of the test's own.
#include "platform/adapters.h"

#include <gtest/gtest.h>

#include <chrono>

#include "testkit/netlab.h"
#include "testkit/process.h"

namespace {

// Up adapters' IPv4 addresses with their masks, a second address of one
// adapter too; no loopback address (127.0.0.9 on lo neither), and nothing of
// an adapter that is down.
TEST(AdapterListTest, ListsEveryAddressOfTheUpAdaptersButLoopback) {
  if (!enterPrivateNetwork()) {
    GTEST_SKIP() << "not root: no network namespace of the test's own to shape";
  }
  const ProcessResult r =
      runProcess({"sh", "-c",
                  "ip link add a0 type veth peer name a1 && ip addr add 10.9.8.7/20 dev a0 && "
                  "ip addr add 10.9.9.9/32 dev a0 && ip addr add 10.1.1.1/24 dev a1 && "
                  "ip addr add 127.0.0.9/8 dev lo && ip link set a0 up"},
                 std::chrono::seconds(10));
  ASSERT_EQ(r.exitCode, 0) << r.err;

  EXPECT_EQ(netListAdapters(),
            (std::vector<NetAdapter>{{0x0A090807u, 0xFFFFF000u}, {0x0A090909u, 0xFFFFFFFFu}}));
}

// One wait tells which of several sockets have a datagram, and runs out
// when none has.
TEST(WaitAnyTest, TellsWhichSocketsHaveADatagram) {
  enterPrivateNetwork();
  // 127.0.0.1 to 127.0.0.3, port 8995: the namespace (or the loopback
  // lock) is the test's own.
  UdpSocket sockets[3];
  NetSocket handles[3];
  for (std::uint32_t i = 0; i < 3; ++i) {
    sockets[i] = UdpSocket::open();
    ASSERT_TRUE(sockets[i].bind(0x7F000001u + i, 8995));
    handles[i] = sockets[i].handle();
  }
  const std::uint8_t datagram[1] = {1};
  std::vector<std::size_t> ready;
  for (const std::vector<std::size_t>& to : {std::vector<std::size_t>{2}, {0, 2}}) {
    for (const std::size_t i : to) {
      ASSERT_EQ(sockets[0].send(datagram, 0x7F000001u + static_cast<std::uint32_t>(i), 8995),
                NetSend::sent);
    }
    ASSERT_EQ(netWaitAny(handles, std::chrono::milliseconds(1000), &ready), NetResult::ok);
    EXPECT_EQ(ready, to);
    for (const std::size_t i : to) {
      std::uint8_t area[4];
      std::size_t received = 0;
      ASSERT_EQ(sockets[i].receive(area, &received), NetResult::ok);
    }
  }
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(netWaitAny(handles, std::chrono::milliseconds(100), &ready), NetResult::timedOut);
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(90));
  EXPECT_TRUE(ready.empty());
}

// A wait of a fraction of a millisecond ends then, not at the next whole
// millisecond: the least of several waits' overruns (the one the machine's
// load spared) stays well under what rounding up would add.
TEST(WaitAnyTest, EndsAtAFractionOfAMillisecond) {
  const UdpSocket socket = UdpSocket::open();  // unbound: nothing arrives
  ASSERT_TRUE(socket.isOpen());
  const NetSocket s = socket.handle();
  constexpr auto WAIT = std::chrono::microseconds(300);
  std::vector<std::size_t> ready;
  auto least = std::chrono::steady_clock::duration::max();
  for (int i = 0; i < 20; ++i) {
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(netWaitAny(std::span(&s, 1), WAIT, &ready), NetResult::timedOut);
    const auto took = std::chrono::steady_clock::now() - start;
    EXPECT_GE(took, WAIT);
    least = std::min(least, took);
  }
  EXPECT_LT(least, std::chrono::microseconds(650));
}

}  // namespace
