// The end of a several-drives run: table, count line, retry line.
#include "fleet/summary.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "session/drive_text.h"

namespace {

DriveState drive(std::uint32_t address, DriveResult result, long long ms) {
  DriveState d;
  d.address = address;
  d.result = result;
  d.elapsed = std::chrono::milliseconds(ms);
  return d;
}

std::vector<DriveState> mixedRun() {
  DriveState good = drive(0x0A000005, DriveResult::programmed, 15749);
  good.serialNumber = 123456;
  good.mac = MacAddress{0x00, 0x1a, 0x2b, 0x3c, 0x4d, 0x5e};
  DriveState silent = drive(0xC0A87C78, DriveResult::failed, 9050);
  silent.serialNumber = 7;
  silent.failure = Failure{Stage::programming, 10, FailureReason::noAnswer, 0};
  DriveState absent = drive(0x0A000007, DriveResult::failed, 30000);
  absent.failure = Failure{Stage::connection, std::nullopt, FailureReason::noAnswer, 0};
  return {good, silent, absent};
}

TEST(SummaryTest, TableWithAColumnPerFieldAndARowPerDrive) {
  EXPECT_EQ(summaryTable(mixedRun()),
            "Address          Serial  MAC                Result                                    "
            "    Time\n"
            "10.0.0.5         123456  00:1a:2b:3c:4d:5e  programmed and verified                   "
            "  15.7 s\n"
            "192.168.124.120  7       -                  failed at programming, block 11: no "
            "answer   9.1 s\n"
            "10.0.0.7         -       -                  failed at connection: no answer           "
            "  30.0 s\n");
  EXPECT_EQ(summaryTable({}), "Address  Serial  MAC  Result  Time\n");
}

TEST(SummaryTest, CountsEachResultThatOccurred) {
  EXPECT_FALSE(allSucceeded(mixedRun()));
  EXPECT_TRUE(
      allSucceeded({drive(1, DriveResult::identified, 0), drive(2, DriveResult::digestEqual, 0)}));
  EXPECT_FALSE(allSucceeded({drive(1, DriveResult::digestDiffers, 0)}));
  EXPECT_EQ(countLine(mixedRun()), "3 drives: 1 programmed and verified, 2 failed\n");
  EXPECT_EQ(countLine({drive(1, DriveResult::digestDiffers, 0)}), "1 drive: 1 digest differs\n");
  // -s and -c: drives already current succeed, those never started do not
  const std::vector<DriveState> canaried = {
      drive(1, DriveResult::current, 0), drive(2, DriveResult::programmed, 0),
      drive(3, DriveResult::failed, 0), drive(4, DriveResult::notStarted, 0),
      drive(5, DriveResult::notStarted, 0)};
  EXPECT_EQ(countLine(canaried),
            "5 drives: 1 programmed and verified, 1 already current, 1 failed, 2 not started\n");
  EXPECT_TRUE(allSucceeded({drive(1, DriveResult::current, 0)}));
  EXPECT_FALSE(allSucceeded({drive(1, DriveResult::notStarted, 0)}));
  EXPECT_FALSE(allSucceeded({drive(1, DriveResult::interrupted, 0)}));
  EXPECT_EQ(
      countLine({drive(1, DriveResult::digestEqual, 0), drive(2, DriveResult::digestDiffers, 0),
                 drive(3, DriveResult::digestEqual, 0)}),
      "3 drives: 2 digest equal, 1 digest differs\n");
}

// An interrupted run: each drive as it stopped, those that hold part of an
// image told to be programmed again, and every unfinished one retried.
TEST(SummaryTest, InterruptedDrivesAreCountedAndRetried) {
  DriveState done = drive(0x0A000005, DriveResult::programmed, 15749);
  DriveState partial = drive(0x0A000006, DriveResult::interrupted, 4000);
  partial.failure = Failure{Stage::programming, 11, FailureReason::interrupted, 0, true};
  DriveState connecting = drive(0x0A000007, DriveResult::interrupted, 4000);
  connecting.failure = Failure{Stage::connection, std::nullopt, FailureReason::interrupted, 0};
  const std::vector<DriveState> drives = {done, partial, connecting};
  EXPECT_EQ(resultText(partial),
            "interrupted at programming, block 12: partial image, program it again");
  EXPECT_EQ(resultText(connecting), "interrupted at connection");
  EXPECT_EQ(countLine(drives), "3 drives: 1 programmed and verified, 2 interrupted\n");
  EXPECT_FALSE(allSucceeded(drives));
  EXPECT_EQ(retryLine("tovrin", {"-fp", "fw.bin"}, drives, QuoteStyle::posix),
            "Retry the failed drives: tovrin -ip 10.0.0.6,10.0.0.7 -fp fw.bin\n");
}

TEST(SummaryTest, RetryLineNamesOnlyTheFailedDrives) {
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

TEST(SummaryTest, RetryKeepsEveryOptionButTheDrives) {
  const std::vector<std::pair<std::vector<const char*>, std::vector<std::string>>> cases = {
      {{"tovrin", "-ip", "10.0.0.5,10.0.0.6", "-fp", "fw.bin"}, {"-fp", "fw.bin"}},
      {{"tovrin", "-a", "-v", "-fp", "fw.bin", "-r", "runs.jsonl"},
       {"-v", "-fp", "fw.bin", "-r", "runs.jsonl"}},
      // a file may be called -ip or -a
      {{"tovrin", "-fp", "-ip", "-r", "-a", "-ip", "1.2.3.4"}, {"-fp", "-ip", "-r", "-a"}},
      {{"tovrin", "-u", "-ip", "10.0.0.5", "-a"}, {"-u"}},
      {{"tovrin", "-e", "-c", "2", "-a", "-s", "-fp", "fw.bin"},
       {"-e", "-c", "2", "-s", "-fp", "fw.bin"}},
  };
  for (const auto& [argv, expected] : cases) {
    EXPECT_EQ(retryOptions(static_cast<int>(argv.size()), argv.data()), expected);
  }
}

TEST(SummaryTest, QuotesWhatAShellWouldChange) {
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
