#include "generator/fit.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <ostream>
#include <string>
#include <vector>

#include "imaging/image.h"

namespace pictovance {
namespace {

// Records the calls FitToCanvas makes; sizes follow Resize and
// ResizeCanvas as the image object's would.
class FitRecorder {
 public:
  FitRecorder(int width, int height, int kind) : m_width(width), m_height(height), m_kind(kind) {}

  int Width() const { return m_width; }
  int Height() const { return m_height; }
  int BitmapType() const { return m_kind; }
  void Resize(int width, int height) {
    calls.push_back("Resize " + std::to_string(width) + ", " + std::to_string(height));
    largest = std::max(largest, static_cast<std::int64_t>(width) * height);
    m_width = width;
    m_height = height;
    m_kind = 4;
  }
  void ResizeCanvas(int width, int height, int position, Colour colour) {
    calls.push_back("ResizeCanvas " + std::to_string(width) + ", " + std::to_string(height) + ", " +
                    std::to_string(position) + ", " + std::to_string(colour));
    m_width = width;
    m_height = height;
    m_kind = 4;
  }
  void ChangeColorDepth(std::int32_t count, std::int32_t kind, std::int32_t dither) {
    calls.push_back("ChangeColorDepth " + std::to_string(count) + ", " + std::to_string(kind) + ", " +
                    std::to_string(dither));
    m_kind = 4;
  }

  std::vector<std::string> calls;
  std::int64_t largest = 0;  // pixels of the largest scaled copy

 private:
  int m_width;
  int m_height;
  int m_kind;
};

struct FitRow {
  int pictureW, pictureH;
  int frameW, frameH;
  std::vector<std::string> calls;
  int afterW, afterH;
};
void PrintTo(const FitRow& row, std::ostream* out) {
  *out << row.pictureW << " x " << row.pictureH << " into " << row.frameW << " x " << row.frameH;
}

class FitToCanvasTest : public ::testing::TestWithParam<FitRow> {};

TEST_P(FitToCanvasTest, MakesTheCallsOfTheWorkedValues) {
  const FitRow& row = GetParam();
  FitRecorder picture(row.pictureW, row.pictureH, 4);
  FitToCanvas(row.frameW, row.frameH, picture);
  EXPECT_EQ(picture.calls, row.calls);
  EXPECT_EQ(picture.Width(), row.afterW);
  EXPECT_EQ(picture.Height(), row.afterH);
}

TEST_P(FitToCanvasTest, TheImageObjectEndsAtTheSameSize) {
  const FitRow& row = GetParam();
  Image picture;
  picture.CreateBitmap(row.pictureW, row.pictureH, 0x204080);
  FitToCanvas(row.frameW, row.frameH, picture);
  EXPECT_EQ(picture.Width(), row.afterW);
  EXPECT_EQ(picture.Height(), row.afterH);
  EXPECT_EQ(picture.BitmapType(), 4);
}

using Calls = std::vector<std::string>;

INSTANTIATE_TEST_SUITE_P(
    WorkedValues, FitToCanvasTest,
    ::testing::Values(
        FitRow{1000, 1000, 800, 400, Calls{"Resize 800, 900", "ResizeCanvas 800, 400, 4, 0"}, 800, 400},
        FitRow{400, 400, 800, 400, Calls{"Resize 800, 600", "ResizeCanvas 800, 400, 4, 0"}, 800, 400},
        FitRow{1200, 300, 800, 400, Calls{"Resize 1400, 400", "ResizeCanvas 800, 400, 4, 0"}, 800, 400},
        FitRow{1024, 768, 800, 400, Calls{"Resize 800, 656", "ResizeCanvas 800, 400, 4, 0"}, 800, 400},
        FitRow{800, 400, 400, 300, Calls{"Resize 667, 300", "ResizeCanvas 400, 300, 4, 0"}, 400, 300},
        FitRow{801, 400, 800, 400, Calls{"Resize 801, 400", "ResizeCanvas 800, 400, 4, 0"}, 800, 400},
        FitRow{1600, 800, 800, 400, Calls{}, 1600, 800}, FitRow{400, 200, 800, 400, Calls{}, 400, 200},
        FitRow{800, 400, 800, 400, Calls{}, 800, 400},
        // Larger in one direction only: "scaled" to its own size, then trimmed.
        FitRow{1000, 400, 800, 400, Calls{"Resize 1000, 400", "ResizeCanvas 800, 400, 4, 0"}, 800, 400},
        // One-pixel edges.
        FitRow{1, 1, 1, 1, Calls{}, 1, 1},
        FitRow{1, 2, 1, 1, Calls{"Resize 1, 2", "ResizeCanvas 1, 1, 4, 0"}, 1, 1},
        FitRow{3, 1, 1, 1, Calls{"Resize 3, 1", "ResizeCanvas 1, 1, 4, 0"}, 1, 1},
        // Scaled in full this would be 2,000,792 x 400: only the middle that
        // covers the frame is scaled.
        FitRow{2000000, 4, 800, 400,
               Calls{"ResizeCanvas 802, 4, 4, 0", "Resize 802, 400", "ResizeCanvas 800, 400, 4, 0"}, 800,
               400}));

// Over pictures from 1 pixel to millions long and frames up to the largest
// canvas: the end is the frame, and no scaled copy is larger than a loaded
// picture may be.
TEST(FitBoundTest, NoScaledCopyExceedsTheLoadLimit) {
  Random rng(2024);
  const auto length = [&rng](double most) {
    return static_cast<int>(std::exp(rng.RandomUnit() * std::log(most)));
  };
  for (int i = 0; i < 20000; ++i) {
    int pw = length(4e6);
    int ph = length(4e6);
    while (static_cast<std::int64_t>(pw) * ph > kMaxLoadPixels) (pw > ph ? pw : ph) /= 2;
    const int fw = std::max(1, length(9999));
    const int fh = std::max(1, length(9999));
    SCOPED_TRACE(std::to_string(pw) + " x " + std::to_string(ph) + " into " + std::to_string(fw) + " x " +
                 std::to_string(fh));
    FitRecorder picture(pw, ph, 4);
    FitToCanvas(fw, fh, picture);
    ASSERT_LE(picture.largest, kMaxLoadPixels);
    if (FitScaledSize(pw, ph, fw, fh).scale) {
      ASSERT_EQ(picture.Width(), fw);
      ASSERT_EQ(picture.Height(), fh);
    }
  }
}

struct KindRow {
  int pictureW, pictureH;
  int kind;
  Calls calls;
};
void PrintTo(const KindRow& row, std::ostream* out) {
  *out << row.pictureW << " x " << row.pictureH << " of kind " << row.kind;
}

class FitKindTest : public ::testing::TestWithParam<KindRow> {};

TEST_P(FitKindTest, LeavesThePictureOfTheWorkingKind) {
  const KindRow& row = GetParam();
  FitRecorder picture(row.pictureW, row.pictureH, row.kind);
  FitToCanvas(800, 400, picture);
  EXPECT_EQ(picture.calls, row.calls);
  EXPECT_EQ(picture.BitmapType(), 4);
}

INSTANTIATE_TEST_SUITE_P(
    Kinds, FitKindTest,
    ::testing::Values(
        // No scaling: only the conversion, and only when needed.
        KindRow{400, 200, 1, Calls{"ChangeColorDepth 0, 4, 0"}},
        KindRow{800, 400, 1, Calls{"ChangeColorDepth 0, 4, 0"}}, KindRow{400, 200, 4, Calls{}},
        // Scaling already yields the working kind.
        KindRow{1000, 1000, 1, Calls{"Resize 800, 900", "ResizeCanvas 800, 400, 4, 0"}}));

}  // namespace
}  // namespace pictovance
