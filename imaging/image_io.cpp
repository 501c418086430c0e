// Reading picture files into an image and writing its bitmap to files.
//
// Before a file is decoded, its headers are checked against what the file
// can hold, so that a few bytes cannot make a decoder spend gigabytes on a
// picture that then turns out to be cut off or corrupt.

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QBuffer>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QImageReader>
#include <QImageWriter>
#include <algorithm>
#include <cerrno>
#include <climits>
#include <cmath>
#include <cstring>
#include <filesystem>

#include "imaging/bitmap_p.h"
#include "imaging/image.h"
#include "imaging/new_file.h"
#include "imaging/png_encoder.h"

namespace pictovance {

namespace {

// Reads a file front to back in blocks; the JPEG check walks every byte.
class ByteStream {
 public:
  explicit ByteStream(QFile& file) : m_file(file) {}
  // The next byte, or -1 at the end of the file.
  int Next() {
    if (m_at == m_buffer.size()) {
      m_buffer = m_file.read(kBlock);
      m_at = 0;
      if (m_buffer.isEmpty()) return -1;
    }
    return static_cast<unsigned char>(m_buffer[m_at++]);
  }
  // Reads a big-endian number of `bytes` bytes; -1 at the end of the file.
  std::int64_t Number(int bytes) {
    std::int64_t value = 0;
    for (int i = 0; i < bytes; ++i) {
      const int b = Next();
      if (b < 0) return -1;
      value = value << 8 | b;
    }
    return value;
  }
  // False when the file ends first.
  bool Skip(std::int64_t count) {
    const std::int64_t buffered = std::min<std::int64_t>(count, m_buffer.size() - m_at);
    m_at += static_cast<qsizetype>(buffered);
    count -= buffered;
    if (count == 0) return true;
    const qint64 target = m_file.pos() + count;
    if (target > m_file.size()) return false;
    return m_file.seek(target);
  }

 private:
  static constexpr qint64 kBlock = 1 << 16;
  QFile& m_file;
  QByteArray m_buffer;
  qsizetype m_at = 0;
};

enum class FileCheck { kFine, kCutOff, kCorrupt, kTooShort };

// Deflate cannot shrink data by more than 1032 to 1; the slack covers the
// stream's own header and trailer.
constexpr std::int64_t kMaxDeflateRatio = 1032;
constexpr std::int64_t kDeflateSlack = 64;

// Walks the chunks of a PNG without decoding them: every chunk must lie
// inside the file (a length beyond its end would make the decoder reserve
// that much), the file must reach its end chunk, and the image data must be
// large enough to inflate to the rows the header promises.
FileCheck CheckPng(QFile& file, QSize& claimed) {
  ByteStream in(file);
  if (!in.Skip(8)) return FileCheck::kCutOff;
  std::int64_t rawBytes = 0;
  std::int64_t dataBytes = 0;
  QSize header;
  for (;;) {
    const std::int64_t length = in.Number(4);
    const std::int64_t type = in.Number(4);
    if (length < 0 || type < 0) return FileCheck::kCutOff;
    if (length > 0x7FFFFFFF) return FileCheck::kCorrupt;
    if (type == 0x49484452 && length >= 13) {  // IHDR
      const std::int64_t width = in.Number(4);
      const std::int64_t height = in.Number(4);
      const std::int64_t depth = in.Number(1);
      const std::int64_t colourType = in.Number(1);
      if (colourType < 0) return FileCheck::kCutOff;
      // The format allows sides up to 2^31 - 1 and 16 bits a sample.
      if (width > INT_MAX || height > INT_MAX || depth > 16) return FileCheck::kCorrupt;
      header = QSize(static_cast<int>(width), static_cast<int>(height));
      const int channels = colourType == 2 ? 3 : colourType == 4 ? 2 : colourType == 6 ? 4 : 1;
      // Beyond the load limit the size alone refuses the file.
      if (width * height <= kMaxLoadPixels) rawBytes = height * (1 + (width * channels * depth + 7) / 8);
      if (!in.Skip(length - 10 + 4)) return FileCheck::kCutOff;
      continue;
    }
    if (type == 0x49444154) {  // IDAT: the header is complete, its size known
      dataBytes += length;
      claimed = header;
    }
    if (!in.Skip(length + 4)) return FileCheck::kCutOff;
    if (type == 0x49454E44) break;  // IEND
  }
  if (dataBytes * kMaxDeflateRatio + kDeflateSlack < rawBytes) return FileCheck::kTooShort;
  return FileCheck::kFine;
}

// Walks the markers of a JPEG: the scans must end in the end-of-image
// marker (libjpeg pads a cut-off scan and warns, and only its first
// warning is ever shown), markers must follow each other without stray
// bytes, and the file must be long enough for its size. A Huffman-coded
// scan spends at least one bit on every 8 x 8 block of its full-resolution
// component; arithmetic coding has no such floor, so it is not bounded here.
FileCheck CheckJpeg(QFile& file, QSize& claimed) {
  ByteStream in(file);
  if (in.Next() != 0xFF || in.Next() != 0xD8) return FileCheck::kCorrupt;
  std::int64_t blocks = 0;
  QSize header;
  int marker = -1;  // a marker already read while skipping scan data
  for (;;) {
    if (marker < 0) {
      const int b = in.Next();
      if (b < 0) return FileCheck::kCutOff;
      if (b != 0xFF) return FileCheck::kCorrupt;
      do {
        marker = in.Next();
      } while (marker == 0xFF);  // fill bytes
      if (marker < 0) return FileCheck::kCutOff;
    }
    const int m = marker;
    marker = -1;
    if (m == 0xD9) break;  // end of image
    if (m == 0x01 || (m >= 0xD0 && m <= 0xD7)) continue;
    const std::int64_t length = in.Number(2);
    if (length < 0) return FileCheck::kCutOff;
    if (length < 2) return FileCheck::kCorrupt;
    const bool frame = m >= 0xC0 && m <= 0xCF && m != 0xC4 && m != 0xC8 && m != 0xCC;
    if (frame && length >= 8) {
      in.Number(1);  // sample precision
      const std::int64_t height = in.Number(2);
      const std::int64_t width = in.Number(2);
      if (width < 0 || height < 0) return FileCheck::kCutOff;
      header = QSize(static_cast<int>(width), static_cast<int>(height));
      const bool arithmetic = m >= 0xC9;
      if (!arithmetic) blocks = ((width + 7) / 8) * ((height + 7) / 8);
      if (!in.Skip(length - 7)) return FileCheck::kCutOff;
      continue;
    }
    if (!in.Skip(length - 2)) return FileCheck::kCutOff;
    if (m != 0xDA) continue;
    claimed = header;  // a scan begins: the header is complete, its size known
    // Entropy-coded data runs to the next marker that is neither a
    // stuffed zero nor a restart marker.
    for (;;) {
      int b = in.Next();
      if (b < 0) return FileCheck::kCutOff;
      if (b != 0xFF) continue;
      do {
        b = in.Next();
      } while (b == 0xFF);
      if (b < 0) return FileCheck::kCutOff;
      if (b == 0 || (b >= 0xD0 && b <= 0xD7)) continue;
      marker = b;
      break;
    }
  }
  if (file.size() * 8 < blocks) return FileCheck::kTooShort;
  return FileCheck::kFine;
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
// Run-length data can skip whole rows, so it has no size to check.
FileCheck CheckBmp(QFile& file) {
  constexpr int kFileHeader = 14;
  const qint64 size = file.size();
  const QByteArray header = file.read(kFileHeader + 20);
  if (header.size() < kFileHeader + 4) return FileCheck::kCutOff;
  const std::uint32_t offset = LittleEndian32(header, 10);
  const std::uint32_t infoSize = LittleEndian32(header, kFileHeader);
  std::int64_t width = 0;
  std::int64_t height = 0;
  std::uint32_t bits = 0;
  std::uint32_t compression = 0;
  if (infoSize == 12) {
    if (header.size() < kFileHeader + 12) return FileCheck::kCutOff;
    width = LittleEndian16(header, 18);
    height = LittleEndian16(header, 20);
    bits = LittleEndian16(header, 24);
  } else if (infoSize >= 16) {
    if (header.size() < kFileHeader + (infoSize >= 20 ? 20 : 16)) return FileCheck::kCutOff;
    width = static_cast<std::int32_t>(LittleEndian32(header, 18));
    height = static_cast<std::int32_t>(LittleEndian32(header, 22));
    bits = LittleEndian16(header, 28);
    if (infoSize >= 20) compression = LittleEndian32(header, 30);
  } else {
    return FileCheck::kFine;  // an unknown layout: the decoder decides
  }
  if (compression != 0 && compression != 3) return FileCheck::kFine;
  // Sizes beyond the load limit or odd sample sizes are the decoder's to
  // refuse; below them the sums cannot overflow.
  if (std::abs(width) * std::abs(height) > kMaxLoadPixels || bits > 64) return FileCheck::kFine;
  const std::int64_t rowBytes = (static_cast<std::int64_t>(bits) * std::abs(width) + 31) / 32 * 4;
  return offset + rowBytes * std::abs(height) > size ? FileCheck::kCutOff : FileCheck::kFine;
}

// The check for the format, on a file of its own so the reader's position
// is not disturbed. claimed is the size a complete header names, where
// the file gets as far as its pixel data.
FileCheck CheckFile(const QString& name, const QByteArray& format, QSize& claimed) {
  QFile file(name);
  if (!file.open(QIODevice::ReadOnly)) return FileCheck::kFine;  // the decoder reports it
  if (format == "png") return CheckPng(file, claimed);
  if (format == "jpeg" || format == "jpg") return CheckJpeg(file, claimed);
  if (format == "bmp") return CheckBmp(file);
  return FileCheck::kFine;
}

// libjpeg's warnings reach Qt's message handler, which is swapped in only
// while one JPEG is read. libjpeg shows only the first warning of a
// decoder, so any warning counts except the few that leave the pixels
// intact; a cut-off file behind such a warning is caught by CheckJpeg.
thread_local bool t_jpegWarned = false;
QtMessageHandler t_previousHandler = nullptr;

void CatchJpegWarning(QtMsgType type, const QMessageLogContext& context, const QString& message) {
  if (context.category != nullptr && std::strcmp(context.category, "qt.gui.imageio.jpeg") == 0) {
    const bool harmless = message.contains(QLatin1String("JFIF revision")) ||
                          message.contains(QLatin1String("ICC")) || message.contains(QLatin1String("Adobe"));
    if (!harmless) t_jpegWarned = true;
    return;
  }
  if (t_previousHandler != nullptr) t_previousHandler(type, context, message);
}

// Holds the JPEG warning handler for one read.
class JpegWarningCatcher {
 public:
  explicit JpegWarningCatcher(bool active) : m_active(active) {
    if (!m_active) return;
    t_jpegWarned = false;
    t_previousHandler = qInstallMessageHandler(CatchJpegWarning);
  }
  ~JpegWarningCatcher() {
    if (m_active) qInstallMessageHandler(t_previousHandler);
  }
  JpegWarningCatcher(const JpegWarningCatcher&) = delete;
  JpegWarningCatcher& operator=(const JpegWarningCatcher&) = delete;
  bool Warned() const { return m_active && t_jpegWarned; }

 private:
  bool m_active;
};

// Qt draws the text of a drawing through its font database, which exists
// only with a QGuiApplication (without one, Qt aborts the process). The
// window has one; for the renderer and the tests one is made on first need,
// off screen, and kept for the life of the process.
void EnsureFontsForDrawing() {
  if (QCoreApplication::instance() != nullptr) return;  // the window's, or the host's
  static int argc = 3;
  static char name[] = "pictovance";
  static char option[] = "-platform";
  static char platform[] = "offscreen";
  static char* argv[] = {name, option, platform, nullptr};
  static QGuiApplication* application = new QGuiApplication(argc, argv);
  (void)application;
}

bool TooLarge(const QSize& size) {
  return static_cast<std::int64_t>(size.width()) * size.height() > kMaxLoadPixels;
}

std::string SizeText(const QSize& size) {
  return std::to_string(size.width()) + " x " + std::to_string(size.height());
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

}  // namespace

// --- Files ------------------------------------------------------------------

void Image::LoadBitmap(const std::string& path) { LoadBitmap(path, 0, 0); }

void Image::LoadBitmap(const std::string& path, int drawWidth, int drawHeight) {
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
  const QByteArray format = reader.format();
  const bool jpeg = format == "jpeg" || format == "jpg";
  // From the first look at the header on: libjpeg counts its warnings per
  // decoder, and Qt keeps the decoder that read the header.
  JpegWarningCatcher warnings(jpeg);
  // Before the decoder reads a header: libpng reserves a chunk's claimed
  // length as it meets the chunk.
  QSize claimed;
  const FileCheck check = CheckFile(name, format, claimed);
  if (TooLarge(claimed)) {
    throw ImageError(kErrorTooLarge, "Picture too large (" + SizeText(claimed) + "): " + path);
  }
  if (check == FileCheck::kCutOff) {
    throw ImageError(kErrorDecodeFailed, "Cannot decode " + path + ": the file is cut off");
  }
  if (check == FileCheck::kCorrupt) {
    throw ImageError(kErrorDecodeFailed, "Cannot decode " + path + ": the file is corrupt");
  }
  if (check == FileCheck::kTooShort) {
    throw ImageError(kErrorDecodeFailed,
                     "Cannot decode " + path + ": the file is too short for the size it claims");
  }
  if (!reader.canRead()) {
    throw ImageError(kErrorNotAnImage, "Not a picture in a known format: " + path);
  }
  QSize size = reader.size();
  const bool drawn = format == "svg" || format == "svgz";
  if (drawn) {
    // A drawing has no pixels of its own: it is drawn at the size asked
    // for, or at the size it names.
    if (drawWidth > 0 && drawHeight > 0) size = QSize(drawWidth, drawHeight);
    if (size.isEmpty())
      throw ImageError(kErrorDecodeFailed, "Cannot decode " + path + ": the drawing has no size");
  }
  if (size.isValid() && TooLarge(size)) {
    throw ImageError(kErrorTooLarge, "Picture too large (" + SizeText(size) + "): " + path);
  }
  if (drawn) {
    EnsureFontsForDrawing();
    reader.setScaledSize(size);
  }
  // Qt refuses to decode beyond its allocation limit; raise it to ours.
  QImageReader::setAllocationLimit(static_cast<int>(kMaxLoadPixels * 4 / (1024 * 1024)) + 64);
  QImage image = reader.read();
  if (warnings.Warned())
    throw ImageError(kErrorDecodeFailed, "Cannot decode " + path + ": the file is corrupt");
  if (image.isNull()) {
    throw ImageError(kErrorDecodeFailed, "Cannot decode " + path + ": " + reader.errorString().toStdString());
  }
  if (TooLarge(image.size())) throw ImageError(kErrorTooLarge, "Picture too large: " + path);

  QImage result;
  if (image.format() == QImage::Format_Indexed8 && !image.hasAlphaChannel()) {
    result = std::move(image);
  } else if (image.hasAlphaChannel()) {
    result = OverWhite(std::move(image));
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

// The bytes of the file the bitmap makes in a save format: the PNG
// encoder's, or a Qt image writer's for the other formats.
struct EncodedFile {
  std::vector<unsigned char> png;
  QByteArray other;
  const char* Data() const { return png.empty() ? other.constData() : reinterpret_cast<const char*>(png.data()); }
  std::size_t Size() const { return png.empty() ? static_cast<std::size_t>(other.size()) : png.size(); }
};

// error, told about the file the caller asked for rather than the folder.
ImageError NamingTheFile(const ImageError& error, const std::string& target) {
  if (error.SystemError() == 0) return error;
  return ImageError(kErrorWriteFailed, "Cannot write " + target + ": " + std::strerror(error.SystemError()),
                    error.SystemError());
}

EncodedFile Encode(const QImage& image, const SaveFormatInfo& info, int pngCompression, const TextEntries& texts,
                   const std::string& target) {
  if (image.isNull()) throw ImageError(kErrorWriteFailed, "No picture to save");
  EncodedFile file;
  if (std::string_view(info.format) == "png") {
    file.png = EncodePng(image, pngCompression, texts);
    return file;
  }
  QBuffer buffer(&file.other);
  buffer.open(QIODevice::WriteOnly);
  QImage tagged = image;  // the texts ride on a shallow copy
  for (const auto& [key, value] : texts) tagged.setText(QString::fromUtf8(key), QString::fromUtf8(value));
  QImageWriter writer(&buffer, info.format);
  if (!writer.write(tagged)) {
    throw ImageError(kErrorWriteFailed, "Cannot write " + target + ": " + writer.errorString().toStdString());
  }
  buffer.close();
  return file;
}

}  // namespace

void Image::SaveBitmap(const std::string& path) const {
  const SaveFormatInfo info = SaveFormatOf(m_saveFormat);
  std::filesystem::path target(path);
  if (!target.has_extension()) target += info.extension;
  const EncodedFile bytes = Encode(m_bitmap->image, info, m_pngCompression, m_texts, target.string());
  try {
    // Replacing a file needs a name to rename from: the hidden, locked one.
    NewFile file(target.parent_path(), bytes.Data(), bytes.Size(), NewFile::Way::kHiddenTemporary);
    file.ReplaceAs(target.filename().string());
  } catch (const ImageError& error) {
    throw NamingTheFile(error, target.string());
  }
}

NewFile Image::SaveBitmapUnnamed(const std::string& folder) const {
  const SaveFormatInfo info = SaveFormatOf(m_saveFormat);
  const EncodedFile bytes = Encode(m_bitmap->image, info, m_pngCompression, m_texts, folder);
  return NewFile(folder, bytes.Data(), bytes.Size());
}

std::string Image::SaveExtension() const { return SaveFormatOf(m_saveFormat).extension; }

void LoadImageFormats() {
  // Asking for the formats makes Qt create every plugin's instance.
  QImageReader::supportedImageFormats();
  QImageWriter::supportedImageFormats();
}

}  // namespace pictovance
