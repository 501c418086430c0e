#include "generator/block_painter.h"

namespace pictovance {

void PaintBlock(std::int32_t x1, std::int32_t y1, std::int32_t x2, std::int32_t y2,
                std::int32_t MaxX, std::int32_t MaxY, std::int32_t BackgroundIndex,
                std::int32_t CurrentIndex, Image& canvas, bool ThickPen,
                const ColourSources& colours, Random& rng) {
  bool mirrorX = rng.Flag(0.3);
  bool mirrorY = rng.Flag(0.3);
  const std::int32_t last = x2;
  for (std::int64_t column = x1; column <= last; ++column) {
    const int i = static_cast<int>(column);
    rng.Redraw(mirrorX, 0.05, 0.3);
    rng.Redraw(mirrorY, 0.05, 0.3);
    if (CurrentIndex == BackgroundIndex && !mirrorX && !mirrorY) continue;
    PaintDots(canvas, i, y1, y2, MaxX, MaxY, CurrentIndex, mirrorX, mirrorY, ThickPen, colours, rng);
  }
}

}  // namespace pictovance
