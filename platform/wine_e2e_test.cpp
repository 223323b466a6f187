// Tovrin.exe under Wine against the simulated drive: a programming, a verify
// and an identity run must print the loader's texts, line feeds as CR LF, and
// leave the expected image in the drive. All runs happen in one sandbox of
// scripts/wine-sandbox (a network namespace with only loopback up), the drive
// at 127.0.0.2. Skipped, saying why, without a Windows build
// (TOVRIN_WINDOWS_EXE) or without root.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <vector>

#include "testkit/expected.h"
#include "testkit/netlab.h"
#include "testkit/process.h"

// CMakeLists.txt defines these four together, given a Windows build.
#ifndef TOVRIN_WINDOWS_EXE
#define TOVRIN_WINDOWS_EXE ""
#define TOVRIN_WINE ""
#define TOVRIN_WINE_PREFIX ""
#define TOVRIN_WINE_SANDBOX ""
#endif

namespace {

using namespace std::chrono_literals;
using Argv = std::vector<std::string>;

// "wine-sandbox VERB NAME ..." with the Wine settings of the build.
Argv sandbox(const Argv& args) {
  Argv argv = {"env", std::string("TOVRIN_WINE=") + TOVRIN_WINE,
               std::string("TOVRIN_WINE_PREFIX=") + TOVRIN_WINE_PREFIX, TOVRIN_WINE_SANDBOX};
  argv.insert(argv.end(), args.begin(), args.end());
  return argv;
}

// Removes the sandbox, however the test ends.
struct SandboxDown {
  std::string name;
  ~SandboxDown() { runProcess(sandbox({"down", name}), 60s); }
};

TEST(WindowsBuild, ProgramsVerifiesAndIdentifiesTheDriveUnderWine) {
  if (std::string(TOVRIN_WINDOWS_EXE).empty()) {
    GTEST_SKIP() << "no Windows build to test: configure with -DTOVRIN_WINDOWS_EXE=<Tovrin.exe>"
                    " (scripts/test does when MinGW-w64 and Wine are at hand)";
  }
  if (geteuid() != 0) {
    GTEST_SKIP() << "the Windows build's network runs need root for private namespaces";
  }
  // Tovrin.exe writes in text mode; the test kit's console texts follow suit.
  setenv("TOVRIN_TEXT_MODE", "1", 1);
  ScratchDir dir;
  // 77 blocks and a partial one: progress marks and a short last block.
  const std::string file = sampleFile(77 * 512 + 300);
  const std::string image = expectedImage(file);
  writeFile(dir.file("fw.bin"), file);
  const std::string loaded = BANNER + fileLines(image);
  const std::string digest = image.substr(0, 16);
  const struct {
    Argv args;
    std::string prints;
  } runs[] = {{{"-fp", dir.file("fw.bin")},
               loaded + CONNECTING + COUNTDOWN + MONITOR + IDENTITY + PROGRAMMING +
                   marks(image.size()) + VERIFYING + "DONE" + REBOOT + "DONE\n"},
              {{"-fp", dir.file("fw.bin"), "-v"}, loaded + IDENTITY + verifyLines(digest, digest)},
              {{"-u"}, BANNER + IDENTITY}};

  const std::string name = "e2e-" + std::to_string(getpid());
  const SandboxDown down{name};
  const ProcessResult up = runProcess(sandbox({"up", name}), 150s);
  ASSERT_EQ(up.exitCode, 0) << up.out << up.err;
  BackgroundProcess drive =
      startProcess(sandbox({"exec", name, "--", drivesimPath(), "--ip", "127.0.0.2",
                            "--idle-timeout", "90", "--image-out", dir.file("image.bin")}));
  ASSERT_TRUE(waitForOutput(drive, "ready", 15s)) << stopProcess(drive, 1s).out;
  for (const auto& run : runs) {
    Argv argv = sandbox({"exec", name, TOVRIN_WINDOWS_EXE, "-ip", "127.0.0.2"});
    argv.insert(argv.end(), run.args.begin(), run.args.end());
    ProcessResult r = runProcess(argv, 60s);
    EXPECT_EQ(r.exitCode, 1) << argv.back();
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(takeCountdown(r.out) >= 1, run.prints.find(COUNTDOWN) != std::string::npos);
    EXPECT_EQ(r.out, asConsoleBytes(run.prints));
  }
  stopProcess(drive, 1s);
  EXPECT_TRUE(readFile(dir.file("image.bin")) == image) << "the drive holds another image";
}

// Tovrin.exe lists the drives of both adapters of a PC on two LANs (the
// default route on one of them): the adapters come from the Windows adapter
// list, and each adapter probes its own LAN. The sandbox's namespace is the
// host side of the lab.
TEST(WindowsBuild, DiscoveryListsTheDrivesOnBothAdaptersUnderWine) {
  if (std::string(TOVRIN_WINDOWS_EXE).empty()) {
    GTEST_SKIP() << "no Windows build to test: configure with -DTOVRIN_WINDOWS_EXE=<Tovrin.exe>";
  }
  if (geteuid() != 0) {
    GTEST_SKIP() << "the Windows build's network runs need root for private namespaces";
  }
  setenv("TOVRIN_TEXT_MODE", "1", 1);
  const std::string name = "disc-" + std::to_string(getpid());
  const SandboxDown down{name};
  const ProcessResult up = runProcess(sandbox({"up", name}), 150s);
  ASSERT_EQ(up.exitCode, 0) << up.out << up.err;
  ProcessResult ns = runProcess(sandbox({"exec", name, "--", "ip", "netns", "identify"}), 10s);
  while (!ns.out.empty() && ns.out.back() == '\n') {
    ns.out.pop_back();
  }
  ASSERT_FALSE(ns.out.empty()) << ns.err;
  const auto lab =
      makeNetLab({.requireIsolation = true, .shape = LabShape::twoLans, .hostNamespace = ns.out});
  std::vector<BackgroundProcess> drives;
  drives.push_back(startProcess(
      lab->inDrive({drivesimPath(), "--discovery", "--idle-timeout", "60", "--ip", lab->driveIp})));
  drives.push_back(
      startProcess(lab->inSecondDrive({drivesimPath(), "--discovery", "--idle-timeout", "60",
                                       "--ip", lab->secondDriveIp, "--discovery-delays", "200"})));
  for (BackgroundProcess& drive : drives) {
    ASSERT_TRUE(waitForOutput(drive, "ready", 15s)) << stopProcess(drive, 1s).out;
  }

  const ProcessResult r = runProcess(sandbox({"exec", name, TOVRIN_WINDOWS_EXE, "-d"}), 60s);
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(r.out, asConsoleBytes(BANNER +
                                  "\nRetrieving IP Address of all Drives on LAN, please wait....\n"
                                  "\n\t-->  " +
                                  lab->driveIp + " \n\t-->  " + lab->secondDriveIp + " "));
  std::string logs;
  for (BackgroundProcess& drive : drives) {
    logs += stopProcess(drive, 1s).out;
  }
  // Five rounds from each adapter, to the limited and to the subnet
  // broadcast (its mask from the adapter list).
  for (const std::string& from : {lab->hostIp, lab->secondHostIp}) {
    EXPECT_EQ(countOf(logs, "probe " + from + ":"), 10u) << from << "\n" << logs;
  }
}

}  // namespace
