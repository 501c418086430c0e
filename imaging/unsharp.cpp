// RestoreFocus: OpenCV's fixed-point Gaussian and addWeighted in one pass,
// see unsharp_p.h.
#include "imaging/unsharp_p.h"

#if defined(__x86_64__)
#include <immintrin.h>
#endif
#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <opencv2/imgproc.hpp>
#include <optional>
#include <vector>

#include "imaging/threads.h"

namespace pictovance {

namespace {

// OpenCV's 1-D kernel for the Gaussian, in 256ths: taps[0] the centre,
// taps[d] the weight d pixels (or rows) away either side.
struct FixedKernel {
  int reach = 0;
  std::vector<int> taps;
};

// The reach of the focus kernel (6 sigma + 1 taps): the loops below are
// built for it, so that the compiler unrolls them and keeps the weights in
// registers.
constexpr int kFocusReach = 6;

// The kernel as OpenCV blurs a lone 255 with it across one row: every tap
// below 128 comes back as itself ((255 k + 128) / 256 rounds to k), and the
// centre is what the others leave of 256. Kernels whose sums could
// overflow the 16-bit steps below are refused.
[[maybe_unused]] std::optional<FixedKernel> KernelOf(double sigma) {
  const int size = cvRound(sigma * 6 + 1) | 1;
  const int reach = size / 2;
  if (reach != kFocusReach) return std::nullopt;
  cv::Mat impulse = cv::Mat::zeros(1, 2 * size + 1, CV_8UC1), blurred;
  impulse.at<std::uint8_t>(0, size) = 255;
  cv::GaussianBlur(impulse, blurred, cv::Size(size, 1), sigma, 0.0, cv::BORDER_REPLICATE);
  FixedKernel kernel{reach, std::vector<int>(static_cast<std::size_t>(reach) + 1)};
  int others = 0;
  for (int d = 1; d <= reach; ++d) {
    const int left = blurred.at<std::uint8_t>(0, size - d), right = blurred.at<std::uint8_t>(0, size + d);
    // Byte pairs are summed in one signed 16-bit multiply-add: 2 x 255 x k must fit.
    if (left != right || left > 64) return std::nullopt;
    kernel.taps[static_cast<std::size_t>(d)] = left;
    others += 2 * left;
  }
  kernel.taps[0] = 256 - others;
  if (kernel.taps[0] < 0 || kernel.taps[0] > 127) return std::nullopt;
  return kernel;
}

#if defined(__x86_64__)

// The sums down a column, less 2^15 (so they fit signed 16 bits), for
// values 0 .. values - 1, with the edge pixel repeated reach pixels beyond
// either end. rows: the 2 reach + 1 rows read, top to bottom.
[[gnu::target("avx2")]] void SumDown(const std::vector<const std::uint8_t*>& rows, const FixedKernel& kernel,
                                     std::int16_t* out, int values) {
  constexpr int reach = kFocusReach;
  __m256i weights[reach + 1] = {};
  for (int d = 1; d <= reach; ++d) {
    weights[d] = _mm256_set1_epi8(static_cast<char>(kernel.taps[static_cast<std::size_t>(d)]));
  }
  const std::uint8_t* const centre = rows[static_cast<std::size_t>(reach)];
  const __m256i flip = _mm256_set1_epi16(static_cast<std::int16_t>(0x8000));
  const __m256i zero = _mm256_setzero_si256();
  const __m256i centreWeight = _mm256_set1_epi8(static_cast<char>(kernel.taps[0]));
  int e = 0;
  for (; e + 32 <= values; e += 32) {
    const __m256i c = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(centre + e));
    // Bytes interleaved within each 128-bit half: low holds values 0-7 and
    // 16-23, high 8-15 and 24-31. The 16-bit sums wrap, but the true sum
    // (at most 255 x 256) fits unsigned 16 bits.
    __m256i low = _mm256_maddubs_epi16(_mm256_unpacklo_epi8(c, zero), centreWeight);
    __m256i high = _mm256_maddubs_epi16(_mm256_unpackhi_epi8(c, zero), centreWeight);
#pragma GCC unroll 8
    for (int d = 1; d <= reach; ++d) {
      const __m256i weight = weights[d];
      const __m256i above =
          _mm256_loadu_si256(reinterpret_cast<const __m256i*>(rows[static_cast<std::size_t>(reach - d)] + e));
      const __m256i below =
          _mm256_loadu_si256(reinterpret_cast<const __m256i*>(rows[static_cast<std::size_t>(reach + d)] + e));
      low = _mm256_add_epi16(low, _mm256_maddubs_epi16(_mm256_unpacklo_epi8(above, below), weight));
      high = _mm256_add_epi16(high, _mm256_maddubs_epi16(_mm256_unpackhi_epi8(above, below), weight));
    }
    low = _mm256_xor_si256(low, flip);
    high = _mm256_xor_si256(high, flip);
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + e), _mm256_permute2x128_si256(low, high, 0x20));
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + e + 16), _mm256_permute2x128_si256(low, high, 0x31));
  }
  for (; e < values; ++e) {
    int sum = kernel.taps[0] * centre[e];
    for (int d = 1; d <= reach; ++d) {
      sum += kernel.taps[static_cast<std::size_t>(d)] *
             (rows[static_cast<std::size_t>(reach - d)][e] + rows[static_cast<std::size_t>(reach + d)][e]);
    }
    out[e] = static_cast<std::int16_t>(sum - 32768);
  }
  // The border: the first and last pixel repeated outward.
  for (int m = 1; m <= reach; ++m) {
    std::memcpy(out - 4 * m, out, 4 * sizeof(std::int16_t));
    std::memcpy(out + values - 4 + 4 * m, out + values - 4, 4 * sizeof(std::int16_t));
  }
}

// (5 in - 3 soft) / 2, rounded half to even: t >> 1, plus one where t is
// odd and t >> 1 is odd.
inline int Mask(int in, int soft) {
  const int t = 5 * in - 3 * soft;
  const int half = t >> 1;
  return std::clamp(half + (t & half & 1), 0, 255);
}

// The sums across the column sums (sums: values 0 .. values - 1, with
// reach pixels of border either side), rounded to the blurred value, and
// the mask with the source row; alpha bytes come out 255.
[[gnu::target("avx2")]] void SumAcrossAndMask(const std::int16_t* sums, const FixedKernel& kernel,
                                              const std::uint8_t* in, std::uint8_t* out, int values) {
  constexpr int reach = kFocusReach;
  __m256i weights[reach + 1] = {};
  for (int d = 1; d <= reach; ++d) {
    weights[d] = _mm256_set1_epi16(static_cast<std::int16_t>(kernel.taps[static_cast<std::size_t>(d)]));
  }
  // Each column sum is 2^15 short, and the kernel sums to 256; 2^15 more rounds.
  const __m256i bias = _mm256_set1_epi32(256 * 32768 + 32768);
  const __m256i zero = _mm256_setzero_si256();
  const __m256i one = _mm256_set1_epi16(1);
  const __m128i opaque = _mm_set1_epi32(static_cast<int>(0xFF000000u));
  const __m256i centreWeight = _mm256_set1_epi16(static_cast<std::int16_t>(kernel.taps[0]));
  int e = 0;
  for (; e + 16 <= values; e += 16) {
    const __m256i c = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(sums + e));
    // low holds values 0-3 and 8-11, high 4-7 and 12-15.
    __m256i low = _mm256_add_epi32(bias, _mm256_madd_epi16(_mm256_unpacklo_epi16(c, zero), centreWeight));
    __m256i high = _mm256_add_epi32(bias, _mm256_madd_epi16(_mm256_unpackhi_epi16(c, zero), centreWeight));
#pragma GCC unroll 8
    for (int d = 1; d <= reach; ++d) {
      const __m256i weight = weights[d];
      const __m256i left = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(sums + e - 4 * d));
      const __m256i right = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(sums + e + 4 * d));
      low = _mm256_add_epi32(low, _mm256_madd_epi16(_mm256_unpacklo_epi16(left, right), weight));
      high = _mm256_add_epi32(high, _mm256_madd_epi16(_mm256_unpackhi_epi16(left, right), weight));
    }
    // The packs put values 0 .. 15 back in order.
    const __m256i soft = _mm256_packs_epi32(_mm256_srai_epi32(low, 16), _mm256_srai_epi32(high, 16));
    const __m256i source = _mm256_cvtepu8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(in + e)));
    const __m256i t = _mm256_sub_epi16(_mm256_add_epi16(_mm256_slli_epi16(source, 2), source),
                                       _mm256_add_epi16(_mm256_slli_epi16(soft, 1), soft));
    const __m256i half = _mm256_srai_epi16(t, 1);
    const __m256i rounded = _mm256_add_epi16(half, _mm256_and_si256(_mm256_and_si256(t, half), one));
    const __m256i bytes = _mm256_permute4x64_epi64(_mm256_packus_epi16(rounded, rounded), 0x08);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + e),
                     _mm_or_si128(_mm256_castsi256_si128(bytes), opaque));
  }
  for (; e < values; ++e) {
    int sum = 256 * 32768 + 32768 + kernel.taps[0] * sums[e];
    for (int d = 1; d <= reach; ++d) {
      sum += kernel.taps[static_cast<std::size_t>(d)] * (sums[e - 4 * d] + sums[e + 4 * d]);
    }
    out[e] = e % 4 == 3 ? 255 : static_cast<std::uint8_t>(Mask(in[e], sum >> 16));
  }
}

// One band per thread, each band's outer rows saved first as the band
// beside it may have written them by the time they are read. A band keeps
// the last 2 reach + 1 source rows in a ring, as its own rows are written
// before it has read them for the last time.
void RestoreInBands(cv::Mat& pixels, const FixedKernel& kernel, int threads) {
  const int rows = pixels.rows, values = 4 * pixels.cols, reach = kernel.reach;
  const std::size_t rowBytes = static_cast<std::size_t>(values);
  const int bands = std::min(threads, rows);
  const auto bandStart = [&](int t) { return static_cast<int>(std::int64_t{rows} * t / bands); };
  std::vector<cv::Mat> above(bands), below(bands);
  for (int t = 0; t < bands; ++t) {
    above[t] = pixels.rowRange(std::max(0, bandStart(t) - reach), bandStart(t)).clone();
    below[t] = pixels.rowRange(bandStart(t + 1), std::min(rows, bandStart(t + 1) + reach)).clone();
  }
  RunInParallel(bands, threads, [&](int t) {
    const int start = bandStart(t), end = bandStart(t + 1);
    // Source row y as it was, the edge rows repeated beyond the picture.
    const auto original = [&](int y) -> const std::uint8_t* {
      y = std::clamp(y, 0, rows - 1);
      return y < start  ? above[t].ptr(y - (start - above[t].rows))
             : y >= end ? below[t].ptr(y - end)
                        : pixels.ptr(y);
    };
    const int window = 2 * reach + 1;
    std::vector<std::uint8_t> ring(static_cast<std::size_t>(window) * rowBytes);
    const auto slot = [&](int y) {
      return ring.data() + static_cast<std::size_t>((y - start + window) % window) * rowBytes;
    };
    std::vector<std::int16_t> sums(rowBytes + 8 * static_cast<std::size_t>(reach));
    std::int16_t* const row = sums.data() + 4 * reach;
    std::vector<const std::uint8_t*> read(static_cast<std::size_t>(window));
    for (int y = start - reach; y < start + reach; ++y) std::memcpy(slot(y), original(y), rowBytes);
    for (int y = start; y < end; ++y) {
      std::memcpy(slot(y + reach), original(y + reach), rowBytes);
      for (int j = 0; j < window; ++j) read[static_cast<std::size_t>(j)] = slot(y - reach + j);
      SumDown(read, kernel, row, values);
      SumAcrossAndMask(row, kernel, slot(y), pixels.ptr(y), values);
    }
  });
}

const std::optional<FixedKernel>& FocusKernel() {
  static const std::optional<FixedKernel> kernel = KernelOf(kFocusSigma);
  return kernel;
}

bool SameBytesOnNoise() {
  if (!FocusKernel()) return false;
  cv::Mat noise(64, 509, CV_8UC4), soft, expected;
  cv::RNG(20261208).fill(noise, cv::RNG::UNIFORM, 0, 256);
  cv::GaussianBlur(noise, soft, cv::Size(), kFocusSigma, kFocusSigma, cv::BORDER_REPLICATE);
  cv::addWeighted(noise, 1.0 + kFocusAmount, soft, -kFocusAmount, 0.0, expected);
  cv::bitwise_or(expected, cv::Scalar(0, 0, 0, 255), expected);
  RestoreInBands(noise, *FocusKernel(), 1);
  return cv::norm(noise, expected, cv::NORM_INF) == 0.0;
}

}  // namespace

bool OwnUnsharpMatchesOpenCv() {
  __builtin_cpu_init();
  if (!__builtin_cpu_supports("avx2")) return false;
  static const bool same = SameBytesOnNoise();
  return same;
}

void RestoreFocus(cv::Mat& pixels, int threads) {
  CV_Assert(pixels.type() == CV_8UC4 && FocusKernel());
  if (pixels.empty()) return;
  RestoreInBands(pixels, *FocusKernel(), std::max(1, threads));
}

#else

}  // namespace

bool OwnUnsharpMatchesOpenCv() { return false; }
void RestoreFocus(cv::Mat&, int) { CV_Error(cv::Error::StsNotImplemented, "no AVX2 here"); }

#endif

}  // namespace pictovance
