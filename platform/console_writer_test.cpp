// The console writer with a reader that stalls: writing never waits for
// it, the text reaches it whole and in order once it reads, and a reader
// that never reads again holds up neither the wait at the end nor the
// writer's end.
#include "platform/console_writer.h"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>

namespace {

using std::chrono::milliseconds;

// A reader that takes nothing until it is let go, then everything.
struct StalledReader {
  std::mutex mutex;
  std::condition_variable letGo;
  bool reading = false;
  std::string taken;
};

TEST(ConsoleWriterTest, AReaderThatStallsHoldsUpNothing) {
  for (const bool comesBack : {true, false}) {
    const auto reader = std::make_shared<StalledReader>();
    const auto started = Clock::now();
    {
      ConsoleWriter writer([reader](std::string_view text) {
        std::unique_lock lock(reader->mutex);
        reader->letGo.wait(lock, [&] { return reader->reading; });
        reader->taken += text;
        return true;
      });
      for (int i = 0; i < 1000; ++i) {
        writer.write("line " + std::to_string(i) + "\n");
      }
      EXPECT_TRUE(writer.behind());
      EXPECT_FALSE(writer.drain(Clock::now() + milliseconds(50)));
      if (comesBack) {
        {
          const std::lock_guard lock(reader->mutex);
          reader->reading = true;
        }
        reader->letGo.notify_all();
        EXPECT_TRUE(writer.drain(Clock::now() + std::chrono::seconds(30)));
        EXPECT_FALSE(writer.behind());
      }
    }
    // Gone with its thread still blocked in the reader: the end was not held up.
    EXPECT_LT(Clock::now() - started, std::chrono::seconds(10));
    const std::lock_guard lock(reader->mutex);
    if (comesBack) {
      EXPECT_TRUE(reader->taken.starts_with("line 0\nline 1\n"));
      EXPECT_TRUE(reader->taken.ends_with("line 999\n"));
      EXPECT_EQ(reader->taken.size(), 8890u);
    } else {
      EXPECT_EQ(reader->taken, "");
    }
  }
}

}  // namespace
