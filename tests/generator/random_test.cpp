#include "generator/random.h"

#include <gtest/gtest.h>

#include <set>

namespace pictovance {
namespace {

TEST(RandomTest, SameSeedSameSequence) {
  Random a(7), b(7), c(8);
  bool differs = false;
  for (int k = 0; k < 100; ++k) {
    const double u = a.RandomUnit();
    ASSERT_EQ(u, b.RandomUnit());
    differs |= u != c.RandomUnit();
  }
  EXPECT_TRUE(differs);
}

}  // namespace
}  // namespace pictovance
