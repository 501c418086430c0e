#include "generator/driver.h"

#include <gtest/gtest.h>

#include <set>

#include "generator/driver_steps.h"
#include "tests/generator/fake_form.h"

namespace pictovance {
namespace {

using testing_support::FakeForm;

constexpr double kLastUnit = 1.0 - 0x1.0p-53;

// --- The driver's smaller decisions ---------------------------------------------

TEST(DriverStepsTest, SwitchThresholdIsWidthOverFiftyRoundedHalfToEven) {
  const std::pair<int, int> cases[] = {{800, 16}, {25, 0}, {26, 1}, {1, 0},  {50, 1},
                                       {75, 2},   {125, 2}, {175, 4}, {9999, 200}};
  for (auto [W, expected] : cases) {
    SCOPED_TRACE(W);
    EXPECT_EQ(SwitchThresholdFor(W), expected);
  }
}

TEST(DriverStepsTest, AtWidth800ASwitchNeedsSeventeenColumns) {
  SwitchTracker s{SwitchThresholdFor(800)};
  EXPECT_FALSE(s.Offer(0));
  EXPECT_FALSE(s.Offer(16));
  EXPECT_TRUE(s.Offer(17));
  EXPECT_EQ(s.LongestRun, 17);
  EXPECT_FALSE(s.Offer(33));
  EXPECT_TRUE(s.Offer(34));
  EXPECT_TRUE(s.Offer(100));
  EXPECT_EQ(s.SwitchCount, 3);
  EXPECT_EQ(s.LongestRun, 66);
  EXPECT_EQ(s.LastSwitch, 100);
}

TEST(DriverStepsTest, NarrowCanvasesSwitchInAnyLaterColumn) {
  for (int W : {1, 10, 25}) {
    SCOPED_TRACE(W);
    SwitchTracker s{SwitchThresholdFor(W)};
    EXPECT_FALSE(s.Offer(0));  // column 0 is no distance from the start
    EXPECT_TRUE(s.Offer(1));
    EXPECT_FALSE(s.Offer(1));
    EXPECT_TRUE(s.Offer(2));
    EXPECT_EQ(s.LongestRun, 1);
  }
}

struct RowsCase {
  int H;
  std::vector<double> draws;
  int top;
  int bottom;
};

TEST(DriverStepsTest, ColumnsArePaintedWholeOrInPart) {
  const RowsCase cases[] = {
      {400, {0.06}, 0, 399},                    // the 0.05 chance fails: one draw, every row
      {400, {0.05, 0.0, 0.0}, 0, 199},          // a part: top = RandomInt(200), bottom = 199 + RandomInt(200)
      {400, {0.0, kLastUnit, kLastUnit}, 200, 399},
      {400, {0.0, kLastUnit, 0.0}, 200, 199},   // 399 / 2 rounds up, so top can pass bottom
      {1, {0.0, kLastUnit, kLastUnit}, 0, 0},   // H = 1: still the one row
      {4, {0.0, kLastUnit, 0.0}, 2, 1},         // R = 2, T = 1
      {3, {0.0, kLastUnit, kLastUnit}, 1, 2},   // R = T = 1
  };
  for (const RowsCase& c : cases) {
    SCOPED_TRACE(testing::Message() << "H=" << c.H << " first draw " << c.draws[0]);
    Random rng;
    rng.Script(c.draws);
    const RowRange rows = ChooseRows(c.H, rng);
    EXPECT_EQ(rows.top, c.top);
    EXPECT_EQ(rows.bottom, c.bottom);
    EXPECT_EQ(rng.ScriptLeft(), 0u);
  }
}

TEST(DriverStepsTest, BlockCountFollowsTheSwitches) {
  struct Case {
    int switches;
    double u;
    int blocks;
  };
  const Case cases[] = {{0, 0.0, 0},      {0, kLastUnit, 0}, {1, 0.0, 0}, {1, kLastUnit, 0},
                        {2, 0.0, 1},      {2, kLastUnit, 2}, {3, 0.0, 2}, {3, 0.5, 2},
                        {3, kLastUnit, 4}, {4, 0.0, 2},      {4, kLastUnit, 4}, {17, kLastUnit, 16}};
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.switches << " switches, u " << c.u);
    Random rng;
    rng.Script({c.u});
    EXPECT_EQ(BlockCount(c.switches, rng), c.blocks);
    EXPECT_EQ(rng.DrawCount(), 1u);
  }
}

class BlockExtentTest : public testing::TestWithParam<std::tuple<int, int, bool, double>> {};

// Whatever the draws, a block stays inside the canvas and has the widths and
// heights its base and extra sizes allow.
TEST_P(BlockExtentTest, StaysInsideTheCanvas) {
  const auto [W, H, longest, u] = GetParam();
  const int threshold = SwitchThresholdFor(W);
  const int longestRun = longest ? W - 1 : threshold + 1;
  if (longestRun <= threshold) GTEST_SKIP() << "no switch fits in this width";
  Random rng;
  rng.Script(std::vector<double>(8, u));
  const BlockRect r = ChooseBlock(W, H, threshold, longestRun, rng);
  EXPECT_GE(r.x1, 0);
  EXPECT_LE(r.x2, W - 1);
  EXPECT_GE(r.y1, 0);
  EXPECT_LE(r.y2, H - 1);
  EXPECT_GE(r.x2 - r.x1, threshold);
  EXPECT_LE(r.x2 - r.x1, longestRun);
  EXPECT_LE(r.y1, r.y2);
}

INSTANTIATE_TEST_SUITE_P(Grid, BlockExtentTest,
                         testing::Combine(testing::Values(2, 26, 60, 800, 9999), testing::Values(1, 2, 3, 4, 5, 8, 400, 9999),
                                          testing::Bool(), testing::Values(0.0, 0.3, 0.5, 0.77, kLastUnit)));

TEST(DriverStepsTest, WorkedBlockValuesFor800By400) {
  std::set<int> widths, baseHeights, extraHeights;
  int largestX1 = 0;
  Random rng(2024);
  for (int k = 0; k < 20000; ++k) {
    const BlockRect r = ChooseBlock(800, 400, 16, 60, rng);
    largestX1 = std::max(largestX1, r.x1);
    widths.insert(r.x2 - r.x1 + 1);
    ASSERT_LE(r.x2, 799);
    ASSERT_LE(r.y2, 399);
  }
  EXPECT_EQ(largestX1, 739);
  EXPECT_EQ(*widths.begin(), 17);
  EXPECT_EQ(*widths.rbegin(), 61);
  // BH is (H - 1) / 4..8 rounded: 100, 80, 66, 57, 50; XH is 200, 133, 100.
  for (int k = 0; k < 5; ++k) {
    Random r;
    r.Script({(k + 0.5) / 5.0, 0.0, 0.0, 0.0, 0.0, 0.0});
    const BlockRect b = ChooseBlock(800, 400, 16, 60, r);
    baseHeights.insert(b.y2 - b.y1);
  }
  for (int k = 0; k < 3; ++k) {
    Random r;
    r.Script({0.0, (k + 0.5) / 3.0, 0.0, 0.0, 0.0, kLastUnit});
    const BlockRect b = ChooseBlock(800, 400, 16, 60, r);
    extraHeights.insert(b.y2 - b.y1 - 100);
  }
  EXPECT_EQ(baseHeights, (std::set<int>{100, 80, 66, 57, 50}));
  EXPECT_EQ(extraHeights, (std::set<int>{200, 133, 100}));
}

// --- A whole run -----------------------------------------------------------------

std::uint64_t PixelHash(const Image& image) {
  std::uint64_t h = 1469598103934665603ull;
  for (int y = 0; y < image.Height(); ++y) {
    for (int x = 0; x < image.Width(); ++x) {
      h = (h ^ static_cast<std::uint32_t>(image.GetColorAt(x, y))) * 1099511628211ull;
    }
  }
  return h;
}

// Pins the picture seed 1 paints, so a change to painting is noticed.
TEST(GeneratePictureTest, GoldenPictureForSeed1) {
  FormState state;
  FakeForm form;
  Random rng(1);
  GeneratePicture(state, form, rng);
  ASSERT_TRUE(state.Result.has_value());
  EXPECT_EQ(PixelHash(*state.Result), 0x7e8c849b94edb882ull) << std::hex << PixelHash(*state.Result);
}

TEST(GeneratePictureTest, CanvasBelowOnePixelPaintsTheDefaultSize) {
  struct Case {
    int w, h, expectW, expectH;
  };
  for (const Case c : {Case{0, 0, 800, 400}, Case{-3, 0, 800, 400}, Case{0, 50, 800, 50}, Case{1, 1, 1, 1},
                       Case{1, 0, 1, 400}, Case{30, 1, 30, 1}}) {
    SCOPED_TRACE(testing::Message() << c.w << "x" << c.h);
    FormState state;
    state.CanvasW = c.w;
    state.CanvasH = c.h;
    FakeForm form;
    Random rng(c.w * 31 + c.h);
    GeneratePicture(state, form, rng);
    ASSERT_TRUE(state.Result.has_value());
    EXPECT_EQ(state.Result->Width(), c.expectW);
    EXPECT_EQ(state.Result->Height(), c.expectH);
  }
}

TEST(GeneratePictureTest, PaletteModeUsesTwoToEighteenFreshColours) {
  std::set<int> sizes;
  for (std::uint64_t seed = 0; seed < 60; ++seed) {
    FormState state;
    constexpr Colour kUntouched = 0x7F000000;  // no 24-bit colour looks like this
    state.Palette.fill(kUntouched);
    state.CanvasW = 120;
    state.CanvasH = 40;
    FakeForm form;
    Random rng(seed);
    GeneratePicture(state, form, rng);
    int n = 0;
    while (n + 1 <= 32 && state.Palette[n + 1] != kUntouched) ++n;
    ASSERT_GE(n, 2);
    ASSERT_LE(n, 18);
    sizes.insert(n);
    for (int k = n + 1; k <= 32; ++k) ASSERT_EQ(state.Palette[k], kUntouched) << "slot " << k;
    std::set<Colour> palette(state.Palette.begin() + 1, state.Palette.begin() + n + 1);
    for (Colour c : palette) ASSERT_LE(static_cast<std::uint32_t>(c), 0xFFFFFFu);
    const Image& picture = *state.Result;
    for (int y = 0; y < picture.Height(); ++y)
      for (int x = 0; x < picture.Width(); ++x)
        ASSERT_TRUE(palette.count(picture.GetColorAt(x, y))) << "pixel " << x << "," << y << " seed " << seed;
  }
  EXPECT_GT(sizes.size(), 5u);
}

TEST(GeneratePictureTest, ARunEndsIdleWithAnEmptyStatusLineAndAPreview) {
  FormState state;
  FakeForm form;
  Random rng(9);
  GeneratePicture(state, form, rng);
  EXPECT_FALSE(state.Busy);
  EXPECT_EQ(form.status, "");
  ASSERT_FALSE(form.statusHistory.empty());
  const std::string& first = form.statusHistory.front();
  EXPECT_GE(first.size(), 3u);
  EXPECT_LE(first.size(), 5u);
  EXPECT_EQ(first.find_first_not_of('.'), std::string::npos);
  ASSERT_EQ(form.shown.size(), 1u);
  EXPECT_EQ(form.shown[0].Width(), 400);
  EXPECT_EQ(form.shown[0].Height(), 300);
  EXPECT_EQ(state.Result->Width(), 800);  // the result stays full size
}

TEST(GeneratePictureTest, DoesNothingWhileBusy) {
  FormState state;
  state.Busy = true;
  FakeForm form;
  Random rng(3);
  GeneratePicture(state, form, rng);
  EXPECT_TRUE(state.Busy);
  EXPECT_FALSE(state.Result.has_value());
  EXPECT_TRUE(form.statusHistory.empty());
  EXPECT_TRUE(form.shown.empty());
  EXPECT_EQ(rng.DrawCount(), 1u);  // only the pen flag read before the check
}

TEST(GeneratePictureTest, RequestsMadeWhileEventsRunPaintNothing) {
  int nested = 0;
  int nestedSawBusy = 0;
  for (std::uint64_t seed = 0; seed < 20 && nested == 0; ++seed) {
    FormState state;
    state.CanvasW = 800;
    state.CanvasH = 40;
    FakeForm form;
    Random rng(seed);
    form.onProcessEvents = [&] {
      ++nested;
      nestedSawBusy += state.Busy ? 1 : 0;
      const auto shownBefore = form.shown.size();
      GeneratePicture(state, form, rng);
      EXPECT_FALSE(state.Result.has_value());  // the first run has not published yet
      EXPECT_EQ(form.shown.size(), shownBefore);
      EXPECT_TRUE(state.Busy);
    };
    GeneratePicture(state, form, rng);
    EXPECT_FALSE(state.Busy);
    EXPECT_TRUE(state.Result.has_value());
  }
  ASSERT_GT(nested, 0) << "no seed let events run";
  EXPECT_EQ(nestedSawBusy, nested);
}

TEST(GeneratePictureTest, AFinishedPictureClosesTheAboutText) {
  for (bool open : {false, true}) {
    FormState state;
    FakeForm form;
    form.aboutVisible = open;
    Random rng(4);
    GeneratePicture(state, form, rng);
    EXPECT_FALSE(form.aboutVisible);
    EXPECT_EQ(form.toggleAboutCalls, open ? 1 : 0);
  }
}

TEST(GeneratePictureTest, AFailedRunStillEndsIdleWithAnEmptyStatusLine) {
  FormState state;
  FakeForm form;
  form.previewTag = "not a colour";
  Random rng(5);
  EXPECT_THROW(GeneratePicture(state, form, rng), ImageError);
  EXPECT_FALSE(state.Busy);
  EXPECT_EQ(form.status, "");
  EXPECT_TRUE(form.shown.empty());
  // The next run works again.
  form.previewTag = "0";
  GeneratePicture(state, form, rng);
  EXPECT_EQ(form.shown.size(), 1u);
}

// A picture whose every pixel names its own position.
Image PositionSource(int w, int h, int salt) {
  Image image;
  image.CreateBitmap(w, h, 0);
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x) {
      image.SetLineColor(x | (y << 10) | (salt << 20));
      image.DrawPoint(x, y);
    }
  }
  return image;
}

// Every pixel of a source-mode picture is a source pixel read at a position
// of a dot near it (a dot is at most 4 wide), upright or mirrored.
TEST(GeneratePictureTest, SourceModeCopiesSourcePixelsUprightOrMirrored) {
  constexpr int W = 60, H = 30;
  for (int sources : {1, 2}) {
    for (std::uint64_t seed = 0; seed < 6; ++seed) {
      SCOPED_TRACE(testing::Message() << sources << " sources, seed " << seed);
      FormState state;
      state.CanvasW = W;
      state.CanvasH = H;
      state.FixedSize = true;
      for (int k = 0; k < sources; ++k) state.Sources.push_back(PositionSource(W, H, k + 1));
      state.SourceCount = sources;
      FakeForm form;
      Random rng(seed);
      GeneratePicture(state, form, rng);
      const Image& picture = *state.Result;
      ASSERT_EQ(picture.Width(), W);
      for (int y = 0; y < H; ++y) {
        for (int x = 0; x < W; ++x) {
          const Colour c = picture.GetColorAt(x, y);
          const int sx = c & 1023, sy = (c >> 10) & 1023, salt = c >> 20;
          ASSERT_GE(salt, 1);
          ASSERT_LE(salt, sources);
          const bool nearMirrorX = std::abs((W - 1 - sx) - x) <= 2;
          const bool nearMirrorY = std::abs((H - 1 - sy) - y) <= 2;
          const bool xOk = std::abs(sx - x) <= 2 || nearMirrorX;
          const bool yOk = std::abs(sy - y) <= 2 || nearMirrorY;
          ASSERT_TRUE(xOk && yOk) << "pixel (" << x << ", " << y << ") came from (" << sx << ", " << sy << ")";
        }
      }
      // The sources themselves are untouched.
      for (int k = 0; k < sources; ++k) EXPECT_EQ(state.Sources[k].GetColorAt(5, 7), 5 | (7 << 10) | ((k + 1) << 20));
    }
  }
}

TEST(GeneratePictureTest, OneSourcePaintsOnlyMirroredCopiesOverItself) {
  constexpr int W = 80, H = 20;
  int changed = 0;
  for (std::uint64_t seed = 0; seed < 10; ++seed) {
    FormState state;
    state.CanvasW = W;
    state.CanvasH = H;
    state.Sources.push_back(PositionSource(W, H, 1));
    state.SourceCount = 1;
    FakeForm form;
    Random rng(seed);
    GeneratePicture(state, form, rng);
    for (int y = 0; y < H; ++y) {
      for (int x = 0; x < W; ++x) {
        const Colour c = state.Result->GetColorAt(x, y);
        if (c == state.Sources[0].GetColorAt(x, y)) continue;
        ++changed;
        const int sx = c & 1023, sy = (c >> 10) & 1023;
        // Only columns with a mirror flag set are painted, so a changed pixel
        // was read mirrored on at least one axis.
        ASSERT_TRUE(std::abs((W - 1 - sx) - x) <= 2 || std::abs((H - 1 - sy) - y) <= 2)
            << "pixel (" << x << ", " << y << ") came from (" << sx << ", " << sy << ")";
      }
    }
  }
  EXPECT_GT(changed, 0) << "mirror flags never came up in ten pictures";
}

}  // namespace
}  // namespace pictovance
