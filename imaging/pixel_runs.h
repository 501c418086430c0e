// Runs of equal pixels, which painted pictures are made of.
#pragma once

#include <QRgb>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace pictovance {

// Where the run of pixels equal to value that starts at pixels[from] ends:
// the first x >= from with pixels[x] != value, or width. Pictures are made
// of runs, so four pixels are compared at a time.
inline int RunEnd(const QRgb* pixels, int from, int width, QRgb value) noexcept {
  int x = from;
#if defined(__SSE2__)
  const __m128i want = _mm_set1_epi32(static_cast<int>(value));
  for (; x + 4 <= width; x += 4) {
    const __m128i four = _mm_loadu_si128(reinterpret_cast<const __m128i*>(pixels + x));
    const unsigned same = static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi32(four, want)));
    if (same != 0xFFFFu) return x + __builtin_ctz(~same) / 4;
  }
#endif
  while (x < width && pixels[x] == value) ++x;
  return x;
}

}  // namespace pictovance
