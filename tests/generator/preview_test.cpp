#include "generator/preview.h"

#include <gtest/gtest.h>

#include <ostream>
#include <string>

#include "tests/generator/fake_form.h"
#include "tests/imaging/pictures.h"

namespace pictovance {
namespace {

using testing_support::FakeForm;

// Every pixel of the canvas its own colour, so a placement off by one
// shows.
Colour Pattern(int x, int y) { return (x % 256) | (y % 256) << 8 | ((x / 256) * 16 + y / 256) << 16; }

// A canvas of the preview's proportions is not scaled: it is centred on a
// picture of the preview's inner size, cut where larger and padded with
// the preview's background where smaller.
struct Placement {
  const char* name;
  int width, height;  // the canvas, in a 400 x 300 preview
  int dx, dy;         // where its top-left pixel lands
};
std::ostream& operator<<(std::ostream& out, const Placement& p) { return out << p.name; }

class PreviewPlacementTest : public ::testing::TestWithParam<Placement> {};

TEST_P(PreviewPlacementTest, CentresACanvasOfThePreviewsProportions) {
  const Placement& p = GetParam();
  const Colour background = 0x123456;
  FakeForm form;
  form.previewTag = std::to_string(background);
  const Image canvas = test_pictures::Paint(p.width, p.height, Pattern);
  ShowPreview(canvas, form);
  ASSERT_EQ(form.shown.size(), 1u);
  Image preview;
  preview.AssignPicture(form.shown[0]);
  ASSERT_EQ(preview.Width(), 400);
  ASSERT_EQ(preview.Height(), 300);
  for (int y = 0; y < 300; ++y) {
    for (int x = 0; x < 400; ++x) {
      const int cx = x - p.dx, cy = y - p.dy;
      const bool inside = cx >= 0 && cy >= 0 && cx < p.width && cy < p.height;
      ASSERT_EQ(preview.GetColorAt(x, y), inside ? Pattern(cx, cy) : background)
          << "preview pixel (" << x << ", " << y << ")";
    }
  }
  // The canvas itself is only read.
  EXPECT_EQ(canvas.Width(), p.width);
  EXPECT_EQ(canvas.GetColorAt(p.width - 1, p.height - 1), Pattern(p.width - 1, p.height - 1));
}

INSTANTIATE_TEST_SUITE_P(Canvases, PreviewPlacementTest,
                         ::testing::Values(Placement{"Smaller", 200, 150, 100, 75},
                                           Placement{"SameSize", 400, 300, 0, 0},
                                           Placement{"Larger", 800, 600, -200, -150}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace pictovance
