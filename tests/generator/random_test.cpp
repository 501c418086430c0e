#include "generator/random.h"

#include <gtest/gtest.h>

#include <map>
#include <set>

namespace pictovance {
namespace {

TEST(RandomTest, SameSeedSameSequenceOtherSeedOtherSequence) {
  Random a(7), b(7), c(8);
  bool differs = false;
  for (int k = 0; k < 100; ++k) {
    const double u = a.RandomUnit();
    ASSERT_EQ(u, b.RandomUnit());
    differs |= u != c.RandomUnit();
  }
  EXPECT_TRUE(differs);
}

// Pins what a fixed seed gives, so a change to the generator (and so to
// every picture a seed paints) is noticed.
TEST(RandomTest, GoldenValuesForSeed42) {
  Random rng(42);
  const std::int32_t expected[] = {814305, 318821, 983895, 701136, 793505, 588099, 125352, 605123};
  for (std::int32_t value : expected) EXPECT_EQ(rng.RandomInt(1000000), value);
}

// Picture seeds are SplitMix64's published outputs for a start of 0, so the
// rule can be reproduced with any implementation of it.
TEST(PictureSeedTest, FollowsSplitMix64FromTheRunSeed) {
  EXPECT_EQ(PictureSeed(0, 0), 0xE220A8397B1DCDAFull);
  EXPECT_EQ(PictureSeed(0, 1), 0x6E789E6AA1B965F4ull);
  EXPECT_EQ(PictureSeed(0, 2), 0x06C45D188009454Full);
  // The run seed shifts the stream: picture i + 1 of seed S is picture i of
  // seed S + gamma, and indices never collide within a run.
  EXPECT_EQ(PictureSeed(7, 1), PictureSeed(7 + 0x9E3779B97F4A7C15ull, 0));
  std::set<std::uint64_t> seen;
  for (std::uint64_t i = 0; i < 10000; ++i) seen.insert(PictureSeed(7, i));
  EXPECT_EQ(seen.size(), 10000u);
}

TEST(RandomTest, UnitDrawsStayInHalfOpenRangeAndLookUniform) {
  Random rng(1);
  int buckets[10] = {};
  constexpr int kDraws = 200000;
  for (int k = 0; k < kDraws; ++k) {
    const double u = rng.RandomUnit();
    ASSERT_GE(u, 0.0);
    ASSERT_LT(u, 1.0);
    ++buckets[static_cast<int>(u * 10)];
  }
  for (int b = 0; b < 10; ++b) {
    SCOPED_TRACE(b);
    EXPECT_NEAR(buckets[b], kDraws / 10, kDraws / 100);  // within 10 % of the mean
  }
}

struct RangeCase {
  std::int32_t n;
  std::int32_t low;
  std::int32_t high;
};
std::ostream& operator<<(std::ostream& out, const RangeCase& c) {
  return out << "RandomInt(" << c.n << ") in " << c.low << ".." << c.high;
}

class RandomIntRangeTest : public testing::TestWithParam<RangeCase> {};

TEST_P(RandomIntRangeTest, ReachesEveryValueOfItsRangeAndNothingElse) {
  const RangeCase c = GetParam();
  Random rng(static_cast<std::uint64_t>(c.n) + 99);
  std::set<std::int32_t> seen;
  for (int k = 0; k < 20000; ++k) {
    const std::int32_t v = rng.RandomInt(c.n);
    ASSERT_GE(v, c.low);
    ASSERT_LE(v, c.high);
    seen.insert(v);
  }
  EXPECT_EQ(seen.size(), static_cast<std::size_t>(c.high - c.low + 1));
}

INSTANTIATE_TEST_SUITE_P(Ranges, RandomIntRangeTest,
                         testing::Values(RangeCase{0, 0, 0}, RangeCase{1, 0, 1}, RangeCase{2, 0, 2},
                                         RangeCase{3, 0, 3}, RangeCase{15, 0, 15}, RangeCase{16, 0, 16},
                                         RangeCase{-1, -1, 0}, RangeCase{-3, -3, 0}));

// The run of pen-width draws gives what RandomInt(3) gives, draw for draw,
// after a script as well as on the generator's own sequence.
TEST(RandomTest, RandomInt3RunsGiveTheValuesOfRandomInt3) {
  for (std::uint64_t seed = 0; seed < 50; ++seed) {
    SCOPED_TRACE(seed);
    Random run(seed), single(seed);
    const std::vector<double> script = {0.0, 0.2499, 0.25, 0.74, 0.9999};
    if (seed % 2 == 0) {
      run.Script(script);
      single.Script(script);
    }
    const std::int64_t count = static_cast<std::int64_t>(seed * 37 % 1000);
    std::vector<std::int32_t> values;
    run.RandomInt3Run(count, [&values](std::int32_t v) { values.push_back(v); });
    ASSERT_EQ(values.size(), static_cast<std::size_t>(count));
    for (const std::int32_t v : values) ASSERT_EQ(v, single.RandomInt(3));
    EXPECT_EQ(run.DrawCount(), single.DrawCount());
    EXPECT_EQ(run.RandomUnit(), single.RandomUnit());
  }
}

// A skip leaves the generator where as many draws leave it, on both sides
// of the length where stepping gives way to jumping, past the longest
// single jump, and after a script.
TEST(RandomTest, SkipEndsWhereTheDrawsEnd) {
  const std::int64_t counts[] = {0, 1, 5, 2047, 2048, 2049, 10007, 65536, (std::int64_t{1} << 20) + 3};
  for (const std::int64_t count : counts) {
    for (const bool scripted : {false, true}) {
      SCOPED_TRACE(testing::Message() << count << (scripted ? " after a script" : ""));
      Random skipped(static_cast<std::uint64_t>(count)), drawn(static_cast<std::uint64_t>(count));
      if (scripted) {
        skipped.Script({0.5, 0.25, 0.125});
        drawn.Script({0.5, 0.25, 0.125});
      }
      skipped.Skip(count);
      for (std::int64_t k = 0; k < count; ++k) drawn.RandomUnit();
      ASSERT_EQ(skipped.DrawCount(), drawn.DrawCount());
      ASSERT_EQ(skipped.RandomUnit(), drawn.RandomUnit());
      ASSERT_EQ(skipped.RandomUnit(), drawn.RandomUnit());
    }
  }
  // Beyond the table of jumps: 2^41 + 5 steps at once, against four jumps
  // of 2^39 and five draws.
  Random far(9), near(9);
  far.Skip((std::int64_t{1} << 41) + 5);
  for (int k = 0; k < 4; ++k) near.Skip(std::int64_t{1} << 39);
  near.Skip(5);
  EXPECT_EQ(far.RandomUnit(), near.RandomUnit());
}

TEST(RandomTest, RandomIntTakesOneDrawEvenForZero) {
  Random rng(3);
  rng.RandomInt(0);
  rng.RandomInt(16777215);
  rng.RandomInt(-5);
  EXPECT_EQ(rng.DrawCount(), 3u);
}

struct EdgeDraw {
  double u;
  std::int32_t n;
  std::int32_t expected;
};
std::ostream& operator<<(std::ostream& out, const EdgeDraw& d) {
  return out << "u " << d.u << " RandomInt(" << d.n << ") = " << d.expected;
}

class RandomIntEdgeTest : public testing::TestWithParam<EdgeDraw> {};

TEST_P(RandomIntEdgeTest, TruncatesTowardZero) {
  const EdgeDraw c = GetParam();
  Random rng;
  rng.Script({c.u});
  EXPECT_EQ(rng.RandomInt(c.n), c.expected);
}

constexpr double kLastUnit = 1.0 - 0x1.0p-53;

INSTANTIATE_TEST_SUITE_P(Edges, RandomIntEdgeTest,
                         testing::Values(EdgeDraw{0.0, 16777215, 0}, EdgeDraw{kLastUnit, 16777215, 16777215},
                                         EdgeDraw{16777215.0 / 16777216.0, 16777215, 16777215},
                                         EdgeDraw{(16777215.0 - 0.5) / 16777216.0, 16777215, 16777214},
                                         EdgeDraw{kLastUnit, 16, 16}, EdgeDraw{0.5, 1, 1},
                                         EdgeDraw{0.4999, 1, 0}, EdgeDraw{kLastUnit, -3, -3},
                                         EdgeDraw{0.0, -3, 0}, EdgeDraw{0.25, -3, -1},
                                         EdgeDraw{0.2499, -3, 0}, EdgeDraw{kLastUnit, 2147483647, 2147483647},
                                         EdgeDraw{kLastUnit, -2147483647 - 1, -2147483647 - 1}));

TEST(RandomTest, TwentyFourBitColoursReachBothEnds) {
  // Every 24-bit colour is reachable: the unit draws are fine enough to hit
  // each of the 2^24 cells of RandomInt(16777215).
  Random rng;
  rng.Script({0.0, 16777215.0 / 16777216.0, 8388608.0 / 16777216.0});
  EXPECT_EQ(rng.RandomInt(16777215), 0);
  EXPECT_EQ(rng.RandomInt(16777215), 16777215);
  EXPECT_EQ(rng.RandomInt(16777215), 8388608);
}

TEST(RandomTest, ChanceSucceedsAtTheThresholdAndFailsAbove) {
  Random rng;
  rng.Script({0.3, std::nextafter(0.3, 1.0), 0.0, 0.3f, std::nextafter(static_cast<double>(0.3f), 1.0)});
  EXPECT_TRUE(rng.Chance(0.3));
  EXPECT_FALSE(rng.Chance(0.3));
  EXPECT_TRUE(rng.Chance(0.0));
  EXPECT_TRUE(rng.Chance(0.3f));  // single-precision thresholds compare at their own value
  EXPECT_FALSE(rng.Chance(0.3f));
}

TEST(RandomTest, ChanceFlagIsTrueAboutAsOftenAsItsChance) {
  Random rng(11);
  int trues = 0;
  constexpr int kDraws = 100000;
  for (int k = 0; k < kDraws; ++k) trues += rng.Flag(0.3) ? 1 : 0;
  EXPECT_NEAR(trues, 30000, 1000);
}

TEST(RandomTest, RedrawOnlyReplacesTheFlagWhenItsChanceComesUp) {
  Random rng;
  bool flag = true;
  rng.Script({0.9, 0.04, 0.9, 0.05, 0.1});
  rng.Redraw(flag, 0.05, 0.3);  // 0.9 > 0.05: untouched, one draw
  EXPECT_TRUE(flag);
  EXPECT_EQ(rng.DrawCount(), 1u);
  rng.Redraw(flag, 0.05, 0.3);  // 0.04 passes, new flag from 0.9: false
  EXPECT_FALSE(flag);
  EXPECT_EQ(rng.DrawCount(), 3u);
  rng.Redraw(flag, 0.05, 0.3);  // 0.05 passes (<=), new flag from 0.1: true
  EXPECT_TRUE(flag);
  EXPECT_EQ(rng.DrawCount(), 5u);
}

TEST(RandomTest, LadderPicksTheFirstThresholdAtOrAboveTheDraw) {
  const std::initializer_list<float> thresholds = {0.16f, 0.32f, 0.48f, 0.64f, 0.8f};
  struct Case {
    double u;
    int expected;
  };
  const Case cases[] = {
      {0.0, 0}, {0.16f, 0}, {std::nextafter(static_cast<double>(0.16f), 1.0), 1}, {0.32f, 1},
      {0.5, 3}, {0.8f, 4},  {std::nextafter(static_cast<double>(0.8f), 1.0), 5},  {kLastUnit, 5}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.u);
    Random rng;
    rng.Script({c.u});
    EXPECT_EQ(rng.Ladder(thresholds), c.expected);
    EXPECT_EQ(rng.DrawCount(), 1u);
  }
}

TEST(RandomTest, RandomIndexRunsFromOneToN) {
  Random rng(5);
  std::map<int, int> seen;
  for (int k = 0; k < 10000; ++k) ++seen[rng.RandomIndex(4)];
  ASSERT_EQ(seen.size(), 4u);
  EXPECT_EQ(seen.begin()->first, 1);
  EXPECT_EQ(seen.rbegin()->first, 4);
}

TEST(RandomTest, MirroredCoordinateStaysInRange) {
  for (int max : {0, 1, 7, 799}) {
    for (int v = 0; v <= max; ++v) {
      EXPECT_EQ(Mirrored(v, max, false), v);
      EXPECT_EQ(Mirrored(v, max, true), max - v);
      EXPECT_GE(Mirrored(v, max, true), 0);
    }
  }
}

TEST(RoundHalfEvenTest, RoundsToNearestAndTiesToEven) {
  const std::pair<double, int> cases[] = {
      {0.5, 0},     {1.5, 2},         {2.5, 2},       {16.5, 16},     {17.5, 18},
      {199.5, 200}, {399.0 / 2, 200}, {66.5, 66},     {0.49, 0},      {0.51, 1},
      {-0.5, 0},    {-1.5, -2},       {-2.5, -2},     {-2.6, -3},     {16.0, 16},
      {0.0, 0},     {800.0 / 50, 16}, {25.0 / 50, 0}, {26.0 / 50, 1}, {399.0 / 6, 66}};
  for (const auto& [x, expected] : cases) {
    SCOPED_TRACE(x);
    EXPECT_EQ(RoundHalfEven(x), expected);
  }
}

}  // namespace
}  // namespace pictovance
