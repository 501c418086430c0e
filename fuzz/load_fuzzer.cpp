// Feeds arbitrary bytes to LoadBitmap as a file and converts whatever loads
// to the working kind, as a dropped picture is. A refusal (ImageError) is a
// fine outcome; a crash, a sanitizer report, a hang or a memory blow-up is
// what this looks for.
#include <cstddef>
#include <cstdint>
#include <string>

#include "fuzz/fuzz_input.h"
#include "imaging/image.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string path = pictovance::fuzz::WriteInput(data, size, "");
  if (path.empty()) return 0;
  try {
    pictovance::Image image;
    // Drawings are drawn at a small canvas size, as in fixed mode.
    image.LoadBitmap(path, size % 2 == 0 ? 64 : 0, size % 2 == 0 ? 48 : 0);
    image.ChangeColorDepth(0, 4, 0);
  } catch (const pictovance::ImageError&) {
  }
  return 0;
}
