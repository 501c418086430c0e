#include "canvas/size_fields.h"

#include <algorithm>
#include <cfloat>
#include <charconv>
#include <cstddef>

namespace pictovance {

namespace {

constexpr bool IsIgnored(char c) { return c == ' ' || c == '\t' || c == '\n'; }
constexpr bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// Value of c as a digit of base, or -1.
int DigitValue(char c, int base) {
  int value = -1;
  if (c >= '0' && c <= '9') {
    value = c - '0';
  } else if (c >= 'A' && c <= 'F') {
    value = c - 'A' + 10;
  } else if (c >= 'a' && c <= 'f') {
    value = c - 'a' + 10;
  }
  return value < base ? value : -1;
}

// &H / &O: the digits after the two-letter prefix, as a whole number. More
// digits than a double can hold saturate at the largest double.
double ReadPrefixed(std::string_view s, int base) {
  double value = 0.0;
  for (const char c : s) {
    const int digit = DigitValue(c, base);
    if (digit < 0) break;
    if (value > (DBL_MAX - digit) / base) return DBL_MAX;
    value = value * base + digit;
  }
  return value;
}

// Decimal exponents beyond this put any mantissa outside a double's range
// (or below one), so exponent digits past it need not be counted.
constexpr long long kExponentCap = 100000;

// Sign, digits with at most one point, optional exponent: the whole part of
// that number, truncated toward zero. The truncation is done on the digits
// themselves, so 0.99999999999999999999 is 0 and not a rounded 1.
double ReadDecimal(std::string_view s) {
  std::size_t pos = 0;
  bool negative = false;
  if (pos < s.size() && (s[pos] == '+' || s[pos] == '-')) {
    negative = s[pos] == '-';
    ++pos;
  }
  std::string digits;     // every mantissa digit, the point left out
  long long pointAt = 0;  // digits before the point
  bool sawPoint = false;
  for (; pos < s.size(); ++pos) {
    const char c = s[pos];
    if (IsDigit(c)) {
      digits += c;
      if (!sawPoint) ++pointAt;
    } else if (c == '.' && !sawPoint) {
      sawPoint = true;
    } else {
      break;
    }
  }
  if (digits.empty()) return 0.0;  // "", "-", ".", "+.", "e5"

  long long exponent = 0;
  if (pos < s.size() && (s[pos] == 'E' || s[pos] == 'e' || s[pos] == 'D' || s[pos] == 'd')) {
    std::size_t p = pos + 1;
    bool negativeExponent = false;
    if (p < s.size() && (s[p] == '+' || s[p] == '-')) {
      negativeExponent = s[p] == '-';
      ++p;
    }
    // An exponent without digits ("1e", "1e+") is not part of the number.
    if (p < s.size() && IsDigit(s[p])) {
      for (; p < s.size() && IsDigit(s[p]); ++p) {
        if (exponent < kExponentCap) exponent = exponent * 10 + (s[p] - '0');
      }
      if (negativeExponent) exponent = -exponent;
    }
  }

  // Leading zeros carry no value; dropping them keeps the position of the
  // point right.
  const std::size_t firstNonZero = digits.find_first_not_of('0');
  if (firstNonZero == std::string::npos) return 0.0;
  const long long wholeDigits = pointAt - static_cast<long long>(firstNonZero) + exponent;
  if (wholeDigits <= 0) return 0.0;  // below one
  if (wholeDigits > DBL_MAX_10_EXP + 1) return negative ? -DBL_MAX : DBL_MAX;

  const std::string_view significant = std::string_view(digits).substr(firstNonZero);
  std::string whole(
      significant.substr(0, std::min(static_cast<std::size_t>(wholeDigits), significant.size())));
  whole.resize(static_cast<std::size_t>(wholeDigits), '0');
  double value = 0.0;
  if (std::from_chars(whole.data(), whole.data() + whole.size(), value).ec != std::errc()) value = DBL_MAX;
  return negative ? -value : value;
}

}  // namespace

double ReadNumber(std::string_view text) {
  std::string s;
  s.reserve(text.size());
  for (const char c : text) {
    if (!IsIgnored(c)) s += c;
  }
  if (s.size() >= 2 && s[0] == '&') {
    if (s[1] == 'H' || s[1] == 'h') return ReadPrefixed(std::string_view(s).substr(2), 16);
    if (s[1] == 'O' || s[1] == 'o') return ReadPrefixed(std::string_view(s).substr(2), 8);
  }
  return ReadDecimal(s);
}

namespace {

// The number read from text as a field value: 0 for anything below 0 and
// kMaxFieldValue for anything above it, so the conversion to an integer is
// always defined.
std::int32_t FieldValue(std::string_view text) {
  const double value = ReadNumber(text);
  if (!(value > 0.0)) return 0;
  if (value >= kMaxFieldValue) return kMaxFieldValue;
  return static_cast<std::int32_t>(value);
}

}  // namespace

std::string NormaliseFieldText(std::string_view text) { return std::to_string(FieldValue(text)); }

void ApplyPreset(int button, std::string& widthText, std::string& heightText) {
  if (button == 1) {
    widthText = "800";
    heightText = "400";
  } else if (button == 2) {
    widthText = "0";
    heightText = "0";
  }
}

void Set(FormState& state, Form& form, std::string_view widthText, std::string_view heightText) {
  if (state.Busy) return;
  state.Sources.clear();
  state.SourceFiles.clear();
  state.SourceCount = 0;
  form.SetFileCountCaption(form.FileCountTag() + std::to_string(state.SourceCount));
  form.ShowPicture(Picture());
  state.CanvasW = FieldValue(widthText);
  state.CanvasH = FieldValue(heightText);
  state.FixedSize = state.CanvasW != 0 && state.CanvasH != 0;
  form.SetResolutionCaption(ResolutionCaption(state));
  state.Result.reset();
  form.SetStatus("");
}

std::string ResolutionCaption(const FormState& state) {
  return std::to_string(state.CanvasW) + "x" + std::to_string(state.CanvasH);
}

}  // namespace pictovance
