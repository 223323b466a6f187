// `tovrin -d` as a user runs it, with real broadcasts on a LAN of network
// namespaces that each test makes for itself, where simulated drives answer.
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "testkit/netlab.h"
#include "testkit/process.h"

namespace {

const std::string OPENING = "\nRetrieving IP Address of all Drives on LAN, please wait....\n";
const std::string PREFIX = "\n\t-->  ";
const char* const NO_NAMESPACES = "not root: no network namespaces, so nothing is broadcast";

std::size_t count(const std::string& text, const std::string& what) {
  std::size_t n = 0;
  for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) {
    ++n;
  }
  return n;
}

std::vector<std::string> tovrinDiscovery() {
  std::vector<std::string> argv = tovrinCommand();
  argv.push_back("-d");
  return argv;
}

// What discovery wrote, from its opening line on. A run takes five probes
// one second apart after a 50 ms start, whatever the drives do.
std::string outputOnTime(const ProcessResult& r) {
  EXPECT_FALSE(r.timedOut);
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_EQ(r.err, "");
  EXPECT_GE(r.seconds, 5.05);
  EXPECT_LT(r.seconds, 6.25);
  const std::size_t at = r.out.find(asConsoleBytes(OPENING));
  return at == std::string::npos ? "<no opening line in: " + r.out + ">" : r.out.substr(at);
}

// Runs `tovrin -d` in the lab with one simulated drive per entry of drives
// (its drivesim options) answering; returns the output and all drives' logs.
std::pair<std::string, std::string> discover(const NetLab& lab,
                                             const std::vector<std::vector<std::string>>& drives) {
  std::vector<BackgroundProcess> sims;
  for (const auto& options : drives) {
    std::vector<std::string> argv = {drivesimPath(), "--discovery", "--idle-timeout", "30"};
    argv.insert(argv.end(), options.begin(), options.end());
    sims.push_back(startProcess(lab.inDrive(argv)));
    EXPECT_TRUE(waitForOutput(sims.back(), "ready", std::chrono::seconds(10)));
  }
  const ProcessResult r = runProcess(lab.inHost(tovrinDiscovery()), std::chrono::seconds(20));
  std::string logs;
  for (BackgroundProcess& sim : sims) {
    logs += stopProcess(sim, std::chrono::seconds(0)).out;
  }
  return {outputOnTime(r), logs};
}

TEST(DiscoveryRunTest, NoDriveAnswering) {
  const auto lab = makeNetLab();
  if (!lab->isolated) {
    GTEST_SKIP() << NO_NAMESPACES;
  }
  EXPECT_EQ(discover(*lab, {}).first, asConsoleBytes(OPENING));
}

// Each drive is listed once, in the order of first answers, whatever else
// comes: a copy of the probe (byte 4 is 0x11), a 4-byte datagram ending in
// 0x6D right behind a listed drive's answer, a 600-byte answer (cut, not
// refused), and answers too late for the run, which does not wait for them.
TEST(DiscoveryRunTest, DrivesAreListedOnceInTheOrderOfTheirFirstAnswers) {
  const auto lab = makeNetLab({.extraDriveAddresses = 6});
  if (!lab->isolated) {
    GTEST_SKIP() << NO_NAMESPACES;
  }
  const std::vector<std::string>& x = lab->extraDriveIps;
  const std::string probeCopy = "0a0e20001100000000002323000000006d0000";
  const auto [out, logs] =
      discover(*lab, {{"--ip", x[0] + "," + x[1] + "," + lab->driveIp + "," + x[2],
                       "--discovery-delays", "0,200,400,6000"},
                      {"--ip", x[3], "--discovery-delays", "100", "--discovery-reply", probeCopy},
                      {"--ip", x[4], "--discovery-delays", "300", "--discovery-reply", "0000006d"},
                      {"--ip", x[5], "--discovery-delays", "600", "--discovery-reply",
                       "000000006d" + std::string(1190, '6')}});

  EXPECT_EQ(out, asConsoleBytes(OPENING + PREFIX + x[0] + " " + PREFIX + x[1] + " " + PREFIX +
                                lab->driveIp + " " + PREFIX + x[5] + " "));
  // Each of the four drives got the five 19-byte probes and answered them all.
  EXPECT_EQ(count(logs, "probe " + lab->hostIp + ":"), 20u) << logs;
  EXPECT_EQ(count(logs, " size=19"), 20u) << logs;
  for (const std::string& ip : {x[0], x[1], lab->driveIp, x[3], x[4], x[5]}) {
    EXPECT_EQ(count(logs, "reply " + ip + " -> " + lab->hostIp + ":"), 5u) << ip << logs;
  }
}

TEST(DiscoveryRunTest, OfAHundredAndOneDrivesAHundredAreListed) {
  const auto lab = makeNetLab({.extraDriveAddresses = 101});
  if (!lab->isolated) {
    GTEST_SKIP() << NO_NAMESPACES;
  }
  std::string ips;
  for (const std::string& ip : lab->extraDriveIps) {
    ips += (ips.empty() ? "" : ",") + ip;
  }
  const std::string out = discover(*lab, {{"--ip", ips}}).first;

  // 100 lines, each a different one of the drives.
  std::size_t listed = 0;
  for (const std::string& ip : lab->extraDriveIps) {
    const std::size_t lines = count(out, asConsoleBytes(PREFIX + ip + " "));
    EXPECT_LE(lines, 1u) << ip;
    listed += lines;
  }
  EXPECT_EQ(listed, 100u) << out;
  EXPECT_EQ(count(out, asConsoleBytes(PREFIX)), 100u) << out;
}

// Without a route for the limited broadcast (only loopback, in a namespace of
// the run's own) every probe fails, reported as it happens, a second apart.
TEST(DiscoveryRunTest, EveryProbeFailsWithoutARoute) {
  if (!canMakeNamespaces()) {
    GTEST_SKIP() << NO_NAMESPACES;
  }
  std::vector<std::string> argv = {
      "unshare", "--net", "--", "sh", "-c", "ip link set lo up && exec \"$@\"", "sh"};
  const std::vector<std::string> tovrin = tovrinDiscovery();
  argv.insert(argv.end(), tovrin.begin(), tovrin.end());
  const std::string failed = "\nERROR: server sendto failed";

  BackgroundProcess run = startProcess(argv);
  std::vector<double> seen;  // when each failure line appeared
  while (seen.size() < 5 &&
         std::chrono::steady_clock::now() - run.started < std::chrono::seconds(8)) {
    const std::size_t n = count(readFile(run.outPath), asConsoleBytes(failed));
    while (seen.size() < n) {
      seen.push_back(
          std::chrono::duration<double>(std::chrono::steady_clock::now() - run.started).count());
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  const ProcessResult r = stopProcess(run, std::chrono::seconds(3));

  EXPECT_EQ(outputOnTime(r), asConsoleBytes(OPENING + failed + failed + failed + failed + failed));
  ASSERT_EQ(seen.size(), 5u);
  for (std::size_t i = 1; i < seen.size(); ++i) {
    EXPECT_NEAR(seen[i] - seen[i - 1], 1.0, 0.25) << "between failures " << i << " and " << i + 1;
  }
}

}  // namespace
