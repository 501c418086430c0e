#include "canvas/save.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <regex>
#include <string>
#include <vector>

#include "canvas/recipe.h"
#include "canvas/result_file.h"
#include "tests/canvas/fake_form.h"
#include "tests/canvas/test_files.h"
#include "tests/full_disk.h"

namespace pictovance {
namespace {

using testing::FakeForm;
using testing::TempFolder;

namespace fs = std::filesystem;

// u values that RandomInt(15) turns into the digit d.
double Digit(int d) { return (d + 0.5) / 16.0; }

class SaveTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // Small pictures keep the generation after a save quick.
    state.CanvasW = 40;
    state.CanvasH = 30;
  }
  void MakeResult() {
    state.Result.emplace();
    testing::FillPattern(*state.Result, 37, 23);
  }
  // The Save command with the next picture painted from its own seed.
  void SaveTo(const fs::path& target) {
    Save(state, form, rng, target, [this] { PaintPicture(state, form, 5); });
  }
  bool HasPattern(const Image& image) {
    Image pattern;
    testing::FillPattern(pattern, 37, 23);
    return image.Width() == 37 && image.Height() == 23 && testing::PixelsMatch(image, pattern, 0, 0);
  }

  TempFolder folder;
  FormState state;
  FakeForm form;
  Random rng{11};
};

TEST_F(SaveTest, WithoutAPictureSaysNothingToSave) {
  SaveTo(folder.path());
  EXPECT_EQ(form.log, std::vector<std::string>{"status:Nothing to save"});
  EXPECT_TRUE(folder.Names().empty());
  EXPECT_FALSE(state.Result.has_value());
}

TEST_F(SaveTest, DoesNothingWhileBusy) {
  MakeResult();
  state.Busy = true;
  SaveTo(folder.path());
  EXPECT_TRUE(form.log.empty());
  EXPECT_TRUE(folder.Names().empty());
  ASSERT_TRUE(state.Result.has_value());
  EXPECT_TRUE(HasPattern(*state.Result));
  EXPECT_TRUE(state.Busy);
  EXPECT_EQ(rng.DrawCount(), 0u);
}

TEST_F(SaveTest, WritesTheResultThenPaintsTheNext) {
  MakeResult();
  rng.Script({Digit(0), Digit(15)});
  SaveTo(folder.path());

  const std::vector<std::string> names = folder.Names();
  ASSERT_EQ(names.size(), 1u);
  EXPECT_TRUE(std::regex_match(names[0], std::regex("[1-9][0-9]{9,}-0F\\.png"))) << names[0];
  Image saved;
  saved.LoadBitmap(folder.File(names[0]));
  EXPECT_TRUE(HasPattern(saved));

  ASSERT_TRUE(state.Result.has_value());
  EXPECT_EQ(state.Result->Width(), 40);  // the next picture, at the canvas size
  EXPECT_EQ(state.Result->Height(), 30);
  ASSERT_FALSE(form.shown.empty());
  EXPECT_FALSE(form.shown.back().IsNull());
  EXPECT_EQ(form.status, "");
  EXPECT_FALSE(state.Busy);
}

TEST_F(SaveTest, NeverOverwritesAnExistingPicture) {
  MakeResult();
  // The digits 0F are taken for this second and the next two.
  const std::int64_t now = SecondsSince1899Now();
  std::vector<std::string> taken;
  for (std::int64_t s = now; s <= now + 2; ++s) {
    taken.push_back(folder.File(ResultFileName(s, 0, 15) + ".png"));
    testing::WriteBytes(taken.back(), "earlier picture");
  }
  rng.Script({Digit(0), Digit(15), Digit(10), Digit(11)});
  SaveTo(folder.path());

  for (const std::string& file : taken) EXPECT_EQ(testing::ReadBytes(file), "earlier picture") << file;
  const std::vector<std::string> names = folder.Names();
  ASSERT_EQ(names.size(), 4u);
  const auto fresh =
      std::find_if(names.begin(), names.end(), [](const std::string& n) { return n.ends_with("-AB.png"); });
  ASSERT_NE(fresh, names.end());
  Image saved;
  saved.LoadBitmap(folder.File(*fresh));
  EXPECT_TRUE(HasPattern(saved));
  EXPECT_EQ(form.status, "");
}

class UnwritableFolderTest : public SaveTest, public ::testing::WithParamInterface<const char*> {
 protected:
  // Folders no one can write into, root included.
  fs::path Unwritable() {
    const std::string kind = GetParam();
    if (kind == "under-a-file") {
      testing::WriteBytes(folder.File("plain"), "x");
      return folder.path() / "plain" / "sub";
    }
    if (kind == "missing") return folder.path() / "no" / "such" / "folder";
    return "/proc";
  }
};

TEST_P(UnwritableFolderTest, ShowsTheErrorAndKeepsThePicture) {
  MakeResult();
  const fs::path target = Unwritable();
  SaveTo(target);
  EXPECT_EQ(form.status.rfind("Error: ", 0), 0u) << form.status;
  EXPECT_GT(form.status.size(), 7u);
  ASSERT_TRUE(state.Result.has_value());
  EXPECT_TRUE(HasPattern(*state.Result));
  EXPECT_TRUE(form.shown.empty());
  EXPECT_FALSE(state.Busy);

  // A second press tries again with fresh digits.
  const auto draws = rng.DrawCount();
  SaveTo(target);
  EXPECT_EQ(rng.DrawCount(), draws + 2);
  EXPECT_EQ(form.status.rfind("Error: ", 0), 0u) << form.status;
  EXPECT_TRUE(HasPattern(*state.Result));
}

INSTANTIATE_TEST_SUITE_P(Folders, UnwritableFolderTest, ::testing::Values("under-a-file", "missing", "proc"),
                         [](const ::testing::TestParamInfo<const char*>& info) {
                           return std::regex_replace(std::string(info.param), std::regex("-"), "_");
                         });

// Even a picture of a few hundred bytes, which fits in any write buffer,
// must fail on a full disk, leave nothing and keep the picture.
TEST_F(SaveTest, AFullDiskShowsTheErrorLeavesNoFileAndKeepsThePicture) {
  testing::FullDisk disk;
  if (!disk.Mounted()) GTEST_SKIP() << disk.Reason();
  MakeResult();
  SaveTo(disk.path());
  EXPECT_NE(form.status.find("Error: "), std::string::npos) << form.status;
  EXPECT_NE(form.status.find("No space left on device"), std::string::npos) << form.status;
  EXPECT_TRUE(disk.Others().empty()) << disk.Others().front();
  ASSERT_TRUE(state.Result.has_value());
  EXPECT_TRUE(HasPattern(*state.Result));
  EXPECT_TRUE(form.shown.empty());
  EXPECT_FALSE(state.Busy);
}

TEST_F(SaveTest, FailuresOfTheNextPictureAreLeftToTheCaller) {
  MakeResult();
  form.previewTag = "not a colour";  // the preview of the next picture fails
  EXPECT_THROW(SaveTo(folder.path()), ImageError);
  EXPECT_EQ(folder.Names().size(), 1u);  // the save itself went through
  for (const std::string& status : form.statuses) EXPECT_EQ(status.rfind("Error: ", 0), std::string::npos);
  EXPECT_FALSE(state.Busy);
}

}  // namespace
}  // namespace pictovance
