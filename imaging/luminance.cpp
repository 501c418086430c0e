// MapLuma: OpenCV's YCrCb conversions there and back in one pass, see
// luminance_p.h.
#include "imaging/luminance_p.h"

#if defined(__x86_64__)
#include <immintrin.h>
#endif
#include <algorithm>
#include <opencv2/imgproc.hpp>

#include "imaging/threads.h"

namespace pictovance {

namespace {

constexpr int kHalf = 1 << 13;          // rounds a sum in 2^-14ths
constexpr int kChromaZero = 128 << 14;  // Cr and Cb of a grey, in 2^-14ths
constexpr int kCrFromRy = 11682, kCbFromBy = 9241;
constexpr int kBFromCb = 29049, kGFromCb = -5636, kGFromCr = -11698, kRFromCr = 22987;

[[maybe_unused]] std::uint32_t MapPixel(std::uint32_t pixel, const std::array<std::uint8_t, 256>& curve) {
  const int b = static_cast<int>(pixel & 0xFFu), r = static_cast<int>((pixel >> 16) & 0xFFu);
  const int y = LumaLevel(pixel);
  const int cr = std::clamp(((r - y) * kCrFromRy + kChromaZero + kHalf) >> 14, 0, 255) - 128;
  const int cb = std::clamp(((b - y) * kCbFromBy + kChromaZero + kHalf) >> 14, 0, 255) - 128;
  const int mapped = curve[static_cast<std::size_t>(y)];
  const auto channel = [mapped](int offset) {
    return static_cast<std::uint32_t>(std::clamp(mapped + offset, 0, 255));
  };
  return 0xFF000000u | channel((kRFromCr * cr + kHalf) >> 14) << 16 |
         channel((kGFromCb * cb + kGFromCr * cr + kHalf) >> 14) << 8 | channel((kBFromCb * cb + kHalf) >> 14);
}

#if defined(__x86_64__)

// Two 16-bit weights in one 32-bit lane: low for the lane's low half.
constexpr int Pair(int low, int high) {
  return static_cast<int>((static_cast<std::uint32_t>(low) & 0xFFFFu) |
                          (static_cast<std::uint32_t>(high) << 16));
}

[[gnu::target("avx2")]] inline __m256i Clamp255(__m256i v) {
  return _mm256_max_epi32(_mm256_min_epi32(v, _mm256_set1_epi32(255)), _mm256_setzero_si256());
}

// (sum of weights x (low, high) halves of pairs + 2^13) >> 14, in 32 bits.
[[gnu::target("avx2")]] inline __m256i Descale(__m256i pairs, int weights, int add) {
  return _mm256_srai_epi32(
      _mm256_add_epi32(_mm256_madd_epi16(pairs, _mm256_set1_epi32(weights)), _mm256_set1_epi32(add + kHalf)),
      14);
}

[[gnu::target("avx2")]] void MapRow(std::uint32_t* row, int width,
                                    const std::array<std::int32_t, 256>& curve32,
                                    const std::array<std::uint8_t, 256>& curve) {
  const __m256i byte = _mm256_set1_epi32(0xFF), evenBytes = _mm256_set1_epi32(0x00FF00FF);
  const __m256i low = _mm256_set1_epi32(0xFFFF), centre = _mm256_set1_epi32(128);
  const __m256i lumaBR = _mm256_set1_epi32(Pair(1868, 4899)), lumaG = _mm256_set1_epi32(Pair(9617, 0));
  const __m256i opaque = _mm256_set1_epi32(static_cast<int>(0xFF000000u));
  int x = 0;
  for (; x + 8 <= width; x += 8) {
    const __m256i p = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(row + x));
    // 16-bit halves (B, R) and (G, A) of each pixel against the luma weights.
    const __m256i br = _mm256_and_si256(p, evenBytes), ga = _mm256_srli_epi16(p, 8);
    const __m256i y = _mm256_srli_epi32(
        _mm256_add_epi32(_mm256_add_epi32(_mm256_madd_epi16(br, lumaBR), _mm256_madd_epi16(ga, lumaG)),
                         _mm256_set1_epi32(kHalf)),
        14);
    const __m256i b = _mm256_and_si256(p, byte), r = _mm256_and_si256(_mm256_srli_epi32(p, 16), byte);
    // R - Y and B - Y fit the low 16 bits; the weights' high halves are 0.
    const __m256i cr =
        _mm256_sub_epi32(Clamp255(Descale(_mm256_sub_epi32(r, y), Pair(kCrFromRy, 0), kChromaZero)), centre);
    const __m256i cb =
        _mm256_sub_epi32(Clamp255(Descale(_mm256_sub_epi32(b, y), Pair(kCbFromBy, 0), kChromaZero)), centre);
    const __m256i mapped = _mm256_i32gather_epi32(curve32.data(), y, 4);
    // cb in each lane's low half, cr in its high half.
    const __m256i chroma = _mm256_or_si256(_mm256_and_si256(cb, low), _mm256_slli_epi32(cr, 16));
    const __m256i blue = Clamp255(_mm256_add_epi32(mapped, Descale(chroma, Pair(kBFromCb, 0), 0)));
    const __m256i green = Clamp255(_mm256_add_epi32(mapped, Descale(chroma, Pair(kGFromCb, kGFromCr), 0)));
    const __m256i red = Clamp255(_mm256_add_epi32(mapped, Descale(chroma, Pair(0, kRFromCr), 0)));
    const __m256i out = _mm256_or_si256(_mm256_or_si256(blue, _mm256_slli_epi32(green, 8)),
                                        _mm256_or_si256(_mm256_slli_epi32(red, 16), opaque));
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(row + x), out);
  }
  for (; x < width; ++x) row[x] = MapPixel(row[x], curve);
}

void MapInBands(cv::Mat& pixels, const std::array<std::uint8_t, 256>& curve, int threads) {
  std::array<std::int32_t, 256> curve32{};
  std::copy(curve.begin(), curve.end(), curve32.begin());
  ForEachRowBand(pixels.rows, std::min(threads, pixels.rows), [&](int, int top, int bottom) {
    for (int y = top; y < bottom; ++y) MapRow(pixels.ptr<std::uint32_t>(y), pixels.cols, curve32, curve);
  });
}

// Noise, and a curve that moves every level a different way.
bool SameBytesOnNoise() {
  cv::Mat noise(64, 509, CV_8UC4), ycrcb, luma, expected;
  cv::RNG rng(20261208);
  rng.fill(noise, cv::RNG::UNIFORM, 0, 256);
  std::array<std::uint8_t, 256> curve{};
  for (std::uint8_t& level : curve) level = static_cast<std::uint8_t>(rng.uniform(0, 256));
  cv::cvtColor(noise, ycrcb, cv::COLOR_BGR2YCrCb);
  for (int y = 0; y < noise.rows; ++y) {
    for (int x = 0; x < noise.cols; ++x) {
      std::uint8_t& level = ycrcb.at<cv::Vec3b>(y, x)[0];
      if (level != LumaLevel(noise.at<std::uint32_t>(y, x))) return false;
      level = curve[level];
    }
  }
  cv::cvtColor(ycrcb, expected, cv::COLOR_YCrCb2BGR, 4);
  MapInBands(noise, curve, 1);
  return cv::norm(noise, expected, cv::NORM_INF) == 0.0;
}

}  // namespace

bool OwnLumaMatchesOpenCv() {
  __builtin_cpu_init();
  if (!__builtin_cpu_supports("avx2")) return false;
  static const bool same = SameBytesOnNoise();
  return same;
}

void MapLuma(cv::Mat& pixels, const std::array<std::uint8_t, 256>& curve, int threads) {
  CV_Assert(pixels.type() == CV_8UC4);
  if (pixels.empty()) return;
  MapInBands(pixels, curve, std::max(1, threads));
}

#else

}  // namespace

bool OwnLumaMatchesOpenCv() { return false; }
void MapLuma(cv::Mat&, const std::array<std::uint8_t, 256>&, int) {
  CV_Error(cv::Error::StsNotImplemented, "no AVX2 here");
}

#endif

}  // namespace pictovance
