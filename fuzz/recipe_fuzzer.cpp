// Feeds arbitrary bytes to the recipe reader as a PNG file: its text chunks
// are read, parsed as a recipe and described, as --recipe and --again do.
// A refusal (ImageError, RecipeError) is a fine outcome; a crash, a
// sanitizer report or a hang is what this looks for.
#include <cstddef>
#include <cstdint>
#include <string>

#include "canvas/recipe.h"
#include "fuzz/fuzz_input.h"
#include "imaging/picture_file.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string path = pictovance::fuzz::WriteInput(data, size, ".png");
  if (path.empty()) return 0;
  try {
    const pictovance::Recipe recipe = pictovance::ParseRecipe(pictovance::ReadPngTexts(path));
    // What was read must come back out the same way it is written.
    const pictovance::Recipe again = pictovance::ParseRecipe(pictovance::RecipeTexts(recipe));
    if (pictovance::DescribeRecipe(again) != pictovance::DescribeRecipe(recipe)) __builtin_trap();
  } catch (const pictovance::ImageError&) {
  } catch (const pictovance::RecipeError&) {
  }
  return 0;
}
