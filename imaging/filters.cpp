// The filter members: whole-picture operations on the working bitmap, done
// in place by OpenCV over the bitmap's own pixels (B, G, R, 255 bytes).
//
// Every filter writes its result back into the same buffer, so the image's
// pixel cache stays valid. A big picture is filtered in strips of rows on
// the picture's threads, each strip with temporaries of its own size only,
// so a filter needs a few megabytes beside the picture rather than a copy
// of it; the pixels are those of one whole-picture OpenCV call. Filters that mix channels or convolve put the
// alpha byte back to 255 afterwards, because the working kind promises an
// opaque 0xFFRRGGBB pixel to Qt.
#if defined(__SSE2__)
#include <emmintrin.h>
#endif
#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <mutex>
#include <new>
#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>
#include <string>
#include <vector>

#include "imaging/bitmap_p.h"
#include "imaging/channel_mix_p.h"
#include "imaging/convolution_p.h"
#include "imaging/luminance_p.h"
#include "imaging/pixel_runs.h"
#include "imaging/threads.h"
#include "imaging/unsharp_p.h"

namespace pictovance {

namespace {

// Runs body on the working pixels of image (a palette bitmap is converted
// first); an image without bitmap is left alone. OpenCV reports trouble,
// running out of memory above all, with its own exceptions; they leave as
// the image object's one error type.
template <class Body>
void Filter(Image& image, const char* name, Body&& body) {
  QImage& bitmap = WorkingImage(image);
  if (bitmap.isNull()) return;
  cv::Mat pixels = WrapPixels(bitmap);
  try {
    body(pixels);
  } catch (const cv::Exception& e) {
    throw ImageError(e.code == cv::Error::StsNoMem ? kErrorOutOfMemory : kErrorInvalidArgument,
                     std::string(name) + " failed: " + e.what());
  } catch (const std::bad_alloc&) {
    throw ImageError(kErrorOutOfMemory, std::string("Not enough memory for ") + name);
  }
}

// Pictures below this many pixels are filtered on the calling thread.
constexpr std::size_t kStripPixels = std::size_t{1} << 20;

// The threads a filter's own pass over pixels takes.
int ThreadsFor(const cv::Mat& pixels) { return pixels.total() < kStripPixels ? 1 : PictureThreads(); }

// A strip of a big picture holds at most about this many bytes: what an
// operation copies of a strip (cv::transform in place copies its input,
// a colour conversion makes a converted strip) stays small beside the
// picture whatever its size.
constexpr std::size_t kStripBytes = std::size_t{4} << 20;

// Runs op(rows) over strips of rows that together cover rows 0 .. count - 1,
// on the picture's threads. For the pixel-by-pixel operations (each output
// pixel made from the input pixel at its place alone), which OpenCV runs on
// one thread: the result is the same however the rows are cut. In place,
// strip by strip, they also copy a strip where a whole-picture call copies
// the whole picture first; a big picture is therefore cut into strips even
// on one thread.
template <class Op>
void ByRowStrips(const cv::Mat& pixels, Op&& op) {
  const int threads = PictureThreads();
  if (pixels.total() < kStripPixels) {
    op(cv::Range(0, pixels.rows));
    return;
  }
  const std::size_t rowBytes = pixels.elemSize() * static_cast<std::size_t>(pixels.cols);
  const auto bySize =
      static_cast<int>((rowBytes * static_cast<std::size_t>(pixels.rows) + kStripBytes - 1) / kStripBytes);
  const int strips = std::min(pixels.rows, std::max(8 * threads, bySize));
  RunInParallel(strips, threads, [&](int k) {
    op(cv::Range(static_cast<int>(std::int64_t{pixels.rows} * k / strips),
                 static_cast<int>(std::int64_t{pixels.rows} * (k + 1) / strips)));
  });
}

// Runs filter over strips of rows for a neighbourhood filter that reads up
// to halo rows above and below each output row, in place without a copy
// of the whole picture. filter(source, inside, out) gets source, a
// standalone matrix of the picture's rows as they were before any strip
// was written: the strip's rows (inside) and up to halo rows on either
// side, fewer at the picture's top and bottom edge, where OpenCV then
// extrapolates as it does for the whole picture. It writes the strip's
// filtered rows into out. filter2D and blur can be given the region
// source.rowRange(inside): they read the rows around a region as real
// neighbours. GaussianBlur must be run on source itself: on a region it
// leaves its bit-exact fixed-point path for a float one, other pixels.
//
// The picture is cut into one band per thread; each thread first saves the
// halo rows its band reads from its neighbours' bands, then walks its band
// top to bottom in strips through one buffer of strip + 2 halo rows, moving
// the rows the next strip still reads from the end of the buffer to its
// start. Small pictures are filtered from one whole copy.
template <class Body>
void ByRowStripsWithHalo(cv::Mat& pixels, int halo, Body&& filter) {
  const int rows = pixels.rows;
  if (pixels.total() < kStripPixels) {
    const cv::Mat source = pixels.clone();
    filter(source, cv::Range(0, rows), pixels);
    return;
  }
  const int threads = PictureThreads();
  const int bands = std::min(threads, rows);
  const auto bandStart = [&](int t) { return static_cast<int>(std::int64_t{rows} * t / bands); };
  // The rows above and below each band, saved before any band is written.
  std::vector<cv::Mat> above(bands), below(bands);
  RunInParallel(bands, threads, [&](int t) {
    const int start = bandStart(t), end = bandStart(t + 1);
    above[t] = pixels.rowRange(std::max(0, start - halo), start).clone();
    below[t] = pixels.rowRange(end, std::min(rows, end + halo)).clone();
  });
  RunInParallel(bands, threads, [&](int t) {
    const int start = bandStart(t), end = bandStart(t + 1);
    // kStripRows to a strip, fewer when a band holds less than 8 such
    // strips, but never less than 4 halos: the halo rows are filtered again
    // with each strip they border.
    constexpr int kStripRows = 64;
    const int height = std::max({1, 4 * halo, std::min(kStripRows, (end - start + 7) / 8)});
    cv::Mat buffer(height + 2 * halo, pixels.cols, pixels.type());
    const std::size_t rowBytes = pixels.elemSize() * static_cast<std::size_t>(pixels.cols);
    int bufferFirst = 0, bufferEnd = 0;  // the picture rows the buffer holds
    for (int first = start; first < end; first += height) {
      const int last = std::min(end, first + height);
      const int need = std::max(0, first - halo), needEnd = std::min(rows, last + halo);
      // Rows still held (originals of rows already written) move to the start.
      int filled = 0;
      if (bufferEnd > need) {
        filled = bufferEnd - need;
        std::memmove(buffer.ptr(0), buffer.ptr(need - bufferFirst),
                     rowBytes * static_cast<std::size_t>(filled));
      }
      for (int y = need + filled; y < needEnd; ++y) {
        const std::uint8_t* from = y < start  ? above[t].ptr(y - (start - above[t].rows))
                                   : y >= end ? below[t].ptr(y - end)
                                              : pixels.ptr(y);
        std::memcpy(buffer.ptr(y - need), from, rowBytes);
      }
      bufferFirst = need;
      bufferEnd = needEnd;
      const cv::Mat source(needEnd - need, pixels.cols, pixels.type(), buffer.data, buffer.step);
      cv::Mat out = pixels.rowRange(first, last);
      filter(source, cv::Range(first - need, last - need), out);
    }
  });
}

void ForceOpaque(cv::Mat& pixels) {
  ByRowStrips(pixels, [&](cv::Range rows) {
    cv::Mat strip = pixels.rowRange(rows);
    cv::bitwise_or(strip, cv::Scalar(0, 0, 0, 255), strip);
  });
}

// --- Tone curves ---------------------------------------------------------------

using Curve = std::array<std::uint8_t, 256>;

template <class F>
Curve MakeCurve(F f) {
  Curve curve{};
  for (int i = 0; i < 256; ++i) curve[i] = cv::saturate_cast<std::uint8_t>(f(i));
  return curve;
}

// Maps each colour channel through its own curve in one pass; alpha maps
// to 255 whatever it was.
cv::Mat CurvesTable(const Curve& blue, const Curve& green, const Curve& red) {
  cv::Mat lut(1, 256, CV_8UC4);
  auto* entry = lut.ptr<cv::Vec4b>();
  for (int i = 0; i < 256; ++i) entry[i] = cv::Vec4b(blue[i], green[i], red[i], 255);
  return lut;
}

// What cv::LUT(pixels, lut, pixels) gives for 8-bit four-channel pixels and
// a table of 256 four-channel entries, a third of its time: its loop
// for tables of several channels is general, this one a byte look-up each.
void LookUp(cv::Mat& pixels, const cv::Mat& lut) {
  CV_Assert(pixels.type() == CV_8UC4 && lut.type() == CV_8UC4 && lut.total() == 256);
  std::array<Curve, 4> planes{};
  const auto* entry = lut.ptr<cv::Vec4b>();
  for (int i = 0; i < 256; ++i) {
    for (int c = 0; c < 4; ++c) planes[c][i] = entry[i][c];
  }
  const auto& [first, second, third, fourth] = planes;
  for (int y = 0; y < pixels.rows; ++y) {
    std::uint8_t* p = pixels.ptr(y);
    std::uint8_t* const end = p + std::size_t{4} * static_cast<std::size_t>(pixels.cols);
    for (; p != end; p += 4) {
      p[0] = first[p[0]];
      p[1] = second[p[1]];
      p[2] = third[p[2]];
      p[3] = fourth[p[3]];
    }
  }
}

void ApplyCurves(cv::Mat& pixels, const Curve& blue, const Curve& green, const Curve& red) {
  const cv::Mat lut = CurvesTable(blue, green, red);
  ByRowStrips(pixels, [&](cv::Range rows) {
    cv::Mat strip = pixels.rowRange(rows);
    LookUp(strip, lut);
  });
}

// --- Histograms ------------------------------------------------------------------

using Histogram = std::array<std::int64_t, 256>;

// Walks a row of pixels for a count: count(x, n) counts n pixels equal to
// pixel x. Four pixels equal to the last one counted only add to its
// pending run: pictures are made of runs, and counting pixel by pixel there
// adds to one count over and over, each add waiting for the last. On noisy
// rows every pixel is counted on its own.
template <class Count>
void CountRuns(const QRgb* row, int width, Count&& count) {
  QRgb last = row[0];
  int lastAt = 0;
  std::int64_t run = 0;  // pixels equal to last not yet counted
  int x = 0;
  for (; x + 4 <= width; x += 4) {
    if (RunEnd(row, x, x + 4, last) == x + 4) {
      run += 4;
      continue;
    }
    count(lastAt, run);
    run = 0;
    for (int k = 0; k < 4; ++k) count(x + k, 1);
    last = row[x + 3];
    lastAt = x + 3;
  }
  count(lastAt, run);
  for (; x < width; ++x) count(x, 1);
}

// Histograms of Channels levels over the whole picture: countStrip(rows,
// counts) counts a strip of rows, strips on the picture's threads.
template <int Channels, class CountStrip>
std::array<Histogram, Channels> CountInStrips(const cv::Mat& pixels, CountStrip&& countStrip) {
  CV_Assert(pixels.type() == CV_8UC4);
  std::mutex mutex;
  std::array<Histogram, Channels> total{};
  ByRowStrips(pixels, [&](cv::Range rows) {
    std::array<Histogram, Channels> counts{};
    countStrip(rows, counts);
    const std::lock_guard lock(mutex);
    for (int c = 0; c < Channels; ++c) {
      for (int i = 0; i < 256; ++i) total[c][i] += counts[c][i];
    }
  });
  return total;
}

// Counts of the first Channels levels of each pixel; toLevels(strip) gives
// a strip's levels, a CV_8UC(n) matrix of its size, n >= Channels, each
// pixel's levels made from that pixel alone.
template <int Channels, class ToLevels>
std::array<Histogram, Channels> CountLevels(const cv::Mat& pixels, ToLevels&& toLevels) {
  return CountInStrips<Channels>(pixels, [&](cv::Range rows, std::array<Histogram, Channels>& counts) {
    const cv::Mat strip = pixels.rowRange(rows);
    const cv::Mat levels = toLevels(strip);
    const std::ptrdiff_t step = levels.channels();
    for (int y = 0; y < strip.rows; ++y) {
      const std::uint8_t* at = levels.ptr(y);
      CountRuns(strip.ptr<QRgb>(y), strip.cols, [&](int x, std::int64_t n) {
        for (int c = 0; c < Channels; ++c) counts[c][at[step * x + c]] += n;
      });
    }
  });
}

// Counts of the blue, green and red levels of 0xAARRGGBB pixels, taken from
// the pixel itself: a fifth faster on a 9999 x 9999 picture than through a
// matrix of levels.
std::array<Histogram, 3> CountColourLevels(const cv::Mat& pixels) {
  return CountInStrips<3>(pixels, [&](cv::Range rows, std::array<Histogram, 3>& counts) {
    for (int y = rows.start; y < rows.end; ++y) {
      const auto* row = pixels.ptr<QRgb>(y);
      CountRuns(row, pixels.cols, [&](int x, std::int64_t n) {
        const QRgb pixel = row[x];
        for (int c = 0; c < 3; ++c) counts[c][(pixel >> (8 * c)) & 0xFFu] += n;
      });
    }
  });
}

// The curve cv::equalizeHist makes of a plane's histogram: the cumulative
// count past the lowest level present, scaled in float to 0..255 and
// rounded; a plane of one level keeps it.
Curve EqualizingCurve(const Histogram& histogram) {
  Curve curve{};
  std::int64_t pixels = 0;
  for (const std::int64_t n : histogram) pixels += n;
  int i = 0;
  while (i < 255 && histogram[i] == 0) ++i;
  if (histogram[i] == pixels) {
    for (int level = 0; level < 256; ++level) curve[level] = static_cast<std::uint8_t>(level);
    return curve;
  }
  const float scale = 255.0f / static_cast<float>(pixels - histogram[i]);
  std::int64_t sum = 0;
  curve[i] = 0;
  for (++i; i < 256; ++i) {
    sum += histogram[i];
    curve[i] = cv::saturate_cast<std::uint8_t>(static_cast<float>(sum) * scale);
  }
  return curve;
}

void ApplyCurve(cv::Mat& pixels, const Curve& curve) { ApplyCurves(pixels, curve, curve, curve); }

// --- Convolution -----------------------------------------------------------------

// Border pixels repeat outward, so a flat area stays flat up to the edge.
constexpr int kKernelBorder = cv::BORDER_REPLICATE;
// Blurs mirror the picture about its outer edge (abc|cba), which keeps
// large blurs from smearing the edge row inward and which a copy averaged
// down by an integer factor reproduces, so the reduced blurs below agree
// with the direct ones up to the border.
constexpr int kBlurBorder = cv::BORDER_REFLECT;

// The rows a centred kernel of this many rows reads above and below.
int Reach(const cv::Mat& kernel) { return kernel.rows / 2; }

// |kernel * pixels| x scale: both sides of an edge light up.
void ConvolveAbsolute(cv::Mat& pixels, const cv::Mat& kernel, double scale) {
  ByRowStripsWithHalo(pixels, Reach(kernel), [&](const cv::Mat& source, cv::Range inside, cv::Mat& out) {
    cv::Mat response;
    cv::filter2D(source.rowRange(inside), response, CV_16S, kernel, cv::Point(-1, -1), 0.0, kKernelBorder);
    cv::convertScaleAbs(response, out, scale);
    cv::bitwise_or(out, cv::Scalar(0, 0, 0, 255), out);
  });
}

cv::Mat Kernel3(std::initializer_list<float> weights, float divisor = 1.0f) {
  cv::Mat kernel(3, 3, CV_32F);
  std::copy(weights.begin(), weights.end(), kernel.ptr<float>());
  return kernel / divisor;
}

// The 3 x 3 binomial blur [1 2 1]^T [1 2 1] / 16.
cv::Mat Binomial3() { return Kernel3({1, 2, 1, 2, 4, 2, 1, 2, 1}, 16.0f); }

// in + amount x (in - soft): the unsharp mask with a 3 x 3 soft copy.
cv::Mat SharpenKernel(double amount) {
  cv::Mat identity = cv::Mat::zeros(3, 3, CV_32F);
  identity.at<float>(1, 1) = 1.0f;
  return identity * (1.0 + amount) - Binomial3() * amount;
}

void Convolve(cv::Mat& pixels, const cv::Mat& kernel) {
  // filter2D's sums, three times as fast (convolution_p.h).
  if (pixels.type() == CV_8UC4 && kernel.rows == 3 && kernel.cols == 3 && OwnConvolutionMatchesOpenCv()) {
    Convolve3x3(pixels, kernel, ThreadsFor(pixels));
    return;
  }
  ByRowStripsWithHalo(pixels, Reach(kernel), [&](const cv::Mat& source, cv::Range inside, cv::Mat& out) {
    cv::filter2D(source.rowRange(inside), out, -1, kernel, cv::Point(-1, -1), 0.0, kKernelBorder);
    cv::bitwise_or(out, cv::Scalar(0, 0, 0, 255), out);
  });
}

// The rows OpenCV's Gaussian of standard deviation sigma (its kernel size
// chosen by OpenCV for 8-bit pixels: 6 sigma + 1, odd) reads either side.
int GaussianReach(double sigma) { return (cvRound(sigma * 3 * 2 + 1) | 1) / 2; }

// OpenCV's Gaussian blur of pixels in place, strip by strip.
void GaussianInPlace(cv::Mat& pixels, double sigmaX, double sigmaY, int border) {
  ByRowStripsWithHalo(pixels, GaussianReach(sigmaY),
                      [&](const cv::Mat& source, cv::Range inside, cv::Mat& out) {
                        cv::Mat blurred;
                        cv::GaussianBlur(source, blurred, cv::Size(), sigmaX, sigmaY, border);
                        blurred.rowRange(inside).copyTo(out);
                      });
}

// Whether OpenCV's box filter of n pixels (odd, over 256), which scales
// its 32-bit sums S by float(1 / n) in float (in double for a row's last
// few values), always gives S / n rounded, as BoxWhole computes it. Only
// sums next to a half can round otherwise: float's error on S / n stays
// below 3e-5, and a sum 3 away from a half is at least 3 / 2n = 3.7e-5
// from it for kernels of up to 201 x 201 pixels. Some kernels of 165 x 165
// pixels and more round a sum or two otherwise.
bool BoxRoundsExactly(std::int64_t n) {
  const auto scale = static_cast<float>(1.0 / static_cast<double>(n));
  for (std::int64_t k = 0; k < 255; ++k) {
    const std::int64_t half = n * (2 * k + 1) / 2;  // the sum just below k + 1/2
    for (std::int64_t sum = std::max<std::int64_t>(0, half - 3); sum <= half + 4; ++sum) {
      const auto inFloat = static_cast<std::int64_t>(std::lrint(static_cast<float>(sum) * scale));
      if (inFloat != (2 * sum + n) / (2 * n)) return false;
    }
  }
  return true;
}

// How many values at the start of a row of values OpenCV's box filter of
// over 256 pixels scales in float, the rest (past its last vector, whose
// width is OpenCV's business) being scaled in double, which always gives
// S / n rounded; -1 when that could not be told. The width is found once:
// on a picture of 201 rows and 255 pixels (1,020 values, which leave 4,
// 12, 28 or 60 past vectors of 8, 16, 32 or 64), a box of 201 x 201 is
// made to hold a sum that float scaling rounds otherwise at the first
// pixel past each such vector in turn, and that pixel's value tells which
// way OpenCV scaled it.
int BoxFloatValues(int values) {
  static const int lanes = [] {
    constexpr int kRadius = 100, kSide = 2 * kRadius + 1, kWidth = 255, kValues = 4 * kWidth;
    constexpr std::int64_t n = std::int64_t{kSide} * kSide;
    const auto scale = static_cast<float>(1.0 / static_cast<double>(n));
    std::int64_t sum = -1;
    for (std::int64_t k = 0; k < 255 && sum < 0; ++k) {
      const std::int64_t half = n * (2 * k + 1) / 2;
      for (std::int64_t s = std::max<std::int64_t>(0, half - 3); s <= half + 4 && sum < 0; ++s) {
        if (std::lrint(static_cast<float>(s) * scale) != (2 * s + n) / (2 * n)) sum = s;
      }
    }
    if (sum < 0) return 0;
    const auto level = static_cast<int>(sum / n);
    const auto inFloat = static_cast<std::uint8_t>(std::lrint(static_cast<float>(sum) * scale));
    const auto exact = static_cast<std::uint8_t>((2 * sum + n) / (2 * n));
    int found = 4;  // no value past a vector: all in float
    for (const int width : {8, 16, 32, 64}) {
      const int x = (kValues - kValues % width) / 4;
      // How often the box of pixel x, mirrored at the right edge, counts
      // each column; raised pixels in its 201 rows (counted once each
      // down the middle row's box) make up the sum, twice-counted columns
      // first.
      std::vector<int> counts(kWidth, 0);
      for (int c = x - kRadius; c <= x + kRadius; ++c)
        ++counts[static_cast<std::size_t>(cv::borderInterpolate(c, kWidth, cv::BORDER_REFLECT))];
      cv::Mat probe(kSide, kWidth, CV_8UC4, cv::Scalar::all(level));
      std::int64_t left = sum - n * level;
      for (const int weight : {2, 1}) {
        for (int c = 0; c < kWidth; ++c) {
          if (counts[static_cast<std::size_t>(c)] != weight) continue;
          for (int y = 0; y < kSide && left >= weight; ++y, left -= weight) {
            probe.at<cv::Vec4b>(y, c) = cv::Vec4b::all(static_cast<std::uint8_t>(level + 1));
          }
        }
      }
      if (left != 0) return 0;
      cv::Mat out;
      cv::blur(probe, out, cv::Size(kSide, kSide), cv::Point(-1, -1), cv::BORDER_REFLECT);
      const std::uint8_t got = out.at<cv::Vec4b>(kRadius, x)[0];
      if (got == exact && found == width / 2) {
        found = width;  // past this vector, and past the narrower ones
      } else if (got != inFloat) {
        return 0;  // neither, or a wider vector without the narrower
      }
    }
    return found;
  }();
  return lanes == 0 ? -1 : values - values % lanes;
}

// The box blur of (2 rx + 1) x (2 ry + 1) pixels of a whole picture in
// place, mirrored at the edges (abc|cba): cv::blur's pixels, on every
// picture thread, where cv::blur runs on one. Pixels left of floatPixels
// are scaled in float as OpenCV's vector loop does, the rest exactly, as
// its double scaling gives (BoxFloatValues). Each thread takes a band of
// rows, after every band has saved the ry rows above and below it that
// its neighbours write. A band keeps the sum of each column's 2 ry + 1
// rows and moves it down a row at a time, writing each output row at once;
// the source rows it still reads after writing them (the row leaving the
// sums, and rows mirrored at the bottom edge) wait in a ring of ry + 1
// rows, which starts with the saved rows above. About 2 ry rows a thread
// in all.
void BoxWhole(cv::Mat& pixels, int rx, int ry, int floatPixels) {
  CV_Assert(pixels.type() == CV_8UC4);
  const int width = pixels.cols, height = pixels.rows;
  const auto n = static_cast<std::int64_t>(2 * rx + 1) * (2 * ry + 1);
  const int values = 4 * width;
  const auto rowBytes = static_cast<std::size_t>(values);
  const int bands = std::max(1, std::min(PictureThreads(), height / std::max(1, ry)));
  const auto bandStart = [&](int t) { return static_cast<int>(std::int64_t{height} * t / bands); };
  const auto mirror = [](int p, int length) { return cv::borderInterpolate(p, length, cv::BORDER_REFLECT); };
  // Where each output column's horizontal sum reads, mirrored at the edges.
  std::vector<int> columns(static_cast<std::size_t>(width + 2 * rx + 1));
  for (int k = 0; k < width + 2 * rx + 1; ++k) columns[static_cast<std::size_t>(k)] = mirror(k - rx, width);
  // OpenCV's scaling in float.
  const auto scale = static_cast<float>(1.0 / static_cast<double>(n));
  // A band's ring holds source row r (rows start - ry on, mirrored at the
  // top edge) in row (r - start + ry) mod (ry + 1). Bands have ry rows or
  // more, so a band's mirrored rows are its own.
  std::vector<cv::Mat> rings(static_cast<std::size_t>(bands)), below(static_cast<std::size_t>(bands));
  const auto slot = [ry](int r, int start) { return (r - start + ry) % (ry + 1); };
  RunInParallel(bands, bands, [&](int t) {
    const int start = bandStart(t), end = bandStart(t + 1);
    cv::Mat& ring = rings[static_cast<std::size_t>(t)];
    ring.create(ry + 1, width, CV_8UC4);
    for (int r = start - ry; r < start; ++r)
      std::memcpy(ring.ptr(slot(r, start)), pixels.ptr(mirror(r, height)), rowBytes);
    below[static_cast<std::size_t>(t)] = pixels.rowRange(end, std::min(height, end + ry)).clone();
  });
  RunInParallel(bands, bands, [&](int t) {
    const int start = bandStart(t), end = bandStart(t + 1);
    cv::Mat& ring = rings[static_cast<std::size_t>(t)];
    const cv::Mat& down = below[static_cast<std::size_t>(t)];
    // Source row r as it was before any band wrote, where y is the row
    // being written: rows above y (and rows up to ry above it, in the ring)
    // read at step y.
    const auto source = [&](int r, int y) -> const std::uint8_t* {
      if (r < start) return ring.ptr(slot(r, start));
      r = mirror(r, height);
      if (r >= end) return down.ptr(r - end);
      if (r < y) return ring.ptr(slot(r, start));
      return pixels.ptr(r);
    };
    std::vector<std::int32_t> columnSums(rowBytes, 0);
    for (int dy = -ry; dy <= ry; ++dy) {
      const std::uint8_t* row = source(start + dy, start);
      for (int i = 0; i < values; ++i) columnSums[static_cast<std::size_t>(i)] += row[i];
    }
    const std::int32_t* sums = columnSums.data();
    for (int y = start; y < end; ++y) {
      // Row y is kept in the ring (over row y - ry - 1, read for the last
      // time as the row leaving the sums a step ago) before it is written.
      std::memcpy(ring.ptr(slot(y, start)), pixels.ptr(y), rowBytes);
      // Along the row, the box's sum of the column sums, a pixel's four
      // channels at a time.
      std::uint8_t* out = pixels.ptr(y);
#if defined(__SSE2__)
      const int* const from = columns.data();
      const int reach = 2 * rx + 1;
      const auto at = [sums](int column) {
        return _mm_loadu_si128(reinterpret_cast<const __m128i*>(sums + 4 * column));
      };
      const __m128 scales = _mm_set1_ps(scale);
      __m128i total = _mm_setzero_si128();
      for (int k = 0; k < reach; ++k) total = _mm_add_epi32(total, at(from[k]));
      auto* const pixels32 = reinterpret_cast<std::uint32_t*>(out);
      for (int x = 0; x < width; ++x) {
        __m128i level;
        if (x < floatPixels) {
          level = _mm_cvtps_epi32(_mm_mul_ps(_mm_cvtepi32_ps(total), scales));
        } else {
          alignas(16) std::int32_t sum[4];
          _mm_store_si128(reinterpret_cast<__m128i*>(sum), total);
          for (std::int32_t& c : sum) c = static_cast<std::int32_t>((2 * std::int64_t{c} + n) / (2 * n));
          level = _mm_load_si128(reinterpret_cast<const __m128i*>(sum));
        }
        level = _mm_packus_epi16(_mm_packs_epi32(level, level), level);
        pixels32[x] = static_cast<std::uint32_t>(_mm_cvtsi128_si32(level));
        total = _mm_add_epi32(total, _mm_sub_epi32(at(from[x + reach]), at(from[x])));
      }
#else
      std::int32_t total[4] = {};
      for (int k = 0; k <= 2 * rx; ++k) {
        const int x = columns[static_cast<std::size_t>(k)];
        for (int c = 0; c < 4; ++c) total[c] += sums[4 * x + c];
      }
      for (int x = 0; x < width; ++x) {
        const int enter = 4 * columns[static_cast<std::size_t>(x + 2 * rx + 1)];
        const int leave = 4 * columns[static_cast<std::size_t>(x)];
        for (int c = 0; c < 4; ++c) {
          out[4 * x + c] =
              static_cast<std::uint8_t>(x < floatPixels ? std::lrint(static_cast<float>(total[c]) * scale)
                                                        : (2 * total[c] + n) / (2 * n));
          total[c] += sums[enter + c] - sums[leave + c];
        }
      }
#endif
      if (y + 1 < end) {
        const std::uint8_t* entering = source(y + 1 + ry, y + 1);
        const std::uint8_t* leaving = source(y - ry, y + 1);
        std::int32_t* const update = columnSums.data();
        int i = 0;
#if defined(__SSE2__)
        // Sixteen values at a time: the byte differences widened to 16 bits,
        // then to 32 bits, signs kept.
        const __m128i zero = _mm_setzero_si128();
        for (; i + 16 <= values; i += 16) {
          const __m128i in = _mm_loadu_si128(reinterpret_cast<const __m128i*>(entering + i));
          const __m128i gone = _mm_loadu_si128(reinterpret_cast<const __m128i*>(leaving + i));
          const __m128i low = _mm_sub_epi16(_mm_unpacklo_epi8(in, zero), _mm_unpacklo_epi8(gone, zero));
          const __m128i high = _mm_sub_epi16(_mm_unpackhi_epi8(in, zero), _mm_unpackhi_epi8(gone, zero));
          const __m128i parts[4] = {_mm_srai_epi32(_mm_unpacklo_epi16(low, low), 16),
                                    _mm_srai_epi32(_mm_unpackhi_epi16(low, low), 16),
                                    _mm_srai_epi32(_mm_unpacklo_epi16(high, high), 16),
                                    _mm_srai_epi32(_mm_unpackhi_epi16(high, high), 16)};
          for (int k = 0; k < 4; ++k) {
            auto* at = reinterpret_cast<__m128i*>(update + i + 4 * k);
            _mm_storeu_si128(at, _mm_add_epi32(_mm_loadu_si128(at), parts[k]));
          }
        }
#endif
        for (; i < values; ++i) update[i] += entering[i] - leaving[i];
      }
    }
  });
}

// OpenCV's box blur of pixels in place, strip by strip when that costs
// little. Called in place on the whole picture, OpenCV's box filter makes
// no copy of it: it holds 2 ry + 4 rows of 32-bit sums (4 rows' worth of
// pixels each). The strips hold that on every thread, beside a buffer of
// 6 ry rows, about 14 ry rows a thread; for wide boxes on a wide picture
// the whole call on one thread is the smaller one.
void BoxInPlace(cv::Mat& pixels, int rx, int ry, int border) {
  constexpr std::size_t kBoxStripBytes = std::size_t{16} << 20;
  const std::size_t rowBytes = pixels.elemSize() * static_cast<std::size_t>(pixels.cols);
  const auto stripCost =
      static_cast<std::size_t>(PictureThreads()) * (14 * static_cast<std::size_t>(ry) + 16) * rowBytes;
  if (pixels.total() >= kStripPixels && stripCost > kBoxStripBytes) {
    // Kernels of up to 256 pixels OpenCV sums in 16 bits and divides its own way.
    const std::int64_t kernel = std::int64_t{2 * rx + 1} * (2 * ry + 1);
    if (border == cv::BORDER_REFLECT && kernel > 256) {
      // Where float scaling is exact, where the values are scaled makes no difference.
      const int values = 4 * pixels.cols;
      const int floatValues = BoxRoundsExactly(kernel) ? values : BoxFloatValues(values);
      if (floatValues >= 0) {
        BoxWhole(pixels, rx, ry, floatValues / 4);
        return;
      }
    }
    cv::blur(pixels, pixels, cv::Size(2 * rx + 1, 2 * ry + 1), cv::Point(-1, -1), border);
    return;
  }
  ByRowStripsWithHalo(pixels, ry, [&](const cv::Mat& source, cv::Range inside, cv::Mat& out) {
    // The strip's rows as a region of source: OpenCV reads the halo rows
    // around it as real neighbours and writes the strip alone.
    cv::blur(source.rowRange(inside), out, cv::Size(2 * rx + 1, 2 * ry + 1), cv::Point(-1, -1), border);
  });
}

// A Gaussian of standard deviation sigma. Up to kDirectSigma OpenCV's
// separable kernel is cheap (2.5 ms on 800 x 400); beyond it the kernel
// grows to hundreds of taps (270 ms at sigma 50), so the picture is
// averaged down by an integer factor, blurred there and scaled back
// bilinearly. The averaging box and the bilinear tent add a variance of
// about factor^2 / 4, which the small blur leaves out. Against the direct
// blur the result stays within 4 levels (mean under 1).
void GaussianPixels(cv::Mat& pixels, double sigma) {
  constexpr double kDirectSigma = 3.0;
  constexpr double kReducedSigma = 3.0;  // sigma left for the reduced copy (from 1.7 below 2 x this)
  if (sigma <= kDirectSigma) {
    GaussianInPlace(pixels, sigma, sigma, kBlurBorder);
    return;
  }
  const int factor = std::max(2, static_cast<int>(sigma / kReducedSigma));
  const cv::Size reducedSize((pixels.cols + factor - 1) / factor, (pixels.rows + factor - 1) / factor);
  const double scaleX = static_cast<double>(pixels.cols) / reducedSize.width;
  const double scaleY = static_cast<double>(pixels.rows) / reducedSize.height;
  const auto reducedSigma = [sigma](double scale) {
    return std::sqrt(std::max(0.25, (sigma / scale) * (sigma / scale) - 0.25));
  };
  cv::Mat reduced;
  cv::resize(pixels, reduced, reducedSize, 0, 0, cv::INTER_AREA);
  GaussianInPlace(reduced, reducedSigma(scaleX), reducedSigma(scaleY), kBlurBorder);
  cv::resize(reduced, pixels, pixels.size(), 0, 0, cv::INTER_LINEAR);
}

// A box blur of the given radius. OpenCV's box filter costs about the same
// for any radius up to a hundred or so, then grows with the kernel (15 ms
// at radius 800 on 800 x 400); larger boxes are therefore run on a copy
// averaged down so the box there has a radius of at most kDirectRadius / 2,
// and scaled back bilinearly.
void BoxPixels(cv::Mat& pixels, int radius) {
  constexpr int kDirectRadius = 100;
  if (radius <= kDirectRadius) {
    BoxInPlace(pixels, radius, radius, kBlurBorder);
    return;
  }
  const int factor = (2 * radius + kDirectRadius - 1) / kDirectRadius;
  const cv::Size reducedSize((pixels.cols + factor - 1) / factor, (pixels.rows + factor - 1) / factor);
  const auto reducedRadius = [radius](int full, int reduced) {
    return std::max(1, static_cast<int>(std::lround(static_cast<double>(radius) * reduced / full)));
  };
  const int rx = reducedRadius(pixels.cols, reducedSize.width);
  const int ry = reducedRadius(pixels.rows, reducedSize.height);
  cv::Mat reduced;
  cv::resize(pixels, reduced, reducedSize, 0, 0, cv::INTER_AREA);
  BoxInPlace(reduced, rx, ry, kBlurBorder);
  cv::resize(reduced, pixels, pixels.size(), 0, 0, cv::INTER_LINEAR);
}

// --- Colour --------------------------------------------------------------------------

// Rec. 601 luma weights, in the bitmap's B, G, R order.
constexpr float kLumaB = 0.114f, kLumaG = 0.587f, kLumaR = 0.299f;

}  // namespace

// --- Sharpening ----------------------------------------------------------------

void Image::EnhanceDetail() {
  Filter(*this, "EnhanceDetail", [&](cv::Mat& pixels) {
    Convolve(pixels, Kernel3({-1, -1, -1, -1, 16, -1, -1, -1, -1}, 8.0f));
  });
}

void Image::EnhanceFocus() {
  Filter(*this, "EnhanceFocus", [&](cv::Mat& pixels) {
    Convolve(pixels, Kernel3({0, -1, 0, -1, 5, -1, 0, -1, 0}));
  });
}

void Image::FocusRestoration() {
  Filter(*this, "FocusRestoration", [&](cv::Mat& pixels) {
    // OpenCV's bytes in one pass, in place (unsharp_p.h).
    if (OwnUnsharpMatchesOpenCv()) {
      RestoreFocus(pixels, ThreadsFor(pixels));
      return;
    }
    constexpr double kSigma = kFocusSigma, kAmount = kFocusAmount;
    ByRowStripsWithHalo(
        pixels, GaussianReach(kSigma), [&](const cv::Mat& source, cv::Range inside, cv::Mat& out) {
          cv::Mat soft;
          cv::GaussianBlur(source, soft, cv::Size(), kSigma, kSigma, kKernelBorder);
          cv::addWeighted(source.rowRange(inside), 1.0 + kAmount, soft.rowRange(inside), -kAmount, 0.0, out);
          cv::bitwise_or(out, cv::Scalar(0, 0, 0, 255), out);
        });
  });
}

void Image::Sharpen(std::int32_t value) {
  Filter(*this, "Sharpen", [&](cv::Mat& pixels) {
    if (value <= 0) return;
    constexpr std::int32_t kMaxValue = 1000;  // amount 10: every edge already saturates
    Convolve(pixels, SharpenKernel(std::min(value, kMaxValue) / 100.0));
  });
}

// --- Histogram -----------------------------------------------------------------

void Image::Equalize() {
  Filter(*this, "Equalize", [&](cv::Mat& pixels) {
    const auto histograms = CountColourLevels(pixels);
    ApplyCurves(pixels, EqualizingCurve(histograms[0]), EqualizingCurve(histograms[1]),
                EqualizingCurve(histograms[2]));
  });
}

void Image::EqualizeOnLuminance() {
  Filter(*this, "EqualizeOnLuminance", [&](cv::Mat& pixels) {
    // OpenCV's conversions in one pass, in place (luminance_p.h).
    if (OwnLumaMatchesOpenCv()) {
      const auto histogram = CountInStrips<1>(pixels, [&](cv::Range rows, std::array<Histogram, 1>& counts) {
        for (int y = rows.start; y < rows.end; ++y) {
          const auto* row = pixels.ptr<QRgb>(y);
          CountRuns(row, pixels.cols, [&](int x, std::int64_t n) { counts[0][LumaLevel(row[x])] += n; });
        }
      });
      MapLuma(pixels, EqualizingCurve(histogram[0]), ThreadsFor(pixels));
      return;
    }
    const auto toYCrCb = [](const cv::Mat& strip) {
      cv::Mat ycrcb;
      cv::cvtColor(strip, ycrcb, cv::COLOR_BGR2YCrCb);
      return ycrcb;
    };
    const Curve curve = EqualizingCurve(CountLevels<1>(pixels, toYCrCb)[0]);
    ByRowStrips(pixels, [&](cv::Range rows) {
      cv::Mat strip = pixels.rowRange(rows);
      cv::Mat ycrcb = toYCrCb(strip);
      for (int y = 0; y < ycrcb.rows; ++y) {
        auto* p = ycrcb.ptr<cv::Vec3b>(y);
        for (int x = 0; x < ycrcb.cols; ++x) p[x][0] = curve[p[x][0]];
      }
      cv::cvtColor(ycrcb, strip, cv::COLOR_YCrCb2BGR, 4);
    });
  });
}

// --- Colour ----------------------------------------------------------------------

void Image::Negative() {
  Filter(*this, "Negative", [&](cv::Mat& pixels) {
    ByRowStrips(pixels, [&](cv::Range rows) {
      cv::Mat strip = pixels.rowRange(rows);
      cv::bitwise_xor(strip, cv::Scalar(255, 255, 255, 0), strip);
    });
  });
}

void Image::Sepia(std::int32_t level, Colour colour) {
  Filter(*this, "Sepia", [&](cv::Mat& pixels) {
    const int lift = std::clamp(level, -255, 255);
    const auto tone = [lift](int channel) {
      return MakeCurve([lift, channel](int y) { return (y + lift) * channel / 255.0; });
    };
    const auto c = static_cast<std::uint32_t>(colour);
    const cv::Mat lut = CurvesTable(tone((c >> 16) & 0xFF), tone((c >> 8) & 0xFF), tone(c & 0xFF));
    // Grey and tint in one visit of each strip.
    ByRowStrips(pixels, [&](cv::Range rows) {
      cv::Mat strip = pixels.rowRange(rows);
      cv::Mat grey;
      cv::cvtColor(strip, grey, cv::COLOR_BGRA2GRAY);
      cv::cvtColor(grey, strip, cv::COLOR_GRAY2BGRA);
      LookUp(strip, lut);
    });
  });
}

void Image::Balance(std::int32_t value) {
  Filter(*this, "Balance", [&](cv::Mat& pixels) {
    const auto v = static_cast<std::uint32_t>(value);
    const auto shift = [](std::uint32_t byte) {
      const int offset = static_cast<int>(byte & 0xFF) - 128;
      return MakeCurve([offset](int i) { return i + offset; });
    };
    ApplyCurves(pixels, shift(v >> 16), shift(v >> 8), shift(v));
  });
}

void Image::hue(std::int32_t value) {
  Filter(*this, "hue", [&](cv::Mat& pixels) {
    const int turn = ((value % 256) + 256) % 256;
    if (turn == 0) return;
    // The _FULL conversions keep hue in a whole byte, 256 steps to the turn.
    cv::Mat lut(1, 256, CV_8UC3);
    auto* entry = lut.ptr<cv::Vec3b>();
    for (int i = 0; i < 256; ++i) {
      const auto same = static_cast<std::uint8_t>(i);
      entry[i] = cv::Vec3b(static_cast<std::uint8_t>((i + turn) & 0xFF), same, same);
    }
    ByRowStrips(pixels, [&](cv::Range rows) {
      cv::Mat strip = pixels.rowRange(rows);
      cv::Mat hsv;
      cv::cvtColor(strip, hsv, cv::COLOR_BGR2HSV_FULL);
      cv::LUT(hsv, lut, hsv);
      cv::cvtColor(hsv, strip, cv::COLOR_HSV2BGR_FULL, 4);
    });
  });
}

void Image::saturation(std::int32_t value) {
  Filter(*this, "saturation", [&](cv::Mat& pixels) {
    if (value == 0) return;
    // Each colour moves away from (or toward) its own grey of the same luma.
    const float f = (100.0f + static_cast<float>(std::clamp(value, -100, 1000))) / 100.0f;
    const float g = 1.0f - f;
    cv::Matx44f m = cv::Matx44f::zeros();
    for (int row = 0; row < 3; ++row) {
      m(row, 0) = g * kLumaB;
      m(row, 1) = g * kLumaG;
      m(row, 2) = g * kLumaR;
      m(row, row) += f;
    }
    m(3, 3) = 1.0f;
    // cv::transform's sums, ten times as fast (channel_mix_p.h).
    const bool own = pixels.type() == CV_8UC4 && OwnMixMatchesOpenCv();
    ByRowStrips(pixels, [&](cv::Range rows) {
      cv::Mat strip = pixels.rowRange(rows);
      if (own) {
        MixChannels(strip, m);
      } else {
        cv::transform(strip, strip, m);
      }
    });
  });
}

// --- Blur ---------------------------------------------------------------------------

void Image::Blur(std::int32_t value) {
  Filter(*this, "Blur", [&](cv::Mat& pixels) {
    if (value <= 0) return;
    // Past the picture's own size a larger box changes next to nothing.
    const int radius = std::min(value, std::max(pixels.cols, pixels.rows));
    BoxPixels(pixels, radius);
  });
}

void Image::GaussianBlur(std::int32_t value) {
  Filter(*this, "GaussianBlur", [&](cv::Mat& pixels) {
    if (value <= 0) return;
    // A sigma of four times the picture's size already leaves its mean colour.
    const int limit = 8 * std::max(pixels.cols, pixels.rows);
    GaussianPixels(pixels, std::min(value, limit) / 2.0);
    ForceOpaque(pixels);
  });
}

// --- Tone ---------------------------------------------------------------------------

void Image::brightness(std::int32_t value) {
  Filter(*this, "brightness", [&](cv::Mat& pixels) {
    if (value == 0) return;
    const int offset = std::clamp(value, -255, 255);
    ApplyCurve(pixels, MakeCurve([offset](int i) { return i + offset; }));
  });
}

void Image::LogCorrection() {
  Filter(*this, "LogCorrection", [&](cv::Mat& pixels) {
    const double scale = 255.0 / std::log(256.0);
    ApplyCurve(pixels, MakeCurve([scale](int i) { return scale * std::log1p(i); }));
  });
}

void Image::contrast(std::int32_t value) {
  Filter(*this, "contrast", [&](cv::Mat& pixels) {
    if (value == 0) return;
    const double factor = std::exp2(std::clamp(value, -1000, 1000) / 100.0);
    ApplyCurve(pixels, MakeCurve([factor](int i) { return 127.5 + (i - 127.5) * factor; }));
  });
}

void Image::Gamma(double value) {
  Filter(*this, "Gamma", [&](cv::Mat& pixels) {
    // Zero, negative and NaN gammas have no curve; they leave the picture alone.
    if (!(value > 0.0) || value == 1.0) return;
    const double exponent = 1.0 / std::clamp(value, 0.1, 10.0);
    ApplyCurve(pixels, MakeCurve([exponent](int i) { return 255.0 * std::pow(i / 255.0, exponent); }));
  });
}

void Image::lightness(std::int32_t value) {
  Filter(*this, "lightness", [&](cv::Mat& pixels) {
    if (value == 0) return;
    const double t = std::clamp(value, -100, 100) / 100.0;
    const double target = t > 0 ? 255.0 : 0.0;
    ApplyCurve(pixels, MakeCurve([t, target](int i) { return i + (target - i) * std::abs(t); }));
  });
}

// --- Geometry ----------------------------------------------------------------------

void Image::FlipHorizontal() {
  Filter(*this, "FlipHorizontal", [&](cv::Mat& pixels) { cv::flip(pixels, pixels, 1); });
}

void Image::FlipVertical() {
  Filter(*this, "FlipVertical", [&](cv::Mat& pixels) { cv::flip(pixels, pixels, 0); });
}

// --- Edges and relief ---------------------------------------------------------

void Image::EdgeDetectLight() {
  Filter(*this, "EdgeDetectLight", [&](cv::Mat& pixels) {
    Convolve(pixels, Kernel3({0, -1, 0, -1, 4, -1, 0, -1, 0}));
  });
}

void Image::EdgeDetectMedium() {
  Filter(*this, "EdgeDetectMedium", [&](cv::Mat& pixels) {
    ConvolveAbsolute(pixels, Kernel3({-1, -1, -1, -1, 8, -1, -1, -1, -1}), 1.0);
  });
}

void Image::EdgeDetectHeavy() {
  Filter(*this, "EdgeDetectHeavy", [&](cv::Mat& pixels) {
    ConvolveAbsolute(pixels, Kernel3({-1, -1, -1, -1, 8, -1, -1, -1, -1}), 3.0);
  });
}

void Image::Emboss() {
  Filter(*this, "Emboss", [&](cv::Mat& pixels) {
    Convolve(pixels, Kernel3({-1, -1, 0, -1, 1, 1, 0, 1, 1}));
  });
}

void Image::EmbossMore() {
  Filter(*this, "EmbossMore", [&](cv::Mat& pixels) {
    Convolve(pixels, Kernel3({-2, -1, 0, -1, 1, 1, 0, 1, 2}));
  });
}

}  // namespace pictovance
