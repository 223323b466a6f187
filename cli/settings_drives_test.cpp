// The options that choose several drives and the run record file.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "cli/settings.h"
#include "testkit/process.h"

namespace {

using Addresses = std::vector<std::uint32_t>;

TEST(SettingsTest, DrivesAndRecordFile) {
  const Addresses defaultIp = {DEFAULT_DRIVE_IP};
  const struct {
    const char* args;
    EntryAction action;
    Addresses drives;
    bool everyDiscovered;
    const char* record;  // "" when no -r was read
  } cases[] = {
      {"-ip 10.0.0.5,10.0.0.6,10.0.0.5", EntryAction::session, {0x0A000005, 0x0A000006}, false, ""},
      // of -ip and -a the last one counts
      {"-ip 10.0.0.5,10.0.0.6 -a", EntryAction::session, {0x0A000005, 0x0A000006}, true, ""},
      {"-a -ip 10.0.0.7", EntryAction::session, {0x0A000007}, false, ""},
      // any bad element refuses the list, a zero-padded one included
      {"-ip 10.0.0.5,10.0.0.300", EntryAction::addressError, defaultIp, false, ""},
      {"-ip 10.0.0.5,010.0.0.6", EntryAction::addressError, defaultIp, false, ""},
      {"-ip 10.0.0.5,", EntryAction::addressError, defaultIp, false, ""},
      {"-a -u -r runs.jsonl", EntryAction::session, defaultIp, true, "runs.jsonl"},
      {"-r -ip", EntryAction::session, defaultIp, false, "-ip"},
      {"-u -r", EntryAction::recordNameError, defaultIp, false, ""},
  };
  for (const auto& c : cases) {
    std::vector<std::string> args = words(std::string("tovrin ") + c.args);
    std::vector<char*> argv;
    for (auto& a : args) {
      argv.push_back(a.data());
    }
    const CommandLine line = readCommandLine(static_cast<int>(argv.size()), argv.data());
    EXPECT_EQ(line.action, c.action) << c.args;
    EXPECT_EQ(line.settings.driveAddresses, c.drives) << c.args;
    EXPECT_EQ(line.settings.everyDiscovered, c.everyDiscovered) << c.args;
    EXPECT_EQ(line.settings.recordPath.value_or(""), c.record) << c.args;
  }
}

}  // namespace
