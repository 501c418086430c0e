// The block painter: one rectangle of the canvas, dot by dot, from one
// colour source, with the block's own mirror flags. The column phase of the
// driver paints its columns with the same dot routine (PaintDots).
//
// Nothing here checks or clips positions: the image object drops dots
// outside the canvas and answers reads outside a source with its
// BackColor.
#pragma once

#include <algorithm>
#include <cstdint>
#include <vector>

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

// Paints the dots (i, top) .. (i, bottom) of one column: each dot takes its
// colour from source CurrentIndex (read at the mirrored position in source
// mode), sets the pen and draws. One RandomInt(3) draw per dot for the pen
// width, taken whether or not thickPen is set.
inline void PaintDots(Image& canvas, int i, int top, int bottom, int maxX, int maxY,
                      std::int32_t currentIndex, bool mirrorX, bool mirrorY, bool thickPen,
                      const ColourSources& colours, Random& rng) {
  if (colours.PaletteMode) {
    // Every dot of the column has the same colour, so the column is painted
    // as the union of its dots, after the same draws.
    if (top > bottom) return;
    canvas.SetLineColor(colours.Palette[static_cast<std::size_t>(currentIndex)]);
    const std::int64_t count = std::int64_t{bottom} - top + 1;
    if (!thickPen) {
      rng.RandomInt3Run(count, [](std::int32_t) {});
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
  const Image& source = colours.Sources[static_cast<std::size_t>(currentIndex - 1)];
  const int x = Mirrored(i, maxX, mirrorX);
  for (int j = top; j <= bottom; ++j) {
    canvas.SetLineColor(source.GetColorAt(x, Mirrored(j, maxY, mirrorY)));
    const int width = rng.RandomInt(3) + 1;
    canvas.SetLineWidth(thickPen ? width : 1);
    canvas.DrawPoint(i, j);
  }
}

// Paints columns x1..x2, rows y1..y2 (inclusive) of the canvas from colour
// source CurrentIndex. MaxX and MaxY (W - 1, H - 1) serve the mirrored reads.
void PaintBlock(std::int32_t x1, std::int32_t y1, std::int32_t x2, std::int32_t y2,
                std::int32_t MaxX, std::int32_t MaxY, std::int32_t BackgroundIndex,
                std::int32_t CurrentIndex, Image& canvas, bool ThickPen,
                const ColourSources& colours, Random& rng);

}  // namespace pictovance
