#include "generator/random.h"

#include <chrono>

namespace pictovance {

void Random::Seed(std::uint64_t seed) {
  // splitmix64 spreads any seed, 0 included, over the whole state.
  std::uint64_t x = seed;
  for (auto& word : m_s) {
    x += 0x9E3779B97F4A7C15ull;
    std::uint64_t z = x;
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    word = z ^ (z >> 31);
  }
  m_script.clear();
  m_scriptPos = 0;
  m_scriptLeft = 0;
  m_draws = 0;
}

Random Random::FromClock() {
  const auto wall = std::chrono::system_clock::now().time_since_epoch().count();
  const auto steady = std::chrono::steady_clock::now().time_since_epoch().count();
  return Random(static_cast<std::uint64_t>(wall) ^ (static_cast<std::uint64_t>(steady) << 32));
}

}  // namespace pictovance
