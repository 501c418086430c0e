#include "imaging/heap.h"

#include <gtest/gtest.h>

#include <cstddef>

#include "imaging/image.h"

#if __has_include(<malloc.h>)
#include <malloc.h>
#endif

// GCC says __SANITIZE_ADDRESS__, clang __has_feature(address_sanitizer).
#if defined(__SANITIZE_ADDRESS__)
#define PV_UNDER_ADDRESS_SANITIZER
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define PV_UNDER_ADDRESS_SANITIZER
#endif
#endif

namespace pictovance {
namespace {

// Only where the C library reports its heap (glibc 2.33 on) and no sanitizer
// replaces the allocator.
#if defined(M_MMAP_THRESHOLD) && defined(__GLIBC__) && (__GLIBC__ > 2 || __GLIBC_MINOR__ >= 33) && \
    !defined(__SANITIZE_ADDRESS__)

struct HeapCase {
  const char* name;
  int side;          // a side x side bitmap, 4 bytes a pixel
  bool keptInHeap;  // true: allocated from and freed into the heap; false: mapped and unmapped
};
std::ostream& operator<<(std::ostream& out, const HeapCase& c) { return out << c.side << "x" << c.side; }

class HeapTest : public testing::TestWithParam<HeapCase> {};

TEST_P(HeapTest, BitmapsUpTo32MiBAreReusedFromTheHeap) {
#if defined(PV_UNDER_ADDRESS_SANITIZER)
  GTEST_SKIP() << "AddressSanitizer's allocator replaces glibc's heap, which this is about";
#endif
  KeepBitmapsInHeap();
  const HeapCase& c = GetParam();
  const std::size_t bytes = std::size_t{4} * static_cast<std::size_t>(c.side) * static_cast<std::size_t>(c.side);
  const struct mallinfo2 before = mallinfo2();
  {
    Image image;
    image.CreateBitmap(c.side, c.side, 0x123456);
    const struct mallinfo2 during = mallinfo2();
    if (c.keptInHeap) {
      EXPECT_LT(during.hblkhd, before.hblkhd + bytes) << "the bitmap was mapped on its own";
    } else {
      EXPECT_GE(during.hblkhd, before.hblkhd + bytes) << "the bitmap went into the heap";
    }
  }
  const struct mallinfo2 after = mallinfo2();
  if (c.keptInHeap) {
    EXPECT_GE(after.fordblks, before.fordblks + bytes) << "the freed bitmap went back to the kernel";
  } else {
    EXPECT_LT(after.hblkhd, before.hblkhd + bytes) << "the freed bitmap is still mapped";
  }
}

INSTANTIATE_TEST_SUITE_P(Sizes, HeapTest,
                         testing::Values(HeapCase{"Picture800x400Sized", 566, true},
                                         HeapCase{"Just16MiB", 2048, true},
                                         HeapCase{"Over32MiB", 3000, false}),
                         [](const testing::TestParamInfo<HeapCase>& info) { return std::string(info.param.name); });

#endif

}  // namespace
}  // namespace pictovance
