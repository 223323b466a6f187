// Whole runs of the loader against the simulated drive over real UDP: the
// console output byte for byte, the image the drive ends up holding, the
// commands the drive saw, and the time the run took. Every expected text,
// header and digest is written out here independently of the product code
// (OpenSSL's MD5 is the digest oracle).
//
// As root each test builds a LAN of its own (host 192.168.124.10, drive at
// the loader's default address, so the loader runs without -ip); otherwise
// the drive is 127.0.0.2 and the loader gets -ip, and the tests take turns.
#include <gtest/gtest.h>
#include <openssl/evp.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "testkit/netlab.h"
#include "testkit/process.h"

namespace {

using std::chrono::milliseconds;
using std::chrono::seconds;

// ---- expected texts ----------------------------------------------------------

const std::string RULE(63, '-');
const std::string BANNER = "\r\n" + RULE + "\r\n" + "KV720 Drive" + std::string(26, ' ') +
                           "(c) Tovrin Motion Controls" + "\r\n" + "Ethernet Firmware Loader" +
                           std::string(27, ' ') + "Version 1.00" + "\r\n" + RULE + "\r\n";

const std::string CONNECTING = "\nEstablishing connection with selected device :\t";
const std::string MONITOR = "\n\nEnter Monitor State :\t\tDONE";
const std::string PROGRAMMING = "\nProgramming Firmware :\t\t";
const std::string VERIFYING = "\nVerifing Firmware :\t\t";
const std::string REBOOT = "\nReboot :\t\t\t";
const std::string NO_DIGEST = "\nERROR: Drive did not report its firmware digest";
// Stands for the countdown in an expected text; see takeCountdown.
const std::string COUNTDOWN = "<countdown>";

std::string line(const std::string& label, const std::string& value) {
  return "\n" + label + std::string(30 - label.size(), ' ') + value;
}

// The simulated drive's identity as the loader prints it.
const std::string IDENTITY =
    "\n\n\t----- Unit Identity -----" + line("Monitor Revision", "5") +
    line("Build Number", "1234") + line("Drive Current Capability", "10.00 Amp") +
    line("Bus Sensor Resolution", "16.50 Counts/V") +
    line("Current Sensor Resolution", "204.80 Counts/Amp") + line("Serial Number", "123456") +
    line("Manufacturing Code", "42") + line("Hardware Revision", "1.02") +
    line("Model Code", "KV7") + line("Vin Number", "KV720SIM0001") +
    line("Mac Address", "02 00 00 12 34 ab") + line("Checksum", "001f") +
    "\n\t-------------------------\n";

std::string hex(const std::string& bytes) {
  std::string out;
  char two[3];
  for (unsigned char c : bytes) {
    std::snprintf(two, sizeof two, "%02x", c);
    out += two;
  }
  return out;
}

std::string md5(const std::string& bytes) {
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int size = 0;
  EVP_Digest(bytes.data(), bytes.size(), digest, &size, EVP_md5(), nullptr);
  return std::string(reinterpret_cast<const char*>(digest), size);
}

// The image the drive must hold after programming file: the file rounded up
// to a multiple of 4 with zeros, its first 24 bytes replaced by the digest of
// bytes 20 onward, a zero word and the big-endian length N - 20.
std::string expectedImage(const std::string& file) {
  std::string image = file;
  image.resize((file.size() + 3) / 4 * 4, '\0');
  const std::size_t length = image.size() - 20;
  for (int i = 0; i < 4; ++i) {
    image[16 + static_cast<std::size_t>(i)] = '\0';
    image[20 + static_cast<std::size_t>(i)] = static_cast<char>((length >> (24 - 8 * i)) & 0xFF);
  }
  image.replace(0, 16, md5(image.substr(20)));
  return image;
}

std::string fileLines(const std::string& image) {
  return "File Firmware MD5  : \t" + hex(image.substr(0, 16)) + "\nFile Firmware Size : \t" +
         std::to_string(image.size() - 20);
}

std::string verifyLines(const std::string& driveDigest, const std::string& fileDigest) {
  return "\nDrive Firmware MD5 : " + hex(driveDigest) +
         "\nFile  Firmware MD5 : " + hex(fileDigest) +
         (driveDigest == fileDigest
              ? "\nFile Firmware matches with Drive Firmware - Verifyed Successfully"
              : "\nFile Firmware in the DOES NOT match with Drive Firmware - Verification Failed");
}

// One mark after blocks 0, 16, 32, ... and one after a partial last block.
std::string marks(std::size_t imageSize) {
  const std::size_t full = imageSize / 512;
  return std::string((full + 15) / 16 + (imageSize % 512 != 0 ? 1 : 0), '|');
}

// Bytes of a sample firmware file; no two nearby blocks alike.
std::string sampleFile(std::size_t size) {
  std::string file(size, '\0');
  std::uint32_t x = 2463534242u;
  for (auto& c : file) {
    x ^= x << 13;
    x ^= x >> 17;
    x ^= x << 5;
    c = static_cast<char>(x);
  }
  return file;
}

// Replaces the countdown after the connection label ("1000" and four
// backspaces, then " 999" and four backspaces, ...) by COUNTDOWN and
// returns how many counts it held: 0 without a connection label, -1 when
// the label has no count after it.
int takeCountdown(std::string& out) {
  const std::string label = asConsoleBytes(CONNECTING);
  const std::size_t start = out.find(label);
  if (start == std::string::npos) {
    return 0;
  }
  const std::size_t from = start + label.size();
  std::size_t at = from;
  int counts = 0;
  char entry[16];
  while (counts < 1000) {
    std::snprintf(entry, sizeof entry, "%4d\b\b\b\b", 1000 - counts);
    if (out.compare(at, 8, entry) != 0) {
      break;
    }
    at += 8;
    ++counts;
  }
  if (counts == 0) {
    return -1;  // the label stands without a single count
  }
  out.replace(from, at - from, COUNTDOWN);
  return counts;
}

// ---- the drive's log -----------------------------------------------------------

struct Command {
  int code = 0;
  unsigned length = 0;
  unsigned target = 0;
  unsigned size = 0;
  bool operator==(const Command&) const = default;
};

std::ostream& operator<<(std::ostream& os, const Command& c) {
  return os << "{code " << c.code << " len " << c.length << " target 0x" << std::hex << c.target
            << std::dec << " size " << c.size << "}";
}

// The commands the drive took in, from its "rx" lines.
std::vector<Command> received(const std::string& log) {
  std::vector<Command> out;
  std::istringstream in(log);
  std::string text;
  while (std::getline(in, text)) {
    Command c;
    char source[64];
    if (std::sscanf(text.c_str(), "rx %63s code=%d len=%u target=0x%x size=%u", source, &c.code,
                    &c.length, &c.target, &c.size) == 5) {
      out.push_back(c);
    }
  }
  return out;
}

Command command(int code, unsigned length = 0, unsigned target = 0) {
  return {code, length, target, 524};
}

void repeat(std::vector<Command>& into, const Command& c, int times) {
  for (int i = 0; i < times; ++i) {
    into.push_back(c);
  }
}

// The block commands of an image, each sent tries times.
void blocks(std::vector<Command>& into, std::size_t imageSize, int tries,
            std::size_t count = SIZE_MAX) {
  for (std::size_t offset = 0; offset < imageSize && count > 0; offset += 512, --count) {
    const auto length = static_cast<unsigned>(std::min<std::size_t>(512, imageSize - offset));
    repeat(into, command(17, length, 0x8000 + static_cast<unsigned>(offset)), tries);
  }
}

// ---- running loader and drive ---------------------------------------------------

struct Background {
  BackgroundProcess process;
  ~Background() {
    if (process.pid > 0) {
      stopProcess(process, milliseconds(0));
    }
  }
};

struct LoaderRun {
  ProcessResult loader;
  ProcessResult drive;
  std::vector<Command> commands;  // as the drive took them in
  std::string driveImage;         // what the drive holds at its end
  int counts = 0;                 // the countdown's length; 0 when none was printed
};

struct RunSetup {
  std::vector<std::string> loaderArgs;  // -ip is added when the lab shares loopback
  std::vector<std::string> driveArgs;   // the drive's fault options
  std::string firmware;                 // written to fw.bin when not empty
  bool strayFromSecondAddress = false;
  bool driveStartsLate = false;  // once the loader shows its connection label
  bool noDrive = false;
  seconds timeout = seconds(60);
};

LoaderRun runLoader(const RunSetup& setup) {
  LoaderRun run;
  ScratchDir dir;
  auto lab = makeNetLab({.extraDriveAddresses = setup.strayFromSecondAddress ? 1 : 0});
  if (!setup.firmware.empty()) {
    writeFile(dir.file("fw.bin"), setup.firmware);
  }
  std::vector<std::string> driveArgv = {
      drivesimPath(),        "--ip",           lab->driveIp, "--image-out",
      dir.file("drive.bin"), "--idle-timeout", "120"};
  if (setup.strayFromSecondAddress) {
    driveArgv[2] += "," + lab->extraDriveIps.at(0);
    driveArgv.insert(driveArgv.end(), {"--stray-from", lab->extraDriveIps.at(0)});
  }
  driveArgv.insert(driveArgv.end(), setup.driveArgs.begin(), setup.driveArgs.end());

  std::vector<std::string> loaderArgv = tovrinCommand();
  if (!lab->isolated) {
    loaderArgv.insert(loaderArgv.end(), {"-ip", lab->driveIp});
  }
  for (const auto& a : setup.loaderArgs) {
    loaderArgv.push_back(a == "fw.bin" ? dir.file("fw.bin") : a);
  }

  Background drive;
  if (setup.driveStartsLate) {
    Background loader;
    loader.process = startProcess(lab->inHost(loaderArgv));
    EXPECT_TRUE(waitForOutput(loader.process, "Establishing", seconds(10)));
    drive.process = startProcess(lab->inDrive(driveArgv));
    EXPECT_TRUE(waitForOutput(drive.process, "ready", seconds(10)));
    run.loader = stopProcess(loader.process, setup.timeout);
  } else if (setup.noDrive) {
    run.loader = runProcess(lab->inHost(loaderArgv), setup.timeout);
  } else {
    drive.process = startProcess(lab->inDrive(driveArgv));
    if (!waitForOutput(drive.process, "ready", seconds(10))) {
      ADD_FAILURE() << "drivesim did not start: " << readFile(drive.process.outPath)
                    << readFile(drive.process.errPath);
      return run;
    }
    run.loader = runProcess(lab->inHost(loaderArgv), setup.timeout);
  }
  run.drive = stopProcess(drive.process, milliseconds(0));
  run.commands = received(run.drive.out);
  run.driveImage = readFile(dir.file("drive.bin"));

  EXPECT_EQ(run.loader.exitCode, 1);
  EXPECT_EQ(run.loader.err, "");
  EXPECT_FALSE(run.loader.timedOut);
  run.counts = takeCountdown(run.loader.out);
  EXPECT_GE(run.counts, 0) << "malformed countdown";
  return run;
}

double ms(const ProcessResult& r) { return r.seconds * 1000; }

// ---- complete programming runs -------------------------------------------------

struct ProgramCase {
  const char* name;
  std::size_t fileSize;
  int answerOn;  // the drive answers each command from this try on
};

// Names the case in the test list (GoogleTest looks for this very name).
void PrintTo(const ProgramCase& c, std::ostream* os) {  // NOLINT(readability-identifier-naming)
  *os << c.name;
}

class ProgramRun : public testing::TestWithParam<ProgramCase> {};

// The whole console, the drive's image byte for byte, every command in order
// with its address and length, and a run no shorter than its pauses.
TEST_P(ProgramRun, ProgramsTheWholeImage) {
  const ProgramCase& c = GetParam();
  const std::string file = sampleFile(c.fileSize);
  const std::string image = expectedImage(file);
  RunSetup setup;
  setup.loaderArgs = {"-fp", "fw.bin"};
  setup.firmware = file;
  if (c.answerOn > 1) {
    setup.driveArgs = {"--answer-on", std::to_string(c.answerOn)};
  }
  const LoaderRun run = runLoader(setup);

  EXPECT_EQ(run.loader.out, asConsoleBytes(BANNER + fileLines(image) + CONNECTING + COUNTDOWN +
                                           MONITOR + IDENTITY + PROGRAMMING + marks(image.size()) +
                                           VERIFYING + "DONE" + REBOOT + "DONE\n"));
  EXPECT_TRUE(run.driveImage == image)
      << "the drive holds " << run.driveImage.size() << " bytes, expected " << image.size();

  // The connection takes as many sends as the countdown shows.
  std::vector<Command> expected;
  repeat(expected, command(16), run.counts);
  repeat(expected, command(20), c.answerOn);
  blocks(expected, image.size(), c.answerOn);
  repeat(expected, command(18), c.answerOn);
  repeat(expected, command(19), c.answerOn);
  EXPECT_EQ(run.commands, expected);
  EXPECT_GE(run.counts, c.answerOn);

  const double minimum = 150 + 30.0 * run.counts + 2500 +
                         c.answerOn * (150 + 60.0 * ((image.size() + 511) / 512) + 120 + 30) + 5000;
  EXPECT_GE(ms(run.loader), minimum);
  EXPECT_LT(ms(run.loader), minimum + 3000);
}

INSTANTIATE_TEST_SUITE_P(Session, ProgramRun,
                         testing::Values(
                             // one partial block at 0x8000
                             ProgramCase{"OnePartialBlock", 300, 1},
                             // 32 full blocks and no last block: marks after blocks 0 and 16
                             ProgramCase{"WholeBlocksOnly", 512 * 32, 1},
                             // 17 full blocks and 4 bytes at 0xA200 (two of them the zero fill)
                             ProgramCase{"LastBlockOfFourBytes", 8706, 1},
                             // every exchange answered only on its third or its fifth try
                             ProgramCase{"AnsweredOnThirdTry", 1100, 3},
                             ProgramCase{"AnsweredOnFifthTry", 1100, 5}),
                         [](const testing::TestParamInfo<ProgramCase>& p) { return p.param.name; });

// ---- runs the drive stops answering ----------------------------------------------

struct StopCase {
  const char* name;
  std::vector<std::string> driveArgs;
  std::string consoleEnd;          // what the console ends with
  std::size_t blocksAnswered;      // blocks that went through
  std::vector<Command> lastSends;  // the unanswered sends, nothing after them
};

void PrintTo(const StopCase& c, std::ostream* os) {  // NOLINT(readability-identifier-naming)
  *os << c.name;
}

class DriveStops : public testing::TestWithParam<StopCase> {};

constexpr std::size_t STOP_IMAGE = 512 * 40;

// The session ends silently at the first exchange that gets five sends and no
// answer: the console ends with the stage under way, nothing is sent after.
TEST_P(DriveStops, TheRunEndsSilentlyAfterFiveUnansweredSends) {
  const StopCase& c = GetParam();
  const std::string file = sampleFile(STOP_IMAGE);
  const std::string image = expectedImage(file);
  RunSetup setup;
  setup.loaderArgs = {"-fp", "fw.bin"};
  setup.driveArgs = c.driveArgs;
  setup.firmware = file;
  const LoaderRun run = runLoader(setup);

  EXPECT_EQ(run.loader.out, asConsoleBytes(BANNER + fileLines(image) + CONNECTING + COUNTDOWN +
                                           MONITOR + c.consoleEnd));
  std::vector<Command> expected;
  repeat(expected, command(16), run.counts);
  if (c.lastSends.front().code != 20) {
    expected.push_back(command(20));
  }
  blocks(expected, image.size(), 1, c.blocksAnswered);
  expected.insert(expected.end(), c.lastSends.begin(), c.lastSends.end());
  EXPECT_EQ(run.commands, expected);
}

std::vector<Command> fiveTimes(const Command& c) { return std::vector<Command>(5, c); }

INSTANTIATE_TEST_SUITE_P(Session, DriveStops,
                         testing::Values(StopCase{"InTheMiddleOfTheBlocks",
                                                  {"--silent-after-block", "17"},
                                                  IDENTITY + PROGRAMMING + "||",
                                                  18,
                                                  fiveTimes(command(17, 512, 0x8000 + 18 * 512))},
                                         StopCase{"AtTheMonitorState",
                                                  {"--answer-on", "6", "--fault-code", "20"},
                                                  "",
                                                  0,
                                                  fiveTimes(command(20))},
                                         StopCase{"AtTheFirstBlock",
                                                  {"--answer-on", "6", "--fault-code", "17"},
                                                  IDENTITY + PROGRAMMING,
                                                  0,
                                                  fiveTimes(command(17, 512, 0x8000))},
                                         StopCase{"AtVerify",
                                                  {"--answer-on", "6", "--fault-code", "18"},
                                                  IDENTITY + PROGRAMMING + "|||" + VERIFYING,
                                                  40,
                                                  fiveTimes(command(18))},
                                         StopCase{"AtReboot",
                                                  {"--answer-on", "6", "--fault-code", "19"},
                                                  IDENTITY + PROGRAMMING + "|||" + VERIFYING +
                                                      "DONE" + REBOOT,
                                                  40,
                                                  [] {
                                                    auto sends = fiveTimes(command(19));
                                                    sends.insert(sends.begin(), command(18));
                                                    return sends;
                                                  }()}),
                         [](const testing::TestParamInfo<StopCase>& p) { return p.param.name; });

// ---- identity and verify runs ------------------------------------------------------

// A drive in its monitor state answers the first CMD_ENTER_MONITOR: the
// identity alone, no file read (the path named does not exist), no
// connection, and the run ends once the report is in.
TEST(Session, IdentityRunWithADriveThatAnswersAtOnce) {
  RunSetup setup;
  setup.loaderArgs = {"-fp", "/nonexistent/fw.bin", "-u"};
  const LoaderRun run = runLoader(setup);
  EXPECT_EQ(run.loader.out, asConsoleBytes(BANNER + IDENTITY));
  EXPECT_EQ(run.commands, std::vector<Command>{command(20)});
  EXPECT_GE(ms(run.loader), 150 + 150);
  EXPECT_LT(ms(run.loader), 150 + 150 + 2000);
}

struct VerifyCase {
  const char* name;
  bool equal;
};

void PrintTo(const VerifyCase& c, std::ostream* os) {  // NOLINT(readability-identifier-naming)
  *os << c.name;
}

class VerifyRun : public testing::TestWithParam<VerifyCase> {};

// The file's digest beside the drive's, with the verdict; the digests differ
// only in their last byte in the failing case. No block, verify or reboot
// command is ever sent.
TEST_P(VerifyRun, ComparesTheDigests) {
  const std::string file = sampleFile(5000);
  const std::string image = expectedImage(file);
  std::string driveDigest = image.substr(0, 16);
  if (!GetParam().equal) {
    driveDigest[15] = static_cast<char>(driveDigest[15] ^ 1);
  }
  const LoaderRun run = runLoader({.loaderArgs = {"-v", "-fp", "fw.bin"},
                                   .driveArgs = {"--digest", hex(driveDigest)},
                                   .firmware = file});
  EXPECT_EQ(run.loader.out, asConsoleBytes(BANNER + fileLines(image) + IDENTITY +
                                           verifyLines(driveDigest, image.substr(0, 16))));
  EXPECT_EQ(run.commands, std::vector<Command>{command(20)});
}

INSTANTIATE_TEST_SUITE_P(Session, VerifyRun,
                         testing::Values(VerifyCase{"EqualDigests", true},
                                         VerifyCase{"DigestsDifferInTheLastByte", false}),
                         [](const testing::TestParamInfo<VerifyCase>& p) { return p.param.name; });

// The drive comes up only after the identity probe went unanswered: the
// connection is made and the monitor stage entered as for programming, then
// the report; the drive never sees a block, verify or reboot command.
TEST(Session, IdentityRunFallsThroughToTheConnection) {
  RunSetup setup;
  setup.loaderArgs = {"-u"};
  setup.driveStartsLate = true;
  const LoaderRun run = runLoader(setup);
  EXPECT_EQ(run.loader.out, asConsoleBytes(BANNER + CONNECTING + COUNTDOWN + MONITOR + IDENTITY));
  std::vector<Command> expected;
  repeat(expected, command(16), static_cast<int>(run.commands.size()) - 1);
  expected.push_back(command(20));
  EXPECT_EQ(run.commands, expected);
  EXPECT_LE(run.commands.size(), static_cast<std::size_t>(run.counts) + 1);
}

TEST(Session, VerifyRunFallsThroughToTheConnection) {
  const std::string file = sampleFile(777);
  const std::string image = expectedImage(file);
  const std::string digest = image.substr(0, 16);
  RunSetup setup;
  setup.loaderArgs = {"-fp", "fw.bin", "-v"};
  setup.driveArgs = {"--digest", hex(digest)};
  setup.firmware = file;
  setup.driveStartsLate = true;
  const LoaderRun run = runLoader(setup);
  EXPECT_EQ(run.loader.out, asConsoleBytes(BANNER + fileLines(image) + CONNECTING + COUNTDOWN +
                                           MONITOR + IDENTITY + verifyLines(digest, digest)));
  std::vector<Command> expected;
  repeat(expected, command(16), static_cast<int>(run.commands.size()) - 1);
  expected.push_back(command(20));
  EXPECT_EQ(run.commands, expected);
}

// ---- answers that never complete the report --------------------------------------

// A datagram from another address ends the identity probe as if the drive
// had answered; no digest ever comes, so the wait ends after five seconds
// with its message.
TEST(Session, AStrayDatagramEndsTheIdentityProbe) {
  RunSetup setup;
  setup.loaderArgs = {"-u"};
  setup.strayFromSecondAddress = true;
  const LoaderRun run = runLoader(setup);
  EXPECT_EQ(run.loader.out, asConsoleBytes(BANNER + NO_DIGEST));
  EXPECT_EQ(run.commands, std::vector<Command>{command(20)});
  EXPECT_GE(ms(run.loader), 150 + 150 + 5000);
  EXPECT_LT(ms(run.loader), 150 + 150 + 5000 + 2000);
}

// An answer with the identity but without the digest: the identity is shown,
// then the bounded wait ends with its message.
TEST(Session, AnAnswerWithoutDigestEndsTheWaitAfterFiveSeconds) {
  RunSetup setup;
  setup.loaderArgs = {"-u"};
  setup.driveArgs = {"--no-digest"};
  const LoaderRun run = runLoader(setup);
  EXPECT_EQ(run.loader.out, asConsoleBytes(BANNER + IDENTITY + NO_DIGEST));
  EXPECT_EQ(run.commands, std::vector<Command>{command(20)});
  EXPECT_GE(ms(run.loader), 150 + 150 + 5000);
  EXPECT_LT(ms(run.loader), 150 + 150 + 5000 + 2000);
}

// ---- no drive in time -----------------------------------------------------------

// No drive on the LAN: five identity probes go unanswered, then the full
// countdown of 1000 connects, and the run ends there without a word.
TEST(Session, NoDriveAtAll) {
  RunSetup setup;
  setup.loaderArgs = {"-u"};
  setup.noDrive = true;
  setup.timeout = seconds(90);
  const LoaderRun run = runLoader(setup);
  EXPECT_EQ(run.loader.out, asConsoleBytes(BANNER + CONNECTING + COUNTDOWN));
  EXPECT_EQ(run.counts, 1000);
  EXPECT_GE(ms(run.loader), 150 + 5 * 150 + 1000 * 30);
  EXPECT_LT(ms(run.loader), 150 + 5 * 150 + 1000 * 30 + 10000);
}

// A drive that answers only the 1000th connect, in the pause after the last
// send: too late, the connection loop has given up. The drive's log shows
// exactly what was sent: five probes and 1000 connects.
TEST(Session, AnAnswerToTheLastConnectComesTooLate) {
  RunSetup setup;
  setup.loaderArgs = {"-fp", "fw.bin"};
  setup.firmware = sampleFile(600);
  setup.driveArgs = {"--answer-on", "1000", "--fault-code", "16"};
  setup.timeout = seconds(90);
  const LoaderRun run = runLoader(setup);
  EXPECT_EQ(run.loader.out, asConsoleBytes(BANNER + fileLines(expectedImage(setup.firmware)) +
                                           CONNECTING + COUNTDOWN));
  EXPECT_EQ(run.counts, 1000);
  EXPECT_EQ(run.commands, std::vector<Command>(1000, command(16)));
  EXPECT_NE(run.drive.out.find("tx"), std::string::npos) << "the drive never answered";
}

}  // namespace
