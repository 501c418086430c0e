// The random filter chain: the filter step of the finishing pass.
//
// ApplyRandomFilters makes R tries (12, or 15 in palette mode); each try
// passes a chance test with p, then picks one of R filter cases at random
// and applies it with random settings. Cases 13 to 15 (edge detection,
// embossing, a gamma of zero or below) exist only in palette mode and need
// a second chance test with p. A case may come up more than once; the
// effects add up in the order drawn.
//
// Draws are taken in a fixed order per case (for Sepia: red, green, level,
// blue), so a seed repeats a chain exactly. What a filter does with its
// argument, including one at the edge of its range, is the image object's
// business.
#pragma once

#include <cmath>
#include <cstdint>

#include "generator/random.h"
#include "imaging/image.h"

namespace pictovance {

template <class T>
concept FilterSurface = requires(T& picture, std::int32_t v, Colour colour, double g) {
  picture.EnhanceDetail();
  picture.EnhanceFocus();
  picture.FocusRestoration();
  picture.Equalize();
  picture.EqualizeOnLuminance();
  picture.Negative();
  picture.Sepia(v, colour);
  picture.Balance(v);
  picture.FlipHorizontal();
  picture.FlipVertical();
  picture.hue(v);
  picture.saturation(v);
  picture.Blur(v);
  picture.GaussianBlur(v);
  picture.brightness(v);
  picture.LogCorrection();
  picture.contrast(v);
  picture.Gamma(g);
  picture.lightness(v);
  picture.Sharpen(v);
  picture.EdgeDetectLight();
  picture.EdgeDetectMedium();
  picture.EdgeDetectHeavy();
  picture.Emboss();
  picture.EmbossMore();
};

namespace filter_chain_detail {

inline constexpr std::int32_t kTries = 12;
inline constexpr std::int32_t kPaletteTries = 15;

// u in single precision, rounded toward zero: plain rounding would turn a
// draw just below 1 into 1 and the gamma of case 15 into -1.
inline float UnitAsFloat(double u) {
  float f = static_cast<float>(u);
  if (static_cast<double>(f) > u) f = std::nextafter(f, 0.0f);
  return f;
}

template <FilterSurface Surface>
void ApplyCase(std::int32_t k, float p, Surface& picture, Random& rng) {
  switch (k) {
    case 1:
      switch (rng.Ladder({0.33f, 0.66f})) {
        case 0:
          picture.EnhanceDetail();
          break;
        case 1:
          picture.EnhanceFocus();
          break;
        default:
          picture.FocusRestoration();
          break;
      }
      break;
    case 2:
      if (rng.Chance(0.3f)) {
        picture.Equalize();
      } else {
        picture.EqualizeOnLuminance();
      }
      break;
    case 3:
      picture.Negative();
      break;
    case 4:
      if (rng.Chance(0.5f)) {
        const std::int32_t red = 120 + rng.RandomInt(135);
        const std::int32_t green = 120 + rng.RandomInt(135);
        const std::int32_t level = 15 + rng.RandomInt(30);
        const std::int32_t blue = 120 + rng.RandomInt(135);
        picture.Sepia(level, red + 256 * green + 65536 * blue);
      } else {
        picture.Balance(rng.RandomInt(0xFFFFFF));
      }
      break;
    case 5:
      if (rng.Chance(0.5f)) {
        picture.FlipHorizontal();
      } else {
        picture.FlipVertical();
      }
      break;
    case 6:
      picture.hue(1 + rng.RandomInt(255));
      break;
    case 7:
      picture.saturation(50 - rng.RandomInt(100));
      break;
    case 8: {
      const bool box = rng.Chance(0.5f);
      const std::int32_t value = rng.RandomInt(100);
      if (box) {
        picture.Blur(value);
      } else {
        picture.GaussianBlur(value);
      }
      break;
    }
    case 9:
      picture.brightness(100 - rng.RandomInt(200));
      picture.LogCorrection();
      break;
    case 10:
      picture.contrast(100 - rng.RandomInt(200));
      picture.Gamma(rng.RandomUnit() + 0.3);
      break;
    case 11:
      picture.lightness(20 - rng.RandomInt(40));
      break;
    case 12:
      picture.Sharpen(rng.RandomInt(255));
      break;
    case 13:
      if (!rng.Chance(p)) break;
      switch (rng.Ladder({0.45f, 0.8f})) {
        case 0:
          picture.EdgeDetectLight();
          break;
        case 1:
          picture.EdgeDetectMedium();
          break;
        default:
          picture.EdgeDetectHeavy();
          break;
      }
      break;
    case 14:
      if (!rng.Chance(p)) break;
      if (rng.Chance(0.75f)) {
        picture.Emboss();
      } else {
        picture.EmbossMore();
      }
      break;
    case 15:
      if (!rng.Chance(p)) break;
      picture.Gamma(static_cast<double>(0.0f - UnitAsFloat(rng.RandomUnit())));
      break;
    default:
      break;  // RandomIndex keeps k in 1..R
  }
}

}  // namespace filter_chain_detail

// p gates every try and, a second time, cases 13 to 15 (the pass hands in
// 0.08).
template <FilterSurface Surface>
void ApplyRandomFilters(float p, bool PaletteMode, Surface& picture, Random& rng) {
  namespace d = filter_chain_detail;
  const std::int32_t R = PaletteMode ? d::kPaletteTries : d::kTries;
  for (std::int32_t attempt = 0; attempt < R; ++attempt) {
    if (!rng.Chance(p)) continue;
    d::ApplyCase(rng.RandomIndex(R), p, picture, rng);
  }
}

}  // namespace pictovance
