#include "generator/block_painter.h"

#include <system_error>

#include "imaging/threads.h"

namespace pictovance {

namespace {

// A round also ends at this many runs, so the kept runs stay small.
constexpr std::size_t kRunsPerRound = 4096;

// A dot at row j of width 1 to 4 covers rows j - 1 .. j + 2 at most.
constexpr int kReachUp = 2;
constexpr int kReachDown = 1;

// How far right of a run the pixels are fetched ahead.
constexpr int kPrefetchColumns = 16;

}  // namespace

DotPainter::DotPainter(Image& canvas, int bands, std::int64_t dotsPerRound, int tileRows)
    : m_canvas(canvas), m_dotsPerRound(std::max<std::int64_t>(dotsPerRound, 1)) {
  bool banded = bands >= 2;
  if (bands == 0) {
    const std::int64_t pixels = std::int64_t{canvas.Width()} * canvas.Height();
    banded = pixels >= kBandedPixels;
    bands = PictureThreads();
  }
  bands = std::clamp(bands, 1, std::max(canvas.Height(), 1));
  if (!banded || canvas.Height() == 0) return;
  tileRows = std::max(tileRows, 1);
  for (int b = 0; b < bands; ++b) {
    Band band;
    band.top = static_cast<int>(std::int64_t{canvas.Height()} * b / bands);
    band.bottom = static_cast<int>(std::int64_t{canvas.Height()} * (b + 1) / bands);
    for (int top = band.top; top < band.bottom; top += tileRows) {
      const int bottom = std::min(band.bottom, top + tileRows);
      band.tiles.push_back(canvas.RowBand(top, bottom));
      band.tileTops.push_back(top);
    }
    band.tileTops.push_back(band.bottom);
    m_bands.push_back(std::move(band));
  }
}

void DotPainter::Paint(int i, int top, int bottom, const PenSettings& pen, Random& rng) {
  if (m_bands.empty()) {
    PaintDots(m_canvas, i, top, bottom, pen, rng);
    return;
  }
  if (top > bottom) return;  // no draws, no dots, no pen
  m_kept.push_back(Run{i, top, bottom, pen, rng});
  const std::int64_t count = std::int64_t{bottom} - top + 1;
  if (pen.colours.PaletteMode && !pen.ThickPen) {
    rng.Skip(count);
    m_penWidth = 1;
  } else {
    rng.Skip(count - 1);
    const int lastWidth = rng.RandomInt(3) + 1;
    m_penWidth = pen.ThickPen ? lastWidth : 1;
  }
  if (pen.colours.PaletteMode) {
    m_penColour = pen.colours.Palette[static_cast<std::size_t>(pen.CurrentIndex)];
  } else {
    const Image& source = pen.colours.Sources[static_cast<std::size_t>(pen.CurrentIndex - 1)];
    m_penColour =
        source.GetColorAt(Mirrored(i, pen.MaxX, pen.MirrorX), Mirrored(bottom, pen.MaxY, pen.MirrorY));
  }
  m_penSet = true;
  m_keptDots += count;
  if (m_keptDots >= m_dotsPerRound || m_kept.size() >= kRunsPerRound) StartRound();
}

DotPainter::~DotPainter() { WaitForRound(); }

void DotPainter::Finish() {
  StartRound();
  WaitForRound();
  if (m_penSet) {
    m_canvas.SetLineColor(m_penColour);
    m_canvas.SetLineWidth(m_penWidth);
  }
}

void DotPainter::WaitForRound() {
  m_workers.clear();  // joins
  m_inWork.clear();
}

void DotPainter::StartRound() {
  WaitForRound();
  if (m_kept.empty()) return;
  std::swap(m_inWork, m_kept);
  m_keptDots = 0;
  for (Band& band : m_bands) {
    try {
      m_workers.emplace_back([this, &band] { PaintBand(band); });
    } catch (const std::system_error&) {
      PaintBand(band);  // no thread to be had: this one paints the band
    }
  }
}

// The round in work on one band: the pen widths of the dots that reach it,
// drawn again from the kept generators, then tile after tile, each with
// every run in turn.
void DotPainter::PaintBand(Band& band) const {
  band.reach.clear();
  std::size_t widths = 0;
  for (const Run& run : m_inWork) {
    const Reach reach{std::max(run.top, band.top - kReachUp), std::min(run.bottom, band.bottom - 1 + kReachDown),
                      widths};
    band.reach.push_back(reach);
    // A thin pen needs no widths.
    if (reach.first <= reach.last && run.pen.ThickPen) {
      widths += static_cast<std::size_t>(reach.last - reach.first + 1);
    }
  }
  band.widths.clear();
  band.widths.resize(widths);  // from empty, to the size asked: no room to spare beside a big canvas
  for (std::size_t k = 0; k < m_inWork.size(); ++k) {
    const Run& run = m_inWork[k];
    const Reach& reach = band.reach[k];
    if (reach.first > reach.last || !run.pen.ThickPen) continue;
    Random draws = run.draws;
    draws.Skip(reach.first - run.top);
    std::uint8_t* out = band.widths.data() + reach.widths;
    draws.RandomInt3Run(reach.last - reach.first + 1,
                        [&out](std::int32_t w) { *out++ = static_cast<std::uint8_t>(w + 1); });
  }
  for (std::size_t t = 0; t < band.tiles.size(); ++t) {
    const int tileTop = band.tileTops[t];
    const int tileBottom = band.tileTops[t + 1];
    for (std::size_t k = 0; k < m_inWork.size(); ++k) {
      const Reach& reach = band.reach[k];
      const int first = std::max(reach.first, tileTop - kReachUp);
      const int last = std::min(reach.last, tileBottom - 1 + kReachDown);
      if (first > last) continue;
      const Run& run = m_inWork[k];
      // The columns of a round mostly follow one another: the next line of
      // pixels to the right is fetched while this run is painted.
      band.tiles[t].PrefetchColumn(run.i + kPrefetchColumns, first - tileTop - 1, last - tileTop + 2);
      const std::uint8_t* widths =
          run.pen.ThickPen ? band.widths.data() + reach.widths + (first - reach.first) : nullptr;
      PaintInTile(run, band.tiles[t], tileTop, first, last, widths);
    }
  }
}

// Dots first .. last of run (rows of the canvas) drawn on tile, whose row 0
// is the canvas's row tileTop, with pen widths from widths on (none for a
// thin pen).
void DotPainter::PaintInTile(const Run& run, Image& tile, int tileTop, int first, int last,
                             const std::uint8_t* widths) {
  const PenSettings& pen = run.pen;
  if (pen.colours.PaletteMode) {
    tile.SetLineColor(pen.colours.Palette[static_cast<std::size_t>(pen.CurrentIndex)]);
    if (!pen.ThickPen) {
      tile.SetLineWidth(1);
      tile.DrawLine(run.i, first - tileTop, run.i, last - tileTop);
    } else {
      tile.DrawDots(run.i, first - tileTop, widths, last - first + 1);
    }
    return;
  }
  // Mirrored reads at the canvas's rows.
  const Image& source = pen.colours.Sources[static_cast<std::size_t>(pen.CurrentIndex - 1)];
  const int x = Mirrored(run.i, pen.MaxX, pen.MirrorX);
  for (int j = first; j <= last; ++j) {
    tile.SetLineColor(source.GetColorAt(x, Mirrored(j, pen.MaxY, pen.MirrorY)));
    tile.SetLineWidth(pen.ThickPen ? widths[j - first] : 1);
    tile.DrawPoint(run.i, j - tileTop);
  }
}

void PaintBlock(const BlockRect& block, std::int32_t BackgroundIndex, const PenSettings& pen,
                DotPainter& painter, Random& rng) {
  PenSettings column = pen;
  column.MirrorX = rng.Flag(0.3);
  column.MirrorY = rng.Flag(0.3);
  const std::int32_t last = block.x2;
  for (std::int64_t x = block.x1; x <= last; ++x) {
    const int i = static_cast<int>(x);
    rng.Redraw(column.MirrorX, 0.05, 0.3);
    rng.Redraw(column.MirrorY, 0.05, 0.3);
    if (pen.CurrentIndex == BackgroundIndex && !column.MirrorX && !column.MirrorY) continue;
    painter.Paint(i, block.y1, block.y2, column, rng);
  }
}

}  // namespace pictovance
