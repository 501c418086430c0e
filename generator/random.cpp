#include "generator/random.h"

#include <array>
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

namespace {

// The state update of xoshiro256++ is linear over GF(2): 256 state bits in,
// 256 out. A jump of 2^k steps is the update's matrix raised to 2^k, kept
// as its 256 columns, the images of the single-bit states.
using State = std::array<std::uint64_t, 4>;
using JumpMatrix = std::array<State, 256>;
constexpr int kJumpPowers = 40;  // jumps up to 2^40 - 1 steps at a time

State Apply(const JumpMatrix& m, const State& s) {
  State out{};
  for (int word = 0; word < 4; ++word) {
    for (std::uint64_t bits = s[static_cast<std::size_t>(word)]; bits != 0; bits &= bits - 1) {
      const State& column = m[static_cast<std::size_t>(word * 64 + __builtin_ctzll(bits))];
      for (std::size_t k = 0; k < 4; ++k) out[k] ^= column[k];
    }
  }
  return out;
}

const std::vector<JumpMatrix>& JumpMatrices() {
  static const std::vector<JumpMatrix> matrices = [] {
    std::vector<JumpMatrix> m(kJumpPowers);
    for (int bit = 0; bit < 256; ++bit) {
      State s{};
      s[static_cast<std::size_t>(bit / 64)] = std::uint64_t{1} << (bit % 64);
      const std::uint64_t t = s[1] << 17;
      s[2] ^= s[0];
      s[3] ^= s[1];
      s[1] ^= s[2];
      s[0] ^= s[3];
      s[2] ^= t;
      s[3] = (s[3] << 45) | (s[3] >> 19);
      m[0][static_cast<std::size_t>(bit)] = s;
    }
    for (std::size_t p = 1; p < m.size(); ++p) {
      for (std::size_t c = 0; c < 256; ++c) m[p][c] = Apply(m[p - 1], m[p - 1][c]);
    }
    return m;
  }();
  return matrices;
}

// Below this many steps, stepping is quicker than a jump.
constexpr std::uint64_t kStepRather = 2048;

}  // namespace

void Random::Jump(std::uint64_t count) {
  if (count < kStepRather) {
    for (std::uint64_t k = 0; k < count; ++k) Next();
    return;
  }
  const std::vector<JumpMatrix>& matrices = JumpMatrices();
  State s{m_s[0], m_s[1], m_s[2], m_s[3]};
  for (int p = 0; count != 0; ++p, count >>= 1) {
    if (p == kJumpPowers) {  // beyond the table: the top power again and again
      for (std::uint64_t k = 0; k < count << 1; ++k) s = Apply(matrices[kJumpPowers - 1], s);
      break;
    }
    if ((count & 1) != 0) s = Apply(matrices[static_cast<std::size_t>(p)], s);
  }
  for (std::size_t k = 0; k < 4; ++k) m_s[k] = s[k];
}

void Random::Skip(std::int64_t count) {
  while (count > 0 && m_scriptLeft != 0) {
    RandomUnit();
    --count;
  }
  if (count <= 0) return;
  m_draws += static_cast<std::uint64_t>(count);
  Jump(static_cast<std::uint64_t>(count));
}

Random Random::FromClock() { return Random(ClockSeed()); }

}  // namespace pictovance
