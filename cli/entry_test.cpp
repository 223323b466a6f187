// What the command line sets for the session, which the console texts alone
// don't show (those are checked byte for byte in cli_e2e_test.cpp).
#include "cli/entry.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "link/link.h"
#include "session/session.h"
#include "testkit/process.h"

namespace {

TEST(EntryTest, SettingsAndActions) {
  const std::uint32_t defaultIp = DEFAULT_DRIVE_IP;
  const struct {
    const char* args;
    EntryAction action;
    std::uint32_t ip;
    const char* path;  // "" when firmwarePath is null
    RunMode mode;
    bool done;  // doneFlag: false when the run waits for the drive's report
  } cases[] = {
      {"", EntryAction::bareUsage, defaultIp, "", MODE_PROGRAM, true},
      // later settings replace earlier ones
      {"-ip 10.0.0.1 -fp a.bin -ip 10.0.0.2 -fp b.bin", EntryAction::session, 0x0A000002u, "b.bin",
       MODE_PROGRAM, true},
      {"-u -v", EntryAction::session, defaultIp, "", MODE_VERIFY, false},
      {"-v -u", EntryAction::session, defaultIp, "", MODE_IDENTITY, false},
      // an argument taken by an option is never an option
      {"-fp -v", EntryAction::session, defaultIp, "-v", MODE_PROGRAM, true},
      {"-fp -h", EntryAction::session, defaultIp, "-h", MODE_PROGRAM, true},
      // -d acts where it stands, with what was set before it
      {"-ip 10.1.2.3 -d -bogus", EntryAction::discovery, 0x0A010203u, "", MODE_PROGRAM, true},
      {"-u -d -ip 10.0.0.1", EntryAction::discovery, defaultIp, "", MODE_IDENTITY, false},
  };
  for (const auto& c : cases) {
    driveIp = DEFAULT_DRIVE_IP;
    firmwarePath = nullptr;
    runMode = MODE_PROGRAM;
    doneFlag = true;
    std::vector<std::string> args =
        words(std::string("tovrin ") + c.args);  // firmwarePath points in here
    std::vector<char*> argv;
    for (auto& a : args) {
      argv.push_back(a.data());
    }
    EXPECT_EQ(readCommandLine(static_cast<int>(argv.size()), argv.data()), c.action) << c.args;
    EXPECT_EQ(driveIp, c.ip) << c.args;
    EXPECT_STREQ(firmwarePath != nullptr ? firmwarePath : "", c.path) << c.args;
    EXPECT_EQ(runMode, c.mode) << c.args;
    EXPECT_EQ(doneFlag, c.done) << c.args;
  }
  firmwarePath = nullptr;  // its argument is gone
}

}  // namespace
