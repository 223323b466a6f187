// Trustworthy runs, end to end: the built loader against simulated drives
// that answer late, twice, with refusals, or lose chosen datagrams, and on
// networks where no drive can be. Whatever happens, a run either leaves the
// drive holding the file's image and says so, or prints a failure line and
// never "Reboot : DONE"; and it ends by itself in bounded time. Each test
// has a lab of its own (network namespaces, as root) and skips without one.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sched.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/net.h"
#include "testkit/expected.h"
#include "testkit/netlab.h"
#include "testkit/process.h"

namespace {

using Args = std::vector<std::string>;
using std::chrono::seconds;

const std::string FILE_BYTES = sampleFile(5000);  // ten blocks, the last of 392 bytes
const std::string IMAGE = expectedImage(FILE_BYTES);

bool contains(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

std::size_t count(const std::string& text, const std::string& part) {
  std::size_t n = 0;
  for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) {
    ++n;
  }
  return n;
}

// What a run of the loader left: its console, and the drive's log and image.
struct Outcome {
  ProcessResult loader;
  std::string driveLog;
  std::string image;  // what the drive holds at the end
};

struct Lab {
  explicit Lab(NetLabOptions options = {}) {
    options.extraDriveAddresses = 1;
    lab = makeNetLab(options);
    writeFile(dir.file("fw.bin"), FILE_BYTES);
  }
  // The loader's command line: "fw.bin" stands for the sample file, DRIVE
  // and HOST for the lab's addresses.
  Args loaderArgv(const std::string& args) const {
    Args argv = tovrinCommand();
    for (const std::string& a : words(args)) {
      argv.push_back(a == "fw.bin"  ? dir.file("fw.bin")
                     : a == "DRIVE" ? lab->driveIp
                     : a == "HOST"  ? lab->hostIp
                                    : a);
    }
    return lab->inHost(argv);
  }
  // The drive's options: EXTRA stands for another address of the drive's side.
  void startDrive(const std::string& args) {
    Args argv = words(drivesimPath() + " --idle-timeout 60 --ip " + lab->driveIp + " --image-out " +
                      dir.file("drive.bin"));
    for (const std::string& a : words(args)) {
      argv.push_back(a == "EXTRA" ? lab->extraDriveIps.at(0) : a);
    }
    drive = startProcess(lab->inDrive(argv));
    ASSERT_TRUE(waitForOutput(drive, "ready", seconds(10))) << "drivesim did not start";
  }
  Outcome finish(ProcessResult loader) {
    Outcome r{std::move(loader), "", ""};
    if (drive.pid > 0) {
      r.driveLog = stopProcess(drive, seconds(0)).out;
      r.image = readFile(dir.file("drive.bin"));
    }
    return r;
  }
  std::unique_ptr<NetLab> lab;
  ScratchDir dir;
  BackgroundProcess drive;
};

// One run of the loader in a lab of its own, with a drive unless driveArgs
// is "none".
Outcome runOnce(const std::string& loaderArgs, const std::string& driveArgs, seconds bound,
                const NetLabOptions& options = {}) {
  Lab lab(options);
  if (driveArgs != "none") {
    lab.startDrive(driveArgs);
  }
  return lab.finish(runProcess(lab.loaderArgv(loaderArgs), bound));
}

// The codes of the commands the drive took in, blank-separated.
std::string commandsTaken(const std::string& driveLog) {
  std::istringstream log(driveLog);
  std::string codes;
  for (std::string line; std::getline(log, line);) {
    if (line.starts_with("rx ")) {
      const std::size_t at = line.find(" code=") + 6;
      codes += (codes.empty() ? "" : " ") + line.substr(at, line.find(' ', at) - at);
    }
  }
  return codes;
}

// Built when first asked for, as the test kit's texts are set up with the
// program's other globals in no fixed order.
std::string rebooted() { return REBOOT + "DONE"; }

bool completed(const Outcome& r) {
  return contains(r.loader.out, asConsoleBytes(rebooted())) && r.image == IMAGE;
}

bool saidItFailed(const Outcome& r) {
  return contains(r.loader.out, "ERROR") && !contains(r.loader.out, asConsoleBytes(rebooted()));
}

std::string describe(const Outcome& r) {
  std::string lost;
  std::istringstream log(r.driveLog);
  for (std::string line; std::getline(log, line);) {
    lost += line.starts_with("lost") ? line + "\n" : "";
  }
  return "console: " +
         testing::PrintToString(
             r.loader.out.substr(r.loader.out.size() > 300 ? r.loader.out.size() - 300 : 0)) +
         "\nimage " + (r.image == IMAGE ? "intact" : "NOT the file's") +
         ", commands taken: " + commandsTaken(r.driveLog) + "\n" + lost;
}

void expectEndedByItself(const Outcome& r) {
  EXPECT_FALSE(r.loader.timedOut) << "killed at its bound";
  EXPECT_EQ(r.loader.exitCode, 1) << "signal " << r.loader.signal;
  EXPECT_EQ(r.loader.err, "");
}

class TrustTest : public testing::Test {
 protected:
  void SetUp() override {
    if (!canMakeNamespaces()) {
      GTEST_SKIP() << "needs a private network (network namespaces, as root)";
    }
  }
};

// --- lost, late and doubled answers ------------------------------------------------

struct DriveCase {
  std::string name;
  std::string args;   // the drive's options
  bool mustComplete;  // every answer comes within the pause after its send
};

void PrintTo(const DriveCase& c, std::ostream* os) { *os << c.name; }

class LossyDrive : public TrustTest, public testing::WithParamInterface<DriveCase> {};

// The blocks of the image that the drive had not taken in when the loader
// asked it to verify ("" when it never did): the loader's own judgement,
// whatever the drive's check then says.
std::string blocksMissingAtVerify(const std::string& driveLog) {
  std::vector<bool> taken((IMAGE.size() + 511) / 512);
  std::istringstream log(driveLog);
  for (std::string line; std::getline(log, line);) {
    unsigned code = 0;
    unsigned target = 0;
    const std::size_t at = line.find(" code=");
    if (at == std::string::npos ||
        std::sscanf(line.c_str() + at, " code=%u len=%*u target=0x%x", &code, &target) != 2) {
      continue;
    }
    if (code == 18) {
      std::string missing;
      for (std::size_t j = 0; j < taken.size(); ++j) {
        missing += taken[j] ? "" : " " + std::to_string(j);
      }
      return missing;
    }
    if (code == 17 && line.starts_with("rx ") && target >= 0x8000 &&
        (target - 0x8000) / 512 < taken.size()) {
      taken[(target - 0x8000) / 512] = true;
    }
  }
  return "";
}

// Answers carry no block number; a late answer to one block must never
// confirm the next.
TEST_P(LossyDrive, TheImageIsTheFilesOrTheRunSaysItFailed) {
  const Outcome r = runOnce("-ip DRIVE -fp fw.bin", GetParam().args, seconds(90));
  expectEndedByItself(r);
  EXPECT_TRUE(completed(r) || saidItFailed(r)) << describe(r);
  EXPECT_EQ(blocksMissingAtVerify(r.driveLog), "") << "verify asked for; blocks never taken in";
  if (GetParam().mustComplete) {
    EXPECT_TRUE(completed(r)) << describe(r);
  }
}

// The fourth block datagram, the fourth block answer, or both kinds at once,
// lost on the way, with drives answering 0 to 100 ms late (the pause after
// a block is 60 ms), with jitter, and answering twice.
std::vector<DriveCase> lossyDrives() {
  static const char* const names[] = {"Prompt", "Late50", "Late70", "Late100"};
  static const char* const losses[][2] = {
      {"NothingLost", ""},
      {"BlockLost", "--drop-in 17:4"},
      {"BlockAnswerLost", "--drop-out 17:4"},
      {"BlockAndLaterAnswerLost", "--drop-in 17:4 --drop-out 17:8"}};
  std::vector<DriveCase> drives;
  const int delays[] = {0, 50, 70, 100};
  for (int d = 0; d < 4; ++d) {
    for (const auto& loss : losses) {
      drives.push_back({std::string(names[d]) + loss[0],
                        "--delay-ms " + std::to_string(delays[d]) + " " + loss[1], delays[d] < 60});
    }
  }
  drives.push_back({"JitterWithinThePause", "--delay-ms 10 --jitter-ms 40 --drop-in 17:4", true});
  drives.push_back({"JitterAcrossThePause", "--delay-ms 30 --jitter-ms 60 --drop-in 17:4", false});
  drives.push_back({"TwiceAtOnce", "--twice --drop-in 17:4", true});
  drives.push_back({"TwiceSecondCopyInTheNextPause", "--twice-gap-ms 70 --drop-in 17:4", true});
  drives.push_back({"TwiceAndLate", "--twice --delay-ms 70 --drop-in 17:6", false});
  // Only the blocks are answered late: the identity answer, at once, tells
  // nothing of the time a block answer takes.
  drives.push_back({"PromptIdentityBlocksLate70BlockLost",
                    "--delay-ms 70 --fault-code 17 --drop-in 17:4", true});
  drives.push_back({"PromptIdentityBlocksLate100BlockAndAnswerLost",
                    "--delay-ms 100 --fault-code 17 --drop-in 17:4 --drop-out 17:8", true});
  drives.push_back({"PromptIdentityBlocksJittering",
                    "--delay-ms 40 --jitter-ms 80 --fault-code 17 --drop-in 17:4,17:9", false});
  // A copy of the identity answer comes while the second block is lost.
  drives.push_back({"LateIdentityCopyDuringTheBlocks",
                    "--twice-gap-ms 240 --fault-code 20 --drop-in 17:2", false});
  return drives;
}

INSTANTIATE_TEST_SUITE_P(Trust, LossyDrive, testing::ValuesIn(lossyDrives()),
                         testing::PrintToStringParamName());

// --- refusals, and answers that are not the drive's ---------------------------------

struct Refusal {
  const char* name;
  std::string loaderArgs;
  std::string driveArgs;
  std::string taken;  // the commands the drive takes in, connects left out
  seconds bound;      // the run ends sooner
};

void PrintTo(const Refusal& c, std::ostream* os) { *os << c.name; }

class RefusedOrUnanswered : public TrustTest, public testing::WithParamInterface<Refusal> {};

// A refusal ends the run at once with a failure line, and nothing is sent
// after it; an exchange with no answer of the drive's own ends it after its
// tries.
TEST_P(RefusedOrUnanswered, EndsTheRunWithAFailureLine) {
  const Refusal& c = GetParam();
  const Outcome r = runOnce(c.loaderArgs, c.driveArgs, seconds(60));
  expectEndedByItself(r);
  EXPECT_TRUE(saidItFailed(r)) << describe(r);
  std::string taken;
  for (const std::string& code : words(commandsTaken(r.driveLog))) {
    taken += code == "16" ? "" : (taken.empty() ? "" : " ") + code;
  }
  EXPECT_EQ(taken, c.taken) << describe(r);
  EXPECT_LT(r.loader.seconds, static_cast<double>(c.bound.count())) << describe(r);
}

// The codes of n blocks.
std::string blocks(int n) {
  std::string s;
  for (int i = 0; i < n; ++i) {
    s += (s.empty() ? "" : " ") + std::string("17");
  }
  return s;
}

INSTANTIATE_TEST_SUITE_P(
    Trust, RefusedOrUnanswered,
    testing::Values(  // Refused at the connection: nothing but connects goes out.
        Refusal{"EveryAnswer", "-ip DRIVE -fp fw.bin", "--status 0", "", seconds(3)},
        // An answer of another code is no answer: verify goes unanswered.
        Refusal{"VerifyAnsweredWithAnotherCode", "-ip DRIVE -fp fw.bin",
                "--wrong-code 21 --fault-code 18", "20 " + blocks(10) + " 18 18 18 18 18",
                seconds(8)},
        // Answers from another address are no answers.
        Refusal{"VerifyAnsweredFromAnotherAddress", "-ip DRIVE -fp fw.bin",
                "--answer-from EXTRA --fault-code 18", "20 " + blocks(10) + " 18 18 18 18 18",
                seconds(8)},
        // No waiting for a digest that a refusal will never bring.
        Refusal{"TheIdentityOfAVerifyRun", "-ip DRIVE -v -fp fw.bin", "--status 0 --fault-code 20",
                "20", seconds(2)}),
    testing::PrintToStringParamName());

// --- addresses where no drive can be ---------------------------------------------------

struct NoDrive {
  const char* name;
  std::string loaderArgs;
  LabShape shape;
  std::size_t sendFailures;
};

void PrintTo(const NoDrive& c, std::ostream* os) { *os << c.name; }

class NoDriveThere : public TrustTest, public testing::WithParamInterface<NoDrive> {};

// Such a run ends within a second or two with one clear line (after one
// send failure where the network refused the send), and never completes.
TEST_P(NoDriveThere, EndsAtOnceWithOneLine) {
  const NoDrive& c = GetParam();
  const Outcome r = runOnce(c.loaderArgs, "none", seconds(15), {.shape = c.shape});
  expectEndedByItself(r);
  EXPECT_LT(r.loader.seconds, 3.0);
  const std::string& out = r.loader.out;
  EXPECT_EQ(count(out, "ERROR: server sendto failed"), c.sendFailures) << out.substr(0, 2000);
  EXPECT_EQ(count(out, "ERROR"), c.sendFailures + 1) << out.substr(0, 2000);
  EXPECT_FALSE(contains(out, "DONE")) << out.substr(0, 2000);
}

INSTANTIATE_TEST_SUITE_P(
    Trust, NoDriveThere,
    testing::Values(
        // The loader would hear its own commands.
        NoDrive{"Loopback", "-ip 127.0.0.1 -fp fw.bin", LabShape::gatewayRoute, 0},
        NoDrive{"Zero", "-ip 0 -fp fw.bin", LabShape::gatewayRoute, 0},
        NoDrive{"AllZeros", "-ip 0.0.0.0 -fp fw.bin", LabShape::gatewayRoute, 0},
        NoDrive{"ThePCsOwnAddress", "-ip HOST -fp fw.bin", LabShape::gatewayRoute, 0},
        // No network of the PC leads there.
        NoDrive{"BehindTheGateway", "-ip 10.99.0.5 -u", LabShape::gatewayRoute, 1},
        NoDrive{"NoRouteAtAll", "-ip 10.99.0.5 -u", LabShape::noDefaultRoute, 1},
        NoDrive{"TheSubnetBroadcast", "-ip 192.168.124.255 -u", LabShape::gatewayRoute, 1},
        // Refused before anything is sent.
        NoDrive{"AMulticastGroup", "-ip 224.0.0.1 -u", LabShape::gatewayRoute, 0},
        NoDrive{"AReservedAddress", "-ip 240.0.0.1 -fp fw.bin", LabShape::gatewayRoute, 0}),
    testing::PrintToStringParamName());

// --- the console and the file ----------------------------------------------------------

// A reader that goes away (`tovrin ... | head`) does not end the programming.
TEST_F(TrustTest, AClosedOutputPipeDoesNotStopTheRun) {
  Lab lab({.shape = LabShape::gatewayRoute});
  lab.startDrive("");
  std::string command;
  for (const std::string& a : lab.loaderArgv("-ip DRIVE -fp fw.bin")) {
    command += "'" + a + "' ";
  }
  const Outcome r = lab.finish(runProcess(
      {"bash", "-c", command + "| head -c 100 >/dev/null; echo \"status ${PIPESTATUS[0]}\""},
      seconds(60)));
  EXPECT_EQ(r.loader.out, "status 1\n");
  EXPECT_TRUE(r.image == IMAGE) << describe(r);
}

// A FIFO in place of the firmware file is refused without waiting on it.
TEST_F(TrustTest, AFifoIsNoFirmwareFile) {
  Lab lab({.shape = LabShape::gatewayRoute});
  const std::string fifo = lab.dir.file("fifo.bin");
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  const Outcome r = lab.finish(runProcess(lab.loaderArgv("-ip DRIVE -fp " + fifo), seconds(10)));
  expectEndedByItself(r);
  EXPECT_TRUE(contains(r.loader.out, "ERROR")) << r.loader.out;
  EXPECT_FALSE(contains(r.loader.out, "Establishing")) << r.loader.out;
}

// --- one loader per port ---------------------------------------------------------------

// A socket on port 8995 of every address of namespace ns, bound without
// address reuse (as another program would hold it), opened from a thread
// that alone enters the namespace.
UdpSocket holdPort(const std::string& ns) {
  UdpSocket s;
  std::thread([&] {
    const int fd = open(("/run/netns/" + ns).c_str(), O_RDONLY | O_CLOEXEC);
    if (fd >= 0 && setns(fd, CLONE_NEWNET) == 0) {
      s = UdpSocket::open();
      if (s.isOpen() && !s.bind(0, 8995)) {
        s.close();
      }
    }
    if (fd >= 0) {
      close(fd);
    }
  }).join();
  return s;
}

bool saysThePortIsHeld(const ProcessResult& r) {
  return contains(r.out, "\nERROR: udpSocket bind failed\n") && count(r.out, "ERROR") == 2 &&
         !contains(r.out, "Establishing") && r.seconds < 2.0;
}

TEST_F(TrustTest, APortHeldElsewhereEndsTheRunAtOnce) {
  Lab lab({.shape = LabShape::gatewayRoute});
  UdpSocket held = holdPort(lab.lab->hostNs);
  ASSERT_TRUE(held.isOpen());
  const ProcessResult r = runProcess(lab.loaderArgv("-ip DRIVE -u"), seconds(15));
  held.close();
  expectEndedByItself({r, "", ""});
  EXPECT_TRUE(saysThePortIsHeld(r)) << r.out.substr(0, 2000);
}

// A second loader started while the first programs is refused and takes
// nothing from the first, which completes.
TEST_F(TrustTest, ASecondLoaderLeavesTheFirstAlone) {
  Lab lab({.shape = LabShape::gatewayRoute});
  lab.startDrive("");
  BackgroundProcess first = startProcess(lab.loaderArgv("-ip DRIVE -fp fw.bin"));
  ASSERT_TRUE(waitForOutput(first, "Programming", seconds(20)));
  const ProcessResult second = runProcess(lab.loaderArgv("-ip DRIVE -u"), seconds(15));
  const Outcome r = lab.finish(stopProcess(first, seconds(30)));
  expectEndedByItself(r);
  EXPECT_TRUE(completed(r)) << describe(r);
  EXPECT_TRUE(saysThePortIsHeld(second)) << second.out.substr(0, 2000);
}

}  // namespace
