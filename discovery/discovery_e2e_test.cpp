// `tovrin -d` as a user runs it, with real broadcasts on a LAN of network
// namespaces that each test makes for itself, where simulated drives answer.
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "testkit/expected.h"
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

// What discovery wrote, from its opening line on. A run takes five rounds
// one second apart, whatever the drives do.
std::string outputOnTime(const ProcessResult& r) {
  EXPECT_FALSE(r.timedOut);
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_EQ(r.err, "");
  EXPECT_GE(r.seconds, 5.0);
  EXPECT_LT(r.seconds, 6.25);
  const std::size_t at = r.out.find(asConsoleBytes(OPENING));
  return at == std::string::npos ? "<no opening line in: " + r.out + ">" : r.out.substr(at);
}

// One simulated drive: its drivesim options, and on which LAN of the lab.
struct Drive {
  std::vector<std::string> options;
  bool onSecondLan = false;
};

// Runs `tovrin -d` in the lab with the drives answering; returns the output
// and all drives' logs.
std::pair<std::string, std::string> discover(const NetLab& lab, const std::vector<Drive>& drives) {
  std::vector<BackgroundProcess> sims;
  for (const Drive& drive : drives) {
    std::vector<std::string> argv = {drivesimPath(), "--discovery", "--idle-timeout", "30"};
    argv.insert(argv.end(), drive.options.begin(), drive.options.end());
    sims.push_back(startProcess(drive.onSecondLan ? lab.inSecondDrive(argv) : lab.inDrive(argv)));
    EXPECT_TRUE(waitForOutput(sims.back(), "ready", std::chrono::seconds(10)));
  }
  const ProcessResult r = runProcess(lab.inHost(tovrinDiscovery()), std::chrono::seconds(20));
  std::string logs;
  for (BackgroundProcess& sim : sims) {
    logs += stopProcess(sim, std::chrono::seconds(0)).out;
  }
  return {outputOnTime(r), logs};
}

// The networks users have: a drive is listed however the PC's routes go,
// and on a PC with two adapters the drives on both are, each once, also a
// drive that hears the probes of both adapters.
TEST(DiscoveryRunTest, DrivesAreFoundOnEveryAdapterWhateverTheRoutes) {
  struct Case {
    LabShape shape;
    bool secondDrive;  // a drive on the second LAN too
  };
  for (const Case c : {Case{LabShape::gatewayRoute, false}, Case{LabShape::noDefaultRoute, false},
                       Case{LabShape::twoLans, true}, Case{LabShape::twoAdaptersOneLan, false}}) {
    SCOPED_TRACE(static_cast<int>(c.shape));
    const auto lab = makeNetLab({.shape = c.shape});
    if (!lab->isolated) {
      GTEST_SKIP() << NO_NAMESPACES;
    }
    std::vector<Drive> drives = {{{"--ip", lab->driveIp}}};
    std::string expected = OPENING + PREFIX + lab->driveIp + " ";
    if (c.secondDrive) {
      drives.push_back({{"--ip", lab->secondDriveIp, "--discovery-delays", "100"}, true});
      expected += PREFIX + lab->secondDriveIp + " ";
    }
    const auto [out, logs] = discover(*lab, drives);

    EXPECT_EQ(out, asConsoleBytes(expected)) << logs;
    // Each adapter's probes went out in every round.
    EXPECT_GE(count(logs, "probe " + lab->hostIp + ":"), 5u) << logs;
    if (!lab->secondHostIp.empty()) {
      EXPECT_GE(count(logs, "probe " + lab->secondHostIp + ":"), 5u) << logs;
    }
  }
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
  const auto [out, logs] = discover(
      *lab, {{{"--ip", x[0] + "," + x[1] + "," + lab->driveIp + "," + x[2], "--discovery-delays",
               "0,200,400,6000"}},
             {{"--ip", x[3], "--discovery-delays", "100", "--discovery-reply", probeCopy}},
             {{"--ip", x[4], "--discovery-delays", "300", "--discovery-reply", "0000006d"}},
             {{"--ip", x[5], "--discovery-delays", "600", "--discovery-reply",
               "000000006d" + std::string(1190, '6')}}});

  EXPECT_EQ(out, asConsoleBytes(OPENING + PREFIX + x[0] + " " + PREFIX + x[1] + " " + PREFIX +
                                lab->driveIp + " " + PREFIX + x[5] + " "));
  // Each of the four drives got the five rounds' 19-byte probes, to the
  // limited and to the subnet broadcast, and answered them all.
  EXPECT_EQ(count(logs, "probe " + lab->hostIp + ":"), 40u) << logs;
  EXPECT_EQ(count(logs, " size=19"), 40u) << logs;
  for (const std::string& ip : {x[0], x[1], lab->driveIp, x[3], x[4], x[5]}) {
    EXPECT_EQ(count(logs, "reply " + ip + " -> " + lab->hostIp + ":"), 10u) << ip << logs;
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
  const std::string out = discover(*lab, {{{"--ip", ips}}}).first;

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

// A PC with loopback only has no adapter to probe from: every round fails,
// reported as it happens, a second apart.
TEST(DiscoveryRunTest, EveryRoundFailsWithoutAnAdapter) {
  const auto lab = makeNetLab({.shape = LabShape::loopbackOnly});
  if (!lab->isolated) {
    GTEST_SKIP() << NO_NAMESPACES;
  }
  const std::vector<std::string> argv = lab->inHost(tovrinDiscovery());
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

// A drive that discovery lists on the LAN without the default route can be
// programmed, verified and identified: the loader binds the address of the
// adapter its route to the drive leaves by.
TEST(DiscoveryRunTest, ADriveOnTheLanWithoutTheDefaultRouteCanBeProgrammed) {
  const auto lab = makeNetLab({.shape = LabShape::twoLans});
  if (!lab->isolated) {
    GTEST_SKIP() << NO_NAMESPACES;
  }
  ScratchDir dir;
  const std::string file = sampleFile(2 * 512 + 100);
  const std::string image = expectedImage(file);
  writeFile(dir.file("fw.bin"), file);
  const std::string loaded = BANNER + fileLines(image);
  const std::string digest = image.substr(0, 16);
  const struct {
    std::vector<std::string> args;
    std::string prints;
  } runs[] = {{{"-fp", dir.file("fw.bin")},
               loaded + CONNECTING + COUNTDOWN + MONITOR + IDENTITY + PROGRAMMING +
                   marks(image.size()) + VERIFYING + "DONE" + REBOOT + "DONE\n"},
              {{"-fp", dir.file("fw.bin"), "-v"}, loaded + IDENTITY + verifyLines(digest, digest)},
              {{"-u"}, BANNER + IDENTITY}};
  BackgroundProcess drive =
      startProcess(lab->inDrive({drivesimPath(), "--discovery", "--ip", lab->driveIp,
                                 "--idle-timeout", "60", "--image-out", dir.file("image.bin")}));
  ASSERT_TRUE(waitForOutput(drive, "ready", std::chrono::seconds(10)));
  const ProcessResult found = runProcess(lab->inHost(tovrinDiscovery()), std::chrono::seconds(20));
  EXPECT_NE(found.out.find(asConsoleBytes(PREFIX + lab->driveIp + " ")), std::string::npos)
      << found.out;
  for (const auto& run : runs) {
    std::vector<std::string> argv = tovrinCommand();
    argv.insert(argv.end(), {"-ip", lab->driveIp});
    argv.insert(argv.end(), run.args.begin(), run.args.end());
    ProcessResult r = runProcess(lab->inHost(argv), std::chrono::seconds(60));
    EXPECT_EQ(r.exitCode, 1) << argv.back();
    EXPECT_EQ(takeCountdown(r.out) >= 1, run.prints.find(COUNTDOWN) != std::string::npos);
    EXPECT_EQ(r.out, asConsoleBytes(run.prints)) << argv.back();
  }
  const std::string log = stopProcess(drive, std::chrono::seconds(1)).out;
  EXPECT_TRUE(readFile(dir.file("image.bin")) == image) << "the drive holds another image";
  // Every command came from the host's address on the drive's LAN.
  EXPECT_NE(log.find("rx " + lab->hostIp + ":"), std::string::npos) << log;
  EXPECT_EQ(log.find("rx " + lab->secondHostIp + ":"), std::string::npos) << log;
}

// More drives answering than a run serves: -d lists the first 100 and
// names the one left out once, after its list; -a serves the first 100 and
// names the one left out once, at the end of the run, which ends with
// status 1 although every drive served completed.
TEST(DiscoveryRun, DrivesBeyondAHundredAreNamedOnceAndTheRunFails) {
  if (!canMakeNamespaces()) {
    GTEST_SKIP() << NO_NAMESPACES;
  }
  auto lab = makeNetLab({.extraDriveAddresses = 100, .requireIsolation = true});
  std::string list = lab->driveIp;
  for (const std::string& ip : lab->extraDriveIps) {
    list += "," + ip;
  }
  BackgroundProcess drives = startProcess(lab->inDrive(
      {drivesimPath(), "--discovery", "--quiet", "--idle-timeout", "60", "--ip", list}));
  ASSERT_TRUE(waitForOutput(drives, "ready", std::chrono::seconds(10)));
  const std::string leftOut = "\nERROR: 1 more drive answered than a run serves (100), left out: ";
  std::vector<std::string> listing = tovrinCommand();
  listing.push_back("-d");
  const ProcessResult d = runProcess(lab->inHost(listing), std::chrono::seconds(60));
  std::vector<std::string> argv = tovrinCommand();
  argv.insert(argv.end(), {"-a", "-u"});
  const ProcessResult r = runProcess(lab->inHost(argv), std::chrono::seconds(60));
  stopProcess(drives, std::chrono::seconds(0));

  EXPECT_EQ(count(d.out, PREFIX), 100u);
  ASSERT_EQ(count(d.out, leftOut), 1u) << d.out;
  // The last text of -d, after the last drive listed.
  const std::string unlisted = d.out.substr(d.out.find(leftOut) + leftOut.size());
  EXPECT_EQ(count(unlisted, "\n"), 0u) << d.out;
  EXPECT_EQ(count(d.out, PREFIX + unlisted + " "), 0u) << unlisted;

  EXPECT_EQ(r.exitCode, 1);
  EXPECT_EQ(count(r.out, PREFIX), 100u);
  ASSERT_EQ(count(r.out, leftOut), 1u) << r.out.substr(0, 3000);
  const std::size_t named = r.out.find(leftOut);
  const std::size_t after = named + leftOut.size();
  const std::string address = r.out.substr(after, r.out.find('\n', after) - after);
  EXPECT_EQ(count(r.out, PREFIX + address + " "), 0u) << address;
  const std::size_t summary = r.out.find("100 drives: 100 identity read\n");
  ASSERT_NE(summary, std::string::npos)
      << r.out.substr(r.out.size() > 3000 ? r.out.size() - 3000 : 0);
  EXPECT_GT(named, summary) << "named before the run's end";
}

}  // namespace
