// Loading seen from the decoded picture: a drawing takes nothing from outside
// itself, and a picture's colour profile is applied.
#include <gtest/gtest.h>

#include <QBuffer>
#include <QColorSpace>
#include <QDir>
#include <QImage>
#include <QImageWriter>
#include <QTemporaryDir>
#include <algorithm>
#include <cmath>
#include <fstream>
#include <string>

#include "imaging/image.h"
#include "tests/imaging/pictures.h"

namespace pictovance {
namespace {

using test_pictures::Blue;
using test_pictures::Green;
using test_pictures::Red;

QByteArray Encoded(const QImage& picture, const char* format) {
  QByteArray bytes;
  QBuffer buffer(&bytes);
  buffer.open(QIODevice::WriteOnly);
  QImageWriter writer(&buffer, format);
  writer.setQuality(100);
  EXPECT_TRUE(writer.write(picture)) << format;
  return bytes;
}

QImage Flat(QColor colour) {
  QImage picture(16, 8, QImage::Format_RGB32);
  picture.fill(colour);
  return picture;
}

std::string Write(const QTemporaryDir& dir, const char* name, const QByteArray& bytes) {
  const std::string path = dir.filePath(QString::fromLatin1(name)).toStdString();
  std::ofstream(path, std::ios::binary).write(bytes.constData(), bytes.size());
  return path;
}

// A drawing that links a red picture beside it, by its absolute and by its
// relative name, over a blue ground, and embeds a green one as a data: URL.
// The links are not followed, so the linked half stays blue, while the
// embedded picture is still drawn.
TEST(DrawingTest, IsDrawnFromItselfAlone) {
  QTemporaryDir dir;
  const std::string red = Write(dir, "red.png", Encoded(Flat(Qt::red), "png"));
  const QByteArray green = Encoded(Flat(Qt::green), "png").toBase64();
  const std::string path =
      Write(dir, "linked.svg",
            "<svg xmlns='http://www.w3.org/2000/svg' xmlns:xlink='http://www.w3.org/1999/xlink' width='90' "
            "height='30'>"
            "<rect width='90' height='30' fill='#0000ff'/>"
            "<image x='0' y='0' width='30' height='30' xlink:href='" +
                QByteArray::fromStdString(red) +
                "'/>"
                "<image x='30' y='0' width='30' height='30' xlink:href='red.png'/>"
                "<image x='60' y='0' width='30' height='30' xlink:href='data:image/png;base64," +
                green + "'/></svg>");
  // A relative name would be looked up in the current folder.
  const QString here = QDir::currentPath();
  ASSERT_TRUE(QDir::setCurrent(dir.path()));
  Image image;
  try {
    image.LoadBitmap(path);
  } catch (const ImageError& error) {
    QDir::setCurrent(here);
    FAIL() << error.Description();
  }
  QDir::setCurrent(here);
  image.ChangeColorDepth(0, 4, 0);
  for (const int x : {15, 45}) {
    SCOPED_TRACE("linked picture at x " + std::to_string(x));
    EXPECT_EQ(image.GetColorAt(x, 15), 0xFF0000) << "a linked picture was read";
  }
  EXPECT_EQ(image.GetColorAt(75, 15), 0x00FF00) << "the embedded picture is missing";
}

// A shape far larger than the picture is measured at once: a circle of
// radius 1e31 once took minutes to measure (found by the fuzzer).
TEST(DrawingTest, AHugeShapeIsDrawnAtOnce) {
  QTemporaryDir dir;
  const std::string path =
      Write(dir, "huge.svg",
            "<svg xmlns='http://www.w3.org/2000/svg' width='24' height='16'>"
            "<circle cx='2' cy='2' r='22222222222222222222222222222222' fill='#ff0000'/></svg>");
  Image image;
  ASSERT_NO_THROW(image.LoadBitmap(path));
  EXPECT_EQ(image.Width(), 24);
  EXPECT_EQ(image.Height(), 16);
}

// Adobe RGB (1998) to sRGB, both with the D65 white: linear RGB through XYZ.
// The curves: Adobe RGB's pure power 563/256, sRGB's piecewise one.
int AdobeToSrgb(const double adobe[3], int channel) {
  static constexpr double kToSrgb[3][3] = {
      {1.39836, -0.39836, 0.0}, {0.0, 1.0, 0.0}, {0.0, -0.04293, 1.04293}};
  double linear = 0;
  for (int k = 0; k < 3; ++k) linear += kToSrgb[channel][k] * std::pow(adobe[k] / 255.0, 563.0 / 256.0);
  linear = std::clamp(linear, 0.0, 1.0);
  const double encoded = linear <= 0.0031308 ? 12.92 * linear : 1.055 * std::pow(linear, 1 / 2.4) - 0.055;
  return static_cast<int>(std::lround(encoded * 255));
}

class ColourProfileTest : public testing::TestWithParam<const char*> {};

// A flat (200, 100, 50) tagged Adobe RGB loads as the sRGB colour a
// colour-managed viewer shows, about (227, 100, 42); the same picture
// without a tag keeps its numbers.
TEST_P(ColourProfileTest, TaggedPicturesAreConvertedToSrgb) {
  QTemporaryDir dir;
  QImage picture = Flat(QColor(200, 100, 50));
  const std::string plain = Write(dir, "plain", Encoded(picture, GetParam()));
  picture.setColorSpace(QColorSpace(QColorSpace::AdobeRgb));
  const QByteArray taggedBytes = Encoded(picture, GetParam());
  const std::string tagged = Write(dir, "tagged", taggedBytes);
  ASSERT_TRUE(QImage::fromData(taggedBytes).colorSpace().isValid()) << "Qt wrote no profile";

  const double adobe[3] = {200, 100, 50};
  const int expected[3] = {AdobeToSrgb(adobe, 0), AdobeToSrgb(adobe, 1), AdobeToSrgb(adobe, 2)};
  Image image;
  image.LoadBitmap(tagged);
  image.ChangeColorDepth(0, 4, 0);
  const Colour c = image.GetColorAt(5, 5);
  EXPECT_NEAR(Red(c), expected[0], 2);
  EXPECT_NEAR(Green(c), expected[1], 2);
  EXPECT_NEAR(Blue(c), expected[2], 2);

  image.LoadBitmap(plain);
  image.ChangeColorDepth(0, 4, 0);
  const Colour same = image.GetColorAt(5, 5);
  EXPECT_NEAR(Red(same), 200, 2);
  EXPECT_NEAR(Green(same), 100, 2);
  EXPECT_NEAR(Blue(same), 50, 2);
}

INSTANTIATE_TEST_SUITE_P(Formats, ColourProfileTest, testing::Values("png", "jpeg", "webp", "tiff"),
                         [](const testing::TestParamInfo<const char*>& info) {
                           return std::string(info.param);
                         });

}  // namespace
}  // namespace pictovance
