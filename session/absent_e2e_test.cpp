// Drives switched off among drives that answer, end to end: the built loader
// programs three simulated drives while more addresses of the same LAN are
// held by nobody, so that the PC's address resolution never completes and
// every datagram to them waits in the system until it gives up. The present
// drives keep the pace of a run of their own; each absent address ends with
// its connection failure after its 1000 tries. Needs a private network
// (network namespaces, as root) and skips without one.
#include <gtest/gtest.h>

#include <chrono>
#include <sstream>
#include <string>
#include <vector>

#include "testkit/expected.h"
#include "testkit/netlab.h"
#include "testkit/process.h"

namespace {

using Args = std::vector<std::string>;
using std::chrono::seconds;

const std::string FILE_BYTES = sampleFile(40 * 512 - 100);  // 40 blocks
const std::string IMAGE = expectedImage(FILE_BYTES);
constexpr int BLOCKS = 40;
// From a drive's first CMD_CONNECT to its CMD_REBOOT, at the least: the
// connect's pause, the monitor pause, the identity request's, a pause per
// block and verify's.
// Under the sanitizers the loader and the simulated drive run several times
// slower and share the processors with the analysers, so the pace is
// measured only in the plain build; the images and results count in both.
#ifdef TOVRIN_SANITIZED
constexpr bool PACING_MEASURED = false;
#else
constexpr bool PACING_MEASURED = true;
#endif
constexpr double FLOOR_SECONDS = (30 + 2500 + 150 + BLOCKS * 60 + 120) / 1000.0;

std::string rowOf(const std::string& out, const std::string& address) {
  std::istringstream in(out);
  for (std::string line; std::getline(in, line);) {
    if (line.starts_with(address + " ")) {
      return line;
    }
  }
  return "";
}

class AbsentDrives : public testing::TestWithParam<int> {
 protected:
  void SetUp() override {
    if (!canMakeNamespaces()) {
      GTEST_SKIP() << "needs a private network (network namespaces, as root)";
    }
  }
};

TEST_P(AbsentDrives, FailAloneWhileThePresentKeepTheirPace) {
  const int absent = GetParam();
  auto lab = makeNetLab({.extraDriveAddresses = 2, .requireIsolation = true});
  ScratchDir dir;
  writeFile(dir.file("fw.bin"), FILE_BYTES);
  const Args present = {lab->driveIp, lab->extraDriveIps.at(0), lab->extraDriveIps.at(1)};
  std::string list = present[0] + "," + present[1] + "," + present[2];
  Args nobody;
  for (int i = 0; i < absent; ++i) {
    nobody.push_back("192.168.124." + std::to_string(200 + i));
    list += "," + nobody.back();
  }
  BackgroundProcess drive = startProcess(lab->inDrive(
      {drivesimPath(), "--idle-timeout", "90", "--timestamps", "--ip",
       present[0] + "," + present[1] + "," + present[2], "--image-out", dir.file("%a.bin")}));
  ASSERT_TRUE(waitForOutput(drive, "ready", seconds(10))) << "drivesim did not start";
  Args loader = tovrinCommand();
  loader.insert(loader.end(), {"-ip", list, "-fp", dir.file("fw.bin")});
  const ProcessResult r = runProcess(lab->inHost(loader), seconds(90));
  const std::string log = stopProcess(drive, seconds(0)).out;

  EXPECT_FALSE(r.timedOut);
  EXPECT_EQ(r.exitCode, 1);
  // The absent addresses' 1000 tries, 30 ms apart, set the run's length.
  EXPECT_GT(r.seconds, 30.0);
  EXPECT_LT(r.seconds, 40.0);
  const auto times = takenCommands(log);
  for (const std::string& address : present) {
    EXPECT_TRUE(readFile(dir.file(address + ".bin")) == IMAGE) << address;
    EXPECT_NE(rowOf(r.out, address).find("programmed and verified"), std::string::npos)
        << rowOf(r.out, address);
    ASSERT_TRUE(times.contains(address)) << address;
    const auto& commands = times.at(address);
    double lastBlock = -1;
    double longestGap = 0;
    int blocks = 0;
    for (const auto& [code, at] : commands) {
      if (code == 17) {
        longestGap = lastBlock < 0 ? 0 : std::max(longestGap, at - lastBlock);
        lastBlock = at;
        ++blocks;
      }
    }
    ASSERT_EQ(commands.back().code, 19) << address;
    if (!PACING_MEASURED) {
      continue;
    }
    EXPECT_EQ(blocks, BLOCKS) << address << ": blocks sent again";
    EXPECT_LE(longestGap, 0.25) << address;
    EXPECT_LE(commands.back().at - commands.front().at, 1.15 * FLOOR_SECONDS) << address;
  }
  for (const std::string& address : nobody) {
    EXPECT_NE(rowOf(r.out, address).find("failed at connection: no answer"), std::string::npos)
        << address << ": " << rowOf(r.out, address);
  }
}

INSTANTIATE_TEST_SUITE_P(Trust, AbsentDrives, testing::Values(5, 50),
                         [](const testing::TestParamInfo<int>& p) {
                           return std::to_string(p.param) + "Absent";
                         });

}  // namespace
