#include "imaging/image.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <QBuffer>
#include <QFile>
#include <QImage>
#include <QImageWriter>
#include <climits>
#include <filesystem>
#include <fstream>
#include <functional>
#include <set>

#include "imaging/qt_bridge.h"
#include "tests/imaging/pictures.h"

namespace pictovance {
namespace {

namespace fs = std::filesystem;

constexpr Colour kBlack = 0x000000;
constexpr Colour kRed = 0x0000FF;
constexpr Colour kWhite = 0xFFFFFF;

// Compares every pixel of image with expected(x, y); names the first bad one.
testing::AssertionResult PixelsAre(const Image& image, const std::function<Colour(int, int)>& expected) {
  for (int y = 0; y < image.Height(); ++y) {
    for (int x = 0; x < image.Width(); ++x) {
      const Colour got = image.GetColorAt(x, y);
      if (got != expected(x, y)) {
        return testing::AssertionFailure() << "pixel (" << x << ", " << y << ") is 0x" << std::hex << got
                                           << ", expected 0x" << expected(x, y);
      }
    }
  }
  return testing::AssertionSuccess();
}

class TempDir {
 public:
  TempDir() {
    m_path = fs::temp_directory_path() /
             ("pv-image-test-" + std::to_string(::getpid()) + "-" + std::to_string(s_counter++));
    fs::create_directories(m_path);
  }
  ~TempDir() {
    std::error_code ec;
    fs::remove_all(m_path, ec);
  }
  const fs::path& path() const { return m_path; }
  fs::path operator/(const std::string& name) const { return m_path / name; }

 private:
  static inline int s_counter = 0;
  fs::path m_path;
};

// --- Drawing and clipping ------------------------------------------------------

// Which pixels a dot of each width covers around (x, y): x - (w - 1) / 2 to
// x + w / 2, likewise in y.
bool InDot(int px, int py, int x, int y, int w) {
  const int lo = (w - 1) / 2, hi = w / 2;
  return px >= x - lo && px <= x + hi && py >= y - lo && py <= y + hi;
}

struct DotCase {
  int width;
  int x;
  int y;
};

class DrawPointTest : public testing::TestWithParam<std::tuple<int, int, int, int>> {};

// Dots of widths 1 to 4 at every position near and beyond each edge of a
// small picture cover exactly their square, clipped; nothing else changes.
TEST_P(DrawPointTest, CoversItsSquareClippedAtEveryEdge) {
  const auto [width, x, y, pictureSize] = GetParam();
  Image image;
  image.CreateBitmap(pictureSize, pictureSize + 1, kBlack);
  image.SetLineColor(kRed);
  image.SetLineWidth(width);
  image.DrawPoint(x, y);
  EXPECT_EQ(image.LineWidth(), width);
  // Copies of the bindings: clang 14 cannot capture structured bindings.
  EXPECT_TRUE(PixelsAre(image, [cx = x, cy = y, cw = width](int px, int py) {
    return InDot(px, py, cx, cy, cw) ? kRed : kBlack;
  }));
}

INSTANTIATE_TEST_SUITE_P(EdgesAndWidths, DrawPointTest,
                         testing::Combine(testing::Values(1, 2, 3, 4),
                                          testing::Values(-3, -2, -1, 0, 1, 4, 5, 6, 7),
                                          testing::Values(-2, -1, 0, 2, 5, 6, 7), testing::Values(1, 6)));

TEST(ImageDrawTest, FarAwayCoordinatesTouchNothing) {
  Image image;
  image.CreateBitmap(3, 3, kBlack);
  image.SetLineColor(kWhite);
  for (int w : {1, 2, 3, 4, -5, 0}) {
    image.SetLineWidth(w);
    for (int v : {INT_MIN, INT_MIN + 1, -100000, 100000, INT_MAX - 1, INT_MAX}) {
      image.DrawPoint(v, 1);
      image.DrawPoint(1, v);
      image.DrawPoint(v, v);
      image.DrawLine(v, v, v, v + (v < 0 ? 1 : -1));
      if (v < INT_MAX - 10) image.DrawLine(v, 1, v + 10, 1);
    }
  }
  EXPECT_TRUE(PixelsAre(image, [](int, int) { return kBlack; }));
}

TEST(ImageDrawTest, WidthsBelowOneDrawOnePixel) {
  for (int w : {0, -1, INT_MIN}) {
    SCOPED_TRACE(w);
    Image image;
    image.CreateBitmap(3, 3, kBlack);
    image.SetLineColor(kWhite);
    image.SetLineWidth(w);
    image.DrawPoint(1, 1);
    EXPECT_EQ(image.LineWidth(), w);  // reads give back what was written
    EXPECT_TRUE(PixelsAre(image, [](int x, int y) { return x == 1 && y == 1 ? kWhite : kBlack; }));
  }
}

TEST(ImageDrawTest, DrawingOnAnEmptyImageDoesNothing) {
  Image image;
  image.SetLineWidth(3);
  image.DrawPoint(0, 0);
  image.DrawLine(0, 0, 10, 10);
  EXPECT_EQ(image.Width(), 0);
  EXPECT_EQ(image.BitmapType(), 0);
}

// A column of dots of random widths paints what the same dots drawn one by
// one paint, at every edge, over a picture whose pixels all differ, and
// writes a shared picture only after detaching from it.
TEST(ImageDrawTest, DotColumnsPaintWhatTheirDotsPaintOneByOne) {
  unsigned seed = 7;
  const auto next = [&seed](int n) {
    seed = seed * 1103515245u + 12345u;
    return static_cast<int>((seed >> 8) % static_cast<unsigned>(n));
  };
  for (int trial = 0; trial < 3000; ++trial) {
    const int w = 1 + next(9), h = 1 + next(12);
    const int x = next(w + 6) - 3, y = next(h + 8) - 5;
    std::vector<std::uint8_t> widths(static_cast<std::size_t>(next(h + 6)));
    for (auto& width : widths) width = static_cast<std::uint8_t>(1 + next(4));
    SCOPED_TRACE(testing::Message() << w << "x" << h << " at " << x << ", " << y << ", " << widths.size()
                                    << " dots");
    const auto pattern = [](int px, int py) { return px | py << 8; };
    Image column = test_pictures::Paint(w, h, pattern);
    Image dots = test_pictures::Paint(w, h, pattern);
    const Picture held = column.GetPicture();
    column.SetLineColor(kWhite);
    dots.SetLineColor(kWhite);
    column.SetLineWidth(2);
    column.DrawDots(x, y, widths.data(), static_cast<int>(widths.size()));
    for (std::size_t k = 0; k < widths.size(); ++k) {
      dots.SetLineWidth(widths[k]);
      dots.DrawPoint(x, y + static_cast<int>(k));
    }
    ASSERT_EQ(column.LineWidth(), 2);
    ASSERT_TRUE(PixelsAre(column, [&](int px, int py) { return dots.GetColorAt(px, py); }));
    Image kept;
    kept.AssignPicture(held);
    ASSERT_TRUE(PixelsAre(kept, pattern));
  }
}

struct LineCase {
  int x1, y1, x2, y2, width;
  const char* name;
};
std::ostream& operator<<(std::ostream& out, const LineCase& c) {
  return out << "(" << c.x1 << ", " << c.y1 << ")-(" << c.x2 << ", " << c.y2 << ") width " << c.width;
}

class DrawLineTest : public testing::TestWithParam<LineCase> {};

// Horizontal and vertical lines (the only ones the program draws) are the
// union of their dots, clipped.
TEST_P(DrawLineTest, StraightLinesAreTheUnionOfTheirDots) {
  const LineCase c = GetParam();
  Image image;
  image.CreateBitmap(8, 6, kBlack);
  image.SetLineColor(kRed);
  image.SetLineWidth(c.width);
  image.DrawLine(c.x1, c.y1, c.x2, c.y2);
  const int left = std::min(c.x1, c.x2), right = std::max(c.x1, c.x2);
  const int top = std::min(c.y1, c.y2), bottom = std::max(c.y1, c.y2);
  EXPECT_TRUE(PixelsAre(image, [&](int px, int py) {
    for (int x = left; x <= right; ++x)
      for (int y = top; y <= bottom; ++y)
        if (InDot(px, py, x, y, c.width)) return kRed;
    return kBlack;
  }));
}

INSTANTIATE_TEST_SUITE_P(
    Lines, DrawLineTest,
    testing::Values(LineCase{0, 0, 8, 0, 1, "top_row_past_the_right_edge"},
                    LineCase{0, 6, 8, 6, 2, "row_below_the_picture"},
                    LineCase{0, 5, 8, 5, 2, "last_row_width2"}, LineCase{-3, 2, 3, 2, 3, "from_outside_left"},
                    LineCase{5, 2, -1, 2, 4, "reversed"}, LineCase{0, 0, 0, 6, 1, "first_column"},
                    LineCase{8, 0, 8, 6, 2, "column_past_the_right"},
                    LineCase{7, -5, 7, 20, 3, "last_column_overlong"},
                    LineCase{3, 3, 3, 3, 4, "single_point"}),
    [](const testing::TestParamInfo<LineCase>& info) { return std::string(info.param.name); });

TEST(ImageDrawTest, DiagonalLineRunsCornerToCornerAndClips) {
  Image image;
  image.CreateBitmap(5, 5, kBlack);
  image.SetLineColor(kWhite);
  image.SetLineWidth(1);
  image.DrawLine(-10, -10, 1000000, 1000000);
  EXPECT_TRUE(PixelsAre(image, [](int x, int y) { return x == y ? kWhite : kBlack; }));
}

// --- Colours and pixels -------------------------------------------------------------

TEST(ImageTest, ColoursAreBgrIntegers) {
  Image image;
  image.CreateBitmap(2, 1, 0x123456);
  EXPECT_EQ(image.GetColorAt(0, 0), 0x123456);
  image.SetLineColor(0x00ABCDEF);
  image.DrawPoint(1, 0);
  EXPECT_EQ(image.GetColorAt(1, 0), 0x00ABCDEF);
  // Red is the low byte: the bitmap holds it as red.
  const QImage shown = ToQImage(image.GetPicture());
  EXPECT_EQ(qRed(shown.pixel(1, 0)), 0xEF);
  EXPECT_EQ(qGreen(shown.pixel(1, 0)), 0xCD);
  EXPECT_EQ(qBlue(shown.pixel(1, 0)), 0xAB);
}

// Moving hands over the bitmap with its pen; the image moved from is empty
// and drawing on it can never reach the pixels it gave away.
TEST(ImageTest, MovedFromImagesAreEmptyAndDetached) {
  for (const bool assign : {false, true}) {
    SCOPED_TRACE(assign ? "assignment" : "construction");
    Image source;
    source.CreateBitmap(8, 8, kWhite);
    source.SetLineColor(kRed);
    source.SetLineWidth(3);
    source.DrawPoint(1, 1);  // fills the cached pixel pointers
    Image target;
    if (assign) {
      target.CreateBitmap(2, 2, 0);
      target = std::move(source);
    } else {
      Image built(std::move(source));
      target = std::move(built);
    }
    EXPECT_EQ(target.Width(), 8);
    EXPECT_EQ(target.LineWidth(), 3);
    EXPECT_EQ(target.GetColorAt(1, 1), kRed);

    EXPECT_EQ(source.BitmapType(), 0);  // NOLINT(bugprone-use-after-move): the moved-from state is the point
    EXPECT_EQ(source.Width(), 0);
    source.SetLineColor(0x0000FF00);
    source.DrawPoint(5, 5);
    EXPECT_EQ(target.GetColorAt(5, 5), kWhite);
  }
}

TEST(ImageTest, ReadsOutsideTheBitmapGiveBackColor) {
  Image image;
  image.CreateBitmap(2, 2, kRed);
  image.SetBackColor("15790320");
  EXPECT_EQ(image.BackColor(), 15790320);
  for (auto [x, y] : {std::pair{-1, 0}, {2, 0}, {0, -1}, {0, 2}, {INT_MIN, INT_MAX}}) {
    EXPECT_EQ(image.GetColorAt(x, y), 15790320);
  }
  Image empty;
  EXPECT_EQ(empty.GetColorAt(0, 0), 0);
}

TEST(ImageTest, BackColorRefusesTextThatIsNotANumber) {
  Image image;
  for (const char* text : {"", "abc", "12x", "99999999999"}) {
    SCOPED_TRACE(text);
    try {
      image.SetBackColor(text);
      ADD_FAILURE() << "accepted";
    } catch (const ImageError& error) {
      EXPECT_EQ(error.Number(), kErrorInvalidArgument);
    }
  }
  image.SetBackColor(" 255 ");
  EXPECT_EQ(image.BackColor(), 255);
}

TEST(ImageTest, CreateBitmapRefusesEmptySizes) {
  Image image;
  for (auto [w, h] : {std::pair{0, 1}, {1, 0}, {-1, 5}}) {
    EXPECT_THROW(image.CreateBitmap(w, h, 0), ImageError);
  }
  EXPECT_EQ(image.BitmapType(), 0);
  image.CreateBitmap(1, 1, kWhite);
  EXPECT_EQ(image.BitmapType(), 4);
  EXPECT_EQ(image.GetColorAt(0, 0), kWhite);
}

// --- Picture handles --------------------------------------------------------------

TEST(PictureTest, AssignedPicturesAreIndependentCopies) {
  Image source;
  source.CreateBitmap(4, 3, kRed);
  Image canvas;
  canvas.AssignPicture(source.GetPicture());
  ASSERT_EQ(canvas.Width(), 4);
  ASSERT_EQ(canvas.Height(), 3);
  canvas.SetLineColor(kWhite);
  canvas.DrawPoint(1, 1);
  canvas.DrawLine(0, 2, 3, 2);
  EXPECT_TRUE(PixelsAre(source, [](int, int) { return kRed; }));
  EXPECT_EQ(canvas.GetColorAt(1, 1), kWhite);

  // And the other way: painting the source leaves an earlier handle alone.
  const Picture before = source.GetPicture();
  source.SetLineColor(kBlack);
  source.DrawPoint(0, 0);
  Image check;
  check.AssignPicture(before);
  EXPECT_EQ(check.GetColorAt(0, 0), kRed);
  EXPECT_EQ(source.GetColorAt(0, 0), kBlack);
}

TEST(PictureTest, NullPicturesEmptyTheImage) {
  Image image;
  EXPECT_TRUE(image.GetPicture().IsNull());
  image.CreateBitmap(2, 2, kRed);
  image.AssignPicture(Picture());
  EXPECT_EQ(image.Width(), 0);
  EXPECT_EQ(image.BitmapType(), 0);
}

// --- Geometry ----------------------------------------------------------------------

// A picture whose pixel (x, y) encodes its own position.
Image PositionPicture(int w, int h) {
  Image image;
  image.CreateBitmap(w, h, 0);
  image.SetLineWidth(1);
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x) {
      image.SetLineColor(x | (y << 8));
      image.DrawPoint(x, y);
    }
  }
  return image;
}

struct CanvasCase {
  int fromW, fromH, toW, toH, position, dx, dy;  // where the old (0, 0) lands
};
std::ostream& operator<<(std::ostream& out, const CanvasCase& c) {
  return out << c.fromW << "x" << c.fromH << " to " << c.toW << "x" << c.toH << " at " << c.position;
}

class ResizeCanvasTest : public testing::TestWithParam<CanvasCase> {};

TEST_P(ResizeCanvasTest, PlacesThePictureByPositionCode) {
  const CanvasCase c = GetParam();
  Image image = PositionPicture(c.fromW, c.fromH);
  image.ResizeCanvas(c.toW, c.toH, c.position, 0x00F0F0F0);
  ASSERT_EQ(image.Width(), c.toW);
  ASSERT_EQ(image.Height(), c.toH);
  EXPECT_TRUE(PixelsAre(image, [&](int x, int y) -> Colour {
    const int sx = x - c.dx, sy = y - c.dy;
    if (sx < 0 || sy < 0 || sx >= c.fromW || sy >= c.fromH) return 0x00F0F0F0;
    return sx | (sy << 8);
  }));
}

INSTANTIATE_TEST_SUITE_P(
    Codes, ResizeCanvasTest,
    testing::Values(CanvasCase{4, 4, 8, 6, 4, 2, 1},    // padded, centred
                    CanvasCase{5, 3, 8, 6, 4, 1, 1},    // odd leftover to the right and bottom
                    CanvasCase{8, 6, 4, 4, 4, -2, -1},  // trimmed, middle kept
                    CanvasCase{9, 7, 4, 4, 4, -2, -1},  // odd trim: one more from the right/bottom
                    CanvasCase{8, 2, 4, 6, 4, -2, 2},   // trimmed one way, padded the other
                    CanvasCase{4, 4, 8, 6, 0, 0, 0}, CanvasCase{4, 4, 8, 6, 2, 4, 0},
                    CanvasCase{4, 4, 8, 6, 8, 4, 2}, CanvasCase{4, 4, 8, 6, 6, 0, 2},
                    CanvasCase{4, 4, 1, 1, 4, -1, -1}, CanvasCase{1, 1, 3, 3, 4, 1, 1}));

TEST(ImageGeometryTest, ResizeCanvasRefusesUnknownCodesAndSizes) {
  Image image = PositionPicture(2, 2);
  EXPECT_THROW(image.ResizeCanvas(4, 4, 9, 0), ImageError);
  EXPECT_THROW(image.ResizeCanvas(4, 4, -1, 0), ImageError);
  EXPECT_THROW(image.ResizeCanvas(0, 4, 4, 0), ImageError);
  EXPECT_EQ(image.Width(), 2);
}

TEST(ImageGeometryTest, ResizeScalesToExactlyTheSize) {
  for (auto [w, h] : {std::pair{1, 1}, {800, 900}, {1400, 400}, {3, 1000}}) {
    SCOPED_TRACE(std::to_string(w) + "x" + std::to_string(h));
    Image image;
    image.CreateBitmap(400, 300, kRed);
    image.Resize(w, h);
    EXPECT_EQ(image.Width(), w);
    EXPECT_EQ(image.Height(), h);
    EXPECT_EQ(image.GetColorAt(w - 1, h - 1), kRed);  // a flat picture stays flat
    EXPECT_EQ(image.GetColorAt(0, 0), kRed);
  }
  Image empty;
  EXPECT_THROW(empty.Resize(4, 4), ImageError);
}

TEST(ImageGeometryTest, ResizeDoesNotTouchASharedPicture) {
  Image image = PositionPicture(6, 4);
  const Picture before = image.GetPicture();
  image.Resize(3, 2);
  image.ResizeCanvas(10, 10, 4, 0);
  EXPECT_EQ(before.Width(), 6);
  Image check;
  check.AssignPicture(before);
  EXPECT_EQ(check.GetColorAt(5, 3), 5 | (3 << 8));
}

// --- Files ---------------------------------------------------------------------------

TEST(ImageFileTest, PngRoundTripKeepsEveryPixel) {
  TempDir dir;
  Image image = PositionPicture(37, 11);
  image.SetSaveFormat(3);
  image.SetSavePNGCompression(8);
  image.SaveBitmap((dir / "picture").string());  // no extension: ".png" is added
  ASSERT_TRUE(fs::exists(dir / "picture.png"));
  Image loaded;
  loaded.LoadBitmap((dir / "picture.png").string());
  EXPECT_EQ(loaded.BitmapType(), 4);
  ASSERT_EQ(loaded.Width(), 37);
  ASSERT_EQ(loaded.Height(), 11);
  EXPECT_TRUE(PixelsAre(loaded, [](int x, int y) { return x | (y << 8); }));
}

TEST(ImageFileTest, PathsWithAnExtensionAreKept) {
  TempDir dir;
  Image image = PositionPicture(3, 3);
  image.SaveBitmap((dir / "shot.dat").string());
  EXPECT_TRUE(fs::exists(dir / "shot.dat"));
  EXPECT_FALSE(fs::exists(dir / "shot.dat.png"));
}

TEST(ImageFileTest, CompressionLevelChangesTheFileButNotThePixels) {
  TempDir dir;
  Image image;
  image.CreateBitmap(200, 200, kRed);
  image.SetSavePNGCompression(0);
  image.SaveBitmap((dir / "none").string());
  image.SetSavePNGCompression(8);
  image.SaveBitmap((dir / "eight").string());
  EXPECT_GT(fs::file_size(dir / "none.png"), 10 * fs::file_size(dir / "eight.png"));
  Image loaded;
  loaded.LoadBitmap((dir / "eight.png").string());
  EXPECT_EQ(loaded.GetColorAt(199, 199), kRed);
}

TEST(ImageFileTest, SaveToAnUnwritablePlaceRaisesAndLeavesNothing) {
  TempDir dir;
  std::ofstream(dir / "plain-file") << "x";
  Image image = PositionPicture(3, 3);
  try {
    image.SaveBitmap((dir / "plain-file" / "picture").string());
    FAIL() << "saved under a plain file";
  } catch (const ImageError& error) {
    EXPECT_EQ(error.Number(), kErrorWriteFailed);
    EXPECT_NE(error.Description().find("picture"), std::string::npos) << error.Description();
  }
  Image empty;
  EXPECT_THROW(empty.SaveBitmap((dir / "empty").string()), ImageError);
  EXPECT_FALSE(fs::exists(dir / "empty.png"));
  image.SetSaveFormat(77);
  EXPECT_THROW(image.SaveBitmap((dir / "odd").string()), ImageError);
  EXPECT_FALSE(fs::exists(dir / "odd.png"));
}

class LoadFormatTest : public testing::TestWithParam<const char*> {};

TEST_P(LoadFormatTest, ReadsTheFormat) {
  TempDir dir;
  QImage picture(9, 5, QImage::Format_RGB32);
  picture.fill(QColor(200, 30, 60));
  const std::string format = GetParam();
  const fs::path path = dir / ("picture." + format);
  QImageWriter writer(QString::fromStdString(path.string()), QByteArray(format.c_str()));
  if (format == "webp" || format == "jpg") writer.setQuality(100);
  ASSERT_TRUE(writer.write(picture)) << writer.errorString().toStdString();
  Image image;
  image.LoadBitmap(path.string());
  EXPECT_EQ(image.Width(), 9);
  EXPECT_EQ(image.Height(), 5);
  image.ChangeColorDepth(0, 4, 0);
  EXPECT_EQ(image.BitmapType(), 4);
  const Colour c = image.GetColorAt(4, 2);
  EXPECT_NEAR(c & 0xFF, 200, 6);
  EXPECT_NEAR((c >> 8) & 0xFF, 30, 6);
  EXPECT_NEAR((c >> 16) & 0xFF, 60, 6);
}

INSTANTIATE_TEST_SUITE_P(Formats, LoadFormatTest, testing::Values("png", "jpg", "bmp", "tiff", "webp"));

// Qt writes no GIF, so this one is spelled out: a 2 x 1 GIF with the
// colours (200, 30, 60) and (10, 20, 30).
TEST(ImageFileTest, ReadsGif) {
  TempDir dir;
  const unsigned char gif[] = {'G', 'I',  'F', '8', '9', 'a', 2, 0, 1, 0, 0x80, 0, 0, 200,  30,   60, 10,  20,
                               30,  0x2C, 0,   0,   0,   0,   2, 0, 1, 0, 0,    2, 2, 0x44, 0x0A, 0,  0x3B};
  std::ofstream(dir / "p.gif", std::ios::binary).write(reinterpret_cast<const char*>(gif), sizeof gif);
  Image image;
  image.LoadBitmap((dir / "p.gif").string());
  ASSERT_EQ(image.Width(), 2);
  ASSERT_EQ(image.Height(), 1);
  EXPECT_EQ(image.GetColorAt(0, 0), 200 | (30 << 8) | (60 << 16));
  EXPECT_EQ(image.GetColorAt(1, 0), 10 | (20 << 8) | (30 << 16));
}

TEST(ImageFileTest, PalettePicturesLoadAsThePaletteKindAndConvert) {
  TempDir dir;
  QImage picture(4, 4, QImage::Format_Indexed8);
  picture.setColorTable({qRgb(10, 20, 30), qRgb(250, 0, 0)});
  picture.fill(1);
  ASSERT_TRUE(picture.save(QString::fromStdString((dir / "p.png").string())));
  Image image;
  image.LoadBitmap((dir / "p.png").string());
  EXPECT_EQ(image.BitmapType(), 1);
  EXPECT_EQ(image.GetColorAt(0, 0), 0x0000FA);
  image.SetLineColor(kWhite);
  image.DrawPoint(3, 3);  // drawing converts to the working kind
  EXPECT_EQ(image.BitmapType(), 4);
  EXPECT_EQ(image.GetColorAt(3, 3), kWhite);
  EXPECT_EQ(image.GetColorAt(0, 0), 0x0000FA);
}

TEST(ImageFileTest, TransparentPartsAreLaidOverWhite) {
  TempDir dir;
  QImage picture(2, 1, QImage::Format_ARGB32);
  picture.setPixel(0, 0, qRgba(0, 0, 0, 0));
  picture.setPixel(1, 0, qRgba(255, 0, 0, 255));
  ASSERT_TRUE(picture.save(QString::fromStdString((dir / "a.png").string())));
  Image image;
  image.LoadBitmap((dir / "a.png").string());
  EXPECT_EQ(image.GetColorAt(0, 0), kWhite);
  EXPECT_EQ(image.GetColorAt(1, 0), kRed);
}

// A PNG whose header claims width x height, with an empty image data chunk.
std::string PngHeaderOnly(std::uint32_t width, std::uint32_t height) {
  auto be32 = [](std::string& s, std::uint32_t v) {
    for (int shift : {24, 16, 8, 0}) s += static_cast<char>((v >> shift) & 0xFF);
  };
  auto chunk = [&](std::string& file, const std::string& body) {  // body = type + data
    be32(file, static_cast<std::uint32_t>(body.size() - 4));
    file += body;
    std::uint32_t crc = 0xFFFFFFFFu;
    for (unsigned char ch : body) {
      crc ^= ch;
      for (int k = 0; k < 8; ++k) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
    }
    be32(file, crc ^ 0xFFFFFFFFu);
  };
  std::string header = "IHDR";
  be32(header, width);
  be32(header, height);
  header += std::string("\x08\x02\x00\x00\x00", 5);
  std::string file = "\x89PNG\r\n\x1a\n";
  chunk(file, header);
  chunk(file, "IDAT");
  chunk(file, "IEND");
  return file;
}

// A 4 x 2, 24-bit BMP with the old 12-byte header, bottom row first. The
// first row's pixel bytes are chosen so that reading them as the fields of
// the 40-byte header would promise far more data than the file holds.
std::string OldStyleBmp() {
  const unsigned char bytes[] = {
      'B', 'M', 50, 0,  0,  0,  0,  0,  0,  0,   26,  0,  0, 0,  // file header: size 50, pixels at 26
      12,  0,   0,  0,  4,  0,  2,  0,  1,  0,   24,  0,         // 4 x 2, one plane, 24 bits
      9,   9,   1,  0,  0,  0,  0,  0,  9,  9,   9,   9,         // bottom row: blue, green, red per pixel
      10,  20,  30, 40, 50, 60, 70, 80, 90, 100, 110, 120};      // top row
  return std::string(reinterpret_cast<const char*>(bytes), sizeof bytes);
}

TEST(ImageFileTest, ReadsABmpWithTheOldHeader) {
  TempDir dir;
  const fs::path path = dir / "old.bmp";
  std::ofstream(path, std::ios::binary) << OldStyleBmp();
  Image image;
  image.LoadBitmap(path.string());
  ASSERT_EQ(image.Width(), 4);
  ASSERT_EQ(image.Height(), 2);
  image.ChangeColorDepth(0, 4, 0);
  EXPECT_EQ(image.GetColorAt(0, 0), 0x0A141Eu);  // blue 10, green 20, red 30
  EXPECT_EQ(image.GetColorAt(0, 1), 0x090901u);  // blue 9, green 9, red 1
}

struct BadFile {
  const char* name;
  std::function<void(const fs::path&)> make;
  int error;
};
std::ostream& operator<<(std::ostream& out, const BadFile& f) { return out << f.name; }

class LoadBadFileTest : public testing::TestWithParam<BadFile> {};

TEST_P(LoadBadFileTest, RaisesAClearErrorAndKeepsThePicture) {
  TempDir dir;
  const fs::path path = dir / "file";
  GetParam().make(path);
  Image image;
  image.CreateBitmap(2, 2, kRed);
  try {
    image.LoadBitmap(path.string());
    FAIL() << "loaded";
  } catch (const ImageError& error) {
    EXPECT_EQ(error.Number(), GetParam().error) << error.Description();
    EXPECT_FALSE(error.Description().empty());
  }
  EXPECT_EQ(image.Width(), 2);
  EXPECT_EQ(image.GetColorAt(1, 1), kRed);
}

void WriteText(const fs::path& path, const std::string& text) {
  std::ofstream(path, std::ios::binary) << text;
}

std::string Encoded(const char* format) {
  QImage picture(64, 64, QImage::Format_RGB32);
  for (int y = 0; y < 64; ++y)
    for (int x = 0; x < 64; ++x) picture.setPixel(x, y, qRgb(x * 4, y * 4, (x * y) & 255));
  QByteArray bytes;
  QBuffer buffer(&bytes);
  buffer.open(QIODevice::WriteOnly);
  picture.save(&buffer, format);
  return bytes.toStdString();
}

// The first half of a picture file in the given format.
std::function<void(const fs::path&)> CutOff(const char* format) {
  return [format](const fs::path& p) {
    const std::string bytes = Encoded(format);
    WriteText(p, bytes.substr(0, bytes.size() / 2));
  };
}

// A PNG with a text chunk after its header whose length claims almost
// 2 GB; the file holds a few bytes of it.
std::string PngWithChunkBeyondTheEnd() {
  const std::string png = Encoded("PNG");
  const std::size_t afterHeader = 8 + 12 + 13;
  return png.substr(0, afterHeader) + std::string("\x7F\xFF\xFF\xF0tEXtComment\0", 16) + "just a few bytes";
}

// A JPEG of 64 x 64 whose frame header claims width x height.
std::string JpegClaiming(int width, int height) {
  std::string jpeg = Encoded("JPEG");
  const std::size_t frame = jpeg.find("\xFF\xC0");
  jpeg[frame + 5] = static_cast<char>(height >> 8);
  jpeg[frame + 6] = static_cast<char>(height & 0xFF);
  jpeg[frame + 7] = static_cast<char>(width >> 8);
  jpeg[frame + 8] = static_cast<char>(width & 0xFF);
  return jpeg;
}

// The first half of a JPEG with one stray byte before its scan: libjpeg
// warns about the byte first and never about the missing half.
std::string CutOffJpegWithAnEarlierWarning() {
  std::string jpeg = Encoded("JPEG");
  jpeg.insert(jpeg.find("\xFF\xDA"), 1, '\0');
  return jpeg.substr(0, jpeg.size() / 2);
}

INSTANTIATE_TEST_SUITE_P(
    Files, LoadBadFileTest,
    testing::Values(
        BadFile{"missing", [](const fs::path&) {}, kErrorFileNotFound},
        BadFile{"empty", [](const fs::path& p) { WriteText(p, ""); }, kErrorNotAnImage},
        BadFile{"text", [](const fs::path& p) { WriteText(p, "just some words\n"); }, kErrorNotAnImage},
        // Found by the fuzzer: the format was told by reading past the end.
        BadFile{"riff_cut_before_its_form", [](const fs::path& p) { WriteText(p, "RIFF\x01\x02\x03"); },
                kErrorNotAnImage},
        BadFile{"folder", [](const fs::path& p) { fs::create_directory(p); }, kErrorFileAccess},
        BadFile{"truncated_png", CutOff("PNG"), kErrorDecodeFailed},
        BadFile{"truncated_jpeg", CutOff("JPEG"), kErrorDecodeFailed},
        BadFile{"truncated_bmp", CutOff("BMP"), kErrorDecodeFailed},
        BadFile{"truncated_old_bmp", [](const fs::path& p) { WriteText(p, OldStyleBmp().substr(0, 40)); },
                kErrorDecodeFailed},
        BadFile{"huge_header", [](const fs::path& p) { WriteText(p, PngHeaderOnly(20000, 20000)); },
                kErrorTooLarge},
        BadFile{"png_sides_beyond_the_format",
                [](const fs::path& p) { WriteText(p, PngHeaderOnly(0xFFFFFFFFu, 0xFFFFFFFFu)); },
                kErrorDecodeFailed},
        BadFile{"png_chunk_beyond_the_end",
                [](const fs::path& p) { WriteText(p, PngWithChunkBeyondTheEnd()); }, kErrorDecodeFailed},
        BadFile{"png_too_short_for_its_size",
                [](const fs::path& p) { WriteText(p, PngHeaderOnly(16000, 16000)); }, kErrorDecodeFailed},
        BadFile{"jpeg_too_short_for_its_size",
                [](const fs::path& p) { WriteText(p, JpegClaiming(16000, 16000)); }, kErrorDecodeFailed},
        BadFile{"jpeg_cut_off_behind_an_earlier_warning",
                [](const fs::path& p) { WriteText(p, CutOffJpegWithAnEarlierWarning()); },
                kErrorDecodeFailed}),
    [](const testing::TestParamInfo<BadFile>& info) { return std::string(info.param.name); });

TEST(ImageFileTest, ErrorsAreRuntimeErrorsWithNumberAndDescription) {
  const ImageError error(kErrorWriteFailed, "Cannot write x");
  const std::runtime_error& base = error;
  EXPECT_STREQ(base.what(), "Cannot write x");
  EXPECT_EQ(error.Number(), kErrorWriteFailed);
  EXPECT_EQ(error.Description(), "Cannot write x");
}

TEST(ImageTest, ConversionToTheWorkingKindIsHarmlessOnEveryKind) {
  Image empty;
  empty.ChangeColorDepth(0, 4, 0);
  EXPECT_EQ(empty.BitmapType(), 0);
  Image image = PositionPicture(3, 2);
  image.ChangeColorDepth(0, 4, 0);
  EXPECT_EQ(image.BitmapType(), 4);
  EXPECT_TRUE(PixelsAre(image, [](int x, int y) { return x | (y << 8); }));
  EXPECT_THROW(image.ChangeColorDepth(0, 7, 0), ImageError);
}

}  // namespace
}  // namespace pictovance
