// The finishing pass as a template over the picture: the colour-depth step,
// the line-pattern step and the filter step, each run exactly once, in a
// random order, each acting only when its own chances come up.
//
// The order is drawn with RandomInt(2): first, then second drawn again until
// it differs from first, then third drawn again until it differs from both,
// so the six orders are equally likely. The order matters: each step works
// on the picture as the steps before it left it.
//
// ApplySpecialEffects(Image&, ...) in generator/effects.h is this template
// for the program's image object; tests instantiate it with a recording
// picture.
#pragma once

#include <array>

#include "generator/color_reduction.h"
#include "generator/filter_chain.h"
#include "generator/line_patterns.h"
#include "generator/random.h"

namespace pictovance {

template <class T>
concept EffectsSurface = PatternSurface<T> && DepthSurface<T> && FilterSurface<T>;

namespace finishing_pass_detail {

// Step codes of the order.
inline constexpr int kColourDepthStep = 0;
inline constexpr int kLinePatternStep = 1;
inline constexpr int kFilterStep = 2;

inline constexpr float kColourDepthChance = 0.24f;
inline constexpr float kDitherFlagChance = 0.1f;
inline constexpr float kStepChance = 0.08f;

inline std::array<int, 3> DrawOrder(Random& rng) {
  const int first = rng.RandomInt(2);
  int second = rng.RandomInt(2);
  while (second == first) second = rng.RandomInt(2);
  int third = rng.RandomInt(2);
  while (third == first || third == second) third = rng.RandomInt(2);
  return {first, second, third};
}

}  // namespace finishing_pass_detail

template <EffectsSurface Surface>
void ApplySpecialEffects(Surface& canvas, bool PaletteMode, Random& rng) {
  namespace d = finishing_pass_detail;
  for (const int code : d::DrawOrder(rng)) {
    switch (code) {
      case d::kColourDepthStep:
        if (rng.Chance(d::kColourDepthChance)) {
          const bool dither = rng.Flag(d::kDitherFlagChance);
          ReduceColorDepth(false, dither, canvas, rng);
          canvas.ChangeColorDepth(0, 0, 0);
        }
        break;
      case d::kLinePatternStep:
        DrawLinePatterns(d::kStepChance, canvas, rng);
        break;
      case d::kFilterStep:
        ApplyRandomFilters(d::kStepChance, PaletteMode, canvas, rng);
        break;
      default:
        break;
    }
  }
}

}  // namespace pictovance
