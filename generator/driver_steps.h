// The driver's smaller decisions, each taken from the generator in the
// order the driver takes them. Split out so each can be checked on its own.
#pragma once

#include <cstdint>

#include "generator/random.h"

namespace pictovance {

// The minimum distance in columns between two changes of colour source.
inline std::int32_t SwitchThresholdFor(std::int32_t W) { return RoundHalfEven(W / 50.0); }

// The switch bookkeeping of the column phase.
struct SwitchTracker {
  std::int32_t SwitchThreshold = 0;
  std::int32_t LastSwitch = 0;
  std::int32_t SwitchCount = 0;
  std::int32_t LongestRun = 0;

  // A switch opportunity at column i: true when the colour source changes
  // (more than SwitchThreshold columns since the last change).
  bool Offer(std::int32_t i) {
    const std::int32_t d = i - LastSwitch;
    if (d <= SwitchThreshold) return false;
    ++SwitchCount;
    if (d > LongestRun) LongestRun = d;
    LastSwitch = i;
    return true;
  }
};

// The rows of one column: all of them, or with chance 0.05 a part that may
// come out empty (top > bottom).
struct RowRange {
  std::int32_t top;
  std::int32_t bottom;
};
inline RowRange ChooseRows(std::int32_t H, Random& rng) {
  if (!rng.Chance(0.05)) return {0, H - 1};
  const std::int32_t R = RoundHalfEven((H - 1) / 2.0);
  const std::int32_t T = (H - 1) / 2;
  const std::int32_t top = rng.RandomInt(R);
  return {top, T + rng.RandomInt(R)};
}

// How many blocks follow switchCount switches.
inline std::int32_t BlockCount(std::int32_t switchCount, Random& rng) {
  return RoundHalfEven(switchCount / 2.0 + rng.RandomInt(RoundHalfEven(switchCount / 2.0)));
}

struct BlockRect {
  std::int32_t x1, y1, x2, y2;
};
// A block's rectangle, always inside the W x H canvas when longestRun lies
// between switchThreshold + 1 and W - 1.
inline BlockRect ChooseBlock(std::int32_t W, std::int32_t H, std::int32_t switchThreshold,
                             std::int32_t longestRun, Random& rng) {
  const std::int32_t BW = switchThreshold;
  const std::int32_t XW = longestRun - switchThreshold;
  const std::int32_t BH = RoundHalfEven((H - 1) / static_cast<double>(rng.RandomInt(4) + 4));
  const std::int32_t XH = RoundHalfEven((H - 1) / static_cast<double>(rng.RandomInt(2) + 2));
  BlockRect r{};
  r.x1 = rng.RandomInt((W - 1) - BW - XW);
  r.x2 = r.x1 + BW + rng.RandomInt(XW);
  r.y1 = rng.RandomInt((H - 1) - BH - XH);
  r.y2 = r.y1 + BH + rng.RandomInt(XH);
  return r;
}

}  // namespace pictovance
