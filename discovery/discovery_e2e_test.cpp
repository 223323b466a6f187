// `tovrin -d` as a user runs it, with real broadcasts on a LAN of network
// namespaces that each test makes for itself, where simulated drives answer.
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "testkit/drive_lan.h"

namespace {

const std::string OPENING = "\nRetrieving IP Address of all Drives on LAN, please wait....\n";
const std::string PREFIX = "\n\t-->  ";
const char* const NO_NAMESPACES = "not root: no network namespaces, so nothing is broadcast";

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

// Runs `tovrin -d` on the lan; returns what it wrote from its opening line
// on, and the drives' logs.
std::pair<std::string, std::string> discover(DriveLan& lan) {
  const std::string out = outputOnTime(lan.run("-d", std::chrono::seconds(20)));
  return {out, lan.stopDrives()};
}

// The networks users have: a drive is listed however the PC's routes go,
// and on a PC with two adapters the drives on both are, each once, also a
// drive that hears the probes of both adapters.
TEST(DiscoveryRunTest, DrivesAreFoundOnEveryAdapterWhateverTheRoutes) {
  for (const LabShape shape : {LabShape::gatewayRoute, LabShape::noDefaultRoute, LabShape::twoLans,
                               LabShape::twoAdaptersOneLan}) {
    SCOPED_TRACE(static_cast<int>(shape));
    // Set member by member: g++ 12 at -O3 takes a nested designated
    // initializer in this loop for an uninitialised string.
    DriveLanOptions options;
    options.driveArgs = "--discovery";
    options.lab.shape = shape;
    options.driveOnSecondLan = shape == LabShape::twoLans;
    options.secondLanArgs = "--discovery-delays 100";
    DriveLan lan(std::move(options));
    if (!lan.lab->isolated) {
      GTEST_SKIP() << NO_NAMESPACES;
    }
    ASSERT_TRUE(lan.ready);
    std::string expected = OPENING;
    for (const std::string& ip : lan.addresses) {
      expected += PREFIX + ip + " ";
    }
    const auto [out, logs] = discover(lan);
    EXPECT_EQ(out, asConsoleBytes(expected)) << logs;
    // Each adapter's probes went out in every round.
    EXPECT_GE(countOf(logs, "probe " + lan.lab->hostIp + ":"), 5u) << logs;
    if (!lan.lab->secondHostIp.empty()) {
      EXPECT_GE(countOf(logs, "probe " + lan.lab->secondHostIp + ":"), 5u) << logs;
    }
  }
}

// Over real sockets a 600-byte answer is cut to the area and listed, an
// answer too late for the run is not waited for, and the drives hear the
// five rounds' 19-byte probes to the limited and to the subnet broadcast.
// (Which answers count, once each in the order of the first, is the
// discovery's test on the fake network.)
TEST(DiscoveryRunTest, ALongAnswerIsCutAndListedALateOneIsNotWaitedFor) {
  DriveLan lan({.drives = 3,
                .driveArgs = "--discovery --discovery-delays 0,6000,100 --drive D2 "
                             "--discovery-reply 000000006d" +
                             std::string(1190, '6')});
  if (!lan.lab->isolated) {
    GTEST_SKIP() << NO_NAMESPACES;
  }
  ASSERT_TRUE(lan.ready);
  const auto [out, logs] = discover(lan);
  EXPECT_EQ(out, asConsoleBytes(OPENING + PREFIX + lan.addresses[0] + " " + PREFIX +
                                lan.addresses[2] + " "));
  EXPECT_EQ(countOf(logs, "probe " + lan.lab->hostIp + ":"), 10u) << logs;
  EXPECT_EQ(countOf(logs, " size=19"), 10u) << logs;
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
    const std::size_t n = countOf(readFile(run.outPath), asConsoleBytes(failed));
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
  DriveLan lan({.driveArgs = "--discovery",
                .firmware = sampleFile(2 * 512 + 100),
                .lab = {.shape = LabShape::twoLans}});
  if (!lan.lab->isolated) {
    GTEST_SKIP() << NO_NAMESPACES;
  }
  ASSERT_TRUE(lan.ready);
  const ProcessResult found = lan.run("-d", std::chrono::seconds(20));
  EXPECT_NE(found.out.find(asConsoleBytes(PREFIX + lan.addresses[0] + " ")), std::string::npos)
      << found.out;
  const ProcessResult programmed = lan.run("-ip D0 -fp fw.bin", std::chrono::seconds(60));
  EXPECT_TRUE(programmed.out.ends_with(asConsoleBytes(REBOOT + "DONE\n"))) << programmed.out;
  const ProcessResult verified = lan.run("-ip D0 -fp fw.bin -v", std::chrono::seconds(60));
  EXPECT_NE(verified.out.find("Verifyed Successfully"), std::string::npos) << verified.out;
  EXPECT_TRUE(
      lan.run("-ip D0 -u", std::chrono::seconds(60)).out.ends_with(asConsoleBytes(IDENTITY)));
  const std::string log = lan.stopDrives();
  EXPECT_TRUE(lan.image() == expectedImage(sampleFile(2 * 512 + 100))) << "another image";
  // Every command came from the host's address on the drive's LAN.
  EXPECT_NE(log.find("rx " + lan.lab->hostIp + ":"), std::string::npos) << log;
  EXPECT_EQ(log.find("rx " + lan.lab->secondHostIp + ":"), std::string::npos) << log;
}

// More drives answering than a run serves: -d lists the first 100 and
// names the one left out once, after its list; -a serves the first 100 and
// names the one left out once, at the end of the run, which ends with
// status 1 although every drive served completed. Of the 101 answers that
// come at once, every one is heard.
TEST(DiscoveryRun, DrivesBeyondAHundredAreNamedOnceAndTheRunFails) {
  if (!canMakeNamespaces()) {
    GTEST_SKIP() << NO_NAMESPACES;
  }
  DriveLan lan(
      {.drives = 101, .driveArgs = "--discovery --quiet", .lab = {.requireIsolation = true}});
  ASSERT_TRUE(lan.ready);
  const std::string leftOut = "\nERROR: 1 more drive answered than a run serves (100), left out: ";
  const ProcessResult d = lan.run("-d", std::chrono::seconds(60));
  const ProcessResult r = lan.run("-a -u", std::chrono::seconds(60));

  EXPECT_EQ(countOf(d.out, PREFIX), 100u);
  ASSERT_EQ(countOf(d.out, leftOut), 1u) << d.out;
  // The last text of -d, after the last drive listed.
  const std::string unlisted = d.out.substr(d.out.find(leftOut) + leftOut.size());
  EXPECT_EQ(countOf(unlisted, "\n"), 0u) << d.out;
  EXPECT_EQ(countOf(d.out, PREFIX + unlisted + " "), 0u) << unlisted;

  EXPECT_EQ(r.exitCode, 1);
  EXPECT_EQ(countOf(r.out, PREFIX), 100u);
  ASSERT_EQ(countOf(r.out, leftOut), 1u) << r.out.substr(0, 3000);
  const std::size_t named = r.out.find(leftOut);
  const std::size_t after = named + leftOut.size();
  const std::string address = r.out.substr(after, r.out.find('\n', after) - after);
  EXPECT_EQ(countOf(r.out, PREFIX + address + " "), 0u) << address;
  const std::size_t summary = r.out.find("100 drives: 100 identity read\n");
  ASSERT_NE(summary, std::string::npos)
      << r.out.substr(r.out.size() > 3000 ? r.out.size() - 3000 : 0);
  EXPECT_GT(named, summary) << "named before the run's end";
}

}  // namespace
