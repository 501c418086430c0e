// Inside imaging/ only: EqualizeOnLuminance's colour conversions, byte for
// byte what OpenCV's BGR2YCrCb and YCrCb2BGR give, in one pass over the
// pixels with no copy.
//
// For 8-bit pixels OpenCV converts in whole numbers, in 2^-14ths:
//   Y  = (1868 B + 9617 G + 4899 R + 2^13) >> 14
//   Cr = sat(((R - Y) 11682 + 128 x 2^14 + 2^13) >> 14)
//   Cb = sat(((B - Y) 9241 + 128 x 2^14 + 2^13) >> 14)
// and back, with cr = Cr - 128 and cb = Cb - 128,
//   B = sat(Y + ((29049 cb + 2^13) >> 14))
//   G = sat(Y + ((-5636 cb - 11698 cr + 2^13) >> 14))
//   R = sat(Y + ((22987 cr + 2^13) >> 14))
// where sat clamps to 0 .. 255 and >> rounds toward minus infinity. These
// gave OpenCV's bytes for every one of the 2^24 colours each way here; as
// they are OpenCV's business, OwnLumaMatchesOpenCv checks them once a
// process on noise. When it says false, call cvtColor.
#pragma once

#include <array>
#include <cstdint>
#include <opencv2/core.hpp>

namespace pictovance {

// The luma Y of a 0xAARRGGBB pixel, as BGR2YCrCb gives it.
inline std::uint8_t LumaLevel(std::uint32_t pixel) {
  const std::uint32_t b = pixel & 0xFFu, g = (pixel >> 8) & 0xFFu, r = (pixel >> 16) & 0xFFu;
  return static_cast<std::uint8_t>((1868 * b + 9617 * g + 4899 * r + 8192) >> 14);
}

// True when this processor has AVX2 and cvtColor gave Luma's and
// MapLuma's bytes on the check.
bool OwnLumaMatchesOpenCv();

// pixels (CV_8UC4, B G R A) with each pixel's luma Y replaced by curve[Y]
// and its chroma kept, as cvtColor there and back gives; alpha bytes come
// out 255. On up to threads threads; only on a processor with AVX2.
void MapLuma(cv::Mat& pixels, const std::array<std::uint8_t, 256>& curve, int threads);

}  // namespace pictovance
