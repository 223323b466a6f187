#include "cli/entry.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "link/link.h"
#include "session/session.h"

namespace {

struct Parsed {
  EntryAction action;
  std::uint32_t ip;
  std::string path;  // "(unset)" when firmwarePath is null
  RunMode mode;
  bool done;
};

// Reads a command line from fresh settings, as a new process would.
Parsed parse(std::vector<std::string> args) {
  driveIp = DEFAULT_DRIVE_IP;
  firmwarePath = nullptr;
  runMode = MODE_PROGRAM;
  doneFlag = true;
  static std::vector<std::string> keep;  // firmwarePath points into these
  keep = std::move(args);
  keep.insert(keep.begin(), "tovrin");
  std::vector<char*> argv;
  for (auto& a : keep) {
    argv.push_back(a.data());
  }
  const EntryAction action = readCommandLine(static_cast<int>(argv.size()), argv.data());
  return {action, driveIp, firmwarePath != nullptr ? firmwarePath : "(unset)", runMode, doneFlag};
}

TEST(EntryTest, LaterSettingsReplaceEarlierOnes) {
  auto p = parse({"-ip", "10.0.0.1", "-fp", "a.bin", "-ip", "10.0.0.2", "-fp", "b.bin"});
  EXPECT_EQ(p.action, EntryAction::session);
  EXPECT_EQ(p.ip, 0x0A000002u);
  EXPECT_EQ(p.path, "b.bin");
  EXPECT_EQ(parse({"-u", "-v"}).mode, MODE_VERIFY);
  EXPECT_EQ(parse({"-v", "-u"}).mode, MODE_IDENTITY);
  EXPECT_FALSE(parse({"-u"}).done);
  EXPECT_FALSE(parse({"-v"}).done);
  EXPECT_TRUE(parse({"-fp", "x"}).done);
}

TEST(EntryTest, AnArgumentTakenByAnOptionIsNeverAnOption) {
  auto p = parse({"-fp", "-v"});
  EXPECT_EQ(p.action, EntryAction::session);
  EXPECT_EQ(p.path, "-v");
  EXPECT_EQ(p.mode, MODE_PROGRAM);
  EXPECT_EQ(parse({"-fp", "-h"}).action, EntryAction::session);
  EXPECT_EQ(parse({"-ip", "-fp", "fw.bin"}).action, EntryAction::addressError);
  EXPECT_EQ(parse({"-ip", "-h"}).action, EntryAction::addressError);
}

TEST(EntryTest, ActingOptionsEndTheReadingWhereTheyStand) {
  struct Case {
    std::vector<std::string> args;
    EntryAction action;
    std::uint32_t ip;
  };
  const std::vector<Case> cases = {
      {{}, EntryAction::bareUsage, DEFAULT_DRIVE_IP},
      {{"-ip", "10.1.2.3", "-h"}, EntryAction::usage, 0x0A010203u},
      {{"-h", "-ip", "10.1.2.3"}, EntryAction::usage, DEFAULT_DRIVE_IP},
      {{"-ip", "300.1.1.1", "-h"}, EntryAction::addressError, DEFAULT_DRIVE_IP},
      {{"-ip", "300.1.1.1", "-ip", "10.0.0.1"}, EntryAction::addressError, DEFAULT_DRIVE_IP},
      {{"-ip", "255.255.255.255"}, EntryAction::addressError, DEFAULT_DRIVE_IP},
      {{"-ip"}, EntryAction::addressError, DEFAULT_DRIVE_IP},
      {{"-u", "-ip"}, EntryAction::addressError, DEFAULT_DRIVE_IP},
      {{"-fp"}, EntryAction::fileNameError, DEFAULT_DRIVE_IP},
      {{"-ip", "10.1.2.3", "-d", "-bogus"}, EntryAction::discovery, 0x0A010203u},
      {{"-fp", "fw.bin", "-m"}, EntryAction::manual, DEFAULT_DRIVE_IP},
      {{"-m", "-h"}, EntryAction::manual, DEFAULT_DRIVE_IP},
      {{"-H"}, EntryAction::usage, DEFAULT_DRIVE_IP},
      {{"--h"}, EntryAction::usage, DEFAULT_DRIVE_IP},
      {{"-IP", "10.0.0.1"}, EntryAction::usage, DEFAULT_DRIVE_IP},
      {{"-ip10.0.0.1"}, EntryAction::usage, DEFAULT_DRIVE_IP},
      {{"-uv"}, EntryAction::usage, DEFAULT_DRIVE_IP},
      {{"fw.bin"}, EntryAction::usage, DEFAULT_DRIVE_IP},
      {{""}, EntryAction::usage, DEFAULT_DRIVE_IP},
      {{"-u", "-d"}, EntryAction::discovery, DEFAULT_DRIVE_IP},
  };
  for (const auto& c : cases) {
    std::string line;
    for (const auto& a : c.args) {
      line += "[" + a + "] ";
    }
    const Parsed p = parse(c.args);
    EXPECT_EQ(p.action, c.action) << line;
    EXPECT_EQ(p.ip, c.ip) << line;
  }
}

}  // namespace
