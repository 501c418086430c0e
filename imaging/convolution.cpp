// Convolve3x3: filter2D's float sums for 3 x 3 kernels, see convolution_p.h.
#include "imaging/convolution_p.h"

#if defined(__x86_64__)
#include <immintrin.h>
#endif
#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <opencv2/imgproc.hpp>
#include <vector>

#include "imaging/threads.h"

namespace pictovance {

namespace {

struct Tap {
  int row = 0;     // 0 .. 2: the row above, the row itself, the row below
  int column = 0;  // -1, 0, 1: the pixel to the left, itself, to the right
  float weight = 0.0f;
};

[[maybe_unused]] std::vector<Tap> TapsOf(const cv::Mat& kernel) {
  CV_Assert(kernel.type() == CV_32F && kernel.rows == 3 && kernel.cols == 3);
  std::vector<Tap> taps;
  for (int i = 0; i < 3; ++i) {
    for (int j = 0; j < 3; ++j) {
      if (const float w = kernel.at<float>(i, j); w != 0.0f) taps.push_back({i, j - 1, w});
    }
  }
  return taps;
}

// A widened row: one pixel (4 floats) of margin either side, the edge
// pixel repeated there.
constexpr int kMargin = 4;

#if defined(__x86_64__)

[[gnu::target("avx2")]] void WidenRow(const std::uint8_t* in, float* out, int values) {
  float* const row = out + kMargin;
  int e = 0;
  for (; e + 8 <= values; e += 8) {
    const __m128i bytes = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(in + e));
    _mm256_storeu_ps(row + e, _mm256_cvtepi32_ps(_mm256_cvtepu8_epi32(bytes)));
  }
  for (; e < values; ++e) row[e] = in[e];
  std::memcpy(out, row, kMargin * sizeof(float));
  std::memcpy(row + values, row + values - kMargin, kMargin * sizeof(float));
}

// One output row from three widened rows; alpha bytes come out 255.
[[gnu::target("avx2,fma")]] void ConvolveRow(const std::array<float*, 3>& rows, const std::vector<Tap>& taps,
                                             std::uint8_t* out, int values) {
  std::array<const float*, 9> source{};
  std::array<float, 9> weight{};
  const int count = static_cast<int>(taps.size());
  for (int k = 0; k < count; ++k) {
    const Tap& tap = taps[static_cast<std::size_t>(k)];
    source[k] = rows[tap.row] + kMargin + 4 * tap.column;
    weight[k] = tap.weight;
  }
  const __m256i opaque = _mm256_set1_epi32(static_cast<int>(0xFF000000u));
  const __m256i order = _mm256_setr_epi32(0, 4, 1, 5, 2, 6, 3, 7);
  int e = 0;
  for (; e + 32 <= values; e += 32) {
    const __m256 zero = _mm256_setzero_ps(), w0 = _mm256_set1_ps(weight[0]);
    __m256 s0 = _mm256_fmadd_ps(_mm256_loadu_ps(source[0] + e), w0, zero);
    __m256 s1 = _mm256_fmadd_ps(_mm256_loadu_ps(source[0] + e + 8), w0, zero);
    __m256 s2 = _mm256_fmadd_ps(_mm256_loadu_ps(source[0] + e + 16), w0, zero);
    __m256 s3 = _mm256_fmadd_ps(_mm256_loadu_ps(source[0] + e + 24), w0, zero);
    for (int k = 1; k < count; ++k) {
      const float* const p = source[k] + e;
      const __m256 w = _mm256_set1_ps(weight[k]);
      s0 = _mm256_fmadd_ps(_mm256_loadu_ps(p), w, s0);
      s1 = _mm256_fmadd_ps(_mm256_loadu_ps(p + 8), w, s1);
      s2 = _mm256_fmadd_ps(_mm256_loadu_ps(p + 16), w, s2);
      s3 = _mm256_fmadd_ps(_mm256_loadu_ps(p + 24), w, s3);
    }
    // Round half to even, saturate to 16 then 8 bits (each pack works
    // within 128-bit halves), then put the four-byte groups back in order.
    const __m256i low = _mm256_packs_epi32(_mm256_cvtps_epi32(s0), _mm256_cvtps_epi32(s1));
    const __m256i high = _mm256_packs_epi32(_mm256_cvtps_epi32(s2), _mm256_cvtps_epi32(s3));
    const __m256i bytes = _mm256_permutevar8x32_epi32(_mm256_packus_epi16(low, high), order);
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + e), _mm256_or_si256(bytes, opaque));
  }
  for (; e < values; ++e) {
    float s = std::fmaf(source[0][e], weight[0], 0.0f);
    for (int k = 1; k < count; ++k) s = std::fmaf(source[k][e], weight[k], s);
    out[e] = e % 4 == 3 ? 255 : static_cast<std::uint8_t>(std::clamp(std::nearbyint(s), 0.0f, 255.0f));
  }
}

// The picture is cut into one band per thread; the rows just outside each
// band are saved first, as the band beside it may have written them by the
// time they are read.
void ConvolveInBands(cv::Mat& pixels, const std::vector<Tap>& taps, int threads) {
  const int rows = pixels.rows, values = 4 * pixels.cols;
  const std::size_t rowBytes = static_cast<std::size_t>(values);
  const int bands = std::min(threads, rows);
  const auto bandStart = [&](int t) { return static_cast<int>(std::int64_t{rows} * t / bands); };
  std::vector<std::vector<std::uint8_t>> above(bands), below(bands);
  for (int t = 0; t < bands; ++t) {
    const std::uint8_t* const first = pixels.ptr(std::max(0, bandStart(t) - 1));
    const std::uint8_t* const last = pixels.ptr(std::min(rows - 1, bandStart(t + 1)));
    above[t].assign(first, first + rowBytes);
    below[t].assign(last, last + rowBytes);
  }
  RunInParallel(bands, threads, [&](int t) {
    const int start = bandStart(t), end = bandStart(t + 1);
    const std::size_t widened = rowBytes + 2 * kMargin;
    std::vector<float> ring(3 * widened);
    std::array<float*, 3> widenedRows = {ring.data(), ring.data() + widened, ring.data() + 2 * widened};
    // The source row y as it was: the saved copy beyond the band.
    const auto original = [&](int y) {
      return y < start ? above[t].data() : y >= end ? below[t].data() : pixels.ptr(y);
    };
    WidenRow(above[t].data(), widenedRows[0], values);
    WidenRow(original(start), widenedRows[1], values);
    WidenRow(original(start + 1), widenedRows[2], values);
    for (int y = start; y < end; ++y) {
      ConvolveRow(widenedRows, taps, pixels.ptr(y), values);
      if (y + 1 == end) break;
      std::rotate(widenedRows.begin(), widenedRows.begin() + 1, widenedRows.end());
      WidenRow(original(y + 2), widenedRows[2], values);
    }
  });
}

// A Sharpen kernel of amount 0.07: most products need rounding.
cv::Mat CheckKernel() {
  cv::Mat kernel(3, 3, CV_32F);
  const float weights[9] = {1, 2, 1, 2, 4, 2, 1, 2, 1};
  for (int k = 0; k < 9; ++k) kernel.at<float>(k / 3, k % 3) = -0.07f * weights[k] / 16.0f;
  kernel.at<float>(1, 1) += 1.07f;
  return kernel;
}

bool SameBytesOnNoise() {
  cv::Mat noise(64, 509, CV_8UC4);
  cv::RNG(20261208).fill(noise, cv::RNG::UNIFORM, 0, 256);
  const cv::Mat kernel = CheckKernel();
  cv::Mat expected;
  cv::filter2D(noise, expected, -1, kernel, cv::Point(-1, -1), 0.0, cv::BORDER_REPLICATE);
  cv::bitwise_or(expected, cv::Scalar(0, 0, 0, 255), expected);
  ConvolveInBands(noise, TapsOf(kernel), 1);
  return cv::norm(noise, expected, cv::NORM_INF) == 0.0;
}

}  // namespace

bool OwnConvolutionMatchesOpenCv() {
  __builtin_cpu_init();
  if (!__builtin_cpu_supports("avx2") || !__builtin_cpu_supports("fma")) return false;
  // OpenCV's dispatch follows these (setUseOptimized(false) clears them).
  if (!cv::checkHardwareSupport(CV_CPU_AVX2) || !cv::checkHardwareSupport(CV_CPU_FMA3)) return false;
  static const bool same = SameBytesOnNoise();
  return same;
}

void Convolve3x3(cv::Mat& pixels, const cv::Mat& kernel, int threads) {
  CV_Assert(pixels.type() == CV_8UC4);
  if (pixels.empty()) return;
  ConvolveInBands(pixels, TapsOf(kernel), std::max(1, threads));
}

#else

}  // namespace

bool OwnConvolutionMatchesOpenCv() { return false; }
void Convolve3x3(cv::Mat&, const cv::Mat&, int) { CV_Error(cv::Error::StsNotImplemented, "no AVX2 here"); }

#endif

}  // namespace pictovance
