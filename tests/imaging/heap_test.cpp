#include "imaging/heap.h"

#include <gtest/gtest.h>

#include <cstddef>
#include <string>
#include <thread>
#include <vector>

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
  int side;         // a side x side bitmap, 4 bytes a pixel
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
  const std::size_t bytes =
      std::size_t{4} * static_cast<std::size_t>(c.side) * static_cast<std::size_t>(c.side);
  const struct mallinfo2 before = mallinfo2();
  struct mallinfo2 during {};
  {
    Image image;
    image.CreateBitmap(c.side, c.side, 0x123456);
    during = mallinfo2();
    if (c.keptInHeap) {
      EXPECT_LT(during.hblkhd, before.hblkhd + bytes) << "the bitmap was mapped on its own";
    } else {
      EXPECT_GE(during.hblkhd, before.hblkhd + bytes) << "the bitmap went into the heap";
    }
  }
  const struct mallinfo2 after = mallinfo2();
  if (c.keptInHeap) {
    // Against the heap while the bitmap lived: it may have taken free memory
    // an earlier test left.
    EXPECT_GE(after.fordblks, during.fordblks + bytes) << "the freed bitmap went back to the kernel";
  } else {
    EXPECT_LT(after.hblkhd, before.hblkhd + bytes) << "the freed bitmap is still mapped";
  }
}

INSTANTIATE_TEST_SUITE_P(Sizes, HeapTest,
                         testing::Values(HeapCase{"Picture800x400Sized", 566, true},
                                         HeapCase{"Just16MiB", 2048, true},
                                         HeapCase{"Over32MiB", 3000, false}),
                         [](const testing::TestParamInfo<HeapCase>& info) {
                           return std::string(info.param.name);
                         });

// Scratch freed by a worker thread (8 MiB, as a band's saved rows of a
// huge picture): while a picture the heap keeps is made it stays in that
// thread's heap for reuse; while a larger one is made it goes back to the
// kernel at once.
TEST(HeapTest, ScratchOfAPictureTooBigForTheHeapIsHandedBack) {
#if defined(PV_UNDER_ADDRESS_SANITIZER)
  GTEST_SKIP() << "AddressSanitizer's allocator replaces glibc's heap, which this is about";
#endif
  KeepBitmapsInHeap();
  constexpr std::size_t kScratch = std::size_t{8} << 20;
  const struct {
    std::size_t bitmapBytes;
    bool kept;
  } cases[] = {{std::size_t{4} * 9999 * 9999, false},
               {std::size_t{4} * 800 * 400, true},
               {kLargestHeapBitmap + 4, false},
               {kLargestHeapBitmap, true},
               {std::size_t{4} * 9999 * 9999, false}};
  // Each kept case follows one that handed everything back, and the last
  // hands back too, so no case (nor the next test) finds the heap holding
  // another's scratch.
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.bitmapBytes) + " bytes of bitmap");
    FitHeapToPicture(c.bitmapBytes);
    const std::size_t before = mallinfo2().fordblks;
    std::thread([] {
      std::vector<char> scratch(kScratch, 1);
      EXPECT_EQ(scratch[kScratch - 1], 1);
    }).join();
    const std::size_t after = mallinfo2().fordblks;
    if (c.kept) {
      EXPECT_GE(after, before + kScratch - kScratch / 8) << "the freed scratch went back to the kernel";
    } else {
      EXPECT_LT(after, before + kScratch / 8) << "the freed scratch stayed in the heap";
    }
  }
  KeepBitmapsInHeap();
}

#endif

}  // namespace
}  // namespace pictovance
