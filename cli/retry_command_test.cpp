// The retry command of a several-drives run: the drives, and the run's
// options quoted for the shell.
#include "cli/retry_command.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

// The retry command names the drives as one -ip list, then the run's
// options, each quoted for the shell where it needs it. (Which drives are
// retried is the summary's test.)
TEST(RetryCommandTest, TheDrivesThenTheOptions) {
  EXPECT_EQ(retryCommand("tovrin", {"-fp", "fw.bin", "-r", "runs.jsonl"},
                         {{192, 168, 124, 120}, {10, 0, 0, 7}}, QuoteStyle::posix),
            "tovrin -ip 192.168.124.120,10.0.0.7 -fp fw.bin -r runs.jsonl");
  EXPECT_EQ(retryCommand("C:\\Program Files\\Tovrin.exe", {"-fp", "new fw.bin", "-v"},
                         {{192, 168, 124, 120}, {10, 0, 0, 7}}, QuoteStyle::windows),
            "\"C:\\Program Files\\Tovrin.exe\" -ip 192.168.124.120,10.0.0.7 -fp \"new fw.bin\" -v");
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
