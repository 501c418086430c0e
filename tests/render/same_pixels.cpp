// same_pixels A B: exit status 0 when the two pictures decode to the same
// size and the same pixels, 1 (naming the first pixel that differs) when
// not, 2 when one cannot be read. For the shell tests, which compare
// pictures whose files differ in their creation time only.
#include <cstdio>
#include <exception>

#include "imaging/image.h"

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: same_pixels A B\n");
    return 2;
  }
  pictovance::Image a;
  pictovance::Image b;
  try {
    a.LoadBitmap(argv[1]);
    b.LoadBitmap(argv[2]);
  } catch (const std::exception& error) {
    std::fprintf(stderr, "same_pixels: %s\n", error.what());
    return 2;
  }
  if (a.Width() != b.Width() || a.Height() != b.Height()) {
    std::fprintf(stderr, "same_pixels: %s is %dx%d, %s is %dx%d\n", argv[1], a.Width(), a.Height(), argv[2],
                 b.Width(), b.Height());
    return 1;
  }
  for (int y = 0; y < a.Height(); ++y) {
    for (int x = 0; x < a.Width(); ++x) {
      if (a.GetColorAt(x, y) != b.GetColorAt(x, y)) {
        std::fprintf(stderr, "same_pixels: %s and %s differ first at (%d, %d)\n", argv[1], argv[2], x, y);
        return 1;
      }
    }
  }
  return 0;
}
