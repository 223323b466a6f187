// The Winsock backend where Winsock differs from POSIX sockets in ways the
// loader meets. Built into the Windows test program and run under Wine in a
// private network namespace, so the fixed ports below are the test's alone.
#include <gtest/gtest.h>

#include <array>
#include <chrono>
#include <cstdint>
#include <deque>
#include <optional>
#include <thread>
#include <utility>
#include <vector>

#include "platform/adapters.h"
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

Received receive(const UdpSocket& s) {
  Received r;
  const auto start = Clock::now();
  r.result = s.receive(std::span(r.area).first(512), &r.size);
  r.seconds = std::chrono::duration<double>(Clock::now() - start).count();
  return r;
}

NetResult waitReadable(const UdpSocket& s, Duration timeout) {
  const NetSocket handle = s.handle();
  std::vector<std::size_t> ready;
  return netWaitAny(std::span(&handle, 1), timeout, &ready);
}

// The socket library is held only by the tests that hold it, so a test can
// see when it is gone: Winsock then opens no socket.
TEST(NetLibraryTest, AMovedLibraryIsReleasedOnceByItsLastHolder) {
  std::optional<NetLibrary> first = NetLibrary::start();
  ASSERT_TRUE(first.has_value());
  std::optional<NetLibrary> second = NetLibrary::start();
  ASSERT_TRUE(second.has_value());
  {
    NetLibrary taken = std::move(*first);
    first.reset();               // moved from: releases nothing
    *second = std::move(taken);  // the held one is released, this one taken
    EXPECT_TRUE(UdpSocket::open().isOpen()) << "released by a holder moved from";
  }
  EXPECT_TRUE(UdpSocket::open().isOpen()) << "released by a holder moved from";
  second.reset();
  EXPECT_FALSE(UdpSocket::open().isOpen()) << "still held after its last holder ended";
}

struct Net : ::testing::Test {
  void SetUp() override { ASSERT_TRUE(library.has_value()); }
  // Declared first, so the sockets close before the library is released.
  std::optional<NetLibrary> library = NetLibrary::start();
  // Bound to 127.0.0.1:port unless port is 0; waits timeoutMs (0: for ever).
  UdpSocket& openSocket(std::uint16_t port, int timeoutMs) {
    UdpSocket& s = opened.emplace_back(UdpSocket::open());
    EXPECT_TRUE(s.isOpen());
    EXPECT_TRUE(port == 0 || (s.setReuseAddress() && s.bind(LOOPBACK, port)));
    EXPECT_TRUE(timeoutMs == 0 || s.setReceiveTimeout(timeoutMs));
    return s;
  }
  std::deque<UdpSocket> opened;
};

// Winsock reports a datagram longer than the area as WSAEMSGSIZE.
TEST_F(Net, ALongDatagramIsCutToTheAreaAndCountsAsReceived) {
  const UdpSocket& rx = openSocket(PORT_A, 2000);
  const std::vector<std::uint8_t> sent(1400, 0x5A);
  ASSERT_EQ(openSocket(PORT_B, 0).send(sent, LOOPBACK, PORT_A, true), NetSend::sent);
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
  UdpSocket& probe = openSocket(0, 0);
  const Received early = receive(probe);
  EXPECT_EQ(early.result, NetResult::failed);
  EXPECT_LT(early.seconds, 0.5);

  ASSERT_TRUE(probe.setReceiveTimeout(300));
  const std::uint8_t ping[1] = {1};
  ASSERT_EQ(probe.send(ping, LOOPBACK, PORT_B, true), NetSend::sent);
  std::this_thread::sleep_for(100ms);
  const Received reset = receive(probe);
  EXPECT_EQ(reset.result, NetResult::timedOut);
  EXPECT_GE(reset.seconds, 0.29);
}

// A port bound for one socket alone can't be bound again, with address
// reuse or without: a second loader on the PC is refused.
TEST_F(Net, AnExclusiveBindKeepsThePortToItself) {
  UdpSocket first = UdpSocket::open();
  ASSERT_TRUE(first.setExclusiveAddress() && first.bind(LOOPBACK, PORT_A));
  for (const bool reuse : {false, true}) {
    UdpSocket second = UdpSocket::open();
    EXPECT_TRUE(!reuse || second.setReuseAddress());
    EXPECT_FALSE(second.bind(LOOPBACK, PORT_A)) << reuse;
  }
}

// The loader's wait: at once when a datagram waits, else after its time.
TEST_F(Net, AWaitEndsWithTheDatagramOrItsTime) {
  const UdpSocket& rx = openSocket(PORT_A, 0);
  const auto start = Clock::now();
  EXPECT_EQ(waitReadable(rx, 200ms), NetResult::timedOut);
  EXPECT_GE(Clock::now() - start, 190ms);
  const std::uint8_t ping[1] = {1};
  ASSERT_EQ(openSocket(PORT_B, 0).send(ping, LOOPBACK, PORT_A, true), NetSend::sent);
  EXPECT_EQ(waitReadable(rx, 2000ms), NetResult::ok);
}

// The loader's socket never holds the thread up: non-blocking, with the send
// queue it asks for, and a datagram still received whole after a wait.
TEST_F(Net, ANonBlockingSocketSendsAndReceivesAtOnce) {
  UdpSocket& rx = openSocket(PORT_A, 50);
  ASSERT_TRUE(rx.setNonBlocking());
  EXPECT_GE(rx.setSendBuffer(1 << 20), std::size_t{1} << 20);
  const std::vector<std::uint8_t> sent(524, 0x11);
  for (int i = 0; i < 50; ++i) {
    EXPECT_EQ(rx.send(sent, LOOPBACK, PORT_B, true), NetSend::sent);
  }
  const std::uint8_t ping[1] = {1};
  ASSERT_EQ(openSocket(PORT_B, 0).send(ping, LOOPBACK, PORT_A, true), NetSend::sent);
  ASSERT_EQ(waitReadable(rx, 2000ms), NetResult::ok);
  const Received r = receive(rx);
  EXPECT_EQ(r.result, NetResult::ok);
  EXPECT_EQ(r.size, 1u);
}

}  // namespace
