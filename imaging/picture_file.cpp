#include "imaging/picture_file.h"

#include <QCryptographicHash>
#include <QFile>
#include <QFileInfo>
#include <QImageReader>

namespace pictovance {

namespace {

void OpenForReading(QFile& file, const std::string& path) {
  const QFileInfo info(file.fileName());
  if (!info.exists()) throw ImageError(kErrorFileNotFound, "File not found: " + path);
  if (info.isDir()) throw ImageError(kErrorFileAccess, "Not a file but a folder: " + path);
  if (!file.open(QIODevice::ReadOnly)) {
    throw ImageError(kErrorFileAccess, "Cannot read " + path + ": " + file.errorString().toStdString());
  }
}

}  // namespace

TextEntries ReadPngTexts(const std::string& path) {
  QFile file(QString::fromStdString(path));
  OpenForReading(file, path);
  static const QByteArray kSignature("\x89PNG\r\n\x1a\n", 8);
  if (file.read(8) != kSignature) throw ImageError(kErrorNotAnImage, "Not a PNG file: " + path);
  file.seek(0);
  QImageReader reader(&file, "png");
  // Text chunks may also follow the pixels, where only a full read finds
  // them.
  const QImage image = reader.read();
  if (image.isNull()) {
    throw ImageError(kErrorDecodeFailed, "Cannot decode " + path + ": " + reader.errorString().toStdString());
  }
  TextEntries texts;
  for (const QString& key : image.textKeys()) {
    texts.emplace_back(key.toStdString(), image.text(key).toStdString());
  }
  return texts;
}

std::string FileSha256(const std::string& path) {
  QFile file(QString::fromStdString(path));
  OpenForReading(file, path);
  QCryptographicHash hash(QCryptographicHash::Sha256);
  if (!hash.addData(&file)) {
    throw ImageError(kErrorFileAccess, "Cannot read " + path + ": " + file.errorString().toStdString());
  }
  return hash.result().toHex().toStdString();
}

}  // namespace pictovance
