// The built loader stopped by a signal at the connection, in the middle of
// programming and at the reboot, for one drive and for three with -r: it
// ends within a second, by the signal itself, after saying where each drive
// stopped and recording it; and records stay records when standard output
// is closed or the record file's disk is full.
#include <gtest/gtest.h>
#include <signal.h>

#include <chrono>
#include <map>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "testkit/expected.h"
#include "testkit/json_line.h"
#include "testkit/netlab.h"
#include "testkit/process.h"

namespace {

using Args = std::vector<std::string>;
using Record = std::map<std::string, std::string>;
using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;
using std::chrono::seconds;

const std::string FILE_BYTES = sampleFile(512 * 40 - 24);  // 40 blocks

std::vector<std::string> linesOf(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) {
    lines.push_back(line);
  }
  return lines;
}

// Every line of the record file as a JSON object; a line that is none fails
// the test.
std::vector<Record> recordsIn(const std::string& path) {
  std::vector<Record> records;
  for (const auto& line : linesOf(readFile(path))) {
    const auto record = parseJsonObject(line);
    EXPECT_TRUE(record.has_value()) << "not a JSON object: " << line;
    if (record) {
      records.push_back(*record);
    }
  }
  return records;
}

// A lab with three drive addresses served by one simulated drive process.
struct Drives {
  explicit Drives(const std::string& driveArgs) : lab(makeNetLab({.extraDriveAddresses = 2})) {
    addresses = {lab->driveIp, lab->extraDriveIps.at(0), lab->extraDriveIps.at(1)};
    writeFile(dir.file("fw.bin"), FILE_BYTES);
    Args argv = {drivesimPath(), "--quiet", "--idle-timeout",
                 "60",           "--ip",    addresses[0] + "," + addresses[1] + "," + addresses[2]};
    for (const auto& word : words(driveArgs)) {
      argv.push_back(word);
    }
    drive = startProcess(lab->inDrive(argv));
    ready = waitForOutput(drive, "ready", seconds(10));
  }
  ~Drives() { stopProcess(drive, seconds(0)); }
  Drives(const Drives&) = delete;
  Drives& operator=(const Drives&) = delete;

  // The loader for the first `count` drives; fw.bin and rec.jsonl stand for
  // the test's files.
  Args loader(std::size_t count, const std::string& args) const {
    std::string list = addresses[0];
    for (std::size_t i = 1; i < count; ++i) {
      list += "," + addresses[i];
    }
    Args argv = tovrinCommand();
    argv.insert(argv.end(), {"-ip", list});
    for (const auto& word : words(args)) {
      argv.push_back(word == "fw.bin" || word == "rec.jsonl" ? dir.file(word) : word);
    }
    return argv;
  }

  ScratchDir dir;
  std::unique_ptr<NetLab> lab;
  Args addresses;
  BackgroundProcess drive;
  bool ready = false;
};

struct StopCase {
  const char* name;
  std::size_t drives;
  std::string driveArgs;
  std::string waitFor;  // the console text the signal follows
  int afterMs;          // ... this long after
  int signal;
  std::string stage;        // the records' failedStage
  bool inBlock;             // a block was in flight
  bool imageIncomplete;     // the drive holds part of an image
  std::string oneDriveEnd;  // the one-drive console's last line, as a pattern
};

void PrintTo(const StopCase& c, std::ostream* os) { *os << c.name; }

class StoppedRun : public testing::TestWithParam<StopCase> {};

TEST_P(StoppedRun, SaysAndRecordsWhereEachDriveStoppedAndEndsByTheSignal) {
  const StopCase& c = GetParam();
  Drives lab(c.driveArgs);
  ASSERT_TRUE(lab.ready) << "drivesim did not start";
  BackgroundProcess loader =
      startProcess(lab.lab->inHost(lab.loader(c.drives, "-fp fw.bin -r rec.jsonl")));
  ASSERT_TRUE(waitForOutput(loader, c.waitFor, seconds(20))) << stopProcess(loader, seconds(0)).out;
  std::this_thread::sleep_for(milliseconds(c.afterMs));
  const auto stopped = Clock::now();
  kill(loader.pid, c.signal);
  const ProcessResult r = stopProcess(loader, seconds(5));
  const auto took = Clock::now() - stopped;

  EXPECT_FALSE(r.timedOut);
  EXPECT_EQ(r.signal, c.signal) << "exit code " << r.exitCode << "\n" << r.out;
  EXPECT_LT(took, milliseconds(1000));
  EXPECT_EQ(r.err, "");

  const std::vector<Record> records = recordsIn(lab.dir.file("rec.jsonl"));
  ASSERT_EQ(records.size(), c.drives) << r.out;
  for (std::size_t i = 0; i < c.drives; ++i) {
    const Record& rec = records[i];
    EXPECT_EQ(rec.at("address"), "\"" + lab.addresses[i] + "\"");
    EXPECT_EQ(rec.at("result"), "\"interrupted\"");
    EXPECT_EQ(rec.at("reason"), "\"interrupted\"");
    EXPECT_EQ(rec.at("failedStage"), "\"" + c.stage + "\"");
    EXPECT_EQ(rec.at("imageIncomplete"), c.imageIncomplete ? "true" : "false");
    if (c.inBlock) {
      const int block = std::stoi(rec.at("failedBlock"));
      EXPECT_TRUE(block >= 1 && block <= 40) << block;
    } else {
      EXPECT_EQ(rec.at("failedBlock"), "null");
    }
  }

  if (c.drives == 1) {
    const auto lines = linesOf(r.out);
    ASSERT_FALSE(lines.empty());
    EXPECT_TRUE(std::regex_match(lines.back(), std::regex(c.oneDriveEnd))) << r.out;
    return;
  }
  EXPECT_NE(r.out.find("\n3 drives: 3 interrupted\n"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("Retry the failed drives: "), std::string::npos);
  for (const auto& address : lab.addresses) {
    const std::regex row("(^|\n)" + address + " .*interrupted at [^\n]*" +
                         (c.imageIncomplete ? "program it again" : "") + "[^\n]*\n");
    EXPECT_TRUE(std::regex_search(r.out, row)) << address << "\n" << r.out;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Interrupt, StoppedRun,
    testing::Values(
        StopCase{"OneDriveConnecting", 1, "--silent", "Establishing connection", 300, SIGHUP,
                 "connection", false, false, "ERROR: Interrupted during connection"},
        StopCase{"OneDriveProgramming", 1, "--delay-ms 20", "Programming Firmware", 800, SIGINT,
                 "programming", true, true,
                 "ERROR: Interrupted during block [0-9]+ of 40: the drive holds part of the "
                 "image, program it again"},
        StopCase{"OneDriveRebooting", 1, "", "Reboot :", 1000, SIGTERM, "reboot", false, false,
                 "ERROR: Interrupted during reboot"},
        StopCase{"ThreeDrivesConnecting", 3, "--silent", "connect", 300, SIGTERM, "connection",
                 false, false, ""},
        StopCase{"ThreeDrivesProgramming", 3, "--delay-ms 20", ": program", 800, SIGINT,
                 "programming", true, true, ""},
        StopCase{"ThreeDrivesRebooting", 3, "", ": reboot", 1000, SIGHUP, "reboot", false, false,
                 ""}),
    testing::PrintToStringParamName());

// Discovery stopped half-way (-d, and -a before any drive is touched):
// the drives found so far stay listed, one line says it was interrupted,
// and the process ends by the signal within a second.
TEST(StoppedDiscovery, EndsByTheSignalWithTheDrivesFoundSoFar) {
  if (!canMakeNamespaces()) {
    GTEST_SKIP() << "discovery broadcasts; it needs a private network";
  }
  auto lab = makeNetLab({.requireIsolation = true});
  BackgroundProcess drive = startProcess(
      lab->inDrive({drivesimPath(), "--discovery", "--idle-timeout", "60", "--ip", lab->driveIp}));
  ASSERT_TRUE(waitForOutput(drive, "ready", seconds(10)));
  for (const char* mode : {"-d", "-a"}) {
    Args argv = tovrinCommand();
    argv.emplace_back(mode);
    if (std::string(mode) == "-a") {
      argv.emplace_back("-u");
    }
    BackgroundProcess loader = startProcess(lab->inHost(argv));
    EXPECT_TRUE(waitForOutput(loader, lab->driveIp, seconds(5))) << mode;
    const auto stopped = Clock::now();
    kill(loader.pid, SIGINT);
    const ProcessResult r = stopProcess(loader, seconds(5));
    EXPECT_LT(Clock::now() - stopped, milliseconds(1000)) << mode;
    EXPECT_EQ(r.signal, SIGINT) << mode << "\n" << r.out;
    EXPECT_NE(r.out.find("-->  " + lab->driveIp), std::string::npos) << r.out;
    EXPECT_TRUE(r.out.ends_with("\nERROR: Interrupted during discovery")) << r.out;
    EXPECT_EQ(r.out.find("Reading the unit identity"), std::string::npos) << r.out;
  }
  stopProcess(drive, seconds(0));
}

// With standard output closed by the caller the record file can't take its
// place: the file holds the records and nothing else.
TEST(RecordsStayRecords, StandardOutputClosed) {
  Drives lab("");
  ASSERT_TRUE(lab.ready) << "drivesim did not start";
  for (const std::size_t drives : {1u, 3u}) {
    std::remove(lab.dir.file("rec.jsonl").c_str());
    Args argv = {"sh", "-c", "exec \"$@\" >&-", "sh"};
    const Args loader = lab.loader(drives, "-u -r rec.jsonl");
    argv.insert(argv.end(), loader.begin(), loader.end());
    const ProcessResult r = runProcess(lab.lab->inHost(argv), seconds(30));
    EXPECT_FALSE(r.timedOut);
    const std::vector<Record> records = recordsIn(lab.dir.file("rec.jsonl"));
    ASSERT_EQ(records.size(), drives) << readFile(lab.dir.file("rec.jsonl"));
    for (const Record& rec : records) {
      EXPECT_EQ(rec.at("result"), "\"identified\"");
    }
  }
}

// A record file on a full disk: the file keeps what it held, whole lines
// only, and the run says so; several drives end with status 1 (one drive
// always does). The tmpfs lives in a mount namespace of the run's own.
TEST(RecordsStayRecords, AFullDiskKeepsTheFileAsItWas) {
  if (!canMakeNamespaces()) {
    GTEST_SKIP() << "needs root for a file system of the test's own";
  }
  Drives lab("");
  ASSERT_TRUE(lab.ready) << "drivesim did not start";
  // The earlier record leaves room in its page for part of a record only.
  const std::string earlier = "{\"earlier\":\"" + std::string(3900, 'e') + "\"}\n";
  struct Target {
    std::size_t drives;
    const char* said;
  };
  for (const Target t : {Target{3, "ERROR: Run records could not all be written\n"},
                         Target{1, "\nERROR: The run record could not be written"}}) {
    const std::string disk = lab.dir.file("disk" + std::to_string(t.drives));
    ASSERT_EQ(runProcess({"mkdir", disk}, seconds(5)).exitCode, 0);
    Args loader = lab.loader(t.drives, "-u -r " + disk + "/rec.jsonl");
    // $0 the disk's mount point, $1 what the record file holds, then the
    // loader; the file is copied out before the namespace goes.
    const std::string script =
        "mount -t tmpfs -o size=16k tovrin-full \"$0\" && printf %s \"$1\" > \"$0/rec.jsonl\""
        " && (cat /dev/zero > \"$0/filler\" 2>/dev/null; true) && shift && \"$@\";"
        " status=$?; cp \"$0/rec.jsonl\" \"$0.copy\"; exit $status";
    Args argv = {"unshare", "-m", "--propagation", "private", "sh", "-c", script, disk, earlier};
    argv.insert(argv.end(), loader.begin(), loader.end());
    const ProcessResult r = runProcess(lab.lab->inHost(argv), seconds(30));
    EXPECT_EQ(r.exitCode, 1) << r.out << r.err;
    EXPECT_NE(r.out.find(t.said), std::string::npos) << r.out;
    EXPECT_TRUE(readFile(disk + ".copy") == earlier) << readFile(disk + ".copy").size();
  }
}

// /dev/full takes no record: the run says so and ends with status 1.
TEST(RecordsStayRecords, DevFull) {
  Drives lab("");
  ASSERT_TRUE(lab.ready) << "drivesim did not start";
  const ProcessResult several =
      runProcess(lab.lab->inHost(lab.loader(3, "-u -r /dev/full")), seconds(30));
  EXPECT_EQ(several.exitCode, 1) << several.out;
  EXPECT_NE(several.out.find("\n3 drives: 3 identity read\n"), std::string::npos);
  EXPECT_NE(several.out.find("ERROR: Run records could not all be written\n"), std::string::npos);
  const ProcessResult one =
      runProcess(lab.lab->inHost(lab.loader(1, "-u -r /dev/full")), seconds(30));
  EXPECT_EQ(one.exitCode, 1);
  EXPECT_NE(one.out.find("\nERROR: The run record could not be written"), std::string::npos);
}

}  // namespace
