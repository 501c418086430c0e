// Random numbers and chances: the one uniform generator of the program and
// the small idioms every painting decision is taken through.
//
// Each picture is painted from a Random of its own, seeded with the
// picture's seed (PictureSeed below) and passed by reference to everything
// that draws for it; what never decides a picture (file-name digits, the
// About chance) draws from another. Every idiom takes fresh draws at the
// moment it is evaluated, so the order in which code calls them is part of
// what a seed paints.
//
// For tests, a Random can replay a script of unit draws before it goes on
// with its own sequence, and it counts the draws taken.
//
// What it does not promise: the same sequence across versions of this file
// (a golden-value test pins it, so a change is noticed), or thread safety.
#pragma once

#include <cmath>
#include <cstdint>
#include <initializer_list>
#include <vector>

namespace pictovance {

class Random {
 public:
  explicit Random(std::uint64_t seed = 0) { Seed(seed); }

  // A generator seeded from the system clock.
  static Random FromClock();

  void Seed(std::uint64_t seed);

  // The next unit draws come from values (each 0 <= u < 1) before the
  // generator continues with its own sequence.
  void Script(std::vector<double> values) {
    m_script = std::move(values);
    m_scriptPos = 0;
    m_scriptLeft = m_script.size();
  }
  std::size_t ScriptLeft() const { return m_scriptLeft; }

  // Draws taken so far.
  std::uint64_t DrawCount() const { return m_draws; }

  // u, uniform with 0 <= u < 1, at a resolution of 2^-53.
  double RandomUnit() {
    ++m_draws;
    if (m_scriptLeft != 0) [[unlikely]] {
      --m_scriptLeft;
      return m_script[m_scriptPos++];
    }
    return static_cast<double>(Next() >> 11) * 0x1.0p-53;
  }

  // n >= 0: uniform over 0..n; n < 0: uniform over n..0. One draw.
  std::int32_t RandomInt(std::int32_t n) {
    const double u = RandomUnit();
    const double span = n >= 0 ? static_cast<double>(n) + 1.0 : static_cast<double>(n) - 1.0;
    return static_cast<std::int32_t>(span * u);  // truncation toward zero
  }

  // count draws of RandomInt(3) in a row, each value (0..3) handed to sink
  // in turn: the same draws and values as count calls of RandomInt(3), for
  // loops that take one per pixel. The generator's state stays in registers
  // while sink writes pixels, and no floating point is needed: for a span
  // of 4 the scaled draw 4 (x >> 11) 2^-53 is exact and truncates to x >> 62.
  template <class Sink>
  void RandomInt3Run(std::int64_t count, Sink&& sink) {
    while (count > 0 && m_scriptLeft != 0) {
      sink(RandomInt(3));
      --count;
    }
    if (count <= 0) return;
    m_draws += static_cast<std::uint64_t>(count);
    std::uint64_t s0 = m_s[0], s1 = m_s[1], s2 = m_s[2], s3 = m_s[3];
    for (std::int64_t k = 0; k < count; ++k) {
      sink(static_cast<std::int32_t>(Step(s0, s1, s2, s3) >> 62));
    }
    m_s[0] = s0;
    m_s[1] = s1;
    m_s[2] = s2;
    m_s[3] = s3;
  }

  // Moves on as count draws of any kind would, without computing them: the
  // same state and DrawCount afterwards. Long skips jump the generator
  // ahead in a few microseconds, whatever their length.
  void Skip(std::int64_t count);

  // A random index from 1 to n.
  std::int32_t RandomIndex(std::int32_t n) { return RandomInt(n - 1) + 1; }

  // The chance test: a fresh draw u succeeds when u <= p. Thresholds the
  // program states in single precision are passed as float and compared at
  // that value.
  bool Chance(double p) { return RandomUnit() <= p; }

  // A chance-p flag.
  bool Flag(double p) { return Chance(p); }

  // With chance p, re-draw flag as a chance-q flag.
  void Redraw(bool& flag, double p, double q) {
    if (Chance(p)) flag = Flag(q);
  }

  // The selection ladder: one draw, compared with rising thresholds; returns
  // the index of the first threshold with u <= t, or the number of
  // thresholds when u exceeds them all.
  int Ladder(std::initializer_list<float> thresholds) {
    const double u = RandomUnit();
    int index = 0;
    for (const float t : thresholds) {
      if (u <= static_cast<double>(t)) return index;
      ++index;
    }
    return index;
  }

 private:
  std::uint64_t Next() { return Step(m_s[0], m_s[1], m_s[2], m_s[3]); }
  // The state count steps on, by powers of the step's matrix.
  void Jump(std::uint64_t count);
  // xoshiro256++
  static std::uint64_t Step(std::uint64_t& s0, std::uint64_t& s1, std::uint64_t& s2, std::uint64_t& s3) {
    const std::uint64_t result = Rotl(s0 + s3, 23) + s0;
    const std::uint64_t t = s1 << 17;
    s2 ^= s0;
    s3 ^= s1;
    s1 ^= s2;
    s0 ^= s3;
    s2 ^= t;
    s3 = Rotl(s3, 45);
    return result;
  }
  static std::uint64_t Rotl(std::uint64_t x, int k) { return (x << k) | (x >> (64 - k)); }

  std::uint64_t m_s[4] = {};
  std::vector<double> m_script;
  std::size_t m_scriptPos = 0;
  std::size_t m_scriptLeft = 0;
  std::uint64_t m_draws = 0;
};

// The seed of picture `index` of a run seeded with runSeed: output number
// index (counted from 0) of the SplitMix64 generator started at runSeed,
// that is mix(runSeed + (index + 1) * 0x9E3779B97F4A7C15) with SplitMix64's
// finaliser. Any picture of a run can be painted again on its own from the
// run's seed and its index; neighbouring indices give unrelated seeds.
std::uint64_t PictureSeed(std::uint64_t runSeed, std::uint64_t index);

// A seed taken from the system clock, different from call to call.
std::uint64_t ClockSeed();

// The mirrored coordinate: max - v when the flag is set, else v.
constexpr int Mirrored(int v, int max, bool flag) { return flag ? max - v : v; }

// The rounding rule: nearest integer, an exact half to the even neighbour.
inline std::int32_t RoundHalfEven(double x) {
  const double lower = std::floor(x);
  const double fraction = x - lower;
  double result = lower;
  if (fraction > 0.5 || (fraction == 0.5 && std::fmod(lower, 2.0) != 0.0)) result = lower + 1.0;
  return static_cast<std::int32_t>(result);
}

}  // namespace pictovance
