#include "imaging/png_encoder.h"

#include <gtest/gtest.h>
#include <libdeflate.h>
#include <png.h>
#include <unistd.h>
#include <zlib.h>

#include <QBuffer>
#include <QImage>
#include <QImageReader>
#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "imaging/image.h"
#include "imaging/png_encoder_p.h"

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

// The colour type and bit depth of a PNG file, from its header.
struct PngKind {
  int colourType;
  int bits;
};
PngKind KindOf(const std::vector<unsigned char>& png) { return {png.at(25), png.at(24)}; }

// The pixels of a PNG file as libpng decodes them, as a working bitmap, or
// a null image with libpng's message when it refuses the file.
QImage DecodeWithLibpng(const std::vector<unsigned char>& png, std::string& message) {
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  if (png_image_begin_read_from_memory(&image, png.data(), png.size()) == 0) {
    message = image.message;
    return {};
  }
  image.format = PNG_FORMAT_BGRA;
  QImage decoded(static_cast<int>(image.width), static_cast<int>(image.height), QImage::Format_ARGB32);
  if (png_image_finish_read(&image, nullptr, decoded.bits(), static_cast<png_int_32>(decoded.bytesPerLine()),
                            nullptr) == 0) {
    message = image.message;
    png_image_free(&image);
    return {};
  }
  return decoded;
}

// pngcheck's verdict on a PNG file: "" when it finds nothing wrong.
std::string PngcheckComplaint(const std::vector<unsigned char>& png) {
  const auto path =
      std::filesystem::temp_directory_path() / ("pv-pngcheck-" + std::to_string(::getpid()) + ".png");
  std::ofstream(path, std::ios::binary)
      .write(reinterpret_cast<const char*>(png.data()), static_cast<std::streamsize>(png.size()));
  const auto report = path.string() + ".txt";
  const int status = std::system(("pngcheck -q " + path.string() + " > " + report + " 2>&1").c_str());
  std::ifstream in(report);
  std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  std::filesystem::remove(path);
  std::filesystem::remove(report);
  return status == 0 ? "" : "pngcheck: " + (text.empty() ? "cannot run (apt-get install pngcheck)" : text);
}

// A picture with exactly colours colours (at most width x height), spread
// so each row holds several.
// Colours 0 .. colours - 1 in turn, each repeated over run pixels (the
// last run of a row may be cut short; the next row goes on with the cycle).
QImage PictureOfColours(int w, int h, int colours, int run = 1) {
  QImage image(w, h, QImage::Format_RGB32);
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x) {
      const int k = (x / run + y * w) % colours;
      image.setPixel(x, y, qRgb((k * 37) % 256, (k * 101 + 7) % 256, k / 3));
    }
  }
  return image;
}

class PngRoundTripTest : public testing::TestWithParam<std::tuple<bool, QSize, int>> {};

TEST_P(PngRoundTripTest, DecodesToTheSourcePixels) {
  const auto [palette, size, level] = GetParam();
  const QImage source =
      palette ? PalettePicture(size.width(), size.height()) : WorkingPicture(size.width(), size.height());
  const std::vector<unsigned char> png = EncodePng(source, level, {});
  const QImage decoded = QImage::fromData(Bytes(png), "PNG");
  ASSERT_FALSE(decoded.isNull());
  EXPECT_TRUE(SamePixels(decoded, source));
}

INSTANTIATE_TEST_SUITE_P(KindsAndSizes, PngRoundTripTest,
                         testing::Combine(testing::Bool(),
                                          testing::Values(QSize(1, 1), QSize(2, 1), QSize(1, 3), QSize(3, 3),
                                                          QSize(37, 11), QSize(801, 5)),
                                          testing::Values(0, 8)));

// Strips of rows compressed on their own and joined into one stream: sizes
// around the strip edges, a strip made of several deflate blocks (stored
// blocks at level 0 hold at most 64 KiB; libdeflate starts a new block
// every few hundred kilobytes), and pictures of few and many colours (the
// widest palette rows filtered with Up, the rest not). Every
// file must decode to the source in libpng, pass pngcheck, and be the same
// bytes on one thread as on three.
struct StripCase {
  const char* name;
  int width;
  int stripRows;
  int height;
  bool fewColours;
  int level;
};
void PrintTo(const StripCase& c, std::ostream* out) { *out << c.name; }

class PngStripTest : public testing::TestWithParam<StripCase> {};

TEST_P(PngStripTest, JoinedStripsDecodeToTheSourcePixels) {
  const StripCase& c = GetParam();
  QImage source = c.fewColours ? PictureOfColours(c.width, c.height, 13) : WorkingPicture(c.width, c.height);
  if (!c.fewColours) {
    // Noise in every third row (more than 256 colours in the first alone),
    // so strips compress to blocks of every kind.
    std::uint32_t state = 7;
    for (int y = 0; y < c.height; y += 3) {
      auto* row = reinterpret_cast<QRgb*>(source.scanLine(y));
      for (int x = 0; x < c.width; ++x)
        row[x] = 0xFF000000u | ((state = state * 1664525u + 1013904223u) >> 8);
    }
  }
  const std::size_t rowBytes = c.fewColours ? 1 + (static_cast<std::size_t>(c.width) + 1) / 2
                                            : 1 + 3 * static_cast<std::size_t>(c.width);
  PngEncoderTuning tuning;
  tuning.oneCallBytes = 0;
  tuning.stripBytes = rowBytes * static_cast<std::size_t>(c.stripRows);
  tuning.threads = 1;
  const std::vector<unsigned char> png = EncodePng(source, c.level, {}, tuning);
  EXPECT_EQ(KindOf(png).colourType, c.fewColours ? 3 : 2);
  std::string message;
  const QImage decoded = DecodeWithLibpng(png, message);
  ASSERT_FALSE(decoded.isNull()) << message;
  EXPECT_TRUE(SamePixels(decoded, source));
  EXPECT_EQ(PngcheckComplaint(png), "");
  tuning.threads = 3;
  EXPECT_TRUE(EncodePng(source, c.level, {}, tuning) == png) << "the bytes depend on the threads";
}

INSTANTIATE_TEST_SUITE_P(Edges, PngStripTest,
                         testing::Values(StripCase{"OneRow", 301, 4, 1, false, 8},
                                         StripCase{"OneStrip", 301, 4, 4, false, 8},
                                         StripCase{"StripAndRow", 301, 4, 5, false, 8},
                                         StripCase{"RowStrips", 257, 1, 7, false, 8},
                                         StripCase{"TwoStripsAndRow", 801, 40, 81, false, 1},
                                         StripCase{"StoredBlocks", 333, 200, 450, false, 0},
                                         StripCase{"ManyBlocks", 1001, 300, 700, false, 8},
                                         StripCase{"FewColoursOddWidth", 55, 3, 10, true, 8},
                                         StripCase{"FewColoursWideRowsManyBlocks", 2401, 700, 1500, true, 6}),
                         [](const testing::TestParamInfo<StripCase>& info) {
                           return std::string(info.param.name);
                         });

// Pictures of at most 256 colours become palette files with as few bits
// an index as the count allows, decoding to the same pixels in libpng and
// in Qt; one colour more and they stay RGB.
struct PaletteCase {
  int colours;
  int width;
  int bits;  // 0: RGB
  int run = 1;
};
void PrintTo(const PaletteCase& c, std::ostream* out) {
  *out << c.colours << "colours" << c.width << "wide" << c.run << "run";
}

class PngPaletteTest : public testing::TestWithParam<PaletteCase> {};

TEST_P(PngPaletteTest, FewColoursMakeAPaletteFileOfTheSamePixels) {
  const PaletteCase& c = GetParam();
  const QImage source = PictureOfColours(c.width, 300 / c.width + 3, c.colours, c.run);
  const std::vector<unsigned char> png = EncodePng(source, 8, {});
  EXPECT_EQ(KindOf(png).colourType, c.bits == 0 ? 2 : 3);
  EXPECT_EQ(KindOf(png).bits, c.bits == 0 ? 8 : c.bits);
  std::string message;
  const QImage fromLibpng = DecodeWithLibpng(png, message);
  ASSERT_FALSE(fromLibpng.isNull()) << message;
  EXPECT_TRUE(SamePixels(fromLibpng, source)) << "libpng";
  const QImage fromQt = QImage::fromData(Bytes(png), "PNG");
  ASSERT_FALSE(fromQt.isNull());
  EXPECT_TRUE(SamePixels(fromQt.convertToFormat(QImage::Format_RGB32), source)) << "Qt";
  EXPECT_EQ(PngcheckComplaint(png), "");
}

INSTANTIATE_TEST_SUITE_P(Counts, PngPaletteTest,
                         testing::Values(PaletteCase{1, 7, 1}, PaletteCase{2, 9, 1}, PaletteCase{3, 5, 2},
                                         PaletteCase{4, 11, 2}, PaletteCase{5, 3, 4}, PaletteCase{16, 17, 4},
                                         PaletteCase{17, 13, 8}, PaletteCase{256, 301, 8},
                                         PaletteCase{257, 301, 0},
                                         // Runs of equal pixels, shorter and longer than four.
                                         PaletteCase{2, 23, 1, 3}, PaletteCase{7, 61, 4, 5},
                                         PaletteCase{7, 97, 4, 9}, PaletteCase{40, 131, 8, 4},
                                         PaletteCase{40, 129, 8, 7}),
                         [](const testing::TestParamInfo<PaletteCase>& info) {
                           return std::to_string(info.param.colours) + "Colours" +
                                  std::to_string(info.param.width) + "Wide" + std::to_string(info.param.run) +
                                  "Run";
                         });

// Pictures with an alpha channel are saved without it: their colours, as
// opaque pixels. Transparent black (pixel 0) is black, in a palette file as
// in an RGB one, also where it starts the picture.
TEST(PngEncoderTest, AlphaIsDroppedAndTransparentBlackIsBlack) {
  for (const int colours : {2, 300}) {
    QImage source = PictureOfColours(20, 20, colours).convertToFormat(QImage::Format_ARGB32);
    for (int x = 0; x < 20; ++x) source.setPixel(x, 0, 0);  // the first row, and only there
    source.setPixel(5, 5, qRgba(10, 20, 30, 0));
    const std::vector<unsigned char> png = EncodePng(source, 8, {});
    const QImage decoded = QImage::fromData(Bytes(png), "PNG");
    ASSERT_FALSE(decoded.isNull()) << colours << " colours";
    EXPECT_TRUE(SamePixels(decoded.convertToFormat(QImage::Format_RGB32),
                           source.convertToFormat(QImage::Format_RGB32)))
        << colours << " colours";
  }
}

TEST(PngEncoderTest, TextsReadBackAsTextAndInternationalTextChunks) {
  const PngTexts texts = {{"Title", "Plain words"},
                          {"Comment", "Caf\u00e9 cr\u00e8me"},
                          {"Recipe", "seed 42 \u2713 \u65e5\u672c"}};
  const std::vector<unsigned char> png = EncodePng(WorkingPicture(5, 4), 8, texts);
  const std::vector<std::string> types = ChunkTypes(png);
  EXPECT_EQ(types, (std::vector<std::string>{"IHDR", "PLTE", "tEXt", "tEXt", "iTXt", "IDAT", "IEND"}));
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

// Where zlib's inflate, stopping at every block boundary, finds the final
// block's header and the end of its end code.
DeflateEnds InflateEnds(const std::vector<unsigned char>& stream) {
  z_stream zs{};
  EXPECT_EQ(inflateInit2(&zs, -15), Z_OK);
  std::vector<unsigned char> out(1 << 16);
  zs.next_in = const_cast<unsigned char*>(stream.data());
  zs.avail_in = static_cast<uInt>(stream.size());
  DeflateEnds ends;
  for (;;) {
    zs.next_out = out.data();
    zs.avail_out = static_cast<uInt>(out.size());
    const int status = inflate(&zs, Z_BLOCK);
    EXPECT_TRUE(status == Z_OK || status == Z_STREAM_END || status == Z_BUF_ERROR) << status;
    const std::size_t bit = (stream.size() - zs.avail_in) * 8 - static_cast<std::size_t>(zs.data_type & 7);
    if ((zs.data_type & 128) != 0 && (zs.data_type & 64) != 0) {
      ends.endBit = bit;
      break;
    }
    if ((zs.data_type & 128) != 0) ends.finalBlockBit = bit;
    if (status != Z_OK && status != Z_BUF_ERROR) break;
  }
  inflateEnd(&zs);
  return ends;
}

// Runs of a few bytes, noise and text-like stretches, so that streams hold
// matches of every length and distance, literals of every kind, and
// incompressible parts that become stored blocks.
std::vector<unsigned char> MixedBytes(std::uint32_t seed, std::size_t size) {
  std::vector<unsigned char> bytes;
  std::uint32_t state = seed * 2654435761u + 1;
  const auto next = [&state] { return (state = state * 1664525u + 1013904223u) >> 8; };
  while (bytes.size() < size) {
    const std::size_t length = 1 + next() % 5000;
    switch (next() % 4) {
      case 0:
        bytes.insert(bytes.end(), length, static_cast<unsigned char>(next()));
        break;
      case 1:
        for (std::size_t k = 0; k < length; ++k) bytes.push_back(static_cast<unsigned char>(next()));
        break;
      case 2:
        for (std::size_t k = 0; k < length; ++k)
          bytes.push_back(static_cast<unsigned char>('a' + next() % 6));
        break;
      default:
        if (bytes.size() > 300) {
          const std::size_t from = next() % (bytes.size() - 258);
          for (std::size_t k = 0; k < length % 258; ++k) bytes.push_back(bytes[from + k]);
        }
    }
  }
  bytes.resize(size);
  return bytes;
}

// The walker that finds a strip's final block agrees with zlib's inflate
// on streams of every kind of block: libdeflate's at each level, and
// zlib's with stored blocks begun at any bit (a switch to level 0 mid-way)
// and fixed, Huffman-only and run-length codes. A stream cut short is
// refused rather than read past its end.
TEST(DeflateWalkTest, FindsTheFinalBlockWhereInflateDoes) {
  for (std::uint32_t seed = 0; seed < 120; ++seed) {
    const std::vector<unsigned char> data =
        MixedBytes(seed, seed % 7 == 0 ? seed : 1000 + seed * 2311 % 300000);
    std::vector<unsigned char> stream(data.size() + data.size() / 8 + 1024);
    if (seed % 2 == 0) {
      libdeflate_compressor* compressor = libdeflate_alloc_compressor(static_cast<int>(seed / 2 % 13));
      ASSERT_NE(compressor, nullptr);
      stream.resize(
          libdeflate_deflate_compress(compressor, data.data(), data.size(), stream.data(), stream.size()));
      libdeflate_free_compressor(compressor);
    } else {
      constexpr int kStrategies[] = {Z_DEFAULT_STRATEGY, Z_FILTERED, Z_HUFFMAN_ONLY, Z_RLE, Z_FIXED};
      z_stream zs{};
      ASSERT_EQ(deflateInit2(&zs, 6, Z_DEFLATED, -15, 8, kStrategies[seed / 2 % 5]), Z_OK);
      zs.next_out = stream.data();
      zs.avail_out = static_cast<uInt>(stream.size());
      // A few parts, every other at level 0 after a flush that ends the block.
      std::size_t done = 0;
      for (int part = 0; done < data.size(); ++part) {
        const std::size_t n = std::min(data.size() - done, std::size_t{7919} + seed * 131 % 20000);
        zs.next_in = const_cast<unsigned char*>(data.data() + done);
        zs.avail_in = static_cast<uInt>(n);
        done += n;
        ASSERT_NE(deflate(&zs, done == data.size() ? Z_FINISH : Z_BLOCK), Z_STREAM_ERROR);
        if (done < data.size()) {
          ASSERT_EQ(deflateParams(&zs, part % 2 == 0 ? 0 : 6, kStrategies[seed / 2 % 5]), Z_OK);
        }
      }
      stream.resize(zs.total_out);
      deflateEnd(&zs);
    }
    ASSERT_FALSE(stream.empty());
    SCOPED_TRACE("seed " + std::to_string(seed) + ", " + std::to_string(stream.size()) + " bytes");
    const DeflateEnds expected = InflateEnds(stream);
    const DeflateEnds found = FindFinalBlock(stream.data(), stream.size());
    EXPECT_EQ(found.finalBlockBit, expected.finalBlockBit);
    EXPECT_EQ(found.endBit, expected.endBit);
    if (stream.size() > 2) {
      EXPECT_THROW(FindFinalBlock(stream.data(), stream.size() / 2), ImageError);
    }
  }
}

}  // namespace
}  // namespace pictovance
