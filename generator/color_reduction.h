// Colour-depth reduction: the colour-depth step of the finishing pass.
//
// ReduceColorDepth draws a colour count (16, 32, 64, 128, 216 or 256, the
// last the most likely) with one ladder draw and has the picture reduce its
// colours to it with ChangeColorDepth(N, 1, D), then always makes the fixed
// call ChangeColorDepth(64, 0, 0). With skip set no count is drawn and the
// first call is ChangeColorDepth(0, 0, D).
//
// What the triples do to the pixels is the image object's business; this
// module promises only the calls and the one draw.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "generator/random.h"

namespace pictovance {

template <class T>
concept DepthSurface = requires(T& picture, std::int32_t v) {
  picture.ChangeColorDepth(v, v, v);
};

template <DepthSurface Surface>
void ReduceColorDepth(bool skip, bool flag, Surface& picture, Random& rng) {
  static constexpr std::array<std::int32_t, 6> kCounts = {16, 32, 64, 128, 216, 256};
  const std::int32_t M = skip ? 0 : 1;
  const std::int32_t D = flag ? 1 : 0;
  std::int32_t N = 0;
  if (M == 1) N = kCounts[static_cast<std::size_t>(rng.Ladder({0.16f, 0.32f, 0.48f, 0.64f, 0.8f}))];
  picture.ChangeColorDepth(N, M, D);
  picture.ChangeColorDepth(64, 0, 0);
}

}  // namespace pictovance
