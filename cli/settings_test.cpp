// What the command line sets for the run, which the console texts alone
// don't show (those are checked byte for byte in cli_e2e_test.cpp).
#include "cli/settings.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "testkit/process.h"

namespace {

using Addresses = std::vector<DriveAddress>;

CommandLine readArgs(const char* text) {
  std::vector<std::string> args = words(std::string("tovrin ") + text);
  std::vector<char*> argv;
  for (auto& a : args) {
    argv.push_back(a.data());
  }
  return readCommandLine(static_cast<int>(argv.size()), argv.data());
}

TEST(SettingsTest, SettingsAndActions) {
  const DriveAddress defaultIp = DEFAULT_DRIVE_IP;
  const struct {
    const char* args;
    EntryAction action;
    DriveAddress ip;
    const char* path;  // "" when no -fp was read
    RunMode mode;
  } cases[] = {
      {"", EntryAction::bareUsage, defaultIp, "", RunMode::program},
      // later settings replace earlier ones
      {"-ip 10.0.0.1 -fp a.bin -ip 10.0.0.2 -fp b.bin",
       EntryAction::session,
       {10, 0, 0, 2},
       "b.bin",
       RunMode::program},
      {"-u -v", EntryAction::session, defaultIp, "", RunMode::verify},
      {"-v -u", EntryAction::session, defaultIp, "", RunMode::identity},
      // an argument taken by an option is never an option
      {"-fp -v", EntryAction::session, defaultIp, "-v", RunMode::program},
      {"-fp -h", EntryAction::session, defaultIp, "-h", RunMode::program},
      // -d acts where it stands, with what was set before it
      {"-ip 10.1.2.3 -d -bogus", EntryAction::discovery, {10, 1, 2, 3}, "", RunMode::program},
      {"-u -d -ip 10.0.0.1", EntryAction::discovery, defaultIp, "", RunMode::identity},
      // zero-padded parts would be octal: refused; hexadecimal and 0 stay
      {"-ip 192.168.001.010", EntryAction::refused, defaultIp, "", RunMode::program},
      {"-ip 0x0a.0.0.1 -u", EntryAction::session, {10, 0, 0, 1}, "", RunMode::identity},
      {"-ip 0.0.0.0", EntryAction::session, {0, 0, 0, 0}, "", RunMode::program},
  };
  for (const auto& c : cases) {
    const CommandLine line = readArgs(c.args);
    EXPECT_EQ(line.action, c.action) << c.args;
    EXPECT_EQ(line.settings.driveAddresses, std::vector<DriveAddress>{c.ip}) << c.args;
    EXPECT_EQ(line.settings.firmwarePath.value_or(""), c.path) << c.args;
    EXPECT_EQ(line.settings.mode, c.mode) << c.args;
  }
}

// The options that choose several drives and the run record file.
TEST(SettingsTest, DrivesAndRecordFile) {
  const Addresses defaultIp = {DEFAULT_DRIVE_IP};
  const struct {
    const char* args;
    EntryAction action;
    Addresses drives;
    bool everyDiscovered;
    const char* record;  // "" when no -r was read
  } cases[] = {
      {"-ip 10.0.0.5,10.0.0.6,10.0.0.5",
       EntryAction::session,
       {{10, 0, 0, 5}, {10, 0, 0, 6}},
       false,
       ""},
      // of -ip and -a the last one counts
      {"-ip 10.0.0.5,10.0.0.6 -a", EntryAction::session, {{10, 0, 0, 5}, {10, 0, 0, 6}}, true, ""},
      {"-a -ip 10.0.0.7", EntryAction::session, {{10, 0, 0, 7}}, false, ""},
      // any bad element refuses the list, a zero-padded one included
      {"-ip 10.0.0.5,10.0.0.300", EntryAction::refused, defaultIp, false, ""},
      {"-ip 10.0.0.5,010.0.0.6", EntryAction::refused, defaultIp, false, ""},
      {"-ip 10.0.0.5,", EntryAction::refused, defaultIp, false, ""},
      {"-a -u -r runs.jsonl", EntryAction::session, defaultIp, true, "runs.jsonl"},
      {"-r -ip", EntryAction::session, defaultIp, false, "-ip"},
      {"-u -r", EntryAction::refused, defaultIp, false, ""},
  };
  for (const auto& c : cases) {
    const CommandLine line = readArgs(c.args);
    EXPECT_EQ(line.action, c.action) << c.args;
    EXPECT_EQ(line.settings.driveAddresses, c.drives) << c.args;
    EXPECT_EQ(line.settings.everyDiscovered, c.everyDiscovered) << c.args;
    EXPECT_EQ(line.settings.recordPath.value_or(""), c.record) << c.args;
  }
}

// -s, -c N and -e; -e counts wherever it stands, also after a refused
// option or one that acts at once (-h, -d), but not inside a value another
// option took.
TEST(SettingsTest, SkipCanariesAndOutcomeStatus) {
  const struct {
    const char* args;
    EntryAction action;
    bool skip;
    std::size_t canaries;
    bool outcome;
  } cases[] = {
      {"-s -c 2 -e -fp fw.bin", EntryAction::session, true, 2, true},
      {"-c 100 -c 1", EntryAction::session, false, 1, false},
      {"-u -e", EntryAction::session, false, 0, true},
      // the count: 1 to 100, decimal digits, no leading zero
      {"-c 0", EntryAction::refused, false, 0, false},
      {"-c 101", EntryAction::refused, false, 0, false},
      {"-c 07", EntryAction::refused, false, 0, false},
      {"-c +5", EntryAction::refused, false, 0, false},
      {"-c 5x", EntryAction::refused, false, 0, false},
      {"-c 1000", EntryAction::refused, false, 0, false},
      {"-c", EntryAction::refused, false, 0, false},
      {"-c -e", EntryAction::refused, false, 0, false},  // -e taken as the count
      {"-c 3 -e", EntryAction::session, false, 3, true},
      {"-ip 1.2.3.999 -s -e", EntryAction::refused, false, 0, true},
      {"-x -e", EntryAction::unknownArgument, false, 0, true},
      {"-r -e", EntryAction::session, false, 0, false},  // a record file called -e
      {"-bogus -fp -e", EntryAction::unknownArgument, false, 0, false},
      {"-e -fp", EntryAction::refused, false, 0, true},
      {"-h -e", EntryAction::usage, false, 0, true},
      {"-d -e", EntryAction::discovery, false, 0, true},
      {"-e -d", EntryAction::discovery, false, 0, true},
      {"-d -r -e", EntryAction::discovery, false, 0, false},
  };
  for (const auto& c : cases) {
    const CommandLine line = readArgs(c.args);
    EXPECT_EQ(line.action, c.action) << c.args;
    EXPECT_EQ(line.settings.skipCurrent, c.skip) << c.args;
    EXPECT_EQ(line.settings.canaries, c.canaries) << c.args;
    EXPECT_EQ(line.settings.outcomeStatus, c.outcome) << c.args;
    EXPECT_EQ(refusedCommandLine(line.action), c.action != EntryAction::session &&
                                                   c.action != EntryAction::usage &&
                                                   c.action != EntryAction::discovery)
        << c.args;
  }
}

// A list is several drives whatever its duplicates; of several -ip the last
// decides.
TEST(SettingsTest, AnAddressListIsSeveralDrives) {
  const struct {
    const char* args;
    bool list;
  } cases[] = {
      {"-ip 10.0.0.5", false},
      {"-ip 10.0.0.5,10.0.0.5", true},
      {"-ip 10.0.0.5,167772165", true},
      {"-ip 10.0.0.5,10.0.0.6 -ip 10.0.0.7", false},
      {"-ip 10.0.0.7 -ip 10.0.0.5,10.0.0.5 -u", true},
      {"-u", false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(readArgs(c.args).settings.addressList, c.list) << c.args;
  }
}

TEST(SettingsTest, RetryKeepsEveryOptionButTheDrives) {
  const std::vector<std::pair<std::vector<const char*>, std::vector<std::string>>> cases = {
      {{"tovrin", "-ip", "10.0.0.5,10.0.0.6", "-fp", "fw.bin"}, {"-fp", "fw.bin"}},
      {{"tovrin", "-a", "-v", "-fp", "fw.bin", "-r", "runs.jsonl"},
       {"-v", "-fp", "fw.bin", "-r", "runs.jsonl"}},
      // a file may be called -ip or -a
      {{"tovrin", "-fp", "-ip", "-r", "-a", "-ip", "1.2.3.4"}, {"-fp", "-ip", "-r", "-a"}},
      {{"tovrin", "-u", "-ip", "10.0.0.5", "-a"}, {"-u"}},
      {{"tovrin", "-e", "-c", "2", "-a", "-s", "-fp", "fw.bin"},
       {"-e", "-c", "2", "-s", "-fp", "fw.bin"}},
      {{"tovrin", "--catalog", "cat", "-a", "-fp", "fw.bin"},
       {"--catalog", "cat", "-fp", "fw.bin"}},
  };
  for (const auto& [argv, expected] : cases) {
    EXPECT_EQ(readCommandLine(static_cast<int>(argv.size()), argv.data()).settings.retryOptions,
              expected);
  }
}

// --catalog names the catalog's folder (an empty name is refused, as is a
// missing one); --manifest acts with its file, -e still counting after it;
// the environment variable stands in for an absent --catalog.
TEST(SettingsTest, CatalogAndManifest) {
  const struct {
    std::vector<const char*> argv;
    const char* variable;  // TOVRIN_CATALOG's value; null: not set
    EntryAction action;
    const char* catalog;  // "" when none
    const char* manifest;
    bool outcome;
  } cases[] = {
      {{"--catalog", "cat", "-fp", "fw.bin"}, nullptr, EntryAction::session, "cat", "", false},
      {{"--catalog", "a", "--catalog", "b"}, nullptr, EntryAction::session, "b", "", false},
      {{"--catalog", "a"}, "b", EntryAction::session, "a", "", false},
      {{"-fp", "fw.bin"}, "b", EntryAction::session, "b", "", false},
      {{"-fp", "fw.bin"}, "", EntryAction::refused, "", "", false},
      {{"-h"}, "", EntryAction::usage, "", "", false},
      {{"--catalog"}, nullptr, EntryAction::refused, "", "", false},
      {{"--catalog", ""}, "b", EntryAction::refused, "", "", false},
      {{"--catalog", "-e"}, nullptr, EntryAction::session, "-e", "", false},
      {{"--manifest", "fw.bin", "-e"}, nullptr, EntryAction::manifest, "", "fw.bin", true},
      {{"-e", "--manifest", "-h", "-bogus"}, "b", EntryAction::manifest, "", "-h", true},
      {{"--manifest"}, nullptr, EntryAction::refused, "", "", false},
  };
  for (const auto& c : cases) {
    std::vector<const char*> argv = {"tovrin"};
    argv.insert(argv.end(), c.argv.begin(), c.argv.end());
    const std::string args = testing::PrintToString(c.argv);
    const CommandLine line = withCatalogFromEnvironment(
        readCommandLine(static_cast<int>(argv.size()), argv.data()), c.variable);
    EXPECT_EQ(line.action, c.action) << args;
    EXPECT_EQ(line.settings.catalogFolder.value_or(""), c.catalog) << args;
    EXPECT_EQ(line.settings.manifestPath.value_or(""), c.manifest) << args;
    EXPECT_EQ(line.settings.outcomeStatus, c.outcome) << args;
    if (c.action == EntryAction::refused) {
      EXPECT_EQ(line.refusal, c.argv.front() == std::string("--manifest")
                                  ? "\nERROR: You must specify file name"
                                  : "\nERROR: You must specify catalog folder")
          << args;
    }
  }  // -n plans, -v and -u read: the last of them counts; --allow-older.
  const CommandLine plan = readArgs("-v -n -fp fw.bin --allow-older");
  EXPECT_EQ(plan.action, EntryAction::session);
  EXPECT_EQ(plan.settings.mode, RunMode::plan);
  EXPECT_TRUE(plan.settings.allowOlder);
  EXPECT_EQ(readArgs("-n -u").settings.mode, RunMode::identity);
  EXPECT_FALSE(readArgs("-n -fp fw.bin").settings.allowOlder);
}

// A refused line carries the message of the option that refused it, and an
// argument that is no option is named (after the usage text).
TEST(SettingsTest, RefusalsSayWhy) {
  const struct {
    const char* args;
    EntryAction action;
    const char* refusal;
  } cases[] = {
      {"-ip 10.0.0.300", EntryAction::refused, "\nERROR : Check ip address"},
      {"-u -ip", EntryAction::refused, "\nERROR : Check ip address"},
      {"-fp", EntryAction::refused, "\nERROR: You must specify file name"},
      {"-r", EntryAction::refused, "\nERROR: You must specify record file name"},
      {"-c 0", EntryAction::refused, "\nERROR : Check canary count"},
      {"-IP 10.0.0.5", EntryAction::unknownArgument, "-IP"},
      {"-u -V", EntryAction::unknownArgument, "-V"},
      {"fw.bin", EntryAction::unknownArgument, "fw.bin"},
      {"-u ''", EntryAction::unknownArgument, "''"},
  };
  for (const auto& c : cases) {
    const CommandLine line = readArgs(c.args);
    EXPECT_EQ(line.action, c.action) << c.args;
    EXPECT_EQ(line.refusal, c.refusal) << c.args;
  }
}

}  // namespace
