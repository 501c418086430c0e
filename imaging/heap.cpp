#include "imaging/heap.h"

#if __has_include(<malloc.h>)
#include <malloc.h>
#endif

namespace pictovance {

void KeepBitmapsInHeap() noexcept {
#if defined(M_MMAP_THRESHOLD) && defined(M_TRIM_THRESHOLD)
  constexpr int kMiB = 1024 * 1024;
  mallopt(M_MMAP_THRESHOLD, 32 * kMiB);
  mallopt(M_TRIM_THRESHOLD, 64 * kMiB);
#endif
}

}  // namespace pictovance
