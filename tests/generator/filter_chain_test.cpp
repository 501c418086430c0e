#include "generator/filter_chain.h"

#include <gtest/gtest.h>

#include <cmath>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "tests/generator/recording_picture.h"

namespace pictovance {
namespace {

using namespace testing_support;

constexpr float kP = 0.08f;
const double kFailTry = JustAbove(kP);

int Tries(bool paletteMode) { return paletteMode ? 15 : 12; }
std::string ModeName(bool paletteMode) { return paletteMode ? "palette" : "sources"; }

// --- Try counts --------------------------------------------------------

class TriesTest : public ::testing::TestWithParam<bool> {};

TEST_P(TriesTest, EveryTryThatPassesAppliesOneCase) {
  const bool paletteMode = GetParam();
  const int R = Tries(paletteMode);
  std::vector<double> script;
  for (int t = 0; t < R; ++t) Append(script, {kP, UnitForIndex(3, R)});  // case 3: Negative
  AppendRepeated(script, 4, 0.0);                                        // would be taken by extra tries
  Random rng;
  rng.Script(script);
  RecordingPicture picture(8, 8);

  ApplyRandomFilters(kP, paletteMode, picture, rng);

  EXPECT_EQ(picture.calls, std::vector<Call>(static_cast<std::size_t>(R), Call{"Negative", {}}));
  EXPECT_EQ(rng.DrawCount(), 2u * static_cast<unsigned>(R));
  EXPECT_EQ(rng.ScriptLeft(), 4u);
}

TEST_P(TriesTest, ATryThatFailsTakesExactlyOneDraw) {
  const bool paletteMode = GetParam();
  const int R = Tries(paletteMode);
  // The first try fails, the second passes at u = p exactly, the rest fail.
  std::vector<double> script = {kFailTry, kP, UnitForIndex(3, R)};
  AppendRepeated(script, static_cast<std::size_t>(R - 2), kFailTry);
  ScriptedRandom scripted(script);
  RecordingPicture picture(8, 8);

  ApplyRandomFilters(kP, paletteMode, picture, scripted.rng);

  EXPECT_EQ(picture.calls, (std::vector<Call>{{"Negative", {}}}));
  EXPECT_TRUE(scripted.UsedExactlyTheScript());
}

INSTANTIATE_TEST_SUITE_P(Modes, TriesTest, ::testing::Bool(),
                         [](const auto& info) { return ModeName(info.param); });

// --- The case table ------------------------------------------------------

struct FilterCase {
  const char* name;
  int k;
  std::vector<double> draws;  // after the case is picked
  std::vector<Call> expected;
};
std::ostream& operator<<(std::ostream& out, const FilterCase& c) { return out << "case " << c.k << " " << c.name; }

class FilterCaseTest : public ::testing::TestWithParam<FilterCase> {};

TEST_P(FilterCaseTest, CallsItsMemberWithArgumentsInDrawOrder) {
  const FilterCase& c = GetParam();
  for (const bool paletteMode : {true, false}) {
    const int R = Tries(paletteMode);
    if (c.k > R) continue;  // cases 13 to 15 exist only in palette mode
    SCOPED_TRACE(ModeName(paletteMode));
    std::vector<double> script = {0.0, UnitForIndex(c.k, R)};
    script.insert(script.end(), c.draws.begin(), c.draws.end());
    AppendRepeated(script, static_cast<std::size_t>(R - 1), kFailTry);
    ScriptedRandom scripted(script);
    RecordingPicture picture(8, 8);

    ApplyRandomFilters(kP, paletteMode, picture, scripted.rng);

    EXPECT_EQ(picture.calls, c.expected);
    EXPECT_TRUE(scripted.UsedExactlyTheScript());
  }
}

// A draw exactly at a single-precision threshold: the test still passes.
constexpr double AtEdge(float t) { return static_cast<double>(t); }

INSTANTIATE_TEST_SUITE_P(
    Cases, FilterCaseTest,
    ::testing::Values(
        FilterCase{"EnhanceDetailAtEdge", 1, {AtEdge(0.33f)}, {{"EnhanceDetail", {}}}},
        FilterCase{"EnhanceFocusAbove", 1, {JustAbove(0.33f)}, {{"EnhanceFocus", {}}}},
        FilterCase{"EnhanceFocusAtEdge", 1, {AtEdge(0.66f)}, {{"EnhanceFocus", {}}}},
        FilterCase{"FocusRestoration", 1, {JustAbove(0.66f)}, {{"FocusRestoration", {}}}},
        FilterCase{"Equalize", 2, {AtEdge(0.3f)}, {{"Equalize", {}}}},
        FilterCase{"EqualizeOnLuminance", 2, {JustAbove(0.3f)}, {{"EqualizeOnLuminance", {}}}},
        FilterCase{"Negative", 3, {}, {{"Negative", {}}}},
        // Red, green, level, blue: four different values, so a swap shows.
        FilterCase{"SepiaRedGreenLevelBlue",
                   4,
                   {AtEdge(0.5f), UnitFor(0, 135), UnitFor(135, 135), UnitFor(15, 30), UnitFor(68, 135)},
                   {{"Sepia", {30, 120 + 256 * 255 + 65536 * 188}}}},
        FilterCase{"SepiaOtherEnds",
                   4,
                   {0.0, kAlmostOne, 0.0, kAlmostOne, 0.0},
                   {{"Sepia", {45, 255 + 256 * 120 + 65536 * 120}}}},
        FilterCase{"BalanceTop", 4, {JustAbove(0.5f), kAlmostOne}, {{"Balance", {0xFFFFFF}}}},
        FilterCase{"BalanceZero", 4, {JustAbove(0.5f), 0.0}, {{"Balance", {0}}}},
        FilterCase{"FlipHorizontal", 5, {AtEdge(0.5f)}, {{"FlipHorizontal", {}}}},
        FilterCase{"FlipVertical", 5, {JustAbove(0.5f)}, {{"FlipVertical", {}}}},
        FilterCase{"HueLow", 6, {0.0}, {{"hue", {1}}}},
        FilterCase{"HueHigh", 6, {kAlmostOne}, {{"hue", {256}}}},
        FilterCase{"SaturationHigh", 7, {0.0}, {{"saturation", {50}}}},
        FilterCase{"SaturationLow", 7, {kAlmostOne}, {{"saturation", {-50}}}},
        // The choice is drawn before the value.
        FilterCase{"BlurChoiceThenValue", 8, {AtEdge(0.5f), kAlmostOne}, {{"Blur", {100}}}},
        FilterCase{"GaussianBlurChoiceThenValue", 8, {JustAbove(0.5f), 0.0}, {{"GaussianBlur", {0}}}},
        FilterCase{"BrightnessHighThenLog", 9, {0.0}, {{"brightness", {100}}, {"LogCorrection", {}}}},
        FilterCase{"BrightnessLowThenLog", 9, {kAlmostOne}, {{"brightness", {-100}}, {"LogCorrection", {}}}},
        // The gamma offset is added in double precision: 0.5 + 0.3, not 0.8f.
        FilterCase{"ContrastThenGamma", 10, {0.0, 0.5}, {{"contrast", {100}}, {"Gamma", {0.5 + 0.3}}}},
        FilterCase{"ContrastLowGammaLow", 10, {kAlmostOne, 0.0}, {{"contrast", {-100}}, {"Gamma", {0.3}}}},
        FilterCase{"LightnessHigh", 11, {0.0}, {{"lightness", {20}}}},
        FilterCase{"LightnessLow", 11, {kAlmostOne}, {{"lightness", {-20}}}},
        FilterCase{"SharpenZero", 12, {0.0}, {{"Sharpen", {0}}}},
        FilterCase{"SharpenTop", 12, {kAlmostOne}, {{"Sharpen", {255}}}},
        FilterCase{"EdgeLight", 13, {AtEdge(kP), AtEdge(0.45f)}, {{"EdgeDetectLight", {}}}},
        FilterCase{"EdgeMediumAbove", 13, {AtEdge(kP), JustAbove(0.45f)}, {{"EdgeDetectMedium", {}}}},
        FilterCase{"EdgeMediumAtEdge", 13, {AtEdge(kP), AtEdge(0.8f)}, {{"EdgeDetectMedium", {}}}},
        FilterCase{"EdgeHeavy", 13, {AtEdge(kP), JustAbove(0.8f)}, {{"EdgeDetectHeavy", {}}}},
        FilterCase{"EdgeSecondTestFails", 13, {JustAbove(kP)}, {}},
        FilterCase{"Emboss", 14, {AtEdge(kP), AtEdge(0.75f)}, {{"Emboss", {}}}},
        FilterCase{"EmbossMore", 14, {AtEdge(kP), JustAbove(0.75f)}, {{"EmbossMore", {}}}},
        FilterCase{"EmbossSecondTestFails", 14, {JustAbove(kP)}, {}},
        FilterCase{"GammaNegative", 15, {AtEdge(kP), 0.25}, {{"Gamma", {-0.25}}}},
        // In single precision a draw just below 1 must stay below 1: the
        // gamma is the float next to -1, never -1 itself.
        FilterCase{"GammaNearOne",
                   15,
                   {AtEdge(kP), kAlmostOne},
                   {{"Gamma", {-static_cast<double>(std::nextafter(1.0f, 0.0f))}}}},
        FilterCase{"GammaSecondTestFails", 15, {JustAbove(kP)}, {}}),
    [](const auto& info) { return std::string(info.param.name); });

// --- Reachable cases and argument ranges over many chains ------------------

// Names the case each applied filter came from; the pairs of cases 9 and 10
// must stay together.
std::vector<int> CasesOf(const std::vector<Call>& calls) {
  static const std::map<std::string, int> kCaseOf = {{"EnhanceDetail", 1},
                                                     {"EnhanceFocus", 1},
                                                     {"FocusRestoration", 1},
                                                     {"Equalize", 2},
                                                     {"EqualizeOnLuminance", 2},
                                                     {"Negative", 3},
                                                     {"Sepia", 4},
                                                     {"Balance", 4},
                                                     {"FlipHorizontal", 5},
                                                     {"FlipVertical", 5},
                                                     {"hue", 6},
                                                     {"saturation", 7},
                                                     {"Blur", 8},
                                                     {"GaussianBlur", 8},
                                                     {"lightness", 11},
                                                     {"Sharpen", 12},
                                                     {"EdgeDetectLight", 13},
                                                     {"EdgeDetectMedium", 13},
                                                     {"EdgeDetectHeavy", 13},
                                                     {"Emboss", 14},
                                                     {"EmbossMore", 14}};
  std::vector<int> cases;
  for (std::size_t i = 0; i < calls.size(); ++i) {
    const Call& c = calls[i];
    const bool hasNext = i + 1 < calls.size();
    if (c.name == "brightness") {
      EXPECT_TRUE(hasNext && calls[i + 1].name == "LogCorrection") << "brightness without LogCorrection";
      cases.push_back(9);
      ++i;
    } else if (c.name == "contrast") {
      EXPECT_TRUE(hasNext && calls[i + 1].name == "Gamma") << "contrast without Gamma";
      if (hasNext) {
        const double g = calls[i + 1].args[0];
        EXPECT_TRUE(g >= 0.3 && g < 1.3) << "case 10 gamma " << g;
      }
      cases.push_back(10);
      ++i;
    } else if (c.name == "Gamma") {
      EXPECT_TRUE(c.args[0] > -1.0 && c.args[0] <= 0.0) << "case 15 gamma " << c.args[0];
      cases.push_back(15);
    } else {
      const auto it = kCaseOf.find(c.name);
      EXPECT_NE(it, kCaseOf.end()) << "unexpected call " << c.name;
      if (it != kCaseOf.end()) cases.push_back(it->second);
    }
  }
  return cases;
}

::testing::AssertionResult ArgumentsInRange(const Call& c) {
  const auto within = [&](double lo, double hi) -> ::testing::AssertionResult {
    for (const double a : c.args) {
      if (a < lo || a > hi)
        return ::testing::AssertionFailure() << ::testing::PrintToString(c) << " out of range";
    }
    return ::testing::AssertionSuccess();
  };
  if (c.name == "hue") return within(1, 256);
  if (c.name == "saturation") return within(-50, 50);
  if (c.name == "Blur" || c.name == "GaussianBlur") return within(0, 100);
  if (c.name == "brightness" || c.name == "contrast") return within(-100, 100);
  if (c.name == "lightness") return within(-20, 20);
  if (c.name == "Sharpen") return within(0, 255);
  if (c.name == "Balance") return within(0, 0xFFFFFF);
  if (c.name == "Sepia") {
    const auto colour = static_cast<std::int32_t>(c.args[1]);
    const int channels[] = {colour & 0xFF, (colour >> 8) & 0xFF, (colour >> 16) & 0xFF};
    const bool ok = c.args[0] >= 15 && c.args[0] <= 45 && colour >= 0 && colour <= 0xFFFFFF &&
                    channels[0] >= 120 && channels[1] >= 120 && channels[2] >= 120;
    if (!ok) return ::testing::AssertionFailure() << ::testing::PrintToString(c) << " out of range";
  }
  return ::testing::AssertionSuccess();
}

class ReachableCasesTest : public ::testing::TestWithParam<bool> {};

TEST_P(ReachableCasesTest, EveryTryAppliesACaseOfItsModeWithArgumentsInRange) {
  const bool paletteMode = GetParam();
  const int R = Tries(paletteMode);
  constexpr int kChains = 300;
  Random rng(20240611);
  std::set<int> seen;
  for (int chain = 0; chain < kChains; ++chain) {
    RecordingPicture picture(8, 8);
    ApplyRandomFilters(1.0f, paletteMode, picture, rng);  // every try and second test passes
    for (const Call& c : picture.calls) ASSERT_TRUE(ArgumentsInRange(c));
    const std::vector<int> cases = CasesOf(picture.calls);
    ASSERT_EQ(cases.size(), static_cast<std::size_t>(R)) << "chain " << chain;
    seen.insert(cases.begin(), cases.end());
  }
  std::set<int> all;
  for (int k = 1; k <= R; ++k) all.insert(k);
  EXPECT_EQ(seen, all);
}

INSTANTIATE_TEST_SUITE_P(Modes, ReachableCasesTest, ::testing::Bool(),
                         [](const auto& info) { return ModeName(info.param); });

}  // namespace
}  // namespace pictovance
