// Small helpers for the imaging tests: colour channels and pictures painted
// from a function of the pixel position.
#pragma once

#include <functional>

#include "imaging/image.h"

namespace pictovance::test_pictures {

inline int Red(Colour c) { return c & 0xFF; }
inline int Green(Colour c) { return (c >> 8) & 0xFF; }
inline int Blue(Colour c) { return (c >> 16) & 0xFF; }
inline Colour Rgb(int r, int g, int b) { return r | (g << 8) | (b << 16); }
inline Colour Grey(int v) { return Rgb(v, v, v); }

// A width x height picture whose pixel (x, y) is colour(x, y), drawn dot by dot.
inline Image Paint(int width, int height, const std::function<Colour(int, int)>& colour) {
  Image image;
  image.CreateBitmap(width, height, 0);
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      image.SetLineColor(colour(x, y));
      image.DrawPoint(x, y);
    }
  }
  return image;
}

}  // namespace pictovance::test_pictures
