// How much of the send queue the sends to addresses not yet heard from may
// hold, over time.
#include "link/send_budget.h"

#include <gtest/gtest.h>

namespace {

using std::chrono::milliseconds;

const TimePoint T0 = TimePoint{} + std::chrono::hours(1);
TimePoint at(int ms) { return T0 + milliseconds(ms); }

constexpr std::size_t DATAGRAM = 524;
constexpr std::size_t CHARGE = DATAGRAM + SendBudget::OVERHEAD;

// The sends that go to address to, one every 30 ms from `from` to `until`.
int sendsGoing(SendBudget& budget, DriveAddress to, int from, int until) {
  int going = 0;
  for (int t = from; t < until; t += 30) {
    going += budget.mayGo(to, DATAGRAM, at(t)) ? 1 : 0;
  }
  return going;
}

TEST(SendBudget, AnAddressNotHeardFromKeepsToItsShareOfTheQueue) {
  const struct {
    const char* name;
    std::size_t queue;
    std::size_t drives;
    int going;  // of the 133 connection tries in the first four seconds
  } cases[] = {
      {"no limit known", 0, 50, 134},
      {"one drive, a queue of the usual size", 425984, 1, 134},
      {"fifty drives, the same queue", 425984, 50, 2},
      {"fifty drives, a queue sized for them", 51 * 2 * 256 * 1024, 50, 134},
      {"a queue too small for one datagram each", 1000, 50, 1},
  };
  for (const auto& c : cases) {
    SendBudget budget(c.queue, c.drives);
    EXPECT_EQ(sendsGoing(budget, {10, 0, 0, 99}, 0, 4000), c.going) << c.name;
  }
}

// The share comes back as the window passes; an address that answered is
// never held back; each address has its own account.
TEST(SendBudget, TheWindowPassesAndAnsweringAddressesGoFree) {
  SendBudget budget(CHARGE * 2 * 3 * 2, 2);  // a share of three datagrams
  const DriveAddress one(10, 0, 0, 1);
  const DriveAddress two(10, 0, 0, 2);
  EXPECT_EQ(sendsGoing(budget, one, 0, 1000), 3);
  EXPECT_EQ(sendsGoing(budget, two, 0, 1000), 3);
  EXPECT_EQ(sendsGoing(budget, one, 1000, 4000), 0);
  EXPECT_EQ(sendsGoing(budget, one, 4000, 4090), 3);  // the first three are 4 s old
  budget.heard(two);
  EXPECT_EQ(sendsGoing(budget, two, 1000, 4000), 100);
}

}  // namespace
