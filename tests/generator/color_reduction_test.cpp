#include "generator/color_reduction.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/generator/recording_picture.h"

namespace pictovance {
namespace {

using namespace testing_support;

struct LadderRow {
  double u;
  std::int32_t count;
};
std::ostream& operator<<(std::ostream& out, const LadderRow& r) { return out << "u " << r.u << " count " << r.count; }

class ReduceColorDepthTest : public ::testing::TestWithParam<std::tuple<LadderRow, bool>> {};

TEST_P(ReduceColorDepthTest, OneDrawPicksTheCountThenTheFixedCallFollows) {
  const auto [row, flag] = GetParam();
  ScriptedRandom scripted({row.u});
  RecordingPicture picture(4, 4);

  ReduceColorDepth(false, flag, picture, scripted.rng);

  const double D = flag ? 1 : 0;
  EXPECT_EQ(picture.calls, (std::vector<Call>{{"ChangeColorDepth", {double(row.count), 1, D}},
                                              {"ChangeColorDepth", {64, 0, 0}}}));
  EXPECT_TRUE(scripted.UsedExactlyTheScript());
}

// Each threshold taken exactly still selects its own count; the smallest
// draw above it selects the next.
INSTANTIATE_TEST_SUITE_P(
    LadderEdges, ReduceColorDepthTest,
    ::testing::Combine(::testing::Values(LadderRow{0.0, 16}, LadderRow{0.16f, 16},
                                         LadderRow{JustAbove(0.16f), 32}, LadderRow{0.32f, 32},
                                         LadderRow{JustAbove(0.32f), 64}, LadderRow{0.48f, 64},
                                         LadderRow{JustAbove(0.48f), 128}, LadderRow{0.64f, 128},
                                         LadderRow{JustAbove(0.64f), 216}, LadderRow{0.8f, 216},
                                         LadderRow{JustAbove(0.8f), 256}, LadderRow{kAlmostOne, 256}),
                       ::testing::Bool()),
    [](const auto& info) {
      return "u" + std::to_string(info.index / 2) + "_count" + std::to_string(std::get<0>(info.param).count) +
             (std::get<1>(info.param) ? "_flag" : "_noflag");
    });

class ReduceColorDepthSkipTest : public ::testing::TestWithParam<bool> {};

TEST_P(ReduceColorDepthSkipTest, SkipDrawsNothingAndAsksForNoCount) {
  const bool flag = GetParam();
  Random rng;
  RecordingPicture picture(4, 4);
  ReduceColorDepth(true, flag, picture, rng);
  EXPECT_EQ(picture.calls, (std::vector<Call>{{"ChangeColorDepth", {0, 0, flag ? 1.0 : 0.0}},
                                              {"ChangeColorDepth", {64, 0, 0}}}));
  EXPECT_EQ(rng.DrawCount(), 0u);
}

INSTANTIATE_TEST_SUITE_P(Flags, ReduceColorDepthSkipTest, ::testing::Bool());

}  // namespace
}  // namespace pictovance
