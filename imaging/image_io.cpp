// Writing an image's bitmap to files.

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
#include "imaging/png_encoder.h"

namespace pictovance {

// --- Files ------------------------------------------------------------------

// Reading lives in imaging/load_picture.cpp.

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

[[noreturn]] void ThrowWriteFailed(const std::string& target, int error) {
  throw ImageError(kErrorWriteFailed, "Cannot write " + target + ": " + std::strerror(error), error);
}

// Puts bytes at target completely or not at all: they go to a new file
// beside it, which is flushed to the disk and then renamed over target. A
// full disk shows up at write, fsync or close, depending on the file
// system; every one is checked, and the new file is removed on failure.
void WriteFileAtomically(const std::string& target, const char* data, std::size_t size) {
  const std::filesystem::path path(target);
  std::string temp = (path.parent_path() / ("." + path.filename().string() + ".XXXXXX")).string();
  const int fd = ::mkstemp(temp.data());
  if (fd < 0) ThrowWriteFailed(target, errno);
  int error = 0;
  std::size_t left = size;
  while (left > 0 && error == 0) {
    const ssize_t written = ::write(fd, data, left);
    if (written < 0) {
      if (errno != EINTR) error = errno;
    } else {
      data += written;
      left -= static_cast<std::size_t>(written);
    }
  }
  // mkstemp makes the file private; a saved picture is for everyone to read.
  if (error == 0 && ::fchmod(fd, 0644) != 0) error = errno;
  if (error == 0 && ::fsync(fd) != 0) error = errno;
  if (::close(fd) != 0 && error == 0) error = errno;
  if (error == 0 && ::rename(temp.c_str(), target.c_str()) != 0) error = errno;
  if (error != 0) {
    ::unlink(temp.c_str());
    ThrowWriteFailed(target, error);
  }
}

}  // namespace

void Image::SaveBitmap(const std::string& path) const {
  const QImage& image = m_bitmap->image;
  if (image.isNull()) throw ImageError(kErrorWriteFailed, "No picture to save");
  const SaveFormatInfo info = SaveFormatOf(m_saveFormat);
  std::string target = path;
  if (!std::filesystem::path(path).has_extension()) target += info.extension;

  QByteArray bytes;
  if (std::string_view(info.format) == "png") {
    const std::vector<unsigned char> encoded = EncodePng(image, m_pngCompression, m_texts);
    WriteFileAtomically(target, reinterpret_cast<const char*>(encoded.data()), encoded.size());
    return;
  }
  QBuffer buffer(&bytes);
  buffer.open(QIODevice::WriteOnly);
  QImage tagged = image;  // the texts ride on a shallow copy
  for (const auto& [key, value] : m_texts) tagged.setText(QString::fromUtf8(key), QString::fromUtf8(value));
  QImageWriter writer(&buffer, info.format);
  if (!writer.write(tagged)) {
    throw ImageError(kErrorWriteFailed, "Cannot write " + target + ": " + writer.errorString().toStdString());
  }
  buffer.close();
  WriteFileAtomically(target, bytes.constData(), static_cast<std::size_t>(bytes.size()));
}

void LoadImageFormats() {
  // Asking for the formats makes Qt create every plugin's instance.
  QImageReader::supportedImageFormats();
  QImageWriter::supportedImageFormats();
}

}  // namespace pictovance
