// The link's set-up and its end, in every state the end can meet it in.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>

#include "link/datagram.h"
#include "link/link.h"
#include "link/linktest.h"
#include "link/threads.h"

using namespace linktest;
using Clock = std::chrono::steady_clock;

namespace {

// shutdownLink must never hold the process up noticeably.
constexpr double SHUTDOWN_LIMIT_MS = 150;

// Whether nothing holds 127.0.0.1:8995 any more: a socket without address
// reuse can bind it only then.
bool hostPortIsFree() {
  TestSocket probe;
  return openBound(probe, HOST_IP, PORT, false);
}

// Runs shutdownLink and returns how long it took.
double timedShutdown() {
  const auto start = Clock::now();
  shutdownLink();
  return millisecondsSince(start);
}

TEST(ShutdownTest, WithNothingStartedItOnlySetsDoneFlag) {
  enterPrivateNetwork();
  ASSERT_TRUE(resetLink());
  doneFlag = false;
  testing::internal::CaptureStdout();
  EXPECT_LT(timedShutdown(), SHUTDOWN_LIMIT_MS);
  EXPECT_LT(timedShutdown(), SHUTDOWN_LIMIT_MS);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
  EXPECT_TRUE(doneFlag);
  EXPECT_EQ(udpSocket.load(), 0);
}

// The link binds the address the host reaches the drive from (127.0.0.1 for
// 127.0.0.2 here), sends from port 8995, and ends at once with its receive
// pending; the second end changes nothing.
TEST(ShutdownTest, ARunningLinkEndsAtOnceAndFreesItsPort) {
  TestSocket drive;
  startTestLink(drive);
  ASSERT_TRUE(sendCommand(CMD_CONNECT, 0, nullptr, 0, 0));
  std::uint8_t area[1024];
  std::size_t received = 0;
  std::uint32_t from = 0;
  std::uint16_t fromPort = 0;
  ASSERT_EQ(netReceiveFrom(drive.s, area, sizeof area, &received, &from, &fromPort), NetResult::ok);
  EXPECT_EQ(received, 524u);
  EXPECT_EQ(from, HOST_IP);
  EXPECT_EQ(fromPort, PORT);
  EXPECT_FALSE(hostPortIsFree());

  testing::internal::CaptureStdout();
  EXPECT_LT(timedShutdown(), SHUTDOWN_LIMIT_MS);
  EXPECT_LT(timedShutdown(), SHUTDOWN_LIMIT_MS);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
  EXPECT_TRUE(hostPortIsFree());
}

// The session may end, and shutdownLink run, while comthread is anywhere in
// its set-up. Whatever the moment, the end comes at once, nothing is left
// receiving and the socket is closed.
TEST(ShutdownTest, ALinkStillBeingSetUpEndsCleanly) {
  enterPrivateNetwork();
  driveIp = DRIVE_IP;
  testing::internal::CaptureStdout();
  for (int i = 0; i < 60; ++i) {
    ASSERT_TRUE(startLink()) << i;
    std::this_thread::sleep_for(std::chrono::microseconds(i * 50));
    EXPECT_LT(timedShutdown(), SHUTDOWN_LIMIT_MS) << i;
    EXPECT_TRUE(hostPortIsFree()) << i;
  }
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
}

TEST(ShutdownTest, ABindThatFailsIsReportedAndTheEndStillComesAtOnce) {
  enterPrivateNetwork();
  TestSocket holder;  // holds the port for itself alone
  ASSERT_TRUE(openBound(holder, HOST_IP, PORT, false));
  driveIp = DRIVE_IP;
  testing::internal::CaptureStdout();
  ASSERT_TRUE(startLink());
  ASSERT_TRUE(waitUntil([] { return udpSocket.load() != 0; }, 2000));
  EXPECT_LT(timedShutdown(), SHUTDOWN_LIMIT_MS);
  EXPECT_LT(timedShutdown(), SHUTDOWN_LIMIT_MS);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "\nERROR: udpSocket bind failed");
}

// Discovery keeps its own socket in udpSocket and receives on it in a thread
// of its own, which the link can't join; shutdownLink must wake that receive
// and end every later one, and leave the handle alone, since the collector
// may still be on its way out of the receive.
TEST(ShutdownTest, ACollectorBlockedInItsReceiveWakesAndSeesDoneFlag) {
  enterPrivateNetwork();
  ASSERT_TRUE(resetLink());
  TestSocket own;
  ASSERT_TRUE(openBound(own, HOST_IP, PORT));
  ASSERT_TRUE(netSetReceiveTimeout(own.s, 0));  // no time-out: only the shutdown wakes it
  udpSocket = own.s;
  doneFlag = false;
  std::atomic<bool> ended{false};
  std::thread collector([&] {
    std::uint8_t area[MAX_PAYLOAD];
    std::size_t received = 0;
    while (!doneFlag) {
      netReceiveFrom(udpSocket, area, sizeof area, &received, nullptr, nullptr);
    }
    ended = true;
  });
  pauseMs(20);  // the collector waits in its receive

  testing::internal::CaptureStdout();
  const auto start = Clock::now();
  shutdownLink();
  const bool woke = waitUntil([&] { return ended.load(); }, 1000);
  EXPECT_LT(millisecondsSince(start), SHUTDOWN_LIMIT_MS);
  EXPECT_TRUE(woke);
  if (!woke) {
    doneFlag = true;
    netShutdown(own.s);
  }
  collector.join();
  EXPECT_LT(timedShutdown(), SHUTDOWN_LIMIT_MS);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "");

  // Every later receive returns at once instead of waiting.
  ASSERT_TRUE(netSetReceiveTimeout(own.s, 500));
  std::uint8_t area[MAX_PAYLOAD];
  std::size_t received = 0;
  EXPECT_EQ(netReceiveFrom(own.s, area, sizeof area, &received, nullptr, nullptr),
            NetResult::failed);
  udpSocket = 0;
}

}  // namespace
