// Several drives in one run of the built loader, against one simulated drive
// process serving every address, over real UDP: every drive's image, the
// summary and the exit status, a drive that fails alone, the console on a
// terminal and in a log, drives on two adapters' LANs, and the run options:
// -s skips only a drive that holds the file and says so (every drive's
// datagrams, images and records), -e tells each outcome of a one-drive run
// in the process's exit status. (Which drives a canary run touches, and
// when, is the fleet's test on the fake network.)
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <map>
#include <string>
#include <vector>

#include "protocol/loader.h"
#include "testkit/drive_lan.h"
#include "testkit/record_schema.h"

namespace {

using std::chrono::seconds;

const std::string FILE_BYTES = sampleFile(512 * 20 + 100);  // 21 blocks
const std::string IMAGE = expectedImage(FILE_BYTES);
const std::string DIGEST = IMAGE.substr(0, 16);
const std::string OTHER_DIGEST = DIGEST.substr(0, 15) + static_cast<char>(DIGEST[15] ^ 1);
const std::string SKIPPED_LINE =
    "\nFirmware on the drive matches the file, verified by the drive; not programmed";

DriveLanOptions threeDrives(const std::string& driveArgs) {
  return {.drives = 3, .driveArgs = driveArgs, .firmware = FILE_BYTES};
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
  DriveLan lan(threeDrives(c.driveArgs));
  ASSERT_TRUE(lan.ready);
  const ProcessResult r = lan.run("-ip DRIVES " + c.loaderArgs + " -r rec.jsonl", seconds(60));
  EXPECT_EQ(r.exitCode, c.exitCode) << r.out;
  EXPECT_EQ(r.err, "");
  EXPECT_NE(r.out.find(c.countLine + "\n"), std::string::npos) << r.out;
  EXPECT_EQ(r.out.find("Retry"), std::string::npos);
  EXPECT_EQ(r.out.find('\x1b'), std::string::npos) << "escape sequences in a log";
  const std::string records = readFile(lan.dir.file("rec.jsonl"));
  ASSERT_EQ(linesOf(records).size(), 3u);
  for (std::size_t i = 0; i < 3; ++i) {
    // the simulated drives' serial numbers and MAC addresses count up
    const std::string identity =
        std::to_string(123456 + i) + "  02:00:00:12:34:a" + static_cast<char>('b' + i);
    EXPECT_NE(rowOf(r.out, lan.addresses[i]).find(identity), std::string::npos) << r.out;
    EXPECT_EQ(countOf(records, "\"address\":\"" + lan.addresses[i] + "\""), 1u);
    if (c.loaderArgs == "-fp fw.bin") {
      EXPECT_TRUE(lan.image(i) == IMAGE) << "drive " << lan.addresses[i] << " holds another image";
    }
  }
}

INSTANTIATE_TEST_SUITE_P(
    Fleet, FleetModes,
    testing::Values(ModeCase{"Program", "-fp fw.bin", "", "3 drives: 3 programmed and verified", 0},
                    ModeCase{"Identity", "-u", "", "3 drives: 3 identity read", 0},
                    // a digest that differs is an answer, not a failure, but no success
                    ModeCase{
                        "VerifyOneDiffers", "-v -fp fw.bin",
                        "--digest " + hex(DIGEST) + " --drive D2 --digest " + hex(OTHER_DIGEST),
                        "3 drives: 2 digest equal, 1 digest differs", 1}),
    testing::PrintToStringParamName());

// The third drive falls silent from block 10: it fails alone, the others are
// programmed, and the summary, the retry line and the exit status say so.
// Every line of the log before the summary is one drive's, whole.
TEST(Fleet, ASilentDriveFailsAlone) {
  DriveLan lan(threeDrives("--drive D2 --silent-from-block 10"));
  ASSERT_TRUE(lan.ready);
  const ProcessResult r = lan.run("-ip DRIVES -fp fw.bin", seconds(60));
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_TRUE(lan.image(0) == IMAGE);
  EXPECT_TRUE(lan.image(1) == IMAGE);
  EXPECT_NE(rowOf(r.out, lan.addresses[0]).find("programmed and verified"), std::string::npos);
  EXPECT_NE(rowOf(r.out, lan.addresses[2]).find("failed at programming, block 11: no answer"),
            std::string::npos)
      << r.out;
  EXPECT_NE(r.out.find("3 drives: 2 programmed and verified, 1 failed\n"), std::string::npos);
  EXPECT_NE(r.out.find(" -ip " + lan.addresses[2] + " -fp " + lan.dir.file("fw.bin") + "\n"),
            std::string::npos)
      << r.out;
  const auto lines = linesOf(r.out);
  const auto table = std::find_if(lines.begin(), lines.end(),
                                  [](const std::string& l) { return l.starts_with("Address "); });
  ASSERT_NE(table, lines.end());
  const auto opening = std::find(lines.begin(), table, "Programming 3 drives");
  ASSERT_NE(opening, table) << r.out;
  for (auto line = opening + 1; line != table && !line->empty(); ++line) {
    const bool ownLine =
        std::any_of(lan.addresses.begin(), lan.addresses.end(),
                    [&](const std::string& a) { return line->starts_with(a + ": "); });
    EXPECT_TRUE(ownLine) << *line;
  }
  EXPECT_EQ(countOf(r.out, lan.addresses[2] +
                               ": failed at programming, block 11: no answer: the drive holds "
                               "part of the image, program it again\n"),
            1u);
}

// On a terminal narrower than the full lines (60 columns) the drives' lines
// are redrawn in place: each drawing goes back up over the three lines,
// every line leaves the last column free (so that none wraps and leaves a
// stale copy behind), and the last drawing shows every result.
TEST(Fleet, TerminalLinesRedrawnInPlaceToTheWindowsWidth) {
  DriveLan lan(threeDrives(""));
  ASSERT_TRUE(lan.ready);
  const ProcessResult r = runInTerminal(lan.loader("-ip DRIVES -u"), seconds(60), 60);
  EXPECT_EQ(r.exitCode, 0) << r.out;
  EXPECT_GE(countOf(r.out, "\x1b[3A"), 1u) << r.out;
  const std::size_t last = r.out.rfind("\x1b[3A");
  EXPECT_EQ(countOf(r.out.substr(last), "identity read\x1b[K"), 3u) << r.out;
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
  DriveLan lan(threeDrives(""));
  ASSERT_TRUE(lan.ready);
  const std::uint32_t number = ntohl(inet_addr(lan.addresses[0].c_str()));
  const ProcessResult r =
      lan.run("-ip " + lan.addresses[0] + "," + std::to_string(number) + " -u", seconds(30));
  EXPECT_EQ(r.exitCode, 0) << r.out;
  EXPECT_NE(r.out.find("\nReading the unit identity of 1 drive\n"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("1 drive: 1 identity read"), std::string::npos) << r.out;
}

// One drive with -r: the console of a one-drive run, byte for byte, its exit
// status 1, and the drive's record appended to what the file held.
TEST(Fleet, OneDriveRecordedKeepsItsConsole) {
  DriveLan lan(threeDrives(""));
  ASSERT_TRUE(lan.ready);
  writeFile(lan.dir.file("rec.jsonl"), "earlier\n");
  const ProcessResult plain = lan.run("-ip D1 -v -fp fw.bin", seconds(30));
  const ProcessResult recorded = lan.run("-ip D1 -v -fp fw.bin -r rec.jsonl", seconds(30));
  EXPECT_EQ(recorded.out, plain.out);
  EXPECT_EQ(recorded.exitCode, 1);
  const auto records = linesOf(readFile(lan.dir.file("rec.jsonl")));
  ASSERT_EQ(records.size(), 2u);
  EXPECT_EQ(records[0], "earlier");
  EXPECT_NE(records[1].find("\"address\":\"" + lan.addresses[1] + "\",\"mode\":\"verify\","),
            std::string::npos)
      << records[1];
  EXPECT_NE(records[1].find("\"fileDigest\":\"" + hex(DIGEST) + "\""), std::string::npos);
}

// -a -u -r on a PC on two LANs: the plant's inventory. Discovery from both
// adapters shows its list, then the drives found on either LAN are
// identified side by side; after the summary each drive's identity as a
// one-drive -u shows it, in the summary's order; every record carries the
// whole identity and the drive's digest, and the schema accepts it. With
// -fp the file's lines start below the list.
TEST(Fleet, InventoryOfEveryDriveOnTwoAdapters) {
  if (!canMakeNamespaces()) {
    GTEST_SKIP() << "discovery broadcasts; it needs a private network";
  }
  DriveLan lan({.driveArgs = "--discovery --digest " + hex(DIGEST),
                .firmware = FILE_BYTES,
                .lab = {.requireIsolation = true, .shape = LabShape::twoLans},
                .driveOnSecondLan = true});
  ASSERT_TRUE(lan.ready);
  const ProcessResult r = lan.run("-ip 10.9.9.9 -a -u -e -r rec.jsonl", seconds(60));
  const ProcessResult v = lan.run("-a -v -fp fw.bin", seconds(60));
  EXPECT_EQ(r.exitCode, 0) << r.out;
  const std::size_t listed = r.out.find("\nReading the unit identity of 2 drives\n");
  ASSERT_NE(listed, std::string::npos) << r.out;
  const std::size_t count = r.out.find("2 drives: 2 identity read\n");
  ASSERT_NE(count, std::string::npos) << r.out;
  std::vector<std::pair<std::size_t, std::size_t>> places;  // row, report
  for (const std::string& ip : lan.addresses) {
    EXPECT_LT(r.out.find("\t-->  " + ip + " "), listed) << r.out;
    EXPECT_NE(rowOf(r.out, ip).find("identity read"), std::string::npos) << r.out;
    const std::size_t report = r.out.find("\nDrive " + ip + " :" + IDENTITY, count);
    EXPECT_NE(report, std::string::npos) << r.out;
    places.emplace_back(r.out.find("\n" + ip + " "), report);
  }
  EXPECT_EQ(places[0].first < places[1].first, places[0].second < places[1].second) << r.out;
  const std::string records = readFile(lan.dir.file("rec.jsonl"));
  EXPECT_EQ(recordSchemaErrors(records), "") << records;
  const std::string record = linesOf(records).at(0);
  for (const std::string& field : std::vector<std::string>{
           R"("mode":"identity","result":"identified",)",
           R"("identity":{"monitorRevision":5,"buildNumber":1234,"currentCapability":10,)",
           R"("serialNumber":123456,"manufacturingCode":42,"hardwareRevision":"1.02",)"
           R"("modelCode":"KV7","vin":"KV720SIM0001","mac":"02:00:00:12:34:ab","checksum":31},)",
           R"("driveDigest":")" + hex(DIGEST) + "\""}) {
    EXPECT_NE(record.find(field), std::string::npos) << field << "\n" << record;
  }

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
  DriveLan lan(
      {.lab = {.requireIsolation = true, .shape = LabShape::twoLans}, .driveOnSecondLan = true});
  ASSERT_TRUE(lan.ready);
  ASSERT_EQ(runProcess({"ip", "-n", lan.lab->secondDriveNs, "route", "del", "default"}, seconds(10))
                .exitCode,
            0);
  const ProcessResult r = lan.run("-ip DRIVES -u", seconds(60));
  EXPECT_EQ(r.exitCode, 0) << r.out;
  EXPECT_NE(r.out.find("2 drives: 2 identity read\n"), std::string::npos) << r.out;
}

// --- the run options: -s and -e ----------------------------------------------------

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

std::string recordOf(const std::string& records, const std::string& address) {
  for (const std::string& line : linesOf(records)) {
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
  DriveLan lan(threeDrives("--drive D0 --holds fw.bin --drive D2 --digest " + hex(DIGEST)));
  ASSERT_TRUE(lan.ready);
  const ProcessResult r = lan.run("-ip DRIVES -s -e -fp fw.bin -r rec.jsonl");
  EXPECT_EQ(r.exitCode, 0) << r.out;
  EXPECT_NE(r.out.find("3 drives: 2 programmed and verified, 1 already current\n"),
            std::string::npos)
      << r.out;
  EXPECT_NE(rowOf(r.out, lan.addresses[0]).find("already current"), std::string::npos);
  auto taken = lan.taken();
  const auto& held = taken[lan.addresses[0]];
  EXPECT_EQ(codes(held, 17), 0u) << "a block went to the drive that held the file";
  EXPECT_EQ(codes(held, 18), 1u);
  EXPECT_EQ(codes(held, 19), 1u) << "the drive that held the file was not rebooted";
  EXPECT_EQ(codes(taken[lan.addresses[1]], 18), 1u) << "another digest is programmed unchecked";
  EXPECT_EQ(codes(taken[lan.addresses[2]], 18), 2u) << "the refused check, then the verify";
  for (std::size_t i = 0; i < 3; ++i) {
    EXPECT_TRUE(lan.image(i) == IMAGE) << lan.addresses[i];
  }
  EXPECT_EQ(codes(taken[lan.addresses[1]], 17), 21u);
  EXPECT_EQ(codes(taken[lan.addresses[2]], 17), 21u);
  const std::string records = readFile(lan.dir.file("rec.jsonl"));
  EXPECT_EQ(recordSchemaErrors(records), "") << records;
  EXPECT_NE(recordOf(records, lan.addresses[0]).find("\"result\":\"current\""), std::string::npos);
  for (std::size_t i = 1; i < 3; ++i) {
    EXPECT_NE(recordOf(records, lan.addresses[i]).find("\"result\":\"programmed\""),
              std::string::npos);
  }
}

// -e on each outcome of one drive (and of lists of addresses that are no
// drive's), and the statuses without it. D0 holds nothing, D1 the file, D2
// refuses everything.
TEST(FleetOptions, OutcomeStatusOfOneDrive) {
  DriveLan lan(threeDrives("--drive D1 --holds fw.bin --drive D2 --status 0"));
  ASSERT_TRUE(lan.ready);
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
      // addresses that no drive can have: nothing is sent, the command line is at fault
      {"-ip HOST -e -u", 2, "is an address of this PC, not of a drive"},
      {"-ip 224.0.0.1 -e -fp fw.bin", 2, "is a multicast address, not of a drive"},
      {"-ip 240.0.0.1,224.0.0.1 -e -u", 2, "240.0.0.1 "},
  };
  for (const auto& c : cases) {
    const ProcessResult r = lan.run(c.args);
    EXPECT_EQ(r.exitCode, c.status) << c.args << "\n" << r.out;
    EXPECT_NE(r.out.find(asConsoleBytes(c.shows)), std::string::npos) << c.args << "\n" << r.out;
  }
  // -s: one line in place of the programming and verify lines, nothing else
  // changes; the drive is rebooted with no block sent.
  const ProcessResult skipped = lan.run("-ip D1 -s -fp fw.bin");
  EXPECT_EQ(skipped.exitCode, 1);
  const std::string tail = identityOf(1) + SKIPPED_LINE + REBOOT + "DONE\n";
  EXPECT_TRUE(skipped.out.ends_with(asConsoleBytes(tail))) << skipped.out;
  EXPECT_EQ(skipped.out.find(PROGRAMMING), std::string::npos);
  auto taken = lan.taken();
  EXPECT_EQ(codes(taken[lan.addresses[1]], 17), 0u);
  EXPECT_EQ(codes(taken[lan.addresses[1]], 19), 2u);
}

// With a catalog: drives of two models and two hardware revisions, one
// holding a newer release. The plan (-n) foresees drive by drive what the
// programming run then does; the drives it refuses take no block and are
// rebooted, the others hold the file; the records name both releases.
TEST(Fleet, TheCatalogKeepsTheWrongFirmwareOffADrive) {
  DriveLan lan({.drives = 4, .firmware = FILE_BYTES, .startDrives = false});
  const std::string catalog = lan.dir.file("catalog");
  ASSERT_EQ(mkdir(catalog.c_str(), 0700), 0);
  const auto release = [&](const std::string& version, const std::string& bytes) {
    const std::string file = catalog + "/kv-" + version + ".bin";
    writeFile(file, bytes);
    writeFile(catalog + "/kv-" + version + ".json",
              R"({"version": ")" + version + R"(", "file": "kv-)" + version + R"(.bin", )" +
                  R"("sha256": ")" + hex(sha256(bytes)) + R"(", "models": ["KV7"], )" +
                  R"("hardwareRevisions": ["1.02"]})");
    return file;
  };
  const std::string older = release("4.1", sampleFile(700, 41));
  release("4.2", FILE_BYTES);
  const std::string newer = release("4.3", sampleFile(900, 43));
  lan.options.driveArgs = "--holds " + older + " --drive D1 --model KVA --drive D2 " +
                          "--hardware-revision 1.03 --drive D3 --holds " + newer;
  ASSERT_TRUE(lan.startDrives());

  const std::string args = "-ip DRIVES -fp fw.bin -e -r rec.jsonl --catalog " + catalog;
  const ProcessResult plan = lan.run(args + " -n", seconds(60));
  EXPECT_EQ(plan.exitCode, 1) << plan.out;
  EXPECT_NE(plan.out.find("4 drives: 1 would be programmed, 2 incompatible, 1 newer release on "
                          "the drive\n"),
            std::string::npos)
      << plan.out;
  EXPECT_NE(plan.out.find("\nThe programming run would take about 10 s\n"), std::string::npos)
      << plan.out;
  const ProcessResult real = lan.run(args, seconds(60));
  EXPECT_EQ(real.exitCode, 1) << real.out;
  EXPECT_NE(real.out.find("4 drives: 1 programmed and verified, 2 incompatible, 1 newer release "
                          "on the drive\n"),
            std::string::npos)
      << real.out;
  EXPECT_NE(real.out.find("  4.1 -> 4.2  programmed and verified  "), std::string::npos)
      << real.out;

  const std::string text = readFile(lan.dir.file("rec.jsonl"));
  EXPECT_EQ(recordSchemaErrors(text), "");
  std::map<std::string, std::vector<std::string>> byDrive;  // the plan's, then the run's
  for (const auto& record : recordMembers(text)) {
    byDrive[record.at("address")].push_back(record.at("result") + " " + record.at("reason") + " " +
                                            record.at("driveVersion") + " " +
                                            record.at("fileVersion"));
  }
  const auto quoted = [&](std::size_t i) { return "\"" + lan.addresses[i] + "\""; };
  using Results = std::vector<std::string>;
  EXPECT_EQ(byDrive[quoted(0)],
            (Results{R"("would-program" null "4.1" "4.2")", R"("programmed" null "4.1" "4.2")"}));
  EXPECT_EQ(byDrive[quoted(1)], (Results{R"("incompatible" "model" "4.1" "4.2")",
                                         R"("incompatible" "model" "4.1" "4.2")"}));
  EXPECT_EQ(byDrive[quoted(2)], (Results{R"("incompatible" "hardware-revision" "4.1" "4.2")",
                                         R"("incompatible" "hardware-revision" "4.1" "4.2")"}));
  EXPECT_EQ(byDrive[quoted(3)], (Results{R"("newer-on-drive" null "4.3" "4.2")",
                                         R"("newer-on-drive" null "4.3" "4.2")"}));

  // Only the drive the release is for took blocks; every drive but it was
  // rebooted from its monitor state.
  const auto taken = lan.taken();
  for (std::size_t i = 0; i < 4; ++i) {
    const auto& commands = taken.at(lan.addresses[i]);
    const bool blocks = std::any_of(commands.begin(), commands.end(), [](const TakenCommand& c) {
      return c.code == CMD_PROGRAM_BLOCK;
    });
    EXPECT_EQ(blocks, i == 0) << lan.addresses[i];
  }
}

}  // namespace
