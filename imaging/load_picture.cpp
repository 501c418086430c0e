// Reading picture files into an image.
//
// A file is read once, through one descriptor, into memory
// (imaging/source_file.h); its format is told from its first bytes and must
// be one the program reads; it passes the checks of
// imaging/picture_checks_p.h before a decoder sees it, and a drawing is
// rewritten to stand alone first (imaging/drawing_p.h). Whatever the
// libraries say meanwhile is caught (imaging/library_messages_p.h): a
// failure is one line, which may quote them. A picture that carries a colour
// profile is converted to sRGB, as a colour-managed viewer shows it.

#include <QBuffer>
#include <QColorSpace>
#include <QImageReader>
#include <cstring>
#include <utility>

#include "imaging/bitmap_p.h"
#include "imaging/drawing_p.h"
#include "imaging/image.h"
#include "imaging/library_messages_p.h"
#include "imaging/picture_checks_p.h"
#include "imaging/source_file.h"

namespace pictovance {

namespace {

// libjpeg shows only the first warning of a decoder, so any warning counts
// except the few that leave the pixels intact; a cut-off file behind such a
// warning is caught by the JPEG check.
bool JpegWarned(const LibraryMessages& messages) {
  for (const CaughtMessage& message : messages.Caught()) {
    if (message.category != "qt.gui.imageio.jpeg") continue;
    const std::string& text = message.text;
    const bool harmless = text.find("JFIF revision") != std::string::npos ||
                          text.find("ICC") != std::string::npos || text.find("Adobe") != std::string::npos;
    if (!harmless) return true;
  }
  return false;
}

// Decodes a raster picture and lets go of the file's bytes as soon as it is
// decoded, so that neither they nor the plugin's own copy of the picture
// stay beside it while it is converted.
QImage DecodeRaster(std::string& bytes, PictureFormat format, const std::string& name,
                    const LibraryMessages& messages) {
  const std::string shown = ReadableName(name);
  QImage image;
  {
    QByteArray data = QByteArray::fromRawData(bytes.data(), static_cast<qsizetype>(bytes.size()));
    QBuffer buffer(&data);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer, QtFormatName(format));
    reader.setAutoTransform(true);
    CheckRasterPicture(bytes, format, reader, name);
    image = reader.read();
    if (image.isNull()) {
      const std::string detail = messages.First();
      throw ImageError(kErrorDecodeFailed, "Cannot decode " + shown + ": " +
                                               reader.errorString().toStdString() +
                                               (detail.empty() ? "" : " (" + detail + ")"));
    }
  }
  bytes = std::string();
  if (format == PictureFormat::kJpeg && JpegWarned(messages)) {
    throw ImageError(kErrorDecodeFailed, "Cannot decode " + shown + ": the file is corrupt");
  }
  return image;
}

// Lays transparent parts over white, as a viewer shows them, in place: the
// picture never exists twice at full size.
QImage OverWhite(QImage image) {
  image.convertTo(QImage::Format_ARGB32);
  if (image.isNull()) return image;
  for (int y = 0; y < image.height(); ++y) {
    auto* line = reinterpret_cast<QRgb*>(image.scanLine(y));
    for (int x = 0; x < image.width(); ++x) {
      const int a = qAlpha(line[x]);
      const auto mix = [a](int c) { return (c * a + 255 * (255 - a) + 127) / 255; };
      line[x] = qRgb(mix(qRed(line[x])), mix(qGreen(line[x])), mix(qBlue(line[x])));
    }
  }
  image.reinterpretAsFormat(QImage::Format_RGB32);
  return image;
}

// A tagged picture's colours in sRGB, the space the program paints in;
// an untagged one is taken to be sRGB already and left alone. The colours
// are converted before transparency is laid over white, and a palette
// picture has its palette converted.
void ToSrgb(QImage& image) {
  const QColorSpace space = image.colorSpace();
  if (!space.isValid() || space == QColorSpace(QColorSpace::SRgb)) return;
  image.convertToColorSpace(QColorSpace::SRgb);
}

// The decoded picture as the image object keeps it: a palette picture
// without transparency as it is, anything else in the working kind.
QImage ToLoadedKind(QImage image) {
  if (image.format() == QImage::Format_Indexed8 && !image.hasAlphaChannel()) {
    ToSrgb(image);
    return image;
  }
  const bool alpha = image.hasAlphaChannel();
  image.convertTo(alpha ? QImage::Format_ARGB32 : QImage::Format_RGB32);
  ToSrgb(image);
  return alpha ? OverWhite(std::move(image)) : image;
}

}  // namespace

void Image::LoadBitmap(const std::string& path) { LoadBitmap(path, 0, 0); }

void Image::LoadBitmap(const std::string& path, int drawWidth, int drawHeight) {
  LoadBitmapBytes(ReadSourceFile(path), path, drawWidth, drawHeight);
}

void Image::LoadBitmapBytes(std::string bytes, const std::string& name, int drawWidth, int drawHeight) {
  const std::string shown = ReadableName(name);
  if (bytes.empty()) throw ImageError(kErrorNotAnImage, "Empty file: " + shown);
  const LibraryMessages messages;
  // Qt refuses to decode beyond its allocation limit, pictures inside a
  // drawing included; ours are checked before, so raise it to them.
  QImageReader::setAllocationLimit(static_cast<int>(kMaxDecodeBytes >> 20) + 64);
  const PictureFormat format = SniffFormat(bytes);
  QImage image;
  if (format == PictureFormat::kUnknown) {
    throw ImageError(kErrorNotAnImage,
                     "Not a picture in a known format (PNG, JPEG, BMP, GIF, TIFF, WebP or SVG): " + shown);
  }
  if (format == PictureFormat::kSvg || format == PictureFormat::kSvgz) {
    const QSize size = drawWidth > 0 && drawHeight > 0 ? QSize(drawWidth, drawHeight) : QSize();
    image = DrawDrawing(bytes, format == PictureFormat::kSvgz, size, name);
    bytes = std::string();
  } else {
    image = DecodeRaster(bytes, format, name, messages);
  }
  if (static_cast<std::int64_t>(image.width()) * image.height() > kMaxLoadPixels) {
    throw ImageError(kErrorTooLarge, "Picture too large: " + shown);
  }
  QImage result = ToLoadedKind(std::move(image));
  if (result.isNull()) throw ImageError(kErrorOutOfMemory, "Not enough memory to load " + shown);
  m_bitmap->image = std::move(result);
  RefreshCache();
}

}  // namespace pictovance
