// The run options of the built loader on a private LAN, against simulated
// drives over real UDP: -s skips only a drive that holds the file and says
// so, -c keeps every other drive free of datagrams until the canaries are
// done, -e tells each outcome of a one-drive run, and -a -u -r gives an
// inventory whose records the record schema accepts.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "testkit/expected.h"
#include "testkit/netlab.h"
#include "testkit/process.h"
#include "testkit/record_schema.h"

namespace {

using Args = std::vector<std::string>;
using std::chrono::seconds;

const std::string FILE_BYTES = sampleFile(512 * 6 + 100);  // 7 blocks
const std::string IMAGE = expectedImage(FILE_BYTES);
const std::string DIGEST = IMAGE.substr(0, 16);

const std::string SKIPPED_LINE =
    "\nFirmware on the drive matches the file, verified by the drive; not programmed";

// A lab with three drive addresses and one simulated drive process serving
// them. In the words of its arguments D0, D1, D2 stand for the addresses
// and fw.bin, rec.jsonl for the test's files.
struct Lab {
  explicit Lab(const std::string& driveArgs) : lab(makeNetLab({.extraDriveAddresses = 2})) {
    addresses = {lab->driveIp, lab->extraDriveIps.at(0), lab->extraDriveIps.at(1)};
    writeFile(dir.file("fw.bin"), FILE_BYTES);
    Args argv = {drivesimPath(), "--idle-timeout", "120",         "--timestamps",
                 "--ip",         list(),           "--image-out", dir.file("%a.bin")};
    for (const auto& word : words(driveArgs)) {
      argv.push_back(argument(word));
    }
    drive = startProcess(lab->inDrive(argv));
    ready = waitForOutput(drive, "ready", seconds(10));
    if (!ready) {
      ADD_FAILURE() << stopProcess(drive, seconds(0)).out;
    }
  }
  ~Lab() { stopProcess(drive, seconds(0)); }
  Lab(const Lab&) = delete;
  Lab& operator=(const Lab&) = delete;

  // A word of a command line, with D0 to D2 and the file names replaced.
  std::string argument(const std::string& word) const {
    if (word.size() == 2 && word[0] == 'D' && word[1] >= '0' && word[1] <= '2') {
      return addresses.at(static_cast<std::size_t>(word[1] - '0'));
    }
    return word == "fw.bin" || word == "rec.jsonl" ? dir.file(word) : word;
  }
  std::string list() const { return addresses[0] + "," + addresses[1] + "," + addresses[2]; }
  ProcessResult loader(const std::string& args) const {
    Args argv = tovrinCommand();
    for (const auto& word : words(args)) {
      argv.push_back(argument(word));
    }
    return runProcess(lab->inHost(argv), seconds(90));
  }
  std::string image(std::size_t i) const { return readFile(dir.file(addresses[i] + ".bin")); }
  // What each drive took in, by address; ends the simulator.
  std::map<std::string, std::vector<TakenCommand>> taken() {
    return takenCommands(stopProcess(drive, seconds(0)).out);
  }

  ScratchDir dir;
  std::unique_ptr<NetLab> lab;
  Args addresses;
  BackgroundProcess drive;
  bool ready = false;
};

// The identity block of the simulated drive at place i of its addresses:
// serial numbers and MAC addresses count up.
std::string identityOf(std::size_t i) {
  std::string identity = IDENTITY;
  identity.replace(identity.find("123456"), 6, std::to_string(123456 + i));
  identity.replace(identity.find("34 ab"), 5, "34 a" + std::string(1, static_cast<char>('b' + i)));
  return identity;
}

std::size_t codes(const std::vector<TakenCommand>& taken, int code) {
  return static_cast<std::size_t>(std::count_if(
      taken.begin(), taken.end(), [&](const TakenCommand& t) { return t.code == code; }));
}

std::string rowOf(const std::string& out, const std::string& address) {
  std::istringstream in(out);
  for (std::string line; std::getline(in, line);) {
    if (line.rfind(address + " ", 0) == 0) {
      return line;
    }
  }
  return "";
}

std::string recordOf(const std::string& records, const std::string& address) {
  std::istringstream in(records);
  for (std::string line; std::getline(in, line);) {
    if (line.find("\"address\":\"" + address + "\"") != std::string::npos) {
      return line;
    }
  }
  return "";
}

// -s over three drives: one holds the file (checked, rebooted, not a block
// sent), one holds other firmware, one reports the file's digest but its
// image fails the drive's own check (both programmed in full).
TEST(FleetOptions, SkipOnlyWhatTheDriveConfirms) {
  Lab lab("--drive D0 --holds fw.bin --drive D2 --digest " + hex(DIGEST));
  ASSERT_TRUE(lab.ready);
  const ProcessResult r = lab.loader("-ip " + lab.list() + " -s -e -fp fw.bin -r rec.jsonl");
  EXPECT_EQ(r.exitCode, 0) << r.out;
  EXPECT_NE(r.out.find("3 drives: 2 programmed and verified, 1 already current\n"),
            std::string::npos)
      << r.out;
  EXPECT_NE(rowOf(r.out, lab.addresses[0]).find("already current"), std::string::npos);
  auto taken = lab.taken();
  const auto& held = taken[lab.addresses[0]];
  EXPECT_EQ(codes(held, 17), 0u) << "a block went to the drive that held the file";
  EXPECT_EQ(codes(held, 18), 1u);
  EXPECT_EQ(codes(held, 19), 1u) << "the drive that held the file was not rebooted";
  EXPECT_EQ(codes(taken[lab.addresses[1]], 18), 1u) << "another digest is programmed unchecked";
  EXPECT_EQ(codes(taken[lab.addresses[2]], 18), 2u) << "the refused check, then the verify";
  for (std::size_t i = 0; i < 3; ++i) {
    EXPECT_TRUE(lab.image(i) == IMAGE) << lab.addresses[i];
  }
  EXPECT_EQ(codes(taken[lab.addresses[1]], 17), 7u);
  EXPECT_EQ(codes(taken[lab.addresses[2]], 17), 7u);
  const std::string records = readFile(lab.dir.file("rec.jsonl"));
  EXPECT_EQ(recordSchemaErrors(records), "") << records;
  EXPECT_NE(recordOf(records, lab.addresses[0]).find("\"result\":\"current\""), std::string::npos);
  for (std::size_t i = 1; i < 3; ++i) {
    EXPECT_NE(recordOf(records, lab.addresses[i]).find("\"result\":\"programmed\""),
              std::string::npos);
  }
}

// A canary refused at once: no datagram reaches the other drives, the
// summary and records say they were not started, the retry line names the
// canary and them, with -c kept.
TEST(FleetOptions, AFailingCanaryLeavesTheOthersUntouched) {
  Lab lab("--drive D0 --status 0");
  ASSERT_TRUE(lab.ready);
  const ProcessResult r = lab.loader("-ip " + lab.list() + " -c 1 -fp fw.bin -r rec.jsonl");
  EXPECT_EQ(r.exitCode, 1) << r.out;
  EXPECT_NE(r.out.find("3 drives: 1 failed, 2 not started\n"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find(" -ip " + lab.list() + " -c 1 -fp " + lab.dir.file("fw.bin") + " -r " +
                       lab.dir.file("rec.jsonl") + "\n"),
            std::string::npos)
      << r.out;
  auto taken = lab.taken();
  EXPECT_FALSE(taken[lab.addresses[0]].empty());
  EXPECT_TRUE(taken[lab.addresses[1]].empty()) << "a datagram reached a drive after the canary";
  EXPECT_TRUE(taken[lab.addresses[2]].empty()) << "a datagram reached a drive after the canary";
  const std::string records = readFile(lab.dir.file("rec.jsonl"));
  EXPECT_EQ(recordSchemaErrors(records), "") << records;
  for (std::size_t i = 1; i < 3; ++i) {
    EXPECT_NE(recordOf(records, lab.addresses[i])
                  .find("\"result\":\"not-started\",\"failedStage\":null,\"failedBlock\":null,"),
              std::string::npos)
        << records;
    EXPECT_NE(recordOf(records, lab.addresses[i]).find("\"reason\":\"canary-failed\""),
              std::string::npos);
  }
}

// Canaries that pass: the other drive starts after the canaries ended, and
// every drive is done.
TEST(FleetOptions, PassingCanariesLetTheOthersRun) {
  Lab lab("");
  ASSERT_TRUE(lab.ready);
  const ProcessResult r = lab.loader("-ip " + lab.list() + " -c 2 -u -e");
  EXPECT_EQ(r.exitCode, 0) << r.out;
  EXPECT_NE(r.out.find("3 drives: 3 identity read\n"), std::string::npos) << r.out;
  auto taken = lab.taken();
  ASSERT_FALSE(taken[lab.addresses[2]].empty());
  const double third = taken[lab.addresses[2]].front().at;
  for (std::size_t i = 0; i < 2; ++i) {
    ASSERT_FALSE(taken[lab.addresses[i]].empty());
    EXPECT_LE(taken[lab.addresses[i]].back().at, third) << "canary " << lab.addresses[i];
  }
}

// -e on each outcome of one drive, and the statuses without it. D0 holds
// nothing, D1 the file, D2 refuses everything.
TEST(FleetOptions, OutcomeStatusOfOneDrive) {
  Lab lab("--drive D1 --holds fw.bin --drive D2 --status 0");
  ASSERT_TRUE(lab.ready);
  const struct {
    const char* args;
    int status;
    const char* shows;  // a text of the run's console
  } cases[] = {
      {"-ip D0 -e -v -fp fw.bin", 1, "DOES NOT match"},
      {"-ip D1 -e -v -fp fw.bin", 0, "Verifyed Successfully"},
      {"-ip D0 -e -u", 0, "Unit Identity"},
      {"-ip D1 -e -s -fp fw.bin", 0, "not programmed\nReboot :\t\t\tDONE\n"},
      {"-ip D0 -e -fp fw.bin", 0, "Verifing Firmware :\t\tDONE"},
      {"-ip D0 -fp fw.bin", 1, "Verifing Firmware :\t\tDONE"},
      {"-ip D2 -e -fp fw.bin", 1, "ERROR: The drive refused connection"},
      {"-ip D0 -e -fp no-such.bin", 2, "ERROR: Can't open file"},
      {"-ip D0 -fp no-such.bin", 1, "ERROR: Can't open file"},
      {"-ip D0 -e -u -r /", 2, "ERROR: Can't open the record file"},
      {"-ip D0 -e -u -c 0", 2, "ERROR : Check canary count"},
      {"-ip D0 -u -c 0", 1, "ERROR : Check canary count"},
      {"-ip D0 -u -bogus -e", 2, "COMMAND :"},
      {"-ip D0 -u -e -ip 10.0.0.300", 2, "ERROR : Check ip address"},
  };
  for (const auto& c : cases) {
    const ProcessResult r = lab.loader(c.args);
    EXPECT_EQ(r.exitCode, c.status) << c.args << "\n" << r.out;
    EXPECT_NE(r.out.find(asConsoleBytes(c.shows)), std::string::npos) << c.args << "\n" << r.out;
  }
  // -s: one line in place of the programming and verify lines, nothing else
  // changes; the drive is rebooted with no block sent.
  const ProcessResult skipped = lab.loader("-ip D1 -s -fp fw.bin");
  EXPECT_EQ(skipped.exitCode, 1);
  const std::string tail = identityOf(1) + SKIPPED_LINE + REBOOT + "DONE\n";
  EXPECT_TRUE(skipped.out.ends_with(asConsoleBytes(tail))) << skipped.out;
  EXPECT_EQ(skipped.out.find(PROGRAMMING), std::string::npos);
  auto taken = lab.taken();
  EXPECT_EQ(codes(taken[lab.addresses[1]], 17), 0u);
  EXPECT_EQ(codes(taken[lab.addresses[1]], 19), 2u);
}

// -a -u -r: the plant's inventory. After the summary each drive's identity
// as a one-drive -u shows it, in discovery's order; every record carries
// the whole identity and the drive's digest, and the schema accepts it.
TEST(FleetOptions, InventoryOfEveryDiscoveredDrive) {
  if (!canMakeNamespaces()) {
    GTEST_SKIP() << "discovery broadcasts; it needs a private network";
  }
  auto lab = makeNetLab({.extraDriveAddresses = 1, .requireIsolation = true});
  const std::string both = lab->driveIp + "," + lab->extraDriveIps.at(0);
  BackgroundProcess sim =
      startProcess(lab->inDrive({drivesimPath(), "--discovery", "--idle-timeout", "60", "--ip",
                                 both, "--digest", hex(DIGEST)}));
  ASSERT_TRUE(waitForOutput(sim, "ready", seconds(10)));
  ScratchDir dir;
  Args loader = tovrinCommand();
  loader.insert(loader.end(), {"-a", "-u", "-e", "-r", dir.file("inventory.jsonl")});
  const ProcessResult r = runProcess(lab->inHost(loader), seconds(60));
  stopProcess(sim, seconds(0));
  EXPECT_EQ(r.exitCode, 0) << r.out;
  const std::size_t count = r.out.find("2 drives: 2 identity read\n");
  ASSERT_NE(count, std::string::npos) << r.out;
  // The reports come in the order of the summary's rows.
  std::vector<std::pair<std::size_t, std::size_t>> places;  // row, report
  for (std::size_t i = 0; i < 2; ++i) {
    const std::string address = i == 0 ? lab->driveIp : lab->extraDriveIps.at(0);
    // the simulated drives' serial numbers and MAC addresses count up
    std::string identity = IDENTITY;
    identity.replace(identity.find("123456"), 6, std::to_string(123456 + i));
    identity.replace(identity.find("34 ab"), 5,
                     "34 a" + std::string(1, static_cast<char>('b' + i)));
    const std::size_t report = r.out.find("\nDrive " + address + " :" + identity, count);
    EXPECT_NE(report, std::string::npos) << r.out;
    places.emplace_back(r.out.find("\n" + address + " "), report);
  }
  EXPECT_EQ(places[0].first < places[1].first, places[0].second < places[1].second) << r.out;
  const std::string records = readFile(dir.file("inventory.jsonl"));
  EXPECT_EQ(recordSchemaErrors(records), "") << records;
  const std::string record = recordOf(records, lab->driveIp);
  for (const std::string& field : std::vector<std::string>{
           R"("mode":"identity","result":"identified",)",
           R"("identity":{"monitorRevision":5,"buildNumber":1234,"currentCapability":10,)",
           R"("serialNumber":123456,"manufacturingCode":42,"hardwareRevision":"1.02",)"
           R"("modelCode":"KV7","vin":"KV720SIM0001","mac":"02:00:00:12:34:ab","checksum":31},)",
           R"("driveDigest":")" + hex(DIGEST) + "\""}) {
    EXPECT_NE(record.find(field), std::string::npos) << field << "\n" << record;
  }
}

}  // namespace
