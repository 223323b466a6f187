// Run records: the line for each kind of result, checked against the
// record schema, the time in UTC, and the file taking whole lines only.
#include "record/record.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <limits>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "testkit/process.h"
#include "testkit/record_schema.h"
#include "tovrin_version.h"

namespace {

using std::chrono::milliseconds;
using std::chrono::sys_days;

constexpr Digest FILE_MD5 = {0x00, 0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77,
                             0x88, 0x99, 0xaa, 0xbb, 0xcc, 0xdd, 0xee, 0xff};
constexpr Digest OTHER_MD5 = {0xde, 0xad, 0xbe, 0xef};

DriveState finishedDrive(DriveResult result) {
  DriveState drive;
  drive.address = {10, 0, 0, 5};
  drive.result = result;
  drive.elapsed = milliseconds(15734);
  drive.finishedAt = sys_days{std::chrono::year{2026} / 12 / 7} + std::chrono::hours(16) +
                     std::chrono::minutes(20) + milliseconds(5007);
  return drive;
}

UnitIdentity sampleIdentity() {
  UnitIdentity id;
  id.monitorRevision = 5;
  id.buildNumber = 1207;
  id.currentCapability = 12.5F;
  id.busSensorResolution = 0.1F;
  id.currentSensorResolution = 4096;
  id.serialNumber = -2;
  id.manufacturingCode = 77;
  id.hardwareRevision = {'1', '0', '2', 0};
  id.modelCode = {'K', 'V', '7', 0};
  id.vinNumber = {'V', 'I', 'N', '"', '1'};
  id.macAddress = {0x00, 0x1a, 0x2b, 0x3c, 0x4d, 0x5e};
  id.checksum = 0xFFFFFFFFu;
  return id;
}

// Two releases of a run's catalog: the file's, and the one a drive held.
Release releaseNamed(const char* version) {
  Release release;
  release.manifest.version = version;
  release.manifest.compatibility.models = {"KV7"};
  release.manifest.compatibility.hardwareRevisions = {{"1.03"}};
  return release;
}
const Release FILE_RELEASE = releaseNamed("4.2");
const Release HELD_RELEASE = releaseNamed("4.1");

const RunInfo PROGRAM_RUN{RunMode::program, "C:\\fw\\new.bin", FILE_MD5, 40,
                          "20261207T162000.000Z-4711"};

// A whole record: every field, in order, with the identity in full.
TEST(RecordTest, AProgrammedDriveWithEveryField) {
  DriveState drive = finishedDrive(DriveResult::programmed);
  drive.serialNumber = -2;
  drive.mac = MacAddress{0x00, 0x1a, 0x2b, 0x3c, 0x4d, 0x5e};
  drive.identity = sampleIdentity();
  drive.driveDigest = OTHER_MD5;
  drive.fileRelease = &FILE_RELEASE;
  drive.driveRelease = &HELD_RELEASE;
  drive.blocksDone = 40;
  const std::string line = recordLine(PROGRAM_RUN, drive);
  EXPECT_EQ(line,
            R"({"run":"20261207T162000.000Z-4711","version":")" + std::string(TOVRIN_VERSION) +
                R"(","time":"2026-12-07T16:20:05.007Z","address":"10.0.0.5","mode":"program",)"
                R"("result":"programmed","failedStage":null,"failedBlock":null,"blockCount":40,)"
                R"("reason":null,"status":null,"message":null,"imageIncomplete":false,)"
                R"("serialNumber":-2,"mac":"00:1a:2b:3c:4d:5e","identity":{"monitorRevision":5,)"
                R"("buildNumber":1207,"currentCapability":12.5,"busSensorResolution":0.100000001,)"
                R"("currentSensorResolution":4096,"serialNumber":-2,"manufacturingCode":77,)"
                R"("hardwareRevision":"1.02","modelCode":"KV7","vin":"VIN\"1",)"
                R"("mac":"00:1a:2b:3c:4d:5e","checksum":4294967295},"file":"C:\\fw\\new.bin",)"
                R"("fileDigest":"00112233445566778899aabbccddeeff",)"
                R"("driveDigest":"deadbeef000000000000000000000000",)"
                R"("fileVersion":"4.2","driveVersion":"4.1","seconds":15.734})"
                "\n");
  EXPECT_EQ(recordSchemaErrors(line), "");
}

// Each outcome's words: where and why it stopped, blocks counted from 1,
// and whether the drive is left with part of an image.
TEST(RecordTest, TheWordsOfEachOutcome) {
  const auto with = [](DriveResult result, auto change) {
    DriveState drive = finishedDrive(result);
    change(drive);
    return drive;
  };
  const RunInfo verifyRun{RunMode::verify, "fw.bin", FILE_MD5, 0, "20261207T162000.000Z-1"};
  const RunInfo identityRun{RunMode::identity, "", std::nullopt, 0, "20261207T162000.000Z-1"};
  const RunInfo planRun{RunMode::plan, "fw.bin", FILE_MD5, 40, "20261207T162000.000Z-1"};
  // Refused by the catalog after its reboot stage began: no block was sent.
  const auto withheld = [&](DriveResult result, Refusal refusal) {
    return with(result, [refusal](DriveState& d) {
      d.identity = sampleIdentity();
      d.stage = Stage::reboot;
      d.withheld = refusal;
      d.fileRelease = &FILE_RELEASE;
      d.driveRelease = refusal == Refusal::newerOnDrive ? &HELD_RELEASE : nullptr;
    });
  };
  const struct {
    const char* name;
    RunInfo run;
    DriveState drive;
    std::vector<std::string> fields;
  } cases[] = {
      {"refused block",
       PROGRAM_RUN,
       with(DriveResult::failed,
            [](DriveState& d) {
              d.blocksDone = 10;
              d.failure = Failure{Stage::programming, 10, FailureReason::refused, 0, true};
            }),
       {R"("result":"failed","failedStage":"programming","failedBlock":11,"blockCount":40,)"
        R"("reason":"refused","status":0,"message":"failed at )",
        R"(","imageIncomplete":true,)"}},
      {"no connection",
       PROGRAM_RUN,
       with(DriveResult::failed,
            [](DriveState& d) {
              d.failure = Failure{Stage::connection, std::nullopt, FailureReason::noAnswer, 0};
            }),
       {R"("failedStage":"connection","failedBlock":null,)",
        R"("reason":"no-answer","status":null,)", R"("imageIncomplete":false,)"}},
      {"verify refused after every block",
       PROGRAM_RUN,
       with(DriveResult::failed,
            [](DriveState& d) {
              d.blocksDone = 40;
              d.failure = Failure{Stage::verify, std::nullopt, FailureReason::refused, 3, true};
            }),
       {R"("failedStage":"verify","failedBlock":null,)", R"("status":3,)",
        R"("imageIncomplete":true,)"}},
      {"current",
       PROGRAM_RUN,
       with(DriveResult::current,
            [](DriveState& d) {
              d.verifiedCurrent = true;
              d.driveDigest = FILE_MD5;
            }),
       {R"("result":"current","failedStage":null,)", R"("reason":null,)",
        R"("imageIncomplete":false,)", R"("driveDigest":"00112233445566778899aabbccddeeff")"}},
      // a drive that held the file and was never sent a block keeps a whole image
      {"current, reboot unanswered",
       PROGRAM_RUN,
       with(DriveResult::failed,
            [](DriveState& d) {
              d.verifiedCurrent = true;
              d.failure = Failure{Stage::reboot, std::nullopt, FailureReason::noAnswer, 0};
            }),
       {R"("failedStage":"reboot",)", R"("imageIncomplete":false,)"}},
      {"not started",
       PROGRAM_RUN,
       with(DriveResult::notStarted, [](DriveState&) {}),
       {R"("result":"not-started","failedStage":null,"failedBlock":null,)",
        R"x("reason":"canary-failed","status":null,"message":"not started (a canary failed)",)x",
        R"("imageIncomplete":false,)", R"("identity":null,)"}},
      {"not started, the run interrupted during the canaries",
       PROGRAM_RUN,
       with(DriveResult::notStarted, [](DriveState& d) { d.heldBack = HeldBack::interrupted; }),
       {R"("result":"not-started","failedStage":null,"failedBlock":null,)",
        R"x("reason":"interrupted","status":null,"message":"not started (interrupted)",)x"}},
      {"interrupted in programming",
       PROGRAM_RUN,
       with(DriveResult::interrupted,
            [](DriveState& d) {
              d.stage = Stage::programming;
              d.blocksDone = 4;
            }),
       {R"("result":"interrupted","failedStage":"programming","failedBlock":5,)",
        R"("reason":"interrupted",)", R"("imageIncomplete":true,)"}},
      // stopped in the reboot pause: the drive verified its image and rebooted
      {"interrupted after the reboot was confirmed",
       PROGRAM_RUN,
       with(DriveResult::interrupted,
            [](DriveState& d) {
              d.stage = Stage::reboot;
              d.blocksDone = 40;
              d.failure = Failure{Stage::reboot, std::nullopt, FailureReason::interrupted, 0};
            }),
       {R"("result":"interrupted","failedStage":"reboot","failedBlock":null,)",
        R"("reason":"interrupted",)", R"("imageIncomplete":false,)"}},
      {"identity probe without digest",
       identityRun,
       with(DriveResult::failed,
            [](DriveState& d) {
              d.failure = Failure{Stage::identityProbe, std::nullopt, FailureReason::noDigest, 0};
            }),
       {R"("mode":"identity",)", R"("failedStage":"monitor state",)", R"("blockCount":null,)",
        R"("reason":"no-digest",)", R"("file":null,"fileDigest":null,)"}},
      {"digest differs",
       verifyRun,
       with(DriveResult::digestDiffers, [](DriveState& d) { d.driveDigest = OTHER_MD5; }),
       {R"("result":"digest-differs","failedStage":null,)", R"("reason":null,)",
        R"("blockCount":null,)", R"("driveDigest":"deadbeef000000000000000000000000")"}},
      {"incompatible",
       PROGRAM_RUN,
       withheld(DriveResult::incompatible, Refusal::hardwareRevision),
       {R"("result":"incompatible","failedStage":null,"failedBlock":null,"blockCount":40,)"
        R"("reason":"hardware-revision","status":null,"message":"incompatible: hardware )"
        R"(revision 1.02; release 4.2 is for 1.03",)"
        R"("imageIncomplete":false,)",
        R"("fileVersion":"4.2","driveVersion":null,)"}},
      {"newer on the drive",
       PROGRAM_RUN,
       withheld(DriveResult::newerOnDrive, Refusal::newerOnDrive),
       {R"("result":"newer-on-drive","failedStage":null,"failedBlock":null,"blockCount":40,)"
        R"("reason":null,)",
        R"("imageIncomplete":false,)", R"("fileVersion":"4.2","driveVersion":"4.1",)"}},
      {"plan",
       planRun,
       with(DriveResult::wouldProgram, [](DriveState&) {}),
       {R"("mode":"plan","result":"would-program",)", R"("blockCount":40,)", R"("reason":null,)",
        R"("imageIncomplete":false,)"}},
      // JSON has no NaN: a real that is none is null
      {"identity with a real that is no number",
       identityRun,
       with(DriveResult::identified,
            [](DriveState& d) {
              d.identity = sampleIdentity();
              d.identity->currentCapability = std::numeric_limits<float>::quiet_NaN();
              d.identity->busSensorResolution = std::numeric_limits<float>::infinity();
            }),
       {R"("result":"identified",)", R"("currentCapability":null,"busSensorResolution":null,)"}},
  };
  std::string all;
  for (const auto& c : cases) {
    const std::string line = recordLine(c.run, c.drive);
    for (const auto& field : c.fields) {
      EXPECT_NE(line.find(field), std::string::npos) << c.name << ": " << field << "\n" << line;
    }
    all += line;
  }
  EXPECT_EQ(recordSchemaErrors(all), "");
}

TEST(RecordTest, RunIdIsStartTimeAndProcess) {
  const auto start = sys_days{std::chrono::year{2026} / 12 / 7} + std::chrono::hours(21) +
                     std::chrono::minutes(45) + milliseconds(1123);
  EXPECT_EQ(runIdText(start, 4711), "20261207T214501.123Z-4711");
}

// The schema check itself tells a record that breaks the schema.
TEST(RecordTest, SchemaRefusesWhatBreaksIt) {
  const std::string good = recordLine(PROGRAM_RUN, finishedDrive(DriveResult::programmed));
  EXPECT_EQ(recordSchemaErrors(good), "");
  const auto replaced = [&](const std::string& from, const std::string& to) {
    std::string line = good;
    line.replace(line.find(from), from.size(), to);
    return line;
  };
  for (const std::string& bad :
       {replaced(R"("result":"programmed")", R"("result":"done")"),
        replaced(R"("failedBlock":null)", R"("failedBlock":0)"),
        replaced(R"("seconds":15.734)", R"("seconds":"15.734")"), replaced(R"("mac":null,)", ""),
        replaced(R"("file":)", R"("extra":1,"file":)"), std::string("{\"run\":1}\n")}) {
    EXPECT_NE(recordSchemaErrors(bad), "") << bad;
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

// Each test's files in a folder of its own.
class RecordFileTest : public ::testing::Test {
 protected:
  ScratchDir dir_;
};

// Records go after what the file held, and writers that share the file
// (two loaders, or a second run) never cut into each other's lines.
TEST_F(RecordFileTest, AppendsWholeLinesFromEveryWriter) {
  const std::string path = dir_.file("runs.jsonl");
  writeFile(path, "earlier line\n");
  const RunInfo run{RunMode::program, std::string(3000, 'p'), FILE_MD5, 1, "r"};
  constexpr int WRITERS = 4;
  constexpr int RECORDS = 200;
  std::vector<std::thread> writers;
  for (int w = 0; w < WRITERS; ++w) {
    writers.emplace_back([&, w] {
      RecordFile file(path.c_str());
      ASSERT_TRUE(file.isOpen());
      DriveState drive = finishedDrive(DriveResult::programmed);
      drive.address = {10, 0, 0, static_cast<std::uint8_t>(w)};
      for (int i = 0; i < RECORDS; ++i) {
        ASSERT_TRUE(file.append(run, drive));
      }
    });
  }
  for (auto& t : writers) {
    t.join();
  }
  const auto lines = linesOf(readFile(path));
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
    drive.address = {10, 0, 0, static_cast<std::uint8_t>(w)};
    EXPECT_EQ(seen[recordLine(run, drive)], RECORDS);
  }
}

TEST_F(RecordFileTest, PathsThatCantTakeRecords) {
  const std::string fifo = dir_.file("fifo");
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  const std::string readOnly = dir_.file("read-only");
  writeFile(readOnly, "");
  ASSERT_EQ(chmod(readOnly.c_str(), 0400), 0);
  const bool root = geteuid() == 0;
  const std::vector<std::string> paths = {dir_.file("no/such/folder/runs.jsonl"), dir_.path, fifo};
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
  const std::string path = dir_.file("new.jsonl");
  {
    RecordFile file(path.c_str());
    ASSERT_TRUE(file.isOpen());
    ASSERT_TRUE(file.append(RunInfo{}, finishedDrive(DriveResult::failed)));
  }
  EXPECT_EQ(linesOf(readFile(path)).size(), 1u);
  struct stat info {};
  ASSERT_EQ(stat(path.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0600, 0600u);
}

}  // namespace
