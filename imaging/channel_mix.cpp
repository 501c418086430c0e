// MixChannels: cv::transform's float sums for a colour matrix, see
// channel_mix_p.h.
#include "imaging/channel_mix_p.h"

#if defined(__x86_64__)
#include <immintrin.h>
#endif
#include <algorithm>
#include <cmath>
#include <cstdint>

namespace pictovance {

namespace {

#if defined(__x86_64__)

[[gnu::target("avx2,fma")]] void MixRow(std::uint32_t* row, int width, const cv::Matx44f& m) {
  __m256 weights[3][3];
  for (int j = 0; j < 3; ++j) {
    for (int k = 0; k < 3; ++k) weights[j][k] = _mm256_set1_ps(m(j, k));
  }
  const __m256i byte = _mm256_set1_epi32(0xFF);
  const __m256i alpha = _mm256_set1_epi32(static_cast<int>(0xFF000000u));
  const __m256i zero = _mm256_setzero_si256();
  int x = 0;
  for (; x + 8 <= width; x += 8) {
    const __m256i pixels = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(row + x));
    const __m256 b = _mm256_cvtepi32_ps(_mm256_and_si256(pixels, byte));
    const __m256 g = _mm256_cvtepi32_ps(_mm256_and_si256(_mm256_srli_epi32(pixels, 8), byte));
    const __m256 r = _mm256_cvtepi32_ps(_mm256_and_si256(_mm256_srli_epi32(pixels, 16), byte));
    __m256i out = _mm256_and_si256(pixels, alpha);
    for (int j = 0; j < 3; ++j) {
      __m256 s = _mm256_mul_ps(weights[j][1], g);
      s = _mm256_fmadd_ps(weights[j][0], b, s);
      s = _mm256_fmadd_ps(weights[j][2], r, s);
      const __m256i level = _mm256_min_epi32(_mm256_max_epi32(_mm256_cvtps_epi32(s), zero), byte);
      out = _mm256_or_si256(out, _mm256_slli_epi32(level, 8 * j));
    }
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(row + x), out);
  }
  for (; x < width; ++x) {
    const std::uint32_t p = row[x];
    const auto b = static_cast<float>(p & 0xFFu), g = static_cast<float>((p >> 8) & 0xFFu),
               r = static_cast<float>((p >> 16) & 0xFFu);
    std::uint32_t out = p & 0xFF000000u;
    for (int j = 0; j < 3; ++j) {
      const float s = std::fmaf(m(j, 2), r, std::fmaf(m(j, 0), b, m(j, 1) * g));
      out |= static_cast<std::uint32_t>(std::clamp(std::nearbyint(s), 0.0f, 255.0f)) << (8 * j);
    }
    row[x] = out;
  }
}

bool SameBytesOnNoise() {
  cv::Mat noise(128, 509, CV_8UC4);
  cv::RNG(20261208).fill(noise, cv::RNG::UNIFORM, 0, 256);
  // A saturation of 11 times: products far from whole numbers.
  cv::Matx44f m = cv::Matx44f::eye();
  for (int j = 0; j < 3; ++j) {
    m(j, 0) = -10.0f * 0.114f;
    m(j, 1) = -10.0f * 0.587f;
    m(j, 2) = -10.0f * 0.299f;
    m(j, j) += 11.0f;
  }
  cv::Mat expected;
  cv::transform(noise, expected, m);
  MixChannels(noise, m);
  return cv::norm(noise, expected, cv::NORM_INF) == 0.0;
}

}  // namespace

bool OwnMixMatchesOpenCv() {
  __builtin_cpu_init();
  if (!__builtin_cpu_supports("avx2") || !__builtin_cpu_supports("fma")) return false;
  // OpenCV's dispatch follows these (setUseOptimized(false) clears them).
  if (!cv::checkHardwareSupport(CV_CPU_AVX2) || !cv::checkHardwareSupport(CV_CPU_FMA3)) return false;
  static const bool same = SameBytesOnNoise();
  return same;
}

void MixChannels(cv::Mat& pixels, const cv::Matx44f& m) {
  CV_Assert(pixels.type() == CV_8UC4);
  for (int y = 0; y < pixels.rows; ++y) MixRow(pixels.ptr<std::uint32_t>(y), pixels.cols, m);
}

#else

}  // namespace

bool OwnMixMatchesOpenCv() { return false; }
void MixChannels(cv::Mat&, const cv::Matx44f&) { CV_Error(cv::Error::StsNotImplemented, "no AVX2 here"); }

#endif

}  // namespace pictovance
