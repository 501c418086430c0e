#include "imaging/heap.h"

#include <atomic>

#if __has_include(<malloc.h>)
#include <malloc.h>
#endif

namespace pictovance {

namespace {

std::atomic<bool> g_keepingBitmaps{false};

}  // namespace

void KeepBitmapsInHeap() noexcept {
#if defined(M_MMAP_THRESHOLD) && defined(M_TRIM_THRESHOLD)
  constexpr int kMiB = 1024 * 1024;
  mallopt(M_MMAP_THRESHOLD, static_cast<int>(kLargestHeapBitmap));
  mallopt(M_TRIM_THRESHOLD, 64 * kMiB);
  g_keepingBitmaps = true;
#endif
}

void FitHeapToPicture(std::size_t bitmapBytes) noexcept {
#if defined(M_TRIM_THRESHOLD)
  if (!g_keepingBitmaps) return;
  constexpr int kMiB = 1024 * 1024;
  mallopt(M_TRIM_THRESHOLD, bitmapBytes > kLargestHeapBitmap ? kMiB : 64 * kMiB);
#endif
}

}  // namespace pictovance
