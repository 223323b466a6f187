// The Windows interrupt watch and record appends, run under Wine: a request
// wakes a wait over sockets at once, and appends go to the file's end,
// whole.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "platform/adapters.h"
#include "platform/file.h"
#include "platform/interrupt.h"

namespace {

using Clock = std::chrono::steady_clock;

TEST(InterruptWatchWindows, ARequestWakesTheWaitAtOnce) {
  InterruptWatch watch;
  const NetSocket wake = watch.wakeHandle();
  ASSERT_NE(wake, NET_INVALID_SOCKET);
  std::vector<std::size_t> ready;
  EXPECT_EQ(netWaitAny(std::span(&wake, 1), Duration::zero(), &ready), NetResult::timedOut);
  EXPECT_FALSE(watch.requested());
  watch.request();
  EXPECT_TRUE(watch.requested());
  const auto start = Clock::now();
  EXPECT_EQ(netWaitAny(std::span(&wake, 1), std::chrono::milliseconds(2000), &ready),
            NetResult::ok);
  EXPECT_LT(Clock::now() - start, std::chrono::milliseconds(500));
}

TEST(AppendFileWindows, AppendsGoToTheEndWhole) {
  const std::string path = "tovrin-append-test.jsonl";
  std::remove(path.c_str());
  { std::ofstream(path, std::ios::binary) << "earlier\n"; }
  const AppendFile file = openAppendFile(path.c_str());
  ASSERT_NE(file, APPEND_FILE_NONE);
  EXPECT_TRUE(appendToFile(file, "{\"a\":1}\n"));
  EXPECT_TRUE(appendToFile(file, "{\"b\":2}\n"));
  closeAppendFile(file);
  std::ifstream in(path, std::ios::binary);
  const std::string text{std::istreambuf_iterator<char>(in), {}};
  in.close();
  EXPECT_EQ(text, "earlier\n{\"a\":1}\n{\"b\":2}\n");
  std::remove(path.c_str());
}

}  // namespace
