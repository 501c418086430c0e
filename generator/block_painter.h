// The block painter: one rectangle of the canvas, dot by dot, from one
// colour source, with the block's own mirror flags. The column phase of the
// driver paints its columns with the same dot routine (PaintDots), and both
// paint through one DotPainter, which spreads a big canvas over several
// threads.
//
// Nothing here checks or clips positions: the image object drops dots
// outside the canvas and answers reads outside a source with its
// BackColor.
#pragma once

#include <algorithm>
#include <cstdint>
#include <thread>
#include <vector>

#include "generator/driver_steps.h"
#include "generator/form.h"
#include "generator/random.h"
#include "imaging/image.h"

namespace pictovance {

// Where a run's dots take their colours from.
struct ColourSources {
  bool PaletteMode;                 // colours from Palette, else from Sources
  const PaletteSlots& Palette;
  const std::vector<Image>& Sources;
};

// The pen and colour settings of a run of dots: the colour sources, which
// one (CurrentIndex) and how it is read (the mirror flags, and MaxX and
// MaxY, W - 1 and H - 1, for mirrored reads), and whether the pen is thick.
struct PenSettings {
  const ColourSources& colours;
  std::int32_t CurrentIndex;
  std::int32_t MaxX;
  std::int32_t MaxY;
  bool ThickPen;
  bool MirrorX = false;
  bool MirrorY = false;
};

// Paints the dots (i, top) .. (i, bottom) of one column: each dot takes its
// colour from source CurrentIndex (read at the mirrored position in source
// mode), sets the pen and draws. One RandomInt(3) draw per dot for the pen
// width, taken whether or not ThickPen is set.
inline void PaintDots(Image& canvas, int i, int top, int bottom, const PenSettings& pen, Random& rng) {
  if (pen.colours.PaletteMode) {
    // Every dot of the column has the same colour, so the column is painted
    // as the union of its dots, after the same draws.
    if (top > bottom) return;
    canvas.SetLineColor(pen.colours.Palette[static_cast<std::size_t>(pen.CurrentIndex)]);
    const std::int64_t count = std::int64_t{bottom} - top + 1;
    if (!pen.ThickPen) {
      rng.Skip(count);
      canvas.SetLineWidth(1);
      canvas.DrawLine(i, top, i, bottom);
      return;
    }
    constexpr int kChunk = 512;
    std::uint8_t widths[kChunk];
    for (std::int64_t done = 0; done < count; done += kChunk) {
      const int n = static_cast<int>(std::min<std::int64_t>(kChunk, count - done));
      std::uint8_t* out = widths;
      rng.RandomInt3Run(n, [&out](std::int32_t w) { *out++ = static_cast<std::uint8_t>(w + 1); });
      canvas.DrawDots(i, static_cast<int>(top + done), widths, n);
    }
    canvas.SetLineWidth(widths[(count - 1) % kChunk]);
    return;
  }
  const Image& source = pen.colours.Sources[static_cast<std::size_t>(pen.CurrentIndex - 1)];
  const int x = Mirrored(i, pen.MaxX, pen.MirrorX);
  for (int j = top; j <= bottom; ++j) {
    canvas.SetLineColor(source.GetColorAt(x, Mirrored(j, pen.MaxY, pen.MirrorY)));
    const int width = rng.RandomInt(3) + 1;
    canvas.SetLineWidth(pen.ThickPen ? width : 1);
    canvas.DrawPoint(i, j);
  }
}

// Paints the runs of dots of one picture (its columns, then its blocks) in
// the order given, with exactly the pixels, draws and final pen of
// PaintDots called run after run.
//
// A small canvas is painted by PaintDots as the runs come. A large one is
// cut into bands of rows, one thread each (one band when the picture has
// one thread, imaging/threads.h). A run's draws are then skipped when it
// comes, so the generator goes on at once as if it had been painted, and
// the generator as it was is kept with the run. Kept runs are painted in
// rounds while the caller goes on with the next: each band first takes the
// pen widths of the dots that reach into it from the kept generators, then
// paints its rows in tiles of a few rows, every run of the round on one
// tile before the next tile, so the rows being written stay in the
// processor's nearest cache instead of each run sweeping the whole height.
class DotPainter {
 public:
  // bands 0: one band per picture thread when the canvas has at least
  // kBandedPixels pixels, else PaintDots at once; 1: PaintDots at once. A
  // round holds about dotsPerRound dots and a tile tileRows rows (tests
  // make both small).
  explicit DotPainter(Image& canvas, int bands = 0, std::int64_t dotsPerRound = kDotsPerRound,
                      int tileRows = kTileRows);
  ~DotPainter();
  DotPainter(const DotPainter&) = delete;
  DotPainter& operator=(const DotPainter&) = delete;

  static constexpr std::int64_t kBandedPixels = std::int64_t{1} << 22;
  static constexpr std::int64_t kDotsPerRound = std::int64_t{1} << 21;
  static constexpr int kTileRows = 128;

  void Paint(int i, int top, int bottom, const PenSettings& pen, Random& rng);
  // Paints the runs still kept, waits for the bands, and leaves the
  // canvas's pen as the last run set it. Call it before the canvas is used
  // in any other way.
  void Finish();

 private:
  struct Run {
    int i;
    int top;
    int bottom;
    PenSettings pen;
    Random draws;  // the generator before the run's first draw
  };
  // The rows of a run of the round in work that reach into a band, and
  // where their pen widths start in the band's widths.
  struct Reach {
    int first;
    int last;
    std::size_t widths;
  };
  struct Band {
    int top;
    int bottom;
    std::vector<Image> tiles;
    std::vector<int> tileTops;  // one more than the tiles: the last is the band's bottom
    std::vector<Reach> reach;   // one per run of the round in work
    std::vector<std::uint8_t> widths;
  };
  // Waits for the round in work, then starts the bands on the kept runs.
  void StartRound();
  void WaitForRound();
  void PaintBand(Band& band) const;
  static void PaintInTile(const Run& run, Image& tile, int tileTop, int first, int last,
                          const std::uint8_t* widths);

  Image& m_canvas;
  std::int64_t m_dotsPerRound;
  std::vector<Band> m_bands;
  std::vector<Run> m_kept;
  std::vector<Run> m_inWork;  // the round the bands paint
  std::vector<std::jthread> m_workers;
  std::int64_t m_keptDots = 0;
  bool m_penSet = false;
  Colour m_penColour = 0;
  int m_penWidth = 1;
};

// Paints columns block.x1..block.x2, rows block.y1..block.y2 (inclusive)
// from colour source pen.CurrentIndex with pen.ThickPen. The block's own
// mirror flags are drawn here (those in pen are not used); a column is
// skipped while the source is BackgroundIndex and neither flag is set.
void PaintBlock(const BlockRect& block, std::int32_t BackgroundIndex, const PenSettings& pen,
                DotPainter& painter, Random& rng);

}  // namespace pictovance
