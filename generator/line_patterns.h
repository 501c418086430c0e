// Line and dot patterns: the line-pattern step of the finishing pass.
//
// DrawLinePatterns may lay up to four regular overlays over the whole
// picture, in a fixed order: horizontal lines, vertical lines, scattered
// dots and a plain dot grid. Each overlay passes its own chance test with p,
// sets up a random pen (colour, width 1 or 2, a recolour flag, then its
// spacings) and, when the recolour flag is set, may switch to a new colour
// after any line or dot, so one grid can run through several colours.
//
// The loops start at 0 and reach the picture's Width and Height themselves,
// one past the last column and row; the image object clips what falls
// outside. A scattered dot lands 0 to Sy rows below its grid row.
//
// It is a template over the picture so that the dots go straight to the
// image object's inline DrawPoint, and so tests can record the calls.
// What it does not promise: anything about the picture beyond the calls it
// makes; the pen keeps the last colour and width it set.
#pragma once

#include <concepts>
#include <cstdint>
#include <vector>

#include "generator/random.h"
#include "imaging/image.h"

namespace pictovance {

// What the patterns need of a picture.
template <class T>
concept PatternSurface = requires(T& picture, const T& view, int v, Colour colour) {
  { view.Width() } -> std::convertible_to<int>;
  { view.Height() } -> std::convertible_to<int>;
  { view.LineWidth() } -> std::convertible_to<int>;
  picture.SetLineColor(colour);
  picture.SetLineWidth(v);
  picture.DrawLine(v, v, v, v);
  picture.DrawPoint(v, v);
};

namespace line_patterns_detail {

inline constexpr std::int32_t kMaxColour = 0xFFFFFF;
inline constexpr double kRecolourFlagChance = 0.25;
inline constexpr double kRecolourChance = 0.05;

// Colour, width, then the recolour flag, which is returned.
template <PatternSurface Surface>
bool SetUpPen(Surface& picture, Random& rng) {
  picture.SetLineColor(rng.RandomInt(kMaxColour));
  picture.SetLineWidth(rng.RandomInt(1) + 1);
  return rng.Flag(kRecolourFlagChance);
}

// One spacing: the random term is drawn first, then the width is read back
// from the picture (the value the set-up just wrote).
template <PatternSurface Surface>
std::int64_t Spacing(const Surface& picture, Random& rng) {
  const std::int32_t term = rng.RandomInt(3);
  return static_cast<std::int64_t>(picture.LineWidth()) + 1 + term;
}

// After every line and dot. A clear flag spends no draw.
template <PatternSurface Surface>
void Recolour(Surface& picture, bool recolour, Random& rng) {
  if (recolour && rng.Chance(kRecolourChance)) picture.SetLineColor(rng.RandomInt(kMaxColour));
}

}  // namespace line_patterns_detail

// p gates each overlay (the pass hands in 0.08). Loop counters are 64-bit
// so that stepping past a side near the int limit cannot wrap.
template <PatternSurface Surface>
void DrawLinePatterns(float p, Surface& picture, Random& rng) {
  namespace d = line_patterns_detail;
  const std::int64_t W = picture.Width();
  const std::int64_t H = picture.Height();

  if (rng.Chance(p)) {  // horizontal lines
    const bool recolour = d::SetUpPen(picture, rng);
    const std::int64_t S = d::Spacing(picture, rng);
    for (std::int64_t y = 0; y <= H; y += S) {
      picture.DrawLine(0, static_cast<int>(y), static_cast<int>(W), static_cast<int>(y));
      d::Recolour(picture, recolour, rng);
    }
  }

  if (rng.Chance(p)) {  // vertical lines
    const bool recolour = d::SetUpPen(picture, rng);
    const std::int64_t S = d::Spacing(picture, rng);
    if constexpr (requires(std::vector<int> xs, std::vector<Colour> colours) {
                    picture.DrawFullHeightLines(xs, colours);
                    { picture.LineColor() } -> std::convertible_to<Colour>;
                  }) {
      // A picture that draws them row by row gets them all at once: the
      // same draws, lines and final pen, without a pass down every column.
      std::vector<int> xs;
      std::vector<Colour> colours;
      Colour colour = picture.LineColor();
      for (std::int64_t x = 0; x <= W; x += S) {
        xs.push_back(static_cast<int>(x));
        colours.push_back(colour);
        if (recolour && rng.Chance(d::kRecolourChance)) colour = rng.RandomInt(d::kMaxColour);
      }
      picture.DrawFullHeightLines(xs, colours);
      picture.SetLineColor(colour);
    } else {
      for (std::int64_t x = 0; x <= W; x += S) {
        picture.DrawLine(static_cast<int>(x), 0, static_cast<int>(x), static_cast<int>(H));
        d::Recolour(picture, recolour, rng);
      }
    }
  }

  if (rng.Chance(p)) {  // scattered dots, column by column
    const bool recolour = d::SetUpPen(picture, rng);
    const std::int64_t Sy = d::Spacing(picture, rng);
    const std::int64_t Sx = d::Spacing(picture, rng);
    const auto offsetRange = static_cast<std::int32_t>(Sy);
    for (std::int64_t x = 0; x <= W; x += Sx) {
      for (std::int64_t y = 0; y <= H; y += Sy) {
        picture.SetLineWidth(rng.RandomInt(1) + 1);
        picture.DrawPoint(static_cast<int>(x), static_cast<int>(y + rng.RandomInt(offsetRange)));
        d::Recolour(picture, recolour, rng);
      }
    }
  }

  if (rng.Chance(p)) {  // dot grid, column by column
    const bool recolour = d::SetUpPen(picture, rng);
    const std::int64_t Sy = d::Spacing(picture, rng);
    const std::int64_t Sx = d::Spacing(picture, rng);
    for (std::int64_t x = 0; x <= W; x += Sx) {
      for (std::int64_t y = 0; y <= H; y += Sy) {
        picture.DrawPoint(static_cast<int>(x), static_cast<int>(y));
        d::Recolour(picture, recolour, rng);
      }
    }
  }
}

}  // namespace pictovance
