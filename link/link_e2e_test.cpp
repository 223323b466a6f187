// The built loader where only real sockets and processes show the link's
// behaviour: one loader per port, addresses that can't be a drive's or that
// no network of the PC leads to, and a console reader that goes away
// half-way through programming.
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <utility>
#include <vector>

#include "testkit/drive_lan.h"

namespace {

using std::chrono::milliseconds;
using std::chrono::seconds;

const std::string BIND_FAILED =
    "\nERROR: udpSocket bind failed\nERROR: Another program (another loader?) holds UDP port "
    "8995; close it and try again";

// A second loader on the same PC is refused at once and leaves the first
// one's run alone, which completes.
TEST(LinkRun, ASecondLoaderIsRefusedAtOnceAndDisturbsNothing) {
  DriveLan lan({.firmware = sampleFile(3000)});
  ASSERT_TRUE(lan.ready);
  BackgroundProcess first = startProcess(lan.loader("-ip D0 -fp fw.bin"));
  ASSERT_TRUE(waitForOutput(first, "Establishing", seconds(10)));
  for (const char* mode : {"-u", "-v"}) {
    const ProcessResult second = lan.run(std::string("-ip D0 -fp fw.bin ") + mode, seconds(20));
    EXPECT_EQ(second.exitCode, 1);
    EXPECT_EQ(second.out, asConsoleBytes(BANNER + BIND_FAILED)) << mode;
    EXPECT_LT(second.seconds, 1.0) << mode;
  }
  const ProcessResult run = stopProcess(first, seconds(60));
  EXPECT_TRUE(run.out.ends_with(asConsoleBytes(REBOOT + "DONE\n"))) << run.out;
  lan.stopDrives();
  EXPECT_EQ(lan.image(), expectedImage(sampleFile(3000)));
}

// A port held by another program (here the simulated drive, bound to the
// PC's address): refused at once, with nothing sent.
TEST(LinkRun, APortHeldByAnotherProgramIsRefusedAtOnce) {
  DriveLan lan({.startDrives = false});
  BackgroundProcess holder = startProcess(
      lan.lab->inHost({drivesimPath(), "--ip", lan.lab->hostIp, "--idle-timeout", "20"}));
  ASSERT_TRUE(waitForOutput(holder, "ready", seconds(10)));
  const ProcessResult run = lan.run("-ip D0 -u", seconds(20));
  const ProcessResult held = stopProcess(holder, milliseconds(0));
  EXPECT_EQ(run.exitCode, 1);
  EXPECT_EQ(run.out, asConsoleBytes(BANNER + BIND_FAILED));
  EXPECT_LT(run.seconds, 1.0);
  EXPECT_EQ(held.out.find("rx "), std::string::npos) << held.out;
}

// No drive can be at an address of the PC (its adapter's, loopback's, or
// 0.0.0.0 in any spelling), where the loader would hear its own commands:
// one line, nothing sent. Hosts of the loopback network other than the
// PC's own stay usable.
TEST(LinkRun, ThePCsOwnAddressIsRefusedAtOnce) {
  DriveLan lan({.startDrives = false});
  for (const auto& [given, shown] :
       std::vector<std::pair<std::string, std::string>>{{"HOST", lan.lab->hostIp},
                                                        {"127.0.0.1", "127.0.0.1"},
                                                        {"0.0.0.0", "0.0.0.0"},
                                                        {"0", "0.0.0.0"}}) {
    const ProcessResult run = lan.run("-ip " + given + " -u", seconds(20));
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(run.out, asConsoleBytes(BANNER + "\nERROR: " + shown +
                                      " is an address of this PC, not of a drive"));
    EXPECT_LT(run.seconds, 1.0);
  }
}

// An address that no network of the PC leads to (behind the gateway, or the
// LAN's broadcast address): one failed send, one line, the end.
TEST(LinkRun, AnUnreachableAddressIsOneLine) {
  if (!canMakeNamespaces()) {
    GTEST_SKIP() << "needs a private network (network namespaces, as root)";
  }
  for (const LabShape shape : {LabShape::gatewayRoute, LabShape::noDefaultRoute}) {
    DriveLan lan({.lab = {.requireIsolation = true, .shape = shape}, .startDrives = false});
    for (const char* ip : {"10.99.99.99", "192.168.124.255"}) {
      const ProcessResult run = lan.run(std::string("-ip ") + ip + " -u", seconds(20));
      EXPECT_EQ(run.exitCode, 1);
      EXPECT_EQ(run.out, asConsoleBytes(BANNER + "ERROR: server sendto failed\nERROR: " + ip +
                                        " is not on a network this PC is attached to"))
          << ip;
      EXPECT_LT(run.seconds, 1.0) << ip;
    }
  }
}

// A reader that goes away after the first bytes (`tovrin ... | head`) does
// not end the run: the drive gets the whole image.
TEST(LinkRun, AClosedOutputPipeDoesNotStopProgramming) {
  DriveLan lan({.firmware = sampleFile(5000)});
  ASSERT_TRUE(lan.ready);
  std::string command = "(";
  for (const std::string& a : lan.loader("-ip D0 -fp fw.bin")) {
    command += "'" + a + "' ";
  }
  command += "; echo $? >'" + lan.dir.file("status") + "') | head -c 10 >/dev/null";
  runProcess({"sh", "-c", command}, seconds(60));
  EXPECT_EQ(readFile(lan.dir.file("status")), "1\n");
  lan.stopDrives();
  EXPECT_EQ(lan.image(), expectedImage(sampleFile(5000)));
}

}  // namespace
