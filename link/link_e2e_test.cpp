// The built loader where only real sockets and processes show the link's
// behaviour: one loader per port, addresses that can't be a drive's or that
// no network of the PC leads to, and a console reader that goes away
// half-way through programming.
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "testkit/expected.h"
#include "testkit/netlab.h"
#include "testkit/process.h"

namespace {

using Args = std::vector<std::string>;
using std::chrono::milliseconds;
using std::chrono::seconds;

Args loaderArgs(const NetLab& lab, const std::string& ip, const Args& rest) {
  Args argv = tovrinCommand();
  argv.insert(argv.end(), {"-ip", ip});
  argv.insert(argv.end(), rest.begin(), rest.end());
  return lab.inHost(argv);
}

BackgroundProcess startDrive(const NetLab& lab, const std::string& imageOut = "") {
  Args argv = {drivesimPath(), "--ip", lab.driveIp, "--idle-timeout", "60"};
  if (!imageOut.empty()) {
    argv.insert(argv.end(), {"--image-out", imageOut});
  }
  BackgroundProcess drive = startProcess(lab.inDrive(argv));
  EXPECT_TRUE(waitForOutput(drive, "ready", seconds(10))) << "drivesim did not start";
  return drive;
}

const std::string BIND_FAILED =
    "\nERROR: udpSocket bind failed\nERROR: Another program (another loader?) holds UDP port "
    "8995; close it and try again";

// A second loader on the same PC is refused at once and leaves the first
// one's run alone, which completes.
TEST(LinkRun, ASecondLoaderIsRefusedAtOnceAndDisturbsNothing) {
  ScratchDir dir;
  auto lab = makeNetLab();
  writeFile(dir.file("fw.bin"), sampleFile(3000));
  BackgroundProcess drive = startDrive(*lab, dir.file("drive.bin"));
  BackgroundProcess first =
      startProcess(loaderArgs(*lab, lab->driveIp, {"-fp", dir.file("fw.bin")}));
  ASSERT_TRUE(waitForOutput(first, "Establishing", seconds(10)));
  for (const char* mode : {"-u", "-v"}) {
    const ProcessResult second =
        runProcess(loaderArgs(*lab, lab->driveIp, {mode, "-fp", dir.file("fw.bin")}), seconds(20));
    EXPECT_EQ(second.exitCode, 1);
    EXPECT_EQ(second.out, asConsoleBytes(BANNER + BIND_FAILED)) << mode;
    EXPECT_LT(second.seconds, 1.0) << mode;
  }
  const ProcessResult run = stopProcess(first, seconds(60));
  stopProcess(drive, milliseconds(0));
  EXPECT_TRUE(run.out.ends_with(asConsoleBytes(REBOOT + "DONE\n"))) << run.out;
  EXPECT_EQ(readFile(dir.file("drive.bin")), expectedImage(sampleFile(3000)));
}

// A port held by another program (here the simulated drive, bound to the
// PC's address): refused at once, with nothing sent.
TEST(LinkRun, APortHeldByAnotherProgramIsRefusedAtOnce) {
  auto lab = makeNetLab();
  BackgroundProcess holder =
      startProcess(lab->inHost({drivesimPath(), "--ip", lab->hostIp, "--idle-timeout", "20"}));
  ASSERT_TRUE(waitForOutput(holder, "ready", seconds(10)));
  const ProcessResult run = runProcess(loaderArgs(*lab, lab->driveIp, {"-u"}), seconds(20));
  const ProcessResult held = stopProcess(holder, milliseconds(0));
  EXPECT_EQ(run.exitCode, 1);
  EXPECT_EQ(run.out, asConsoleBytes(BANNER + BIND_FAILED));
  EXPECT_LT(run.seconds, 1.0);
  EXPECT_EQ(held.out.find("rx "), std::string::npos) << held.out;
}

// No drive can be at the PC's own address: one line, nothing sent. Hosts
// of the loopback network other than the PC's own stay usable.
TEST(LinkRun, ThePCsOwnAddressIsRefusedAtOnce) {
  auto lab = makeNetLab();
  for (const std::string& own : {lab->hostIp, std::string("0.0.0.0")}) {
    const ProcessResult run = runProcess(loaderArgs(*lab, own, {"-u"}), seconds(20));
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(run.out, asConsoleBytes(BANNER + "\nERROR: " + own +
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
    auto lab = makeNetLab({.requireIsolation = true, .shape = shape});
    for (const char* ip : {"10.99.99.99", "192.168.124.255"}) {
      const ProcessResult run = runProcess(loaderArgs(*lab, ip, {"-u"}), seconds(20));
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
  ScratchDir dir;
  auto lab = makeNetLab();
  writeFile(dir.file("fw.bin"), sampleFile(5000));
  BackgroundProcess drive = startDrive(*lab, dir.file("drive.bin"));
  std::string command = "(";
  for (const std::string& a : loaderArgs(*lab, lab->driveIp, {"-fp", dir.file("fw.bin")})) {
    command += "'" + a + "' ";
  }
  command += "; echo $? >'" + dir.file("status") + "') | head -c 10 >/dev/null";
  runProcess({"sh", "-c", command}, seconds(60));
  EXPECT_EQ(readFile(dir.file("status")), "1\n");
  stopProcess(drive, milliseconds(0));
  EXPECT_EQ(readFile(dir.file("drive.bin")), expectedImage(sampleFile(5000)));
}

}  // namespace
