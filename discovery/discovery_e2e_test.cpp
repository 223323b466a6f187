// `tovrin -d` as a user runs it, with real broadcasts on a private LAN of
// network namespaces that each test makes for itself; simulated drives on the
// other side answer the probes. Without namespaces (not root) nothing is
// broadcast: the tests skip.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "testkit/netlab.h"
#include "testkit/process.h"

namespace {

const std::string OPENING = "\nRetrieving IP Address of all Drives on LAN, please wait....\n";
const std::string SENDTO_FAILED = "\nERROR: server sendto failed";
// Five probes one second apart, after a 50 ms start.
constexpr double RUN_SECONDS = 5.05;
constexpr double RUN_SLACK_SECONDS = 1.2;

std::string line(const std::string& ip) { return "\n\t-->  " + ip + " "; }

std::string joined(const std::vector<std::string>& ips) {
  std::string s;
  for (const auto& ip : ips) {
    s += (s.empty() ? "" : ",") + ip;
  }
  return s;
}

// The part of the output that discovery wrote: from its opening line on.
std::string discoveryOutput(const ProcessResult& r) {
  const std::size_t at = r.out.find(asConsoleBytes(OPENING));
  return at == std::string::npos ? "<no opening line in: " + r.out + ">" : r.out.substr(at);
}

std::size_t count(const std::string& text, const std::string& what) {
  std::size_t n = 0;
  for (std::size_t at = text.find(what); at != std::string::npos;
       at = text.find(what, at + what.size())) {
    ++n;
  }
  return n;
}

std::vector<std::string> tovrinDiscovery() {
  auto argv = tovrinCommand();
  argv.push_back("-d");
  return argv;
}

void expectOnTime(const ProcessResult& r) {
  EXPECT_FALSE(r.timedOut);
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_EQ(r.err, "");
  EXPECT_GE(r.seconds, RUN_SECONDS);
  EXPECT_LT(r.seconds, RUN_SECONDS + RUN_SLACK_SECONDS);
}

// A simulated drive (or several addresses of one) on the drive side of the
// lab, answering probes.
BackgroundProcess startDrives(const NetLab& lab, const std::vector<std::string>& options) {
  std::vector<std::string> argv = {drivesimPath(), "--discovery", "--idle-timeout", "30"};
  argv.insert(argv.end(), options.begin(), options.end());
  BackgroundProcess sim = startProcess(lab.inDrive(argv));
  EXPECT_TRUE(waitForOutput(sim, "ready", std::chrono::seconds(10)))
      << stopProcess(sim, std::chrono::seconds(0)).out;
  return sim;
}

std::string stopDrives(BackgroundProcess& sim) {
  return stopProcess(sim, std::chrono::seconds(0)).out;
}

#define REQUIRE_ISOLATED_LAB(lab)                                                             \
  if (!(lab)->isolated) {                                                                     \
    GTEST_SKIP() << "not root: no network namespaces; discovery broadcasts only inside them"; \
  }

TEST(DiscoveryRunTest, NoDriveAnswering) {
  auto lab = makeNetLab({.extraDriveAddresses = 0, .requireIsolation = false});
  REQUIRE_ISOLATED_LAB(lab);
  const ProcessResult r = runProcess(lab->inHost(tovrinDiscovery()), std::chrono::seconds(20));
  EXPECT_EQ(discoveryOutput(r), asConsoleBytes(OPENING));
  expectOnTime(r);
}

TEST(DiscoveryRunTest, ADriveAnsweringEveryProbeIsListedOnce) {
  auto lab = makeNetLab({.extraDriveAddresses = 0, .requireIsolation = false});
  REQUIRE_ISOLATED_LAB(lab);
  BackgroundProcess sim = startDrives(*lab, {"--ip", lab->driveIp});
  const ProcessResult r = runProcess(lab->inHost(tovrinDiscovery()), std::chrono::seconds(20));
  const std::string log = stopDrives(sim);

  EXPECT_EQ(discoveryOutput(r), asConsoleBytes(OPENING + line(lab->driveIp)));
  expectOnTime(r);
  // Five probes, 19 bytes each, all answered, from one source port.
  EXPECT_EQ(count(log, "probe " + lab->hostIp + ":"), 5u) << log;
  EXPECT_EQ(count(log, " size=19"), 5u) << log;
  EXPECT_EQ(count(log, "reply " + lab->driveIp + " -> " + lab->hostIp + ":"), 5u) << log;
}

// Drives are listed in the order of their first answers; a drive whose
// answer comes only after the run has ended is not, and the run does not
// wait for it.
TEST(DiscoveryRunTest, DrivesAreListedInTheOrderOfTheirFirstAnswers) {
  auto lab = makeNetLab({.extraDriveAddresses = 3, .requireIsolation = false});
  REQUIRE_ISOLATED_LAB(lab);
  const auto& extra = lab->extraDriveIps;
  BackgroundProcess sim =
      startDrives(*lab, {"--ip", joined({lab->driveIp, extra[0], extra[1], extra[2]}),
                         "--discovery-delays", "400,0,200,6000"});
  const ProcessResult r = runProcess(lab->inHost(tovrinDiscovery()), std::chrono::seconds(20));
  stopDrives(sim);

  EXPECT_EQ(discoveryOutput(r),
            asConsoleBytes(OPENING + line(extra[0]) + line(extra[1]) + line(lab->driveIp)));
  expectOnTime(r);
}

// What counts as an answer: byte 4 is 0x6D, in a datagram of 5 bytes or
// more (a long one is cut, not refused). Each kind of answer comes from a
// drive of its own.
TEST(DiscoveryRunTest, OnlyDatagramsMarkedAtByteFourAreAnswers) {
  auto lab = makeNetLab({.extraDriveAddresses = 3, .requireIsolation = false});
  REQUIRE_ISOLATED_LAB(lab);
  const auto& extra = lab->extraDriveIps;
  const std::string probeCopy = "0a0e20001100000000002323000000006d0000";
  std::string longReply = "000000006d";
  longReply.resize(2 * 600, '6');
  struct Drive {
    std::string ip;
    std::vector<std::string> options;
  };
  const std::vector<Drive> drives = {
      {lab->driveIp, {"--discovery-reply", "000000006d"}},
      {extra[0], {"--discovery-reply", "0000006d"}},
      {extra[1], {"--discovery-reply", probeCopy}},
      {extra[2], {"--discovery-reply", longReply, "--discovery-delays", "300"}},
  };
  std::vector<BackgroundProcess> sims;
  for (const Drive& d : drives) {
    std::vector<std::string> options = {"--ip", d.ip};
    options.insert(options.end(), d.options.begin(), d.options.end());
    sims.push_back(startDrives(*lab, options));
  }
  const ProcessResult r = runProcess(lab->inHost(tovrinDiscovery()), std::chrono::seconds(20));
  for (std::size_t i = 0; i < sims.size(); ++i) {
    const std::string log = stopDrives(sims[i]);
    EXPECT_EQ(count(log, "reply " + drives[i].ip + " -> "), 5u) << log;
  }

  EXPECT_EQ(discoveryOutput(r), asConsoleBytes(OPENING + line(lab->driveIp) + line(extra[2])));
  expectOnTime(r);
}

TEST(DiscoveryRunTest, AtMostAHundredDrivesAreListed) {
  auto lab = makeNetLab({.extraDriveAddresses = 101, .requireIsolation = false});
  REQUIRE_ISOLATED_LAB(lab);
  const std::set<std::string> answering(lab->extraDriveIps.begin(), lab->extraDriveIps.end());
  ASSERT_EQ(answering.size(), 101u);
  BackgroundProcess sim = startDrives(*lab, {"--ip", joined(lab->extraDriveIps)});
  const ProcessResult r = runProcess(lab->inHost(tovrinDiscovery()), std::chrono::seconds(20));
  const std::string log = stopDrives(sim);

  const std::string out = discoveryOutput(r);
  const std::string head = asConsoleBytes(OPENING);
  ASSERT_EQ(out.substr(0, head.size()), head);
  std::set<std::string> listed;
  const std::string prefix = asConsoleBytes("\n\t-->  ");
  std::size_t lines = 0;
  for (std::size_t at = out.find(prefix); at != std::string::npos; at = out.find(prefix, at + 1)) {
    const std::size_t start = at + prefix.size();
    const std::size_t end = out.find(' ', start);
    ASSERT_NE(end, std::string::npos) << out;
    listed.insert(out.substr(start, end - start));
    ++lines;
  }
  EXPECT_EQ(lines, 100u) << out;
  EXPECT_EQ(listed.size(), 100u) << out;
  EXPECT_TRUE(std::includes(answering.begin(), answering.end(), listed.begin(), listed.end()))
      << out;
  EXPECT_EQ(count(log, "probe "), 5u) << log;
  expectOnTime(r);
}

// No route for the limited broadcast at all (only loopback, in a namespace
// of the run's own): every probe fails, each failure is reported as it
// happens, about a second apart, and the run keeps its length.
TEST(DiscoveryRunTest, EveryProbeFailingWithoutARoute) {
  if (!canMakeNamespaces()) {
    GTEST_SKIP() << "not root: no network namespaces; discovery broadcasts only inside them";
  }
  std::vector<std::string> argv = {
      "unshare", "--net", "--", "sh", "-c", "ip link set lo up && exec \"$@\"", "sh"};
  const auto tovrin = tovrinDiscovery();
  argv.insert(argv.end(), tovrin.begin(), tovrin.end());

  BackgroundProcess run = startProcess(argv);
  const auto started = std::chrono::steady_clock::now();
  std::vector<double> seen;  // when the n-th failure line appeared
  while (std::chrono::steady_clock::now() - started < std::chrono::seconds(8)) {
    const std::size_t n = count(readFile(run.outPath), asConsoleBytes(SENDTO_FAILED));
    while (seen.size() < n) {
      seen.push_back(
          std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count());
    }
    if (n >= 5) {
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  const ProcessResult r = stopProcess(run, std::chrono::seconds(3));

  std::string expected = OPENING;
  for (int i = 0; i < 5; ++i) {
    expected += SENDTO_FAILED;
  }
  EXPECT_EQ(discoveryOutput(r), asConsoleBytes(expected));
  expectOnTime(r);
  ASSERT_EQ(seen.size(), 5u);
  for (std::size_t i = 1; i < seen.size(); ++i) {
    EXPECT_NEAR(seen[i] - seen[i - 1], 1.0, 0.25) << "between failures " << i << " and " << i + 1;
  }
}

}  // namespace
