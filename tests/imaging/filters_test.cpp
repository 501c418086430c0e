#include <gtest/gtest.h>

#include <QImage>
#include <array>
#include <climits>
#include <cmath>
#include <functional>
#include <limits>
#include <opencv2/imgproc.hpp>
#include <string>
#include <vector>

#include "imaging/bitmap_p.h"
#include "imaging/channel_mix_p.h"
#include "imaging/convolution_p.h"
#include "imaging/image.h"
#include "imaging/luminance_p.h"
#include "imaging/qt_bridge.h"
#include "imaging/threads.h"
#include "imaging/unsharp_p.h"
#include "tests/imaging/pictures.h"

namespace pictovance {
namespace {

using namespace test_pictures;

// Gradients, blocks and noise: flat areas, hard edges and many colours.
Colour Rich(int x, int y) {
  const auto h =
      (static_cast<unsigned>(x) * 73856093u ^ static_cast<unsigned>(y) * 19349663u) * 2654435761u >>
      27;  // 0..31
  const int block = ((x / 7 + y / 5) % 3) * 60;
  return Rgb((x * 9 + block) % 256, (y * 11 + static_cast<int>(h)) % 256, (x * 3 + y * 5 + block) % 256);
}

// Every pixel of got within tolerance of expected(x, y) in each channel;
// names the first one that is not.
testing::AssertionResult PixelsNear(const Image& got, const std::function<Colour(int, int)>& expected,
                                    int tolerance) {
  for (int y = 0; y < got.Height(); ++y) {
    for (int x = 0; x < got.Width(); ++x) {
      const Colour a = got.GetColorAt(x, y), b = expected(x, y);
      if (std::abs(Red(a) - Red(b)) > tolerance || std::abs(Green(a) - Green(b)) > tolerance ||
          std::abs(Blue(a) - Blue(b)) > tolerance) {
        return testing::AssertionFailure() << "pixel (" << x << ", " << y << ") is 0x" << std::hex << a
                                           << ", expected 0x" << b << " +- " << std::dec << tolerance;
      }
    }
  }
  return testing::AssertionSuccess();
}

// Reads the alpha bytes themselves: QImage::pixel() reports every pixel
// of the working kind as opaque whatever its alpha byte holds.
testing::AssertionResult Opaque(const Image& image) {
  const QImage bits = ToQImage(image.GetPicture());
  for (int y = 0; y < bits.height(); ++y) {
    const auto* row = reinterpret_cast<const QRgb*>(bits.constScanLine(y));
    for (int x = 0; x < bits.width(); ++x) {
      if (qAlpha(row[x]) != 255) {
        return testing::AssertionFailure() << "pixel (" << x << ", " << y << ") has alpha " << qAlpha(row[x]);
      }
    }
  }
  return testing::AssertionSuccess();
}

// Largest difference between any two pixels in any channel.
int Spread(const Image& image) {
  int lo = 255, hi = 0;
  for (int y = 0; y < image.Height(); ++y) {
    for (int x = 0; x < image.Width(); ++x) {
      const Colour c = image.GetColorAt(x, y);
      lo = std::min({lo, Red(c), Green(c), Blue(c)});
      hi = std::max({hi, Red(c), Green(c), Blue(c)});
    }
  }
  return hi - lo;
}

// What a filter must leave of a rich picture.
enum Keeps { kDetail, kMeanColour, kAnything };

struct FilterCase {
  std::string name;
  std::function<void(Image&)> apply;
  Keeps keeps = kDetail;  // arguments beyond the range may flatten; blurs keep the mean colour
  bool keepsGrey = true;  // a grey picture stays grey
};
void PrintTo(const FilterCase& c, std::ostream* os) { *os << c.name; }

std::vector<FilterCase> AllFilters() {
  constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
  constexpr double kInf = std::numeric_limits<double>::infinity();
  std::vector<FilterCase> cases = {
      {"EnhanceDetail", [](Image& i) { i.EnhanceDetail(); }},
      {"EnhanceFocus", [](Image& i) { i.EnhanceFocus(); }},
      {"FocusRestoration", [](Image& i) { i.FocusRestoration(); }},
      {"Equalize", [](Image& i) { i.Equalize(); }},
      {"EqualizeOnLuminance", [](Image& i) { i.EqualizeOnLuminance(); }},
      {"Negative", [](Image& i) { i.Negative(); }},
      {"Sepia_15_low", [](Image& i) { i.Sepia(15, Rgb(120, 120, 120)); }},
      {"Sepia_45_tinted", [](Image& i) { i.Sepia(45, Rgb(255, 200, 120)); }, kDetail, false},
      {"Sepia_beyond", [](Image& i) { i.Sepia(INT_MIN, -1); }, kAnything, true},
      {"Sepia_beyond_high", [](Image& i) { i.Sepia(INT_MAX, INT_MAX); }, kAnything, false},
      {"Balance_0", [](Image& i) { i.Balance(0); }, kDetail, false},
      {"Balance_FFFFFF", [](Image& i) { i.Balance(0xFFFFFF); }, kDetail, false},
      {"Balance_minus1", [](Image& i) { i.Balance(-1); }, kAnything, false},
      {"FlipHorizontal", [](Image& i) { i.FlipHorizontal(); }},
      {"FlipVertical", [](Image& i) { i.FlipVertical(); }},
      {"LogCorrection", [](Image& i) { i.LogCorrection(); }},
      {"EdgeDetectLight", [](Image& i) { i.EdgeDetectLight(); }},
      {"EdgeDetectMedium", [](Image& i) { i.EdgeDetectMedium(); }},
      {"EdgeDetectHeavy", [](Image& i) { i.EdgeDetectHeavy(); }},
      {"Emboss", [](Image& i) { i.Emboss(); }},
      {"EmbossMore", [](Image& i) { i.EmbossMore(); }},
  };
  const auto add = [&cases](const std::string& name, void (Image::*member)(std::int32_t),
                            std::vector<std::int32_t> inRange, std::vector<std::int32_t> beyond) {
    for (auto* list : {&inRange, &beyond}) {
      for (std::int32_t v : *list) {
        const std::string arg =
            v < 0 ? "minus" + std::to_string(-static_cast<std::int64_t>(v)) : std::to_string(v);
        const bool blur = member == &Image::Blur || member == &Image::GaussianBlur;
        const Keeps keeps = blur ? kMeanColour : list == &inRange ? kDetail : kAnything;
        cases.push_back({name + "_" + arg, [member, v](Image& i) { (i.*member)(v); }, keeps});
      }
    }
  };
  add("hue", &Image::hue, {1, 128, 256}, {0, -77, INT_MIN, INT_MAX});
  add("saturation", &Image::saturation, {-50, 50}, {INT_MIN, INT_MAX});
  add("Blur", &Image::Blur, {0, 1, 100}, {-5, 150, INT_MAX});
  add("GaussianBlur", &Image::GaussianBlur, {0, 1, 6, 7, 100}, {-5, INT_MAX});
  add("brightness", &Image::brightness, {-100, 100}, {INT_MIN, INT_MAX});
  add("contrast", &Image::contrast, {-100, 100}, {INT_MIN, INT_MAX});
  add("lightness", &Image::lightness, {-20, 20}, {INT_MIN, INT_MAX});
  add("Sharpen", &Image::Sharpen, {0, 255}, {-1, INT_MAX});
  const std::pair<const char*, double> gammas[] = {
      {"0_3", 0.3},    {"1_2999", 1.2999}, {"0", 0.0},    {"minus0_999", -0.999}, {"tiny", 1e-300},
      {"huge", 1e300}, {"NaN", kNaN},      {"inf", kInf}, {"minus_inf", -kInf}};
  for (const auto& [name, g] : gammas) {
    const Keeps keeps = g >= -1.0 && g < 1.3 ? kDetail : kAnything;
    cases.push_back({std::string("Gamma_") + name, [g = g](Image& i) { i.Gamma(g); }, keeps});
  }
  return cases;
}

std::string CaseName(const testing::TestParamInfo<FilterCase>& info) { return info.param.name; }

class EveryFilterTest : public testing::TestWithParam<FilterCase> {};

TEST_P(EveryFilterTest, LeavesAnEmptyImageEmpty) {
  Image image;
  GetParam().apply(image);
  EXPECT_EQ(image.BitmapType(), 0);
  EXPECT_EQ(image.Width(), 0);
}

// Tiny and edge-sized pictures: no crash, same size, working kind, opaque.
TEST_P(EveryFilterTest, KeepsSizeKindAndOpacityOnEdgeSizes) {
  const std::pair<int, int> sizes[] = {{1, 1}, {1, 9}, {9, 1}, {2, 2}, {3, 3}, {41, 23}};
  for (const auto& [w, h] : sizes) {
    SCOPED_TRACE(std::to_string(w) + " x " + std::to_string(h));
    Image image = Paint(w, h, Rich);
    GetParam().apply(image);
    EXPECT_EQ(image.Width(), w);
    EXPECT_EQ(image.Height(), h);
    EXPECT_EQ(image.BitmapType(), 4);
    EXPECT_TRUE(Opaque(image));
  }
}

// A filter treats every pixel alike, borders included: a flat picture
// stays flat (no border garbage), and a grey one stays grey unless the
// filter tints.
TEST_P(EveryFilterTest, FlatPictureStaysFlat) {
  for (const Colour colour : {Grey(128), Rgb(200, 90, 30)}) {
    SCOPED_TRACE(colour);
    Image image = Paint(37, 21, [colour](int, int) { return colour; });
    GetParam().apply(image);
    const Colour first = image.GetColorAt(0, 0);
    EXPECT_TRUE(PixelsNear(
        image, [first](int, int) { return first; }, 1));
    if (colour == Grey(128) && GetParam().keepsGrey) {
      EXPECT_LE(std::abs(Red(first) - Green(first)) + std::abs(Green(first) - Blue(first)), 2)
          << std::hex << first;
    }
  }
}

// A picture large enough to be filtered in strips of rows on several
// threads gets exactly the pixels it gets on one.
TEST_P(EveryFilterTest, GivesTheSamePixelsOnOneThreadAsOnThree) {
  const Image source = Paint(1031, 1033, Rich);
  Image one, three;
  one.AssignPicture(source.GetPicture());
  three.AssignPicture(source.GetPicture());
  SetPictureThreads(1);
  GetParam().apply(one);
  SetPictureThreads(3);
  GetParam().apply(three);
  SetPictureThreads(ProcessorCount());
  EXPECT_TRUE(PixelsNear(
      three, [&one](int x, int y) { return one.GetColorAt(x, y); }, 0));
}

INSTANTIATE_TEST_SUITE_P(Filters, EveryFilterTest, testing::ValuesIn(AllFilters()), CaseName);

// No garbage: an argument the filter chain draws leaves a picture with
// detail (not all black, not flat); a blur of any size keeps the mean colour.
class FilterResultTest : public testing::TestWithParam<FilterCase> {};

TEST_P(FilterResultTest, KeepsDetailOrMeanColour) {
  Image image = Paint(64, 48, Rich);
  const cv::Scalar before = cv::mean(WrapPixels(WorkingImage(image)));
  GetParam().apply(image);
  if (GetParam().keeps == kDetail) {
    EXPECT_GE(Spread(image), 64);
  } else {
    const cv::Scalar after = cv::mean(WrapPixels(WorkingImage(image)));
    for (int c = 0; c < 3; ++c) EXPECT_NEAR(after[c], before[c], 2.0) << "channel " << c << " (B, G, R)";
  }
}

std::vector<FilterCase> FiltersWithAResultToKeep() {
  std::vector<FilterCase> cases = AllFilters();
  std::erase_if(cases, [](const FilterCase& c) { return c.keeps == kAnything; });
  return cases;
}

INSTANTIATE_TEST_SUITE_P(Filters, FilterResultTest, testing::ValuesIn(FiltersWithAResultToKeep()), CaseName);

// --- Geometry and colour, against simple references ------------------------

struct ReferenceCase {
  std::string name;
  std::function<void(Image&)> apply;
  std::function<Colour(const Image& original, int x, int y)> expected;
  int tolerance;
};

void PrintTo(const ReferenceCase& c, std::ostream* os) { *os << c.name; }

class FilterReferenceTest : public testing::TestWithParam<ReferenceCase> {};

TEST_P(FilterReferenceTest, MatchesOnOddAndEvenSizes) {
  for (const auto& [w, h] : {std::pair{17, 9}, std::pair{16, 10}}) {
    SCOPED_TRACE(std::to_string(w) + " x " + std::to_string(h));
    const Image original = Paint(w, h, Rich);
    Image image = Paint(w, h, Rich);
    GetParam().apply(image);
    EXPECT_TRUE(PixelsNear(
        image, [&](int x, int y) { return GetParam().expected(original, x, y); }, GetParam().tolerance));
  }
}

Colour Same(const Image& o, int x, int y) { return o.GetColorAt(x, y); }
Colour Mapped(const Image& o, int x, int y, const std::function<int(int)>& f) {
  const Colour c = o.GetColorAt(x, y);
  return Rgb(f(Red(c)), f(Green(c)), f(Blue(c)));
}

INSTANTIATE_TEST_SUITE_P(
    Filters, FilterReferenceTest,
    testing::Values(
        ReferenceCase{"FlipHorizontal", [](Image& i) { i.FlipHorizontal(); },
                      [](const Image& o, int x, int y) { return o.GetColorAt(o.Width() - 1 - x, y); }, 0},
        ReferenceCase{"FlipVertical", [](Image& i) { i.FlipVertical(); },
                      [](const Image& o, int x, int y) { return o.GetColorAt(x, o.Height() - 1 - y); }, 0},
        ReferenceCase{
            "Negative", [](Image& i) { i.Negative(); },
            [](const Image& o, int x, int y) { return Mapped(o, x, y, [](int c) { return 255 - c; }); }, 0},
        ReferenceCase{"HueThereAndBack",
                      [](Image& i) {
                        i.hue(100);
                        i.hue(156);
                      },
                      Same, 8},
        // Full turns and neutral arguments change nothing at all.
        ReferenceCase{"NeutralArguments",
                      [](Image& i) {
                        i.hue(256);
                        i.hue(-512);
                        i.saturation(0);
                        i.Blur(0);
                        i.GaussianBlur(-3);
                        i.brightness(0);
                        i.contrast(0);
                        i.Gamma(1.0);
                        i.Gamma(0.0);
                        i.Gamma(-0.5);
                        i.lightness(0);
                        i.Sharpen(0);
                        i.Balance(0x808080);
                        i.Balance(0x7F808080);  // bits above the 24 are ignored
                      },
                      Same, 0},
        // Balance's low byte is red: +64 red, +32 green, -32 blue.
        ReferenceCase{"BalanceShiftsByChannel", [](Image& i) { i.Balance(0x60A0C0); },
                      [](const Image& o, int x, int y) {
                        const Colour c = o.GetColorAt(x, y);
                        const auto clip = [](int v) { return std::clamp(v, 0, 255); };
                        return Rgb(clip(Red(c) + 64), clip(Green(c) + 32), clip(Blue(c) - 32));
                      },
                      0},
        // Gamma above 1 lightens: c = 255 (c / 255)^(1 / g).
        ReferenceCase{"GammaTwoLightens", [](Image& i) { i.Gamma(2.0); },
                      [](const Image& o, int x, int y) {
                        return Mapped(o, x, y, [](int c) {
                          return static_cast<int>(std::lround(255 * std::sqrt(c / 255.0)));
                        });
                      },
                      1},
        ReferenceCase{"SaturationMinus100IsGreyOfTheSameLuma", [](Image& i) { i.saturation(-100); },
                      [](const Image& o, int x, int y) {
                        const Colour c = o.GetColorAt(x, y);
                        return Grey(static_cast<int>(
                            std::lround(0.299 * Red(c) + 0.587 * Green(c) + 0.114 * Blue(c))));
                      },
                      1},
        // A white colour and no lift give the plain grey picture.
        ReferenceCase{"SepiaWhiteIsGrey", [](Image& i) { i.Sepia(0, 0xFFFFFF); },
                      [](const Image& o, int x, int y) {
                        const Colour c = o.GetColorAt(x, y);
                        return Grey(static_cast<int>(
                            std::lround(0.299 * Red(c) + 0.587 * Green(c) + 0.114 * Blue(c))));
                      },
                      1}),
    [](const testing::TestParamInfo<ReferenceCase>& info) { return info.param.name; });

// --- Range limits ---------------------------------------------------------------

// Each filter that clamps its argument, at the end of its range and far
// beyond it: both give the output the model says for the limit. A range
// cut short, or a limit that does not hold, shows in the pixels.
struct LimitCase {
  std::string name;
  std::function<void(Image&)> atLimit;
  std::function<void(Image&)> beyond;
  std::function<Colour(const Image& original, int x, int y)> expected;
  int tolerance;
};
void PrintTo(const LimitCase& c, std::ostream* os) { *os << c.name; }

class FilterLimitTest : public testing::TestWithParam<LimitCase> {};

TEST_P(FilterLimitTest, GivesTheLimitsOutputAtAndBeyondIt) {
  for (const auto& [w, h] : {std::pair{17, 9}, std::pair{16, 10}}) {
    const Image original = Paint(w, h, Rich);
    for (const bool beyond : {false, true}) {
      SCOPED_TRACE(std::to_string(w) + " x " + std::to_string(h) +
                   (beyond ? ", beyond the limit" : ", at the limit"));
      Image image = Paint(w, h, Rich);
      (beyond ? GetParam().beyond : GetParam().atLimit)(image);
      EXPECT_TRUE(PixelsNear(
          image, [&](int x, int y) { return GetParam().expected(original, x, y); }, GetParam().tolerance));
    }
  }
}

int Luma(Colour c) {
  return static_cast<int>(std::lround(0.299 * Red(c) + 0.587 * Green(c) + 0.114 * Blue(c)));
}
int Clip(double v) { return static_cast<int>(std::lround(std::clamp(v, 0.0, 255.0))); }
Colour PerChannel(Colour c, const std::function<int(int)>& f) {
  return Rgb(f(Red(c)), f(Green(c)), f(Blue(c)));
}

// The pixel at (x, y) with the border repeated outward.
Colour Replicated(const Image& o, int x, int y) {
  return o.GetColorAt(std::clamp(x, 0, o.Width() - 1), std::clamp(y, 0, o.Height() - 1));
}
// An index mirrored about the edges (abc|cba) as often as it takes.
int Reflected(int p, int length) {
  while (p < 0 || p >= length) p = p < 0 ? -p - 1 : 2 * length - p - 1;
  return p;
}

// in + a (in - binomial3(in)), the border repeated: Sharpen's unsharp mask.
Colour Sharpened(const Image& o, int x, int y, double amount) {
  const int weights[3] = {1, 2, 1};
  double soft[3] = {};
  for (int dy = -1; dy <= 1; ++dy) {
    for (int dx = -1; dx <= 1; ++dx) {
      const Colour n = Replicated(o, x + dx, y + dy);
      const double w = weights[dx + 1] * weights[dy + 1] / 16.0;
      soft[0] += w * Red(n);
      soft[1] += w * Green(n);
      soft[2] += w * Blue(n);
    }
  }
  const Colour c = o.GetColorAt(x, y);
  return Rgb(Clip(Red(c) + amount * (Red(c) - soft[0])), Clip(Green(c) + amount * (Green(c) - soft[1])),
             Clip(Blue(c) + amount * (Blue(c) - soft[2])));
}

// The mean of the (2r + 1) x (2r + 1) box around (x, y), mirrored at the edges.
Colour BoxMean(const Image& o, int x, int y, int r) {
  double sum[3] = {};
  for (int dy = -r; dy <= r; ++dy) {
    for (int dx = -r; dx <= r; ++dx) {
      const Colour n = o.GetColorAt(Reflected(x + dx, o.Width()), Reflected(y + dy, o.Height()));
      sum[0] += Red(n);
      sum[1] += Green(n);
      sum[2] += Blue(n);
    }
  }
  const double area = (2.0 * r + 1) * (2.0 * r + 1);
  return Rgb(Clip(sum[0] / area), Clip(sum[1] / area), Clip(sum[2] / area));
}

Colour MeanColour(const Image& o) {
  double sum[3] = {};
  for (int y = 0; y < o.Height(); ++y) {
    for (int x = 0; x < o.Width(); ++x) {
      const Colour c = o.GetColorAt(x, y);
      sum[0] += Red(c);
      sum[1] += Green(c);
      sum[2] += Blue(c);
    }
  }
  const double n = static_cast<double>(o.Width()) * o.Height();
  return Rgb(Clip(sum[0] / n), Clip(sum[1] / n), Clip(sum[2] / n));
}

std::vector<LimitCase> LimitCases() {
  const auto fixed = [](Colour colour) { return [colour](const Image&, int, int) { return colour; }; };
  const auto curve = [](std::function<double(int)> f) {
    return [f](const Image& o, int x, int y) {
      return PerChannel(o.GetColorAt(x, y), [&f](int c) { return Clip(f(c)); });
    };
  };
  const Colour tint = Rgb(255, 200, 120);
  const auto sepia = [tint](int lift) {
    return [tint, lift](const Image& o, int x, int y) {
      const int luma = Luma(o.GetColorAt(x, y));
      return Rgb(Clip((luma + lift) * Red(tint) / 255.0), Clip((luma + lift) * Green(tint) / 255.0),
                 Clip((luma + lift) * Blue(tint) / 255.0));
    };
  };
  return {
      {"Brightness255", [](Image& i) { i.brightness(255); }, [](Image& i) { i.brightness(INT_MAX); },
       fixed(Grey(255)), 0},
      {"BrightnessMinus255", [](Image& i) { i.brightness(-255); }, [](Image& i) { i.brightness(INT_MIN); },
       fixed(Grey(0)), 0},
      {"Contrast1000", [](Image& i) { i.contrast(1000); }, [](Image& i) { i.contrast(INT_MAX); },
       curve([](int c) { return 127.5 + (c - 127.5) * 1024.0; }), 1},
      {"ContrastMinus1000", [](Image& i) { i.contrast(-1000); }, [](Image& i) { i.contrast(INT_MIN); },
       curve([](int c) { return 127.5 + (c - 127.5) / 1024.0; }), 1},
      {"Lightness100", [](Image& i) { i.lightness(100); }, [](Image& i) { i.lightness(INT_MAX); },
       fixed(Grey(255)), 0},
      {"LightnessMinus100", [](Image& i) { i.lightness(-100); }, [](Image& i) { i.lightness(INT_MIN); },
       fixed(Grey(0)), 0},
      {"Gamma10", [](Image& i) { i.Gamma(10.0); }, [](Image& i) { i.Gamma(1e6); },
       curve([](int c) { return 255.0 * std::pow(c / 255.0, 0.1); }), 1},
      {"Gamma0_1", [](Image& i) { i.Gamma(0.1); }, [](Image& i) { i.Gamma(1e-6); },
       curve([](int c) { return 255.0 * std::pow(c / 255.0, 10.0); }), 1},
      {"Saturation1000", [](Image& i) { i.saturation(1000); }, [](Image& i) { i.saturation(INT_MAX); },
       [](const Image& o, int x, int y) {
         const Colour c = o.GetColorAt(x, y);
         const double luma = 0.299 * Red(c) + 0.587 * Green(c) + 0.114 * Blue(c);
         return PerChannel(c, [luma](int v) { return Clip(11.0 * v - 10.0 * luma); });
       },
       1},
      {"SaturationMinus100", [](Image& i) { i.saturation(-100); }, [](Image& i) { i.saturation(INT_MIN); },
       [](const Image& o, int x, int y) { return Grey(Luma(o.GetColorAt(x, y))); }, 1},
      {"Sepia255", [tint](Image& i) { i.Sepia(255, tint); }, [tint](Image& i) { i.Sepia(INT_MAX, tint); },
       sepia(255), 1},
      {"SepiaMinus255", [tint](Image& i) { i.Sepia(-255, tint); },
       [tint](Image& i) { i.Sepia(INT_MIN, tint); }, sepia(-255), 1},
      // Each byte shifts its channel by -128 to +127; bits above the 24 are ignored.
      {"BalanceFFFFFF", [](Image& i) { i.Balance(0xFFFFFF); }, [](Image& i) { i.Balance(-1); },
       curve([](int c) { return c + 127.0; }), 0},
      {"Balance0", [](Image& i) { i.Balance(0); }, [](Image& i) { i.Balance(0x7F000000); },
       curve([](int c) { return c - 128.0; }), 0},
      {"Sharpen1000", [](Image& i) { i.Sharpen(1000); }, [](Image& i) { i.Sharpen(INT_MAX); },
       [](const Image& o, int x, int y) { return Sharpened(o, x, y, 10.0); }, 1},
      // A box as large as the picture's longer side.
      {"BlurTheWholeSide", [](Image& i) { i.Blur(std::max(i.Width(), i.Height())); },
       [](Image& i) { i.Blur(INT_MAX); },
       [](const Image& o, int x, int y) { return BoxMean(o, x, y, std::max(o.Width(), o.Height())); }, 1},
      // A sigma of four times the longer side leaves the mean colour.
      {"GaussianBlurFourSides", [](Image& i) { i.GaussianBlur(8 * std::max(i.Width(), i.Height())); },
       [](Image& i) { i.GaussianBlur(INT_MAX); }, [](const Image& o, int, int) { return MeanColour(o); }, 3},
  };
}

INSTANTIATE_TEST_SUITE_P(Filters, FilterLimitTest, testing::ValuesIn(LimitCases()),
                         [](const testing::TestParamInfo<LimitCase>& info) { return info.param.name; });

TEST(HueTest, TurnsRedAroundTheCircle) {
  const std::pair<int, Colour> turns[] = {
      {85, Rgb(0, 255, 0)}, {128, Rgb(0, 255, 255)}, {171, Rgb(0, 0, 255)}};
  for (const auto& [value, expected] : turns) {
    SCOPED_TRACE(value);
    Image image = Paint(2, 2, [](int, int) { return Rgb(255, 0, 0); });
    image.hue(value);
    EXPECT_TRUE(PixelsNear(
        image, [e = expected](int, int) { return e; }, 12));
  }
}

// --- Histogram --------------------------------------------------------------------

TEST(EqualizeTest, SpreadsANarrowHistogramAndKeepsTheOrder) {
  const auto narrow = [](int x, int y) { return Rgb(140 + x / 2, 120 + x / 4, 100 + y); };  // reds ahead
  for (const bool onLuminance : {false, true}) {
    SCOPED_TRACE(onLuminance ? "EqualizeOnLuminance" : "Equalize");
    Image image = Paint(64, 24, narrow);
    onLuminance ? image.EqualizeOnLuminance() : image.Equalize();
    EXPECT_GE(Spread(image), 200);
    for (int x = 1; x < 64; ++x) {
      const Colour left = image.GetColorAt(x - 1, 12), here = image.GetColorAt(x, 12);
      ASSERT_LE(Red(left), Red(here)) << "x " << x;
      if (onLuminance) {
        ASSERT_GE(Red(here) + 2, Blue(here)) << "the hue must stay reddish at x " << x;
      }
    }
  }
}

// --- Blurs ---------------------------------------------------------------------------

// Blur's value is a radius: a white dot spreads over a (2 value + 1) square.
TEST(BlurTest, SpreadsADotOverItsSquare) {
  for (const int radius : {1, 3}) {
    SCOPED_TRACE(radius);
    Image image = Paint(21, 21, [](int x, int y) { return x == 10 && y == 10 ? Grey(255) : Grey(0); });
    image.Blur(radius);
    const int level = static_cast<int>(std::lround(255.0 / ((2 * radius + 1) * (2 * radius + 1))));
    EXPECT_TRUE(PixelsNear(
        image,
        [&](int x, int y) {
          return std::abs(x - 10) <= radius && std::abs(y - 10) <= radius ? Grey(level) : Grey(0);
        },
        1));
  }
}

// Large blurs run on a reduced copy; they must stay close to the real thing.
struct BlurAccuracyCase {
  bool gaussian;
  int value;
};
void PrintTo(const BlurAccuracyCase& c, std::ostream* os) {
  *os << (c.gaussian ? "Gaussian " : "Box ") << c.value;
}

class BlurAccuracyTest : public testing::TestWithParam<BlurAccuracyCase> {};

TEST_P(BlurAccuracyTest, StaysCloseToTheDirectFilter) {
  const auto [gaussian, value] = GetParam();
  Image image = Paint(240, 160, Rich);
  cv::Mat reference = WrapPixels(WorkingImage(image)).clone();
  if (gaussian) {
    const double sigma = value / 2.0;
    cv::GaussianBlur(reference, reference, cv::Size(), sigma, sigma, cv::BORDER_REFLECT);
    image.GaussianBlur(value);
  } else {
    cv::blur(reference, reference, cv::Size(2 * value + 1, 2 * value + 1), cv::Point(-1, -1),
             cv::BORDER_REFLECT);
    image.Blur(value);
  }
  cv::Mat difference;
  cv::absdiff(WrapPixels(WorkingImage(image)), reference, difference);
  double worst = 0;
  cv::minMaxLoc(difference.reshape(1), nullptr, &worst);
  const cv::Scalar mean = cv::mean(difference);
  EXPECT_LE(std::max({mean[0], mean[1], mean[2]}), 1.0);
  EXPECT_LE(worst, 6.0);
}

INSTANTIATE_TEST_SUITE_P(Blurs, BlurAccuracyTest,
                         testing::Values(BlurAccuracyCase{true, 1}, BlurAccuracyCase{true, 6},
                                         BlurAccuracyCase{true, 7}, BlurAccuracyCase{true, 9},
                                         BlurAccuracyCase{true, 20}, BlurAccuracyCase{true, 60},
                                         BlurAccuracyCase{true, 100}, BlurAccuracyCase{false, 30},
                                         BlurAccuracyCase{false, 101}, BlurAccuracyCase{false, 150}),
                         [](const testing::TestParamInfo<BlurAccuracyCase>& info) {
                           return std::string(info.param.gaussian ? "Gaussian" : "Box") +
                                  std::to_string(info.param.value);
                         });

// --- Kernels at an edge -----------------------------------------------------------------

// A vertical step from grey 80 (x < 16) to grey 160. Each kernel filter
// gives left of the edge (x = 15) and right of it (x = 16) a level within
// its bounds, and beyond reach pixels of the edge leaves the step as it was
// (sharpening and relief) or black (edge maps).
struct EdgeCase {
  std::string name;
  std::function<void(Image&)> apply;
  int leftLow, leftHigh, rightLow, rightHigh;
  int reach;
  bool edgeMap;
};

void PrintTo(const EdgeCase& c, std::ostream* os) { *os << c.name; }

class EdgeTest : public testing::TestWithParam<EdgeCase> {};

TEST_P(EdgeTest, ActsAtTheStepOnly) {
  const EdgeCase& c = GetParam();
  Image image = Paint(40, 9, [](int x, int) { return Grey(x < 16 ? 80 : 160); });
  c.apply(image);
  const int left = Red(image.GetColorAt(15, 4)), right = Red(image.GetColorAt(16, 4));
  EXPECT_TRUE(left >= c.leftLow && left <= c.leftHigh) << "left of the edge: " << left;
  EXPECT_TRUE(right >= c.rightLow && right <= c.rightHigh) << "right of the edge: " << right;
  EXPECT_TRUE(PixelsNear(
      image,
      [&](int x, int y) {
        if (x > 15 - c.reach && x < 16 + c.reach)
          return image.GetColorAt(x, y);  // near the edge: not checked
        return Grey(c.edgeMap ? 0 : x < 16 ? 80 : 160);
      },
      1));
}

INSTANTIATE_TEST_SUITE_P(
    Kernels, EdgeTest,
    testing::Values(
        EdgeCase{"EnhanceDetail", [](Image& i) { i.EnhanceDetail(); }, 45, 55, 185, 195, 2, false},
        EdgeCase{"EnhanceFocus", [](Image& i) { i.EnhanceFocus(); }, 0, 5, 235, 245, 2, false},
        EdgeCase{"FocusRestoration", [](Image& i) { i.FocusRestoration(); }, 0, 60, 180, 255, 7, false},
        EdgeCase{"Sharpen50", [](Image& i) { i.Sharpen(50); }, 65, 75, 165, 175, 2, false},
        EdgeCase{"Sharpen255", [](Image& i) { i.Sharpen(255); }, 24, 34, 206, 216, 2, false},
        EdgeCase{"EdgeDetectLight", [](Image& i) { i.EdgeDetectLight(); }, 0, 0, 75, 85, 2, true},
        EdgeCase{"EdgeDetectMedium", [](Image& i) { i.EdgeDetectMedium(); }, 235, 245, 235, 245, 2, true},
        EdgeCase{"EdgeDetectHeavy", [](Image& i) { i.EdgeDetectHeavy(); }, 255, 255, 255, 255, 2, true},
        EdgeCase{"Emboss", [](Image& i) { i.Emboss(); }, 235, 245, 255, 255, 2, false},
        EdgeCase{"EmbossMore", [](Image& i) { i.EmbossMore(); }, 255, 255, 255, 255, 2, false}),
    [](const testing::TestParamInfo<EdgeCase>& info) { return info.param.name; });

// --- Strips of a big picture ---------------------------------------------------------

// A big picture is filtered in strips of rows, in place, on the picture's
// threads. Each filter must give exactly the pixels its plain whole-picture
// OpenCV call gives, kept here as the reference: strip edges, the saved
// rows around them and the picture's own edges all show in the pixels.
// The saturation filter's matrix: each colour moved away from (or toward)
// its grey of the same luma by factor (100 + value) / 100.
cv::Matx44f SaturationMatrix(int value) {
  const float f = (100.0f + static_cast<float>(value)) / 100.0f;
  cv::Matx44f m = cv::Matx44f::eye();
  for (int j = 0; j < 3; ++j) {
    m(j, 0) = (1.0f - f) * 0.114f;
    m(j, 1) = (1.0f - f) * 0.587f;
    m(j, 2) = (1.0f - f) * 0.299f;
    m(j, j) += f;
  }
  return m;
}

namespace whole {

cv::Mat Kernel(std::initializer_list<float> weights, float divisor = 1.0f) {
  cv::Mat kernel(3, 3, CV_32F);
  std::copy(weights.begin(), weights.end(), kernel.ptr<float>());
  return kernel / divisor;
}

void Opaque(cv::Mat& m) { cv::bitwise_or(m, cv::Scalar(0, 0, 0, 255), m); }

void Convolve(cv::Mat& m, const cv::Mat& kernel) {
  cv::filter2D(m, m, -1, kernel, cv::Point(-1, -1), 0.0, cv::BORDER_REPLICATE);
  Opaque(m);
}

void ConvolveAbsolute(cv::Mat& m, double scale) {
  cv::Mat response;
  cv::filter2D(m, response, CV_16S, Kernel({-1, -1, -1, -1, 8, -1, -1, -1, -1}), cv::Point(-1, -1), 0.0,
               cv::BORDER_REPLICATE);
  cv::convertScaleAbs(response, m, scale);
  Opaque(m);
}

void Reduced(cv::Mat& m, int factor, const std::function<void(cv::Mat&, cv::Size)>& blur) {
  const cv::Size size((m.cols + factor - 1) / factor, (m.rows + factor - 1) / factor);
  cv::Mat reduced;
  cv::resize(m, reduced, size, 0, 0, cv::INTER_AREA);
  blur(reduced, size);
  cv::resize(reduced, m, m.size(), 0, 0, cv::INTER_LINEAR);
}

void Gaussian(cv::Mat& m, int value) {
  const double sigma = std::min(value, 8 * std::max(m.cols, m.rows)) / 2.0;
  if (sigma <= 3.0) {
    cv::GaussianBlur(m, m, cv::Size(), sigma, sigma, cv::BORDER_REFLECT);
  } else {
    const int factor = std::max(2, static_cast<int>(sigma / 3.0));
    Reduced(m, factor, [&](cv::Mat& r, cv::Size size) {
      const auto s = [sigma](double scale) {
        return std::sqrt(std::max(0.25, (sigma / scale) * (sigma / scale) - 0.25));
      };
      cv::GaussianBlur(r, r, cv::Size(), s(static_cast<double>(m.cols) / size.width),
                       s(static_cast<double>(m.rows) / size.height), cv::BORDER_REFLECT);
    });
  }
  Opaque(m);
}

void Box(cv::Mat& m, int value) {
  const int radius = std::min(value, std::max(m.cols, m.rows));
  if (radius <= 100) {
    cv::blur(m, m, cv::Size(2 * radius + 1, 2 * radius + 1), cv::Point(-1, -1), cv::BORDER_REFLECT);
    return;
  }
  const int factor = (2 * radius + 99) / 100;
  Reduced(m, factor, [&](cv::Mat& r, cv::Size size) {
    const auto s = [radius](int full, int part) {
      return std::max(1, static_cast<int>(std::lround(static_cast<double>(radius) * part / full)));
    };
    const int rx = s(m.cols, size.width), ry = s(m.rows, size.height);
    cv::blur(r, r, cv::Size(2 * rx + 1, 2 * ry + 1), cv::Point(-1, -1), cv::BORDER_REFLECT);
  });
}

}  // namespace whole

struct StripCase {
  std::string name;
  std::function<void(Image&)> apply;
  std::function<void(cv::Mat&)> reference;
};
void PrintTo(const StripCase& c, std::ostream* os) { *os << c.name; }

std::vector<StripCase> StripCases() {
  using whole::Kernel;
  const auto sharpen = [](double a) {
    cv::Mat identity = cv::Mat::zeros(3, 3, CV_32F);
    identity.at<float>(1, 1) = 1.0f;
    return identity * (1.0 + a) - Kernel({1, 2, 1, 2, 4, 2, 1, 2, 1}, 16.0f) * a;
  };
  std::vector<StripCase> cases = {
      {"EnhanceDetail", [](Image& i) { i.EnhanceDetail(); },
       [](cv::Mat& m) {
         whole::Convolve(m, Kernel({-1, -1, -1, -1, 16, -1, -1, -1, -1}, 8.0f));
       }},
      {"EnhanceFocus", [](Image& i) { i.EnhanceFocus(); },
       [](cv::Mat& m) {
         whole::Convolve(m, Kernel({0, -1, 0, -1, 5, -1, 0, -1, 0}));
       }},
      {"Sharpen_255", [](Image& i) { i.Sharpen(255); },
       [sharpen](cv::Mat& m) { whole::Convolve(m, sharpen(2.55)); }},
      // Weights whose products round in most values: summed in another
      // order or rounded once more per tap, tens of bytes differ.
      {"Sharpen_7", [](Image& i) { i.Sharpen(7); },
       [sharpen](cv::Mat& m) { whole::Convolve(m, sharpen(0.07)); }},
      {"EdgeDetectLight", [](Image& i) { i.EdgeDetectLight(); },
       [](cv::Mat& m) {
         whole::Convolve(m, Kernel({0, -1, 0, -1, 4, -1, 0, -1, 0}));
       }},
      {"EdgeDetectMedium", [](Image& i) { i.EdgeDetectMedium(); },
       [](cv::Mat& m) { whole::ConvolveAbsolute(m, 1.0); }},
      {"EdgeDetectHeavy", [](Image& i) { i.EdgeDetectHeavy(); },
       [](cv::Mat& m) { whole::ConvolveAbsolute(m, 3.0); }},
      {"EmbossMore", [](Image& i) { i.EmbossMore(); },
       [](cv::Mat& m) {
         whole::Convolve(m, Kernel({-2, -1, 0, -1, 1, 1, 0, 1, 2}));
       }},
      {"FocusRestoration", [](Image& i) { i.FocusRestoration(); },
       [](cv::Mat& m) {
         cv::Mat soft;
         cv::GaussianBlur(m, soft, cv::Size(), 2.0, 2.0, cv::BORDER_REPLICATE);
         cv::addWeighted(m, 2.5, soft, -1.5, 0.0, m);
         whole::Opaque(m);
       }},
      {"Equalize", [](Image& i) { i.Equalize(); },
       [](cv::Mat& m) {
         std::vector<cv::Mat> planes;
         cv::split(m, planes);
         for (int c = 0; c < 3; ++c) cv::equalizeHist(planes[c], planes[c]);
         planes[3].setTo(255);
         cv::merge(planes, m);
       }},
      {"EqualizeOnLuminance", [](Image& i) { i.EqualizeOnLuminance(); },
       [](cv::Mat& m) {
         cv::Mat ycrcb, luma;
         cv::cvtColor(m, ycrcb, cv::COLOR_BGR2YCrCb);
         cv::extractChannel(ycrcb, luma, 0);
         cv::equalizeHist(luma, luma);
         cv::insertChannel(luma, ycrcb, 0);
         cv::cvtColor(ycrcb, m, cv::COLOR_YCrCb2BGR, 4);
       }},
      {"Sepia", [](Image& i) { i.Sepia(40, Rgb(255, 200, 120)); },
       [](cv::Mat& m) {
         cv::Mat grey, lut(1, 256, CV_8UC4);
         for (int i = 0; i < 256; ++i) {
           const auto tone = [i](int c) { return cv::saturate_cast<std::uint8_t>((i + 40) * c / 255.0); };
           lut.at<cv::Vec4b>(i) = cv::Vec4b(tone(120), tone(200), tone(255), 255);
         }
         cv::cvtColor(m, grey, cv::COLOR_BGRA2GRAY);
         cv::cvtColor(grey, m, cv::COLOR_GRAY2BGRA);
         cv::LUT(m, lut, m);
       }},
      {"saturation_less50", [](Image& i) { i.saturation(-50); },
       [](cv::Mat& m) { cv::transform(m, m, SaturationMatrix(-50)); }},
      {"saturation_1000", [](Image& i) { i.saturation(1000); },
       [](cv::Mat& m) { cv::transform(m, m, SaturationMatrix(1000)); }},
      {"hue_77", [](Image& i) { i.hue(77); },
       [](cv::Mat& m) {
         cv::Mat hsv, lut(1, 256, CV_8UC3);
         for (int i = 0; i < 256; ++i) {
           const auto same = static_cast<std::uint8_t>(i);
           lut.at<cv::Vec3b>(i) = cv::Vec3b(static_cast<std::uint8_t>((i + 77) & 0xFF), same, same);
         }
         cv::cvtColor(m, hsv, cv::COLOR_BGR2HSV_FULL);
         cv::LUT(hsv, lut, hsv);
         cv::cvtColor(hsv, m, cv::COLOR_HSV2BGR_FULL, 4);
       }},
  };
  // Direct and reduced blurs; Blur 100 reads 100 rows either side.
  for (const int v : {1, 6, 7, 14, 37, 100}) {
    cases.push_back({"GaussianBlur_" + std::to_string(v), [v](Image& i) { i.GaussianBlur(v); },
                     [v](cv::Mat& m) { whole::Gaussian(m, v); }});
  }
  for (const int v : {1, 5, 37, 100, 150}) {
    cases.push_back(
        {"Blur_" + std::to_string(v), [v](Image& i) { i.Blur(v); }, [v](cv::Mat& m) { whole::Box(m, v); }});
  }
  return cases;
}

// Pictures written straight into the bitmap: detail everywhere (so a row
// taken from the wrong place shows), a few flat levels (histograms with
// gaps), one flat colour.
Image BigPicture(int width, int height, int kind) {
  Image image;
  image.CreateBitmap(width, height, 0);
  cv::Mat m = WrapPixels(WorkingImage(image));
  if (kind == 0) {
    cv::RNG rng(static_cast<std::uint64_t>(width) * 31 + height);
    rng.fill(m, cv::RNG::UNIFORM, 0, 256);
    for (int y = 0; y < m.rows; ++y) {
      auto* row = m.ptr<cv::Vec4b>(y);
      for (int x = 0; x < m.cols; ++x) row[x][0] = static_cast<std::uint8_t>((x / 7 + y * 3) % 256);
    }
  } else if (kind == 1) {
    for (int y = 0; y < m.rows; ++y) {
      auto* row = m.ptr<cv::Vec4b>(y);
      for (int x = 0; x < m.cols; ++x) {
        const auto level = static_cast<std::uint8_t>(40 + 50 * ((x / 13 + y / 11) % 3));
        row[x] = cv::Vec4b(level, static_cast<std::uint8_t>(255 - level), 90, 255);
      }
    }
  } else {
    m.setTo(cv::Scalar(30, 140, 220, 255));
  }
  cv::bitwise_or(m, cv::Scalar(0, 0, 0, 255), m);
  return image;
}

class StripTest : public testing::TestWithParam<StripCase> {};

TEST_P(StripTest, GivesTheWholePictureCallsPixels) {
  // Small pictures, a square above the strip threshold, an odd one, a
  // wide one whose bands are shorter than the widest blur's reach, and one
  // wide enough for a wide box to be blurred whole, in bands.
  const std::array<int, 3> shapes[] = {{1, 1, 0},       {37, 21, 0},     {64, 48, 1},
                                       {1031, 1033, 0}, {1283, 819, 1},  {1100, 1000, 2},
                                       {17011, 62, 0},  {2053, 2049, 1}, {2701, 401, 0}};
  for (const auto& [w, h, kind] : shapes) {
    const Image original = BigPicture(w, h, kind);
    cv::Mat expected = WrapConstPixels(ToQImage(original.GetPicture())).clone();
    GetParam().reference(expected);
    for (const int threads : {1, 2, 3}) {
      SCOPED_TRACE(std::to_string(w) + " x " + std::to_string(h) + ", kind " + std::to_string(kind) + ", " +
                   std::to_string(threads) + " threads");
      Image image;
      image.AssignPicture(original.GetPicture());
      SetPictureThreads(threads);
      GetParam().apply(image);
      SetPictureThreads(ProcessorCount());
      cv::Mat got = WrapPixels(WorkingImage(image)), difference;
      cv::absdiff(got, expected, difference);
      std::vector<cv::Point> bad;
      cv::findNonZero(difference.reshape(1), bad);
      ASSERT_TRUE(bad.empty()) << bad.size() << " bytes differ, the first at pixel (" << bad[0].x / 4 << ", "
                               << bad[0].y << ")";
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Filters, StripTest, testing::ValuesIn(StripCases()),
                         [](const testing::TestParamInfo<StripCase>& info) { return info.param.name; });

bool HasAvx2AndFma() {
#if defined(__x86_64__)
  return __builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma");
#else
  return false;
#endif
}

// The sharpening filters' own 3 x 3 loop against filter2D called directly:
// kernels whose products round and exact ones, widths with a remainder
// past the last full vector and without, one row, one to three bands.
TEST(ConvolutionTest, TheOwnLoopGivesFilter2DsBytes) {
  if (!HasAvx2AndFma()) GTEST_SKIP() << "the loop needs AVX2 and FMA";
  using whole::Kernel;
  const auto sharpen = [](double a) {
    cv::Mat identity = cv::Mat::zeros(3, 3, CV_32F);
    identity.at<float>(1, 1) = 1.0f;
    return cv::Mat(identity * (1.0 + a) - Kernel({1, 2, 1, 2, 4, 2, 1, 2, 1}, 16.0f) * a);
  };
  const cv::Mat kernels[] = {sharpen(0.07),
                             sharpen(1.29),
                             sharpen(10.0),
                             Kernel({-1, -1, -1, -1, 16, -1, -1, -1, -1}, 8.0f),
                             Kernel({0, -1, 0, -1, 4, -1, 0, -1, 0}),
                             Kernel({-2, -1, 0, -1, 1, 1, 0, 1, 2})};
  const cv::Size sizes[] = {{1, 1}, {2, 3}, {8, 1}, {37, 21}, {509, 64}, {1031, 7}};
  cv::RNG rng(7);
  for (std::size_t k = 0; k < std::size(kernels); ++k) {
    for (const cv::Size size : sizes) {
      cv::Mat noise(size, CV_8UC4);
      rng.fill(noise, cv::RNG::UNIFORM, 0, 256);
      cv::Mat expected = noise.clone();
      whole::Convolve(expected, kernels[k]);
      for (const int threads : {1, 2, 3}) {
        SCOPED_TRACE("kernel " + std::to_string(k) + ", " + std::to_string(size.width) + " x " +
                     std::to_string(size.height) + ", " + std::to_string(threads) + " threads");
        cv::Mat got = noise.clone();
        Convolve3x3(got, kernels[k], threads);
        ASSERT_EQ(cv::norm(got, expected, cv::NORM_INF), 0.0);
      }
    }
  }
}

// Where the loop can run, OpenCV sums as it does, so the filters use it
// (when this fails, they fall back to filter2D: the same pixels, slower).
TEST(ConvolutionTest, IsUsedOnAProcessorWithAvx2AndFma) {
  if (!HasAvx2AndFma()) GTEST_SKIP() << "the loop needs AVX2 and FMA";
  EXPECT_TRUE(OwnConvolutionMatchesOpenCv());
}

// The saturation filter's own loop against cv::transform called directly,
// and in use where the processor has AVX2 and FMA: widths below, at and
// past a vector of pixels, matrices that round in many values.
TEST(ChannelMixTest, TheOwnLoopGivesTransformsBytesAndIsUsed) {
  if (!HasAvx2AndFma()) GTEST_SKIP() << "the loop needs AVX2 and FMA";
  EXPECT_TRUE(OwnMixMatchesOpenCv());
  cv::RNG rng(11);
  for (const int value : {-100, -50, -3, 34, 1000}) {
    for (const int width : {1, 7, 8, 9, 509}) {
      SCOPED_TRACE("value " + std::to_string(value) + ", width " + std::to_string(width));
      cv::Mat noise(40, width, CV_8UC4), expected;
      rng.fill(noise, cv::RNG::UNIFORM, 0, 256);
      cv::transform(noise, expected, SaturationMatrix(value));
      MixChannels(noise, SaturationMatrix(value));
      ASSERT_EQ(cv::norm(noise, expected, cv::NORM_INF), 0.0);
    }
  }
}

// FocusRestoration's own pass against OpenCV's Gaussian and addWeighted
// called directly, and in use where the processor has AVX2: pictures
// narrower and shorter than the kernel, widths with a remainder past the
// last full vector down and across and without, one to three bands (three
// bands of one row each on a three-row picture).
TEST(UnsharpTest, TheOwnPassGivesOpenCvsBytesAndIsUsed) {
  if (!HasAvx2AndFma()) GTEST_SKIP() << "the pass needs AVX2";
  EXPECT_TRUE(OwnUnsharpMatchesOpenCv());
  const cv::Size sizes[] = {{1, 1}, {2, 3}, {5, 13}, {8, 1}, {12, 40}, {37, 21}, {509, 64}, {1031, 7}};
  cv::RNG rng(13);
  for (const cv::Size size : sizes) {
    cv::Mat noise(size, CV_8UC4), soft, expected;
    rng.fill(noise, cv::RNG::UNIFORM, 0, 256);
    cv::GaussianBlur(noise, soft, cv::Size(), kFocusSigma, kFocusSigma, cv::BORDER_REPLICATE);
    cv::addWeighted(noise, 1.0 + kFocusAmount, soft, -kFocusAmount, 0.0, expected);
    whole::Opaque(expected);
    for (const int threads : {1, 2, 3}) {
      SCOPED_TRACE(std::to_string(size.width) + " x " + std::to_string(size.height) + ", " +
                   std::to_string(threads) + " threads");
      cv::Mat got = noise.clone();
      RestoreFocus(got, threads);
      ASSERT_EQ(cv::norm(got, expected, cv::NORM_INF), 0.0);
    }
  }
}

// EqualizeOnLuminance's own pass against cvtColor there and back: every
// one of the 2^24 colours under a curve that turns the levels round, then
// noise under random curves at widths below, at and past a vector of
// pixels, on one to three bands; and in use where the processor has AVX2.
TEST(LuminanceTest, TheOwnPassGivesCvtColorsBytesForEveryColourAndIsUsed) {
  if (!HasAvx2AndFma()) GTEST_SKIP() << "the pass needs AVX2";
  EXPECT_TRUE(OwnLumaMatchesOpenCv());
  const auto reference = [](const cv::Mat& pixels, const std::array<std::uint8_t, 256>& curve) {
    cv::Mat ycrcb, out;
    cv::cvtColor(pixels, ycrcb, cv::COLOR_BGR2YCrCb);
    std::int64_t otherLuma = 0;
    for (int y = 0; y < ycrcb.rows; ++y) {
      for (int x = 0; x < ycrcb.cols; ++x) {
        std::uint8_t& level = ycrcb.at<cv::Vec3b>(y, x)[0];
        otherLuma += LumaLevel(pixels.at<std::uint32_t>(y, x)) != level;
        level = curve[level];
      }
    }
    EXPECT_EQ(otherLuma, 0) << "pixels whose LumaLevel is not cvtColor's";
    cv::cvtColor(ycrcb, out, cv::COLOR_YCrCb2BGR, 4);
    return out;
  };
  cv::Mat every(4096, 4096, CV_8UC4);
  for (std::uint32_t c = 0; c < (1u << 24); ++c) every.ptr<std::uint32_t>()[c] = 0xFF000000u | c;
  std::array<std::uint8_t, 256> reversed{};
  for (int level = 0; level < 256; ++level)
    reversed[static_cast<std::size_t>(level)] = static_cast<std::uint8_t>(255 - level);
  const cv::Mat expected = reference(every, reversed);
  MapLuma(every, reversed, 2);
  ASSERT_EQ(cv::norm(every, expected, cv::NORM_INF), 0.0);
  cv::RNG rng(17);
  for (const int width : {1, 7, 8, 9, 509}) {
    cv::Mat noise(5, width, CV_8UC4);
    rng.fill(noise, cv::RNG::UNIFORM, 0, 256);
    std::array<std::uint8_t, 256> curve{};
    for (std::uint8_t& level : curve) level = static_cast<std::uint8_t>(rng.uniform(0, 256));
    const cv::Mat want = reference(noise, curve);
    for (const int threads : {1, 2, 3}) {
      SCOPED_TRACE("width " + std::to_string(width) + ", " + std::to_string(threads) + " threads");
      cv::Mat got = noise.clone();
      MapLuma(got, curve, threads);
      ASSERT_EQ(cv::norm(got, want, cv::NORM_INF), 0.0);
    }
  }
}

// OpenCV scales a wide box's sum S by 1 / n in float, but the last values
// of a row (past its last full vector) in double: for a few sums of the
// widest boxes the two land on either side of a half. A big picture blurred
// whole must round them as OpenCV does. Two boxes are made to hold such a
// sum, every other pixel the same level: the box of a row's last pixel,
// its row of 2103 pixels, 8412 values, ending with a pixel past every
// vector width; the box of the pixel before it, past the last full vector
// of 16 or more values but not of 8; and a box well inside the row, which
// OpenCV scales in float.
TEST(BlurTest, AWideBoxRoundsAHalfwaySumAsOpenCVDoes) {
  constexpr int kRadius = 100;
  constexpr std::int64_t n = (2 * kRadius + 1) * (2 * kRadius + 1);
  const auto scale = static_cast<float>(1.0 / n);
  std::int64_t sum = -1;
  for (std::int64_t s = 0; s <= 255 * n && sum < 0; ++s) {
    if (std::lrint(static_cast<float>(s) * scale) != (2 * s + n) / (2 * n)) sum = s;
  }
  ASSERT_GE(sum, 0) << "no sum rounds otherwise in float for this box";
  const int level = static_cast<int>(sum / n);
  Image image;
  image.CreateBitmap(2103, 1400, Rgb(level, level, level));
  cv::Mat pixels = WrapPixels(WorkingImage(image));
  const auto raise = [&](int x, int y) {
    pixels.at<cv::Vec4b>(y, x) = cv::Vec4b(level + 1, level + 1, level + 1, 255);
  };
  // The last pixel's box mirrors the last kRadius columns back into
  // itself: a pixel there counts twice, one in the column before them once.
  const int cx = pixels.cols - 1, cy = 260;
  std::int64_t raised = sum % n;  // pixels one level up in the box
  if (raised % 2 == 1) raise(cx - kRadius, cy);
  raised /= 2;
  for (int y = cy - kRadius; y <= cy + kRadius && raised > 0; ++y) {
    for (int x = cx - kRadius + 1; x <= cx && raised > 0; ++x, --raised) raise(x, y);
  }
  ASSERT_EQ(raised, 0);
  // The box of the pixel before the last mirrors the last kRadius - 1
  // columns back into itself.
  const int bx = cx - 1, by = 1140;
  raised = sum % n;
  if (raised % 2 == 1) raise(bx - kRadius, by);
  raised /= 2;
  for (int y = by - kRadius; y <= by + kRadius && raised > 0; ++y) {
    for (int x = bx - kRadius + 3; x <= cx && raised > 0; ++x, --raised) raise(x, y);
  }
  ASSERT_EQ(raised, 0);
  // Inside the row, rows apart from the other boxes: each pixel counts once.
  const int ix = 1000, iy = 700;
  raised = sum % n;
  for (int y = iy - kRadius; y <= iy + kRadius && raised > 0; ++y) {
    for (int x = ix - kRadius; x <= ix + kRadius && raised > 0; ++x, --raised) raise(x, y);
  }
  // Each box holds the sum, counted as the blur mirrors the edges.
  const auto boxSum = [&](int cx0, int cy0) {
    std::int64_t total = 0;
    for (int y = cy0 - kRadius; y <= cy0 + kRadius; ++y) {
      for (int x = cx0 - kRadius; x <= cx0 + kRadius; ++x) {
        total += pixels.at<cv::Vec4b>(Reflected(y, pixels.rows), Reflected(x, pixels.cols))[0];
      }
    }
    return total;
  };
  ASSERT_EQ(boxSum(cx, cy), sum);
  ASSERT_EQ(boxSum(bx, by), sum);
  ASSERT_EQ(boxSum(ix, iy), sum);
  cv::Mat expected = pixels.clone();
  whole::Box(expected, kRadius);
  const auto grey = [](int v) { return cv::Vec4b(v, v, v, 255); };
  ASSERT_EQ(expected.at<cv::Vec4b>(cy, cx), grey(static_cast<int>((2 * sum + n) / (2 * n))));
  const auto inFloat = grey(static_cast<int>(std::lrint(static_cast<float>(sum) * scale)));
  ASSERT_EQ(expected.at<cv::Vec4b>(iy, ix), inFloat);
  ASSERT_EQ(expected.at<cv::Vec4b>(by, bx), inFloat);
  for (const int threads : {1, 2}) {
    SCOPED_TRACE(std::to_string(threads) + " threads");
    Image blurred;
    blurred.AssignPicture(image.GetPicture());
    SetPictureThreads(threads);
    blurred.Blur(kRadius);
    SetPictureThreads(ProcessorCount());
    const cv::Mat got = WrapPixels(WorkingImage(blurred));
    EXPECT_EQ(got.at<cv::Vec4b>(cy, cx), expected.at<cv::Vec4b>(cy, cx));
    EXPECT_EQ(got.at<cv::Vec4b>(iy, ix), expected.at<cv::Vec4b>(iy, ix));
    EXPECT_EQ(got.at<cv::Vec4b>(by, bx), expected.at<cv::Vec4b>(by, bx));
    EXPECT_EQ(cv::norm(got, expected, cv::NORM_INF), 0.0);
  }
}

}  // namespace
}  // namespace pictovance
