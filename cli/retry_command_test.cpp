// The retry line of a several-drives run: which drives it names, and the
// run's options quoted for the shell.
#include "cli/retry_command.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "fleet/summary.h"

namespace {

DriveState drive(std::uint32_t address, DriveResult result, long long ms) {
  DriveState d;
  d.address = address;
  d.result = result;
  d.elapsed = std::chrono::milliseconds(ms);
  return d;
}

std::vector<DriveState> mixedRun() {
  return {drive(0x0A000005, DriveResult::programmed, 15749),
          drive(0xC0A87C78, DriveResult::failed, 9050),
          drive(0x0A000007, DriveResult::failed, 30000)};
}

std::string retryLine(std::string_view program, const std::vector<std::string>& options,
                      const std::vector<DriveState>& drives, QuoteStyle style) {
  return ::retryLine(drives, [&](const std::vector<std::uint32_t>& again) {
    return retryCommand(program, options, again, style);
  });
}

TEST(RetryCommandTest, RetryLineNamesOnlyTheFailedDrives) {
  const std::vector<std::string> options = {"-fp", "fw.bin", "-r", "runs.jsonl"};
  EXPECT_EQ(retryLine("tovrin", options, mixedRun(), QuoteStyle::posix),
            "Retry the failed drives: tovrin -ip 192.168.124.120,10.0.0.7 -fp fw.bin -r "
            "runs.jsonl\n");
  // a digest that differs is an answer, not a failure to retry
  const std::vector<DriveState> verified = {drive(1, DriveResult::digestEqual, 0),
                                            drive(2, DriveResult::digestDiffers, 0)};
  EXPECT_EQ(retryLine("tovrin", {"-v"}, verified, QuoteStyle::posix), "");
  // a failed canary and the drives it kept from starting
  const std::vector<DriveState> canaried = {drive(1, DriveResult::failed, 0),
                                            drive(2, DriveResult::notStarted, 0),
                                            drive(3, DriveResult::current, 0)};
  EXPECT_EQ(retryLine("tovrin", {"-c", "1", "-s", "-e"}, canaried, QuoteStyle::posix),
            "Retry the failed drives: tovrin -ip 0.0.0.1,0.0.0.2 -c 1 -s -e\n");
  EXPECT_EQ(retryLine("C:\\Program Files\\Tovrin.exe", {"-fp", "new fw.bin", "-v"}, mixedRun(),
                      QuoteStyle::windows),
            "Retry the failed drives: \"C:\\Program Files\\Tovrin.exe\" -ip "
            "192.168.124.120,10.0.0.7 -fp \"new fw.bin\" -v\n");
}

TEST(RetryCommandTest, QuotesWhatAShellWouldChange) {
  struct Case {
    std::string word;
    std::string posix;
    std::string windows;
  };
  const std::vector<Case> cases = {
      {"./build/fw-1.2_b+3.bin", "./build/fw-1.2_b+3.bin", "./build/fw-1.2_b+3.bin"},
      {"", "''", "\"\""},
      {"my fw.bin", "'my fw.bin'", "\"my fw.bin\""},
      {"it's", "'it'\\''s'", "\"it's\""},
      {"$HOME*;&|", "'$HOME*;&|'", "\"$HOME*;&|\""},
      {"C:\\fw\\", "'C:\\fw\\'", "\"C:\\fw\\\\\""},
      {"a\\\"b", "'a\\\"b'", "\"a\\\\\\\"b\""},
      {"%PATH%", "'%PATH%'", "\"%PATH%\""},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(quoteWord(c.word, QuoteStyle::posix), c.posix) << c.word;
    EXPECT_EQ(quoteWord(c.word, QuoteStyle::windows), c.windows) << c.word;
  }
}

}  // namespace
