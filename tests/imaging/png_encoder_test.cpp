#include "imaging/png_encoder.h"

#include <gtest/gtest.h>

#include <QBuffer>
#include <QImage>
#include <QImageReader>
#include <algorithm>

#include "imaging/image.h"

// Sizes in the tests' names: QSize lives outside any namespace.
void PrintTo(const QSize& size, std::ostream* out) { *out << size.width() << "x" << size.height(); }

namespace pictovance {
namespace {

QByteArray Bytes(const std::vector<unsigned char>& png) {
  return QByteArray(reinterpret_cast<const char*>(png.data()), static_cast<qsizetype>(png.size()));
}

// The chunk types of a PNG file, in order.
std::vector<std::string> ChunkTypes(const std::vector<unsigned char>& png) {
  std::vector<std::string> types;
  for (std::size_t at = 8; at + 12 <= png.size();) {
    const std::size_t length = std::size_t{png[at]} << 24 | std::size_t{png[at + 1]} << 16 |
                               std::size_t{png[at + 2]} << 8 | png[at + 3];
    types.emplace_back(reinterpret_cast<const char*>(&png[at + 4]), 4);
    at += 12 + length;
  }
  return types;
}

// Pixels that differ from their neighbours in every channel, so the row
// filter's differences wrap around both ways.
QImage WorkingPicture(int w, int h) {
  QImage image(w, h, QImage::Format_RGB32);
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x)
      image.setPixel(x, y, qRgb((x * 53 + y * 7) % 256, (y * 91 + x) % 256, (x * y * 13) % 256));
  }
  return image;
}

QImage PalettePicture(int w, int h) {
  QImage image(w, h, QImage::Format_Indexed8);
  QList<QRgb> table;
  for (int k = 0; k < 7; ++k) table.push_back(qRgb(k * 40, 255 - k * 30, (k * 97) % 256));
  image.setColorTable(table);
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x) image.setPixel(x, y, static_cast<uint>((x + 3 * y) % 7));
  }
  return image;
}

testing::AssertionResult SamePixels(const QImage& decoded, const QImage& source) {
  if (decoded.size() != source.size()) return testing::AssertionFailure() << "the size changed";
  for (int y = 0; y < source.height(); ++y) {
    for (int x = 0; x < source.width(); ++x) {
      if (decoded.pixel(x, y) != source.pixel(x, y)) {
        return testing::AssertionFailure() << "pixel (" << x << ", " << y << ") is 0x" << std::hex
                                           << decoded.pixel(x, y) << ", expected 0x" << source.pixel(x, y);
      }
    }
  }
  return testing::AssertionSuccess();
}

class PngRoundTripTest : public testing::TestWithParam<std::tuple<bool, QSize, int>> {};

TEST_P(PngRoundTripTest, DecodesToTheSourcePixels) {
  const auto [palette, size, level] = GetParam();
  const QImage source =
      palette ? PalettePicture(size.width(), size.height()) : WorkingPicture(size.width(), size.height());
  const std::vector<unsigned char> png = EncodePng(source, level, {});
  const QImage decoded = QImage::fromData(Bytes(png), "PNG");
  ASSERT_FALSE(decoded.isNull());
  EXPECT_EQ(decoded.format() == QImage::Format_Indexed8, palette);
  EXPECT_TRUE(SamePixels(decoded, source));
}

INSTANTIATE_TEST_SUITE_P(KindsAndSizes, PngRoundTripTest,
                         testing::Combine(testing::Bool(),
                                          testing::Values(QSize(1, 1), QSize(2, 1), QSize(1, 3), QSize(3, 3),
                                                          QSize(37, 11), QSize(801, 5)),
                                          testing::Values(0, 8)));

// Large pictures stream through zlib a band at a time instead of being
// compressed in one call.
TEST(PngEncoderTest, APictureTooLargeForOneCallDecodesToItsPixels) {
  // Noise at the top, so the compressed stream too outgrows one output piece.
  QImage source = WorkingPicture(4800, 4700);
  std::uint32_t state = 1;
  for (int y = 0; y < 300; ++y) {
    auto* row = reinterpret_cast<QRgb*>(source.scanLine(y));
    for (int x = 0; x < source.width(); ++x) {
      state = state * 1664525u + 1013904223u;
      row[x] = 0xFF000000u | (state >> 8);
    }
  }
  const std::vector<unsigned char> png = EncodePng(source, 1, {});
  const std::vector<std::string> types = ChunkTypes(png);
  EXPECT_GT(std::count(types.begin(), types.end(), "IDAT"), 1);
  const QImage decoded = QImage::fromData(Bytes(png), "PNG");
  EXPECT_TRUE(SamePixels(decoded.convertToFormat(QImage::Format_RGB32), source));
}

TEST(PngEncoderTest, TextsReadBackAsTextAndInternationalTextChunks) {
  const PngTexts texts = {{"Title", "Plain words"},
                          {"Comment", "Caf\u00e9 cr\u00e8me"},
                          {"Recipe", "seed 42 \u2713 \u65e5\u672c"}};
  const std::vector<unsigned char> png = EncodePng(WorkingPicture(5, 4), 8, texts);
  const std::vector<std::string> types = ChunkTypes(png);
  EXPECT_EQ(types, (std::vector<std::string>{"IHDR", "tEXt", "tEXt", "iTXt", "IDAT", "IEND"}));
  QByteArray bytes = Bytes(png);
  QBuffer buffer(&bytes);
  QImageReader reader(&buffer, "PNG");
  for (const auto& [key, value] : texts) {
    EXPECT_EQ(reader.text(QString::fromStdString(key)).toStdString(), value) << key;
  }
  EXPECT_FALSE(reader.read().isNull());
}

TEST(PngEncoderTest, KeysAndTextsAPngCannotHoldAreRefused) {
  for (const auto& [key, value] :
       std::vector<std::pair<std::string, std::string>>{{"", "empty key"},
                                                        {std::string(80, 'k'), "long key"},
                                                        {" Lead", "space"},
                                                        {"\u2713", "beyond Latin-1"},
                                                        {"Nul", std::string("a\0b", 3)},
                                                        {"Broken", "\xC3"}}) {
    SCOPED_TRACE(key);
    try {
      EncodePng(WorkingPicture(2, 2), 8, {{key, value}});
      ADD_FAILURE() << "no error";
    } catch (const ImageError& e) {
      EXPECT_EQ(e.Number(), kErrorInvalidArgument);
    }
  }
  try {
    EncodePng(QImage(), 8, {});
    ADD_FAILURE() << "no error for a null picture";
  } catch (const ImageError& e) {
    EXPECT_EQ(e.Number(), kErrorWriteFailed);
  }
}

// Level 0 stores the rows as they are; higher levels search harder.
TEST(PngEncoderTest, TheCompressionLevelIsHonoured) {
  const QImage source = WorkingPicture(300, 200);
  const std::size_t rows = 200 * (1 + 3 * 300);
  const std::size_t stored = EncodePng(source, 0, {}).size();
  const std::size_t fast = EncodePng(source, 1, {}).size();
  const std::size_t best = EncodePng(source, 9, {}).size();
  EXPECT_GT(stored, rows);
  EXPECT_LT(fast, stored / 2);
  EXPECT_LT(best, fast);
  EXPECT_EQ(EncodePng(source, -4, {}), EncodePng(source, 0, {}));
  EXPECT_EQ(EncodePng(source, 42, {}), EncodePng(source, 9, {}));
}

}  // namespace
}  // namespace pictovance
