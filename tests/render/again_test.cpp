// The renderer's seeds and recipes from outside: the same seed paints the
// same pictures whatever the folder holds, a saved picture is painted again
// from its recipe (sources found by their bytes), --recipe reads it back,
// and every file it cannot follow is one line and exit status 2.

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <sstream>
#include <string>
#include <vector>

#include "canvas/recipe.h"
#include "generator/random.h"
#include "tests/canvas/test_files.h"

namespace pictovance {
namespace {

using testing::TempFolder;
namespace fs = std::filesystem;

struct Outcome {
  int status = -1;
  std::vector<std::string> out;  // stdout, line by line
  std::vector<std::string> err;
};

std::vector<std::string> Lines(const std::string& path) {
  std::istringstream in(testing::ReadBytes(path));
  std::vector<std::string> lines;
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

// Runs the renderer with args inside folder.
Outcome Render(const TempFolder& folder, const std::vector<std::string>& args) {
  std::string command = "cd '" + folder.path().string() + "' && '" PV_RENDER "'";
  for (const std::string& arg : args) command += " '" + arg + "'";
  command += " > .out 2> .err";
  const int raw = std::system(command.c_str());
  Outcome run;
  run.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
  run.out = Lines(folder.File(".out"));
  run.err = Lines(folder.File(".err"));
  return run;
}

// Both files decode to the same pixels.
::testing::AssertionResult SamePixels(const fs::path& a, const fs::path& b) {
  Image first;
  Image second;
  first.LoadBitmap(a.string());
  second.LoadBitmap(b.string());
  if (first.Width() != second.Width() || first.Height() != second.Height()) {
    return ::testing::AssertionFailure() << a << " and " << b << " differ in size";
  }
  return testing::PixelsMatch(first, second, 0, 0);
}

std::size_t FilesIn(const fs::path& folder) {
  if (!fs::exists(folder)) return 0;
  std::size_t n = 0;
  for ([[maybe_unused]] const auto& entry : fs::directory_iterator(folder)) ++n;
  return n;
}

TEST(RenderSeeds, TheSameSeedPaintsTheSamePicturesWhateverTheFolderHolds) {
  TempFolder folder;
  const std::vector<std::string> args = {"--seed", "7", "--count", "5", "--no-effects", "--out", "same"};
  const Outcome first = Render(folder, args);
  const Outcome second = Render(folder, args);  // within the same second, as a rule
  ASSERT_EQ(first.status, 0);
  ASSERT_EQ(second.status, 0);
  ASSERT_EQ(first.out.size(), 5u);
  ASSERT_EQ(second.out.size(), 5u);
  EXPECT_EQ(FilesIn(folder.path() / "same"), 10u);
  for (std::size_t k = 0; k < 5; ++k) {
    SCOPED_TRACE(k);
    EXPECT_NE(first.out[k], second.out[k]);
    EXPECT_TRUE(SamePixels(folder.path() / first.out[k], folder.path() / second.out[k]));
  }
  EXPECT_FALSE(SamePixels(folder.path() / first.out[0], folder.path() / first.out[1]));
}

TEST(RenderSeeds, TheRecipeNamesEachPicturesOwnSeed) {
  TempFolder folder;
  const Outcome run = Render(folder, {"--seed", "7", "--count", "3", "--size", "64x48", "--no-effects"});
  ASSERT_EQ(run.status, 0);
  ASSERT_EQ(run.out.size(), 3u);
  const Outcome recipe = Render(folder, {"--recipe", run.out[2]});
  ASSERT_EQ(recipe.status, 0);
  const std::vector<std::string> expected = {"seed " + std::to_string(PictureSeed(7, 2)), "size 64x48",
                                             "finishing pass no", "colours from a random palette"};
  ASSERT_EQ(recipe.out.size(), 5u);
  EXPECT_TRUE(recipe.out[0].starts_with("painted by Pictovance 1.0.0.5 at ")) << recipe.out[0];
  EXPECT_EQ(std::vector<std::string>(recipe.out.begin() + 1, recipe.out.end()), expected);
}

TEST(RenderAgain, APalettePictureWithTheFinishingPassComesOutTheSameOrAtAnotherSize) {
  TempFolder folder;
  const Outcome painted = Render(folder, {"--seed", "11", "--count", "2", "--size", "320x160", "--effects"});
  ASSERT_EQ(painted.status, 0);
  ASSERT_EQ(painted.out.size(), 2u);
  const Outcome again = Render(folder, {"--again", painted.out[1], "--out", "again"});
  ASSERT_EQ(again.status, 0);
  ASSERT_EQ(again.out.size(), 1u);
  EXPECT_TRUE(SamePixels(folder.path() / painted.out[1], folder.path() / again.out[0]));

  const Outcome bigger = Render(folder, {"--again", painted.out[1], "--size", "400x300", "--out", "bigger"});
  ASSERT_EQ(bigger.status, 0);
  Image picture;
  picture.LoadBitmap(folder.File(bigger.out.at(0)));
  EXPECT_EQ(picture.Width(), 400);
  EXPECT_EQ(picture.Height(), 300);
}

// A source of the asked size's proportions but larger keeps its size: the
// recipe says so beside the size asked for, and the picture comes again.
TEST(RenderAgain, TheRecipeRecordsThePaintedSizeBesideTheAskedOne) {
  TempFolder folder;
  testing::WritePattern(folder.File("double.bmp"), 160, 80);
  const Outcome run =
      Render(folder, {"--source", "double.bmp", "--size", "80x40", "--seed", "4", "--out", "first"});
  ASSERT_EQ(run.status, 0);
  ASSERT_EQ(run.out.size(), 1u);
  const Outcome recipe = Render(folder, {"--recipe", run.out[0]});
  ASSERT_EQ(recipe.status, 0);
  ASSERT_GE(recipe.out.size(), 3u);
  EXPECT_EQ(recipe.out[2], "size 80x40, painted 160x80");
  const Outcome again = Render(folder, {"--again", run.out[0], "--source", "double.bmp", "--out", "again"});
  ASSERT_EQ(again.status, 0) << (again.err.empty() ? "" : again.err[0]);
  EXPECT_TRUE(SamePixels(folder.path() / run.out[0], folder.path() / again.out.at(0)));
}

// A picture painted from two sources whose sizes set the canvas.
class RenderAgainFromSources : public ::testing::TestWithParam<const char*> {
 protected:
  void SetUp() override {
    testing::WritePattern(folder.File("wide.bmp"), 90, 50);
    testing::WriteSolid(folder.File("tall.bmp"), 60, 80, 0x3366CC);
    const Outcome run = Render(folder, {"--source", "wide.bmp", "--source", "tall.bmp", "--size", "0x0",
                                        "--seed", "3", "--effects", "--out", "first"});
    ASSERT_EQ(run.status, 0);
    ASSERT_EQ(run.out.size(), 1u);
    painted = run.out[0];
  }

  TempFolder folder;
  std::string painted;
};

TEST_P(RenderAgainFromSources, NeedsTheSameFilesInAnyOrder) {
  const std::string kind = GetParam();
  std::vector<std::string> args = {"--again", painted, "--out", "again", "--source", "tall.bmp"};
  if (kind == "right") args.insert(args.end(), {"--source", "wide.bmp"});
  if (kind == "changed") {
    testing::WritePattern(folder.File("wide.bmp"), 90, 51);
    args.insert(args.end(), {"--source", "wide.bmp"});
  }
  const Outcome run = Render(folder, args);
  if (kind == "right") {
    ASSERT_EQ(run.status, 0) << (run.err.empty() ? "" : run.err[0]);
    ASSERT_EQ(run.out.size(), 1u);
    EXPECT_TRUE(SamePixels(folder.path() / painted, folder.path() / run.out[0]));
    return;
  }
  EXPECT_EQ(run.status, 2);
  ASSERT_EQ(run.err.size(), 1u);
  EXPECT_NE(run.err[0].find("wide.bmp"), std::string::npos) << run.err[0];
  EXPECT_NE(run.err[0].find(kind), std::string::npos) << run.err[0];
  EXPECT_TRUE(run.out.empty());
  EXPECT_EQ(FilesIn(folder.path() / "again"), 0u);
}

INSTANTIATE_TEST_SUITE_P(Sources, RenderAgainFromSources, ::testing::Values("right", "missing", "changed"));

// Files the renderer cannot take a recipe from, each with --recipe and
// with --again.
class RenderRefuses : public ::testing::TestWithParam<std::tuple<std::string, std::string>> {};

TEST_P(RenderRefuses, WithOneLineAndStatusTwo) {
  const auto [kind, command] = GetParam();
  TempFolder folder;
  const std::string file = folder.File("picture.png");
  const std::string what = kind;
  if (what == "not a PNG") {
    testing::WriteBytes(file, "plain text, no picture\n");
  } else {
    Image picture;
    picture.CreateBitmap(8, 8, 0x102030);
    if (what == "newer recipe") {
      Recipe recipe;
      recipe.width = recipe.height = 8;
      TextEntries texts = RecipeTexts(recipe);
      for (auto& [key, value] : texts) {
        if (key == "Pictovance recipe") value = std::to_string(kRecipeVersion + 1);
      }
      picture.SetTexts(texts);
    }
    picture.SaveBitmap(file);
  }
  // --recipe writes nothing and takes no --out.
  std::vector<std::string> args = {command, file};
  if (command == "--again") args.insert(args.end(), {"--out", "out"});
  const Outcome run = Render(folder, args);
  EXPECT_EQ(run.status, 2);
  ASSERT_EQ(run.err.size(), 1u);
  EXPECT_TRUE(run.out.empty());
  EXPECT_EQ(FilesIn(folder.path() / "out"), 0u);
  const char* says = what == "not a PNG"      ? "Not a PNG"
                     : what == "newer recipe" ? "newer"
                                              : "no Pictovance recipe";
  EXPECT_NE(run.err[0].find(says), std::string::npos) << run.err[0];
}

INSTANTIATE_TEST_SUITE_P(Files, RenderRefuses,
                         ::testing::Combine(::testing::Values(std::string("not a PNG"), std::string("no recipe"),
                                                              std::string("newer recipe")),
                                            ::testing::Values(std::string("--recipe"), std::string("--again"))),
                         [](const auto& info) {
                           std::string name = std::get<0>(info.param) + std::get<1>(info.param);
                           std::erase_if(name,
                                         [](char c) { return !std::isalnum(static_cast<unsigned char>(c)); });
                           return name;
                         });

}  // namespace
}  // namespace pictovance
