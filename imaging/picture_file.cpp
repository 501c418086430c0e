#include "imaging/picture_file.h"

#include <zlib.h>

#include <QCryptographicHash>
#include <QFile>
#include <QImage>
#include <cstdint>
#include <functional>
#include <utility>
#include <vector>

#include "imaging/source_file.h"

#include "imaging/qt_bridge.h"

namespace pictovance {

namespace {

// Qt reads through the descriptor RegularFile opened, never by the name.
void OpenForReading(QFile& file, const RegularFile& source, const std::string& path) {
  if (!file.open(source.Descriptor(), QIODevice::ReadOnly, QFileDevice::DontCloseHandle)) {
    throw ImageError(kErrorFileAccess,
                     "Cannot read " + ReadableName(path) + ": " + file.errorString().toStdString());
  }
}

std::uint32_t BigEndian32(const QByteArray& bytes, int at) {
  return static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[at])) << 24 |
         static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[at + 1])) << 16 |
         static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[at + 2])) << 8 |
         static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[at + 3]));
}

// Text chunks above this are refused, and so is compressed text that
// inflates beyond it: a recipe is a few hundred bytes.
constexpr std::uint32_t kMaxTextChunk = 1 << 20;

QByteArray Inflate(const QByteArray& data, qsizetype from,
                   const std::function<ImageError(const std::string&)>& corrupt) {
  QByteArray out(static_cast<qsizetype>(kMaxTextChunk), Qt::Uninitialized);
  uLongf outSize = kMaxTextChunk;
  const auto* in = reinterpret_cast<const Bytef*>(data.constData() + from);
  if (uncompress(reinterpret_cast<Bytef*>(out.data()), &outSize, in,
                 static_cast<uLong>(data.size() - from)) != Z_OK) {
    throw corrupt("compressed text does not inflate");
  }
  out.truncate(static_cast<qsizetype>(outSize));
  return out;
}

// tEXt: key, NUL, Latin-1 text. zTXt: key, NUL, method 0, zlib Latin-1
// text. iTXt: key, NUL, compressed flag, method, language, NUL, translated
// key, NUL, UTF-8 text (zlib when flagged). Keys come back as UTF-8.
std::pair<std::string, std::string> ParseTextChunk(
    const QByteArray& type, const QByteArray& data,
    const std::function<ImageError(const std::string&)>& corrupt) {
  const qsizetype keyEnd = data.indexOf('\0');
  if (keyEnd < 1 || keyEnd > 79) throw corrupt("a text chunk has no valid key");
  const std::string key = QString::fromLatin1(data.left(keyEnd)).toStdString();
  if (type == "tEXt") return {key, QString::fromLatin1(data.mid(keyEnd + 1)).toStdString()};
  if (type == "zTXt") {
    if (data.size() < keyEnd + 2 || data[keyEnd + 1] != '\0') throw corrupt("a text chunk is damaged");
    return {key, QString::fromLatin1(Inflate(data, keyEnd + 2, corrupt)).toStdString()};
  }
  if (data.size() < keyEnd + 3) throw corrupt("a text chunk is damaged");
  const bool compressed = data[keyEnd + 1] != '\0';
  if (compressed && data[keyEnd + 2] != '\0') throw corrupt("a text chunk is damaged");
  const qsizetype languageEnd = data.indexOf('\0', keyEnd + 3);
  const qsizetype translatedEnd = languageEnd < 0 ? -1 : data.indexOf('\0', languageEnd + 1);
  if (translatedEnd < 0) throw corrupt("a text chunk is damaged");
  const QByteArray text =
      compressed ? Inflate(data, translatedEnd + 1, corrupt) : data.mid(translatedEnd + 1);
  return {key, text.toStdString()};
}

}  // namespace

TextEntries ReadPngTexts(const std::string& path) {
  const RegularFile source(path);
  QFile file;
  OpenForReading(file, source, path);
  static const QByteArray kSignature("\x89PNG\r\n\x1a\n", 8);
  if (file.read(8) != kSignature) throw ImageError(kErrorNotAnImage, "Not a PNG file: " + ReadableName(path));
  const auto corrupt = [&path](const std::string& why) {
    return ImageError(kErrorDecodeFailed, "Cannot read the texts of " + ReadableName(path) + ": " + why);
  };
  // The chunks are walked without decoding a pixel: text may stand before
  // or after the pixel data, and a recipe is read from pictures of any size.
  // Every length is checked against the file before anything is read.
  TextEntries texts;
  const qint64 size = file.size();
  qint64 at = 8;
  for (;;) {
    if (size - at < 12) throw corrupt("the file is cut off");
    const QByteArray head = file.read(8);
    if (head.size() != 8) throw corrupt("the file is cut off");
    const std::uint32_t length = BigEndian32(head, 0);
    const QByteArray type = head.mid(4, 4);
    if (length > static_cast<std::uint64_t>(size - at - 12))
      throw corrupt("a chunk runs past the end of the file");
    const bool text = type == "tEXt" || type == "zTXt" || type == "iTXt";
    if (text) {
      if (length > kMaxTextChunk) throw corrupt("a text chunk is too large");
      const QByteArray data = file.read(length);
      const QByteArray crc = file.read(4);
      if (data.size() != static_cast<qsizetype>(length) || crc.size() != 4)
        throw corrupt("the file is cut off");
      if (crc32(crc32(0, reinterpret_cast<const Bytef*>(head.constData() + 4), 4),
                reinterpret_cast<const Bytef*>(data.constData()), length) != BigEndian32(crc, 0)) {
        throw corrupt("a text chunk is damaged");
      }
      texts.push_back(ParseTextChunk(type, data, corrupt));
    } else if (!file.seek(at + 12 + length)) {
      throw corrupt("the file is cut off");
    }
    at += 12 + static_cast<qint64>(length);
    if (type == "IEND") return texts;
  }
}

std::string FileSha256(const std::string& path) {
  RegularFile file(path);
  QCryptographicHash hash(QCryptographicHash::Sha256);
  std::vector<char> block(1 << 16);
  while (const std::size_t got = file.Read(block.data(), block.size())) {
    hash.addData(QByteArrayView(block.data(), static_cast<qsizetype>(got)));
  }
  return hash.result().toHex().toStdString();
}

std::string PictureSha256(const Picture& picture) {
  QCryptographicHash hash(QCryptographicHash::Sha256);
  const QImage pixels = ToQImage(picture).convertToFormat(QImage::Format_RGB888);
  hash.addData(QByteArray::number(pixels.width()) + 'x' + QByteArray::number(pixels.height()) + '\n');
  const auto rowBytes = static_cast<qsizetype>(pixels.width()) * 3;
  for (int y = 0; y < pixels.height(); ++y) {
    hash.addData(QByteArrayView(reinterpret_cast<const char*>(pixels.constScanLine(y)), rowBytes));
  }
  return hash.result().toHex().toStdString();
}

std::string BytesSha256(std::string_view bytes) {
  return QCryptographicHash::hash(QByteArrayView(bytes.data(), static_cast<qsizetype>(bytes.size())),
                                  QCryptographicHash::Sha256)
      .toHex()
      .toStdString();
}

}  // namespace pictovance
