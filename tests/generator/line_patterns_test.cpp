#include "generator/line_patterns.h"

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "imaging/image.h"
#include "tests/generator/recording_picture.h"

namespace pictovance {
namespace {

using namespace testing_support;

constexpr float kP = 0.08f;
constexpr Colour kPenColour = 0x123456;
const double kFailOverlay = JustAbove(kP);
const double kRecolourClear = JustAbove(0.25);

enum Overlay { kHorizontal = 0, kVertical = 1, kScattered = 2, kGrid = 3 };
const char* const kOverlayNames[] = {"horizontal", "vertical", "scattered", "grid"};

// Grid positions 0, step, 2 step, ... up to and including end.
std::vector<int> Positions(int end, int step) {
  std::vector<int> out;
  for (int v = 0; v <= end; v += step) out.push_back(v);
  return out;
}

TEST(LinePatternsTest, NothingDrawnAndPenUntouchedWhenEveryOverlayFails) {
  ScriptedRandom scripted({kFailOverlay, kFailOverlay, kFailOverlay, 0.999});
  RecordingPicture picture(800, 400);
  DrawLinePatterns(kP, picture, scripted.rng);
  EXPECT_TRUE(picture.calls.empty()) << "first call: " << ::testing::PrintToString(picture.calls.front());
  EXPECT_EQ(picture.LineColor(), -1);
  EXPECT_EQ(picture.LineWidth(), -1);
  EXPECT_TRUE(scripted.UsedExactlyTheScript());
}

TEST(LinePatternsTest, SpacingTwoOnHeight400Gives201HorizontalLinesAcrossTheWidth) {
  // Width 1 and random term 0: lines at y = 0, 2, ..., 400; the flag is clear,
  // so no draw goes to recolouring.
  ScriptedRandom scripted({kP, UnitFor(kPenColour, 0xFFFFFF), UnitFor(0, 1), kRecolourClear, UnitFor(0, 3),
                           kFailOverlay, kFailOverlay, kFailOverlay});
  RecordingPicture picture(800, 400);
  DrawLinePatterns(kP, picture, scripted.rng);

  ASSERT_EQ(picture.lines.size(), 201u);
  for (std::size_t i = 0; i < picture.lines.size(); ++i) {
    SCOPED_TRACE("line " + std::to_string(i));
    const Mark& line = picture.lines[i];
    EXPECT_EQ(line.x1, 0);
    EXPECT_EQ(line.x2, 800);
    EXPECT_EQ(line.y1, static_cast<int>(2 * i));
    EXPECT_EQ(line.y2, line.y1);
    EXPECT_EQ(line.colour, kPenColour);
    EXPECT_EQ(line.width, 1);
  }
  EXPECT_TRUE(picture.dots.empty());
  EXPECT_TRUE(scripted.UsedExactlyTheScript());
}

// One overlay passes its test (at u = p exactly, the edge of the test), the
// others fail; pen width 1 or 2; the random spacing terms chosen so that Sy
// and Sx differ and a swap would show.
class OverlayGeometryTest : public ::testing::TestWithParam<std::tuple<Overlay, int, int>> {};

TEST_P(OverlayGeometryTest, PenSetUpSpacingAndLoopsReachTheEdges) {
  const auto [overlay, width, term] = GetParam();
  constexpr int W = 12;  // multiples of 2, 3 and 6 land exactly on the edges
  constexpr int H = 6;
  const int S = width + 1 + term;         // S, or Sy for the dot overlays
  const int Sx = width + 1 + (3 - term);  // the dot overlays only
  const std::vector<int> rows = Positions(H, S);
  const std::vector<int> cols = Positions(W, overlay == kVertical ? S : Sx);

  std::vector<double> script;
  AppendRepeated(script, overlay, kFailOverlay);
  Append(script,
         {kP, UnitFor(kPenColour, 0xFFFFFF), UnitFor(width - 1, 1), kRecolourClear, UnitFor(term, 3)});
  if (overlay == kScattered || overlay == kGrid) Append(script, {UnitFor(3 - term, 3)});
  // Scattered dots: every dot draws its width, then its offset 0..Sy.
  std::vector<int> dotWidths;
  std::vector<int> offsets;
  if (overlay == kScattered) {
    for (std::size_t k = 0; k < cols.size() * rows.size(); ++k) {
      dotWidths.push_back(1 + static_cast<int>(k % 2));
      offsets.push_back(static_cast<int>((k * 5) % (S + 1)));
      Append(script, {UnitFor(dotWidths.back() - 1, 1), UnitFor(offsets.back(), S)});
    }
  }
  AppendRepeated(script, 3 - overlay, kFailOverlay);
  ScriptedRandom scripted(script);
  RecordingPicture picture(W, H);

  DrawLinePatterns(kP, picture, scripted.rng);

  ASSERT_GE(picture.calls.size(), 2u);
  EXPECT_EQ(picture.calls[0], (Call{"SetLineColor", {double(kPenColour)}}));
  EXPECT_EQ(picture.calls[1], (Call{"SetLineWidth", {double(width)}}));
  switch (overlay) {
    case kHorizontal:
      ASSERT_EQ(picture.lines.size(), rows.size());
      for (std::size_t i = 0; i < rows.size(); ++i) {
        SCOPED_TRACE("line " + std::to_string(i));
        const Mark& l = picture.lines[i];
        EXPECT_EQ((std::vector<int>{l.x1, l.y1, l.x2, l.y2}), (std::vector<int>{0, rows[i], W, rows[i]}));
        EXPECT_EQ(l.width, width);
      }
      EXPECT_TRUE(picture.dots.empty());
      break;
    case kVertical:
      ASSERT_EQ(picture.lines.size(), cols.size());
      for (std::size_t i = 0; i < cols.size(); ++i) {
        SCOPED_TRACE("line " + std::to_string(i));
        const Mark& l = picture.lines[i];
        EXPECT_EQ((std::vector<int>{l.x1, l.y1, l.x2, l.y2}), (std::vector<int>{cols[i], 0, cols[i], H}));
        EXPECT_EQ(l.width, width);
      }
      EXPECT_TRUE(picture.dots.empty());
      break;
    case kScattered:
    case kGrid: {
      ASSERT_EQ(picture.dots.size(), cols.size() * rows.size());
      std::size_t k = 0;
      for (const int x : cols) {  // column by column
        for (const int y : rows) {
          SCOPED_TRACE("dot " + std::to_string(k));
          const Mark& d = picture.dots[k];
          EXPECT_EQ(d.x1, x);
          if (overlay == kScattered) {
            EXPECT_EQ(d.y1, y + offsets[k]);
            EXPECT_EQ(d.width, dotWidths[k]);
          } else {
            EXPECT_EQ(d.y1, y);
            EXPECT_EQ(d.width, width);
          }
          ++k;
        }
      }
      EXPECT_TRUE(picture.lines.empty());
      break;
    }
  }
  for (const Mark& m : picture.lines) EXPECT_EQ(m.colour, kPenColour);
  for (const Mark& m : picture.dots) EXPECT_EQ(m.colour, kPenColour);
  EXPECT_TRUE(scripted.UsedExactlyTheScript());
}

INSTANTIATE_TEST_SUITE_P(AllOverlays, OverlayGeometryTest,
                         ::testing::Combine(::testing::Values(kHorizontal, kVertical, kScattered, kGrid),
                                            ::testing::Values(1, 2), ::testing::Values(0, 3)),
                         [](const auto& info) {
                           return std::string(kOverlayNames[std::get<0>(info.param)]) + "_width" +
                                  std::to_string(std::get<1>(info.param)) + "_term" +
                                  std::to_string(std::get<2>(info.param));
                         });

// The recolour rule on three horizontal lines (height 4, spacing 2).
struct RecolourCase {
  const char* name;
  double flagDraw;
  std::vector<double> afterLines;  // draws taken after the lines
  std::vector<Colour> lineColours;
  Colour finalPen;
};
std::ostream& operator<<(std::ostream& out, const RecolourCase& c) { return out << c.name; }

class RecolourTest : public ::testing::TestWithParam<RecolourCase> {};

constexpr Colour kC1 = 0x000010, kC2 = 0x0000A0, kC3 = 0xABCDEF;

TEST_P(RecolourTest, ColourChangesOnlyAfterALineAndOnlyWhenFlagged) {
  const RecolourCase& c = GetParam();
  std::vector<double> script = {kP, UnitFor(kC1, 0xFFFFFF), UnitFor(0, 1), c.flagDraw, UnitFor(0, 3)};
  script.insert(script.end(), c.afterLines.begin(), c.afterLines.end());
  AppendRepeated(script, 3, kFailOverlay);
  ScriptedRandom scripted(script);
  RecordingPicture picture(10, 4);

  DrawLinePatterns(kP, picture, scripted.rng);

  std::vector<Colour> colours;
  for (const Mark& l : picture.lines) colours.push_back(l.colour);
  EXPECT_EQ(colours, c.lineColours);
  EXPECT_EQ(picture.LineColor(), c.finalPen);
  EXPECT_TRUE(scripted.UsedExactlyTheScript());
}

INSTANTIATE_TEST_SUITE_P(Flags, RecolourTest,
                         ::testing::Values(
                             // Flag clear: no draw after any line, one colour throughout.
                             RecolourCase{"FlagClear", JustAbove(0.25), {}, {kC1, kC1, kC1}, kC1},
                             // Flag set (0.25 exactly): one test per line; 0.05 exactly passes.
                             RecolourCase{"FlagSet",
                                          0.25,
                                          {0.05, UnitFor(kC2, 0xFFFFFF), JustAbove(0.05), 0.0,
                                           UnitFor(kC3, 0xFFFFFF)},
                                          {kC1, kC2, kC2},
                                          kC3},
                             RecolourCase{"FlagSetNeverComesUp", 0.0, {0.9, 0.9, 0.9}, {kC1, kC1, kC1}, kC1}),
                         [](const auto& info) { return std::string(info.param.name); });

// Scattered dots with the generator's own draws: Sy = 5 (width 2, term 2) and
// Sx = 3 (term 0), scripted; the per-dot widths and offsets come from seeds.
class ScatteredDotsTest : public ::testing::TestWithParam<std::uint64_t> {};

TEST_P(ScatteredDotsTest, EveryDotLiesOnItsColumnAndWithinSyBelowItsRow) {
  constexpr int W = 40, H = 40, Sy = 5, Sx = 3;
  Random rng(GetParam());
  rng.Script({kFailOverlay, kFailOverlay, kP, UnitFor(kPenColour, 0xFFFFFF), UnitFor(1, 1), kRecolourClear,
              UnitFor(2, 3), UnitFor(0, 3)});
  RecordingPicture picture(W, H);
  DrawLinePatterns(kP, picture, rng);

  const std::vector<int> cols = Positions(W, Sx), rows = Positions(H, Sy);
  ASSERT_GE(picture.dots.size(), cols.size() * rows.size());  // the grid overlay may follow
  std::set<int> offsetsSeen, widthsSeen;
  std::size_t k = 0;
  for (const int x : cols) {
    for (const int y : rows) {
      const Mark& d = picture.dots[k++];
      ASSERT_EQ(d.x1, x) << "dot " << k - 1;
      ASSERT_GE(d.y1, y) << "dot " << k - 1 << " lies above its row";
      ASSERT_LE(d.y1, y + Sy) << "dot " << k - 1 << " lies more than Sy below its row";
      offsetsSeen.insert(d.y1 - y);
      widthsSeen.insert(d.width);
    }
  }
  // Both ends of the offset range and both widths occur.
  EXPECT_EQ(offsetsSeen, (std::set<int>{0, 1, 2, 3, 4, 5}));
  EXPECT_EQ(widthsSeen, (std::set<int>{1, 2}));
}

INSTANTIATE_TEST_SUITE_P(Seeds, ScatteredDotsTest, ::testing::Values(1u, 2u, 3u, 42u, 1234567u));

// The image object's calls without its row-by-row lines, so the patterns
// draw each line on its own.
struct LineByLine {
  Image& image;
  int Width() const { return image.Width(); }
  int Height() const { return image.Height(); }
  int LineWidth() const { return image.LineWidth(); }
  void SetLineColor(Colour colour) { image.SetLineColor(colour); }
  void SetLineWidth(int width) { image.SetLineWidth(width); }
  void DrawLine(int x1, int y1, int x2, int y2) { image.DrawLine(x1, y1, x2, y2); }
  void DrawPoint(int x, int y) { image.DrawPoint(x, y); }
};

// On the image object, the overlays leave the pixels, the generator and the
// pen as drawing line by line does: over many seeds and sizes (lines of
// both widths, colours changing along the way), and on a picture big enough
// to be drawn on several threads.
TEST(LinePatternsImageTest, DrawsWhatLineByLineDraws) {
  Random sizes(5);
  for (int trial = 0; trial < 41; ++trial) {
    const bool big = trial == 40;
    const int w = big ? 2100 : sizes.RandomInt(300) + 1, h = big ? 2001 : sizes.RandomInt(40) + 1;
    SCOPED_TRACE(testing::Message() << "trial " << trial << ", " << w << " x " << h);
    Image all, one;
    all.CreateBitmap(w, h, 0x123456);
    one.CreateBitmap(w, h, 0x123456);
    Random allRng(static_cast<std::uint64_t>(trial)), oneRng(static_cast<std::uint64_t>(trial));
    DrawLinePatterns(1.0f, all, allRng);
    LineByLine lineByLine{one};
    DrawLinePatterns(1.0f, lineByLine, oneRng);
    ASSERT_EQ(allRng.DrawCount(), oneRng.DrawCount());
    ASSERT_EQ(all.LineColor(), one.LineColor());
    ASSERT_EQ(all.LineWidth(), one.LineWidth());
    for (int y = 0; y < h; ++y) {
      for (int x = 0; x < w; ++x) ASSERT_EQ(all.GetColorAt(x, y), one.GetColorAt(x, y)) << x << ", " << y;
    }
  }
}

}  // namespace
}  // namespace pictovance
