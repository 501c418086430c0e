// The wallpaper folder's cleanup over a folder that holds more than this
// program's pictures: only saved pictures (the name Save gives, a regular
// file, a recipe inside) are counted and removed, the newest kept.
#include "desktop/wallpaper_folder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "canvas/recipe.h"
#include "tests/canvas/test_files.h"

namespace pictovance {
namespace {

namespace fs = std::filesystem;
using testing::TempFolder;

void WritePicture(const fs::path& path, bool withRecipe) {
  Image picture;
  picture.CreateBitmap(4, 2, 0x204080);
  if (withRecipe) {
    Recipe recipe;
    recipe.width = 4;
    recipe.height = 2;
    picture.SetTexts(RecipeTexts(recipe));
  }
  picture.SetSaveFormat(testing::kPng);
  fs::path bare = path;
  picture.SaveBitmap(bare.replace_extension().string());
}

TEST(KeepNewestWallpapersTest, RemovesOnlyOlderSavedPictures) {
  TempFolder elsewhere;
  TempFolder folder;
  const auto at = [&](const char* name) { return folder.path() / name; };
  // Saved pictures, oldest first; the last two share a second, and the
  // longer name is the later one.
  for (const char* name :
       {"4000000001-0A.png", "4000000002-0B.png", "4000000003-FF.png", "4000000003-00A.png"}) {
    WritePicture(at(name), true);
  }
  // The wallpaper just set: kept, and counted, though its name is older.
  const fs::path current = at("3999999999-00.png");
  WritePicture(current, true);
  // Never this program's saved pictures, whatever their age.
  WritePicture(at("3000000000-AA.png"), false);  // no recipe
  testing::WriteBytes(at("3000000000-AB.png").string(), "not a PNG");
  WritePicture(at("3000000000-ac.png"), true);  // lower-case digits
  WritePicture(at("3000000000-A.png"), true);   // one digit
  WritePicture(at("holiday.png"), true);
  WritePicture(elsewhere.path() / "3000000000-AD.png", true);
  fs::create_symlink(elsewhere.path() / "3000000000-AD.png", at("3000000000-AD.png"));
  fs::create_directory(at("3000000000-AE.png"));
  testing::WriteBytes(at("notes.txt").string(), "mine");

  const WallpaperCleanup cleanup = KeepNewestWallpapers(folder.path(), 2, current);

  EXPECT_EQ(cleanup.failures, std::vector<std::string>());
  std::vector<std::string> removed;
  for (const fs::path& path : cleanup.removed) removed.push_back(path.filename().string());
  std::sort(removed.begin(), removed.end());
  EXPECT_EQ(removed,
            (std::vector<std::string>{"4000000001-0A.png", "4000000002-0B.png", "4000000003-FF.png"}));
  EXPECT_EQ(folder.Names(), (std::vector<std::string>{
                                "3000000000-A.png", "3000000000-AA.png", "3000000000-AB.png",
                                "3000000000-AD.png", "3000000000-AE.png", "3000000000-ac.png",
                                "3999999999-00.png", "4000000003-00A.png", "holiday.png", "notes.txt"}));
  EXPECT_TRUE(fs::exists(elsewhere.path() / "3000000000-AD.png")) << "a link's target was removed";
}

}  // namespace
}  // namespace pictovance
