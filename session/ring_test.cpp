#include "session/ring.h"

#include <gtest/gtest.h>

namespace {

TEST(Ring, KeepsTheLatestValuesOldestFirst) {
  Ring<int, 3> r;
  EXPECT_TRUE(r.empty());
  for (int v = 1; v <= 5; ++v) {
    r.push(v);
  }
  ASSERT_EQ(r.size(), 3u);
  EXPECT_TRUE(r.full());
  EXPECT_EQ(r.front(), 3);
  EXPECT_EQ(r[1], 4);
  EXPECT_EQ(r.back(), 5);
  r.pop();
  r.pop();
  EXPECT_EQ(r.front(), 5);
  r.push(6);
  r.push(7);
  EXPECT_EQ(r[0], 5);
  EXPECT_EQ(r[2], 7);
  r.pop();
  r.pop();
  r.pop();
  EXPECT_TRUE(r.empty());
}

}  // namespace
