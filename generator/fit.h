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
// A very long or tall picture would grow into a scaled copy far larger than
// anything loaded (2,000,000 x 4 pixels fitted to 800 x 400 becomes
// 2,000,792 x 400). When the copy would hold more than kMaxFitScaledPixels,
// only the part the trim keeps is scaled: the picture is first trimmed
// around its middle to what covers the frame, with a pixel to spare on each
// side, then scaled and trimmed as usual. The result can then differ from
// the full-size scaling by a pixel's shift.
//
// It lives here rather than beside the dropped pictures in canvas/ because
// the preview fits with it too, and canvas/ already builds on the generator
// (Save paints the next picture): one home below both avoids a cycle.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>

#include "generator/random.h"

namespace pictovance {

struct FitSize {
  std::int32_t width;
  std::int32_t height;
  bool scale;  // false: the picture keeps its size
};

// The size the picture is scaled to before the trim, or scale = false.
inline FitSize FitScaledSize(std::int32_t pictureWidth, std::int32_t pictureHeight, std::int32_t width,
                             std::int32_t height) {
  const float rx = static_cast<float>(static_cast<double>(pictureWidth) / width);
  const double ry = static_cast<double>(pictureHeight) / height;
  const double k = ry < rx ? 1.0 - ry : 1.0 - static_cast<double>(rx);
  const float fx = static_cast<float>(rx + k);
  const float fy = static_cast<float>(ry + k);
  if (!(fx > 1.0f || fy > 1.0f)) return {pictureWidth, pictureHeight, false};
  return {RoundHalfEven(width * static_cast<double>(fx)), RoundHalfEven(height * static_cast<double>(fy)),
          true};
}

// Largest scaled copy made in full: 16M pixels, 64 MB of working bitmap.
inline constexpr std::int64_t kMaxFitScaledPixels = std::int64_t{1} << 24;

struct FitAxis {
  std::int32_t kept;    // picture length trimmed to before scaling
  std::int32_t scaled;  // its length after scaling
};

// Along one axis, a picture of `length` that scales to `scaled` of which
// `frame` stays: the length that covers the frame and what it scales to.
inline FitAxis FitKeptPart(std::int32_t length, std::int32_t scaled, std::int32_t frame) {
  if (scaled <= frame) return {length, scaled};
  const double perPixel = static_cast<double>(length) / scaled;  // picture pixels per scaled pixel
  const auto kept =
      std::min<std::int64_t>(length, static_cast<std::int64_t>(std::ceil(frame * perPixel)) + 2);
  const auto keptScaled = std::max<std::int64_t>(frame, std::llround(static_cast<double>(kept) / perPixel));
  return {static_cast<std::int32_t>(kept),
          static_cast<std::int32_t>(std::min<std::int64_t>(keptScaled, scaled))};
}

// Works on any picture with Width, Height, Resize, ResizeCanvas, BitmapType
// and ChangeColorDepth (the image object; a recording double in tests).
template <class Picture>
void FitToCanvas(std::int32_t width, std::int32_t height, Picture& picture) {
  const FitSize size = FitScaledSize(picture.Width(), picture.Height(), width, height);
  if (size.scale) {
    if (static_cast<std::int64_t>(size.width) * size.height > kMaxFitScaledPixels) {
      const FitAxis x = FitKeptPart(picture.Width(), size.width, width);
      const FitAxis y = FitKeptPart(picture.Height(), size.height, height);
      if (x.kept < picture.Width() || y.kept < picture.Height()) picture.ResizeCanvas(x.kept, y.kept, 4, 0);
      picture.Resize(x.scaled, y.scaled);
    } else {
      picture.Resize(size.width, size.height);
    }
    picture.ResizeCanvas(width, height, 4, 0);
  }
  if (picture.BitmapType() != 4) picture.ChangeColorDepth(0, 4, 0);
}

}  // namespace pictovance
