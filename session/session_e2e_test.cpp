// Whole runs of the built loader against the simulated drive over real UDP:
// the console byte for byte (the countdown by its pattern), the commands the
// drive took in, the image it ends up holding and the time the run took.
//
// As root each test builds a LAN of its own (drive at the loader's default
// address, so the loader runs without -ip); otherwise the drive is 127.0.0.2,
// the loader gets -ip, and the tests take turns.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <climits>
#include <cstdio>
#include <iterator>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "testkit/expected.h"
#include "testkit/netlab.h"
#include "testkit/process.h"

namespace {

using std::chrono::milliseconds;
using std::chrono::seconds;

// A command as the drive logs it; every command datagram has the same size.
std::string command(int code, std::size_t length = 0, std::size_t target = 0) {
  char text[64];
  std::snprintf(text, sizeof text, "code=%d len=%zu target=0x%zx size=524", code, length, target);
  return text;
}

std::vector<std::string> words(const std::string& text) {
  std::istringstream in(text);
  return {std::istream_iterator<std::string>(in), std::istream_iterator<std::string>()};
}

void repeat(std::vector<std::string>& into, const std::string& command, int times) {
  into.insert(into.end(), static_cast<std::size_t>(std::max(times, 0)), command);
}

struct LoaderRun {
  ProcessResult loader;
  std::string driveLog;
  std::vector<std::string> commands;  // as the drive took them in
  std::string driveImage;             // what the drive holds at its end
  int counts = 0;                     // the countdown's length; 0 when none was shown
};

// Runs the loader with loaderArgs ("fw.bin" stands for firmware) against a
// drive with driveArgs that starts at once or, late, once the loader shows
// its connection label; stray: the drive's first answer is a stray datagram
// from a second address.
LoaderRun runLoader(const std::string& loaderArgs, const std::string& driveArgs,
                    const std::string& firmware, bool late = false, bool stray = false) {
  LoaderRun run;
  ScratchDir dir;
  auto lab = makeNetLab({.extraDriveAddresses = stray ? 1 : 0});
  writeFile(dir.file("fw.bin"), firmware);
  std::string ips = lab->driveIp;
  std::string options = "--idle-timeout 120 " + driveArgs;
  if (stray) {
    ips += "," + lab->extraDriveIps.at(0);
    options += " --stray-from " + lab->extraDriveIps.at(0);
  }
  std::vector<std::string> driveArgv = {drivesimPath(), "--ip", ips, "--image-out",
                                        dir.file("drive.bin")};
  std::ranges::copy(words(options), std::back_inserter(driveArgv));
  std::vector<std::string> loaderArgv = tovrinCommand();
  if (!lab->isolated) {
    loaderArgv.insert(loaderArgv.end(), {"-ip", lab->driveIp});
  }
  for (const auto& a : words(loaderArgs)) {
    loaderArgv.push_back(a == "fw.bin" ? dir.file("fw.bin") : a);
  }

  BackgroundProcess loader;
  if (late) {
    loader = startProcess(lab->inHost(loaderArgv));
    EXPECT_TRUE(waitForOutput(loader, "Establishing", seconds(10)));
  }
  BackgroundProcess drive = startProcess(lab->inDrive(driveArgv));
  EXPECT_TRUE(waitForOutput(drive, "ready", seconds(10))) << "drivesim did not start";
  if (!late) {
    loader = startProcess(lab->inHost(loaderArgv));
  }
  run.loader = stopProcess(loader, seconds(90));
  run.driveLog = stopProcess(drive, milliseconds(0)).out;
  std::istringstream log(run.driveLog);
  for (std::string line; std::getline(log, line);) {
    if (line.starts_with("rx ")) {
      run.commands.push_back(line.substr(line.find(" code=") + 1));
    }
  }
  run.driveImage = readFile(dir.file("drive.bin"));

  EXPECT_EQ(run.loader.exitCode, 1);
  EXPECT_EQ(run.loader.err, "");
  run.counts = takeCountdown(run.loader.out);
  EXPECT_GE(run.counts, 0) << "malformed countdown";
  return run;
}

// ---- identity and verify runs ------------------------------------------------------

const std::string& sampleImage() {
  static const std::string image = expectedImage(sampleFile(5000));
  return image;
}

// The digest the drive reports: the file's own, or one differing in its last byte.
std::string driveDigest(bool equal) {
  std::string digest = sampleImage().substr(0, 16);
  digest[15] = static_cast<char>(digest[15] ^ (equal ? 0 : 1));
  return digest;
}

struct ReportCase {
  const char* name;
  std::string loaderArgs;
  std::string driveArgs;
  std::string console;
  std::string sends;    // the commands in order: "20" once, "20x5" five times, "16x*" once or more
  double pausesMs = 0;  // the run takes this long, or up to 10 % and 2 s longer
  bool driveStartsLate = false;
  bool stray = false;
};

// Names the case in the test list (GoogleTest looks for this very name).
void PrintTo(const ReportCase& c, std::ostream* os) { *os << c.name; }

class ReportRun : public testing::TestWithParam<ReportCase> {};

// No block, verify or reboot command is ever sent.
TEST_P(ReportRun, ConsoleAndCommands) {
  const ReportCase& c = GetParam();
  const LoaderRun run =
      runLoader(c.loaderArgs, c.driveArgs, sampleFile(5000), c.driveStartsLate, c.stray);
  EXPECT_EQ(run.loader.out, asConsoleBytes(c.console));
  std::vector<std::string> expected;
  for (const std::string& word : words(c.sends)) {
    const std::string sent = command(std::stoi(word));
    const std::size_t x = word.find('x');
    int times = x == std::string::npos ? 1 : word[x + 1] == '*' ? 0 : std::stoi(word.substr(x + 1));
    if (times == 0) {
      while (expected.size() + times < run.commands.size() &&
             run.commands[expected.size() + times] == sent) {
        ++times;
      }
      times = std::max(times, 1);
    }
    repeat(expected, sent, times);
  }
  EXPECT_EQ(run.commands, expected);
  EXPECT_EQ(run.driveLog.find("\ntx ") != std::string::npos, !c.stray) << "drive answered";
  const auto connects = std::count(run.commands.begin(), run.commands.end(), command(16));
  EXPECT_TRUE(c.driveStartsLate ? connects <= run.counts : connects == run.counts)
      << connects << " connects sent, countdown of " << run.counts;
  if (c.pausesMs > 0) {
    EXPECT_GE(run.loader.seconds * 1000, c.pausesMs);
    EXPECT_LT(run.loader.seconds * 1000, c.pausesMs * 1.1 + 2000);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Session, ReportRun,
    testing::Values(
        // To the loader a LAN without a drive: five probes and the full
        // countdown of 1000 connects go unanswered, and the run ends without a
        // word. The drive answers the 1000th connect in the pause after it:
        // too late, the loop has given up.
        ReportCase{"NoDriveAnswersInTime", "-u", "--answer-on 1000",
                   BANNER + CONNECTING + COUNTDOWN, "20x5 16x1000", 150 + 5 * 150 + 1000 * 30},
        // A drive in its monitor state answers the identity probe: no file is
        // read (the path does not exist), no connection is made.
        ReportCase{"IdentityAnsweredAtOnce", "-fp /nonexistent/fw.bin -u", "", BANNER + IDENTITY,
                   "20", 150 + 150},
        ReportCase{"VerifyEqualDigests", "-v -fp fw.bin", "--digest " + hex(driveDigest(true)),
                   BANNER + fileLines(sampleImage()) + IDENTITY +
                       verifyLines(driveDigest(true), driveDigest(true)),
                   "20"},
        ReportCase{"VerifyDigestsDifferInTheLastByte", "-v -fp fw.bin",
                   "--digest " + hex(driveDigest(false)),
                   BANNER + fileLines(sampleImage()) + IDENTITY +
                       verifyLines(driveDigest(false), driveDigest(true)),
                   "20"},
        // The drive comes up only after the probe went unanswered: the
        // connection is made and the monitor state entered, then the report.
        ReportCase{"IdentityFallsThroughToTheConnection", "-u", "",
                   BANNER + CONNECTING + COUNTDOWN + MONITOR + IDENTITY, "16x* 20", 0, true},
        ReportCase{"VerifyFallsThroughToTheConnection", "-fp fw.bin -v",
                   "--digest " + hex(driveDigest(true)),
                   BANNER + fileLines(sampleImage()) + CONNECTING + COUNTDOWN + MONITOR + IDENTITY +
                       verifyLines(driveDigest(true), driveDigest(true)),
                   "16x* 20", 0, true},
        // A datagram from another address ends the probe as if the drive had
        // answered; no digest comes, so the bounded wait ends with its message.
        ReportCase{"AStrayDatagramEndsTheIdentityProbe", "-u", "", BANNER + NO_DIGEST, "20",
                   150 + 150 + 5000, false, true},
        ReportCase{"AnAnswerWithoutDigest", "-u", "--no-digest", BANNER + IDENTITY + NO_DIGEST,
                   "20", 150 + 150 + 5000}),
    testing::PrintToStringParamName());

// ---- programming runs ------------------------------------------------------------

// The exchanges of a programming run after the connection, each with what
// the console shows once it is answered: the monitor state, the blocks at
// 0x8000 + 512 j (a mark after blocks 0, 16, 32, ... and after a partial last
// block), verify and reboot.
std::vector<std::pair<std::string, std::string>> programExchanges(std::size_t imageSize) {
  std::vector<std::pair<std::string, std::string>> out = {{command(20), IDENTITY + PROGRAMMING}};
  for (std::size_t at = 0; at < imageSize; at += 512) {
    const std::size_t length = std::min<std::size_t>(512, imageSize - at);
    out.emplace_back(command(17, length, 0x8000 + at),
                     at % (16 * 512) == 0 || length < 512 ? "|" : "");
  }
  out.back().second += VERIFYING;
  out.emplace_back(command(18), "DONE" + REBOOT);
  out.emplace_back(command(19), "DONE\n");
  return out;
}

constexpr int NONE = INT_MAX;

struct ProgramCase {
  const char* name;
  std::size_t fileSize;
  std::string driveArgs = "";
  int tries = 1;    // every exchange is answered on this try
  int stop = NONE;  // the exchange that gets no answer: 0 the monitor state,
                    // 1 + j block j; -2 verify, -1 reboot
};

void PrintTo(const ProgramCase& c, std::ostream* os) { *os << c.name; }

class ProgramRun : public testing::TestWithParam<ProgramCase> {};

// A complete run: the whole console, every command in order, the drive's
// image byte for byte and a run no shorter than its pauses. A run the drive
// stops answering ends silently after five sends of the unanswered command.
TEST_P(ProgramRun, ConsoleCommandsAndImage) {
  const ProgramCase& c = GetParam();
  const std::string file = sampleFile(c.fileSize);
  const std::string image = expectedImage(file);
  const LoaderRun run = runLoader("-fp fw.bin", c.driveArgs, file);

  const auto exchanges = programExchanges(image.size());
  const std::size_t stop = c.stop == NONE ? exchanges.size()
                           : c.stop < 0   ? exchanges.size() - static_cast<std::size_t>(-c.stop)
                                          : static_cast<std::size_t>(c.stop);
  std::string console = BANNER + fileLines(image) + CONNECTING + COUNTDOWN + MONITOR;
  std::vector<std::string> sent;
  repeat(sent, command(16), run.counts);  // as many connects as the countdown shows
  for (std::size_t i = 0; i < exchanges.size(); ++i) {
    repeat(sent, exchanges[i].first, i == stop ? 5 : c.tries);
    if (i == stop) {
      break;
    }
    console += exchanges[i].second;
  }
  EXPECT_EQ(run.loader.out, asConsoleBytes(console));
  EXPECT_EQ(run.commands, sent);
  EXPECT_GE(run.counts, c.tries);
  if (c.stop == NONE) {
    EXPECT_TRUE(run.driveImage == image)
        << "the drive holds " << run.driveImage.size() << " bytes, expected " << image.size();
    const double minimum = 150 + 30.0 * run.counts + 2500 +
                           c.tries * (150 + 60.0 * ((image.size() + 511) / 512) + 120 + 30) + 5000;
    EXPECT_GE(run.loader.seconds * 1000, minimum);
    EXPECT_LT(run.loader.seconds * 1000, minimum + 3000);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Session, ProgramRun,
    testing::Values(
        ProgramCase{"OnePartialBlock", 300},
        ProgramCase{"WholeBlocksOnly", 512 * 32},  // marks after blocks 0 and 16
        // 17 blocks and 4 bytes at 0xA200, two of them the zero fill
        ProgramCase{"LastBlockOfFourBytes", 8706},
        ProgramCase{"AnsweredOnThirdTry", 1100, "--answer-on 3", 3},
        ProgramCase{"AnsweredOnFifthTry", 1100, "--answer-on 5", 5},
        ProgramCase{"SilentInTheMiddle", 512 * 20, "--silent-after-block 17", 1, 1 + 18},
        ProgramCase{"SilentAtTheMonitorState", 1100, "--answer-on 6 --fault-code 20", 1, 0},
        ProgramCase{"SilentAtVerify", 1100, "--answer-on 6 --fault-code 18", 1, -2},
        ProgramCase{"SilentAtReboot", 1100, "--answer-on 6 --fault-code 19", 1, -1}),
    testing::PrintToStringParamName());

}  // namespace
