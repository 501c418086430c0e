#include <gtest/gtest.h>

#include <QImage>
#include <QTemporaryDir>
#include <climits>
#include <cmath>
#include <functional>
#include <set>
#include <string>

#include "imaging/bitmap_p.h"
#include "imaging/image.h"
#include "imaging/threads.h"
#include "imaging/qt_bridge.h"
#include "tests/imaging/pictures.h"

namespace pictovance {
namespace {

using namespace test_pictures;

// Thousands of colours: two smooth ramps, flat blocks, a line every 4th
// row (which a sample taken on a regular 4-pixel grid would miss) and noise.
Colour Rich(int x, int y) {
  if (y % 4 == 2) return Rgb(250, 20, 200);
  const int noise = static_cast<int>(
      ((static_cast<unsigned>(x) * 73856093u ^ static_cast<unsigned>(y) * 19349663u) * 2654435761u) >> 28);
  if ((x / 25 + y / 20) % 5 == 0) return Rgb(30, 160 + noise, 90);
  return Rgb(x * 255 / 199, y * 255 / 119, (x + y) % 256 / 2 + noise);
}

std::set<Colour> ColoursOf(const Image& image) {
  std::set<Colour> colours;
  for (int y = 0; y < image.Height(); ++y) {
    for (int x = 0; x < image.Width(); ++x) colours.insert(image.GetColorAt(x, y));
  }
  return colours;
}

// Mean absolute difference per channel between the pixels of a and b,
// averaged over cells of cell x cell pixels first when cell > 1 (what the
// eye sees of a dithered picture).
double MeanError(const Image& a, const Image& b, int cell = 1) {
  double total = 0;
  int count = 0;
  for (int cy = 0; cy + cell <= a.Height(); cy += cell) {
    for (int cx = 0; cx + cell <= a.Width(); cx += cell) {
      double sum[3] = {};
      for (int y = cy; y < cy + cell; ++y) {
        for (int x = cx; x < cx + cell; ++x) {
          const Colour p = a.GetColorAt(x, y), q = b.GetColorAt(x, y);
          sum[0] += Red(p) - Red(q);
          sum[1] += Green(p) - Green(q);
          sum[2] += Blue(p) - Blue(q);
        }
      }
      for (double s : sum) total += std::abs(s) / (cell * cell);
      count += 3;
    }
  }
  return total / count;
}

testing::AssertionResult SamePixels(const Image& got, const Image& expected) {
  if (got.Width() != expected.Width() || got.Height() != expected.Height()) {
    return testing::AssertionFailure() << "size " << got.Width() << " x " << got.Height();
  }
  for (int y = 0; y < got.Height(); ++y) {
    for (int x = 0; x < got.Width(); ++x) {
      if (got.GetColorAt(x, y) != expected.GetColorAt(x, y)) {
        return testing::AssertionFailure()
               << "pixel (" << x << ", " << y << ") is 0x" << std::hex << got.GetColorAt(x, y)
               << ", expected 0x" << expected.GetColorAt(x, y);
      }
    }
  }
  return testing::AssertionSuccess();
}

class ReductionTest : public testing::TestWithParam<std::tuple<int, bool>> {};

TEST_P(ReductionTest, LeavesAtMostNColoursCloseToThePicture) {
  const auto [n, dither] = GetParam();
  const Image original = Paint(200, 120, Rich);
  ASSERT_GT(ColoursOf(original).size(), 1000u);
  Image image = Paint(200, 120, Rich);
  image.ChangeColorDepth(n, 1, dither ? 1 : 0);
  EXPECT_EQ(image.BitmapType(), 1);
  EXPECT_EQ(image.Width(), 200);
  EXPECT_EQ(image.Height(), 120);
  EXPECT_LE(ToQImage(image.GetPicture()).colorCount(), n);
  const std::set<Colour> colours = ColoursOf(image);
  EXPECT_LE(colours.size(), static_cast<std::size_t>(n));
  if (n == 216) {
    for (Colour c : colours) {
      ASSERT_TRUE(Red(c) % 51 == 0 && Green(c) % 51 == 0 && Blue(c) % 51 == 0) << std::hex << c;
    }
  } else {
    EXPECT_GE(colours.size(), static_cast<std::size_t>(n) / 2) << "the palette should be put to use";
  }
  // Seen from a little distance the picture is still the same picture. The
  // cube's levels lie 51 apart, so undithered it is off by about 13.
  const double bound = n == 216 && !dither ? 14.0 : 96.0 / n + 3.0;
  EXPECT_LT(MeanError(image, original, 4), bound);
  // The line on every 4th row keeps its colour, or nearly.
  const Colour line = image.GetColorAt(100, 62);
  EXPECT_LE(std::abs(Red(line) - 250) + std::abs(Green(line) - 20) + std::abs(Blue(line) - 200),
            n < 64 || n == 216 ? 120 : 60)
      << std::hex << line;
}

// Without dithering each pixel takes the palette colour nearest to it.
class PlainReductionTest : public testing::TestWithParam<int> {};

TEST_P(PlainReductionTest, PicksTheNearestPaletteColour) {
  const int n = GetParam();
  const Image original = Paint(200, 120, Rich);
  Image image = Paint(200, 120, Rich);
  image.ChangeColorDepth(n, 1, 0);
  const QVector<QRgb> table = ToQImage(image.GetPicture()).colorTable();
  const auto distance = [](Colour c, QRgb p) {
    const int dr = Red(c) - qRed(p), dg = Green(c) - qGreen(p), db = Blue(c) - qBlue(p);
    return dr * dr + dg * dg + db * db;
  };
  for (int y = 0; y < 120; ++y) {
    for (int x = 0; x < 200; ++x) {
      const Colour want = original.GetColorAt(x, y), got = image.GetColorAt(x, y);
      int best = INT_MAX;
      for (const QRgb entry : table) best = std::min(best, distance(want, entry));
      ASSERT_EQ(distance(want, qRgb(Red(got), Green(got), Blue(got))), best)
          << "pixel (" << x << ", " << y << ") 0x" << std::hex << want << " became 0x" << got;
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Counts, PlainReductionTest, testing::Values(2, 16, 64, 216, 256));

INSTANTIATE_TEST_SUITE_P(CountsAndDithering, ReductionTest,
                         testing::Combine(testing::Values(16, 32, 64, 128, 216, 256), testing::Bool()),
                         [](const testing::TestParamInfo<std::tuple<int, bool>>& info) {
                           return std::to_string(std::get<0>(info.param)) +
                                  (std::get<1>(info.param) ? "Dithered" : "Plain");
                         });

// Dithering trades pixel accuracy for area accuracy: on a smooth ramp the
// average colour of each 8 x 8 cell comes out closer than without it.
TEST(ReductionDitherTest, DitheringKeepsAreasTruerOnARamp) {
  for (const int n : {16, 216}) {
    SCOPED_TRACE(n);
    const auto ramp = [](int x, int y) { return Rgb(x, (x + y) / 2, 255 - x); };
    const Image original = Paint(256, 64, ramp);
    Image plain = Paint(256, 64, ramp), dithered = Paint(256, 64, ramp);
    plain.ChangeColorDepth(n, 1, 0);
    dithered.ChangeColorDepth(n, 1, 1);
    EXPECT_LT(MeanError(dithered, original, 8), MeanError(plain, original, 8));
  }
}

// On a flat field the dithered pixels average out to the field's colour in
// every channel: the error spread to the neighbours is rounded, not cut.
TEST(ReductionDitherTest, AFlatFieldKeepsItsMeanInEveryChannel) {
  for (const Colour colour : {Rgb(100, 130, 180), Rgb(180, 100, 130), Rgb(130, 180, 100)}) {
    SCOPED_TRACE(colour);
    Image image = Paint(128, 128, [colour](int, int) { return colour; });
    image.ChangeColorDepth(216, 1, 1);
    double sum[3] = {};
    for (int y = 0; y < 128; ++y) {
      for (int x = 0; x < 128; ++x) {
        const Colour c = image.GetColorAt(x, y);
        sum[0] += Red(c);
        sum[1] += Green(c);
        sum[2] += Blue(c);
      }
    }
    const int expected[3] = {Red(colour), Green(colour), Blue(colour)};
    for (int c = 0; c < 3; ++c) EXPECT_NEAR(sum[c] / (128 * 128), expected[c], 0.25) << "channel " << c << " (R, G, B)";
  }
}

// A picture of exactly `colours` colours, asked to keep `count`: kept
// pixel for pixel when they fit (256 is the most a palette holds), cut
// down to count otherwise.
struct ExactCase {
  int colours;
  int count;
  bool kept;
};
class ExactColoursTest : public testing::TestWithParam<ExactCase> {};

TEST_P(ExactColoursTest, KeepsThemWhenTheyFit) {
  const int colours = GetParam().colours;
  const auto pixel = [colours](int x, int y) {
    const int i = (y * 16 + x) % colours;
    return Rgb(i, 255 - i, (i * 37) % 256);
  };
  Image image = Paint(16, 16, pixel);
  ASSERT_EQ(ColoursOf(image).size(), static_cast<std::size_t>(colours));
  image.ChangeColorDepth(GetParam().count, 1, 0);
  EXPECT_EQ(image.BitmapType(), 1);
  if (GetParam().kept) {
    EXPECT_TRUE(SamePixels(image, Paint(16, 16, pixel)));
  } else {
    EXPECT_LE(ColoursOf(image).size(), static_cast<std::size_t>(std::min(GetParam().count, 256)));
  }
}

INSTANTIATE_TEST_SUITE_P(Limits, ExactColoursTest,
                         testing::Values(ExactCase{256, 256, true}, ExactCase{256, 257, true},
                                         ExactCase{256, 255, false}, ExactCase{255, 255, true},
                                         ExactCase{255, 254, false}),
                         [](const testing::TestParamInfo<ExactCase>& info) {
                           return std::to_string(info.param.colours) + "ColoursTo" +
                                  std::to_string(info.param.count);
                         });

// A big palette bitmap goes back to the working kind as Qt converts it,
// indices past the colour table and colours that are not opaque included.
TEST(ReductionTest, ABigPaletteBitmapConvertsBackAsQtConvertsIt) {
  QImage palette(2100, 2001, QImage::Format_Indexed8);
  ASSERT_FALSE(palette.isNull());
  palette.setColorTable({qRgb(10, 20, 30), qRgba(200, 100, 50, 128), qRgba(0, 0, 0, 0), qRgb(255, 255, 255)});
  for (int y = 0; y < palette.height(); ++y) {
    uchar* row = palette.scanLine(y);
    for (int x = 0; x < palette.width(); ++x) row[x] = static_cast<uchar>((x / 7 + y * 3) % 256);
  }
  const QImage expected = palette.convertToFormat(QImage::Format_RGB32);
  const QImage converted = ToWorkingFormat(palette);
  ASSERT_EQ(converted.format(), QImage::Format_RGB32);
  EXPECT_TRUE(converted == expected);
}

// A big picture of few colours, some of which first appear far down, is
// indexed by them exactly, its table in the order a scan row by row first
// meets them, as a small one is.
TEST(ReductionTest, ABigPictureKeepsItsColoursInTheOrderFirstMet) {
  constexpr int width = 2100, height = 2001;
  const auto kindOf = [](int x, int y) {
    return y < height / 3 ? (x / 50 + y / 40) % 7 : 7 + (x / 30 + 2 * y) % 50;
  };
  const auto colourOf = [](int k) { return Rgb(k * 5, 255 - k * 3, (k * 37) % 256); };
  const auto pixel = [&](int x, int y) { return colourOf(kindOf(x, y)); };
  Image image = Paint(width, height, pixel);
  QVector<QRgb> firstMet;
  std::vector<bool> met(57, false);
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      const int k = kindOf(x, y);
      if (met[static_cast<std::size_t>(k)]) continue;
      met[static_cast<std::size_t>(k)] = true;
      const Colour c = colourOf(k);
      firstMet.push_back(qRgb(c & 0xFF, (c >> 8) & 0xFF, (c >> 16) & 0xFF));
    }
  }
  ASSERT_EQ(firstMet.size(), 57);
  image.ChangeColorDepth(64, 1, 0);
  ASSERT_EQ(image.BitmapType(), 1);
  EXPECT_EQ(ToQImage(image.GetPicture()).colorTable(), firstMet);
  EXPECT_TRUE(SamePixels(image, Paint(width, height, pixel)));
}

// A big picture of many colours maps to the same palette indices on one
// thread as on three, for an adaptive palette and the colour cube, plain
// and dithered.
TEST(ReductionTest, ABigPictureMapsTheSameOnAnyNumberOfThreads) {
  const auto pixel = [](int x, int y) { return Rgb(x % 256, (y * 3) % 256, (x * y / 97) % 256); };
  const Image source = Paint(2100, 2001, pixel);
  for (const int count : {64, 216}) {
    for (const int dither : {0, 1}) {
      SCOPED_TRACE(testing::Message() << count << " colours, dither " << dither);
      Image one, three;
      one.AssignPicture(source.GetPicture());
      three.AssignPicture(source.GetPicture());
      SetPictureThreads(1);
      one.ChangeColorDepth(count, 1, dither);
      SetPictureThreads(3);
      three.ChangeColorDepth(count, 1, dither);
      SetPictureThreads(ProcessorCount());
      const QImage a = ToQImage(one.GetPicture()), b = ToQImage(three.GetPicture());
      ASSERT_EQ(a.format(), QImage::Format_Indexed8);
      EXPECT_TRUE(a == b);
    }
  }
}

// A picture no other image shares is reduced in its own memory and turned
// back in it; one shared with a Picture gets a new bitmap. Both give the
// same pixels, whether the colours are kept, looked up in the cube or in
// an adaptive palette, plain or dithered, small or split into bands.
TEST(ReductionTest, APictureReducedInItsOwnMemoryGivesThePixelsOfANewBitmap) {
  const auto few = [](int x, int y) { return Rgb(40 * ((x / 9 + y / 5) % 6), 200, 90); };
  const auto rich = [](int x, int y) { return Rgb(x % 256, (y * 3) % 256, (x * y / 97) % 256); };
  const std::function<Colour(int, int)> pictures[] = {few, rich};
  for (const auto& [width, height] : {std::pair{37, 23}, std::pair{2100, 2001}}) {
    for (const auto& pixel : pictures) {
      const Image source = Paint(width, height, pixel);
      for (const int count : {64, 216}) {
        for (const int dither : {0, 1}) {
          SCOPED_TRACE(testing::Message() << width << " x " << height << ", " << count << " colours, dither "
                                          << dither << (&pixel == &pictures[0] ? ", few" : ", rich"));
          Image alone = Paint(width, height, pixel), shared;
          shared.AssignPicture(source.GetPicture());
          const uchar* const memory = WorkingImage(alone).constBits();
          alone.ChangeColorDepth(count, 1, dither);
          shared.ChangeColorDepth(count, 1, dither);
          {
            const QImage a = ToQImage(alone.GetPicture()), b = ToQImage(shared.GetPicture());
            ASSERT_EQ(a.format(), QImage::Format_Indexed8);
            EXPECT_TRUE(a == b);
            EXPECT_EQ(a.constBits(), memory) << "reduced into a new bitmap";
          }  // a picture still held would have to keep its pixels
          alone.ChangeColorDepth(64, 0, 0);
          shared.ChangeColorDepth(64, 0, 0);
          EXPECT_TRUE(SamePixels(alone, shared));
          EXPECT_EQ(WorkingImage(alone).constBits(), memory) << "turned back into a new bitmap";
        }
      }
      EXPECT_TRUE(SamePixels(source, Paint(width, height, pixel))) << "a shared picture was written over";
    }
  }
}

TEST(ReductionTest, APictureOfAPaletteBitmapKeepsItsPixelsWhenTheBitmapTurnsBack) {
  Image image = Paint(37, 23, Rich);
  image.ChangeColorDepth(16, 1, 0);
  const QImage held = ToQImage(image.GetPicture());
  const QImage expected = held.copy();
  image.ChangeColorDepth(64, 0, 0);
  image.SetLineColor(0);
  image.DrawLine(0, 0, 36, 22);
  EXPECT_TRUE(held == expected);
}

TEST(ReductionTest, PictureWithFewColoursKeepsThemExactly) {
  const auto blocks = [](int x, int y) {
    const Colour colours[] = {0x102030, 0xFFFFFF, 0x000000, 0x8040C0, 0x11AA22};
    return colours[(x / 5 + y / 3) % 5];
  };
  for (const int dither : {0, 1}) {
    SCOPED_TRACE(dither);
    Image image = Paint(31, 17, blocks);
    image.ChangeColorDepth(16, 1, dither);
    EXPECT_EQ(image.BitmapType(), 1);
    EXPECT_TRUE(SamePixels(image, Paint(31, 17, blocks)));
  }
}

TEST(ReductionTest, CountsOutsideTwoTo256AreClamped) {
  const std::pair<int, std::size_t> counts[] = {{INT_MIN, 2}, {0, 2},     {1, 2},
                                                {2, 2},       {257, 256}, {INT_MAX, 256}};
  for (const auto& [count, most] : counts) {
    SCOPED_TRACE(count);
    Image image = Paint(120, 80, Rich);
    image.ChangeColorDepth(count, 1, 0);
    EXPECT_EQ(image.BitmapType(), 1);
    const std::size_t used = ColoursOf(image).size();
    EXPECT_LE(used, most);
    EXPECT_GE(used, 2u);
  }
}

TEST(ReductionTest, EdgeSizedAndEmptyPictures) {
  for (const auto& [w, h] : {std::pair{1, 1}, std::pair{1, 9}, std::pair{9, 1}, std::pair{2, 2}}) {
    for (const int n : {16, 216}) {
      SCOPED_TRACE(std::to_string(w) + " x " + std::to_string(h) + ", " + std::to_string(n));
      Image image = Paint(w, h, Rich);
      image.ChangeColorDepth(n, 1, 1);
      EXPECT_EQ(image.BitmapType(), 1);
      EXPECT_EQ(image.Width(), w);
      EXPECT_EQ(image.Height(), h);
    }
  }
  Image empty;
  empty.ChangeColorDepth(16, 1, 1);
  EXPECT_EQ(empty.BitmapType(), 0);
}

TEST(ReductionTest, UnknownKindsAreRefused) {
  for (const int kind : {-1, 2, 3, 5, 8}) {
    SCOPED_TRACE(kind);
    Image image = Paint(4, 4, Rich);
    try {
      image.ChangeColorDepth(16, kind, 0);
      ADD_FAILURE() << "no error raised";
    } catch (const ImageError& e) {
      EXPECT_EQ(e.Number(), kErrorInvalidArgument);
    }
    EXPECT_EQ(image.BitmapType(), 4);
  }
}

// The program goes on with a reduced picture: it reads, draws, filters,
// scales, pads, shares, saves and converts it back.
class ReducedPictureTest : public testing::Test {
 protected:
  void SetUp() override {
    m_image = Paint(40, 30, Rich);
    m_image.ChangeColorDepth(32, 1, 1);
    ASSERT_EQ(m_image.BitmapType(), 1);
    m_reduced.AssignPicture(m_image.GetPicture());
  }
  Image m_image;
  Image m_reduced;  // a copy of the reduced picture, for comparison
};

TEST_F(ReducedPictureTest, ReadsPaletteColoursAndConvertsBackUnchanged) {
  std::set<Colour> table;
  for (const QRgb entry : ToQImage(m_image.GetPicture()).colorTable())
    table.insert(Rgb(qRed(entry), qGreen(entry), qBlue(entry)));
  for (const Colour c : ColoursOf(m_image))
    EXPECT_EQ(table.count(c), 1u) << std::hex << c << " is not in the palette";
  for (const int kind : {0, 4}) {
    SCOPED_TRACE(kind);
    Image image;
    image.AssignPicture(m_image.GetPicture());
    image.ChangeColorDepth(64, kind, 0);
    EXPECT_EQ(image.BitmapType(), 4);
    EXPECT_TRUE(SamePixels(image, m_reduced));
  }
}

TEST_F(ReducedPictureTest, DrawingConvertsToTheWorkingKindAndKeepsTheRest) {
  m_image.SetLineColor(Rgb(1, 2, 3));
  m_image.DrawPoint(5, 6);
  EXPECT_EQ(m_image.BitmapType(), 4);
  EXPECT_EQ(m_image.GetColorAt(5, 6), Rgb(1, 2, 3));
  m_reduced.ChangeColorDepth(0, 0, 0);
  m_reduced.SetLineColor(Rgb(1, 2, 3));
  m_reduced.DrawPoint(5, 6);
  EXPECT_TRUE(SamePixels(m_image, m_reduced));
}

TEST_F(ReducedPictureTest, FiltersAndGeometryWork) {
  m_image.Negative();
  EXPECT_EQ(m_image.BitmapType(), 4);
  EXPECT_EQ(m_image.GetColorAt(7, 7), 0xFFFFFF ^ m_reduced.GetColorAt(7, 7));

  Image scaled, padded;
  scaled.AssignPicture(m_reduced.GetPicture());
  scaled.Resize(80, 60);
  EXPECT_EQ(scaled.BitmapType(), 4);
  EXPECT_EQ(scaled.Width(), 80);
  padded.AssignPicture(m_reduced.GetPicture());
  padded.ResizeCanvas(50, 40, 0, 0x123456);
  EXPECT_EQ(padded.GetColorAt(9, 9), m_reduced.GetColorAt(9, 9));
  EXPECT_EQ(padded.GetColorAt(45, 35), 0x123456);
}

TEST_F(ReducedPictureTest, SavesAndLoadsBackTheSamePixels) {
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  const std::string path = dir.filePath("reduced.png").toStdString();
  m_image.SaveBitmap(path);
  Image loaded;
  loaded.LoadBitmap(path);
  EXPECT_TRUE(SamePixels(loaded, m_reduced));
}

TEST_F(ReducedPictureTest, ReducesAgainToFewerColours) {
  m_image.ChangeColorDepth(4, 1, 0);
  EXPECT_EQ(m_image.BitmapType(), 1);
  EXPECT_LE(ColoursOf(m_image).size(), 4u);
}

}  // namespace
}  // namespace pictovance
