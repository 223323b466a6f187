// Several drives in one run of the built loader, against one simulated drive
// process serving every address, over real UDP: every drive's image, the
// summary and the exit status, a drive that fails alone, answers forged by
// another host, and the console on a terminal and in a log.
#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sched.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <sstream>
#include <stop_token>
#include <string>
#include <thread>
#include <vector>

#include "platform/net.h"
#include "testkit/expected.h"
#include "testkit/netlab.h"
#include "testkit/process.h"
#include "testkit/terminal.h"

namespace {

using Args = std::vector<std::string>;
using std::chrono::milliseconds;
using std::chrono::seconds;

const std::string FILE_BYTES = sampleFile(512 * 20 + 100);  // 21 blocks
const std::string IMAGE = expectedImage(FILE_BYTES);
const std::string DIGEST = IMAGE.substr(0, 16);
const std::string OTHER_DIGEST = DIGEST.substr(0, 15) + static_cast<char>(DIGEST[15] ^ 1);

// A lab with three drive addresses, a drive process serving them, and the
// loader's command for all three.
struct ThreeDrives {
  explicit ThreeDrives(const std::string& driveArgs) : lab(makeNetLab({.extraDriveAddresses = 3})) {
    addresses = {lab->driveIp, lab->extraDriveIps.at(0), lab->extraDriveIps.at(1)};
    writeFile(dir.file("fw.bin"), FILE_BYTES);
    Args argv = {drivesimPath(), "--idle-timeout",  "60", "--ip", list(),
                 "--image-out",  dir.file("%a.bin")};
    for (const auto& word : words(driveArgs)) {
      argv.push_back(word == "THIRD" ? addresses[2] : word == "STRAY" ? stray() : word);
    }
    drive = startProcess(lab->inDrive(argv));
    ready = waitForOutput(drive, "ready", seconds(10));
    if (!ready) {
      ADD_FAILURE() << stopProcess(drive, seconds(0)).out;
    }
  }
  ~ThreeDrives() { stopProcess(drive, seconds(0)); }
  ThreeDrives(const ThreeDrives&) = delete;
  ThreeDrives& operator=(const ThreeDrives&) = delete;

  std::string list() const { return addresses[0] + "," + addresses[1] + "," + addresses[2]; }
  // An address of the drive's side that is none of the run's drives.
  std::string stray() const { return lab->extraDriveIps.at(2); }
  // The loader's command: fw.bin and rec.jsonl stand for the test's files.
  Args loader(const std::string& args) const {
    Args argv = tovrinCommand();
    argv.insert(argv.end(), {"-ip", list()});
    for (const auto& word : words(args)) {
      argv.push_back(word == "fw.bin" || word == "rec.jsonl" ? dir.file(word) : word);
    }
    return lab->inHost(argv);
  }
  std::string image(std::size_t i) const { return readFile(dir.file(addresses[i] + ".bin")); }

  ScratchDir dir;
  std::unique_ptr<NetLab> lab;
  Args addresses;
  BackgroundProcess drive;
  bool ready = false;
};

std::vector<std::string> linesOf(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) {
    lines.push_back(line);
  }
  return lines;
}

// The summary row of a drive: its address first, then its fields.
std::string rowOf(const std::string& out, const std::string& address) {
  for (const auto& line : linesOf(out)) {
    if (line.rfind(address + " ", 0) == 0) {
      return line;
    }
  }
  return "";
}

std::size_t countOf(const std::string& text, const std::string& part) {
  std::size_t n = 0;
  for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) {
    ++n;
  }
  return n;
}

struct ModeCase {
  const char* name;
  std::string loaderArgs;
  std::string driveArgs;
  std::string countLine;
  int exitCode;
};

void PrintTo(const ModeCase& c, std::ostream* os) { *os << c.name; }

class FleetModes : public testing::TestWithParam<ModeCase> {};

// Each mode over three drives: the summary's count, the exit status, a run
// record per drive and, programmed, every drive's image equal to the file's.
TEST_P(FleetModes, EveryDriveSideBySide) {
  const ModeCase& c = GetParam();
  ThreeDrives run(c.driveArgs);
  ASSERT_TRUE(run.ready) << "drivesim did not start";
  const ProcessResult r = runProcess(run.loader(c.loaderArgs + " -r rec.jsonl"), seconds(60));
  EXPECT_EQ(r.exitCode, c.exitCode) << r.out;
  EXPECT_EQ(r.err, "");
  EXPECT_NE(r.out.find(c.countLine + "\n"), std::string::npos) << r.out;
  EXPECT_EQ(r.out.find("Retry"), std::string::npos);
  EXPECT_EQ(r.out.find('\x1b'), std::string::npos) << "escape sequences in a log";
  const auto records = linesOf(readFile(run.dir.file("rec.jsonl")));
  ASSERT_EQ(records.size(), 3u);
  for (std::size_t i = 0; i < 3; ++i) {
    // the simulated drives' serial numbers and MAC addresses count up
    const std::string identity =
        std::to_string(123456 + i) + "  02:00:00:12:34:a" + static_cast<char>('b' + i);
    EXPECT_NE(rowOf(r.out, run.addresses[i]).find(identity), std::string::npos) << r.out;
    EXPECT_EQ(
        countOf(readFile(run.dir.file("rec.jsonl")), "\"address\":\"" + run.addresses[i] + "\""),
        1u);
  }
  if (c.loaderArgs.find("-v") == std::string::npos &&
      c.loaderArgs.find("-u") == std::string::npos) {
    for (std::size_t i = 0; i < 3; ++i) {
      EXPECT_TRUE(run.image(i) == IMAGE) << "drive " << run.addresses[i] << " holds another image";
    }
  }
}

INSTANTIATE_TEST_SUITE_P(
    Fleet, FleetModes,
    testing::Values(ModeCase{"Program", "-fp fw.bin", "", "3 drives: 3 programmed and verified", 0},
                    ModeCase{"Identity", "-u", "", "3 drives: 3 identity read", 0},
                    ModeCase{"VerifyEqual", "-v -fp fw.bin", "--digest " + hex(DIGEST),
                             "3 drives: 3 digest equal", 0},
                    // a digest that differs is an answer, not a failure, but no success
                    ModeCase{
                        "VerifyOneDiffers", "-v -fp fw.bin",
                        "--digest " + hex(DIGEST) + " --drive THIRD --digest " + hex(OTHER_DIGEST),
                        "3 drives: 2 digest equal, 1 digest differs", 1}),
    testing::PrintToStringParamName());

// The third drive falls silent from block 10: it fails alone, the others are
// programmed, and the summary, the retry line and the exit status say so.
// Every line of the log before the summary is one drive's, whole.
TEST(Fleet, ASilentDriveFailsAlone) {
  ThreeDrives run("--drive THIRD --silent-from-block 10");
  ASSERT_TRUE(run.ready) << "drivesim did not start";
  const ProcessResult r = runProcess(run.loader("-fp fw.bin"), seconds(60));
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_TRUE(run.image(0) == IMAGE);
  EXPECT_TRUE(run.image(1) == IMAGE);
  EXPECT_NE(rowOf(r.out, run.addresses[0]).find("programmed and verified"), std::string::npos);
  EXPECT_NE(rowOf(r.out, run.addresses[2]).find("failed at programming, block 11: no answer"),
            std::string::npos)
      << r.out;
  EXPECT_NE(r.out.find("3 drives: 2 programmed and verified, 1 failed\n"), std::string::npos);
  EXPECT_NE(r.out.find(" -ip " + run.addresses[2] + " -fp " + run.dir.file("fw.bin") + "\n"),
            std::string::npos)
      << r.out;
  const auto lines = linesOf(r.out);
  const auto table = std::find_if(lines.begin(), lines.end(),
                                  [](const std::string& l) { return l.rfind("Address ", 0) == 0; });
  ASSERT_NE(table, lines.end());
  const auto opening = std::find(lines.begin(), table, "Programming 3 drives");
  ASSERT_NE(opening, table) << r.out;
  for (auto line = opening + 1; line != table && !line->empty(); ++line) {
    const bool ownLine =
        std::any_of(run.addresses.begin(), run.addresses.end(),
                    [&](const std::string& a) { return line->rfind(a + ": ", 0) == 0; });
    EXPECT_TRUE(ownLine) << *line;
  }
  EXPECT_EQ(countOf(r.out, run.addresses[2] + ": failed at programming, block 11: no answer\n"),
            1u);
}

// Another host sends plausible answers (every code, status 1, an identity
// among them) at the loader's port all through a run: none is taken for a
// drive's answer, so every image is whole.
TEST(Fleet, ForgedAnswersFromAnotherHostAreNoAnswers) {
  ThreeDrives run("");
  ASSERT_TRUE(run.ready) << "drivesim did not start";
  if (!run.lab->isolated) {
    GTEST_SKIP() << "a flood belongs in a private network namespace";
  }
  std::jthread forger([&](const std::stop_token& stop) {
    const int nsFd = open(("/run/netns/" + run.lab->driveNs).c_str(), O_RDONLY | O_CLOEXEC);
    const bool entered = nsFd >= 0 && setns(nsFd, CLONE_NEWNET) == 0;
    if (nsFd >= 0) {
      close(nsFd);
    }
    in_addr from{};
    in_addr host{};
    inet_pton(AF_INET, run.stray().c_str(), &from);
    inet_pton(AF_INET, run.lab->hostIp.c_str(), &host);
    UdpSocket s = entered ? UdpSocket::open() : UdpSocket();
    if (!s.isOpen() || !s.bind(ntohl(from.s_addr), 0)) {
      return;
    }
    std::vector<std::uint8_t> answer(133, 0x5a);
    for (int n = 0; !stop.stop_requested(); ++n) {
      answer[0] = 0;
      answer[1] = static_cast<std::uint8_t>(16 + n % 5);
      answer[2] = 0;
      answer[3] = answer[1] == 20 ? 128 : 0;
      answer[4] = 1;
      s.send(std::span(answer).first(answer[1] == 20 ? 133U : 5U), ntohl(host.s_addr), 8995);
      if (n % 20 == 0) {
        std::this_thread::sleep_for(milliseconds(1));
      }
    }
  });
  const ProcessResult r = runProcess(run.loader("-fp fw.bin"), seconds(60));
  forger.request_stop();
  forger.join();
  EXPECT_EQ(r.exitCode, 0) << r.out;
  for (std::size_t i = 0; i < 3; ++i) {
    EXPECT_TRUE(run.image(i) == IMAGE) << "drive " << run.addresses[i] << " holds another image";
  }
}

// On a terminal the drives' lines are redrawn in place: each drawing goes
// back up over the three lines, and the last one shows every result.
TEST(Fleet, TerminalLinesRedrawnInPlace) {
  ThreeDrives run("");
  ASSERT_TRUE(run.ready) << "drivesim did not start";
  const ProcessResult r = runInTerminal(run.loader("-u"), seconds(60));
  EXPECT_EQ(r.exitCode, 0) << r.out;
  EXPECT_GE(countOf(r.out, "\x1b[3A"), 1u) << r.out;
  const std::size_t last = r.out.rfind("\x1b[3A");
  EXPECT_EQ(countOf(r.out.substr(last), "identity read\x1b[K"), 3u) << r.out;
  EXPECT_NE(r.out.find("3 drives: 3 identity read"), std::string::npos);
}

// A window narrower than the full lines (60 columns): the drawings go back
// over the three lines as before, with lines that leave the last column
// free, so that none wraps and leaves a stale copy behind.
TEST(Fleet, NarrowTerminalGetsShorterLines) {
  ThreeDrives run("");
  ASSERT_TRUE(run.ready) << "drivesim did not start";
  const ProcessResult r = runInTerminal(run.loader("-u"), seconds(60), 60);
  EXPECT_EQ(r.exitCode, 0) << r.out;
  EXPECT_GE(countOf(r.out, "\x1b[3A"), 1u) << r.out;
  for (std::size_t at = r.out.find("\x1b[K"); at != std::string::npos;
       at = r.out.find("\x1b[K", at + 1)) {
    const std::size_t start = r.out.rfind('\r', at);
    ASSERT_NE(start, std::string::npos);
    EXPECT_LT(at - start - 1, 60u) << r.out.substr(start + 1, at - start - 1);
  }
  EXPECT_NE(r.out.find("3 drives: 3 identity read"), std::string::npos);
}

// A list is several drives even when it names one drive twice (in two
// spellings): the several-drives console, its summary and status.
TEST(Fleet, ListOfOneDriveIsStillAList) {
  ThreeDrives run("");
  ASSERT_TRUE(run.ready) << "drivesim did not start";
  const std::uint32_t number = ntohl(inet_addr(run.addresses[0].c_str()));
  Args argv = tovrinCommand();
  argv.insert(argv.end(), {"-ip", run.addresses[0] + "," + std::to_string(number), "-u"});
  const ProcessResult r = runProcess(run.lab->inHost(argv), seconds(30));
  EXPECT_EQ(r.exitCode, 0) << r.out;
  EXPECT_NE(r.out.find("\nReading the unit identity of 1 drive\n"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("1 drive: 1 identity read"), std::string::npos) << r.out;
}

// One drive with -r: the console of a one-drive run, byte for byte, its exit
// status 1, and the drive's record appended to what the file held.
TEST(Fleet, OneDriveRecordedKeepsItsConsole) {
  ThreeDrives run("");
  ASSERT_TRUE(run.ready) << "drivesim did not start";
  writeFile(run.dir.file("rec.jsonl"), "earlier\n");
  const auto oneDrive = [&](const std::string& args) {
    Args argv = tovrinCommand();
    argv.insert(argv.end(), {"-ip", run.addresses[1], "-v", "-fp", run.dir.file("fw.bin")});
    for (const auto& word : words(args)) {
      argv.push_back(word == "rec.jsonl" ? run.dir.file(word) : word);
    }
    return runProcess(run.lab->inHost(argv), seconds(30));
  };
  const ProcessResult plain = oneDrive("");
  const ProcessResult recorded = oneDrive("-r rec.jsonl");
  EXPECT_EQ(recorded.out, plain.out);
  EXPECT_EQ(recorded.exitCode, 1);
  const auto records = linesOf(readFile(run.dir.file("rec.jsonl")));
  ASSERT_EQ(records.size(), 2u);
  EXPECT_EQ(records[0], "earlier");
  EXPECT_NE(records[1].find("\"address\":\"" + run.addresses[1] + "\",\"mode\":\"verify\","),
            std::string::npos)
      << records[1];
  EXPECT_NE(records[1].find("\"fileDigest\":\"" + hex(DIGEST) + "\""), std::string::npos);
}

// -a: discovery from both adapters of a PC on two LANs shows its list, then
// the drives found on either LAN are identified side by side; with -fp the
// file's lines start below the list.
TEST(Fleet, EveryDiscoveredDriveOnTwoAdapters) {
  if (!canMakeNamespaces()) {
    GTEST_SKIP() << "discovery broadcasts; it needs a private network";
  }
  auto lab = makeNetLab({.requireIsolation = true, .shape = LabShape::twoLans});
  const auto sim = [](const std::string& ip) {
    return Args{drivesimPath(), "--discovery", "--idle-timeout", "60", "--ip", ip};
  };
  BackgroundProcess first = startProcess(lab->inDrive(sim(lab->driveIp)));
  BackgroundProcess second = startProcess(lab->inSecondDrive(sim(lab->secondDriveIp)));
  ASSERT_TRUE(waitForOutput(first, "ready", seconds(10)));
  ASSERT_TRUE(waitForOutput(second, "ready", seconds(10)));
  Args loader = tovrinCommand();
  loader.insert(loader.end(), {"-ip", "10.9.9.9", "-a", "-u"});
  const ProcessResult r = runProcess(lab->inHost(loader), seconds(60));
  const ScratchDir dir;
  writeFile(dir.file("fw.bin"), FILE_BYTES);
  loader.insert(loader.end(), {"-v", "-fp", dir.file("fw.bin")});
  const ProcessResult v = runProcess(lab->inHost(loader), seconds(60));
  stopProcess(first, seconds(0));
  stopProcess(second, seconds(0));
  EXPECT_EQ(r.exitCode, 0) << r.out;
  const std::size_t listed = r.out.find("\nReading the unit identity of 2 drives\n");
  ASSERT_NE(listed, std::string::npos) << r.out;
  for (const auto& ip : {lab->driveIp, lab->secondDriveIp}) {
    EXPECT_LT(r.out.find("\t-->  " + ip + " "), listed) << r.out;
    EXPECT_NE(rowOf(r.out, ip).find("identity read"), std::string::npos) << r.out;
  }
  EXPECT_NE(r.out.find("2 drives: 2 identity read\n"), std::string::npos);

  // With a file the file's lines follow the list, each on a line of its own.
  const std::size_t file = v.out.find("File Firmware MD5  : \t");
  ASSERT_NE(file, std::string::npos) << v.out;
  EXPECT_EQ(v.out.substr(file - 2, 2), " \n") << v.out;
  EXPECT_NE(v.out.find("\t-->  "), std::string::npos) << v.out;
  EXPECT_LT(v.out.rfind("\t-->  "), file) << v.out;
}

// Drives on two LANs that know no route beyond their own (a machine's drives
// have no gateway): each must be sent to from the adapter on its LAN, with
// that adapter's address to answer to.
TEST(Fleet, DrivesBehindTwoAdaptersAnswerOnTheirOwnLans) {
  if (!canMakeNamespaces()) {
    GTEST_SKIP() << "two LANs need private network namespaces";
  }
  auto lab = makeNetLab({.requireIsolation = true, .shape = LabShape::twoLans});
  ASSERT_EQ(
      runProcess({"ip", "-n", lab->secondDriveNs, "route", "del", "default"}, seconds(10)).exitCode,
      0);
  const auto sim = [](const std::string& ip) {
    return Args{drivesimPath(), "--idle-timeout", "60", "--ip", ip};
  };
  BackgroundProcess first = startProcess(lab->inDrive(sim(lab->driveIp)));
  BackgroundProcess second = startProcess(lab->inSecondDrive(sim(lab->secondDriveIp)));
  ASSERT_TRUE(waitForOutput(first, "ready", seconds(10)));
  ASSERT_TRUE(waitForOutput(second, "ready", seconds(10)));
  Args loader = tovrinCommand();
  loader.insert(loader.end(), {"-ip", lab->driveIp + "," + lab->secondDriveIp, "-u"});
  const ProcessResult r = runProcess(lab->inHost(loader), seconds(60));
  stopProcess(first, seconds(0));
  stopProcess(second, seconds(0));
  EXPECT_EQ(r.exitCode, 0) << r.out;
  EXPECT_NE(r.out.find("2 drives: 2 identity read\n"), std::string::npos) << r.out;
}

}  // namespace
