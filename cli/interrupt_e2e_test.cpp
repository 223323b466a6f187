// The built loader stopped by a signal at the connection, in the middle of
// programming and at the reboot, for one drive and for three with -r: it
// ends within a second, by the signal itself, after saying where each drive
// stopped and recording it; a standard output nobody reads holds up neither
// the drives nor the end; and records stay records when standard output is
// closed or the record file's disk is full.
#include <gtest/gtest.h>
#include <signal.h>

#include <chrono>
#include <map>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "testkit/drive_lan.h"
#include "testkit/record_schema.h"

namespace {

using Args = std::vector<std::string>;
using Record = std::map<std::string, std::string>;
using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;
using std::chrono::seconds;

// Three drive addresses served by one simulated drive process; fw.bin has
// 40 blocks.
DriveLanOptions threeDrives(const std::string& driveArgs) {
  return {.drives = 3, .driveArgs = "--quiet " + driveArgs, .firmware = sampleFile(512 * 40 - 24)};
}

// The records of the file as a JSON reader reads them; a line that is
// no JSON object fails the test.
std::vector<Record> recordsIn(const std::string& path) {
  std::vector<Record> records = recordMembers(readFile(path));
  for (const Record& record : records) {
    EXPECT_FALSE(record.empty()) << "not a JSON object in " << readFile(path);
  }
  return records;
}

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
  DriveLan lan(threeDrives(c.driveArgs));
  ASSERT_TRUE(lan.ready);
  BackgroundProcess loader =
      startProcess(lan.loader("-ip " + lan.list(c.drives) + " -fp fw.bin -r rec.jsonl"));
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

  const std::vector<Record> records = recordsIn(lan.dir.file("rec.jsonl"));
  ASSERT_EQ(records.size(), c.drives) << r.out;
  for (std::size_t i = 0; i < c.drives; ++i) {
    const Record& rec = records[i];
    EXPECT_EQ(rec.at("address"), "\"" + lan.addresses[i] + "\"");
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
  for (const auto& address : lan.addresses) {
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
  DriveLan lan({.driveArgs = "--discovery", .lab = {.requireIsolation = true}});
  ASSERT_TRUE(lan.ready);
  for (const char* mode : {"-d", "-a -u"}) {
    BackgroundProcess loader = startProcess(lan.loader(mode));
    EXPECT_TRUE(waitForOutput(loader, lan.addresses[0], seconds(5))) << mode;
    const auto stopped = Clock::now();
    kill(loader.pid, SIGINT);
    const ProcessResult r = stopProcess(loader, seconds(5));
    EXPECT_LT(Clock::now() - stopped, milliseconds(1000)) << mode;
    EXPECT_EQ(r.signal, SIGINT) << mode << "\n" << r.out;
    EXPECT_NE(r.out.find("-->  " + lan.addresses[0]), std::string::npos) << r.out;
    EXPECT_TRUE(r.out.ends_with("\nERROR: Interrupted during discovery")) << r.out;
    EXPECT_EQ(r.out.find("Reading the unit identity"), std::string::npos) << r.out;
  }
}

// Standard output a 4 KiB pipe that nobody reads (a stalled pager, a
// terminal stopped with Ctrl+S): fifty drives run to their end and are
// recorded, and a stop request ends the run within a second all the same.
TEST(UnreadOutput, HoldsUpNeitherTheDrivesNorTheRecordsNorTheEnd) {
  DriveLan lan({.drives = 50, .driveArgs = "--quiet", .firmware = sampleFile(512 * 20 - 24)});
  ASSERT_TRUE(lan.ready);
  // The pipe's read end stays open in the loader itself, which never reads.
  const Args unread = {"python3", "-c",
                       "import fcntl, os, sys\n"
                       "r, w = os.pipe()\n"
                       "fcntl.fcntl(w, fcntl.F_SETPIPE_SZ, 4096)\n"
                       "os.set_inheritable(r, True)\n"
                       "os.dup2(w, 1)\n"
                       "os.execvp(sys.argv[1], sys.argv[1:])"};
  for (const bool stop : {false, true}) {
    std::remove(lan.dir.file("rec.jsonl").c_str());
    BackgroundProcess loader =
        startProcess(lan.loader("-ip DRIVES -fp fw.bin -r rec.jsonl", unread));
    auto stopped = Clock::now();
    if (stop) {
      std::this_thread::sleep_for(seconds(4));  // every drive mid-image
      stopped = Clock::now();
      kill(loader.pid, SIGTERM);
    }
    const ProcessResult r = stopProcess(loader, stop ? seconds(5) : seconds(90));
    ASSERT_FALSE(r.timedOut) << "stop " << stop;
    EXPECT_EQ(r.err, "");
    if (stop) {
      EXPECT_EQ(r.signal, SIGTERM);
      EXPECT_LT(Clock::now() - stopped, milliseconds(1000));
    }
    const std::vector<Record> records = recordsIn(lan.dir.file("rec.jsonl"));
    ASSERT_EQ(records.size(), 50u) << "stop " << stop;
    for (const Record& rec : records) {
      EXPECT_EQ(rec.at("result"), stop ? "\"interrupted\"" : "\"programmed\"");
    }
  }
}

// With standard output closed by the caller the record file can't take its
// place: the file holds the records and nothing else.
TEST(RecordsStayRecords, StandardOutputClosed) {
  DriveLan lan(threeDrives(""));
  ASSERT_TRUE(lan.ready);
  for (const std::size_t drives : {1u, 3u}) {
    std::remove(lan.dir.file("rec.jsonl").c_str());
    const ProcessResult r = runProcess(lan.loader("-ip " + lan.list(drives) + " -u -r rec.jsonl",
                                                  {"sh", "-c", "exec \"$@\" >&-", "sh"}),
                                       seconds(30));
    EXPECT_FALSE(r.timedOut);
    const std::vector<Record> records = recordsIn(lan.dir.file("rec.jsonl"));
    ASSERT_EQ(records.size(), drives) << readFile(lan.dir.file("rec.jsonl"));
    for (const Record& rec : records) {
      EXPECT_EQ(rec.at("result"), "\"identified\"");
    }
  }
}

// A record file on a full disk: the file keeps what it held, whole lines
// only, and the run says so; several drives end with status 1 (one drive
// always does). The tmpfs lives in a mount namespace of the run's own.
// (A file that takes no byte at all, /dev/full, is the platform's test.)
TEST(RecordsStayRecords, AFullDiskKeepsTheFileAsItWas) {
  if (!canMakeNamespaces()) {
    GTEST_SKIP() << "needs root for a file system of the test's own";
  }
  DriveLan lan(threeDrives(""));
  ASSERT_TRUE(lan.ready);
  // The earlier record leaves room in its page for part of a record only.
  const std::string earlier = "{\"earlier\":\"" + std::string(3900, 'e') + "\"}\n";
  struct Target {
    std::size_t drives;
    const char* said;
  };
  for (const Target t : {Target{3, "ERROR: Run records could not all be written\n"},
                         Target{1, "\nERROR: The run record could not be written"}}) {
    const std::string disk = lan.dir.file("disk" + std::to_string(t.drives));
    ASSERT_EQ(runProcess({"mkdir", disk}, seconds(5)).exitCode, 0);
    // $0 the disk's mount point, $1 what the record file holds, then the
    // loader; the file is copied out before the namespace goes.
    const std::string script =
        "mount -t tmpfs -o size=16k tovrin-full \"$0\" && printf %s \"$1\" > \"$0/rec.jsonl\""
        " && (cat /dev/zero > \"$0/filler\" 2>/dev/null; true) && shift && \"$@\";"
        " status=$?; cp \"$0/rec.jsonl\" \"$0.copy\"; exit $status";
    const ProcessResult r = runProcess(
        lan.loader(
            "-ip " + lan.list(t.drives) + " -u -r " + disk + "/rec.jsonl",
            {"unshare", "-m", "--propagation", "private", "sh", "-c", script, disk, earlier}),
        seconds(30));
    EXPECT_EQ(r.exitCode, 1) << r.out << r.err;
    EXPECT_NE(r.out.find(t.said), std::string::npos) << r.out;
    EXPECT_TRUE(readFile(disk + ".copy") == earlier) << readFile(disk + ".copy").size();
  }
}

}  // namespace
