// Feeds arbitrary bytes to LoadBitmap as a file and converts whatever loads
// to the working kind, as a dropped picture is. A refusal (ImageError) is a
// fine outcome; a crash, a sanitizer report, a hang or a memory blow-up is
// what this looks for.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

#include "imaging/image.h"

namespace {

const std::string& InputPath() {
  static const std::string path = "/tmp/pictovance-fuzz-" + std::to_string(::getpid());
  return path;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::FILE* file = std::fopen(InputPath().c_str(), "wb");
  if (file == nullptr) return 0;
  const bool written = std::fwrite(data, 1, size, file) == size;
  if (std::fclose(file) != 0 || !written) return 0;
  try {
    pictovance::Image image;
    // Drawings are drawn at a small canvas size, as in fixed mode.
    image.LoadBitmap(InputPath(), size % 2 == 0 ? 64 : 0, size % 2 == 0 ? 48 : 0);
    image.ChangeColorDepth(0, 4, 0);
  } catch (const pictovance::ImageError&) {
  }
  return 0;
}
