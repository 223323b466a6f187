// Drives switched off among drives that answer, end to end: the built loader
// programs three simulated drives while more addresses of the same LAN are
// held by nobody, so that the PC's address resolution never completes and
// every datagram to them waits in the system until it gives up. The present
// drives keep the pace of a run of their own; each absent address ends with
// its connection failure after its 1000 tries. Needs a private network
// (network namespaces, as root) and skips without one.
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "testkit/drive_lan.h"

namespace {

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
  DriveLan lan({.drives = 3, .firmware = FILE_BYTES, .lab = {.requireIsolation = true}});
  ASSERT_TRUE(lan.ready);
  std::string list = lan.list();
  std::vector<std::string> nobody;
  for (int i = 0; i < absent; ++i) {
    nobody.push_back("192.168.124." + std::to_string(200 + i));
    list += "," + nobody.back();
  }
  const ProcessResult r = lan.run("-ip " + list + " -fp fw.bin", seconds(90));
  const auto times = lan.taken();

  EXPECT_FALSE(r.timedOut);
  EXPECT_EQ(r.exitCode, 1);
  // The absent addresses' 1000 tries, 30 ms apart, set the run's length.
  EXPECT_GT(r.seconds, 30.0);
  EXPECT_LT(r.seconds, 40.0);
  for (std::size_t i = 0; i < lan.addresses.size(); ++i) {
    const std::string& address = lan.addresses[i];
    EXPECT_TRUE(lan.image(i) == IMAGE) << address;
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
