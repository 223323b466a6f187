// Whole runs of the built loader against the simulated drive over real UDP:
// the console byte for byte (the countdown by its pattern), the commands the
// drive took in, the image it ends up holding and the run's length. As root
// each test has a LAN of its own (the loader runs without -ip); otherwise
// the drive is 127.0.0.2 and the tests take turns.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include "testkit/drive_lan.h"

namespace {

using Args = std::vector<std::string>;
using std::chrono::seconds;

// A command as the drive logs it; every command datagram has the same size.
std::string command(int code, std::size_t length = 0, std::size_t target = 0) {
  char text[64];
  std::snprintf(text, sizeof text, "code=%d len=%zu target=0x%zx size=524", code, length, target);
  return text;
}

// Each command so many times; 0 (connects only): as many as the drive took in.
using Sends = std::vector<std::pair<std::string, int>>;

// "20x5 16x* 20": code 20 five times, 16 as often as it came, 20 once.
Sends codes(const std::string& list) {
  Sends out;
  for (const std::string& word : words(list)) {
    const std::size_t x = word.find('x');
    const std::string times = x == std::string::npos ? "1" : word.substr(x + 1);
    out.emplace_back(command(std::stoi(word)), times == "*" ? 0 : std::stoi(times));
  }
  return out;
}

struct RunCase {
  const char* name;
  std::string loaderArgs;  // "fw.bin" stands for a sample file of fileSize bytes
  std::string driveArgs;
  std::string console;
  Sends sends;
  double pausesMs = 0;  // the run's pauses besides 30 ms a connect; 0: not checked
  bool driveStartsLate = false;
  std::size_t fileSize = 5000;
  std::string image = "";  // what the drive holds at the end, when not empty
};

// Names the case in the test list (GoogleTest looks for this very name).
void PrintTo(const RunCase& c, std::ostream* os) { *os << c.name; }

// A programming run: every exchange after the connection is answered on try
// tries and shows its part of the console (the monitor state; the blocks at
// 0x8000 + 512 j, a mark after blocks 0, 16, 32, ... and after a partial
// last block; verify; reboot), up to silentAt, which is sent silentSends
// times (unanswered, or refused) before the run ends with silentLine.
RunCase programRun(const char* name, std::size_t fileSize, const std::string& driveArgs = "",
                   int tries = 1, const std::string& silentAt = "",
                   const std::string& silentLine = "", int silentSends = 5) {
  const std::string image = expectedImage(sampleFile(fileSize));
  RunCase c{name, "-fp fw.bin", driveArgs,
            BANNER + fileLines(image) + CONNECTING + COUNTDOWN + MONITOR, codes("16x*")};
  bool silent = false;
  const auto exchange = [&](const std::string& sent, const std::string& shown) {
    if (!silent) {
      silent = sent == silentAt;
      c.sends.emplace_back(sent, silent ? silentSends : tries);
      c.console += silent ? "" : shown;
      if (silent) {
        c.console += silentLine;
      }
    }
  };
  exchange(command(20), IDENTITY + PROGRAMMING);
  for (std::size_t at = 0; at < image.size(); at += 512) {
    const std::size_t length = std::min<std::size_t>(512, image.size() - at);
    exchange(command(17, length, 0x8000 + at), (at % (16 * 512) == 0 || length < 512 ? "|" : "") +
                                                   (at + length == image.size() ? VERIFYING : ""));
  }
  exchange(command(18), "DONE" + REBOOT);
  exchange(command(19), "DONE\n");
  if (!silent) {
    c.image = image;
    c.pausesMs = 150 + 2500 + tries * (150 + 60.0 * ((image.size() + 511) / 512) + 120 + 30) + 5000;
  }
  c.fileSize = fileSize;
  return c;
}

class SessionRun : public testing::TestWithParam<RunCase> {};

// The whole console, every command the drive took in, as many connects as the
// countdown shows (fewer with a drive that starts once the loader shows its
// connection label), the drive's image and a run no shorter than its pauses.
TEST_P(SessionRun, ConsoleCommandsImageAndLength) {
  const RunCase& c = GetParam();
  DriveLan lan(
      {.driveArgs = c.driveArgs, .firmware = sampleFile(c.fileSize), .startDrives = false});
  // In a lab of its own the drive is at the loader's default address.
  const std::vector<std::string> loaderArgv =
      lan.loader((lan.lab->isolated ? "" : "-ip D0 ") + c.loaderArgs);
  BackgroundProcess loader;
  if (c.driveStartsLate) {
    loader = startProcess(loaderArgv);
    EXPECT_TRUE(waitForOutput(loader, "Establishing", seconds(10)));
  }
  EXPECT_TRUE(lan.startDrives());
  if (!c.driveStartsLate) {
    loader = startProcess(loaderArgv);
  }
  ProcessResult run = stopProcess(loader, seconds(90));
  Args commands;
  for (const std::string& line : linesOf(lan.stopDrives())) {
    if (line.starts_with("rx ")) {
      const std::size_t code = line.find(" code=") + 1;
      commands.push_back(line.substr(code, line.find(" t=") - code));
    }
  }
  EXPECT_EQ(run.exitCode, 1);
  EXPECT_EQ(run.err, "");
  const int counts = takeCountdown(run.out);
  EXPECT_GE(counts, 0) << "malformed countdown";

  EXPECT_EQ(run.out, asConsoleBytes(c.console));
  const auto connects = std::count(commands.begin(), commands.end(), command(16));
  Args expected;
  for (const auto& [sent, times] : c.sends) {
    expected.insert(expected.end(), times > 0 ? times : connects, sent);
  }
  EXPECT_EQ(commands, expected);
  EXPECT_TRUE(c.driveStartsLate ? connects <= counts : connects == counts)
      << connects << " connects sent, countdown of " << counts;
  const std::string image = lan.image();
  EXPECT_TRUE(c.image.empty() || image == c.image)
      << "the drive holds " << image.size() << " bytes, expected " << c.image.size();
  // Every pause is waited out; how close a run comes to their sum is the
  // benchmarks' to measure (bench/session_bench.sh), not a test's.
  if (c.pausesMs > 0) {
    EXPECT_GE(run.seconds * 1000, c.pausesMs + 30.0 * counts);
  }
}

const std::string IMAGE = expectedImage(sampleFile(5000));
// After the first block, every failure line ends with this.
const std::string PARTIAL = ": the drive holds part of the image, program it again";
const std::string DIGEST = IMAGE.substr(0, 16);
const std::string OTHER_DIGEST = DIGEST.substr(0, 15) + static_cast<char>(DIGEST[15] ^ 1);

INSTANTIATE_TEST_SUITE_P(
    Session, SessionRun,
    testing::Values(
        // Five probes and 1000 connects go unanswered and the run ends without
        // a word; the drive answers the 1000th connect too late.
        RunCase{"NoDriveAnswersInTime", "-u", "--answer-on 1000",
                BANNER + CONNECTING + COUNTDOWN + "\nERROR: No answer from the drive (connection)",
                codes("20x5 16x1000"), 150 + 5 * 150},
        // A drive in its monitor state answers the probe: no file is read (the
        // path does not exist), no connection is made.
        RunCase{"IdentityAnsweredAtOnce", "-fp /nonexistent/fw.bin -u", "", BANNER + IDENTITY,
                codes("20"), 150 + 150},
        RunCase{"VerifyEqualDigests", "-v -fp fw.bin", "--digest " + hex(DIGEST),
                BANNER + fileLines(IMAGE) + IDENTITY + verifyLines(DIGEST, DIGEST), codes("20")},
        RunCase{
            "VerifyDigestsDifferInTheLastByte", "-v -fp fw.bin", "--digest " + hex(OTHER_DIGEST),
            BANNER + fileLines(IMAGE) + IDENTITY + verifyLines(OTHER_DIGEST, DIGEST), codes("20")},
        // The drive comes up after the probe went unanswered.
        RunCase{"IdentityFallsThroughToTheConnection", "-u", "",
                BANNER + CONNECTING + COUNTDOWN + MONITOR + IDENTITY, codes("16x* 20"), 0, true},
        programRun("OnePartialBlock", 300),
        programRun("WholeBlocksOnly", 512 * 32),   // marks after blocks 0 and 16
        programRun("LastBlockOfFourBytes", 8706),  // 17 blocks and 4 bytes at 0xA200
        programRun("AnsweredOnFifthTry", 1100, "--answer-on 5", 5),
        programRun("SilentInTheMiddle", 512 * 20, "--silent-after-block 17", 1,
                   command(17, 512, 0x8000 + 18 * 512),
                   "\nERROR: No answer from the drive (block 19 of 20)" + PARTIAL),
        programRun("RefusedInTheMiddle", 512 * 20, "--status 2 --fault-code 17", 1,
                   command(17, 512, 0x8000),
                   "\nERROR: The drive refused block 1 of 20 (status 2)" + PARTIAL, 1)),
    testing::PrintToStringParamName());

}  // namespace
