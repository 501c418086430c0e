#include "canvas/recipe.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "imaging/picture_file.h"
#include "tests/canvas/test_files.h"

namespace pictovance {
namespace {

using testing::TempFolder;

Recipe PaletteRecipe() {
  Recipe recipe;
  recipe.created = "2026-12-07T15:00:00+01:00";
  recipe.seed = 18446744073709551615ull;
  recipe.width = 800;
  recipe.height = 400;
  recipe.effects = true;
  return recipe;
}

Recipe SourcesRecipe() {
  Recipe recipe = PaletteRecipe();
  recipe.seed = 0;
  recipe.width = 1;
  recipe.height = 9999;
  recipe.effects = false;
  recipe.backColour = 15790320;
  const std::string hash(64, 'a');
  // A name with the separator inside and letters beyond Latin-1.
  recipe.sources = {{"wide, again.png", 1234, hash, true, 800, 400},
                    {"\xC3\xA9t\xC3\xA9 \xE2\x98\x80.jpg", 0, std::string(63, '0') + "f", false, 0, 700}};
  return recipe;
}

// A picture pasted without a file, named by its pixels, after a file.
Recipe PastedRecipe() {
  Recipe recipe = SourcesRecipe();
  SourceFile pasted{"pasted picture 640x480", 0, std::string(64, 'c'), true, 800, 400};
  pasted.pasted = true;
  recipe.sources[1] = pasted;
  return recipe;
}

class RecipeFile : public ::testing::TestWithParam<Recipe (*)()> {};

TEST_P(RecipeFile, ComesBackFromThePngItWasSavedIn) {
  const Recipe recipe = GetParam()();
  TempFolder folder;
  Image picture;
  picture.CreateBitmap(3, 2, 0x123456);
  picture.SetTexts(RecipeTexts(recipe));
  picture.SaveBitmap(folder.File("picture.png"));
  EXPECT_EQ(ParseRecipe(ReadPngTexts(folder.File("picture.png"))), recipe);
}

INSTANTIATE_TEST_SUITE_P(Recipes, RecipeFile,
                         ::testing::Values(&PaletteRecipe, &SourcesRecipe, &PastedRecipe));

struct BadValue {
  const char* key;
  const char* value;
};

class RecipeRefuses : public ::testing::TestWithParam<BadValue> {};

TEST_P(RecipeRefuses, AValueItCannotRead) {
  TextEntries texts = RecipeTexts(SourcesRecipe());
  bool replaced = false;
  for (auto& [key, value] : texts) {
    if (key == GetParam().key) {
      value = GetParam().value;
      replaced = true;
    }
  }
  ASSERT_TRUE(replaced) << GetParam().key;
  EXPECT_THROW(ParseRecipe(texts), RecipeError);
}

INSTANTIATE_TEST_SUITE_P(
    Values, RecipeRefuses,
    ::testing::Values(BadValue{"Pictovance recipe", "2"}, BadValue{"Pictovance recipe", "one"},
                      BadValue{"Pictovance seed", "-1"}, BadValue{"Pictovance seed", "18446744073709551616"},
                      BadValue{"Pictovance size", "0x400"}, BadValue{"Pictovance effects", "maybe"},
                      BadValue{"Pictovance colours", "3 sources"}, BadValue{"Pictovance back colour", ""},
                      BadValue{"Pictovance source 1", "fitted to 800x400, 12 bytes, SHA-256 abc, a.png"},
                      BadValue{"Pictovance source 2", "somewhere, 12 bytes"},
                      BadValue{"Pictovance source 2", "free within 0x700, pasted, pixels SHA-256 abc, x"}));

TEST(Recipe, WithoutItsVersionThereIsNone) {
  TextEntries texts = RecipeTexts(PaletteRecipe());
  std::erase_if(texts, [](const auto& entry) { return entry.first == "Pictovance recipe"; });
  EXPECT_THROW(ParseRecipe(texts), RecipeError);
  EXPECT_THROW(ParseRecipe({{"Software", "something else"}}), RecipeError);
}

}  // namespace
}  // namespace pictovance
