// Reading picture files into an image and writing its bitmap to files.

#include <QFile>
#include <QFileInfo>
#include <QImageReader>
#include <QImageWriter>
#include <QSaveFile>
#include <algorithm>
#include <cmath>
#include <filesystem>

#include "imaging/bitmap_p.h"
#include "imaging/image.h"

namespace pictovance {

namespace {

// Qt's JPEG and BMP readers hand back a cut-off file with the missing part
// filled in. These checks turn such files into decode errors.

// libjpeg reports a cut-off file as a warning that Qt passes to its message
// handler; the handler is swapped in only around one decode.
thread_local bool t_jpegCutOff = false;
QtMessageHandler t_previousHandler = nullptr;

void CatchCutOffJpeg(QtMsgType type, const QMessageLogContext& context, const QString& message) {
  // "Premature end of JPEG file", or "premature end of data segment" when
  // the reader pads the stream itself.
  if (message.contains(QLatin1String("premature end"), Qt::CaseInsensitive)) {
    t_jpegCutOff = true;
    return;
  }
  if (t_previousHandler != nullptr) t_previousHandler(type, context, message);
}

std::uint32_t LittleEndian32(const QByteArray& bytes, int at) {
  return static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[at])) |
         static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[at + 1])) << 8 |
         static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[at + 2])) << 16 |
         static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[at + 3])) << 24;
}

std::uint32_t LittleEndian16(const QByteArray& bytes, int at) {
  return static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[at])) |
         static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[at + 1])) << 8;
}

// An uncompressed BMP is cut off when its file is shorter than the pixel
// offset plus the rows its header promises. Two header layouts exist: the
// old 12-byte one (16-bit sizes, no compression field) and the 40-byte one
// with its later extensions (32-bit sizes, compression at byte 30).
bool BmpIsCutOff(const QString& name) {
  constexpr int kFileHeader = 14;
  QFile file(name);
  if (!file.open(QIODevice::ReadOnly)) return false;  // the decoder reports it
  const qint64 size = file.size();
  const QByteArray header = file.read(kFileHeader + 20);
  if (header.size() < kFileHeader + 4) return true;
  const std::uint32_t offset = LittleEndian32(header, 10);
  const std::uint32_t infoSize = LittleEndian32(header, kFileHeader);
  std::int64_t width = 0;
  std::int64_t height = 0;
  std::uint32_t bits = 0;
  std::uint32_t compression = 0;
  if (infoSize == 12) {
    if (header.size() < kFileHeader + 12) return true;
    width = LittleEndian16(header, 18);
    height = LittleEndian16(header, 20);
    bits = LittleEndian16(header, 24);
  } else if (infoSize >= 16) {
    if (header.size() < kFileHeader + (infoSize >= 20 ? 20 : 16)) return true;
    width = static_cast<std::int32_t>(LittleEndian32(header, 18));
    height = static_cast<std::int32_t>(LittleEndian32(header, 22));
    bits = LittleEndian16(header, 28);
    if (infoSize >= 20) compression = LittleEndian32(header, 30);
  } else {
    return false;  // an unknown layout: the decoder decides
  }
  if (compression != 0 && compression != 3) return false;  // run-length data has no fixed size
  const std::int64_t rowBytes = (static_cast<std::int64_t>(bits) * std::abs(width) + 31) / 32 * 4;
  return offset + rowBytes * std::abs(height) > size;
}

}  // namespace

// --- Files ------------------------------------------------------------------

void Image::LoadBitmap(const std::string& path) {
  const QString name = QString::fromStdString(path);
  const QFileInfo info(name);
  if (!info.exists()) throw ImageError(kErrorFileNotFound, "File not found: " + path);
  if (info.isDir()) throw ImageError(kErrorFileAccess, "Not a file but a folder: " + path);
  QFile file(name);
  if (!file.open(QIODevice::ReadOnly)) {
    throw ImageError(kErrorFileAccess, "Cannot read " + path + ": " + file.errorString().toStdString());
  }
  if (file.size() == 0) throw ImageError(kErrorNotAnImage, "Empty file: " + path);

  QImageReader reader(&file);
  reader.setAutoTransform(true);
  if (!reader.canRead()) {
    throw ImageError(kErrorNotAnImage, "Not a picture in a known format: " + path);
  }
  const QSize size = reader.size();
  if (size.isValid() && static_cast<std::int64_t>(size.width()) * size.height() > kMaxLoadPixels) {
    throw ImageError(kErrorTooLarge, "Picture too large (" + std::to_string(size.width()) + " x " +
                                         std::to_string(size.height()) + "): " + path);
  }
  // Qt refuses to decode beyond its allocation limit; raise it to ours.
  QImageReader::setAllocationLimit(static_cast<int>(kMaxLoadPixels * 4 / (1024 * 1024)) + 64);
  const QByteArray format = reader.format();
  if (format == "bmp" && BmpIsCutOff(name)) {
    throw ImageError(kErrorDecodeFailed, "Cannot decode " + path + ": the file is cut off");
  }
  const bool jpeg = format == "jpeg" || format == "jpg";
  if (jpeg) {
    t_jpegCutOff = false;
    t_previousHandler = qInstallMessageHandler(CatchCutOffJpeg);
  }
  QImage image = reader.read();
  if (jpeg) {
    qInstallMessageHandler(t_previousHandler);
    if (t_jpegCutOff) throw ImageError(kErrorDecodeFailed, "Cannot decode " + path + ": the file is cut off");
  }
  if (image.isNull()) {
    throw ImageError(kErrorDecodeFailed, "Cannot decode " + path + ": " + reader.errorString().toStdString());
  }
  if (static_cast<std::int64_t>(image.width()) * image.height() > kMaxLoadPixels) {
    throw ImageError(kErrorTooLarge, "Picture too large: " + path);
  }

  QImage result;
  if (image.format() == QImage::Format_Indexed8 && !image.hasAlphaChannel()) {
    result = std::move(image);
  } else if (image.hasAlphaChannel()) {
    // Transparent parts are laid over white, as a viewer shows them.
    result = NewWorkingImage(image.width(), image.height());
    result.fill(0xFFFFFFFFu);
    const QImage argb = image.convertToFormat(QImage::Format_ARGB32);
    for (int y = 0; y < argb.height(); ++y) {
      const auto* src = reinterpret_cast<const QRgb*>(argb.constScanLine(y));
      auto* dst = reinterpret_cast<QRgb*>(result.scanLine(y));
      for (int x = 0; x < argb.width(); ++x) {
        const int a = qAlpha(src[x]);
        const auto mix = [a](int c) { return (c * a + 255 * (255 - a) + 127) / 255; };
        dst[x] = qRgb(mix(qRed(src[x])), mix(qGreen(src[x])), mix(qBlue(src[x])));
      }
    }
  } else {
    result = image.convertToFormat(QImage::Format_RGB32);
  }
  if (result.isNull()) throw ImageError(kErrorOutOfMemory, "Not enough memory to load " + path);
  m_bitmap->image = std::move(result);
  RefreshCache();
}

namespace {

struct SaveFormatInfo {
  const char* format;
  const char* extension;
};

SaveFormatInfo SaveFormatOf(std::int32_t code) {
  switch (code) {
    case 0:
      return {"bmp", ".bmp"};
    case 1:
      return {"jpeg", ".jpg"};
    case 2:
      return {"tiff", ".tif"};
    case 3:
      return {"png", ".png"};
    case 4:
      return {"webp", ".webp"};
    default:
      throw ImageError(kErrorWriteFailed, "Unknown save format " + std::to_string(code));
  }
}

}  // namespace

void Image::SaveBitmap(const std::string& path) const {
  const QImage& image = m_bitmap->image;
  if (image.isNull()) throw ImageError(kErrorWriteFailed, "No picture to save");
  const SaveFormatInfo info = SaveFormatOf(m_saveFormat);
  std::string target = path;
  if (!std::filesystem::path(path).has_extension()) target += info.extension;
  const QString name = QString::fromStdString(target);

  QSaveFile file(name);
  if (!file.open(QIODevice::WriteOnly)) {
    throw ImageError(kErrorWriteFailed, "Cannot write " + target + ": " + file.errorString().toStdString());
  }
  QImageWriter writer(&file, info.format);
  if (std::string_view(info.format) == "png") {
    // Qt's PNG writer takes the zlib level as a quality: level = (100 -
    // quality) * 9 / 91. This quality gives exactly the level asked for.
    const int level = std::clamp<int>(m_pngCompression, 0, 9);
    writer.setQuality(100 - (level * 91 + 8) / 9);
  }
  if (!writer.write(image)) {
    file.cancelWriting();
    throw ImageError(kErrorWriteFailed, "Cannot write " + target + ": " + writer.errorString().toStdString());
  }
  if (!file.commit()) {
    throw ImageError(kErrorWriteFailed, "Cannot write " + target + ": " + file.errorString().toStdString());
  }
}

void LoadImageFormats() {
  // Asking for the formats makes Qt create every plugin's instance.
  QImageReader::supportedImageFormats();
  QImageWriter::supportedImageFormats();
}

}  // namespace pictovance
