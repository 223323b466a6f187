// The end of a several-drives run: table, count line, retry line.
#include "fleet/summary.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "session/drive_text.h"

namespace {

DriveState drive(DriveAddress address, DriveResult result, long long ms) {
  DriveState d;
  d.address = address;
  d.result = result;
  d.elapsed = std::chrono::milliseconds(ms);
  return d;
}

std::vector<DriveState> mixedRun() {
  DriveState good = drive({10, 0, 0, 5}, DriveResult::programmed, 15749);
  good.serialNumber = 123456;
  good.mac = MacAddress{0x00, 0x1a, 0x2b, 0x3c, 0x4d, 0x5e};
  DriveState silent = drive({192, 168, 124, 120}, DriveResult::failed, 9050);
  silent.serialNumber = 7;
  silent.failure = Failure{Stage::programming, 10, FailureReason::noAnswer, 0};
  DriveState absent = drive({10, 0, 0, 7}, DriveResult::failed, 30000);
  absent.failure = Failure{Stage::connection, std::nullopt, FailureReason::noAnswer, 0};
  return {good, silent, absent};
}

// The retry line with a command that repeats the words as they are.
std::string retryLine(const std::string& program, const std::vector<std::string>& options,
                      const std::vector<DriveState>& drives) {
  return ::retryLine(drives, [&](const std::vector<DriveAddress>& again) {
    std::string command = program + " -ip ";
    for (std::size_t i = 0; i < again.size(); ++i) {
      command += (i > 0 ? "," : "") + addressText(again[i]);
    }
    for (const auto& option : options) {
      command += " " + option;
    }
    return command;
  });
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
  EXPECT_TRUE(allSucceeded({drive({0, 0, 0, 1}, DriveResult::identified, 0),
                            drive({0, 0, 0, 2}, DriveResult::digestEqual, 0)}));
  EXPECT_FALSE(allSucceeded({drive({0, 0, 0, 1}, DriveResult::digestDiffers, 0)}));
  EXPECT_EQ(countLine(mixedRun()), "3 drives: 1 programmed and verified, 2 failed\n");
  EXPECT_EQ(countLine({drive({0, 0, 0, 1}, DriveResult::digestDiffers, 0)}),
            "1 drive: 1 digest differs\n");
  // -s and -c: drives already current succeed, those never started do not
  const std::vector<DriveState> canaried = {
      drive({0, 0, 0, 1}, DriveResult::current, 0), drive({0, 0, 0, 2}, DriveResult::programmed, 0),
      drive({0, 0, 0, 3}, DriveResult::failed, 0), drive({0, 0, 0, 4}, DriveResult::notStarted, 0),
      drive({0, 0, 0, 5}, DriveResult::notStarted, 0)};
  EXPECT_EQ(countLine(canaried),
            "5 drives: 1 programmed and verified, 1 already current, 1 failed, 2 not started\n");
  EXPECT_TRUE(allSucceeded({drive({0, 0, 0, 1}, DriveResult::current, 0)}));
  EXPECT_FALSE(allSucceeded({drive({0, 0, 0, 1}, DriveResult::notStarted, 0)}));
  EXPECT_FALSE(allSucceeded({drive({0, 0, 0, 1}, DriveResult::interrupted, 0)}));
  EXPECT_EQ(countLine({drive({0, 0, 0, 1}, DriveResult::digestEqual, 0),
                       drive({0, 0, 0, 2}, DriveResult::digestDiffers, 0),
                       drive({0, 0, 0, 3}, DriveResult::digestEqual, 0)}),
            "3 drives: 2 digest equal, 1 digest differs\n");
}

// An interrupted run: each drive as it stopped, those that hold part of an
// image told to be programmed again.
TEST(SummaryTest, InterruptedDrivesAreCounted) {
  DriveState partial = drive({10, 0, 0, 6}, DriveResult::interrupted, 4000);
  partial.failure = Failure{Stage::programming, 11, FailureReason::interrupted, 0, true};
  DriveState connecting = drive({10, 0, 0, 7}, DriveResult::interrupted, 4000);
  connecting.failure = Failure{Stage::connection, std::nullopt, FailureReason::interrupted, 0};
  const std::vector<DriveState> drives = {drive({10, 0, 0, 5}, DriveResult::programmed, 15749),
                                          partial, connecting};
  EXPECT_EQ(resultText(partial),
            "interrupted at programming, block 12: the drive holds part of the image, program it "
            "again");
  EXPECT_EQ(resultText(connecting), "interrupted at connection");
  DriveState silent = drive({10, 0, 0, 8}, DriveResult::failed, 4000);
  silent.failure = Failure{Stage::programming, 40, FailureReason::noAnswer, 0, true};
  EXPECT_EQ(resultText(silent),
            "failed at programming, block 41: no answer: the drive holds part of the image, "
            "program it again");
  EXPECT_EQ(countLine(drives), "3 drives: 1 programmed and verified, 2 interrupted\n");
  EXPECT_FALSE(allSucceeded(drives));
}

// The retry line names every drive that did not succeed (failed, not
// started, interrupted), in the run's order, and none when every drive
// succeeded: a digest that differs is an answer, not a failure to retry.
TEST(SummaryTest, TheRetryLineNamesTheDrivesToRunAgain) {
  const struct {
    std::vector<DriveState> drives;
    const char* line;
  } cases[] = {
      {mixedRun(), "Retry the failed drives: tovrin -ip 192.168.124.120,10.0.0.7 -fp fw.bin\n"},
      {{drive({0, 0, 0, 1}, DriveResult::digestEqual, 0),
        drive({0, 0, 0, 2}, DriveResult::digestDiffers, 0),
        drive({0, 0, 0, 3}, DriveResult::identified, 0)},
       ""},
      {{drive({0, 0, 0, 1}, DriveResult::failed, 0),
        drive({0, 0, 0, 2}, DriveResult::notStarted, 0),
        drive({0, 0, 0, 3}, DriveResult::current, 0)},
       "Retry the failed drives: tovrin -ip 0.0.0.1,0.0.0.2 -fp fw.bin\n"},
      {{drive({0, 0, 0, 1}, DriveResult::programmed, 0),
        drive({0, 0, 0, 2}, DriveResult::interrupted, 0),
        drive({0, 0, 0, 3}, DriveResult::interrupted, 0)},
       "Retry the failed drives: tovrin -ip 0.0.0.2,0.0.0.3 -fp fw.bin\n"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(retryLine("tovrin", {"-fp", "fw.bin"}, c.drives), c.line);
  }
}

// With a catalog: the firmware column names the releases (what a drive held
// and, programmed, what it holds now), the refused drives say why, and the
// retry line leaves them out: the same run would refuse them again.
TEST(SummaryTest, ReleasesOfARunWithACatalog) {
  Release v41;
  v41.manifest.version = "4.1";
  Release v42;
  v42.manifest.version = "4.2";
  v42.manifest.compatibility.models = {"KVB", "KVC"};
  const auto withRelease = [&](DriveResult result, const Release* held, bool digest) {
    DriveState d = drive({10, 0, 0, 5}, result, 1000);
    d.fileRelease = &v42;
    d.driveRelease = held;
    if (digest) {
      d.driveDigest = Digest{};
    }
    return d;
  };
  DriveState programmed = withRelease(DriveResult::programmed, &v41, true);
  DriveState unknown = withRelease(DriveResult::programmed, nullptr, true);
  unknown.address = {10, 0, 0, 6};
  DriveState wrongModel = withRelease(DriveResult::incompatible, &v41, true);
  wrongModel.address = {10, 0, 0, 7};
  wrongModel.withheld = Refusal::model;
  wrongModel.identity = UnitIdentity{};
  wrongModel.identity->modelCode = {'K', 'V', 'A', ' '};
  DriveState silent = withRelease(DriveResult::failed, nullptr, false);
  silent.address = {10, 0, 0, 8};
  silent.failure = Failure{Stage::connection, std::nullopt, FailureReason::noAnswer, 0};
  const std::vector<DriveState> drives = {programmed, unknown, wrongModel, silent};

  // clang-format off
  EXPECT_EQ(summaryTable(drives, true),
            "Address   Serial  MAC  FIRMWARE        Result                                                 Time\n"
            "10.0.0.5  -       -    4.1 -> 4.2      programmed and verified                               1.0 s\n"
            "10.0.0.6  -       -    unknown -> 4.2  programmed and verified                               1.0 s\n"
            "10.0.0.7  -       -    4.1             incompatible: model KVA; release 4.2 is for KVB, KVC  1.0 s\n"
            "10.0.0.8  -       -    -               failed at connection: no answer                       1.0 s\n");
  // clang-format on
  EXPECT_EQ(summaryTable(drives, false).find("FIRMWARE"), std::string::npos);
  EXPECT_EQ(countLine(drives), "4 drives: 2 programmed and verified, 1 incompatible, 1 failed\n");
  EXPECT_EQ(retryLine("tovrin", {}, drives), "Retry the failed drives: tovrin -ip 10.0.0.8\n");
}

}  // namespace
