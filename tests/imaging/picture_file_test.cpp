#include "imaging/picture_file.h"

#include <gtest/gtest.h>

#include <QByteArray>
#include <QDir>
#include <QImage>
#include <QImageWriter>
#include <QTemporaryDir>
#include <algorithm>
#include <string>

#include "imaging/image.h"
#include "imaging/png_encoder.h"

namespace pictovance {
namespace {

std::string Write(const QTemporaryDir& dir, const char* name, const QByteArray& bytes) {
  const QString path = dir.filePath(QString::fromLatin1(name));
  QFile file(path);
  EXPECT_TRUE(file.open(QIODevice::WriteOnly));
  file.write(bytes);
  return path.toStdString();
}

QByteArray Encoded(const QImage& image, const PngTexts& texts) {
  const auto bytes = EncodePng(image, 8, texts);
  return QByteArray(reinterpret_cast<const char*>(bytes.data()), static_cast<qsizetype>(bytes.size()));
}

// Texts come back from every kind of text chunk, wherever it stands: ours
// (tEXt, iTXt) and Qt's writer's (which compresses long texts).
TEST(ReadPngTextsTest, ReadsEveryKindOfTextChunk) {
  QTemporaryDir dir;
  QImage image(3, 2, QImage::Format_RGB32);
  image.fill(Qt::red);
  const std::string longText(500, 'x');
  const std::string ours =
      Write(dir, "ours.png", Encoded(image, {{"Plain", "caf\xC3\xA9"}, {"Wide", "\xE2\x9C\x93"}}));
  EXPECT_EQ(ReadPngTexts(ours), (TextEntries{{"Plain", "caf\xC3\xA9"}, {"Wide", "\xE2\x9C\x93"}}));

  QImage tagged = image;
  tagged.setText("Long", QString::fromStdString(longText));
  tagged.setText("Short", "one");
  const QString qtPath = dir.filePath("qt.png");
  ASSERT_TRUE(QImageWriter(qtPath, "png").write(tagged));
  TextEntries texts = ReadPngTexts(qtPath.toStdString());
  std::sort(texts.begin(), texts.end());
  EXPECT_EQ(texts, (TextEntries{{"Long", longText}, {"Short", "one"}}));
}

// A few bytes must never make the reader allocate what a chunk claims, and a
// damaged or cut-off file is refused, not read as far as it goes.
TEST(ReadPngTextsTest, RefusesCutOffLyingAndDamagedFiles) {
  QTemporaryDir dir;
  QImage image(2, 2, QImage::Format_RGB32);
  image.fill(Qt::blue);
  const QByteArray good = Encoded(image, {{"Key", "value"}});
  const qsizetype text = good.indexOf("tEXt") - 4;  // the chunk's length field
  ASSERT_GT(text, 0);

  QByteArray huge = good;
  huge.replace(text, 4, QByteArray("\x7F\xFF\xFF\xF0", 4));
  QByteArray damaged = good;
  damaged[text + 9] = 'X';  // inside the key: the CRC no longer matches
  struct Case {
    const char* name;
    QByteArray bytes;
    int error;
  };
  const Case cases[] = {
      {"huge-length.png", huge, kErrorDecodeFailed},
      {"damaged.png", damaged, kErrorDecodeFailed},
      {"cut-off.png", good.left(good.size() - 6), kErrorDecodeFailed},
      {"not-a-png.png", QByteArray("GIF89a......"), kErrorNotAnImage},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    try {
      ReadPngTexts(Write(dir, c.name, c.bytes));
      ADD_FAILURE() << "read";
    } catch (const ImageError& error) {
      EXPECT_EQ(error.Number(), c.error) << error.Description();
    }
  }
}

}  // namespace
}  // namespace pictovance
