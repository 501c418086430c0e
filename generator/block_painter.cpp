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

}  // namespace

DotPainter::DotPainter(Image& canvas, int bands, std::int64_t dotsPerRound)
    : m_canvas(canvas), m_dotsPerRound(std::max<std::int64_t>(dotsPerRound, 1)) {
  if (bands == 0) {
    const std::int64_t pixels = std::int64_t{canvas.Width()} * canvas.Height();
    bands = pixels >= kBandedPixels ? PictureThreads() : 1;
  }
  bands = std::min(bands, canvas.Height());
  if (bands <= 1) return;
  for (int b = 0; b < bands; ++b) {
    const int top = static_cast<int>(std::int64_t{canvas.Height()} * b / bands);
    const int bottom = static_cast<int>(std::int64_t{canvas.Height()} * (b + 1) / bands);
    m_bands.push_back(canvas.RowBand(top, bottom));
    m_bandTops.push_back(top);
  }
  m_bandTops.push_back(canvas.Height());
}

void DotPainter::Paint(int i, int top, int bottom, const PenSettings& pen, Random& rng) {
  if (m_bands.empty()) {
    PaintDots(m_canvas, i, top, bottom, pen, rng);
    return;
  }
  if (top > bottom) return;  // no draws, no dots, no pen
  m_kept.push_back(Run{i, top, bottom, pen, rng});
  const std::int64_t count = std::int64_t{bottom} - top + 1;
  std::int32_t lastWidth = 0;
  rng.RandomInt3Run(count, [&lastWidth](std::int32_t w) { lastWidth = w + 1; });
  m_penWidth = pen.ThickPen ? lastWidth : 1;
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
  const auto paintBand = [this](std::size_t band) {
    for (const Run& run : m_inWork) PaintInBand(run, m_bands[band], m_bandTops[band], m_bandTops[band + 1]);
  };
  for (std::size_t band = 0; band < m_bands.size(); ++band) {
    try {
      m_workers.emplace_back(paintBand, band);
    } catch (const std::system_error&) {
      paintBand(band);  // no thread to be had: this one paints the band
    }
  }
}

// The dots of run that reach rows bandTop .. bandBottom - 1, drawn on band
// (whose row 0 is the canvas's row bandTop) with the run's own draws.
void DotPainter::PaintInBand(const Run& run, Image& band, int bandTop, int bandBottom) {
  const int first = std::max(run.top, bandTop - kReachUp);
  const int last = std::min(run.bottom, bandBottom - 1 + kReachDown);
  if (first > last) return;
  const PenSettings& pen = run.pen;
  if (pen.colours.PaletteMode && !pen.ThickPen) {
    band.SetLineColor(pen.colours.Palette[static_cast<std::size_t>(pen.CurrentIndex)]);
    band.SetLineWidth(1);
    band.DrawLine(run.i, first - bandTop, run.i, last - bandTop);
    return;
  }
  Random draws = run.draws;
  draws.RandomInt3Run(first - run.top, [](std::int32_t) {});
  // The same routine on the band: rows shifted, mirrored reads at the
  // canvas's rows.
  if (pen.colours.PaletteMode) {
    PaintDots(band, run.i, first - bandTop, last - bandTop, pen, draws);
    return;
  }
  const Image& source = pen.colours.Sources[static_cast<std::size_t>(pen.CurrentIndex - 1)];
  const int x = Mirrored(run.i, pen.MaxX, pen.MirrorX);
  for (int j = first; j <= last; ++j) {
    band.SetLineColor(source.GetColorAt(x, Mirrored(j, pen.MaxY, pen.MirrorY)));
    const int width = draws.RandomInt(3) + 1;
    band.SetLineWidth(pen.ThickPen ? width : 1);
    band.DrawPoint(run.i, j - bandTop);
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
