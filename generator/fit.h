// Fitting a picture to a frame: scale it so it covers the frame, trim it to
// the frame, and leave it of the working bitmap kind.
//
// The scaling is additive, not proportional: each axis's length becomes the
// frame's length times (its ratio + 1 - the smaller ratio). The axis with the
// smaller ratio lands exactly on the frame; the other is stretched or
// squeezed. A picture with exactly the frame's proportions is not scaled at
// all, whatever its size. The ratios and factors are single-precision values
// where pictures have always been fitted that way, so sizes repeat exactly.
//
// It lives here rather than beside the dropped pictures in canvas/ because
// the preview fits with it too, and canvas/ already builds on the generator
// (Save paints the next picture): one home below both avoids a cycle.
#pragma once

#include <cstdint>

#include "generator/random.h"

namespace pictovance {

struct FitSize {
  std::int32_t width;
  std::int32_t height;
  bool scale;  // false: the picture keeps its size
};

// The size the picture is scaled to before the trim, or scale = false.
inline FitSize FitScaledSize(std::int32_t pictureWidth, std::int32_t pictureHeight,
                             std::int32_t width, std::int32_t height) {
  const float rx = static_cast<float>(static_cast<double>(pictureWidth) / width);
  const double ry = static_cast<double>(pictureHeight) / height;
  const double k = ry < rx ? 1.0 - ry : 1.0 - static_cast<double>(rx);
  const float fx = static_cast<float>(rx + k);
  const float fy = static_cast<float>(ry + k);
  if (!(fx > 1.0f || fy > 1.0f)) return {pictureWidth, pictureHeight, false};
  return {RoundHalfEven(width * static_cast<double>(fx)),
          RoundHalfEven(height * static_cast<double>(fy)), true};
}

// Works on any picture with Width, Height, Resize, ResizeCanvas, BitmapType
// and ChangeColorDepth (the image object; a recording double in tests).
template <class Picture>
void FitToCanvas(std::int32_t width, std::int32_t height, Picture& picture) {
  const FitSize size = FitScaledSize(picture.Width(), picture.Height(), width, height);
  if (size.scale) {
    picture.Resize(size.width, size.height);
    picture.ResizeCanvas(width, height, 4, 0);
  }
  if (picture.BitmapType() != 4) picture.ChangeColorDepth(0, 4, 0);
}

}  // namespace pictovance
