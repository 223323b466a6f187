// Discovery's lines on the console.
#include "cli/discovery_report.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace {

constexpr std::uint32_t ip(unsigned a, unsigned b, unsigned c, unsigned d) {
  return (a << 24) | (b << 16) | (c << 8) | d;
}

// A discovery that hears one drive more than a run serves: 10.0.0.1 and on
// are listed, the last one is left out.
FoundDrives oneTooMany(DiscoveryObserver& observer, const InterruptWatch* /*interrupts*/) {
  FoundDrives found;
  for (unsigned n = 1; n <= MAX_DISCOVERED + 1; ++n) {
    const std::uint32_t drive = ip(10, 0, 0, n);
    if (found.drives.size() < MAX_DISCOVERED) {
      found.drives.push_back(drive);
      observer.driveFound(drive);
    } else {
      found.leftOut.push_back(drive);
      observer.driveLeftOut(drive);
    }
  }
  return found;
}

std::string readAll(std::FILE* file) {
  std::rewind(file);
  std::string text;
  for (int c = std::fgetc(file); c != EOF; c = std::fgetc(file)) {
    text += static_cast<char>(c);
  }
  return text;
}

// The console's discovery writes its opening line and the drives it lists;
// the drives left out are named once, by the run that ends (-d after this
// list, -a after its summary), so none of them is named here.
TEST(DiscoveryReportTest, DiscoveryListsTheDrivesAndLeavesTheLeftOutLineToTheRun) {
  std::FILE* file = std::tmpfile();
  ASSERT_NE(file, nullptr);
  RunOutput out(file);
  const InterruptWatch interrupts;
  const FoundDrives found = discoverOnConsole(out, interrupts, oneTooMany);
  std::fflush(file);
  std::string expected = "\nRetrieving IP Address of all Drives on LAN, please wait....\n";
  for (unsigned n = 1; n <= MAX_DISCOVERED; ++n) {
    expected += "\n\t-->  10.0.0." + std::to_string(n) + " ";
  }
  EXPECT_EQ(readAll(file), expected);
  std::fclose(file);
  EXPECT_EQ(found.drives.size(), MAX_DISCOVERED);
  EXPECT_EQ(found.leftOut, std::vector<std::uint32_t>{ip(10, 0, 0, 101)});
}

TEST(DiscoveryReportTest, LeftOutLineNamesEveryDriveLeftOut) {
  const std::vector<std::uint32_t> leftOut = {ip(192, 168, 125, 101), ip(192, 168, 125, 102),
                                              ip(192, 168, 125, 103)};
  EXPECT_EQ(leftOutLine(leftOut),
            "\nERROR: 3 more drives answered than a run serves (100), left out: 192.168.125.101 "
            "192.168.125.102 192.168.125.103");
}

}  // namespace
