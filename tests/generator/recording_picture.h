// Test helpers for the finishing pass: a picture that records every call
// made on it, and the unit draws that make Random give chosen values.
#pragma once

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

#include "generator/random.h"
#include "imaging/image.h"

namespace pictovance::testing_support {

// One member call: its name and its arguments as numbers.
struct Call {
  std::string name;
  std::vector<double> args;
  bool operator==(const Call&) const = default;
};

inline void PrintTo(const Call& call, std::ostream* os) {
  *os << call.name << "(";
  for (std::size_t i = 0; i < call.args.size(); ++i) *os << (i ? ", " : "") << call.args[i];
  *os << ")";
}

// A dot or a line with the pen it was drawn with.
struct Mark {
  int x1, y1, x2, y2;
  Colour colour;
  int width;
};

// Stands in for the image object. The pen reads back what was written, as
// the image object's does.
class RecordingPicture {
 public:
  RecordingPicture(int width, int height) : m_width(width), m_height(height) {}

  int Width() const { return m_width; }
  int Height() const { return m_height; }
  int LineWidth() const { return m_lineWidth; }
  Colour LineColor() const { return m_lineColor; }

  void SetLineColor(Colour colour) {
    m_lineColor = colour;
    Log("SetLineColor", {static_cast<double>(colour)});
  }
  void SetLineWidth(int width) {
    m_lineWidth = width;
    Log("SetLineWidth", {static_cast<double>(width)});
  }
  void DrawLine(int x1, int y1, int x2, int y2) {
    lines.push_back({x1, y1, x2, y2, m_lineColor, m_lineWidth});
    Log("DrawLine", {double(x1), double(y1), double(x2), double(y2)});
  }
  void DrawPoint(int x, int y) {
    dots.push_back({x, y, x, y, m_lineColor, m_lineWidth});
    Log("DrawPoint", {double(x), double(y)});
  }

  void ChangeColorDepth(std::int32_t count, std::int32_t kind, std::int32_t dither) {
    Log("ChangeColorDepth", {double(count), double(kind), double(dither)});
  }

  void EnhanceDetail() { Log("EnhanceDetail"); }
  void EnhanceFocus() { Log("EnhanceFocus"); }
  void FocusRestoration() { Log("FocusRestoration"); }
  void Equalize() { Log("Equalize"); }
  void EqualizeOnLuminance() { Log("EqualizeOnLuminance"); }
  void Negative() { Log("Negative"); }
  void Sepia(std::int32_t level, Colour colour) { Log("Sepia", {double(level), double(colour)}); }
  void Balance(std::int32_t value) { Log("Balance", {double(value)}); }
  void FlipHorizontal() { Log("FlipHorizontal"); }
  void FlipVertical() { Log("FlipVertical"); }
  void hue(std::int32_t value) { Log("hue", {double(value)}); }
  void saturation(std::int32_t value) { Log("saturation", {double(value)}); }
  void Blur(std::int32_t value) { Log("Blur", {double(value)}); }
  void GaussianBlur(std::int32_t value) { Log("GaussianBlur", {double(value)}); }
  void brightness(std::int32_t value) { Log("brightness", {double(value)}); }
  void LogCorrection() { Log("LogCorrection"); }
  void contrast(std::int32_t value) { Log("contrast", {double(value)}); }
  void Gamma(double value) { Log("Gamma", {value}); }
  void lightness(std::int32_t value) { Log("lightness", {double(value)}); }
  void Sharpen(std::int32_t value) { Log("Sharpen", {double(value)}); }
  void EdgeDetectLight() { Log("EdgeDetectLight"); }
  void EdgeDetectMedium() { Log("EdgeDetectMedium"); }
  void EdgeDetectHeavy() { Log("EdgeDetectHeavy"); }
  void Emboss() { Log("Emboss"); }
  void EmbossMore() { Log("EmbossMore"); }

  std::vector<Call> calls;
  std::vector<Mark> lines;
  std::vector<Mark> dots;

 private:
  void Log(std::string name, std::vector<double> args = {}) {
    calls.push_back({std::move(name), std::move(args)});
  }

  int m_width;
  int m_height;
  Colour m_lineColor = -1;  // no colour a pen set-up can give
  int m_lineWidth = -1;
};

// --- Unit draws that make Random give chosen values -----------------------

// The draw for which RandomInt(n) gives value (0 <= value <= n).
inline double UnitFor(std::int32_t value, std::int32_t n) { return (value + 0.5) / (n + 1.0); }
// The draw for which RandomInt(n - 1) + 1 gives index (1 <= index <= n).
inline double UnitForIndex(std::int32_t index, std::int32_t n) { return UnitFor(index - 1, n - 1); }
// The smallest draw that fails a chance test with threshold t (a float
// threshold converts exactly).
inline double JustAbove(double t) { return std::nextafter(t, 2.0); }
// The largest draw the generator can give.
inline const double kAlmostOne = std::nextafter(1.0, 0.0);

// Appends values to a script.
inline void Append(std::vector<double>& script, std::initializer_list<double> values) {
  script.insert(script.end(), values);
}
inline void AppendRepeated(std::vector<double>& script, std::size_t count, double value) {
  script.insert(script.end(), count, value);
}

// Replays script and checks afterwards that exactly its draws were taken.
class ScriptedRandom {
 public:
  explicit ScriptedRandom(std::vector<double> script) : m_size(script.size()) {
    rng.Script(std::move(script));
  }
  ::testing::AssertionResult UsedExactlyTheScript() const {
    if (rng.ScriptLeft() != 0) {
      return ::testing::AssertionFailure()
             << rng.ScriptLeft() << " of " << m_size << " scripted draws left unused";
    }
    if (rng.DrawCount() != m_size) {
      return ::testing::AssertionFailure() << rng.DrawCount() << " draws taken, " << m_size << " scripted";
    }
    return ::testing::AssertionSuccess();
  }
  Random rng;

 private:
  std::size_t m_size;
};

}  // namespace pictovance::testing_support
