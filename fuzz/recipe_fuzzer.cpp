// Feeds arbitrary bytes to the recipe reader as a PNG file: its text chunks
// are read, parsed as a recipe and described, as --recipe and --again do.
// A refusal (ImageError, RecipeError) is a fine outcome; a crash, a
// sanitizer report or a hang is what this looks for.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

#include "canvas/recipe.h"
#include "imaging/picture_file.h"

namespace {

const std::string& InputPath() {
  static const std::string path = "/tmp/pictovance-recipe-fuzz-" + std::to_string(::getpid()) + ".png";
  return path;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::FILE* file = std::fopen(InputPath().c_str(), "wb");
  if (file == nullptr) return 0;
  const bool written = std::fwrite(data, 1, size, file) == size;
  if (std::fclose(file) != 0 || !written) return 0;
  try {
    const pictovance::Recipe recipe = pictovance::ParseRecipe(pictovance::ReadPngTexts(InputPath()));
    // What was read must come back out the same way it is written.
    const pictovance::Recipe again = pictovance::ParseRecipe(pictovance::RecipeTexts(recipe));
    if (pictovance::DescribeRecipe(again) != pictovance::DescribeRecipe(recipe)) __builtin_trap();
  } catch (const pictovance::ImageError&) {
  } catch (const pictovance::RecipeError&) {
  }
  return 0;
}
