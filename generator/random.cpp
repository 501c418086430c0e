#include "generator/random.h"

#include <chrono>

namespace pictovance {

namespace {

constexpr std::uint64_t kGoldenGamma = 0x9E3779B97F4A7C15ull;

// SplitMix64's output function.
std::uint64_t Mix64(std::uint64_t z) {
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
  return z ^ (z >> 31);
}

}  // namespace

std::uint64_t PictureSeed(std::uint64_t runSeed, std::uint64_t index) {
  return Mix64(runSeed + (index + 1) * kGoldenGamma);
}

void Random::Seed(std::uint64_t seed) {
  // splitmix64 spreads any seed, 0 included, over the whole state.
  std::uint64_t x = seed;
  for (auto& word : m_s) {
    x += kGoldenGamma;
    word = Mix64(x);
  }
  m_script.clear();
  m_scriptPos = 0;
  m_scriptLeft = 0;
  m_draws = 0;
}

std::uint64_t ClockSeed() {
  const auto wall = std::chrono::system_clock::now().time_since_epoch().count();
  const auto steady = std::chrono::steady_clock::now().time_since_epoch().count();
  return static_cast<std::uint64_t>(wall) ^ (static_cast<std::uint64_t>(steady) << 32);
}

Random Random::FromClock() { return Random(ClockSeed()); }

}  // namespace pictovance
