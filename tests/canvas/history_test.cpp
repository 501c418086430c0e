#include "canvas/history.h"

#include <gtest/gtest.h>

#include "tests/canvas/fake_form.h"
#include "tests/canvas/test_files.h"

namespace pictovance {
namespace {

using testing::FakeForm;

class HistoryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    state.CanvasW = 7;
    state.CanvasH = 5;
  }
  // The picture seed paints, painted on its own.
  Image Alone(std::uint64_t seed, bool effects = false) {
    FormState fresh;
    fresh.CanvasW = 7;
    fresh.CanvasH = 5;
    FakeForm other;
    other.effects = effects;
    PaintPicture(fresh, other, seed);
    return std::move(*fresh.Result);
  }
  ::testing::AssertionResult Shows(std::uint64_t seed) {
    if (!state.Result) return ::testing::AssertionFailure() << "no result";
    return testing::PixelsMatch(*state.Result, Alone(seed), 0, 0);
  }

  FormState state;
  FakeForm form;
  PictureHistory history;
};

TEST_F(HistoryTest, KeepsTheLastHundredAndAddsNewPicturesAfterTheNewest) {
  for (std::uint64_t seed = 1; seed <= PictureHistory::kCapacity + 2; ++seed)
    history.PaintNew(state, form, seed);
  ASSERT_EQ(history.Size(), PictureHistory::kCapacity);
  std::size_t steps = 0;
  while (history.Back(state, form)) ++steps;
  EXPECT_EQ(steps, PictureHistory::kCapacity - 1);
  EXPECT_TRUE(Shows(3));  // seeds 1 and 2 were forgotten

  ASSERT_TRUE(history.Forward(state, form));
  EXPECT_TRUE(Shows(4));
  state.Busy = true;
  EXPECT_FALSE(history.Forward(state, form));
  EXPECT_FALSE(history.Back(state, form));
  state.Busy = false;
  EXPECT_TRUE(Shows(4));

  history.PaintNew(state, form, 500);
  EXPECT_TRUE(Shows(500));
  EXPECT_FALSE(history.Forward(state, form));
  ASSERT_TRUE(history.Back(state, form));
  EXPECT_TRUE(Shows(PictureHistory::kCapacity + 2));
}

// Going back paints an entry as its recipe says, whatever the window shows
// now (here the finishing pass, since unticked), and leaves the window's own
// size as it was; the picture shown carries its recipe, so a Save keeps it.
TEST_F(HistoryTest, RepaintsByTheRecipeAndLeavesTheWindowAsItWas) {
  std::uint64_t seed = 1;
  while (seed < 50 && testing::PixelsMatch(Alone(seed, true), Alone(seed, false), 0, 0)) ++seed;
  ASSERT_LT(seed, 50u) << "no seed whose finishing pass shows";
  form.effects = true;
  history.PaintNew(state, form, seed);
  const TextEntries texts = state.Result->Texts();
  form.effects = false;
  history.PaintNew(state, form, seed + 1);
  state.CanvasW = 9;  // the size fields set since
  state.CanvasH = 4;

  ASSERT_TRUE(history.Back(state, form));
  EXPECT_TRUE(testing::PixelsMatch(*state.Result, Alone(seed, true), 0, 0));
  EXPECT_EQ(state.Result->Texts(), texts);
  EXPECT_EQ(state.CanvasW, 9);
  EXPECT_EQ(state.CanvasH, 4);
  EXPECT_EQ(state.SourceCount, 0);
}

}  // namespace
}  // namespace pictovance
