#include "generator/effects.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <array>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "generator/finishing_pass.h"
#include "tests/generator/recording_picture.h"

namespace pictovance {
namespace {

using namespace testing_support;

constexpr float kP = 0.08f;
constexpr Colour kPen = 0x2468AC;
constexpr int kDepthStep = 0, kLineStep = 1, kFilterStep = 2;

int Tries(bool paletteMode) { return paletteMode ? 15 : 12; }

// Which step a call on the picture came from.
int StepOf(const Call& c) {
  if (c.name == "ChangeColorDepth") return kDepthStep;
  if (c.name == "SetLineColor" || c.name == "SetLineWidth" || c.name == "DrawLine" || c.name == "DrawPoint") {
    return kLineStep;
  }
  return kFilterStep;
}

// --- The order, with every step forced to act -------------------------------

// Draws and calls of each step when it is made to act once.
void AppendStep(int code, bool paletteMode, std::vector<double>& script, std::vector<Call>& expected) {
  switch (code) {
    case kDepthStep:  // passes at 0.24, dither flag at 0.1, 32 colours
      Append(script, {0.24f, 0.1f, JustAbove(0.16f)});
      expected.insert(expected.end(), {{"ChangeColorDepth", {32, 1, 1}},
                                       {"ChangeColorDepth", {64, 0, 0}},
                                       {"ChangeColorDepth", {0, 0, 0}}});
      break;
    case kLineStep:  // horizontal lines 2 apart on a 4 x 2 picture, the rest fail
      Append(script, {kP, UnitFor(kPen, 0xFFFFFF), UnitFor(0, 1), JustAbove(0.25f), UnitFor(0, 3)});
      AppendRepeated(script, 3, JustAbove(kP));
      expected.insert(expected.end(), {{"SetLineColor", {kPen}},
                                       {"SetLineWidth", {1}},
                                       {"DrawLine", {0, 0, 4, 0}},
                                       {"DrawLine", {0, 2, 4, 2}}});
      break;
    case kFilterStep:  // the first try applies Negative, the rest fail
      Append(script, {kP, UnitForIndex(3, Tries(paletteMode))});
      AppendRepeated(script, static_cast<std::size_t>(Tries(paletteMode) - 1), JustAbove(kP));
      expected.push_back({"Negative", {}});
      break;
  }
}

constexpr std::array<std::array<int, 3>, 6> kOrders = {
    {{0, 1, 2}, {0, 2, 1}, {1, 0, 2}, {1, 2, 0}, {2, 0, 1}, {2, 1, 0}}};

class StepOrderTest : public ::testing::TestWithParam<std::tuple<int, bool>> {};

TEST_P(StepOrderTest, StepsRunOnceEachInTheDrawnOrder) {
  const auto [orderIndex, paletteMode] = GetParam();
  const auto [a, b, c] = kOrders[static_cast<std::size_t>(orderIndex)];
  // second repeats first once and third repeats both before they differ.
  std::vector<double> script = {UnitFor(a, 2), UnitFor(a, 2), UnitFor(b, 2),
                                UnitFor(b, 2), UnitFor(a, 2), UnitFor(c, 2)};
  std::vector<Call> expected;
  for (const int code : {a, b, c}) AppendStep(code, paletteMode, script, expected);
  ScriptedRandom scripted(script);
  RecordingPicture picture(4, 2);

  ApplySpecialEffects(picture, paletteMode, scripted.rng);

  EXPECT_EQ(picture.calls, expected);
  // The filter step's try count shows that PaletteMode was handed on.
  EXPECT_TRUE(scripted.UsedExactlyTheScript());
}

INSTANTIATE_TEST_SUITE_P(AllOrders, StepOrderTest,
                         ::testing::Combine(::testing::Range(0, 6), ::testing::Bool()), [](const auto& info) {
                           const auto& o = kOrders[static_cast<std::size_t>(std::get<0>(info.param))];
                           return "order" + std::to_string(o[0]) + std::to_string(o[1]) +
                                  std::to_string(o[2]) + (std::get<1>(info.param) ? "_palette" : "_sources");
                         });

// --- The colour-depth step's own chances ------------------------------------

struct DepthCase {
  const char* name;
  std::vector<double> draws;
  std::vector<Call> expected;
};
std::ostream& operator<<(std::ostream& out, const DepthCase& c) { return out << c.name; }

class DepthStepTest : public ::testing::TestWithParam<DepthCase> {};

TEST_P(DepthStepTest, ActsOnlyWhenItsChanceComesUp) {
  const DepthCase& c = GetParam();
  std::vector<double> script = {UnitFor(0, 2), UnitFor(1, 2), UnitFor(2, 2)};
  script.insert(script.end(), c.draws.begin(), c.draws.end());
  AppendRepeated(script, 4 + 15, JustAbove(kP));  // no overlay, no filter
  ScriptedRandom scripted(script);
  RecordingPicture picture(4, 2);

  ApplySpecialEffects(picture, true, scripted.rng);

  EXPECT_EQ(picture.calls, c.expected);
  EXPECT_TRUE(scripted.UsedExactlyTheScript());
}

INSTANTIATE_TEST_SUITE_P(Chances, DepthStepTest,
                         ::testing::Values(DepthCase{"DitheredAtTheEdges",
                                                     {0.24f, 0.1f, 0.0},
                                                     {{"ChangeColorDepth", {16, 1, 1}},
                                                      {"ChangeColorDepth", {64, 0, 0}},
                                                      {"ChangeColorDepth", {0, 0, 0}}}},
                                           DepthCase{"NotDithered",
                                                     {0.0, JustAbove(0.1f), kAlmostOne},
                                                     {{"ChangeColorDepth", {256, 1, 0}},
                                                      {"ChangeColorDepth", {64, 0, 0}},
                                                      {"ChangeColorDepth", {0, 0, 0}}}},
                                           // A failed test draws nothing more: no flag, no count.
                                           DepthCase{"ChanceFails", {JustAbove(0.24f)}, {}}),
                         [](const auto& info) { return std::string(info.param.name); });

// --- Many passes on the generator's own draws ---------------------------------

class ManyPassesTest : public ::testing::TestWithParam<bool> {};

TEST_P(ManyPassesTest, AllSixOrdersOccurAndNoStepRunsTwice) {
  const bool paletteMode = GetParam();
  Random rng(77);
  std::set<std::vector<int>> orders;
  int paletteOnlyFilters = 0;
  for (int pass = 0; pass < 4000; ++pass) {
    RecordingPicture picture(6, 4);
    ApplySpecialEffects(picture, paletteMode, rng);

    std::vector<int> runs;  // the steps in the order their calls appear
    for (const Call& c : picture.calls) {
      if (runs.empty() || runs.back() != StepOf(c)) runs.push_back(StepOf(c));
    }
    ASSERT_EQ(std::set<int>(runs.begin(), runs.end()).size(), runs.size())
        << "a step ran twice in pass " << pass;
    if (runs.size() == 3) orders.insert(runs);

    // The colour-depth step's calls are always the full triple.
    std::vector<Call> depth;
    for (const Call& c : picture.calls) {
      if (StepOf(c) == kDepthStep) depth.push_back(c);
    }
    if (!depth.empty()) {
      ASSERT_EQ(depth.size(), 3u);
      EXPECT_EQ(depth[0].args[1], 1);
      EXPECT_TRUE(std::set<double>({16, 32, 64, 128, 216, 256}).count(depth[0].args[0]));
      EXPECT_TRUE(depth[0].args[2] == 0 || depth[0].args[2] == 1);
      EXPECT_EQ(depth[1], (Call{"ChangeColorDepth", {64, 0, 0}}));
      EXPECT_EQ(depth[2], (Call{"ChangeColorDepth", {0, 0, 0}}));
    }

    for (std::size_t i = 0; i < picture.calls.size(); ++i) {
      const std::string& name = picture.calls[i].name;
      const bool loneGamma = name == "Gamma" && (i == 0 || picture.calls[i - 1].name != "contrast");
      if (name.starts_with("EdgeDetect") || name.starts_with("Emboss") || loneGamma) ++paletteOnlyFilters;
    }
  }
  EXPECT_EQ(orders.size(), 6u);
  if (paletteMode) {
    EXPECT_GT(paletteOnlyFilters, 0);
  } else {
    EXPECT_EQ(paletteOnlyFilters, 0) << "edge, emboss or case-15 gamma with sources loaded";
  }
}

INSTANTIATE_TEST_SUITE_P(Modes, ManyPassesTest, ::testing::Bool(),
                         [](const auto& info) { return std::string(info.param ? "palette" : "sources"); });

// --- The real image object ----------------------------------------------------

::testing::AssertionResult Usable(Image& image, int width, int height, const std::filesystem::path& file) {
  if (image.Width() != width || image.Height() != height) {
    return ::testing::AssertionFailure()
           << "size " << image.Width() << "x" << image.Height() << ", was " << width << "x" << height;
  }
  image.SetLineColor(0x0000FF);
  image.SetLineWidth(1);
  image.DrawPoint(3, 2);
  if (image.GetColorAt(3, 2) != 0x0000FF) {
    return ::testing::AssertionFailure() << "a dot drawn at (3, 2) reads back as " << image.GetColorAt(3, 2);
  }
  image.SaveBitmap(file.string());
  Image loaded;
  loaded.LoadBitmap(file.string());
  if (loaded.Width() != width || loaded.Height() != height || loaded.GetColorAt(3, 2) != 0x0000FF) {
    return ::testing::AssertionFailure()
           << "the saved file reads back as " << loaded.Width() << "x" << loaded.Height() << " with "
           << loaded.GetColorAt(3, 2) << " at (3, 2)";
  }
  return ::testing::AssertionSuccess();
}

class RealImageTest : public ::testing::TestWithParam<std::uint64_t> {
 protected:
  void SetUp() override {
    m_dir = std::filesystem::temp_directory_path() /
            ("pictovance-effects-" + std::to_string(::getpid()) + "-" + std::to_string(GetParam()));
    std::filesystem::create_directories(m_dir);
  }
  void TearDown() override { std::filesystem::remove_all(m_dir); }
  std::filesystem::path m_dir;
};

TEST_P(RealImageTest, PictureStaysUsableAfterThePassAndEveryStep) {
  constexpr int W = 96, H = 48;
  const std::uint64_t seed = GetParam();
  const bool paletteMode = seed % 2 == 0;
  Random rng(seed);
  Image image;
  image.CreateBitmap(W, H, 0x336699);
  for (int k = 0; k < 500; ++k) {
    image.SetLineColor(rng.RandomInt(0xFFFFFF));
    image.DrawPoint(rng.RandomInt(W - 1), rng.RandomInt(H - 1));
  }

  ApplySpecialEffects(image, paletteMode, rng);
  ASSERT_TRUE(Usable(image, W, H, m_dir / "pass.png"));

  // Each step made to act, so every filter and reduction meets the real
  // image over the seeds.
  DrawLinePatterns(1.0f, image, rng);
  ASSERT_TRUE(Usable(image, W, H, m_dir / "lines.png"));
  ReduceColorDepth(false, seed % 3 == 0, image, rng);
  image.ChangeColorDepth(0, 0, 0);
  ASSERT_TRUE(Usable(image, W, H, m_dir / "depth.png"));
  ApplyRandomFilters(1.0f, true, image, rng);
  ASSERT_TRUE(Usable(image, W, H, m_dir / "filters.png"));
}

INSTANTIATE_TEST_SUITE_P(Seeds, RealImageTest, ::testing::Range<std::uint64_t>(1, 9));

}  // namespace
}  // namespace pictovance
