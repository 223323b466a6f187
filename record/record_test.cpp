// Run records: the line for each kind of result, the time in UTC, and the
// file taking whole lines only.
#include "record/record.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <map>
#include <string>
#include <thread>
#include <vector>

namespace {

using std::chrono::milliseconds;
using std::chrono::sys_days;

constexpr Digest FILE_MD5 = {0x00, 0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77,
                             0x88, 0x99, 0xaa, 0xbb, 0xcc, 0xdd, 0xee, 0xff};
constexpr Digest OTHER_MD5 = {0xde, 0xad, 0xbe, 0xef};

DriveState finishedDrive(DriveResult result) {
  DriveState drive;
  drive.address = 0x0A000005;
  drive.result = result;
  drive.elapsed = milliseconds(15734);
  drive.finishedAt = sys_days{std::chrono::year{2026} / 12 / 7} + std::chrono::hours(16) +
                     std::chrono::minutes(20) + milliseconds(5007);
  return drive;
}

TEST(RecordTest, OneLinePerResult) {
  const RunInfo programRun{MODE_PROGRAM, "C:\\fw\\new.bin", FILE_MD5};
  DriveState programmed = finishedDrive(DriveResult::programmed);
  programmed.serialNumber = -2;
  programmed.mac = MacAddress{0x00, 0x1a, 0x2b, 0x3c, 0x4d, 0x5e};
  DriveState failed = finishedDrive(DriveResult::failed);
  failed.failure = Failure{Stage::programming, 10, FailureReason::refused, 0};
  DriveState differs = finishedDrive(DriveResult::digestDiffers);
  differs.driveDigest = OTHER_MD5;
  const std::string head = R"({"time":"2026-12-07T16:20:05.007Z","address":"10.0.0.5",)";
  const std::string md5 = R"("00112233445566778899aabbccddeeff")";
  struct Case {
    RunInfo run;
    DriveState drive;
    std::string line;
  };
  const std::vector<Case> cases = {
      {programRun, programmed,
       head +
           R"("mode":"program","result":"programmed","failedStage":null,"failedBlock":null,)"
           R"("reason":null,"serialNumber":-2,"mac":"00:1a:2b:3c:4d:5e",)"
           R"("file":"C:\\fw\\new.bin","fileDigest":)" +
           md5 + R"(,"driveDigest":null,"seconds":15.734})" + "\n"},
      {programRun, failed,
       head +
           R"("mode":"program","result":"failed","failedStage":"program","failedBlock":10,)"
           R"("reason":"refused with status 0","serialNumber":null,"mac":null,)"
           R"("file":"C:\\fw\\new.bin","fileDigest":)" +
           md5 + R"(,"driveDigest":null,"seconds":15.734})" + "\n"},
      {RunInfo{MODE_VERIFY, "fw.bin", FILE_MD5}, differs,
       head +
           R"("mode":"verify","result":"digest-differs","failedStage":null,"failedBlock":null,)"
           R"("reason":null,"serialNumber":null,"mac":null,"file":"fw.bin","fileDigest":)" +
           md5 + R"(,"driveDigest":"deadbeef000000000000000000000000","seconds":15.734})" + "\n"},
      {RunInfo{MODE_IDENTITY, "", std::nullopt}, finishedDrive(DriveResult::identified),
       head +
           R"("mode":"identity","result":"identified","failedStage":null,"failedBlock":null,)"
           R"("reason":null,"serialNumber":null,"mac":null,"file":null,"fileDigest":null,)"
           R"("driveDigest":null,"seconds":15.734})" +
           "\n"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(recordLine(c.run, c.drive), c.line);
  }
}

TEST(RecordTest, TimeIsUtcCalendarTime) {
  using std::chrono::year;
  const std::vector<std::pair<std::chrono::system_clock::time_point, const char*>> cases = {
      {sys_days{year{1970} / 1 / 1}, "1970-01-01T00:00:00.000Z"},
      {sys_days{year{2024} / 2 / 29} + milliseconds(86399999), "2024-02-29T23:59:59.999Z"},
      {sys_days{year{2100} / 3 / 1} + std::chrono::hours(1), "2100-03-01T01:00:00.000Z"},
  };
  for (const auto& [time, text] : cases) {
    EXPECT_EQ(utcTimeText(time), text);
  }
}

class RecordFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/tovrin-record-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir_ = pattern;
  }
  void TearDown() override { std::system(("rm -rf " + dir_).c_str()); }

  static std::vector<std::string> linesOf(const std::string& path) {
    std::ifstream in(path);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) {
      lines.push_back(line);
    }
    return lines;
  }

  std::string dir_;
};

// Records go after what the file held, and writers that share the file
// (two loaders, or a second run) never cut into each other's lines.
TEST_F(RecordFileTest, AppendsWholeLinesFromEveryWriter) {
  const std::string path = dir_ + "/runs.jsonl";
  std::ofstream(path) << "earlier line\n";
  const RunInfo run{MODE_PROGRAM, std::string(3000, 'p'), FILE_MD5};
  constexpr int WRITERS = 4;
  constexpr int RECORDS = 200;
  std::vector<std::thread> writers;
  for (int w = 0; w < WRITERS; ++w) {
    writers.emplace_back([&, w] {
      RecordFile file(path.c_str());
      ASSERT_TRUE(file.isOpen());
      DriveState drive = finishedDrive(DriveResult::programmed);
      drive.address = 0x0A000000u + static_cast<std::uint32_t>(w);
      for (int i = 0; i < RECORDS; ++i) {
        ASSERT_TRUE(file.append(run, drive));
      }
    });
  }
  for (auto& t : writers) {
    t.join();
  }
  const auto lines = linesOf(path);
  ASSERT_EQ(lines.size(), 1u + WRITERS * RECORDS);
  EXPECT_EQ(lines[0], "earlier line");
  // Every line is one writer's record, whole, and none went missing.
  std::map<std::string, int> seen;
  for (std::size_t i = 1; i < lines.size(); ++i) {
    ++seen[lines[i] + "\n"];
  }
  ASSERT_EQ(seen.size(), std::size_t{WRITERS});
  for (int w = 0; w < WRITERS; ++w) {
    DriveState drive = finishedDrive(DriveResult::programmed);
    drive.address = 0x0A000000u + static_cast<std::uint32_t>(w);
    EXPECT_EQ(seen[recordLine(run, drive)], RECORDS);
  }
}

TEST_F(RecordFileTest, PathsThatCantTakeRecords) {
  const std::string fifo = dir_ + "/fifo";
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  const std::string readOnly = dir_ + "/read-only";
  std::ofstream(readOnly) << "";
  ASSERT_EQ(chmod(readOnly.c_str(), 0400), 0);
  const bool root = geteuid() == 0;
  const std::vector<std::string> paths = {dir_ + "/no/such/folder/runs.jsonl", dir_, fifo};
  for (const auto& path : paths) {
    // a pipe nobody reads is refused at once instead of hanging the run
    EXPECT_FALSE(RecordFile(path.c_str()).isOpen()) << path;
  }
  if (!root) {
    EXPECT_FALSE(RecordFile(readOnly.c_str()).isOpen());
  }
  RecordFile none;
  EXPECT_FALSE(none.append(RunInfo{}, DriveState{}));
}

TEST_F(RecordFileTest, CreatesTheFile) {
  const std::string path = dir_ + "/new.jsonl";
  {
    RecordFile file(path.c_str());
    ASSERT_TRUE(file.isOpen());
    ASSERT_TRUE(file.append(RunInfo{}, finishedDrive(DriveResult::failed)));
  }
  EXPECT_EQ(linesOf(path).size(), 1u);
  struct stat info {};
  ASSERT_EQ(stat(path.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0600, 0600u);
}

}  // namespace
