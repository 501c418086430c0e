#include "generator/block_painter.h"

#include <gtest/gtest.h>

namespace pictovance {
namespace {

constexpr double kNo = 0.99;   // fails every chance the painter tests
constexpr double kYes = 0.01;  // passes them
constexpr double kWidest = 0.999;  // RandomInt(3) = 3: pen width 4

// A source whose every pixel names its own position.
Image PositionSource(int w, int h) {
  Image image;
  image.CreateBitmap(w, h, 0);
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x) {
      image.SetLineColor(x | (y << 12));
      image.DrawPoint(x, y);
    }
  }
  return image;
}

// PaintBlock on canvas, painted as the runs come.
void PaintBlockOn(Image& canvas, const BlockRect& block, std::int32_t background, const PenSettings& pen,
                  Random& rng) {
  DotPainter painter(canvas, 1);
  PaintBlock(block, background, pen, painter, rng);
  painter.Finish();
}

// The draws of one block: its two mirror flags, then per column two
// re-draw chances (failing here) and one pen-width draw per dot (width 1).
std::vector<double> BlockDraws(bool mirrorX, bool mirrorY, int columns, int rows) {
  std::vector<double> draws = {mirrorX ? kYes : kNo, mirrorY ? kYes : kNo};
  for (int c = 0; c < columns; ++c) {
    draws.push_back(kNo);
    draws.push_back(kNo);
    for (int r = 0; r < rows; ++r) draws.push_back(0.0);
  }
  return draws;
}

struct MirrorCase {
  bool mirrorX;
  bool mirrorY;
};
std::ostream& operator<<(std::ostream& out, const MirrorCase& c) {
  return out << (c.mirrorX ? "mirrored" : "upright") << " x, " << (c.mirrorY ? "mirrored" : "upright") << " y";
}

class PaintBlockMirrorTest : public testing::TestWithParam<MirrorCase> {};

// The dot lands at the block's own place; only the colour read is mirrored.
TEST_P(PaintBlockMirrorTest, ReadsTheSourceAtTheMirroredPosition) {
  const MirrorCase c = GetParam();
  constexpr int W = 12, H = 9;
  std::vector<Image> sources;
  sources.push_back(PositionSource(W, H));
  sources.push_back(PositionSource(W, H));
  PaletteSlots palette{};
  const ColourSources colours{false, palette, sources};
  Image canvas;
  canvas.CreateBitmap(W, H, 0x00ABCDEF);
  Random rng;
  const int x1 = 2, y1 = 1, x2 = 6, y2 = 4;
  rng.Script(BlockDraws(c.mirrorX, c.mirrorY, x2 - x1 + 1, y2 - y1 + 1));
  PaintBlockOn(canvas, {x1, y1, x2, y2}, 1, PenSettings{colours, 2, W - 1, H - 1, false}, rng);
  EXPECT_EQ(rng.ScriptLeft(), 0u) << "the block took another number of draws";
  for (int y = 0; y < H; ++y) {
    for (int x = 0; x < W; ++x) {
      const bool inside = x >= x1 && x <= x2 && y >= y1 && y <= y2;
      const int sx = c.mirrorX ? W - 1 - x : x;
      const int sy = c.mirrorY ? H - 1 - y : y;
      const Colour expected = inside ? (sx | (sy << 12)) : 0x00ABCDEF;
      ASSERT_EQ(canvas.GetColorAt(x, y), expected) << "pixel (" << x << ", " << y << ")";
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Flags, PaintBlockMirrorTest,
                         testing::Values(MirrorCase{false, false}, MirrorCase{true, false}, MirrorCase{false, true},
                                         MirrorCase{true, true}));

TEST(PaintBlockTest, TheBackgroundSourceIsPaintedOnlyInMirroredColumns) {
  // Palette mode, current = background: a column is painted (in the
  // background colour) only while a mirror flag is set.
  PaletteSlots palette{};
  palette[1] = 0x000011;
  palette[2] = 0x000022;
  const std::vector<Image> none;
  const ColourSources colours{true, palette, none};
  Image canvas;
  canvas.CreateBitmap(6, 3, 0x777777);
  Random rng;
  // Flags off; column 0 and 1: nothing; before column 2 MirrorX comes up
  // (chance, then a true flag); columns 2..3 painted; MirrorX goes off again.
  rng.Script({kNo, kNo,                                  // the block's flags
              kNo, kNo,                                  // column 0: skipped
              kNo, kNo,                                  // column 1: skipped
              kYes, kYes, kNo, 0.0, 0.0, 0.0,            // column 2: MirrorX on, three dots
              kNo, kNo, 0.0, 0.0, 0.0,                   // column 3: painted
              kYes, kNo, kNo});                          // column 4: MirrorX off
  PaintBlockOn(canvas, {0, 0, 4, 2}, 1, PenSettings{colours, 1, 5, 2, false}, rng);
  EXPECT_EQ(rng.ScriptLeft(), 0u);
  for (int x = 0; x < 6; ++x) {
    const Colour expected = (x == 2 || x == 3) ? 0x000011 : 0x777777;
    for (int y = 0; y < 3; ++y) EXPECT_EQ(canvas.GetColorAt(x, y), expected) << x << "," << y;
  }
}

TEST(PaintBlockTest, ThinAndEmptyBlocks) {
  PaletteSlots palette{};
  palette[2] = 0x0000FF;
  const std::vector<Image> none;
  const ColourSources colours{true, palette, none};
  struct Case {
    int x1, y1, x2, y2, painted;
  };
  for (const Case c : {Case{3, 0, 3, 4, 5}, Case{0, 2, 5, 2, 6}, Case{4, 0, 3, 4, 0}, Case{0, 3, 5, 2, 0},
                       Case{2, 2, 2, 2, 1}}) {
    SCOPED_TRACE(testing::Message() << c.x1 << "," << c.y1 << " to " << c.x2 << "," << c.y2);
    Image canvas;
    canvas.CreateBitmap(6, 5, 0);
    Random rng(1);
    PaintBlockOn(canvas, {c.x1, c.y1, c.x2, c.y2}, 1, PenSettings{colours, 2, 5, 4, false}, rng);
    int painted = 0;
    for (int y = 0; y < 5; ++y)
      for (int x = 0; x < 6; ++x) painted += canvas.GetColorAt(x, y) == 0x0000FF ? 1 : 0;
    EXPECT_EQ(painted, c.painted);
  }
}

TEST(PaintBlockTest, EveryDotTakesAPenWidthDrawWhetherOrNotThePenIsThick) {
  PaletteSlots palette{};
  palette[2] = 0x0000FF;
  const std::vector<Image> none;
  const ColourSources colours{true, palette, none};
  for (bool thick : {false, true}) {
    SCOPED_TRACE(thick);
    Image canvas;
    canvas.CreateBitmap(10, 10, 0);
    Random rng;
    // 2 flags + 2 columns x (2 chances + 3 dots); the width draws ask for 4.
    rng.Script({kNo, kNo, kNo, kNo, kWidest, kWidest, kWidest, kNo, kNo, kWidest, kWidest,
                kWidest});
    PaintBlockOn(canvas, {4, 4, 5, 6}, 1, PenSettings{colours, 2, 9, 9, thick}, rng);
    EXPECT_EQ(rng.ScriptLeft(), 0u);
    EXPECT_EQ(canvas.LineWidth(), thick ? 4 : 1);
    // Width 4 dots spill around the block; width 1 dots do not.
    EXPECT_EQ(canvas.GetColorAt(3, 3), thick ? 0x0000FF : 0);
    EXPECT_EQ(canvas.GetColorAt(7, 8), thick ? 0x0000FF : 0);
    EXPECT_EQ(canvas.GetColorAt(5, 6), 0x0000FF);
  }
}
// A palette column is painted as the union of its dots. Over many seeds it
// takes the same draws and leaves the same pixels and pen as the plain
// routine: colour, width draw, dot, one after the other.
TEST(PaintDotsTest, PaletteColumnsMatchTheDotByDotRoutine) {
  PaletteSlots palette{};
  palette[1] = 0x123456;
  const std::vector<Image> none;
  const ColourSources colours{true, palette, none};
  Random dice(2024);
  for (int trial = 0; trial < 2000; ++trial) {
    const int w = dice.RandomInt(11) + 1, h = dice.RandomInt(700) + 1;
    const int i = dice.RandomInt(w + 3) - 2;
    const int top = dice.RandomInt(h + 3) - 2, bottom = dice.RandomInt(h + 3) - 2;
    const bool thickPen = dice.Flag(0.7);
    SCOPED_TRACE(testing::Message() << w << "x" << h << " column " << i << " rows " << top << ".." << bottom
                                    << (thickPen ? " thick" : " thin"));
    const Image background = PositionSource(w, h);
    Image fast, plain;
    fast.AssignPicture(background.GetPicture());
    plain.AssignPicture(background.GetPicture());
    Random fastRng(static_cast<std::uint64_t>(trial)), plainRng(static_cast<std::uint64_t>(trial));
    if (trial % 7 == 0) {  // a scripted start is replayed first
      fastRng.Script({0.9, 0.1, 0.6});
      plainRng.Script({0.9, 0.1, 0.6});
    }
    PaintDots(fast, i, top, bottom, PenSettings{colours, 1, w - 1, h - 1, thickPen}, fastRng);
    for (int j = top; j <= bottom; ++j) {
      plain.SetLineColor(palette[1]);
      const int width = plainRng.RandomInt(3) + 1;
      plain.SetLineWidth(thickPen ? width : 1);
      plain.DrawPoint(i, j);
    }
    ASSERT_EQ(fastRng.DrawCount(), plainRng.DrawCount());
    ASSERT_EQ(fastRng.RandomUnit(), plainRng.RandomUnit());
    ASSERT_EQ(fast.LineWidth(), plain.LineWidth());
    ASSERT_EQ(fast.LineColor(), plain.LineColor());
    for (int y = 0; y < h; ++y) {
      for (int x = 0; x < w; ++x) ASSERT_EQ(fast.GetColorAt(x, y), plain.GetColorAt(x, y)) << x << ", " << y;
    }
  }
}

// Painting in bands of rows on several threads, round after round while
// the next round's runs come, leaves the pixels, the pen and the generator
// exactly as painting run after run does: over many random canvases, runs
// reaching past every edge, thick and thin pens, both colour modes,
// mirrored reads, band counts up to more than the rows, tiles of one row
// to more than a band, and rounds of a few dots to many.
TEST(DotPainterTest, BandsPaintWhatRunAfterRunPaints) {
  PaletteSlots palette{};
  for (std::size_t k = 1; k < palette.size(); ++k) palette[k] = static_cast<Colour>(k * 0x10305);
  Random dice(77);
  for (int trial = 0; trial < 300; ++trial) {
    const int w = dice.RandomInt(30) + 1, h = dice.RandomInt(120) + 1;
    const bool paletteMode = dice.Flag(0.5);
    const int bands = dice.RandomInt(8) + 2;
    const int tileRows = dice.RandomInt(12) + 1;
    SCOPED_TRACE(testing::Message() << "trial " << trial << ": " << w << "x" << h << ", " << bands << " bands, " << tileRows << "-row tiles, "
                                    << (paletteMode ? "palette" : "sources"));
    std::vector<Image> sources;
    sources.push_back(PositionSource(w, h));
    sources.push_back(PositionSource(w, h));
    const ColourSources colours{paletteMode, palette, sources};
    const Image background = PositionSource(w, h);
    Image banded, plain;
    banded.AssignPicture(background.GetPicture());
    plain.AssignPicture(background.GetPicture());
    Random bandedRng(static_cast<std::uint64_t>(trial)), plainRng(static_cast<std::uint64_t>(trial));
    DotPainter painter(banded, bands, dice.RandomInt(60) + 1, tileRows);  // rounds of a few runs
    const int runs = dice.RandomInt(40);
    for (int r = 0; r < runs; ++r) {
      const int i = dice.RandomInt(w + 3) - 2;
      const int top = dice.RandomInt(h + 5) - 3, bottom = dice.RandomInt(h + 5) - 3;
      PenSettings pen{colours, dice.RandomInt(1) + 1, w - 1, h - 1, dice.Flag(0.6), dice.Flag(0.5), dice.Flag(0.5)};
      painter.Paint(i, top, bottom, pen, bandedRng);
      PaintDots(plain, i, top, bottom, pen, plainRng);
    }
    painter.Finish();
    ASSERT_EQ(bandedRng.DrawCount(), plainRng.DrawCount());
    ASSERT_EQ(bandedRng.RandomUnit(), plainRng.RandomUnit());
    ASSERT_EQ(banded.LineColor(), plain.LineColor());
    ASSERT_EQ(banded.LineWidth(), plain.LineWidth());
    for (int y = 0; y < h; ++y) {
      for (int x = 0; x < w; ++x) ASSERT_EQ(banded.GetColorAt(x, y), plain.GetColorAt(x, y)) << x << ", " << y;
    }
  }
}

}  // namespace
}  // namespace pictovance
